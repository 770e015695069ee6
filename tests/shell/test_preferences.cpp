#include "bulkmail/views/BulkPage.h"
#include "greetings/views/GreetingPage.h"
#include "shell/core/SettingsKey.h"
#include "shell/views/Preferences.h"
#include "support/MainWindowFixture.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QRadioButton>
#include <QTabWidget>

using namespace shell;

namespace {

class PrefsFixture : public MainWindowFixture {
protected:
    QLineEdit *edit(const char *n) { return find<QLineEdit>(n); }
    QCheckBox *check(const char *n) { return find<QCheckBox>(n); }
    QRadioButton *option(const char *n) { return find<QRadioButton>(n); }
    void setSetTask() { writeSetting("SetTask", "1"); }
};

} // namespace

TEST_F(PrefsFixture, FirstRunShowsTheDefaults)
{
    common::Clock::setFixed(QDateTime(QDate(2026, 5, 10), QTime(8, 0)));
    open();
    EXPECT_TRUE(option("OptSendAutomatic")->isChecked());
    EXPECT_EQ(edit("TxtBSubjStd")->text(), "Happy Birthday !");
    EXPECT_FALSE(edit("TxtBSubjCust")->isEnabled());
    EXPECT_FALSE(edit("TxtCC")->isEnabled());
    EXPECT_EQ(edit("txtChildren")->text(), "PS: Lots of love to ");
    EXPECT_FALSE(edit("txtChildren")->isEnabled());
    EXPECT_EQ(find<QDateEdit>("dtFromDate")->date(), QDate(2007, 11, 5));
    EXPECT_FALSE(find<QDateEdit>("dtFromDate")->isEnabled());
    EXPECT_TRUE(option("ToOption1")->isChecked());
    EXPECT_EQ(edit("TxtDistList")->text(), "Enter the Outlook email distribution list");
    EXPECT_FALSE(edit("TxtCategory")->isEnabled());
    EXPECT_FALSE(check("ChkBCC1")->isChecked());
    EXPECT_EQ(find<QDateEdit>("dtSendMailOn")->date(), QDate(2026, 5, 10));
}

TEST_F(PrefsFixture, SavingOnePageWritesOnlyItsGroupInItsEncodings)
{
    setSetTask();
    open();
    option("OptBSubjCust")->setChecked(true);
    edit("TxtBSubjCust")->setText("  Party time  ");
    edit("TxtBSubjStd")->clear();
    check("ChkCC")->setChecked(true);
    edit("TxtCC")->setText(" a@example.org ");
    check("ChkPrntCusBNm")->setChecked(true);
    window->SavePrefs();
    EXPECT_EQ(readSetting("CustBSubj"), "Party time");
    EXPECT_EQ(readSetting("StdBSubj"), "");
    EXPECT_EQ(readSetting("CC"), " a@example.org ");
    EXPECT_EQ(readSetting("SendAutomatic"), "TRUE");
    EXPECT_EQ(readSetting("SaveEmailDraft"), "FALSE");
    EXPECT_EQ(readSetting("PrintCustBName"), "1");
    EXPECT_EQ(readSetting("ChildrenTxt"), "PS: Lots of love to ");
    EXPECT_EQ(readSetting("ToOpt1"), ""); // the bulk group is untouched

    find<QTabWidget>("SSTab1")->setCurrentIndex(1);
    option("ToOption2")->setChecked(true);
    window->SavePrefs();
    EXPECT_EQ(readSetting("ToOpt1"), "False");
    EXPECT_EQ(readSetting("ToOpt2"), "True");
    EXPECT_EQ(readSetting("BCC1"), "0");
    EXPECT_EQ(readSetting("DistList"), "Enter the Outlook email distribution list");
    EXPECT_EQ(readSetting("CustBSubj"), "Party time");

    open();
    EXPECT_TRUE(option("OptBSubjCust")->isChecked());
    EXPECT_EQ(edit("TxtBSubjCust")->text(), "Party time");
    EXPECT_FALSE(edit("TxtBSubjStd")->isEnabled());
    EXPECT_TRUE(check("ChkCC")->isChecked());
    EXPECT_TRUE(option("ToOption2")->isChecked());
    EXPECT_TRUE(edit("TxtCategory")->isEnabled());
}

TEST_F(PrefsFixture, AnEmptiedStandardSubjectComesBackAsTheDefault)
{
    setSetTask();
    open();
    edit("TxtBSubjStd")->clear();
    window->SavePrefs();
    EXPECT_EQ(readSetting("StdBSubj"), "");
    EXPECT_EQ(readSetting("CustBSubj"), "");
    open();
    EXPECT_EQ(edit("TxtBSubjStd")->text(), "Happy Birthday !");
    EXPECT_TRUE(option("OptBSubjStd")->isChecked());
}

