// Every window of the program is constructed here with its controls and
// texts; a control that is missing or renamed fails the construction.
#include "bulkmail/views/BulkPage.h"
#include "export/views/frmiPodExport.h"
#include "greetings/views/GreetingPage.h"
#include "shell/views/frmAbout.h"
#include "shell/views/frmHelp.h"
#include "shell/views/frmSplash.h"

#include "support/MainWindowFixture.h"
#include "support/ProgramTexts.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>

namespace {

// The caption of a button, the text of a box or label, or the title of a frame.
QString textOf(const QWidget *w)
{
    if (auto *b = qobject_cast<const QAbstractButton *>(w))
        return b->text();
    if (auto *e = qobject_cast<const QLineEdit *>(w))
        return e->text();
    if (auto *l = qobject_cast<const QLabel *>(w))
        return l->text();
    if (auto *g = qobject_cast<const QGroupBox *>(w))
        return g->title();
    return QStringLiteral("<no text>");
}

// Each pair: object name, text as the window must show it.
void expectTexts(const QWidget *window, const QList<QPair<const char *, QString>> &expected)
{
    for (const auto &[name, text] : expected) {
        const QWidget *w = window->findChild<QWidget *>(QLatin1String(name));
        ASSERT_NE(w, nullptr) << name;
        EXPECT_EQ(textOf(w), text) << name;
    }
}

} // namespace

TEST_F(MainWindowFixture, MainWindowShowsTheGivenCaptions)
{
    open();
    expectTexts(
        window.get(),
        {{"lblTitle", "Cheerpost"},
         {"fraBirthdays", " Birthdays "},
         {"fraAnniversaries", " Anniversaries "},
         {"fraSubjectB", " Subject "},
         {"fraSalutationB", " Salutation "},
         {"CmdBOpen", "Open"},
         {"CmdBSave", "Save"},
         {"CmdBImage", "Image"},
         {"CmdBFont", "Font"},
         {"CmdAddBAtt", "Attach"},
         {"CmdAAtt", "Attach"},
         {"CmdOAtt", "Attach"},
         {"OptBSubjStd", "Standard"},
         {"TxtBSubjStd", "Happy Birthday !"},
         {"OptBSubjCust", "Custom"},
         {"TxtBSubjCust", "Enter custom subject"},
         {"ChkPrntCusBDt", "- Birthdate"},
         {"lblSubjDateB", "- Birthdate"},
         {"OptBSalStd", "Standard"},
         {"TxtBSalStd", "Dear"},
         {"OptBSalCust", "Custom"},
         {"TxtBSalCust", "Enter custom salutation"},
         {"ChkPrntCusBNm", "Name"},
         {"lblSalNameB", "Name"},
         {"TxtASubjStd", "Happy Anniversary !"},
         {"TxtASubjCust", "Enter custom subject"},
         {"ChkPrntCusADt", "- Ann.dt"},
         {"lblSubjDateA", "- Ann. dt"},
         {"TxtASalStd", "Dear"},
         {"TxtASalCust", "Enter custom salutation"},
         {"ChkPrntCusANm", "Names"},
         {"lblSalNameA", "Both Names"},
         {"chkChildren", "Use Children field data if available"},
         {"lblChildren", "Children names"},
         {"txtChildren", "PS: Lots of love to "},
         {"fraEmailFormat", "Email Format"},
         {"OptHTML", "HTML"},
         {"fraEmailPreferences", " Email Preferences "},
         {"OptSendAutomatic", "Send Automatically"},
         {"OptSaveEmailDraft", "Save in Draft folder "},
         {"ChkCC", "CC"},
         {"ChkBCC", "BCC"},
         {"ChkDayPrior", "Send Email a day prior to the event"},
         {"chkSendBetweenDates", "Send Email for Dates between"},
         {"lblAnd", "and"},
         {"ChkHelpNeeded", "Need Step By Step Help"},
         {"lblTitleO", "Cheerpost"},
         {"lblBulkInfo",
          "Use this page to send bulk email wishes to your Contacts on special occasions e.g. New Year's Day etc."},
         {"fraBulkEmails", " Bulk Emails "},
         {"lblSubjectLine", "Subject Line"},
         {"TxtSubject", "Enter the Subject Line"},
         {"fraSendEmailTo", "Send Email To  "},
         {"ToOption1", "Email Distribution List"},
         {"TxtDistList", "Enter the Outlook email distribution list"},
         {"ToOption2", "Contacts with Category of"},
         {"TxtCategory", "Enter the Contact Category"},
         {"ToOption3", "All Contacts (least preferred)"},
         {"fraSalutationO", "Salutation "},
         {"TxtOSalStd", "Dear"},
         {"TxtOSalCust", "Enter your custom salutation"},
         {"ChkPrntCusONm", "Name"},
         {"fraEmailPreferences1", " Email Preferences "},
         {"OptSendAuto", "Send Automatically"},
         {"OptSaveDraft", "Save in Draft folder "},
         {"ChkCC1", "CC"},
         {"ChkBCC1", "Send All Emails using BCC"},
         {"lblSendMailOn", "Send Mail On"},
         {"fraEmailFormat1", "Email Format"},
         {"OptHTML1", "HTML"},
         {"cmdApply", "Apply"},
         {"cmdCancel", "Cancel"}});
    EXPECT_EQ(find<QWidget>("ChkPrntCusBDt")->toolTip(), "Print Birthdate?");
    EXPECT_EQ(find<QWidget>("ChkPrntCusBNm")->toolTip(), "Print Name?");
    EXPECT_EQ(find<QWidget>("ChkPrntCusADt")->toolTip(), "Print Anniversary Date?");
    EXPECT_EQ(find<QWidget>("BtnSendOEmails")->toolTip(), "Send Emails");
}

