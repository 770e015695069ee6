#include "export/views/frmiPodExport.h"
#include "shell/core/LaunchTask.h"
#include "shell/core/SettingsKey.h"
#include "shell/views/frmAbout.h"
#include "shell/views/frmSplash.h"
#include "support/Eventually.h"
#include "support/Golden.h"
#include "support/MainWindowFixture.h"
#include "support/Radicale.h"

#include "hostmail/delivery/Delivery.h"
#include "hostmail/delivery/DeliveryState.h"
#include "hostmail/mime/MimeMessage.h"
#include "hostmail/model/MailItem.h"
#include "hostmail/store/Maildir.h"
#include "shell/views/frmAccounts.h"
#include "shell/views/frmOutbox.h"
#include "templates/views/DesignEditor.h"

#include <atomic>
#include <optional>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTabWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>

using namespace shell;

namespace {

QStringList taskFiles(const TempStore &s)
{
    return s.files(s.paths.tasks);
}

} // namespace

TEST_F(MainWindowFixture, EveryControlExistsUnderItsName)
{
    open();
    const char *names[] = {"SSTab1",
                           "SSTab2",
                           "SSTab3",
                           "SSTab4",
                           "EditorA",
                           "EditorB",
                           "EditorO",
                           "txtSourceA",
                           "txtSourceB",
                           "txtSourceO",
                           "WbrPreviewA",
                           "WbrPreviewB",
                           "WbrPreviewO",
                           "CmdBOpen",
                           "CmdBSave",
                           "CmdBImage",
                           "CmdBFont",
                           "CmdAddBAtt",
                           "TxtBFile",
                           "CmdAOpen",
                           "CmdASave",
                           "CmdAImage",
                           "CmdAFont",
                           "CmdAAtt",
                           "TxtAFile",
                           "CmdOOpen",
                           "CmdOSave",
                           "CmdOImage",
                           "CmdOFont",
                           "CmdOAtt",
                           "TxtOFile",
                           "OptBSubjStd",
                           "OptBSubjCust",
                           "TxtBSubjStd",
                           "TxtBSubjCust",
                           "ChkPrntCusBDt",
                           "OptBSalStd",
                           "OptBSalCust",
                           "TxtBSalStd",
                           "TxtBSalCust",
                           "ChkPrntCusBNm",
                           "OptASubjStd",
                           "OptASubjCust",
                           "TxtASubjStd",
                           "TxtASubjCust",
                           "ChkPrntCusADt",
                           "OptASalStd",
                           "OptASalCust",
                           "TxtASalStd",
                           "TxtASalCust",
                           "ChkPrntCusANm",
                           "chkChildren",
                           "txtChildren",
                           "OptHTML",
                           "ProgressBar1",
                           "OptSendAutomatic",
                           "OptSaveEmailDraft",
                           "ChkCC",
                           "TxtCC",
                           "ChkBCC",
                           "TxtBCC",
                           "ChkDayPrior",
                           "chkSendBetweenDates",
                           "dtFromDate",
                           "dtToDate",
                           "ChkHelpNeeded",
                           "BtnSendEmails",
                           "TxtSubject",
                           "ToOption1",
                           "ToOption2",
                           "ToOption3",
                           "TxtDistList",
                           "TxtCategory",
                           "OptOSalStd",
                           "OptOSalCust",
                           "TxtOSalStd",
                           "TxtOSalCust",
                           "ChkPrntCusONm",
                           "OptSendAuto",
                           "OptSaveDraft",
                           "ChkCC1",
                           "TxtCC1",
                           "ChkBCC1",
                           "dtSendMailOn",
                           "OptHTML1",
                           "BtnSendOEmails",
                           "Toolbar1",
                           "StatusBar1",
                           "cmdApply",
                           "cmdCancel"};
    for (const char *name : names)
        EXPECT_NE(window->findChild<QObject *>(QLatin1String(name)), nullptr) << name;

    EXPECT_EQ(window->windowTitle(), "Cheerpost");
    auto *tabs = find<QTabWidget>("SSTab1");
    EXPECT_EQ(tabs->tabText(0), "Birthday - Anniversary Emails");
    EXPECT_EQ(tabs->tabText(1), "Bulk Emails");
    for (const char *t : {"SSTab2", "SSTab3", "SSTab4"}) {
        auto *editorTabs = find<QTabWidget>(t);
        EXPECT_EQ(QStringList({editorTabs->tabText(0), editorTabs->tabText(1), editorTabs->tabText(2)}),
                  QStringList({"Design", "HTML", "Preview"}));
    }
    EXPECT_EQ(find<QPushButton>("BtnSendEmails")->toolTip(), "Send Emails");
}

