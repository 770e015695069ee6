#include "bulkmail/core/BulkRun.h"

#include "bulkmail/core/Recipients.h"
#include "common/core/AddressList.h"
#include "common/core/Clock.h"
#include "common/core/Prompter.h"
#include "hostmail/HostError.h"
#include "hostmail/model/ContactItem.h"
#include "hostmail/model/HostEnums.h"
#include "hostmail/model/MailItem.h"
#include "hostmail/store/WriteBatch.h"
#include "templates/core/BodyText.h"
#include "templates/core/ImageSources.h"

namespace bulkmail {

using hostmail::HostError;

BulkRun::BulkRun(hostmail::ApplicationFactory openHost, common::Prompter &prompter)
    : m_openHost(std::move(openHost)), m_prompter(prompter)
{
}

int BulkRun::run(const BulkSettings &s, const templates::TemplateDocument &bulkTemplate)
{
    m_made = 0;
    m_queuedForLater = false;
    if (const auto refusal = modeRefusal(s)) {
        m_prompter.tell(common::kAppTitle, *refusal, common::MessageIcon::Critical);
        return 0;
    }
    if (!m_prompter.askYesNo(common::kAppTitle, kBulkConfirmText))
        return 0;
    // Only pictures are attached from template images; the list is fixed for the run.
    QStringList images = bulkImagePaths(bulkImageList(bulkTemplate.imageSources));
    images.removeIf([](const QString &path) { return !templates::isImageFile(path); });

    std::unique_ptr<hostmail::Application> app;
    try {
        app = m_openHost();
    } catch (const HostError &) {
    }
    hostmail::WriteBatch batch; // the messages reach the disk together
    if (s.mode == RecipientMode::DistributionList) {
        if (app)
            compose(*app, s, s.distList, bulkTemplate.html, false, images);
    } else if (s.mode == RecipientMode::Category || m_prompter.askYesNo(common::kAppTitle, kAllContactsText)) {
        hostmail::Items items;
        try {
            if (app)
                items = app->GetNamespace(QStringLiteral("MAPI")).GetDefaultFolder(hostmail::olFolderContacts).items();
        } catch (const HostError &) {
        }
        for (const auto &item : items) {
            const auto *contact = dynamic_cast<const hostmail::ContactItem *>(item.get());
            if (!contact)
                continue; // no fields, so no address
            if (s.mode == RecipientMode::Category && !categoryMatches(contact->Categories(), s.category))
                continue;
            const auto to =
                common::addressList(contact->Email1Address(), contact->Email2Address(), contact->Email3Address());
            if (!to)
                continue;
            // The first name is escaped where it enters the HTML body.
            const QString body = templates::insertAfterBodyTag(bulkTemplate.html,
                                                               bulkSalutation(s, contact->FirstName().toHtmlEscaped()));
            compose(*app, s, *to, body, true, images);
        }
    }
    try {
        batch.flush();
    } catch (const HostError &e) {
        m_made -= static_cast<int>(e.files().size()); // handed over, but the disk refused them
    }
    m_prompter.tell(common::kAppTitle, kBulkDoneText, common::MessageIcon::Information);
    return m_made;
}

void BulkRun::compose(const hostmail::Application &app, const BulkSettings &s, const QString &recipients,
                      const QString &body, bool contactMode, const QStringList &images)
{
    std::unique_ptr<hostmail::MailItem> mail;
    try {
        mail = app.CreateMailItem();
    } catch (const HostError &) {
        return;
    }
    if (s.bcc)
        mail->setBCC(recipients);
    else
        mail->setTo(recipients);
    mail->setCC(s.cc);
    mail->setSubject(s.subject);
    if (contactMode)
        mail->setHTMLBody(body);
    mail->setBodyFormat(hostmail::olFormatHTML);
    for (const QString &path : images) {
        try {
            mail->attachments().Add(path);
        } catch (const HostError &) {
        }
    }
    if (!s.attachmentPath.isEmpty()) {
        try {
            mail->attachments().Add(s.attachmentPath);
        } catch (const HostError &) {
        }
    }
    if (!contactMode)
        mail->setHTMLBody(body);
    mail->setDeferredDeliveryTime(QDateTime(s.sendMailOn, QTime(0, 0)));
    try {
        if (s.saveDraft) {
            mail->Save();
        } else {
            mail->Send();
            m_queuedForLater = m_queuedForLater || s.sendMailOn > common::Clock::today();
        }
        ++m_made;
    } catch (const HostError &) {
    }
}

} // namespace bulkmail
