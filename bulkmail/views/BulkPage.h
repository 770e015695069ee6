#pragma once

#include "bulkmail/core/BulkSettings.h"
#include "common/views/PagePreferences.h"
#include "hostmail/model/ApplicationFactory.h"

#include <QWidget>

#include <memory>

namespace Ui {
class BulkPage;
}
namespace common {
class Prompter;
}
namespace templates {
class Dialogs;
class TemplateEditor;
} // namespace templates

namespace bulkmail {

// The bulk page: the bulk template, its recipients, salutation and sending
// options, its handlers and its "Send Emails" button.
class BulkPage : public QWidget {
    Q_OBJECT
public:
    BulkPage(common::Prompter &prompter, hostmail::ApplicationFactory openHost, templates::Dialogs &dialogs,
             const QString &previewPath, QWidget *parent = nullptr);
    ~BulkPage() override;

    BulkSettings settings() const;
    void BtnSendOEmails_Click();

    templates::TemplateEditor &editor() const { return *m_editor; }

    // The page's stored preferences, restored in their fixed order as a
    // user's change would be (so the handlers run), and saved.
    void restorePreferences(const common::StoredText &stored);
    common::PreferenceList preferences() const;

Q_SIGNALS:
    // A run sent mail that waits in the Outbox for a later day.
    void mailQueuedForLater();

private:
    std::unique_ptr<Ui::BulkPage> m_ui;
    common::Prompter &m_prompter;
    hostmail::ApplicationFactory m_openHost;
    templates::TemplateEditor *m_editor;
};

} // namespace bulkmail
