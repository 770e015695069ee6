#pragma once

#include "greetings/core/GreetingSettings.h"
#include "shell/core/LaunchTask.h"

#include <QObject>

class QWidget;

namespace shell {
class Prompter;
}
namespace templates {
class TemplateEditor;
}

namespace greetings {

// The greeting page's handlers: option pairs enable and disable their boxes,
// CC and BCC empty theirs when cleared, the date window takes today and the
// month's last day. "Send Emails" reads the page and starts a run.
class GreetingPage : public QObject {
    Q_OBJECT
public:
    GreetingPage(QWidget *page, shell::Prompter &prompter, shell::ApplicationFactory openHost,
                 templates::TemplateEditor &birthdayEditor, templates::TemplateEditor &anniversaryEditor);

    GreetingSettings settings() const;
    void BtnSendEmails_Click();

private:
    template <typename T> T *control(const char *name) const;
    OccasionSettings occasion(QChar letter) const; // one template's subject and salutation choices

    QWidget *m_page;
    shell::Prompter &m_prompter;
    shell::ApplicationFactory m_openHost;
    templates::TemplateEditor &m_birthday;
    templates::TemplateEditor &m_anniversary;
};

} // namespace greetings
