#include "bulkmail/core/BulkRun.h"

#include "bulkmail/core/Recipients.h"
#include "common/core/AddressList.h"
#include "common/core/Prompter.h"
#include "hostmail/HostError.h"
#include "hostmail/model/ContactItem.h"
#include "hostmail/model/DistributionLists.h"
#include "hostmail/model/Folder.h"
#include "hostmail/model/HostEnums.h"
#include "hostmail/model/MailItem.h"
#include "templates/core/BodyText.h"
#include "templates/core/ImageSources.h"

namespace bulkmail {

using hostmail::HostError;

BulkRun::BulkRun(hostmail::ApplicationFactory openHost, common::Prompter &prompter)
    : m_openHost(std::move(openHost)), m_prompter(prompter)
{
}

QString noSuchListText(const QString &name)
{
    return QStringLiteral("There is no distribution list named \"%1\" in your contacts: there is nobody to send to.")
        .arg(name);
}

QString emptyListText(const QString &name)
{
    return QStringLiteral("The distribution list \"%1\" has no member with an e-mail address: there is nobody to "
                          "send to.")
        .arg(name);
}

QString emptyCategoryText(const QString &category)
{
    return QStringLiteral("No contact is in the category \"%1\": there is nobody to send to.").arg(category);
}

QString defaultSubjectQuestion(const QString &subject)
{
    if (subject.trimmed().isEmpty())
        return QStringLiteral("The subject is empty.\rSend the messages without a subject?");
    return QStringLiteral("The subject is still \"%1\".\rSend the messages with this subject?").arg(subject);
}

QString emptyBodyQuestion()
{
    return QStringLiteral("The message is empty: it holds no text and no picture.\rSend it anyway?");
}

QString bulkLeftOutQuestion(const QString &path, const QString &problem)
{
    return QStringLiteral("%1 cannot be included (%2).\rSend the messages without it?").arg(path, problem);
}

hostmail::ContactFilter BulkRun::recipientFilter(const BulkSettings &s)
{
    // A category run keeps only its members; a list needs every contact to
    // find the members it names by UID.
    if (s.mode != RecipientMode::Category)
        return {};
    return [category = s.category](const hostmail::ContactData &c) { return categoryMatches(c.categories, category); };
}

std::optional<QString> BulkRun::recipientsRefusal(const BulkSettings &s) const
{
    // A list or category that reaches nobody among the contacts here is
    // refused before any question; the run checks again after the sync.
    if (s.mode == RecipientMode::AllContacts)
        return std::nullopt;
    hostmail::Items items;
    try {
        const std::unique_ptr<hostmail::Application> app = m_openHost();
        items = app->GetNamespace(QStringLiteral("MAPI"))
                    .GetDefaultFolder(hostmail::olFolderContacts)
                    .items(recipientFilter(s));
    } catch (const HostError &) {
        return std::nullopt; // the run itself says why the contacts cannot be read
    }
    if (items.contactsRead() == 0 && items.Count() == 0)
        return std::nullopt; // nothing here yet: the sync may bring them
    if (s.mode == RecipientMode::DistributionList) {
        const hostmail::DistributionLists lists(items);
        if (!lists.contains(s.distList))
            return noSuchListText(s.distList);
        if (lists.members(s.distList).addresses.isEmpty())
            return emptyListText(s.distList);
        return std::nullopt;
    }
    for (const auto &item : items)
        if (const auto *contact = dynamic_cast<const hostmail::ContactItem *>(item.get());
            contact && categoryMatches(contact->Categories(), s.category))
            return std::nullopt;
    return emptyCategoryText(s.category);
}

bool BulkRun::confirmContent(const BulkSettings &s, const templates::TemplateDocument &bulkTemplate, QStringList &paths)
{
    const QString untouched = BulkSettings().subject;
    if ((s.subject.trimmed().isEmpty() || s.subject == untouched) &&
        !m_prompter.askYesNo(common::kAppTitle, defaultSubjectQuestion(s.subject)))
        return false;
    if (templates::showsNothing(bulkTemplate.html) && !m_prompter.askYesNo(common::kAppTitle, emptyBodyQuestion()))
        return false;
    const std::optional<QStringList> usable =
        hostmail::usableAttachments(paths, [&](const QString &path, const QString &problem) {
            if (!m_prompter.askYesNo(common::kAppTitle, bulkLeftOutQuestion(path, problem)))
                return false;
            m_report.note(QStringLiteral("Left out of the messages: %1 (%2).").arg(path, problem));
            return true;
        });
    if (!usable)
        return false;
    paths = *usable;
    return true;
}

int BulkRun::run(const BulkSettings &s, const templates::TemplateDocument &bulkTemplate, const QDate &today)
{
    m_today = today;
    m_queuedForLater = false;
    m_report = common::RunReport(QStringLiteral("message"), QStringLiteral("messages"));
    if (const auto refusal = modeRefusal(s)) {
        m_prompter.tell(common::kAppTitle, *refusal, common::MessageIcon::Critical);
        return 0;
    }
    if (const auto refusal = recipientsRefusal(s)) {
        m_prompter.tell(common::kAppTitle, *refusal, common::MessageIcon::Critical);
        return 0;
    }
    if (!m_prompter.askYesNo(common::kAppTitle, kBulkConfirmText))
        return 0;
    // The template's pictures, each image as often as it is shown; the list
    // is fixed for the run.
    const templates::TemplateFiles files = templates::templateFiles(bulkTemplate.html);
    QStringList paths = templates::attachedPictures(files.images, files);
    if (!s.attachmentPath.isEmpty())
        paths.append(s.attachmentPath);
    if (!confirmContent(s, bulkTemplate, paths))
        return 0;
    for (const QString &file : files.leftOut)
        m_report.note(QStringLiteral("Left out of the messages: %1, a local file that is never mailed.").arg(file));

    std::unique_ptr<hostmail::Application> app;
    hostmail::Items items;
    QString whyNothing;
    QString folder;
    bool trouble = false; // the contacts or the disk failed
    if (beforeOpening && !beforeOpening())
        return 0;
    try {
        app = m_openHost();
        const hostmail::Folder contacts =
            app->GetNamespace(QStringLiteral("MAPI")).GetDefaultFolder(hostmail::olFolderContacts);
        folder = contacts.path();
        if (s.mode != RecipientMode::AllContacts || m_prompter.askYesNo(common::kAppTitle, kAllContactsText))
            items = contacts.items(recipientFilter(s));
        else
            whyNothing = QStringLiteral("sending to all contacts was not confirmed");
    } catch (const HostError &e) {
        whyNothing = hostmail::noContactsReason(app != nullptr, e);
        trouble = true;
    }
    if (hostmail::reportSkippedFiles(items, m_report) > 0)
        trouble = true;

    {
        if (app)
            app->startBatch(); // the messages reach the disk together
        if (app && whyNothing.isEmpty() && s.mode == RecipientMode::DistributionList) {
            const hostmail::DistributionLists lists(items);
            if (!lists.contains(s.distList)) {
                m_prompter.tell(common::kAppTitle, noSuchListText(s.distList), common::MessageIcon::Critical);
                return 0;
            }
            const hostmail::mime::ListMembers members = lists.members(s.distList);
            if (members.addresses.isEmpty()) {
                m_prompter.tell(common::kAppTitle, emptyListText(s.distList), common::MessageIcon::Critical);
                return 0;
            }
            // A queued message names the list, expanded at delivery; a draft
            // carries the members, so that it works in any mail client.
            QString to = s.bcc ? QString() : s.distList;
            QString bcc = s.bcc ? s.distList : QString();
            if (s.saveDraft) {
                const QString addresses = members.addresses.join(QLatin1String("; "));
                to = s.bcc || members.hidden ? QString() : addresses;
                bcc = s.bcc || members.hidden ? addresses : QString();
            }
            compose(*app, s, to, bcc, bulkTemplate.html, paths);
        } else if (app && whyNothing.isEmpty()) {
            int matched = 0;
            bool toldNoSalutation = false;
            for (const auto &item : items) {
                const auto *contact = dynamic_cast<const hostmail::ContactItem *>(item.get());
                if (!contact)
                    continue; // no fields, so no address
                if (s.mode == RecipientMode::Category && !categoryMatches(contact->Categories(), s.category))
                    continue;
                ++matched;
                const auto to =
                    common::addressList(contact->Email1Address(), contact->Email2Address(), contact->Email3Address());
                if (!to) {
                    m_report.skipped(QStringLiteral("no e-mail address"), contact->displayName());
                    continue;
                }
                if (!toldNoSalutation && !templates::hasBodyText(bulkTemplate.html)) {
                    m_report.note(templates::noSalutationNote(QStringLiteral("messages")));
                    toldNoSalutation = true;
                }
                // The first name is escaped where it enters the HTML body.
                const QString body = templates::insertAfterBodyTag(
                    bulkTemplate.html, bulkSalutation(s, contact->FirstName().toHtmlEscaped()));
                compose(*app, s, s.bcc ? QString() : *to, s.bcc ? *to : QString(), body, paths);
            }
            if (matched == 0 && s.mode == RecipientMode::Category) {
                m_prompter.tell(common::kAppTitle, emptyCategoryText(s.category), common::MessageIcon::Critical);
                return 0;
            }
            if (matched == 0)
                whyNothing = QStringLiteral("no contacts found in %1").arg(folder);
        }
        try {
            if (app)
                app->finishBatch();
        } catch (const HostError &e) {
            m_report.refused(e.files(), e.reason()); // composed, but the disk refused them
        }
    }
    m_report.settleWritten();
    if (m_report.madeCount() == 0)
        m_queuedForLater = false;
    if (whyNothing.isEmpty())
        whyNothing = QStringLiteral("no message could be made");
    trouble = trouble || m_report.notSavedCount() > 0;
    m_prompter.tell(common::kAppTitle, m_report.message(kBulkDoneText, whyNothing),
                    trouble ? common::MessageIcon::Exclamation : common::MessageIcon::Information);
    return m_report.madeCount();
}

void BulkRun::compose(const hostmail::Application &app, const BulkSettings &s, const QString &to, const QString &bcc,
                      const QString &body, const QStringList &paths)
{
    std::unique_ptr<hostmail::MailItem> mail;
    try {
        mail = app.CreateMailItem();
    } catch (const HostError &e) {
        m_report.notSaved(e.reason());
        return;
    }
    mail->setTo(to);
    mail->setBCC(bcc);
    mail->setCC(s.cc);
    mail->setSubject(s.subject);
    mail->setBodyFormat(hostmail::olFormatHTML);
    mail->setHTMLBody(body);
    for (const QString &path : paths) {
        try {
            mail->attachments().Add(path);
        } catch (const HostError &e) {
            m_report.note(QString::fromUtf8(e.what()) + QLatin1Char('.'));
        }
    }
    mail->setDeferredDeliveryTime(QDateTime(s.sendMailOn, QTime(0, 0)));
    try {
        if (s.saveDraft) {
            m_report.written(mail->Save(), common::RunReport::draftsPlace(app.paths().drafts()));
        } else {
            m_report.written(mail->Send(), common::RunReport::outboxPlace(app.paths().outbox(), s.sendMailOn, m_today));
            m_queuedForLater = m_queuedForLater || s.sendMailOn > m_today;
        }
    } catch (const HostError &e) {
        m_report.notSaved(e.reason());
    }
}

} // namespace bulkmail
