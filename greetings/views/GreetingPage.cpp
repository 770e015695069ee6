#include "greetings/views/GreetingPage.h"

#include "greetings/core/GreetingRun.h"
#include "greetings/core/Occasions.h"
#include "shell/core/Clock.h"
#include "templates/views/TemplateEditor.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>

namespace greetings {

template <typename T> T *GreetingPage::control(const char *name) const
{
    T *w = m_page->findChild<T *>(QLatin1String(name));
    Q_ASSERT_X(w, "GreetingPage", name);
    return w;
}

void GreetingPage::pair(const char *option, const char *enables, const char *disables)
{
    connect(control<QRadioButton>(option), &QRadioButton::toggled, this, [this, enables, disables](bool on) {
        if (!on)
            return;
        control<QLineEdit>(enables)->setEnabled(true);
        control<QLineEdit>(disables)->setEnabled(false);
    });
}

void GreetingPage::clearingCheck(const char *check, const char *box)
{
    connect(control<QCheckBox>(check), &QCheckBox::toggled, this, [this, box](bool on) {
        QLineEdit *edit = control<QLineEdit>(box);
        edit->setEnabled(on);
        if (!on)
            edit->clear();
    });
}

GreetingPage::GreetingPage(QWidget *page, shell::Prompter &prompter, shell::ApplicationFactory openHost,
                           templates::TemplateEditor &birthdayEditor, templates::TemplateEditor &anniversaryEditor)
    : QObject(page), m_page(page), m_prompter(prompter), m_openHost(std::move(openHost)),
      m_birthday(birthdayEditor), m_anniversary(anniversaryEditor)
{
    pair("OptBSubjStd", "TxtBSubjStd", "TxtBSubjCust");
    pair("OptBSubjCust", "TxtBSubjCust", "TxtBSubjStd");
    pair("OptBSalStd", "TxtBSalStd", "TxtBSalCust");
    pair("OptBSalCust", "TxtBSalCust", "TxtBSalStd");
    pair("OptASubjStd", "TxtASubjStd", "TxtASubjCust");
    pair("OptASubjCust", "TxtASubjCust", "TxtASubjStd");
    pair("OptASalStd", "TxtASalStd", "TxtASalCust");
    pair("OptASalCust", "TxtASalCust", "TxtASalStd");
    clearingCheck("ChkCC", "TxtCC");
    clearingCheck("ChkBCC", "TxtBCC");
    connect(control<QCheckBox>("chkChildren"), &QCheckBox::toggled, this,
            [this](bool on) { control<QLineEdit>("txtChildren")->setEnabled(on); });
    connect(control<QCheckBox>("chkSendBetweenDates"), &QCheckBox::toggled, this, [this](bool on) {
        auto *from = control<QDateEdit>("dtFromDate");
        auto *to = control<QDateEdit>("dtToDate");
        from->setEnabled(on);
        to->setEnabled(on);
        if (on) {
            const QDate today = shell::Clock::today();
            from->setDate(today);
            to->setDate(LastDayOfMonth(today, &m_prompter));
        }
    });
    connect(control<QPushButton>("BtnSendEmails"), &QPushButton::clicked, this, &GreetingPage::BtnSendEmails_Click);
}

GreetingSettings GreetingPage::settings() const
{
    auto checked = [this](const char *name) { return control<QAbstractButton>(name)->isChecked(); };
    auto text = [this](const char *name) { return control<QLineEdit>(name)->text(); };
    GreetingSettings s;
    s.birthday.subjectCustom = checked("OptBSubjCust");
    s.birthday.subjectStd = text("TxtBSubjStd");
    s.birthday.subjectCust = text("TxtBSubjCust");
    s.birthday.printDate = checked("ChkPrntCusBDt");
    s.birthday.salutationCustom = !checked("OptBSalStd");
    s.birthday.salutationStd = text("TxtBSalStd");
    s.birthday.salutationCust = text("TxtBSalCust");
    s.birthday.printNames = checked("ChkPrntCusBNm");
    s.birthday.attachmentPath = text("TxtBFile");
    s.anniversary.subjectCustom = !checked("OptASubjStd");
    s.anniversary.subjectStd = text("TxtASubjStd");
    s.anniversary.subjectCust = text("TxtASubjCust");
    s.anniversary.printDate = checked("ChkPrntCusADt");
    s.anniversary.salutationCustom = !checked("OptASalStd");
    s.anniversary.salutationStd = text("TxtASalStd");
    s.anniversary.salutationCust = text("TxtASalCust");
    s.anniversary.printNames = checked("ChkPrntCusANm");
    s.anniversary.attachmentPath = text("TxtAFile");
    s.helpNeeded = checked("ChkHelpNeeded");
    s.cc = text("TxtCC");
    s.bcc = text("TxtBCC");
    s.dayPrior = checked("ChkDayPrior");
    s.saveDraft = checked("OptSaveEmailDraft");
    s.children = checked("chkChildren");
    s.childrenLead = text("txtChildren");
    s.sendBetweenDates = checked("chkSendBetweenDates");
    s.fromDate = control<QDateEdit>("dtFromDate")->date();
    s.toDate = control<QDateEdit>("dtToDate")->date();
    return s;
}

void GreetingPage::BtnSendEmails_Click()
{
    auto *bar = control<QProgressBar>("ProgressBar1");
    const GreetingSettings s = settings();
    const templates::TemplateDocument birthday = m_birthday.document();
    const templates::TemplateDocument anniversary = m_anniversary.document();
    GreetingRun run(m_openHost, m_prompter, [bar](int value) {
        bar->setValue(value);
        bar->repaint();
    });
    run.run(s, birthday, anniversary, shell::Clock::today());
}

} // namespace greetings
