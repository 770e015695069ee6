// The main window on a laptop screen (1366x768) and on a full HD one scaled
// by 1.5 (1280x720 in the program's own units): run twice by CTest, with the
// offscreen screen set to each. Every control of both pages is in view when
// the window is maximized, and stays so as it is resized down to its least.
#include "support/MainWindowFixture.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QScreen>
#include <QStyle>
#include <QTabWidget>
#include <QTest>

namespace {

// Whether w shows whole, at least at its least size, inside the window.
::testing::AssertionResult inView(QWidget *window, const char *name)
{
    auto *w = window->findChild<QWidget *>(QLatin1String(name));
    if (!w)
        return ::testing::AssertionFailure() << name << " is missing";
    if (!w->isVisible())
        return ::testing::AssertionFailure() << name << " is not visible";
    const QRect r(w->mapTo(window, QPoint(0, 0)), w->size());
    if (!window->rect().contains(r))
        return ::testing::AssertionFailure()
               << name << " at (" << r.x() << "," << r.y() << " " << r.width() << "x" << r.height()
               << ") leaves the window " << window->width() << "x" << window->height();
    const QSize least = w->minimumSizeHint();
    if (r.width() < least.width() || r.height() < least.height())
        return ::testing::AssertionFailure() << name << " is squeezed to " << r.width() << "x" << r.height();
    // A box shows the whole of the text it holds, or of its placeholder.
    if (auto *box = qobject_cast<QLineEdit *>(w)) {
        const QString text = box->text().isEmpty() ? box->placeholderText() : box->text();
        const int inside = box->width() - 2 * box->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, box) -
                           2 * 2 - box->textMargins().left() - box->textMargins().right();
        if (box->fontMetrics().horizontalAdvance(text) > inside)
            return ::testing::AssertionFailure()
                   << name << " cuts \"" << text.toStdString() << "\" at " << r.width() << " px";
    }
    return ::testing::AssertionSuccess();
}

const char *const kGreetingPage[] = {"fraBirthdays",     "fraAnniversaries",  "SSTab2",         "SSTab3",
                                     "CmdBOpen",         "CmdAddBAtt",        "CmdAAtt",        "fraSubjectB",
                                     "fraSalutationB",   "fraSubjectA",       "fraSalutationA", "TxtBSubjStd",
                                     "TxtBSubjCust",     "TxtBSalStd",        "TxtBSalCust",    "TxtASubjStd",
                                     "TxtASubjCust",     "TxtASalStd",        "TxtASalCust",    "lblSubjDateB",
                                     "ChkPrntCusBDt",    "lblSalNameB",       "ChkPrntCusBNm",  "lblSubjDateA",
                                     "ChkPrntCusADt",    "lblSalNameA",       "ChkPrntCusANm",  "chkChildren",
                                     "txtChildren",      "OptHTML",           "ProgressBar1",   "fraEmailPreferences",
                                     "OptSendAutomatic", "OptSaveEmailDraft", "TxtCC",          "TxtBCC",
                                     "ChkDayPrior",      "dtFromDate",        "dtToDate",       "ChkHelpNeeded",
                                     "BtnSendEmails"};
const char *const kBulkPage[] = {
    "lblBulkInfo",    "fraBulkEmails",  "SSTab4",      "CmdOOpen",      "CmdOAtt",
    "TxtSubject",     "fraSendEmailTo", "TxtDistList", "TxtCategory",   "ToOption3",
    "fraSalutationO", "TxtOSalStd",     "TxtOSalCust", "ChkPrntCusONm", "fraEmailPreferences1",
    "OptSendAuto",    "OptSaveDraft",   "TxtCC1",      "ChkBCC1",       "dtSendMailOn",
    "OptHTML1",       "BtnSendOEmails"};

} // namespace

TEST_F(MainWindowFixture, EveryControlIsInViewMaximizedAndResized)
{
    open();
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    window->showMaximized();
    QCoreApplication::processEvents();
    EXPECT_LE(window->frameGeometry().width(), screen.width());
    EXPECT_LE(window->frameGeometry().height(), screen.height());
    // Room left for a desktop's panel and the title bar: about 70 px.
    EXPECT_LE(window->minimumSizeHint().height() + 70, screen.height());
    EXPECT_LE(window->minimumSizeHint().width(), screen.width());

    auto *pages = find<QTabWidget>("SSTab1");
    const QSize least = window->minimumSizeHint();
    for (const QSize size : {window->size(), QSize(least.width() + 40, least.height() + 20), least}) {
        window->showNormal();
        window->resize(size);
        for (int page = 0; page < 2; ++page) {
            pages->setCurrentIndex(page);
            QCoreApplication::processEvents();
            for (const char *name : page == 0
                                        ? std::vector<const char *>(std::begin(kGreetingPage), std::end(kGreetingPage))
                                        : std::vector<const char *>(std::begin(kBulkPage), std::end(kBulkPage)))
                EXPECT_TRUE(inView(window.get(), name)) << "at " << size.width() << "x" << size.height();
            for (const char *name : {"StatusBar1", "pnlText", "pnlCaps", "pnlNum", "pnlDate", "pnlTime"})
                EXPECT_TRUE(inView(window.get(), name)) << "at " << size.width() << "x" << size.height();
        }
    }
    // The editors take the room that is left.
    window->showMaximized();
    pages->setCurrentIndex(0);
    QCoreApplication::processEvents();
    EXPECT_GT(find<QWidget>("SSTab2")->height(), window->height() / 3);
}

// Not a check: with CHEERPOST_SCREENSHOTS=<folder>, saves both pages as the
// window shows them maximized, with the demo templates open
// (scripts/screenshots.sh keeps them in docs/).
TEST_F(MainWindowFixture, Screenshots)
{
    const QString folder = qEnvironmentVariable("CHEERPOST_SCREENSHOTS");
    if (folder.isEmpty())
        GTEST_SKIP() << "CHEERPOST_SCREENSHOTS is not set";
    const QString templates = qEnvironmentVariable("CHEERPOST_SCREENSHOT_TEMPLATES");
    open();
    window->showMaximized();
    dialogs.answers = {templates + QStringLiteral("/birthday.html"), templates + QStringLiteral("/anniversary.html"),
                       templates + QStringLiteral("/bulk.html")};
    auto *pages = find<QTabWidget>("SSTab1");
    find<QAbstractButton>("CmdBOpen")->click();
    find<QAbstractButton>("CmdAOpen")->click();
    pages->setCurrentIndex(1);
    find<QAbstractButton>("CmdOOpen")->click();
    const QString size = QStringLiteral("%1x%2").arg(window->width()).arg(window->height());
    for (int page = 0; page < 2; ++page) {
        pages->setCurrentIndex(page);
        QTest::qWait(3000);
        const QString file = QStringLiteral("%1/%2-%3.png")
                                 .arg(folder, page == 0 ? QStringLiteral("greetings") : QStringLiteral("bulk"),
                                      qEnvironmentVariable("CHEERPOST_SCREENSHOT_NAME", size));
        EXPECT_TRUE(window->grab().save(file)) << file.toStdString();
    }
}
