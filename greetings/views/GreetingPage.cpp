#include "greetings/views/GreetingPage.h"

#include "common/core/Clock.h"
#include "common/views/AddressBookSyncDialog.h"
#include "common/views/Controls.h"
#include "common/views/PanelRules.h"
#include "greetings/core/GreetingRun.h"
#include "greetings/core/Occasions.h"
#include "templates/views/TemplateEditor.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>

namespace greetings {

using common::requireChild;

GreetingPage::OccasionControls GreetingPage::occasionControls(QChar letter) const
{
    auto named = [&](const char *pattern) { return QString::fromLatin1(pattern).arg(letter); };
    OccasionControls c{};
    c.subjStd = requireChild<QRadioButton>(m_page, named("Opt%1SubjStd"));
    c.subjCust = requireChild<QRadioButton>(m_page, named("Opt%1SubjCust"));
    c.salStd = requireChild<QRadioButton>(m_page, named("Opt%1SalStd"));
    c.salCust = requireChild<QRadioButton>(m_page, named("Opt%1SalCust"));
    c.txtSubjStd = requireChild<QLineEdit>(m_page, named("Txt%1SubjStd"));
    c.txtSubjCust = requireChild<QLineEdit>(m_page, named("Txt%1SubjCust"));
    c.txtSalStd = requireChild<QLineEdit>(m_page, named("Txt%1SalStd"));
    c.txtSalCust = requireChild<QLineEdit>(m_page, named("Txt%1SalCust"));
    c.file = requireChild<QLineEdit>(m_page, named("Txt%1File"));
    c.printDate = requireChild<QCheckBox>(m_page, named("ChkPrntCus%1Dt"));
    c.printNames = requireChild<QCheckBox>(m_page, named("ChkPrntCus%1Nm"));
    return c;
}

GreetingPage::GreetingPage(QWidget *page, common::Prompter &prompter, hostmail::ApplicationFactory openHost,
                           templates::TemplateEditor &birthdayEditor, templates::TemplateEditor &anniversaryEditor)
    : QObject(page), m_page(page), m_prompter(prompter), m_openHost(std::move(openHost)), m_birthday(birthdayEditor),
      m_anniversary(anniversaryEditor), m_b(occasionControls(QLatin1Char('B'))),
      m_a(occasionControls(QLatin1Char('A'))), m_helpNeeded(requireChild<QCheckBox>(page, "ChkHelpNeeded")),
      m_cc(requireChild<QCheckBox>(page, "ChkCC")), m_bcc(requireChild<QCheckBox>(page, "ChkBCC")),
      m_dayPrior(requireChild<QCheckBox>(page, "ChkDayPrior")),
      m_children(requireChild<QCheckBox>(page, "chkChildren")),
      m_betweenDates(requireChild<QCheckBox>(page, "chkSendBetweenDates")),
      m_txtCC(requireChild<QLineEdit>(page, "TxtCC")), m_txtBCC(requireChild<QLineEdit>(page, "TxtBCC")),
      m_txtChildren(requireChild<QLineEdit>(page, "txtChildren")),
      m_saveDraft(requireChild<QRadioButton>(page, "OptSaveEmailDraft")),
      m_from(requireChild<QDateEdit>(page, "dtFromDate")), m_to(requireChild<QDateEdit>(page, "dtToDate")),
      m_progress(requireChild<QProgressBar>(page, "ProgressBar1")),
      m_send(requireChild<QPushButton>(page, "BtnSendEmails"))
{
    for (const OccasionControls *c : {&m_b, &m_a}) {
        common::enableWithOption(c->subjStd, c->txtSubjStd, c->txtSubjCust);
        common::enableWithOption(c->subjCust, c->txtSubjCust, c->txtSubjStd);
        common::enableWithOption(c->salStd, c->txtSalStd, c->txtSalCust);
        common::enableWithOption(c->salCust, c->txtSalCust, c->txtSalStd);
    }
    common::clearWhenUnchecked(m_cc, m_txtCC);
    common::clearWhenUnchecked(m_bcc, m_txtBCC);
    connect(m_children, &QCheckBox::toggled, m_txtChildren, &QLineEdit::setEnabled);
    connect(m_betweenDates, &QCheckBox::toggled, this, [this](bool on) {
        m_from->setEnabled(on);
        m_to->setEnabled(on);
        if (on) {
            const QDate today = common::Clock::today();
            m_from->setDate(today);
            m_to->setDate(LastDayOfMonth(today, &m_prompter));
        }
    });
    connect(m_send, &QPushButton::clicked, this, &GreetingPage::BtnSendEmails_Click);
}

OccasionSettings GreetingPage::occasion(const OccasionControls &c) const
{
    OccasionSettings o;
    o.subjectCustom = c.subjCust->isChecked();
    o.subjectStd = c.txtSubjStd->text();
    o.subjectCust = c.txtSubjCust->text();
    o.printDate = c.printDate->isChecked();
    o.salutationCustom = !c.salStd->isChecked();
    o.salutationStd = c.txtSalStd->text();
    o.salutationCust = c.txtSalCust->text();
    o.printNames = c.printNames->isChecked();
    o.attachmentPath = c.file->text();
    return o;
}

GreetingSettings GreetingPage::settings() const
{
    GreetingSettings s;
    s.birthday = occasion(m_b);
    s.anniversary = occasion(m_a);
    s.helpNeeded = m_helpNeeded->isChecked();
    s.cc = m_txtCC->text();
    s.bcc = m_txtBCC->text();
    s.dayPrior = m_dayPrior->isChecked();
    s.saveDraft = m_saveDraft->isChecked();
    s.children = m_children->isChecked();
    s.childrenLead = m_txtChildren->text();
    s.sendBetweenDates = m_betweenDates->isChecked();
    s.fromDate = m_from->date();
    s.toDate = m_to->date();
    return s;
}

void GreetingPage::BtnSendEmails_Click()
{
    if (!common::syncContactsBeforeRun(m_send->window(), m_openHost, m_prompter))
        return;
    const GreetingSettings s = settings();
    const templates::TemplateDocument birthday = m_birthday.document();
    const templates::TemplateDocument anniversary = m_anniversary.document();
    GreetingRun run(m_openHost, m_prompter, [bar = m_progress](int value) {
        bar->setValue(value);
        bar->repaint();
    });
    run.run(s, birthday, anniversary, common::Clock::today());
    if (run.queuedForLater())
        Q_EMIT mailQueuedForLater();
}

} // namespace greetings
