#include "greetings/views/GreetingPage.h"

#include "common/core/Clock.h"
#include "common/views/AddressBookSyncDialog.h"
#include "common/views/Icons.h"
#include "common/views/PanelRules.h"
#include "greetings/core/GreetingRun.h"
#include "greetings/core/Occasions.h"
#include "templates/views/TemplateEditor.h"
#include "ui_GreetingPage.h"

namespace greetings {

namespace {

// One occasion's subject and salutation controls as the settings read them.
OccasionSettings occasion(const QRadioButton *subjCust, const QLineEdit *subjStd, const QLineEdit *subjCustBox,
                          const QCheckBox *printDate, const QRadioButton *salStd, const QLineEdit *salStdBox,
                          const QLineEdit *salCustBox, const QCheckBox *printNames, const QLineEdit *file)
{
    OccasionSettings o;
    o.subjectCustom = subjCust->isChecked();
    o.subjectStd = subjStd->text();
    o.subjectCust = subjCustBox->text();
    o.printDate = printDate->isChecked();
    o.salutationCustom = !salStd->isChecked();
    o.salutationStd = salStdBox->text();
    o.salutationCust = salCustBox->text();
    o.printNames = printNames->isChecked();
    o.attachmentPath = file->text();
    return o;
}

} // namespace

GreetingPage::GreetingPage(common::Prompter &prompter, hostmail::ApplicationFactory openHost,
                           templates::Dialogs &dialogs, const QString &previewPath, QWidget *parent)
    : QWidget(parent), m_ui(std::make_unique<Ui::GreetingPage>()), m_prompter(prompter), m_openHost(std::move(openHost))
{
    m_ui->setupUi(this);
    const Ui::GreetingPage &u = *m_ui;
    m_birthday = new templates::TemplateEditor(QLatin1Char('B'),
                                               {u.SSTab2, u.EditorB, u.txtSourceB, u.WbrPreviewB, u.TxtBFile,
                                                u.CmdBOpen, u.CmdBSave, u.CmdBImage, u.CmdBFont, u.CmdAddBAtt},
                                               prompter, dialogs, previewPath, this);
    m_anniversary = new templates::TemplateEditor(QLatin1Char('A'),
                                                  {u.SSTab3, u.EditorA, u.txtSourceA, u.WbrPreviewA, u.TxtAFile,
                                                   u.CmdAOpen, u.CmdASave, u.CmdAImage, u.CmdAFont, u.CmdAAtt},
                                                  prompter, dialogs, previewPath, this);

    common::enableWithOption(u.OptBSubjStd, u.TxtBSubjStd, u.TxtBSubjCust);
    common::enableWithOption(u.OptBSubjCust, u.TxtBSubjCust, u.TxtBSubjStd);
    common::enableWithOption(u.OptBSalStd, u.TxtBSalStd, u.TxtBSalCust);
    common::enableWithOption(u.OptBSalCust, u.TxtBSalCust, u.TxtBSalStd);
    common::enableWithOption(u.OptASubjStd, u.TxtASubjStd, u.TxtASubjCust);
    common::enableWithOption(u.OptASubjCust, u.TxtASubjCust, u.TxtASubjStd);
    common::enableWithOption(u.OptASalStd, u.TxtASalStd, u.TxtASalCust);
    common::enableWithOption(u.OptASalCust, u.TxtASalCust, u.TxtASalStd);
    common::clearWhenUnchecked(u.ChkCC, u.TxtCC);
    common::clearWhenUnchecked(u.ChkBCC, u.TxtBCC);
    connect(u.chkChildren, &QCheckBox::toggled, u.txtChildren, &QLineEdit::setEnabled);
    connect(u.chkSendBetweenDates, &QCheckBox::toggled, this, [this](bool on) {
        m_ui->dtFromDate->setEnabled(on);
        m_ui->dtToDate->setEnabled(on);
        if (on) {
            const QDate today = common::Clock::today();
            m_ui->dtFromDate->setDate(today);
            m_ui->dtToDate->setDate(LastDayOfMonth(today, &m_prompter));
        }
    });
    connect(u.BtnSendEmails, &QPushButton::clicked, this, &GreetingPage::BtnSendEmails_Click);
    u.BtnSendEmails->setIcon(common::themedIcon(QStringLiteral("mail-send")));
    common::makePageTitle(u.lblTitle);
    common::keepTextReadable({u.TxtBSubjStd, u.TxtBSubjCust, u.TxtBSalStd, u.TxtBSalCust, u.TxtASubjStd, u.TxtASubjCust,
                              u.TxtASalStd, u.TxtASalCust});
}

GreetingPage::~GreetingPage() = default;

GreetingSettings GreetingPage::settings() const
{
    const Ui::GreetingPage &u = *m_ui;
    GreetingSettings s;
    s.birthday = occasion(u.OptBSubjCust, u.TxtBSubjStd, u.TxtBSubjCust, u.ChkPrntCusBDt, u.OptBSalStd, u.TxtBSalStd,
                          u.TxtBSalCust, u.ChkPrntCusBNm, u.TxtBFile);
    s.anniversary = occasion(u.OptASubjCust, u.TxtASubjStd, u.TxtASubjCust, u.ChkPrntCusADt, u.OptASalStd, u.TxtASalStd,
                             u.TxtASalCust, u.ChkPrntCusANm, u.TxtAFile);
    s.helpNeeded = u.ChkHelpNeeded->isChecked();
    s.cc = u.TxtCC->text();
    s.bcc = u.TxtBCC->text();
    s.dayPrior = u.ChkDayPrior->isChecked();
    s.saveDraft = u.OptSaveEmailDraft->isChecked();
    s.children = u.chkChildren->isChecked();
    s.childrenLead = u.txtChildren->text();
    s.sendBetweenDates = u.chkSendBetweenDates->isChecked();
    s.fromDate = u.dtFromDate->date();
    s.toDate = u.dtToDate->date();
    return s;
}

void GreetingPage::BtnSendEmails_Click()
{
    const GreetingSettings s = settings();
    const templates::TemplateDocument birthday = m_birthday->document();
    const templates::TemplateDocument anniversary = m_anniversary->document();
    GreetingRun run(m_openHost, m_prompter, [bar = m_ui->ProgressBar1](int value) {
        bar->setValue(value);
        bar->repaint();
    });
    run.beforeOpening = [this] { return common::syncContactsBeforeRun(window(), m_openHost, m_prompter); };
    run.run(s, birthday, anniversary, common::Clock::today());
    if (run.queuedForLater())
        Q_EMIT mailQueuedForLater();
}

void GreetingPage::restorePreferences(const common::StoredText &stored)
{
    using common::isTrueForm;
    using common::restorePairMember;
    const Ui::GreetingPage &u = *m_ui;
    if (isTrueForm(stored("SendAutomatic"), "TRUE"))
        u.OptSendAutomatic->setChecked(true);
    if (isTrueForm(stored("SaveEmailDraft"), "TRUE"))
        u.OptSaveEmailDraft->setChecked(true);
    common::restoreChecked(stored("CC"), u.ChkCC, u.TxtCC);
    common::restoreChecked(stored("BCC"), u.ChkBCC, u.TxtBCC);
    u.ChkHelpNeeded->setChecked(isTrueForm(stored("HelpNeeded"), "TRUE"));
    restorePairMember(stored("CustBSubj"), u.OptBSubjCust, u.TxtBSubjCust);
    restorePairMember(stored("CustASubj"), u.OptASubjCust, u.TxtASubjCust);
    restorePairMember(stored("CustBSal"), u.OptBSalCust, u.TxtBSalCust);
    restorePairMember(stored("CustASal"), u.OptASalCust, u.TxtASalCust);
    restorePairMember(stored("StdBSubj"), u.OptBSubjStd, u.TxtBSubjStd);
    restorePairMember(stored("StdASubj"), u.OptASubjStd, u.TxtASubjStd);
    restorePairMember(stored("StdBSal"), u.OptBSalStd, u.TxtBSalStd);
    restorePairMember(stored("StdASal"), u.OptASalStd, u.TxtASalStd);
    u.ChkDayPrior->setChecked(isTrueForm(stored("DayPrior"), "TRUE"));
    u.chkSendBetweenDates->setChecked(isTrueForm(stored("SendBetweenDates"), "TRUE"));
    const bool children = isTrueForm(stored("Children"), "TRUE");
    u.chkChildren->setChecked(children);
    u.txtChildren->setEnabled(children);
    if (children)
        u.txtChildren->setText(stored("ChildrenTxt"));
    u.ChkPrntCusBNm->setChecked(stored("PrintCustBName") == QLatin1String("1"));
    u.ChkPrntCusANm->setChecked(stored("PrintCustAName") == QLatin1String("1"));
    u.ChkPrntCusBDt->setChecked(stored("PrintCustBDate") == QLatin1String("1"));
    u.ChkPrntCusADt->setChecked(stored("PrintCustADate") == QLatin1String("1"));
}

common::PreferenceList GreetingPage::preferences() const
{
    using common::flagText;
    const Ui::GreetingPage &u = *m_ui;
    common::PreferenceList p;
    p.append({"SendAutomatic", flagText(u.OptSendAutomatic->isChecked(), "TRUE", "FALSE")});
    p.append({"SaveEmailDraft", flagText(u.OptSaveEmailDraft->isChecked(), "TRUE", "FALSE")});
    p.append({"CC", u.TxtCC->text()});
    p.append({"BCC", u.TxtBCC->text()});
    p.append({"HelpNeeded", flagText(u.ChkHelpNeeded->isChecked(), "TRUE", "FALSE")});
    common::appendPair(p, u.OptBSubjCust, u.TxtBSubjStd, u.TxtBSubjCust, "StdBSubj", "CustBSubj");
    common::appendPair(p, u.OptASubjCust, u.TxtASubjStd, u.TxtASubjCust, "StdASubj", "CustASubj");
    common::appendPair(p, u.OptBSalCust, u.TxtBSalStd, u.TxtBSalCust, "StdBSal", "CustBSal");
    common::appendPair(p, u.OptASalCust, u.TxtASalStd, u.TxtASalCust, "StdASal", "CustASal");
    p.append({"DayPrior", flagText(u.ChkDayPrior->isChecked(), "TRUE", "FALSE")});
    p.append({"Children", flagText(u.chkChildren->isChecked(), "TRUE", "FALSE")});
    p.append({"ChildrenTxt", u.txtChildren->text()});
    p.append({"SendBetweenDates", flagText(u.chkSendBetweenDates->isChecked(), "TRUE", "FALSE")});
    p.append({"PrintCustBName", flagText(u.ChkPrntCusBNm->isChecked(), "1", "0")});
    p.append({"PrintCustAName", flagText(u.ChkPrntCusANm->isChecked(), "1", "0")});
    p.append({"PrintCustBDate", flagText(u.ChkPrntCusBDt->isChecked(), "1", "0")});
    p.append({"PrintCustADate", flagText(u.ChkPrntCusADt->isChecked(), "1", "0")});
    return p;
}

} // namespace greetings