TEST(Windows, AboutSplashHelpAndExportConstructWithTheirTexts)
{
    RecordingPrompter prompter;
    shell::frmAbout about(borrowed(prompter));
    EXPECT_EQ(about.windowTitle(), "About");
    expectTexts(&about,
                {{"lblTitle", "Cheerpost"},
                 {"lblVersion", "Version 5.0.0"},
                 {"lblDescription", "A great tool to send birthday and anniversary wishes to your friends and family "
                                    "automatically every month using the information stored in the Contact profile in "
                                    "Microsoft Outlook."}});

    shell::frmSplash splash;
    expectTexts(&splash, {{"lblProductName", "Cheerpost"},
                          {"lblCompanyProduct", "Outlook"},
                          {"lblPlatform", "Windows Vista/XP/2000/98"},
                          {"lblVersion", "Version 5.0.0"}});

    shell::frmHelp help(QStringLiteral("/no/such/help.html"));
    EXPECT_NE(help.findChild<QWidget *>("txtHelp"), nullptr);

    exporting::frmiPodExport::Services services;
    services.prompter = borrowed(prompter);
    services.volumes = [] { return QList<exporting::Volume>(); };
    exporting::frmiPodExport exporter(services);
    EXPECT_EQ(exporter.windowTitle(), "Export to iPod");
    expectTexts(&exporter, {{"Label1", "Locating your iPod..."},
                            {"DriveLabel", ""},
                            {"CmdBrowse", "Browse"},
                            {"fraSelectItems", "Select Items to Export "},
                            {"ChkContacts", "Contacts"},
                            {"ChkCalendarItems", "Calendar Items"},
                            {"ChkNotes", "Notes"},
                            {"CmdExport", "Export"},
                            {"Label2", "Exporting..."}});
    // The progress label and bar show from the first export on.
    EXPECT_TRUE(exporter.findChild<QWidget *>("Label2")->isHidden());
    EXPECT_TRUE(exporter.findChild<QWidget *>("ProgressBar")->isHidden());
    exporter.CmdExport_Click();
    EXPECT_FALSE(exporter.findChild<QWidget *>("Label2")->isHidden());
    EXPECT_FALSE(exporter.findChild<QWidget *>("ProgressBar")->isHidden());
    EXPECT_EQ(prompter.texts().last(), texts::nothingChecked);
}
