#include "greetings/views/GreetingPage.h"

#include "greetings/core/GreetingRun.h"
#include "greetings/core/Occasions.h"
#include "greetings/views/PanelRules.h"
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
    return pageControl<T>(m_page, name);
}

GreetingPage::GreetingPage(QWidget *page, shell::Prompter &prompter, shell::ApplicationFactory openHost,
                           templates::TemplateEditor &birthdayEditor, templates::TemplateEditor &anniversaryEditor)
    : QObject(page), m_page(page), m_prompter(prompter), m_openHost(std::move(openHost)), m_birthday(birthdayEditor),
      m_anniversary(anniversaryEditor)
{
    enableWithOption(this, m_page, "OptBSubjStd", "TxtBSubjStd", "TxtBSubjCust");
    enableWithOption(this, m_page, "OptBSubjCust", "TxtBSubjCust", "TxtBSubjStd");
    enableWithOption(this, m_page, "OptBSalStd", "TxtBSalStd", "TxtBSalCust");
    enableWithOption(this, m_page, "OptBSalCust", "TxtBSalCust", "TxtBSalStd");
    enableWithOption(this, m_page, "OptASubjStd", "TxtASubjStd", "TxtASubjCust");
    enableWithOption(this, m_page, "OptASubjCust", "TxtASubjCust", "TxtASubjStd");
    enableWithOption(this, m_page, "OptASalStd", "TxtASalStd", "TxtASalCust");
    enableWithOption(this, m_page, "OptASalCust", "TxtASalCust", "TxtASalStd");
    clearWhenUnchecked(this, m_page, "ChkCC", "TxtCC");
    clearWhenUnchecked(this, m_page, "ChkBCC", "TxtBCC");
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

OccasionSettings GreetingPage::occasion(QChar letter) const
{
    auto named = [this, letter](const char *pattern) {
        const QString name = QString::fromLatin1(pattern).arg(letter);
        QWidget *w = m_page->findChild<QWidget *>(name);
        Q_ASSERT_X(w, "GreetingPage", qPrintable(name));
        return w;
    };
    auto checked = [&](const char *pattern) { return static_cast<QAbstractButton *>(named(pattern))->isChecked(); };
    auto text = [&](const char *pattern) { return static_cast<QLineEdit *>(named(pattern))->text(); };
    OccasionSettings o;
    o.subjectCustom = checked("Opt%1SubjCust");
    o.subjectStd = text("Txt%1SubjStd");
    o.subjectCust = text("Txt%1SubjCust");
    o.printDate = checked("ChkPrntCus%1Dt");
    o.salutationCustom = !checked("Opt%1SalStd");
    o.salutationStd = text("Txt%1SalStd");
    o.salutationCust = text("Txt%1SalCust");
    o.printNames = checked("ChkPrntCus%1Nm");
    o.attachmentPath = text("Txt%1File");
    return o;
}

GreetingSettings GreetingPage::settings() const
{
    auto checked = [this](const char *name) { return control<QAbstractButton>(name)->isChecked(); };
    auto text = [this](const char *name) { return control<QLineEdit>(name)->text(); };
    GreetingSettings s;
    s.birthday = occasion(QLatin1Char('B'));
    s.anniversary = occasion(QLatin1Char('A'));
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
