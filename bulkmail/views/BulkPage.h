#pragma once

#include "bulkmail/core/BulkSettings.h"
#include "shell/core/LaunchTask.h"

#include <QObject>

class QWidget;

namespace shell {
class Prompter;
}
namespace templates {
class TemplateEditor;
}

namespace bulkmail {

// The bulk page's handlers and its "Send Emails" button.
class BulkPage : public QObject {
    Q_OBJECT
public:
    BulkPage(QWidget *page, shell::Prompter &prompter, shell::ApplicationFactory openHost,
             templates::TemplateEditor &bulkEditor);

    BulkSettings settings() const;
    void BtnSendOEmails_Click();

private:
    template <typename T> T *control(const char *name) const;

    QWidget *m_page;
    shell::Prompter &m_prompter;
    shell::ApplicationFactory m_openHost;
    templates::TemplateEditor &m_editor;
};

} // namespace bulkmail
