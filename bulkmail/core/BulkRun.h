#pragma once

#include "bulkmail/core/BulkSettings.h"
#include "common/core/RunReport.h"
#include "hostmail/model/ApplicationFactory.h"
#include "hostmail/model/Folder.h"
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

// Refusals and questions of a run that would reach nobody, or send what is
// plainly not meant.
QString noSuchListText(const QString &name);
QString emptyListText(const QString &name);
QString emptyCategoryText(const QString &category);
QString defaultSubjectQuestion(const QString &subject);
QString emptyBodyQuestion();
QString bulkLeftOutQuestion(const QString &path, const QString &problem);

// One click on "Send Emails" of the bulk page. The closing message says how
// many messages reached the disk and where, and who was skipped and why.
class BulkRun {
public:
    BulkRun(hostmail::ApplicationFactory openHost, common::Prompter &prompter);
    // Asked once the run's own checks and questions are done, right before
    // it opens the contacts (the address book sync); false ends the run
    // with nothing written and nothing more said.
    std::function<bool()> beforeOpening;
    // Whether the last run sent mail to be delivered on a later day.
    bool queuedForLater() const { return m_queuedForLater; }
    const common::RunReport &report() const { return m_report; }
    // Returns the number of messages that reached the disk. today is the
    // day the run stands on.
    int run(const BulkSettings &settings, const templates::TemplateDocument &bulkTemplate, const QDate &today);

private:
    // The refusal of a list or category that reaches none of the contacts here.
    std::optional<QString> recipientsRefusal(const BulkSettings &s) const;
    static hostmail::ContactFilter recipientFilter(const BulkSettings &s);
    bool confirmContent(const BulkSettings &s, const templates::TemplateDocument &bulkTemplate, QStringList &paths);
    void compose(const hostmail::Application &app, const BulkSettings &s, const QString &to, const QString &bcc,
                 const QString &body, const QStringList &paths);

    hostmail::ApplicationFactory m_openHost;
    common::Prompter &m_prompter;
    QDate m_today;
    bool m_queuedForLater = false;
    common::RunReport m_report{QStringLiteral("message"), QStringLiteral("messages")};
};

} // namespace bulkmail
