#pragma once

#include "bulkmail/core/BulkSettings.h"
#include "hostmail/model/ApplicationFactory.h"

#include <QObject>

class QCheckBox;
class QDateEdit;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QWidget;

namespace common {
class Prompter;
}
namespace templates {
class TemplateEditor;
}

namespace bulkmail {

// The bulk page's handlers and its "Send Emails" button. Every control is
// looked up once, here; a missing one fails the construction.
class BulkPage : public QObject {
    Q_OBJECT
public:
    BulkPage(QWidget *page, common::Prompter &prompter, hostmail::ApplicationFactory openHost,
             templates::TemplateEditor &bulkEditor);

    BulkSettings settings() const;
    void BtnSendOEmails_Click();

Q_SIGNALS:
    // A run sent mail that waits in the Outbox for a later day.
    void mailQueuedForLater();

private:
    common::Prompter &m_prompter;
    hostmail::ApplicationFactory m_openHost;
    templates::TemplateEditor &m_editor;
    QRadioButton *m_toList, *m_toCategory, *m_toAll, *m_salStd, *m_salCust, *m_saveDraft;
    QLineEdit *m_distList, *m_category, *m_cc, *m_subject, *m_txtSalStd, *m_txtSalCust, *m_file;
    QCheckBox *m_chkCC, *m_bcc, *m_printName;
    QDateEdit *m_sendMailOn;
    QPushButton *m_send;
};

} // namespace bulkmail