TEST_F(MainWindowFixture, ToolbarMenusAndStatusBar)
{
    open();
    auto *toolbar = find<QToolBar>("Toolbar1");
    EXPECT_EQ(toolbar->iconSize(), QSize(32, 32));
    QStringList texts;
    for (QAction *a : toolbar->actions())
        texts.append(a->isSeparator() ? QStringLiteral("|") : a->toolTip());
    EXPECT_EQ(texts, QStringList({"Save Preferences", "|", "About", "Help", "Sync with iPod",
                                  "Generate Reminders after Import", "|", "|", "Exit"}));
    QStringList menus;
    for (QAction *m : window->menuBar()->actions()) {
        menus.append(m->text());
        for (QAction *a : m->menu()->actions())
            menus.append(a->isSeparator() ? QStringLiteral("-")
                                          : a->text() + QLatin1Char('/') + a->shortcut().toString());
    }
    EXPECT_EQ(menus, QStringList({"&File", "&Save Preferences/Ctrl+S", "&Outbox.../", "&Accounts.../", "-",
                                  "&Export to iPod / External Drive.../", "&Generate Reminders after Import/", "-",
                                  "Exit/Ctrl+Q", "&Edit", "Cut/Ctrl+X", "Copy/Ctrl+C", "Paste/Ctrl+V", "&Help",
                                  "Contents/F1", "-", "About Cheerpost/"}));
    const QList<QLabel *> panels =
        find<QStatusBar>("StatusBar1")->findChildren<QLabel *>(QString(), Qt::FindDirectChildrenOnly);
    ASSERT_EQ(panels.size(), 6);
    EXPECT_EQ(panels.at(1)->text(), "CAPS");
    EXPECT_EQ(panels.at(2)->text(), "NUM");
    EXPECT_TRUE(panels.at(5)->text().isEmpty());
}

TEST_F(MainWindowFixture, FirstStartCreatesTheLaunchTaskOnceAndDecemberRolls)
{
    common::Clock::setFixed(QDateTime(QDate(2026, 12, 8), QTime(9, 0)));
    open();
    ASSERT_EQ(taskFiles(store).size(), 1);
    EXPECT_EQ(hostOpenings, 1);
    // Monthly on day 1 from 1 January, high importance, with a reminder.
    const QString task = taskFiles(store).first();
    EXPECT_TRUE(
        matchesGolden(stableCalendar(store.read(task), QFileInfo(task).baseName().toUtf8()), "launch-task.ics.ref"));
    EXPECT_EQ(readSetting(QStringLiteral("SetTask")), "1");

    // Second start: no task, and the host is not even opened.
    open();
    EXPECT_EQ(hostOpenings, 1);
    EXPECT_EQ(taskFiles(store).size(), 1);
    EXPECT_EQ(launchTaskStart(QDate(2026, 1, 31)), QDate(2026, 2, 1));
}

TEST_F(MainWindowFixture, AHostFailureLeavesSetTaskEmptyAndStartsAnyway)
{
    hostFails = true;
    open();
    EXPECT_TRUE(readSetting(QStringLiteral("SetTask")).isEmpty());
    EXPECT_TRUE(prompter.boxes.isEmpty());
    EXPECT_TRUE(taskFiles(store).isEmpty());
}

TEST_F(MainWindowFixture, AboutIsOneWindowClosedByEnterOrEscape)
{
    open();
    window->showAbout();
    QPointer<frmAbout> about = window->aboutWindow();
    ASSERT_TRUE(about);
    window->showAbout();
    EXPECT_EQ(window->aboutWindow(), about);
    EXPECT_EQ(about->findChild<QLabel *>("lblVersion")->text(), "Version 5.0.0");
    EXPECT_EQ(about->windowTitle(), "About");
    QTest::keyClick(about, Qt::Key_Escape);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(about);
    window->showAbout();
    about = window->aboutWindow();
    QTest::keyClick(about->findChild<QPushButton *>("cmdOK"), Qt::Key_Return);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(about);

    // No system information tool: the message.
    window->showAbout();
    window->aboutWindow()->toolCandidates = {QStringLiteral("no-such-tool-here")};
    window->aboutWindow()->StartSysInfo();
    EXPECT_EQ(prompter.texts().last(), "System Information Is Unavailable At This Time");
}

