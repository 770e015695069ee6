#pragma once

#include "greetings/core/GreetingSettings.h"
#include "hostmail/model/ApplicationFactory.h"

#include <QObject>

class QAbstractButton;
class QCheckBox;
class QDateEdit;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QWidget;

namespace common {
class Prompter;
}
namespace templates {
class TemplateEditor;
}

namespace greetings {

// The greeting page's handlers: option pairs enable and disable their boxes,
// CC and BCC empty theirs when cleared, the date window takes today and the
// month's last day. "Send Emails" reads the page and starts a run. Every
// control is looked up once, here; a missing one fails the construction.
class GreetingPage : public QObject {
    Q_OBJECT
public:
    GreetingPage(QWidget *page, common::Prompter &prompter, hostmail::ApplicationFactory openHost,
                 templates::TemplateEditor &birthdayEditor, templates::TemplateEditor &anniversaryEditor);

    GreetingSettings settings() const;
    void BtnSendEmails_Click();

Q_SIGNALS:
    // A run sent greetings that wait in the Outbox for a later day.
    void mailQueuedForLater();

private:
    // One template's subject and salutation controls (letter B or A).
    struct OccasionControls {
        QRadioButton *subjStd, *subjCust, *salStd, *salCust;
        QLineEdit *txtSubjStd, *txtSubjCust, *txtSalStd, *txtSalCust, *file;
        QCheckBox *printDate, *printNames;
    };
    OccasionControls occasionControls(QChar letter) const;
    OccasionSettings occasion(const OccasionControls &c) const;

    QWidget *m_page;
    common::Prompter &m_prompter;
    hostmail::ApplicationFactory m_openHost;
    templates::TemplateEditor &m_birthday;
    templates::TemplateEditor &m_anniversary;
    OccasionControls m_b, m_a;
    QCheckBox *m_helpNeeded, *m_cc, *m_bcc, *m_dayPrior, *m_children, *m_betweenDates;
    QLineEdit *m_txtCC, *m_txtBCC, *m_txtChildren;
    QRadioButton *m_saveDraft;
    QDateEdit *m_from, *m_to;
    QProgressBar *m_progress;
    QPushButton *m_send;
};

} // namespace greetings
