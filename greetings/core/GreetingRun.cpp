#include "greetings/core/GreetingRun.h"

#include "common/core/AddressList.h"
#include "common/core/Prompter.h"
#include "common/core/ShortDate.h"
#include "hostmail/HostError.h"
#include "hostmail/model/ContactItem.h"
#include "hostmail/model/Folder.h"
#include "hostmail/model/HostEnums.h"
#include "hostmail/model/MailItem.h"
#include "templates/core/BodyText.h"
#include "templates/core/ImageSources.h"

#include <algorithm>
#include <utility>

namespace greetings {

using hostmail::HostError;

GreetingRun::GreetingRun(hostmail::ApplicationFactory openHost, common::Prompter &prompter, Progress progress)
    : m_openHost(std::move(openHost)), m_prompter(prompter), m_progress(std::move(progress))
{
}

void GreetingRun::advance()
{
    m_value = qMin(m_value + 5, 60);
    if (m_progress)
        m_progress(m_value);
}

QString emptyTemplateQuestion(OccasionKind kind, int greetings)
{
    return QStringLiteral("The %1 template is empty: %2 would hold only the salutation.\r"
                          "Make them anyway?")
        .arg(kind == OccasionKind::Birthday ? QStringLiteral("birthday") : QStringLiteral("anniversary"),
             greetings == 1 ? QStringLiteral("1 greeting") : QStringLiteral("%1 greetings").arg(greetings));
}

QString leftOutQuestion(const QString &path, const QString &problem)
{
    return QStringLiteral("%1 cannot be included (%2).\rMake the greetings without it?").arg(path, problem);
}

int GreetingRun::run(const GreetingSettings &settings, const templates::TemplateDocument &birthdayTemplate,
                     const templates::TemplateDocument &anniversaryTemplate, const QDate &today)
{
    m_value = 0;
    m_today = today;
    m_queuedForLater = false;
    m_report = common::RunReport(QStringLiteral("greeting"), QStringLiteral("greetings"));
    if (m_progress)
        m_progress(0);
    const SendWindow window = sendWindow(today, settings.sendBetweenDates, settings.fromDate, settings.toDate);
    Pass passes[] = {
        {OccasionKind::Birthday, &settings.birthday, &birthdayTemplate.html, {}},
        {OccasionKind::Anniversary, &settings.anniversary, &anniversaryTemplate.html, {}},
    };
    QStringList leftOut[2]; // per pass: local files the template names that never leave
    for (Pass &pass : passes) {
        // The template's pictures, once per run: consecutive repeats once.
        const templates::TemplateFiles files = templates::templateFiles(*pass.html);
        pass.paths = templates::attachedPictures(attachmentPaths(files.images, QString()), files);
        leftOut[&pass - passes] = files.leftOut;
        if (!pass.settings->attachmentPath.isEmpty())
            pass.paths.append(pass.settings->attachmentPath);
    }

    if (!m_prompter.askYesNo(common::kAppTitle, kConfirmText))
        return 0;
    if (settings.helpNeeded) {
        m_prompter.tell(common::kAppTitle, kAdviceOne, common::MessageIcon::Information);
        m_prompter.tell(common::kAppTitle, kAdviceTwo, common::MessageIcon::Information);
    }

    std::unique_ptr<hostmail::Application> app;
    hostmail::Items items;
    QString folder;
    QString whyNothing;
    bool trouble = false; // the contacts or the disk failed
    if (beforeOpening && !beforeOpening())
        return 0;
    try {
        app = m_openHost();
        const hostmail::Folder contacts =
            app->GetNamespace(QStringLiteral("MAPI")).GetDefaultFolder(hostmail::olFolderContacts);
        folder = contacts.path();
        // Only the contacts with an occasion in the window are kept.
        const int year = today.year();
        items = contacts.items([&](const hostmail::ContactData &c) {
            return occasionTest(c.birthday.date, year, window) || occasionTest(c.anniversary.date, year, window);
        });
    } catch (const HostError &e) {
        whyNothing = hostmail::noContactsReason(app != nullptr, e);
        trouble = true;
    }
    if (hostmail::reportSkippedFiles(items, m_report) > 0)
        trouble = true;

    // Which greetings the window holds, in the host's order, birthday first.
    const int runYear = today.year();
    QList<Greeting> greetings;
    const int contactCount = items.contactsRead();
    for (const auto &item : items) {
        const auto *contact = dynamic_cast<const hostmail::ContactItem *>(item.get());
        if (!contact)
            continue;         // a distribution list has no occasions
        bool skipped = false; // a contact is named once, whatever its occasions
        for (Pass &pass : passes) {
            const QDate contactDate =
                pass.kind == OccasionKind::Birthday ? contact->Birthday() : contact->Anniversary();
            const std::optional<Occasion> occasion = occasionTest(contactDate, runYear, window);
            if (!occasion)
                continue;
            const std::optional<QString> to =
                common::addressList(contact->Email1Address(), contact->Email2Address(), contact->Email3Address());
            if (!to) {
                if (!std::exchange(skipped, true))
                    m_report.skipped(QStringLiteral("no e-mail address"), contact->displayName());
                continue;
            }
            greetings.append({contact, &pass, contactDate, *occasion, *to});
        }
    }
    if (whyNothing.isEmpty() && contactCount == 0)
        whyNothing = QStringLiteral("no contacts found in %1").arg(folder);
    if (whyNothing.isEmpty() && greetings.isEmpty() && m_report.skippedCount() == 0)
        whyNothing = QStringLiteral("no birthday or anniversary between %1 and %2")
                         .arg(common::dateText(window.start), common::dateText(window.end));

    // Mail that is plainly not what the user meant is made only on Yes.
    for (Pass &pass : passes) {
        const auto count =
            std::count_if(greetings.cbegin(), greetings.cend(), [&](const Greeting &g) { return g.pass == &pass; });
        if (count == 0)
            continue;
        if (templates::showsNothing(*pass.html) &&
            !m_prompter.askYesNo(common::kAppTitle, emptyTemplateQuestion(pass.kind, int(count))))
            return 0;
        const QString kind =
            pass.kind == OccasionKind::Birthday ? QStringLiteral("birthday") : QStringLiteral("anniversary");
        if (!templates::hasBodyText(*pass.html))
            m_report.note(templates::noSalutationNote(kind + QStringLiteral(" greetings")));
        for (const QString &file : std::as_const(leftOut[&pass - passes]))
            m_report.note(
                QStringLiteral("Left out of the %1 greetings: %2, a local file that is never mailed.").arg(kind, file));
        const std::optional<QStringList> usable =
            hostmail::usableAttachments(pass.paths, [&](const QString &path, const QString &problem) {
                if (!m_prompter.askYesNo(common::kAppTitle, leftOutQuestion(path, problem)))
                    return false;
                m_report.note(QStringLiteral("Left out of the %1 greetings: %2 (%3).").arg(kind, path, problem));
                return true;
            });
        if (!usable)
            return 0;
        pass.paths = *usable;
    }

    if (app) {
        app->startBatch(); // the messages reach the disk together
        for (const Greeting &g : std::as_const(greetings))
            deliver(*app, g, settings, runYear);
        try {
            app->finishBatch();
        } catch (const HostError &e) {
            m_report.refused(e.files(), e.reason()); // composed, but the disk refused them
        }
    }
    m_report.settleWritten();
    if (m_report.madeCount() == 0)
        m_queuedForLater = false;
    if (whyNothing.isEmpty())
        whyNothing = QStringLiteral("none of the birthdays and anniversaries between %1 and %2 could be greeted")
                         .arg(common::dateText(window.start), common::dateText(window.end));
    if (m_progress)
        m_progress(100);
    trouble = trouble || m_report.notSavedCount() > 0;
    m_prompter.tell(common::kAppTitle, m_report.message(kDoneText, whyNothing),
                    trouble ? common::MessageIcon::Exclamation : common::MessageIcon::Information);
    return m_report.madeCount();
}

void GreetingRun::deliver(const hostmail::Application &app, const Greeting &g, const GreetingSettings &settings,
                          int runYear)
{
    const hostmail::ContactItem &contact = *g.contact;
    const Pass &pass = *g.pass;
    const OccasionSettings &s = *pass.settings;
    // Values from the contact are escaped where they enter the HTML body.
    const QString salutation =
        salutationLine(pass.kind, s, contact.FirstName().toHtmlEscaped(),
                       pass.kind == OccasionKind::Anniversary ? contact.Spouse().toHtmlEscaped() : QString());
    const QString children =
        settings.children ? childrenLine(settings.childrenLead, contact.Children().toHtmlEscaped()) : QString();
    const QString body = composeBody(*pass.html, salutation, children);

    std::unique_ptr<hostmail::MailItem> mail;
    try {
        mail = app.CreateMailItem();
    } catch (const HostError &e) {
        m_report.notSaved(e.reason());
        return; // the rest of this greeting is skipped
    }
    mail->setTo(g.to);
    mail->setCC(settings.cc);
    mail->setBCC(settings.bcc);
    mail->setSubject(subjectLine(s, g.occasion.text));
    mail->setBodyFormat(hostmail::olFormatHTML);
    mail->setHTMLBody(body);
    for (const QString &path : pass.paths) {
        try {
            mail->attachments().Add(path);
        } catch (const HostError &e) {
            m_report.note(QString::fromUtf8(e.what()) + QLatin1Char('.'));
        }
    }
    const QDate delivery = deliveryDate(g.contactDate, runYear, settings.dayPrior);
    mail->setDeferredDeliveryTime(QDateTime(delivery, QTime(0, 0)));
    try {
        if (settings.saveDraft) {
            m_report.written(mail->Save(), common::RunReport::draftsPlace(app.paths().drafts()), delivery);
        } else {
            m_report.written(mail->Send(), common::RunReport::outboxPlace(app.paths().outbox(), delivery, m_today),
                             delivery);
            m_queuedForLater = m_queuedForLater || delivery > m_today;
        }
    } catch (const HostError &e) {
        m_report.notSaved(e.reason());
    }
    advance();
}

} // namespace greetings