TEST_F(MainWindowFixture, ExitClosesEveryWindow)
{
    open();
    window->show();
    window->showAbout();
    QPointer<frmAbout> about = window->aboutWindow();
    window->exitProgram();
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(!about || !about->isVisible());
}

TEST(Splash, AKeyOrAClickDismissesIt)
{
    frmSplash splash;
    EXPECT_EQ(splash.findChild<QLabel *>("lblVersion")->text(), "Version 5.0.0");
    EXPECT_EQ(splash.findChild<QLabel *>("lblPlatform")->text(), "Windows Vista/XP/2000/98");
    QSignalSpy spy(&splash, &frmSplash::dismissed);
    QTest::keyClick(&splash, Qt::Key_Shift); // no character
    EXPECT_EQ(spy.count(), 0);
    QTest::keyClick(&splash, Qt::Key_Escape);
    EXPECT_EQ(spy.count(), 1);
    frmSplash second;
    QSignalSpy clicked(&second, &frmSplash::dismissed);
    QTest::mouseClick(second.findChild<QPushButton *>("Command1"), Qt::LeftButton);
    EXPECT_EQ(clicked.count(), 1);
}

TEST_F(MainWindowFixture, SendButtonsRunTheCommandsFromThePages)
{
    common::Clock::setFixed(QDateTime(QDate(2026, 3, 10), QTime(9, 0)));
    store.addCard("a.vcf", card("Anna", "Berg", "BDAY:1985-03-14\r\nCATEGORIES:Family\r\n", "anna@example.org"));
    open();
    find<QRadioButton>("OptSaveEmailDraft")->setChecked(true);
    auto *design = window->findChild<templates::DesignEditor *>("EditorB");
    design->setDocument("<html><body><p>Cheers</p></body></html>");
    design->documentHtml();
    QTest::mouseClick(find<QPushButton>("BtnSendEmails"), Qt::LeftButton);
    EXPECT_EQ(find<QProgressBar>("ProgressBar1")->value(), 100);
    ASSERT_EQ(store.drafts().size(), 1);
    EXPECT_TRUE(hostmail::mime::bodyText(store.read(store.drafts().first())).contains("<BODY>Dear Anna,<p>Cheers</p>"));
    EXPECT_EQ(prompter.texts().last(), "All birthday & anniversary emails have been generated.\n\n1 greeting saved "
                                       "in Drafts (" +
                                           store.paths.drafts() + ").");

    find<QTabWidget>("SSTab1")->setCurrentIndex(1);
    find<QRadioButton>("ToOption2")->setChecked(true);
    find<QLineEdit>("TxtCategory")->setText("family");
    find<QRadioButton>("OptSaveDraft")->setChecked(true);
    QTest::mouseClick(find<QPushButton>("BtnSendOEmails"), Qt::LeftButton);
    EXPECT_EQ(store.drafts().size(), 2);
    // The example bulk template's body tag carries a style: no salutation, and the message says so.
    EXPECT_EQ(prompter.texts().last(),
              "All emails have been generated.\n\n1 message saved in Drafts (" + store.paths.drafts() +
                  ").\nThe messages carry no salutation: the template has no plain <BODY> tag to put it after (a "
                  "body tag with attributes gets none).");
}