TEST_F(PrefsFixture, FlagsIgnoreCaseAndHandlersRunAsOnAUsersChange)
{
    common::Clock::setFixed(QDateTime(QDate(2026, 5, 10), QTime(8, 0)));
    setSetTask();
    writeSetting("DayPrior", "true");
    writeSetting("HelpNeeded", "True");
    writeSetting("SendBetweenDates", "TRUE");
    writeSetting("Children", "FALSE");
    writeSetting("ChildrenTxt", "Hugs to ");
    writeSetting("SendMailOn", "1/1/2020");
    writeSetting("BCC1", "1");
    writeSetting("ToOpt3", "True");
    writeSetting("OSalCust", "  Hi all ");
    open();
    EXPECT_TRUE(check("ChkDayPrior")->isChecked());
    EXPECT_TRUE(check("ChkHelpNeeded")->isChecked());
    EXPECT_TRUE(check("chkSendBetweenDates")->isChecked());
    EXPECT_EQ(find<QDateEdit>("dtFromDate")->date(), QDate(2026, 5, 10));
    EXPECT_EQ(find<QDateEdit>("dtToDate")->date(), QDate(2026, 5, 31));
    EXPECT_EQ(edit("txtChildren")->text(), "PS: Lots of love to ");
    EXPECT_FALSE(edit("txtChildren")->isEnabled());
    EXPECT_EQ(find<QDateEdit>("dtSendMailOn")->date(), QDate(2026, 5, 10));
    EXPECT_FALSE(check("ChkBCC1")->isChecked()); // All Contacts clears it
    EXPECT_TRUE(option("OptOSalCust")->isChecked());
    EXPECT_EQ(edit("TxtOSalCust")->text(), "  Hi all ");
}

TEST_F(PrefsFixture, BccSurvivesOnlyWithTheDistributionList)
{
    setSetTask();
    writeSetting("BCC1", "0");
    writeSetting("ToOpt1", "True");
    open();
    EXPECT_FALSE(check("ChkBCC1")->isChecked());
    writeSetting("BCC1", "1");
    writeSetting("ToOpt1", "False");
    writeSetting("ToOpt2", "True");
    open();
    EXPECT_FALSE(check("ChkBCC1")->isChecked());
}

TEST_F(PrefsFixture, PanelHandlers)
{
    common::Clock::setFixed(QDateTime(QDate(2026, 5, 10), QTime(8, 0)));
    setSetTask();
    open();
    check("ChkCC")->setChecked(true);
    edit("TxtCC")->setText("x@example.org");
    check("ChkCC")->setChecked(false);
    EXPECT_EQ(edit("TxtCC")->text(), "");
    EXPECT_FALSE(edit("TxtCC")->isEnabled());
    check("chkChildren")->setChecked(true);
    check("chkChildren")->setChecked(false);
    EXPECT_EQ(edit("txtChildren")->text(), "PS: Lots of love to ");
    option("OptBSalCust")->setChecked(true);
    edit("TxtBSalCust")->setText("Yo");
    option("OptBSalStd")->setChecked(true);
    EXPECT_EQ(edit("TxtBSalCust")->text(), "Yo");
    EXPECT_FALSE(edit("TxtBSalCust")->isEnabled());
    check("chkSendBetweenDates")->setChecked(true);
    check("chkSendBetweenDates")->setChecked(false);
    EXPECT_EQ(find<QDateEdit>("dtToDate")->date(), QDate(2026, 5, 31));
    EXPECT_FALSE(find<QDateEdit>("dtToDate")->isEnabled());

    option("ToOption2")->setChecked(true);
    EXPECT_FALSE(check("ChkBCC1")->isChecked());
    option("ToOption1")->setChecked(true);
    EXPECT_TRUE(check("ChkBCC1")->isChecked());
    check("ChkCC1")->setChecked(true);
    edit("TxtCC1")->setText("y@example.org");
    check("ChkCC1")->setChecked(false);
    EXPECT_EQ(edit("TxtCC1")->text(), "");
}

TEST_F(PrefsFixture, CustomSalutationsAreSavedTrimmedAndRestored)
{
    setSetTask();
    open();
    option("OptBSalCust")->setChecked(true);
    edit("TxtBSalCust")->setText("  Hello there  ");
    option("OptASalCust")->setChecked(true);
    edit("TxtASalCust")->setText(" Dearest ");
    window->SavePrefs();
    find<QTabWidget>("SSTab1")->setCurrentIndex(1);
    option("OptOSalCust")->setChecked(true);
    edit("TxtOSalCust")->setText(" Hi all ");
    check("ChkPrntCusONm")->setChecked(true);
    window->SavePrefs();
    EXPECT_EQ(readSetting("CustBSal"), "Hello there");
    EXPECT_EQ(readSetting("StdBSal"), "");
    EXPECT_EQ(readSetting("CustASal"), "Dearest");
    EXPECT_EQ(readSetting("OSalCust"), "Hi all");
    EXPECT_EQ(readSetting("OSalStd"), "");

    open();
    EXPECT_TRUE(option("OptBSalCust")->isChecked());
    EXPECT_EQ(edit("TxtBSalCust")->text(), "Hello there");
    EXPECT_TRUE(edit("TxtBSalCust")->isEnabled());
    EXPECT_FALSE(edit("TxtBSalStd")->isEnabled());
    EXPECT_EQ(edit("TxtBSalStd")->text(), "Dear");
    EXPECT_TRUE(option("OptASalCust")->isChecked());
    EXPECT_EQ(edit("TxtASalCust")->text(), "Dearest");
    EXPECT_TRUE(option("OptOSalCust")->isChecked());
    EXPECT_EQ(edit("TxtOSalCust")->text(), "Hi all");
    EXPECT_TRUE(check("ChkPrntCusONm")->isChecked());
    // And the runs use them: the page reads what was restored.
    EXPECT_EQ(window->greetingPage().settings().birthday.salutationText(), "Hello there");
    EXPECT_EQ(window->bulkPage().settings().salutationText(), "Hi all");
}
