#include "shell/views/Preferences.h"

#include "shell/core/Clock.h"
#include "shell/core/SettingsKey.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QLocale>
#include <QRadioButton>
#include <QTabWidget>

namespace shell {

namespace {

class Controls {
public:
    explicit Controls(QWidget *w) : m_window(w) {}
    template <typename T> T *get(const char *name) const
    {
        T *w = m_window->findChild<T *>(QLatin1String(name));
        Q_ASSERT_X(w, "Preferences", name);
        return w;
    }
    QRadioButton *option(const char *n) const { return get<QRadioButton>(n); }
    QCheckBox *check(const char *n) const { return get<QCheckBox>(n); }
    QLineEdit *edit(const char *n) const { return get<QLineEdit>(n); }

private:
    QWidget *m_window;
};

bool is(const QString &value, const char *trueForm)
{
    return value.compare(QLatin1String(trueForm), Qt::CaseInsensitive) == 0;
}

QString flag(bool on, const char *yes, const char *no)
{
    return QLatin1String(on ? yes : no);
}

// A stored text with its check box: non-empty checks it and fills the box.
void restoreChecked(const Controls &c, const QString &value, const char *check, const char *box)
{
    if (value.isEmpty())
        return;
    c.check(check)->setChecked(true);
    c.edit(box)->setText(value);
    c.edit(box)->setEnabled(true);
}

// One member of a subject or salutation pair: non-empty selects its option.
void restorePairMember(const Controls &c, const QString &value, const char *option, const char *box)
{
    if (value.isEmpty())
        return;
    c.option(option)->setChecked(true);
    c.edit(box)->setText(value);
}

void writePair(const Controls &c, const char *custOption, const char *stdBox, const char *custBox, const char *stdName,
               const char *custName)
{
    const bool custom = c.option(custOption)->isChecked();
    writeSetting(QLatin1String(stdName), custom ? QString() : c.edit(stdBox)->text().trimmed());
    writeSetting(QLatin1String(custName), custom ? c.edit(custBox)->text().trimmed() : QString());
}

} // namespace

void restorePreferences(QWidget *window)
{
    const Controls c(window);
    auto v = [](const char *name) { return readSetting(QLatin1String(name)); };

    if (is(v("SendAutomatic"), "TRUE"))
        c.option("OptSendAutomatic")->setChecked(true);
    if (is(v("SaveEmailDraft"), "TRUE"))
        c.option("OptSaveEmailDraft")->setChecked(true);
    restoreChecked(c, v("CC"), "ChkCC", "TxtCC");
    restoreChecked(c, v("BCC"), "ChkBCC", "TxtBCC");
    c.check("ChkHelpNeeded")->setChecked(is(v("HelpNeeded"), "TRUE"));
    restorePairMember(c, v("CustBSubj"), "OptBSubjCust", "TxtBSubjCust");
    restorePairMember(c, v("CustASubj"), "OptASubjCust", "TxtASubjCust");
    restorePairMember(c, v("CustBSal"), "OptBSalCust", "TxtBSalCust");
    restorePairMember(c, v("CustASal"), "OptASalCust", "TxtASalCust");
    restorePairMember(c, v("StdBSubj"), "OptBSubjStd", "TxtBSubjStd");
    restorePairMember(c, v("StdASubj"), "OptASubjStd", "TxtASubjStd");
    restorePairMember(c, v("StdBSal"), "OptBSalStd", "TxtBSalStd");
    restorePairMember(c, v("StdASal"), "OptASalStd", "TxtASalStd");
    c.check("ChkDayPrior")->setChecked(is(v("DayPrior"), "TRUE"));
    c.check("chkSendBetweenDates")->setChecked(is(v("SendBetweenDates"), "TRUE"));
    if (is(v("Children"), "TRUE")) {
        c.check("chkChildren")->setChecked(true);
        c.edit("txtChildren")->setEnabled(true);
        c.edit("txtChildren")->setText(v("ChildrenTxt"));
    } else {
        c.check("chkChildren")->setChecked(false);
        c.edit("txtChildren")->setEnabled(false);
    }
    c.check("ChkPrntCusBNm")->setChecked(v("PrintCustBName") == QLatin1String("1"));
    c.check("ChkPrntCusANm")->setChecked(v("PrintCustAName") == QLatin1String("1"));
    c.check("ChkPrntCusBDt")->setChecked(v("PrintCustBDate") == QLatin1String("1"));
    c.check("ChkPrntCusADt")->setChecked(v("PrintCustADate") == QLatin1String("1"));

    if (is(v("SendAuto"), "TRUE"))
        c.option("OptSendAuto")->setChecked(true);
    if (is(v("SaveDraft"), "TRUE"))
        c.option("OptSaveDraft")->setChecked(true);
    restoreChecked(c, v("CC1"), "ChkCC1", "TxtCC1");
    c.check("ChkBCC1")->setChecked(v("BCC1") == QLatin1String("1"));
    if (const QString subject = v("OSubj"); !subject.isEmpty())
        c.edit("TxtSubject")->setText(subject);
    restorePairMember(c, v("OSalStd"), "OptOSalStd", "TxtOSalStd");
    restorePairMember(c, v("OSalCust"), "OptOSalCust", "TxtOSalCust");
    if (is(v("ToOpt1"), "True")) {
        c.option("ToOption1")->setChecked(true);
        c.edit("TxtDistList")->setText(v("DistList"));
    }
    if (is(v("ToOpt2"), "True")) {
        c.option("ToOption2")->setChecked(true);
        c.edit("TxtCategory")->setText(v("Category"));
    }
    if (is(v("ToOpt3"), "True"))
        c.option("ToOption3")->setChecked(true);
    c.get<QDateEdit>("dtSendMailOn")->setDate(Clock::today());
    c.check("ChkPrntCusONm")->setChecked(v("PrintCustOName") == QLatin1String("1"));
}

void SavePrefs(QWidget *window)
{
    const Controls c(window);
    auto checked = [&](const char *name) { return c.get<QAbstractButton>(name)->isChecked(); };
    auto put = [](const char *name, const QString &value) { writeSetting(QLatin1String(name), value); };
    if (c.get<QTabWidget>("SSTab1")->currentIndex() == 0) {
        put("SendAutomatic", flag(checked("OptSendAutomatic"), "TRUE", "FALSE"));
        put("SaveEmailDraft", flag(checked("OptSaveEmailDraft"), "TRUE", "FALSE"));
        put("CC", c.edit("TxtCC")->text());
        put("BCC", c.edit("TxtBCC")->text());
        put("HelpNeeded", flag(checked("ChkHelpNeeded"), "TRUE", "FALSE"));
        writePair(c, "OptBSubjCust", "TxtBSubjStd", "TxtBSubjCust", "StdBSubj", "CustBSubj");
        writePair(c, "OptASubjCust", "TxtASubjStd", "TxtASubjCust", "StdASubj", "CustASubj");
        writePair(c, "OptBSalCust", "TxtBSalStd", "TxtBSalCust", "StdBSal", "CustBSal");
        writePair(c, "OptASalCust", "TxtASalStd", "TxtASalCust", "StdASal", "CustASal");
        put("DayPrior", flag(checked("ChkDayPrior"), "TRUE", "FALSE"));
        put("Children", flag(checked("chkChildren"), "TRUE", "FALSE"));
        put("ChildrenTxt", c.edit("txtChildren")->text());
        put("SendBetweenDates", flag(checked("chkSendBetweenDates"), "TRUE", "FALSE"));
        put("PrintCustBName", flag(checked("ChkPrntCusBNm"), "1", "0"));
        put("PrintCustAName", flag(checked("ChkPrntCusANm"), "1", "0"));
        put("PrintCustBDate", flag(checked("ChkPrntCusBDt"), "1", "0"));
        put("PrintCustADate", flag(checked("ChkPrntCusADt"), "1", "0"));
        return;
    }
    put("SendAuto", flag(checked("OptSendAuto"), "TRUE", "FALSE"));
    put("SaveDraft", flag(checked("OptSaveDraft"), "TRUE", "FALSE"));
    put("CC1", c.edit("TxtCC1")->text());
    put("OSubj", c.edit("TxtSubject")->text());
    writePair(c, "OptOSalCust", "TxtOSalStd", "TxtOSalCust", "OSalStd", "OSalCust");
    put("ToOpt1", flag(checked("ToOption1"), "True", "False"));
    put("ToOpt2", flag(checked("ToOption2"), "True", "False"));
    put("ToOpt3", flag(checked("ToOption3"), "True", "False"));
    put("DistList", c.edit("TxtDistList")->text());
    put("Category", c.edit("TxtCategory")->text());
    put("BCC1", flag(checked("ChkBCC1"), "1", "0"));
    put("SendMailOn", QLocale::system().toString(c.get<QDateEdit>("dtSendMailOn")->date(), QLocale::ShortFormat));
    put("PrintCustOName", flag(checked("ChkPrntCusONm"), "1", "0"));
}

} // namespace shell