TEST_F(MainWindowFixture, AHangingSessionBusNeverBlocksTheWindow)
{
    // A systemctl that hangs, as on a stuck session bus: the real check
    // runs it, and the window goes on answering meanwhile.
    const QString bin = store.dir.path() + "/bin";
    QDir().mkpath(bin);
    store.write(bin + "/systemctl", "#!/bin/sh\nwhile [ ! -e \"$(dirname \"$0\")/stop\" ]; do sleep 0.1; done\n"
                                    "echo 'Failed to connect to bus: No medium found' >&2\nexit 1\n");
    QFile::setPermissions(bin + "/systemctl", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    services.deliveryTimer = [bin] { return ensureDeliveryTimer(bin + "/systemctl"); };
    common::Clock::setFixed(QDateTime(QDate(2026, 3, 10), QTime(9, 0)));
    store.addCard("a.vcf", card("Anna", "Berg", "BDAY:1985-03-14\r\n", "anna@example.org"));
    open();
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(find<QPushButton>("BtnSendEmails"), Qt::LeftButton);
    EXPECT_LT(clock.elapsed(), 5000);
    bool ticked = false;
    QTimer::singleShot(50, [&] { ticked = true; });
    ASSERT_TRUE(eventually([&] { return ticked; }, 2000)); // the event loop runs
    EXPECT_TRUE(find<QStatusBar>("StatusBar1")->currentMessage().isEmpty());
    store.write(bin + "/stop", ""); // the bus answers at last
    EXPECT_TRUE(eventually(
        [&] {
            return find<QStatusBar>("StatusBar1")
                ->currentMessage()
                .startsWith("Mail for a later day waits in the Outbox");
        },
        10000));
}

TEST_F(MainWindowFixture, FailedAndHeldMailShowsInTheWindowWithSendAgainAndRemove)
{
    // Two messages: one whose delivery failed, one interrupted while handed over.
    store.paths.deliveryCommand = store.dir.path() + "/fail.sh";
    store.write(store.paths.deliveryCommand, "#!/bin/sh\necho 'no account' >&2\nexit 78\n");
    QFile::setPermissions(store.paths.deliveryCommand, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QStringList queued;
    for (const char *to : {"anna@example.org", "tom@example.org"}) {
        auto mail = hostmail::Application(store.paths).CreateMailItem();
        mail->setTo(QString::fromLatin1(to));
        mail->setSubject(QStringLiteral("Happy Birthday !"));
        mail->setHTMLBody(QStringLiteral("<html><body>Hi</body></html>"));
        queued.append(mail->Send());
    }
    hostmail::DeliveryState state(store.paths.mail + "/.cheerpost-delivery-state");
    state.set(hostmail::Maildir::baseName(queued.at(1)), {hostmail::DeliveryState::Stage::Sending, 0, {}, {}});
    state.save();
    hostmail::Delivery(store.paths).deliverDue(QDateTime::currentDateTime());
    // Send Now starts the delivery agent at once.
    const QString started = store.dir.path() + "/agent-started";
    store.paths.deliveryAgent = store.dir.path() + "/agent.sh";
    store.write(store.paths.deliveryAgent, ("#!/bin/sh\necho \"$@\" > '" + started + "'\n").toUtf8());
    QFile::setPermissions(store.paths.deliveryAgent, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    open();
    auto *button = window->findChild<QToolButton *>("btnOutboxStatus");
    ASSERT_TRUE(button);
    EXPECT_FALSE(button->isHidden());
    EXPECT_EQ(button->text(), "Outbox: 1 failed, 1 held");
    QTest::mouseClick(button, Qt::LeftButton);
    ASSERT_TRUE(window->outboxWindow());
    auto *list = window->outboxWindow()->findChild<QTreeWidget *>("lstOutbox");
    ASSERT_EQ(list->topLevelItemCount(), 2);
    QStringList rows;
    for (int i = 0; i < 2; ++i)
        rows.append(list->topLevelItem(i)->text(1) + " | " + list->topLevelItem(i)->text(2) + " | " +
                    list->topLevelItem(i)->text(3).section(':', 0, 0));
    rows.sort();
    EXPECT_EQ(rows, QStringList({"anna@example.org | now | Failed", "tom@example.org | now | Held"}));
    // The status reads whole below the list.
    list->setCurrentItem(list->topLevelItem(0));
    auto *status = window->outboxWindow()->findChild<QLabel *>("lblOutboxStatus");
    EXPECT_EQ(status->text(), list->topLevelItem(0)->text(3));
    EXPECT_GT(status->text().size(), 40);

    // Send the held one again (after a question), remove the failed one.
    for (int i = 0; i < 2; ++i)
        list->topLevelItem(i)->setSelected(list->topLevelItem(i)->text(1).startsWith("tom"));
    prompter.answers = {true};
    QTest::mouseClick(window->outboxWindow()->findChild<QPushButton *>("btnRetry"), Qt::LeftButton);
    EXPECT_EQ(prompter.texts().last(), "\"Happy Birthday !\" to tom@example.org may already have gone out.\rSend it "
                                       "again?");
    EXPECT_EQ(button->text(), "Outbox: 1 failed");
    EXPECT_EQ(status->text(), "Sending now…");
    ASSERT_TRUE(eventually([&] { return holdsAWholeLine(started); }, 10000));
    EXPECT_TRUE(store.read(started).startsWith("--mail " + store.paths.mail.toUtf8()));
    for (int i = 0; i < 2; ++i)
        list->topLevelItem(i)->setSelected(list->topLevelItem(i)->text(1).startsWith("anna"));
    prompter.answers = {true};
    QTest::mouseClick(window->outboxWindow()->findChild<QPushButton *>("btnRemove"), Qt::LeftButton);
    EXPECT_EQ(list->topLevelItemCount(), 1);
    EXPECT_TRUE(button->isHidden());
    EXPECT_EQ(hostmail::Maildir(store.paths.outbox()).messages(), QStringList{queued.at(1)});
}

TEST_F(MainWindowFixture, ClosingTheMainWindowLeavesTheOtherWindowsUsable)
{
    open();
    window->show();
    window->showAbout();
    window->showExport();
    QPointer<frmAbout> about = window->aboutWindow();
    QPointer<exporting::frmiPodExport> exporter = window->exportWindow();
    QTest::qWait(50); // the export window's device search runs once it is shown
    window->close();
    window.reset();
    ASSERT_TRUE(about);
    ASSERT_TRUE(exporter);
    EXPECT_TRUE(about->isVisible());
    EXPECT_TRUE(exporter->isVisible());
    about->toolCandidates = {QStringLiteral("no-such-tool-here")};
    about->StartSysInfo(); // its message boxes still work
    EXPECT_EQ(prompter.texts().last(), "System Information Is Unavailable At This Time");
    exporter->CmdExport_Click();
    delete about;
    delete exporter;
}

TEST_F(MainWindowFixture, DatesAreShownAndStoredWithFourDigitYears)
{
    const QLocale before;
    QLocale::setDefault(QLocale(QStringLiteral("de_DE")));
    common::Clock::setFixed(QDateTime(QDate(2026, 5, 10), QTime(9, 0)));
    writeSetting(QStringLiteral("SetTask"), QStringLiteral("1"));
    open();
    const QList<QLabel *> panels =
        find<QStatusBar>("StatusBar1")->findChildren<QLabel *>(QString(), Qt::FindDirectChildrenOnly);
    EXPECT_EQ(panels.at(3)->text(), "10.05.2026");
    EXPECT_EQ(find<QDateEdit>("dtSendMailOn")->text(), "10.05.2026");
    find<QTabWidget>("SSTab1")->setCurrentIndex(1);
    window->SavePrefs();
    EXPECT_EQ(readSetting(QStringLiteral("SendMailOn")), "10.05.2026");
    QLocale::setDefault(QLocale(QStringLiteral("en_US")));
    window->SavePrefs();
    EXPECT_EQ(readSetting(QStringLiteral("SendMailOn")), "5/10/2026");
    QLocale::setDefault(before);
}

TEST_F(MainWindowFixture, LockPanelsShowTheKeysAndWaitingMailIsLookedAfterOnce)
{
    LockKeys keys{true, false};
    std::atomic<int> timerChecks = 0; // counted on the thread that asks systemctl
    services.lockKeys = [&] { return keys; };
    services.deliveryTimer = [&] {
        ++timerChecks;
        return DeliveryTimerState::NoUserManager;
    };
    common::Clock::setFixed(QDateTime(QDate(2026, 3, 10), QTime(9, 0)));
    store.addCard("a.vcf", card("Anna", "Berg", "BDAY:1985-03-14\r\n", "anna@example.org"));
    open();
    auto *status = find<QStatusBar>("StatusBar1");
    EXPECT_TRUE(status->findChild<QLabel *>("pnlCaps")->isEnabled());
    EXPECT_FALSE(status->findChild<QLabel *>("pnlNum")->isEnabled()); // greyed: Num Lock is off

    // Sent for the 14th: once a session the delivery is looked after, and
    // without a user manager the status bar says how the mail will leave.
    QTest::mouseClick(find<QPushButton>("BtnSendEmails"), Qt::LeftButton);
    ASSERT_TRUE(eventually([&] {
        return status->currentMessage().startsWith("Mail for a later day waits in the Outbox");
    })) << status->currentMessage().toStdString();
    EXPECT_EQ(timerChecks, 1);
    QTest::mouseClick(find<QPushButton>("BtnSendEmails"), Qt::LeftButton);
    EXPECT_EQ(timerChecks, 1);
    EXPECT_EQ(prompter.texts().filter("All birthday & anniversary emails have been generated.").size(),
              2); // no new box
}

TEST_F(MainWindowFixture, TheMailAccountIsKeptInHostConfWithoutItsPasswordAndTestedInWords)
{
    auto *accounts =
        openAccounts("[General]\nDeliveryTimeout=30\n\n[Smtp]\nPasswordCommand=printf secret\nMaxPerMinute=5\n");
    const QString conf = hostmail::StorePaths::configurationFile();
    ASSERT_TRUE(accounts);
    accounts->findChild<QLineEdit *>("txtSmtpHost")->setText("smtp.example.org");
    accounts->findChild<QComboBox *>("cboSmtpSecurity")->setCurrentIndex(1);
    EXPECT_EQ(accounts->findChild<QSpinBox *>("spnSmtpPort")->value(), 465); // follows the security
    accounts->findChild<QLineEdit *>("txtSmtpUser")->setText("anna@example.org");
    accounts->findChild<QLineEdit *>("txtSmtpPassword")->setText("typed-secret");
    QTest::mouseClick(accounts->findChild<QPushButton *>("btnSaveAccounts"), Qt::LeftButton);
    auto *result = accounts->findChild<QLabel *>("lblSmtpResult");
    EXPECT_EQ(result->text(), "The account is saved.");
    {
        const QSettings saved(conf, QSettings::IniFormat);
        EXPECT_EQ(saved.value("Smtp/Host").toString(), "smtp.example.org");
        EXPECT_EQ(saved.value("Smtp/Port").toInt(), 465);
        EXPECT_EQ(saved.value("Smtp/Security").toString(), "tls");
        EXPECT_EQ(saved.value("Smtp/PasswordCommand").toString(), "printf secret");
        EXPECT_EQ(saved.value("Smtp/MaxPerMinute").toInt(), 5);
        EXPECT_EQ(saved.value("DeliveryTimeout").toInt(), 30);
    }
    EXPECT_FALSE(store.read(conf).contains("typed-secret"));

    // Plain text to another machine is refused before any connection.
    accounts->findChild<QComboBox *>("cboSmtpSecurity")->setCurrentIndex(2);
    QTest::mouseClick(accounts->findChild<QPushButton *>("btnTestSmtp"), Qt::LeftButton);
    ASSERT_TRUE(eventually([&] { return !result->text().startsWith("Connecting"); }, 10000));
    EXPECT_EQ(result->text(), "Security \"none\" is only allowed to this computer's own address; smtp.example.org "
                              "needs starttls or tls.");

    // The address book: kept beside it, and a server that does not answer is named.
    accounts->findChild<QLineEdit *>("txtDavUrl")->setText("http://127.0.0.1:1/");
    accounts->findChild<QLineEdit *>("txtDavUser")->setText("anna");
    accounts->findChild<QLineEdit *>("txtDavPassword")->setText("typed-secret");
    QTest::mouseClick(accounts->findChild<QPushButton *>("btnTestDav"), Qt::LeftButton);
    ASSERT_TRUE(eventually([&] { return result->text().startsWith("Cannot reach the address book server"); }, 20000))
        << result->text().toStdString();
    accounts->findChild<QLineEdit *>("txtDavPassword")->clear();
    QTest::mouseClick(accounts->findChild<QPushButton *>("btnSaveAccounts"), Qt::LeftButton);
    EXPECT_EQ(QSettings(conf, QSettings::IniFormat).value("AddressBook/Url").toString(), "http://127.0.0.1:1/");
    accounts->close();
    QFile::remove(conf);
}

namespace {

// A real Radicale over TLS on 127.0.0.1, on a certificate made for the test,
// with two address books of user "anna".
class RadicaleOverTls {
public:
    RadicaleOverTls()
    {
        const QString cert = m_dir.filePath("cert.pem"), key = m_dir.filePath("key.pem");
        QProcess::execute("openssl", {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                                      "-nodes", "-keyout", key, "-out", cert, "-days", "2", "-subj", "/CN=127.0.0.1",
                                      "-addext", "subjectAltName=IP:127.0.0.1"});
        for (const char *book : {"contacts", "family"}) {
            const QString folder = m_dir.filePath(QStringLiteral("collections/collection-root/anna/") + book);
            QDir().mkpath(folder);
            QFile props(folder + "/.Radicale.props");
            props.open(QIODevice::WriteOnly);
            props.write(QByteArray(R"({"tag": "VADDRESSBOOK", "D:displayname": ")") + book + "\"}");
        }
        QFile users(m_dir.filePath("users"));
        users.open(QIODevice::WriteOnly);
        users.write("anna:secret\n");
        users.close();
        m_server.emplace(m_dir.filePath("collections"), Radicale::htpasswd(users.fileName()), cert, key);
        port = m_server->port();
    }
    quint16 port = 0;

private:
    QTemporaryDir m_dir;
    std::optional<Radicale> m_server;
};

} // namespace

TEST_F(MainWindowFixture, AnAddressBookServersCertificateIsTrustedFromTheWindowAndItsAddressBookChosen)
{
    if (QStandardPaths::findExecutable("openssl").isEmpty() || !QFile::exists("/usr/bin/radicale"))
        GTEST_SKIP() << "needs openssl and radicale";
    RadicaleOverTls server;
    auto *accounts = openAccounts("[AddressBook]\nPasswordCommand=printf secret\n");
    const QString conf = hostmail::StorePaths::configurationFile();
    ASSERT_TRUE(accounts);
    const QString url = QStringLiteral("https://127.0.0.1:%1/").arg(server.port);
    auto *manual = accounts->findChild<QCheckBox *>("chkManual");
    EXPECT_FALSE(manual->isChecked()); // nothing set up yet: name, address and password first
    manual->click();
    accounts->findChild<QLineEdit *>("txtDavUrl")->setText(url);
    accounts->findChild<QLineEdit *>("txtDavUser")->setText("anna");
    auto *result = accounts->findChild<QLabel *>("lblSmtpResult");
    auto *trust = accounts->findChild<QPushButton *>("btnTrustDav");
    EXPECT_FALSE(trust->isVisible());
    QTest::mouseClick(accounts->findChild<QPushButton *>("btnTestDav"), Qt::LeftButton);
    ASSERT_TRUE(
        eventually([&] { return result->text().contains("could not be verified (SHA-256 fingerprint "); }, 20000))
        << result->text().toStdString();
    EXPECT_TRUE(trust->isVisible());

    // Trusted: kept for this account, and the test finds both address books.
    QTest::mouseClick(trust, Qt::LeftButton);
    ASSERT_TRUE(eventually(
        [&] {
            return result->text().startsWith("Logged in; the contacts will come from " + url +
                                             "anna/contacts/. 2 address books were found");
        },
        20000))
        << result->text().toStdString();
    EXPECT_FALSE(trust->isVisible());
    EXPECT_TRUE(QSettings(conf, QSettings::IniFormat)
                    .value("AddressBook/TrustedCertificate")
                    .toString()
                    .contains(QRegularExpression("^sha256:([0-9A-F]{2}:){31}[0-9A-F]{2}$")));
    auto *books = accounts->findChild<QComboBox *>("cboDavBook");
    ASSERT_EQ(books->count(), 2);
    EXPECT_EQ(books->currentText(), "contacts (/anna/contacts/)");
    books->setCurrentIndex(books->findText("family (/anna/family/)"));
    // Tested again, the one chosen in the list is the one found.
    QTest::mouseClick(accounts->findChild<QPushButton *>("btnTestDav"), Qt::LeftButton);
    ASSERT_TRUE(eventually(
        [&] { return result->text().startsWith("Logged in; the contacts will come from " + url + "anna/family/."); },
        20000))
        << result->text().toStdString();
    EXPECT_EQ(books->currentText(), "family (/anna/family/)");
    QTest::mouseClick(accounts->findChild<QPushButton *>("btnSaveAccounts"), Qt::LeftButton);
    const QSettings saved(conf, QSettings::IniFormat);
    EXPECT_EQ(saved.value("AddressBook/AddressBook").toString(), "/anna/family/");
    EXPECT_EQ(saved.value("AddressBook/PasswordCommand").toString(), "printf secret");
    accounts->close();
    QFile::remove(conf);
}

TEST_F(MainWindowFixture, TheReminderRunSyncsBeforeAndSendsItsDatesAfterOrSaysTheyGoLater)
{
    store.paths.cardDav.url = "http://127.0.0.1:1/";
    store.paths.cardDav.user = "anna";
    store.paths.cardDav.passwordCommand = "printf secret";
    store.addCard("a.vcf", card("Anna", "Berg", "BDAY:1985-03-14\r\n", "anna@example.org"));
    open();
    window->findChild<QAction *>("mnuGenerateReminders")->trigger();
    const QStringList texts = prompter.texts();
    ASSERT_FALSE(texts.filter("Go on with the contacts already here?").isEmpty()) << texts.join('\n').toStdString();
    EXPECT_TRUE(texts.filter("The contacts could not be synced with the address book server: Cannot reach").size() ==
                1);
    EXPECT_TRUE(texts.last().startsWith("The contacts written could not be sent to the address book server yet: "
                                        "Cannot reach"));
    EXPECT_TRUE(texts.last().endsWith(".\rThey go at the next sync.")) << texts.last().toStdString();

    // Told No, the run does not start, and nothing is synced after it.
    prompter.answers = {false};
    window->findChild<QAction *>("mnuGenerateReminders")->trigger();
    EXPECT_EQ(prompter.texts().size(), texts.size() + 1);
}

TEST_F(MainWindowFixture, ASyncThatWouldDeleteMostContactsHereAsksFirst)
{
    if (!QFile::exists("/usr/bin/radicale") || QStandardPaths::findExecutable("curl").isEmpty())
        GTEST_SKIP() << "needs radicale and curl";
    // A real Radicale on 127.0.0.1 holding two cards of user "anna".
    QTemporaryDir dir;
    const QString book = dir.filePath("collections/collection-root/anna/contacts");
    QDir().mkpath(book);
    store.write(book + "/.Radicale.props", R"({"tag": "VADDRESSBOOK"})");
    for (const char *who : {"ann", "bob"})
        store.write(book + "/" + who + ".vcf", QByteArray("BEGIN:VCARD\r\nVERSION:3.0\r\nUID:") + who +
                                                   "\r\nFN:" + who + "\r\nN:" + who + ";;;;\r\nEND:VCARD\r\n");
    store.write(dir.filePath("users"), "anna:secret\n");
    const Radicale radicale(dir.filePath("collections"), Radicale::htpasswd(dir.filePath("users")));
    ASSERT_TRUE(radicale.ready());
    const QString url = QStringLiteral("http://127.0.0.1:%1/").arg(radicale.port());
    store.paths.cardDav.url = url;
    store.paths.cardDav.user = "anna";
    store.paths.cardDav.passwordCommand = "printf secret";
    open();
    window->findChild<QAction *>("mnuGenerateReminders")->trigger();
    const auto cards = [&] { return QDir(store.paths.contacts).entryList({"*.vcf"}, QDir::Files).size(); };
    ASSERT_EQ(cards(), 2) << prompter.texts().join('\n').toStdString();

    // Both deleted on the server: the next run asks before deleting them here.
    for (const char *who : {"ann", "bob"})
        ASSERT_EQ(QProcess::execute("curl", {"-sf", "-o", "/dev/null", "-u", "anna:secret", "-X", "DELETE",
                                             url + "anna/contacts/" + who + ".vcf"}),
                  0);
    const qsizetype before = prompter.texts().size();
    prompter.answers = {true, false}; // the run's own question, then the deletions
    window->findChild<QAction *>("mnuGenerateReminders")->trigger();
    ASSERT_GT(prompter.texts().size(), before + 1);
    EXPECT_EQ(prompter.texts().at(before + 1),
              "The address book on the server no longer has 2 of the contacts here; none "
              "was deleted yet.\rDelete them here as well?");
    EXPECT_EQ(cards(), 2); // No keeps them, and the run goes on with them
    prompter.answers = {true, true};
    window->findChild<QAction *>("mnuGenerateReminders")->trigger();
    EXPECT_EQ(cards(), 0);
}

TEST_F(MainWindowFixture, EachRunChecksItsFieldsAndAsksItsQuestionBeforeTheSync)
{
    store.paths.cardDav.url = "http://127.0.0.1:1/";
    store.paths.cardDav.user = "anna";
    store.paths.cardDav.passwordCommand = "printf secret";
    open();
    find<QTabWidget>("SSTab1")->setCurrentIndex(1);
    find<QRadioButton>("ToOption1")->setChecked(true);
    find<QLineEdit>("TxtDistList")->clear();
    QTest::mouseClick(find<QPushButton>("BtnSendOEmails"), Qt::LeftButton);
    ASSERT_FALSE(prompter.texts().isEmpty());
    EXPECT_EQ(prompter.texts().first(), "Please enter a Distribution List to proceed.");
    EXPECT_TRUE(prompter.texts().filter("could not be synced").isEmpty()) << prompter.texts().join('\n').toStdString();
    // Told No to the run's own question, nothing is synced or opened.
    find<QLineEdit>("TxtDistList")->setText("family");
    prompter.answers = {false};
    const qsizetype before = prompter.texts().size();
    QTest::mouseClick(find<QPushButton>("BtnSendOEmails"), Qt::LeftButton);
    EXPECT_EQ(prompter.texts().size(), before + 1);
    EXPECT_TRUE(prompter.texts().filter("could not be synced").isEmpty()) << prompter.texts().join('\n').toStdString();
}
