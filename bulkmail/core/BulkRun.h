#pragma once

#include "bulkmail/core/BulkSettings.h"
#include "hostmail/model/ApplicationFactory.h"
#include "templates/core/TemplateDocument.h"

namespace common {
class Prompter;
}

namespace bulkmail {

inline const QString kBulkConfirmText = QStringLiteral("Do you wish to send emails to your selected Contacts?");
inline const QString kAllContactsText = QStringLiteral(
    "Are you sure that you wish to send emails to All Contacts? This is a time consuming task based on the "
    "number of contacts in your Outlook client.");
inline const QString kBulkDoneText = QStringLiteral("All emails have been generated.");

// One click on "Send Emails" of the bulk page.
class BulkRun {
public:
    BulkRun(hostmail::ApplicationFactory openHost, common::Prompter &prompter);
    // Whether the last run sent mail to be delivered on a later day.
    bool queuedForLater() const { return m_queuedForLater; }
    // Returns the number of messages handed to the host.
    int run(const BulkSettings &settings, const templates::TemplateDocument &bulkTemplate);

private:
    void compose(const hostmail::Application &app, const BulkSettings &s, const QString &recipients,
                 const QString &body, bool contactMode, const QStringList &images);

    hostmail::ApplicationFactory m_openHost;
    common::Prompter &m_prompter;
    int m_made = 0;
    bool m_queuedForLater = false;
};

} // namespace bulkmail
