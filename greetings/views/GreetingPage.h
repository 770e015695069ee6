#pragma once

#include "common/views/PagePreferences.h"
#include "greetings/core/GreetingSettings.h"
#include "hostmail/model/ApplicationFactory.h"

#include <QWidget>

#include <memory>

namespace Ui {
class GreetingPage;
}
namespace common {
class Prompter;
}
namespace templates {
class Dialogs;
class TemplateEditor;
} // namespace templates

namespace greetings {

// The greeting page: the birthday and anniversary templates with their
// subject and salutation options, and the run's preferences. Option pairs
// enable and disable their boxes, CC and BCC empty theirs when cleared, the
// date window takes today and the month's last day. "Send Emails" reads the
// page and starts a run.
class GreetingPage : public QWidget {
    Q_OBJECT
public:
    GreetingPage(common::Prompter &prompter, hostmail::ApplicationFactory openHost, templates::Dialogs &dialogs,
                 const QString &previewPath, QWidget *parent = nullptr);
    ~GreetingPage() override;

    GreetingSettings settings() const;
    void BtnSendEmails_Click();

    templates::TemplateEditor &birthdayEditor() const { return *m_birthday; }
    templates::TemplateEditor &anniversaryEditor() const { return *m_anniversary; }

    // The page's stored preferences, restored in their fixed order as a
    // user's change would be (so the handlers run), and saved.
    void restorePreferences(const common::StoredText &stored);
    common::PreferenceList preferences() const;

Q_SIGNALS:
    // A run sent greetings that wait in the Outbox for a later day.
    void mailQueuedForLater();

private:
    std::unique_ptr<Ui::GreetingPage> m_ui;
    common::Prompter &m_prompter;
    hostmail::ApplicationFactory m_openHost;
    templates::TemplateEditor *m_birthday;
    templates::TemplateEditor *m_anniversary;
};

} // namespace greetings
