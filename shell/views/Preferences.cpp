#include "shell/views/Preferences.h"

#include "common/core/Clock.h"
#include "common/views/Controls.h"
#include "shell/core/SettingsKey.h"

#include "common/core/ShortDate.h"
#include <QCheckBox>
#include <QDateEdit>
#include <QLineEdit>

#include <QLocale>
#include <QRadioButton>
#include <QTabWidget>

namespace shell {

using common::requireChild;

namespace {

const char *const kOptions[] = {"OptSendAutomatic", "OptSaveEmailDraft", "OptBSubjStd", "OptBSubjCust", "OptASubjStd",
                                "OptASubjCust",     "OptBSalStd",        "OptBSalCust", "OptASalStd",   "OptASalCust",
                                "OptSendAuto",      "OptSaveDraft",      "OptOSalStd",  "OptOSalCust",  "ToOption1",
                                "ToOption2",        "ToOption3"};
const char *const kChecks[] = {"ChkCC",       "ChkBCC",        "ChkHelpNeeded", "ChkDayPrior",   "chkSendBetweenDates",
                               "chkChildren", "ChkPrntCusBNm", "ChkPrntCusANm", "ChkPrntCusBDt", "ChkPrntCusADt",
                               "ChkCC1",      "ChkBCC1",       "ChkPrntCusONm"};
const char *const kEdits[] = {"TxtCC",      "TxtBCC",      "TxtBSubjStd", "TxtBSubjCust", "TxtASubjStd", "TxtASubjCust",
                              "TxtBSalStd", "TxtBSalCust", "TxtASalStd",  "TxtASalCust",  "txtChildren", "TxtCC1",
                              "TxtSubject", "TxtOSalStd",  "TxtOSalCust", "TxtDistList",  "TxtCategory"};

bool is(const QString &value, const char *trueForm)
{
    return value.compare(QLatin1String(trueForm), Qt::CaseInsensitive) == 0;
}

QString flag(bool on, const char *yes, const char *no)
{
    return QLatin1String(on ? yes : no);
}

QString v(const char *name)
{
    return readSetting(QLatin1String(name));
}

bool g_allWritten = true; // every put of the current SavePrefs reached the store

void put(const char *name, const QString &value)
{
    g_allWritten = writeSetting(QLatin1String(name), value) && g_allWritten;
}

} // namespace

Preferences::Preferences(QWidget *window)
    : m_pages(requireChild<QTabWidget>(window, "SSTab1")), m_sendMailOn(requireChild<QDateEdit>(window, "dtSendMailOn"))
{
    for (const char *name : kOptions)
        m_controls.insert(name, requireChild<QRadioButton>(window, name));
    for (const char *name : kChecks)
        m_controls.insert(name, requireChild<QCheckBox>(window, name));
    for (const char *name : kEdits)
        m_controls.insert(name, requireChild<QLineEdit>(window, name));
}

QRadioButton *Preferences::option(const char *name) const
{
    return static_cast<QRadioButton *>(m_controls.value(name));
}
QCheckBox *Preferences::check(const char *name) const
{
    return static_cast<QCheckBox *>(m_controls.value(name));
}
QLineEdit *Preferences::edit(const char *name) const
{
    return static_cast<QLineEdit *>(m_controls.value(name));
}
bool Preferences::checked(const char *name) const
{
    return static_cast<QAbstractButton *>(m_controls.value(name))->isChecked();
}

// A stored text with its check box: non-empty checks it and fills the box.
void Preferences::restoreChecked(const QString &value, const char *checkName, const char *box) const
{
    if (value.isEmpty())
        return;
    check(checkName)->setChecked(true);
    edit(box)->setText(value);
    edit(box)->setEnabled(true);
}

// One member of a subject or salutation pair: non-empty selects its option.
void Preferences::restorePairMember(const QString &value, const char *optionName, const char *box) const
{
    if (value.isEmpty())
        return;
    option(optionName)->setChecked(true);
    edit(box)->setText(value);
}

void Preferences::writePair(const char *custOption, const char *stdBox, const char *custBox, const char *stdName,
                            const char *custName) const
{
    const bool custom = option(custOption)->isChecked();
    put(stdName, custom ? QString() : edit(stdBox)->text().trimmed());
    put(custName, custom ? edit(custBox)->text().trimmed() : QString());
}

void Preferences::restore() const
{
    if (is(v("SendAutomatic"), "TRUE"))
        option("OptSendAutomatic")->setChecked(true);
    if (is(v("SaveEmailDraft"), "TRUE"))
        option("OptSaveEmailDraft")->setChecked(true);
    restoreChecked(v("CC"), "ChkCC", "TxtCC");
    restoreChecked(v("BCC"), "ChkBCC", "TxtBCC");
    check("ChkHelpNeeded")->setChecked(is(v("HelpNeeded"), "TRUE"));
    restorePairMember(v("CustBSubj"), "OptBSubjCust", "TxtBSubjCust");
    restorePairMember(v("CustASubj"), "OptASubjCust", "TxtASubjCust");
    restorePairMember(v("CustBSal"), "OptBSalCust", "TxtBSalCust");
    restorePairMember(v("CustASal"), "OptASalCust", "TxtASalCust");
    restorePairMember(v("StdBSubj"), "OptBSubjStd", "TxtBSubjStd");
    restorePairMember(v("StdASubj"), "OptASubjStd", "TxtASubjStd");
    restorePairMember(v("StdBSal"), "OptBSalStd", "TxtBSalStd");
    restorePairMember(v("StdASal"), "OptASalStd", "TxtASalStd");
    check("ChkDayPrior")->setChecked(is(v("DayPrior"), "TRUE"));
    check("chkSendBetweenDates")->setChecked(is(v("SendBetweenDates"), "TRUE"));
    if (is(v("Children"), "TRUE")) {
        check("chkChildren")->setChecked(true);
        edit("txtChildren")->setEnabled(true);
        edit("txtChildren")->setText(v("ChildrenTxt"));
    } else {
        check("chkChildren")->setChecked(false);
        edit("txtChildren")->setEnabled(false);
    }
    check("ChkPrntCusBNm")->setChecked(v("PrintCustBName") == QLatin1String("1"));
    check("ChkPrntCusANm")->setChecked(v("PrintCustAName") == QLatin1String("1"));
    check("ChkPrntCusBDt")->setChecked(v("PrintCustBDate") == QLatin1String("1"));
    check("ChkPrntCusADt")->setChecked(v("PrintCustADate") == QLatin1String("1"));

    if (is(v("SendAuto"), "TRUE"))
        option("OptSendAuto")->setChecked(true);
    if (is(v("SaveDraft"), "TRUE"))
        option("OptSaveDraft")->setChecked(true);
    restoreChecked(v("CC1"), "ChkCC1", "TxtCC1");
    check("ChkBCC1")->setChecked(v("BCC1") == QLatin1String("1"));
    if (const QString subject = v("OSubj"); !subject.isEmpty())
        edit("TxtSubject")->setText(subject);
    restorePairMember(v("OSalStd"), "OptOSalStd", "TxtOSalStd");
    restorePairMember(v("OSalCust"), "OptOSalCust", "TxtOSalCust");
    if (is(v("ToOpt1"), "True")) {
        option("ToOption1")->setChecked(true);
        edit("TxtDistList")->setText(v("DistList"));
    }
    if (is(v("ToOpt2"), "True")) {
        option("ToOption2")->setChecked(true);
        edit("TxtCategory")->setText(v("Category"));
    }
    if (is(v("ToOpt3"), "True"))
        option("ToOption3")->setChecked(true);
    m_sendMailOn->setDate(common::Clock::today());
    check("ChkPrntCusONm")->setChecked(v("PrintCustOName") == QLatin1String("1"));
}

bool Preferences::SavePrefs() const
{
    g_allWritten = true;
    if (m_pages->currentIndex() == 0) {
        put("SendAutomatic", flag(checked("OptSendAutomatic"), "TRUE", "FALSE"));
        put("SaveEmailDraft", flag(checked("OptSaveEmailDraft"), "TRUE", "FALSE"));
        put("CC", edit("TxtCC")->text());
        put("BCC", edit("TxtBCC")->text());
        put("HelpNeeded", flag(checked("ChkHelpNeeded"), "TRUE", "FALSE"));
        writePair("OptBSubjCust", "TxtBSubjStd", "TxtBSubjCust", "StdBSubj", "CustBSubj");
        writePair("OptASubjCust", "TxtASubjStd", "TxtASubjCust", "StdASubj", "CustASubj");
        writePair("OptBSalCust", "TxtBSalStd", "TxtBSalCust", "StdBSal", "CustBSal");
        writePair("OptASalCust", "TxtASalStd", "TxtASalCust", "StdASal", "CustASal");
        put("DayPrior", flag(checked("ChkDayPrior"), "TRUE", "FALSE"));
        put("Children", flag(checked("chkChildren"), "TRUE", "FALSE"));
        put("ChildrenTxt", edit("txtChildren")->text());
        put("SendBetweenDates", flag(checked("chkSendBetweenDates"), "TRUE", "FALSE"));
        put("PrintCustBName", flag(checked("ChkPrntCusBNm"), "1", "0"));
        put("PrintCustAName", flag(checked("ChkPrntCusANm"), "1", "0"));
        put("PrintCustBDate", flag(checked("ChkPrntCusBDt"), "1", "0"));
        put("PrintCustADate", flag(checked("ChkPrntCusADt"), "1", "0"));
        return g_allWritten;
    }
    put("SendAuto", flag(checked("OptSendAuto"), "TRUE", "FALSE"));
    put("SaveDraft", flag(checked("OptSaveDraft"), "TRUE", "FALSE"));
    put("CC1", edit("TxtCC1")->text());
    put("OSubj", edit("TxtSubject")->text());
    writePair("OptOSalCust", "TxtOSalStd", "TxtOSalCust", "OSalStd", "OSalCust");
    put("ToOpt1", flag(checked("ToOption1"), "True", "False"));
    put("ToOpt2", flag(checked("ToOption2"), "True", "False"));
    put("ToOpt3", flag(checked("ToOption3"), "True", "False"));
    put("DistList", edit("TxtDistList")->text());
    put("Category", edit("TxtCategory")->text());
    put("BCC1", flag(checked("ChkBCC1"), "1", "0"));
    put("SendMailOn", common::dateText(m_sendMailOn->date()));
    put("PrintCustOName", flag(checked("ChkPrntCusONm"), "1", "0"));
    return g_allWritten;
}

} // namespace shell
