#include "greetings/core/GreetingRun.h"

#include "common/core/AddressList.h"
#include "common/core/Prompter.h"
#include "hostmail/HostError.h"
#include "hostmail/model/ContactItem.h"
#include "hostmail/model/HostEnums.h"
#include "hostmail/model/MailItem.h"
#include "hostmail/store/WriteBatch.h"
#include "templates/core/ImageSources.h"

namespace greetings {

using hostmail::HostError;

namespace {

// The template's image files to attach, once per run: consecutive repeats
// once, and only files that are pictures.
QStringList templateImages(const templates::TemplateDocument &doc)
{
    QStringList paths = attachmentPaths(imageAttachmentList(doc.imageSources), QString());
    paths.removeIf([](const QString &path) { return !templates::isImageFile(path); });
    return paths;
}

} // namespace

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

int GreetingRun::run(const GreetingSettings &settings, const templates::TemplateDocument &birthdayTemplate,
                     const templates::TemplateDocument &anniversaryTemplate, const QDate &today)
{
    m_value = 0;
    m_today = today;
    m_queuedForLater = false;
    if (m_progress)
        m_progress(0);
    const SendWindow window = sendWindow(today, settings.sendBetweenDates, settings.fromDate, settings.toDate);
    const QStringList birthdayImages = templateImages(birthdayTemplate);
    const QStringList anniversaryImages = templateImages(anniversaryTemplate);

    if (!m_prompter.askYesNo(common::kAppTitle, kConfirmText))
        return 0;
    if (settings.helpNeeded) {
        m_prompter.tell(common::kAppTitle, kAdviceOne, common::MessageIcon::Information);
        m_prompter.tell(common::kAppTitle, kAdviceTwo, common::MessageIcon::Information);
    }

    int made = 0;
    std::unique_ptr<hostmail::Application> app;
    hostmail::Items items;
    try {
        app = m_openHost();
        items = app->GetNamespace(QStringLiteral("MAPI")).GetDefaultFolder(hostmail::olFolderContacts).items();
    } catch (const HostError &) {
        // No host: the walk finds no items.
    }
    const int runYear = today.year();
    const Pass passes[] = {
        {OccasionKind::Birthday, &settings.birthday, &birthdayTemplate.html, &birthdayImages},
        {OccasionKind::Anniversary, &settings.anniversary, &anniversaryTemplate.html, &anniversaryImages},
    };
    hostmail::WriteBatch batch; // the messages reach the disk together
    for (const auto &item : items) {
        const auto *contact = dynamic_cast<const hostmail::ContactItem *>(item.get());
        if (!contact)
            continue; // a distribution list has no occasions
        for (const Pass &pass : passes) {
            if (deliver(*app, *contact, pass, settings, runYear, window))
                ++made;
        }
    }
    try {
        batch.flush();
    } catch (const HostError &) {
        // a greeting the disk refused is skipped like any failed step
    }
    if (m_progress)
        m_progress(100);
    m_prompter.tell(common::kAppTitle, kDoneText, common::MessageIcon::Information);
    return made;
}

bool GreetingRun::deliver(const hostmail::Application &app, const hostmail::ContactItem &contact, const Pass &pass,
                          const GreetingSettings &settings, int runYear, const SendWindow &window)
{
    const QDate contactDate = pass.kind == OccasionKind::Birthday ? contact.Birthday() : contact.Anniversary();
    const std::optional<Occasion> occasion = occasionTest(contactDate, runYear, window);
    if (!occasion)
        return false;
    const std::optional<QString> to =
        common::addressList(contact.Email1Address(), contact.Email2Address(), contact.Email3Address());
    if (!to)
        return false;
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
    } catch (const HostError &) {
        return false; // the rest of this greeting is skipped
    }
    mail->setTo(*to);
    mail->setCC(settings.cc);
    mail->setBCC(settings.bcc);
    mail->setSubject(subjectLine(s, occasion->text));
    mail->setBodyFormat(hostmail::olFormatHTML);
    mail->setHTMLBody(body);
    QStringList paths = *pass.images;
    if (!s.attachmentPath.isEmpty())
        paths.append(s.attachmentPath);
    for (const QString &path : paths) {
        try {
            mail->attachments().Add(path);
        } catch (const HostError &) {
        }
    }
    const QDate delivery = deliveryDate(contactDate, runYear, settings.dayPrior);
    mail->setDeferredDeliveryTime(QDateTime(delivery, QTime(0, 0)));
    try {
        if (settings.saveDraft) {
            mail->Save();
        } else {
            mail->Send();
            m_queuedForLater = m_queuedForLater || delivery > m_today;
        }
    } catch (const HostError &) {
    }
    advance();
    return true;
}

} // namespace greetings
