// Delivery against real stores: what the command receives, exactly once,
// failures kept and retried, recipients as the user meant them.
#include "hostmail/HostError.h"
#include "hostmail/delivery/Delivery.h"
#include "hostmail/delivery/DeliveryState.h"
#include "hostmail/mime/MimeMessage.h"
#include "hostmail/model/Application.h"
#include "hostmail/model/MailItem.h"
#include "hostmail/net/Tls.h"
#include "hostmail/smtp/SmtpSession.h"
#include "hostmail/store/Maildir.h"
#include "hostmail/store/StorePaths.h"

#include "support/Golden.h"
#include "support/TempStore.h"

#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace hostmail;

namespace {

// A delivery command: a shell script given its body. It runs in the test's
// folder, where delivered.txt gathers what it received.
QString command(const TempStore &s, const QString &name, const QString &body)
{
    const QString script = s.dir.path() + "/" + name;
    s.write(script, ("#!/bin/sh\ncd '" + s.dir.path() + "'\n" + body + "\n").toUtf8());
    QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return script;
}

// Records each message, then exits with code.
QString recorder(const TempStore &s, int code = 0)
{
    return command(s, "record.sh",
                   QStringLiteral("cat >> delivered.txt\necho --- >> delivered.txt\nexit %1").arg(code));
}

QString queue(const TempStore &s, const QString &to, const QDateTime &due = {}, const QString &bcc = {})
{
    auto mail = Application(s.paths).CreateMailItem();
    mail->setTo(to);
    mail->setBCC(bcc);
    mail->setSubject(QStringLiteral("Hello"));
    mail->setHTMLBody(QStringLiteral("<html><body><p>Hi</p></body></html>"));
    mail->setDeferredDeliveryTime(due);
    return mail->Send();
}

QByteArray headersOf(const QByteArray &message)
{
    return message.left(message.indexOf("\n\n") + 1);
}

int count(const QByteArray &haystack, const QByteArray &needle)
{
    return int(haystack.count(needle));
}

} // namespace

TEST(Delivery, SendOnlyQueuesAndTheAgentDeliversWhatIsDueToSent)
{
    TempStore s;
    s.paths.deliveryCommand = recorder(s);
    const QString queued = queue(s, "anna@example.org", {}, "hidden@example.org");
    EXPECT_TRUE(queued.contains("/Mail/Outbox/new/")) << queued.toStdString();
    EXPECT_FALSE(QFile::exists(s.dir.path() + "/delivered.txt")); // Send never waits on the command

    const DeliveryReport report = Delivery(s.paths).deliverDue(QDateTime::currentDateTime());
    EXPECT_EQ(report.delivered, 1);
    EXPECT_TRUE(Maildir(s.paths.outbox()).messages().isEmpty());
    ASSERT_EQ(s.files(s.paths.sent() + "/cur").size(), 1);
    EXPECT_TRUE(s.files(s.paths.sent() + "/cur").first().endsWith(":2,S"));
    const QByteArray delivered = s.read(s.dir.path() + "/delivered.txt");
    EXPECT_TRUE(delivered.contains("Bcc: hidden@example.org")); // sendmail -t takes it from here
    EXPECT_FALSE(delivered.contains("Deferred-Delivery"));
}

TEST(Delivery, DeferredMessagesWaitForTheirDay)
{
    TempStore s;
    s.paths.deliveryCommand = recorder(s);
    const QDateTime due = QDateTime::currentDateTime().addDays(2);
    queue(s, "anna@example.org", due);
    Delivery delivery(s.paths);
    EXPECT_EQ(delivery.deliverDue(QDateTime::currentDateTime()).waiting, 1);
    EXPECT_FALSE(QFile::exists(s.dir.path() + "/delivered.txt"));
    EXPECT_EQ(delivery.deliverDue(due.addSecs(60)).delivered, 1);
    // The copy in Sent keeps the day it was meant for.
    EXPECT_EQ(mime::deferredDelivery(s.read(s.files(s.paths.sent() + "/cur").first())).date(), due.date());
}

TEST(Delivery, AFailureIsLoggedKeptAndRetriedAfterAGrowingWait)
{
    TempStore s;
    s.paths.deliveryCommand = command(s, "fail.sh", "cat > /dev/null\necho 'smtp: connection refused' >&2\nexit 75");
    queue(s, "anna@example.org");
    const QDateTime now = QDateTime::currentDateTime();
    // The agent says what failed and exits non-zero.
    QProcess agent;
    agent.start(QStringLiteral(CHEERPOST_DELIVER),
                {"--mail", s.paths.mail, "--contacts", s.paths.contacts, "--command", s.paths.deliveryCommand});
    ASSERT_TRUE(agent.waitForFinished(30000));
    EXPECT_EQ(agent.exitCode(), 1);
    EXPECT_EQ(agent.readAllStandardOutput(), "0 delivered, 1 failed, 0 waiting\n");
    const QByteArray said = agent.readAllStandardError();
    EXPECT_TRUE(said.contains("exit status 75")) << said.constData();
    EXPECT_TRUE(said.contains("See " + s.paths.deliveryLog().toUtf8()));
    EXPECT_EQ(Maildir(s.paths.outbox()).messages().size(), 1);
    const QByteArray log = s.read(s.paths.deliveryLog());
    EXPECT_TRUE(log.contains("to: anna@example.org"));
    EXPECT_TRUE(log.contains("exit status 75"));
    EXPECT_TRUE(log.contains("smtp: connection refused"));

    // Not on every timer tick: 15 minutes, then 30.
    Delivery delivery(s.paths);
    EXPECT_EQ(delivery.deliverDue(now.addSecs(10 * 60)).waiting, 1);
    const DeliveryReport second = delivery.deliverDue(now.addSecs(16 * 60));
    EXPECT_EQ(second.failed, 1);
    EXPECT_TRUE(second.errors.first().contains("exit status 75"));
    EXPECT_EQ(delivery.deliverDue(now.addSecs(16 * 60 + 20 * 60)).waiting, 1);
    s.paths.deliveryCommand = recorder(s);
    EXPECT_EQ(Delivery(s.paths).deliverDue(now.addSecs(16 * 60 + 31 * 60)).delivered, 1);
    EXPECT_TRUE(Maildir(s.paths.outbox()).messages().isEmpty());
}

TEST(Delivery, AHangingCommandIsStoppedWithItsChildren)
{
    TempStore s;
    s.paths.deliveryCommand = command(s, "hang.sh", "cat > /dev/null\nsleep 30 &\necho $! > child.pid\nwait");
    s.paths.deliveryTimeoutSeconds = 1;
    queue(s, "anna@example.org");
    const DeliveryReport report = Delivery(s.paths).deliverDue(QDateTime::currentDateTime());
    EXPECT_EQ(report.failed, 1);
    EXPECT_TRUE(report.errors.first().contains("did not finish in time"));
    EXPECT_EQ(Maildir(s.paths.outbox()).messages().size(), 1);
    const pid_t child = s.read(s.dir.path() + "/child.pid").trimmed().toInt();
    ASSERT_GT(child, 0);
    // The whole group went: the child is gone, or a zombie waiting to be
    // reaped, as soon as the kernel has delivered the signal.
    QByteArray state;
    for (int i = 0; i < 100; ++i) {
        QFile status(QStringLiteral("/proc/%1/status").arg(child));
        state = status.open(QIODevice::ReadOnly) ? status.readAll() : QByteArray("State:\tgone");
        if (state.contains("State:\tZ") || state.contains("State:\tgone"))
            break;
        QThread::msleep(20);
    }
    EXPECT_TRUE(state.contains("State:\tZ") || state.contains("State:\tgone")) << state.constData();
}

TEST(Delivery, ACommandThatExitsZeroWithoutReadingEverythingHasFailed)
{
    TempStore s;
    // A 2 MB message, never read; and one read only in part.
    auto mail = Application(s.paths).CreateMailItem();
    mail->setTo("anna@example.org");
    mail->setHTMLBody("<html><body>" + QString(2 * 1024 * 1024, 'x') + "</body></html>");
    mail->Send();
    for (const char *body : {"exit 0", "head -c 100 > /dev/null\nexit 0"}) {
        s.paths.deliveryCommand = command(s, "lazy.sh", body);
        const DeliveryReport report = Delivery(s.paths).deliverDue(QDateTime::currentDateTime().addDays(1));
        EXPECT_EQ(report.failed, 1) << body;
        EXPECT_EQ(report.delivered, 0) << body;
        EXPECT_TRUE(report.errors.first().contains("without reading the whole message")) << body;
        EXPECT_EQ(Maildir(s.paths.outbox()).messages().size(), 1) << body;
        QFile::remove(s.paths.mail + "/.cheerpost-delivery-state"); // due again at once
    }
}

TEST(Delivery, TwoDeliveriesAtOnceSendEachMessageOnce)
{
    TempStore s;
    for (int i = 0; i < 200; ++i)
        queue(s, QStringLiteral("p%1@example.org").arg(i));
    // Slow enough that both runs overlap: each message takes a few milliseconds.
    const QString cmd = command(s, "slow.sh", "grep '^To:' >> sent.txt\nsleep 0.01");
    const QStringList args = {"--mail", s.paths.mail, "--contacts", s.paths.contacts, "--command", cmd};
    QProcess first, second;
    first.start(QStringLiteral(CHEERPOST_DELIVER), args);
    second.start(QStringLiteral(CHEERPOST_DELIVER), args);
    ASSERT_TRUE(first.waitForFinished(120000));
    ASSERT_TRUE(second.waitForFinished(120000));
    EXPECT_EQ(first.exitCode(), 0) << first.readAllStandardError().constData();
    EXPECT_EQ(second.exitCode(), 0) << second.readAllStandardError().constData();
    const QByteArray sent = s.read(s.dir.path() + "/sent.txt");
    for (int i = 0; i < 200; ++i)
        EXPECT_EQ(count(sent, QStringLiteral("To: p%1@example.org\n").arg(i).toUtf8()), 1) << i;
    EXPECT_EQ(s.files(s.paths.sent() + "/cur").size(), 200);
    EXPECT_TRUE(Maildir(s.paths.outbox()).messages().isEmpty());
    const QByteArray summary = first.readAllStandardOutput() + second.readAllStandardOutput();
    EXPECT_TRUE(summary.contains("delivered")) << summary.constData();
}

TEST(Delivery, AMessageThatCannotBeFiledInSentIsNeverSentAgain)
{
    TempStore s;
    s.paths.deliveryCommand = recorder(s);
    queue(s, "anna@example.org");
    // Sent cannot take it: a file stands where its cur/ folder belongs, which
    // stops root as well as anyone else.
    QDir(s.paths.sent()).removeRecursively();
    QDir().mkpath(s.paths.sent());
    s.write(s.paths.sent() + "/cur", "in the way");

    const DeliveryReport first = Delivery(s.paths).deliverDue(QDateTime::currentDateTime());
    EXPECT_EQ(first.delivered, 0);
    EXPECT_EQ(first.keptAside, 1);
    EXPECT_EQ(Maildir(s.paths.outbox()).messages().size(), 1); // kept, never lost
    EXPECT_TRUE(s.read(s.paths.deliveryLog()).contains("cannot be filed in Sent"));
    for (int run = 0; run < 3; ++run)
        EXPECT_EQ(Delivery(s.paths).deliverDue(QDateTime::currentDateTime().addDays(run + 1)).keptAside, 1);
    EXPECT_EQ(count(s.read(s.dir.path() + "/delivered.txt"), "Subject: Hello"), 1);

    // Once Sent can take it again, it is filed there, still not sent again.
    QFile::remove(s.paths.sent() + "/cur");
    EXPECT_EQ(Delivery(s.paths).deliverDue(QDateTime::currentDateTime()).keptAside, 0);
    EXPECT_EQ(s.files(s.paths.sent() + "/cur").size(), 1);
    EXPECT_EQ(count(s.read(s.dir.path() + "/delivered.txt"), "Subject: Hello"), 1);
}

TEST(Delivery, AnInterruptedHandOverIsHeldUntilTheUserSendsItAgainOrRemovesIt)
{
    TempStore s;
    s.paths.deliveryCommand = recorder(s);
    const QString queued = queue(s, "anna@example.org");
    // A delivery that was killed while the command had the message.
    s.write(s.paths.mail + "/.cheerpost-delivery-state", QFileInfo(queued).fileName().toUtf8() + "\tsending\t0\t0\n");
    const Delivery delivery(s.paths);
    const DeliveryReport report = delivery.deliverDue(QDateTime::currentDateTime());
    EXPECT_EQ(report.delivered, 0);
    EXPECT_EQ(report.held, 1);
    EXPECT_EQ(report.news.size(), 1);
    EXPECT_FALSE(QFile::exists(s.dir.path() + "/delivered.txt"));
    EXPECT_TRUE(s.files(s.paths.sent() + "/cur").isEmpty()); // it may never have gone out
    const QByteArray log = s.read(s.paths.deliveryLog());
    EXPECT_TRUE(log.contains("to: anna@example.org")) << log.constData();
    EXPECT_TRUE(log.contains("held: an earlier delivery stopped while handing this message over"));

    // Later runs pass it over without a word, and say that it is held.
    const DeliveryReport again = delivery.deliverDue(QDateTime::currentDateTime().addDays(1));
    EXPECT_EQ(again.held, 1);
    EXPECT_TRUE(again.news.isEmpty());
    EXPECT_EQ(s.read(s.paths.deliveryLog()), log);
    const QList<OutboxEntry> box = delivery.outbox();
    ASSERT_EQ(box.size(), 1);
    EXPECT_EQ(box.first().status, OutboxEntry::Status::Held);
    EXPECT_EQ(box.first().subject, "Hello");
    EXPECT_EQ(box.first().recipients, "anna@example.org");

    // Sent again by the user's word: it goes once.
    delivery.retry(box.first().file);
    EXPECT_EQ(delivery.deliverDue(QDateTime::currentDateTime()).delivered, 1);
    EXPECT_EQ(count(s.read(s.dir.path() + "/delivered.txt"), "Subject: Hello"), 1);

    // Or removed from the Outbox for good.
    const QString other = queue(s, "tom@example.org", QDateTime::currentDateTime().addDays(3));
    delivery.remove(other);
    EXPECT_TRUE(delivery.outbox().isEmpty());
}

TEST(Delivery, AFailedMessageShowsWhyAndRetryTakesItOnTheNextRun)
{
    TempStore s;
    s.paths.deliveryCommand = command(s, "fail.sh", "echo 'no account configured' >&2\nexit 78");
    queue(s, "anna@example.org");
    const Delivery delivery(s.paths);
    const QDateTime now = QDateTime::currentDateTime();
    const DeliveryReport report = delivery.deliverDue(now);
    EXPECT_EQ(report.failed, 1);
    ASSERT_EQ(report.news.size(), 1);
    const QList<OutboxEntry> box = delivery.outbox();
    ASSERT_EQ(box.size(), 1);
    EXPECT_EQ(box.first().status, OutboxEntry::Status::Failed);
    EXPECT_TRUE(box.first().reason.contains("exit")) << box.first().reason.toStdString();
    EXPECT_GT(box.first().retryAt, now);
    s.paths.deliveryCommand = recorder(s);
    EXPECT_EQ(Delivery(s.paths).deliverDue(now).waiting, 1); // its wait is not over
    delivery.retry(box.first().file);
    EXPECT_EQ(Delivery(s.paths).deliverDue(now).delivered, 1);
}

TEST(Delivery, TheAgentOnItsTimerTellsTheDesktopWhatFailedOnce)
{
    if (QStandardPaths::findExecutable("dbus-run-session").isEmpty())
        GTEST_SKIP() << "dbus-run-session is not installed";
    TempStore s;
    s.paths.deliveryCommand = command(s, "fail.sh", "echo 'sendmail: account default not found' >&2\nexit 78");
    queue(s, "anna@example.org");
    const QString seen = s.dir.path() + "/notices.txt";
    const QString agent = QStringLiteral("'%1' --mail '%2' --contacts '%3' --command '%4'")
                              .arg(CHEERPOST_DELIVER, s.paths.mail, s.paths.contacts, s.paths.deliveryCommand);
    // A private session bus: the fake service first, then the agent twice
    // (the second run finds the message still waiting for its retry).
    const QString script = QStringLiteral("'%1' '%2' > '%2.ready' & "
                                          "for i in $(seq 100); do [ -s '%2.ready' ] && break; sleep 0.05; done; "
                                          "%3; echo \"exit $?\"; %3; echo \"exit $?\"")
                               .arg(FAKE_NOTIFIER, seen, agent);
    QProcess bus;
    bus.start("dbus-run-session", {"--", "sh", "-c", script});
    ASSERT_TRUE(bus.waitForFinished(60000));
    const QByteArray out = bus.readAllStandardOutput();
    EXPECT_EQ(out,
              "0 delivered, 1 failed, 0 waiting\nexit 1\n0 delivered, 0 failed, 1 waiting (1 to try again)\nexit 1\n")
        << bus.readAllStandardError().constData();
    const QList<QByteArray> notices = s.read(seen).split('\n');
    ASSERT_EQ(notices.size(), 2) << s.read(seen).constData(); // one notice, then the end of the file
    EXPECT_TRUE(notices.first().startsWith("Cheerpost|Cheerpost: a message was not delivered|"))
        << notices.first().constData();
    EXPECT_TRUE(notices.first().contains("exit status 78")) << notices.first().constData();
    // Named as the user knows it, not by its file.
    EXPECT_TRUE(notices.first().contains("|\u201CHello\u201D to anna@example.org: ")) << notices.first().constData();
    EXPECT_TRUE(notices.first().endsWith("File > Outbox in Cheerpost shows them, with Send Now."))
        << notices.first().constData();

    // Without a notification service the agent still ends and says what failed.
    s.paths.deliveryCommand = command(s, "fail.sh", "exit 78");
    QProcess quiet;
    quiet.setProcessEnvironment([] {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent");
        return env;
    }());
    queue(s, "tom@example.org");
    quiet.start(QStringLiteral(CHEERPOST_DELIVER), {"--mail", s.paths.mail, "--command", s.paths.deliveryCommand});
    ASSERT_TRUE(quiet.waitForFinished(30000));
    EXPECT_EQ(quiet.exitCode(), 1);
    EXPECT_EQ(quiet.readAllStandardOutput(), "0 delivered, 1 failed, 1 waiting (1 to try again)\n");
}

namespace {

// host.conf for the agent: this store, with an address book server that does
// not answer; returns the folder to give as XDG_CONFIG_HOME.
QString unreachableAddressBook(TempStore &s, const char *extra)
{
    const QString config = s.dir.path() + "/config";
    QDir().mkpath(config + "/cheerpost");
    s.write(config + "/cheerpost/host.conf",
            QStringLiteral("[General]\nMail=%1\nContacts=%2\nState=%3\n[AddressBook]\nUrl=http://127.0.0.1:1/\n"
                           "User=anna\n%4")
                .arg(s.paths.mail, s.paths.contacts, s.paths.state, QLatin1String(extra))
                .toUtf8());
    return config;
}

// Runs commands on a private session bus, after the stand-in notifier (with
// its arguments) is up; returns what they printed.
QByteArray onPrivateBus(const QString &notifierArguments, const QString &commands)
{
    const QTemporaryDir scratch;
    const QString ready = scratch.filePath("ready");
    const QString script = QStringLiteral("'%1' %2 > '%3' & "
                                          "for i in $(seq 100); do [ -s '%3' ] && break; sleep 0.05; done; %4")
                               .arg(FAKE_NOTIFIER, notifierArguments, ready, commands);
    QProcess bus;
    bus.start("dbus-run-session", {"--", "sh", "-c", script});
    bus.waitForFinished(60000);
    return bus.readAllStandardOutput();
}

} // namespace

TEST(Delivery, AnAddressBookThatCannotBeSyncedOnTheTimerIsToldOnceNotEveryRun)
{
    if (QStandardPaths::findExecutable("dbus-run-session").isEmpty())
        GTEST_SKIP() << "dbus-run-session is not installed";
    TempStore s;
    const QString config = unreachableAddressBook(s, "PasswordCommand=printf secret\n");
    const QString seen = s.dir.path() + "/notices.txt";
    const QString agent = QStringLiteral("XDG_CONFIG_HOME='%1' '%2' >/dev/null 2>&1").arg(config, CHEERPOST_DELIVER);
    onPrivateBus("'" + seen + "'", agent + "; " + agent + "; " + agent);
    const QList<QByteArray> notices = s.read(seen).split('\n');
    ASSERT_EQ(notices.size(), 2) << s.read(seen).constData(); // one notice for three runs
    EXPECT_TRUE(notices.first().startsWith("Cheerpost|Cheerpost could not sync the contacts|Cannot reach the address "
                                           "book server"))
        << notices.first().constData();
}

TEST(Delivery, OnTheTimerALockedKeyringIsAReasonToWaitNeverAPrompt)
{
    if (QStandardPaths::findExecutable("dbus-run-session").isEmpty())
        GTEST_SKIP() << "dbus-run-session is not installed";
    TempStore s;
    const QString config = unreachableAddressBook(s, "");
    // A keyring tool that would ask to unlock: it must not be started.
    const QString tools = s.dir.path() + "/bin", asked = s.dir.path() + "/asked.txt";
    QDir().mkpath(tools);
    s.write(tools + "/secret-tool", ("#!/bin/sh\necho asked > '" + asked + "'\nexit 1\n").toUtf8());
    QFile::setPermissions(tools + "/secret-tool", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString seen = s.dir.path() + "/notices.txt";
    const QString agent =
        QStringLiteral("XDG_CONFIG_HOME='%1' PATH='%2':\"$PATH\" '%3'").arg(config, tools, CHEERPOST_DELIVER);
    const QByteArray out = onPrivateBus("'" + seen + "' locked",
                                        QStringLiteral("%1 2>&1; [ -e '%2' ] && echo 'keyring asked on the timer'; "
                                                       "%1 --sync 2>&1")
                                            .arg(agent, asked));
    EXPECT_FALSE(out.contains("keyring asked on the timer"));
    EXPECT_TRUE(out.contains("the address book was not synced: The desktop keyring is locked, so the password of "
                             "the address book account is not read here"))
        << out.constData();
    EXPECT_TRUE(s.read(seen).startsWith("Cheerpost|Cheerpost could not sync the contacts|The desktop keyring is "
                                        "locked"))
        << s.read(seen).constData();
    // Asked for by hand (--sync from a terminal), the keyring may ask the user.
    EXPECT_TRUE(QFile::exists(asked));
}

TEST(Delivery, TheLockIsTheMailFolderItselfSoNoFileSwapLetsASecondRunIn)
{
    TempStore s;
    s.paths.deliveryCommand = recorder(s);
    queue(s, "anna@example.org", QDateTime::currentDateTime().addSecs(-60));
    const int held = ::open(QFile::encodeName(s.paths.mail).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0); // a delivery in progress
    QProcess agent;
    agent.start(QStringLiteral(CHEERPOST_DELIVER),
                {"--mail", s.paths.mail, "--contacts", s.paths.contacts, "--command", s.paths.deliveryCommand});
    ASSERT_TRUE(agent.waitForStarted());
    EXPECT_FALSE(agent.waitForFinished(800)); // it waits
    // What once let a second run in: a lock file removed, or a link in its place.
    QFile::remove(s.paths.mail + "/.cheerpost-delivery.lock");
    QFile::link("/tmp", s.paths.mail + "/.cheerpost-delivery.lock");
    EXPECT_FALSE(agent.waitForFinished(500));
    EXPECT_FALSE(QFile::exists(s.dir.path() + "/delivered.txt"));
    ::close(held);
    ASSERT_TRUE(agent.waitForFinished(30000));
    EXPECT_EQ(agent.exitCode(), 0);
    EXPECT_EQ(count(s.read(s.dir.path() + "/delivered.txt"), "Subject: Hello"), 1);
}

TEST(Delivery, AnOutboxFileThatCannotBeSentIsHeldAndToldOnceNotEveryRun)
{
    TempStore s;
    s.paths.deliveryCommand = recorder(s);
    Maildir(s.paths.outbox()).create();
    // A file that will not become sendable by itself: larger than a message
    // may be (sparse, so nothing is written to speak of).
    QFile odd(s.paths.outbox() + "/new/1700000000.huge.host");
    ASSERT_TRUE(odd.open(QIODevice::WriteOnly));
    ASSERT_TRUE(odd.resize(257 * 1024 * 1024));
    odd.close();
    s.write(s.paths.outbox() + "/new/1700000001.empty.host", ""); // no mail message at all
    const Delivery delivery(s.paths);
    const QDateTime now = QDateTime::currentDateTime();
    const DeliveryReport first = delivery.deliverDue(now);
    EXPECT_EQ(first.held, 2);
    EXPECT_EQ(first.news.size(), 2);
    EXPECT_TRUE(first.news.last().endsWith("held: Not a mail message")) << first.news.last().toStdString();
    EXPECT_EQ(delivery.outbox().size(), 2); // listed for the user to remove
    const QByteArray log = s.read(s.paths.deliveryLog());
    for (int run = 1; run <= 4; ++run) {
        const DeliveryReport later = delivery.deliverDue(now.addSecs(run * 15 * 60));
        EXPECT_EQ(later.held, 2);
        EXPECT_TRUE(later.news.isEmpty());
    }
    EXPECT_EQ(s.read(s.paths.deliveryLog()), log); // logged once
}

TEST(Delivery, TheLogAndTheAgentsSummaryAreWhatTheUserReads)
{
    TempStore s;
    s.paths.deliveryCommand = command(s, "fail.sh", "echo 'msmtp: account default not found' >&2\nexit 78");
    const QString failing = queue(s, "anna@example.org");
    const QString interrupted = queue(s, "tom@example.org");
    DeliveryState state(s.paths.mail + "/.cheerpost-delivery-state");
    state.set(Maildir::baseName(interrupted), {DeliveryState::Stage::Sending, 0, {}, {}});
    state.save();
    const QDateTime now(QDate(2026, 12, 8), QTime(9, 30), QTimeZone::utc());
    Delivery(s.paths).deliverDue(now);
    QString log = QString::fromUtf8(s.read(s.paths.deliveryLog()));
    log.replace(s.dir.path(), "STORE")
        .replace(Maildir::baseName(failing), "FAILING")
        .replace(Maildir::baseName(interrupted), "INTERRUPTED");
    // The two entries come in the Outbox's order of names, which is random here.
    QStringList entries = log.split(QRegularExpression("\n(?=\\d{4}-)"));
    entries.sort();
    EXPECT_TRUE(matchesGolden(entries.join('\n').toUtf8(), "delivery-log.ref"));

    QProcess agent;
    agent.start(QStringLiteral(CHEERPOST_DELIVER),
                {"--mail", s.paths.mail, "--contacts", s.paths.contacts, "--command", s.paths.deliveryCommand});
    ASSERT_TRUE(agent.waitForFinished(30000));
    EXPECT_EQ(agent.exitCode(), 1);
    EXPECT_TRUE(matchesGolden(agent.readAllStandardOutput(), "deliver-summary.ref"));
}

TEST(Delivery, KilledAtAnyStepOfAHandOverAMessageGoesOnceOrIsHeldNeverFiledUnsent)
{
    // The agent is killed at the n-th system call that writes, renames,
    // flushes or starts a process: before, at and after the "sending" mark
    // and the command. A second run must then neither send the message again
    // nor file an unsent one in Sent; one that may have gone is held.
    if (QStandardPaths::findExecutable("strace").isEmpty())
        GTEST_SKIP() << "strace is not installed";
    const char *calls = "write,rename,renameat,renameat2,fsync,fdatasync,syncfs,clone,clone3,fork,vfork,execve";
    int killedBefore = 0, killedAfter = 0, held = 0, sentOnce = 0;
    for (int n = 1; n <= 80; ++n) {
        TempStore s;
        s.paths.deliveryCommand = recorder(s);
        queue(s, "anna@example.org", QDateTime::currentDateTime().addSecs(-60));
        const QStringList agent = {QStringLiteral(CHEERPOST_DELIVER),
                                   "--mail",
                                   s.paths.mail,
                                   "--contacts",
                                   s.paths.contacts,
                                   "--command",
                                   s.paths.deliveryCommand};
        QProcess traced;
        traced.start("strace", QStringList{"-f", "-o", "/dev/null", "-e", QString("trace=") + calls, "-e",
                                           QStringLiteral("inject=%1:signal=SIGKILL:when=%2").arg(calls).arg(n)} +
                                   agent);
        ASSERT_TRUE(traced.waitForFinished(30000));
        if (traced.exitCode() == 0 && traced.exitStatus() == QProcess::NormalExit) {
            killedAfter = n; // ran to its end: every step was covered
            break;
        }
        ++killedBefore;
        QProcess again;
        again.start(agent.first(), agent.mid(1));
        ASSERT_TRUE(again.waitForFinished(30000));
        const int sends = count(s.read(s.dir.path() + "/delivered.txt"), "Subject: Hello");
        const int filed = int(s.files(s.paths.sent() + "/cur").size());
        const QList<OutboxEntry> box = Delivery(s.paths).outbox();
        EXPECT_LE(sends, 1) << "kill point " << n;
        EXPECT_LE(filed, sends) << "filed in Sent but never handed over, kill point " << n;
        if (box.size() == 1 && box.first().status == OutboxEntry::Status::Held) {
            ++held;
            EXPECT_EQ(again.exitCode(), 1) << "a held message must not end the run as a success, kill point " << n;
        } else {
            EXPECT_EQ(filed, 1) << "kill point " << n;
            sentOnce += sends;
        }
    }
    EXPECT_GT(killedAfter, 0) << "the agent never ran to its end within the kill points";
    EXPECT_GT(held, 0); // some points fall between the mark and the end of the command
    EXPECT_GT(sentOnce, 0);
}

TEST(Delivery, AnyByteInAFileNameKeepsItsRecordAndADamagedStateStopsTheRun)
{
    TempStore s;
    s.paths.deliveryCommand = recorder(s);
    const QString queued = queue(s, "anna@example.org");
    // Another Maildir tool's name, with a TAB and a line break in it.
    const QString odd = s.paths.outbox() + "/new/1700000000.a\tb\nsending\t0\t0.host";
    ASSERT_TRUE(QFile::rename(queued, odd));
    s.write(s.paths.mail + "/.cheerpost-delivery-state", "");
    DeliveryState state(s.paths.mail + "/.cheerpost-delivery-state");
    state.set(Maildir::baseName(odd), {DeliveryState::Stage::Sending, 0, {}, {}});
    state.save();
    EXPECT_EQ(Delivery(s.paths).deliverDue(QDateTime::currentDateTime()).held, 1); // never sent twice
    EXPECT_FALSE(QFile::exists(s.dir.path() + "/delivered.txt"));

    s.write(s.paths.mail + "/.cheerpost-delivery-state", "cheerpost-delivery-state 2\nnot a record\n");
    const DeliveryReport damaged = Delivery(s.paths).deliverDue(QDateTime::currentDateTime());
    EXPECT_TRUE(damaged.stopped);
    EXPECT_EQ(damaged.delivered, 0);
    EXPECT_TRUE(damaged.errors.first().contains("is damaged (line 2)")) << damaged.errors.first().toStdString();
    EXPECT_FALSE(QFile::exists(s.dir.path() + "/delivered.txt"));
}

TEST(Delivery, NoLinkLeadsAWriteOrRemovalOutOfTheStore)
{
    TempStore s;
    s.paths.deliveryCommand = command(s, "fail.sh", "echo 'remote said: 550 nope' >&2\nexit 1");
    QTemporaryDir outside;
    const QString bashrc = outside.path() + "/.bashrc";
    s.write(bashrc, "export KEEP=1\n");
    ASSERT_TRUE(QFile::link(bashrc, s.paths.deliveryLog()));
    queue(s, "anna@example.org");
    Delivery(s.paths).deliverDue(QDateTime::currentDateTime());
    EXPECT_EQ(s.read(bashrc), "export KEEP=1\n");

    // tmp/ as a link to a folder of documents: nothing there is removed.
    const QString docs = outside.path() + "/docs";
    QDir().mkpath(docs);
    s.write(docs + "/thesis.odt", "old but precious");
    QFile(docs + "/thesis.odt")
        .setFileTime(QDateTime::currentDateTime().addDays(-30), QFileDevice::FileModificationTime);
    QDir(s.paths.outbox() + "/tmp").removeRecursively();
    ASSERT_TRUE(QFile::link(docs, s.paths.outbox() + "/tmp"));
    EXPECT_EQ(Maildir(s.paths.outbox()).removeStaleTemporaries(QDateTime::currentDateTime()), 0);
    EXPECT_TRUE(QFile::exists(docs + "/thesis.odt"));
    EXPECT_THROW(Maildir(s.paths.outbox()).add("Subject: x\n\nx\n"), HostError);
    EXPECT_EQ(QDir(docs).entryList(QDir::Files), QStringList{"thesis.odt"});
}

TEST(Delivery, FilingInSentNeverReplacesAMessageThere)
{
    TempStore s;
    s.paths.deliveryCommand = recorder(s);
    const QString queued = queue(s, "anna@example.org", QDateTime::currentDateTime().addDays(1));
    Maildir(s.paths.sent()).create();
    const QString same = s.paths.sent() + "/cur/" + Maildir::baseName(queued) + ":2,S";
    s.write(same, "Subject: the earlier one\n\nkept\n");
    EXPECT_EQ(Delivery(s.paths).deliverDue(QDateTime::currentDateTime().addDays(2)).delivered, 1);
    EXPECT_EQ(s.files(s.paths.sent() + "/cur").size(), 2);
    EXPECT_EQ(s.read(same), "Subject: the earlier one\n\nkept\n");
}

TEST(Delivery, ListsTypedByTheUserExpandAndUnknownOnesAreNotDelivered)
{
    TempStore s;
    s.paths.deliveryCommand = recorder(s);
    s.addCard("ann.vcf", "BEGIN:VCARD\nVERSION:4.0\nUID:ann\nN:A;Ann;;;\nEMAIL:ann@example.org\nEND:VCARD\n");
    s.addCard("family.vcf", "BEGIN:VCARD\nVERSION:4.0\nKIND:group\nFN:Family\n"
                            "MEMBER:urn:uuid:ann\nMEMBER:mailto:bob@example.org\nMEMBER:mailto:not an address\n"
                            "END:VCARD\n");
    const QString family = queue(s, "family");
    EXPECT_TRUE(headersOf(s.read(family)).contains("To: family: ;"));
    // The bulk page as it opens: its hint text names no list.
    queue(s, "Enter the Outlook email distribution list");
    // The Outbox shows a list by its name and how many it reaches.
    QStringList shown;
    for (const OutboxEntry &e : Delivery(s.paths).outbox())
        shown.append(e.recipients);
    shown.sort();
    EXPECT_EQ(shown,
              QStringList({"Enter the Outlook email distribution list (no member known)", "family (2 members)"}));

    const DeliveryReport report = Delivery(s.paths).deliverDue(QDateTime::currentDateTime());
    EXPECT_EQ(report.delivered, 1);
    EXPECT_EQ(report.failed, 1);
    EXPECT_TRUE(s.read(s.dir.path() + "/delivered.txt").contains("To: ann@example.org, bob@example.org\n"));
    EXPECT_EQ(Maildir(s.paths.outbox()).messages().size(), 1); // not "sent" to nobody
    EXPECT_TRUE(s.read(s.paths.deliveryLog())
                    .contains("no recipient: no distribution list is named Enter the Outlook email distribution list"));
}

TEST(Delivery, APrivateListGoesInTheEnvelopeOnly)
{
    TempStore s;
    s.paths.deliveryCommand = recorder(s);
    s.addCard("club.vcf", "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Club\r\nFN:Club\r\nX-EVOLUTION-LIST:TRUE\r\n"
                          "X-EVOLUTION-LIST-SHOW-ADDRESSES:FALSE\r\n"
                          "EMAIL;X-EVOLUTION-DEST-NAME=Ann:\"Ann\" <ann@example.org>\r\n"
                          "EMAIL:bob@example.org\r\nEND:VCARD\r\n");
    queue(s, "Club");
    EXPECT_EQ(Delivery(s.paths).deliverDue(QDateTime::currentDateTime()).delivered, 1);
    const QByteArray received = headersOf(s.read(s.dir.path() + "/delivered.txt"));
    EXPECT_TRUE(received.contains("To: Club: ;\n")) << received.constData();
    // Only Bcc names the members, and sendmail -t takes Bcc out of what it sends.
    EXPECT_TRUE(received.contains("Bcc: ann@example.org, bob@example.org\n")) << received.constData();
    EXPECT_EQ(count(received, "ann@example.org"), 1);
}

TEST(Delivery, TimeoutsFromHostConfStayWithinOneSecondAndOneHour)
{
    TempStore s;
    const QString conf = s.dir.path() + "/config/cheerpost/host.conf";
    qputenv("XDG_CONFIG_HOME", (s.dir.path() + "/config").toUtf8());
    QDir().mkpath(QFileInfo(conf).path());
    for (const auto &[written, used] : {std::pair{"2147484", 3600}, {"-5", 1}, {"0", 1}, {"90", 90}, {"soon", 60}}) {
        s.write(conf, QByteArray("[General]\nDeliveryTimeout=") + written + "\n");
        EXPECT_EQ(StorePaths::fromConfiguration().deliveryTimeoutSeconds, used) << written;
    }
    qunsetenv("XDG_CONFIG_HOME");
}

TEST(MailAccount, WhatGoesToTheServerHasNoBccAndAlwaysASender)
{
    using hostmail::smtp::messageForTransfer;
    const QByteArray folded = "To: a@example.org\r\nBcc: b@example.org,\r\n c@example.org\r\nSubject: Hi\r\n\r\n"
                              "Bcc: in the body stays\r\n";
    EXPECT_EQ(messageForTransfer(folded, "me@example.org"),
              "From: me@example.org\r\nTo: a@example.org\r\nSubject: Hi\r\n\r\nBcc: in the body stays\r\n");
    EXPECT_EQ(messageForTransfer("From: x@example.org\nBCC: y@example.org\n\nbody\n", "me@example.org"),
              "From: x@example.org\n\nbody\n");
    for (const char *from :
         {"\"Anna B\" <anna@example.org>", "anna@example.org", "=?utf-8?q?Anna_B=C3=B6?= <anna@example.org>",
          "\"Berg, Anna\" <anna@example.org>", "\"me@home\" <anna@example.org>"})
        EXPECT_EQ(
            hostmail::mime::prepareForDelivery(QByteArray("From: ") + from + "\r\nTo: t@example.org\r\n\r\nHi\r\n", {})
                .sender,
            "anna@example.org")
            << from;
    EXPECT_TRUE(hostmail::mime::prepareForDelivery("To: t@example.org\r\n\r\nHi\r\n", {}).sender.isEmpty());
    EXPECT_TRUE(hostmail::net::isLoopback("127.0.0.1"));
    EXPECT_TRUE(hostmail::net::isLoopback("localhost"));
    EXPECT_FALSE(hostmail::net::isLoopback("127.example.org"));
    EXPECT_FALSE(hostmail::net::isLoopback("10.0.0.1"));
}

TEST(MailAccount, OnTheWireEveryLineEndsInCrlfAndNoneIsLongerThan998Octets)
{
    using hostmail::mime::forTransport;
    auto lines = [](const QByteArray &wire) {
        EXPECT_TRUE(wire.endsWith("\r\n"));
        qsizetype longest = 0;
        for (const QByteArray &line : wire.chopped(2).split('\n')) {
            EXPECT_TRUE(line.isEmpty() || line.endsWith('\r') || line == wire.chopped(2).split('\n').last());
            longest = qMax(longest, line.size() - (line.endsWith('\r') ? 1 : 0));
        }
        EXPECT_EQ(wire.count("\r\n"), wire.count('\n'));
        EXPECT_EQ(wire.count("\r\n"), wire.count('\r'));
        return longest;
    };
    // LF, CRLF and a lone CR all end a line; the text is kept.
    EXPECT_EQ(forTransport("Subject: a\nTo: b@example.org\r\n\nline\rnext\n.dot"),
              "Subject: a\r\nTo: b@example.org\r\n\r\nline\r\nnext\r\n.dot\r\n");
    // A body line and a header line over the limit: the part is encoded anew
    // and the header folded at a blank, and readers get back the same text.
    const QByteArray longText = QByteArray("word ").repeated(400) + "end";
    const QByteArray message = "From: a@example.org\nTo: b@example.org\nSubject: " + longText +
                               "\nMIME-Version: 1.0\nContent-Type: text/html; charset=utf-8\n\n<p>" + longText +
                               "</p>\n";
    const QByteArray wire = forTransport(message);
    EXPECT_LE(lines(wire), 998);
    EXPECT_EQ(hostmail::mime::bodyText(wire).trimmed(), QString::fromLatin1("<p>" + longText + "</p>"));
    EXPECT_EQ(hostmail::mime::headerText(wire, "Subject").simplified(), QString::fromLatin1(longText));
    // One that cannot be folded is refused whole, never cut.
    EXPECT_THROW(forTransport("Subject: " + QByteArray(2000, 'x') + "\n\nbody\n"), HostError);
}

TEST(MailAccount, AMessageIsDatedWhenItIsHandedOver)
{
    using hostmail::mime::withDate;
    const QDateTime when(QDate(2026, 12, 28), QTime(7, 30), Qt::OffsetFromUTC, 3600);
    EXPECT_EQ(withDate("From: a@x.org\nDate: Wed, 09 Dec 2026 10:00:00\n +0100\nSubject: s\n\nDate: body\n", when),
              "From: a@x.org\nDate: Mon, 28 Dec 2026 07:30:00 +0100\nSubject: s\n\nDate: body\n");
    EXPECT_EQ(withDate("Subject: s\r\n\r\nb\r\n", when),
              "Date: Mon, 28 Dec 2026 07:30:00 +0100\r\nSubject: s\r\n\r\nb\r\n");

    TempStore s;
    s.paths.deliveryCommand = recorder(s);
    const QDateTime due = QDateTime::currentDateTime().addDays(19);
    queue(s, "anna@example.org", due);
    EXPECT_EQ(Delivery(s.paths).deliverDue(due.addSecs(3600)).delivered, 1);
    const QDateTime handedOver = due.addSecs(3600);
    const QByteArray delivered = s.read(s.dir.path() + "/delivered.txt");
    EXPECT_EQ(QDateTime::fromString(mime::headerText(delivered, "Date").trimmed(), Qt::RFC2822Date),
              handedOver.addMSecs(-handedOver.time().msec()));
    EXPECT_EQ(count(headersOf(delivered), "Date:"), 1);
}

TEST(Delivery, AMessageQueuedBeforeTheSenderWasSetGoesAndIsFiledWithTheSenderSetSince)
{
    using hostmail::mime::withSender;
    // Only where no From is; a long name comes folded in the message's own line ends.
    EXPECT_EQ(withSender("To: t@x.org\r\nSubject: s\r\n\r\nFrom: body\r\n", "A <a@x.org>"),
              "From: A <a@x.org>\r\nTo: t@x.org\r\nSubject: s\r\n\r\nFrom: body\r\n");
    EXPECT_EQ(withSender("To: t@x.org\n\nb\n", "Very long name\n <a@x.org>"),
              "From: Very long name\n <a@x.org>\nTo: t@x.org\n\nb\n");
    EXPECT_EQ(withSender("FROM: b@x.org\n\nb\n", "A <a@x.org>"), "FROM: b@x.org\n\nb\n");
    EXPECT_EQ(withSender("To: t@x.org\n\nb\n", {}), "To: t@x.org\n\nb\n");

    // Through the delivery command too: sendmail -t would otherwise make up
    // a sender from the machine's user; Bcc stays for it to take out.
    TempStore s;
    s.paths.deliveryCommand = recorder(s);
    queue(s, "tom@example.org", {}, "eve@example.org");
    s.paths.from = QStringLiteral("Anna Berg <anna@example.org>");
    EXPECT_EQ(Delivery(s.paths).deliverDue(QDateTime::currentDateTime()).delivered, 1);
    const QByteArray delivered = headersOf(s.read(s.dir.path() + "/delivered.txt"));
    EXPECT_EQ(count(delivered, "From: "), 1) << delivered.constData();
    EXPECT_TRUE(delivered.contains("From: Anna Berg <anna@example.org>\n")) << delivered.constData();
    EXPECT_TRUE(delivered.contains("Bcc: eve@example.org\n")) << delivered.constData();
    // The Sent copy shows who it went out from.
    const QStringList sent = s.files(s.paths.sent() + "/cur");
    ASSERT_EQ(sent.size(), 1);
    EXPECT_EQ(mime::headerText(s.read(sent.first()), "From").trimmed(), "Anna Berg <anna@example.org>");
}

TEST(MailAccount, AnAddressNoEnvelopeCanCarryIsARefusedRecipientAndTheOthersStillGetTheMessage)
{
    for (const char *bad : {"a\nb@example.org", "a\rRCPT TO:<x@example.org>", "<a@example.org>", "a b@example.org",
                            "\"open@example.org", ""})
        EXPECT_FALSE(hostmail::mime::isEnvelopeAddress(QString::fromUtf8(bad))) << bad;
    for (const char *good : {"anna@example.org", "\"Anna Berg\"@example.org", "jürgen@müller.example"})
        EXPECT_TRUE(hostmail::mime::isEnvelopeAddress(QString::fromUtf8(good))) << good;

    TempStore s;
    s.paths.deliveryCommand = recorder(s);
    Maildir outbox(s.paths.outbox());
    outbox.create();
    // Written by another tool: a quoted address folded across a line end.
    outbox.add("From: me@example.org\nTo: \"split\n here\"@example.org, ok@example.org\nSubject: s\n\nHi\n");
    outbox.add("From: me@example.org\nTo: \"only\n bad\"@example.org\nSubject: t\n\nHi\n");
    const DeliveryReport report = Delivery(s.paths).deliverDue(QDateTime::currentDateTime());
    EXPECT_EQ(report.delivered, 1);
    EXPECT_EQ(report.held, 1);
    const QByteArray delivered = s.read(s.dir.path() + "/delivered.txt");
    EXPECT_TRUE(delivered.contains("To: ok@example.org\n")) << delivered.constData();
    const QByteArray log = s.read(s.paths.deliveryLog());
    EXPECT_TRUE(log.contains("not sent to \"split  here\"@example.org: no address a mail server takes") ||
                log.contains("not sent to"))
        << log.constData();
    EXPECT_TRUE(log.contains("none of its recipients is an address a mail server takes")) << log.constData();
}

TEST(Delivery, TheSentCopyCarriesTheDateItWentOutWithAndIsFiledOnceAfterAPowerCut)
{
    TempStore s;
    s.paths.deliveryCommand = recorder(s);
    const QString queued = queue(s, "anna@example.org", QDateTime(QDate(2026, 12, 28), QTime(0, 0)));
    const QDateTime out(QDate(2026, 12, 28), QTime(7, 30));
    EXPECT_EQ(Delivery(s.paths).deliverDue(out).delivered, 1);
    const QStringList sent = s.files(s.paths.sent() + "/cur");
    ASSERT_EQ(sent.size(), 1);
    EXPECT_EQ(QDateTime::fromString(mime::headerText(s.read(sent.first()), "Date"), Qt::RFC2822Date), out);
    EXPECT_EQ(mime::headerText(s.read(sent.first()), "Subject"), "Hello");

    // A copy filed before a power cut cut the filing short is recognised by
    // its bytes: the Outbox file goes, and Sent holds one copy, not two.
    const Maildir box(s.paths.sent());
    const QString again = s.paths.outbox() + "/new/again.host";
    s.write(again, "Subject: again\nDate: Mon, 1 Jan 2024 00:00:00 +0000\n\nhi\n");
    const QByteArray dated = mime::withDate(s.read(again), out);
    s.write(s.paths.sent() + "/cur/again.host:2,S", dated);
    EXPECT_EQ(box.moveIn(again, "S", dated), s.paths.sent() + "/cur/again.host:2,S");
    EXPECT_FALSE(QFile::exists(again));
    EXPECT_EQ(s.files(s.paths.sent() + "/cur").size(), 2);
    // Another message of that name stays; this one takes a name of its own.
    s.write(again, "Subject: another\n\nhi\n");
    const QString filed = box.moveIn(again, "S", mime::withDate(s.read(again), out));
    EXPECT_NE(filed, s.paths.sent() + "/cur/again.host:2,S");
    EXPECT_EQ(s.read(s.paths.sent() + "/cur/again.host:2,S"), dated);
    EXPECT_EQ(s.files(s.paths.sent() + "/cur").size(), 3);
}

TEST(Delivery, EveryOutcomeIsPinnedWholeByItsGoldenFile)
{
    // Each outcome of the outcome table, brought about as it happens to
    // users: the summary line, the exit status, the notice and the log are
    // compared whole with tests/data/delivery/<outcome>.ref.
    const QDateTime now(QDate(2026, 12, 8), QTime(9, 30), QTimeZone::utc());
    auto raw = [](TempStore &s, const QByteArray &to) {
        Maildir(s.paths.outbox()).create();
        return Maildir(s.paths.outbox())
            .add("From: me@example.org\nTo: " + to +
                 "\nSubject: Hello\nMIME-Version: 1.0\n"
                 "Content-Type: text/plain\n\nHi\n");
    };
    auto blockSent = [](TempStore &s) {
        QDir(s.paths.sent()).removeRecursively();
        QDir().mkpath(s.paths.sent());
        s.write(s.paths.sent() + "/cur", "in the way");
    };
    auto interrupted = [](TempStore &s, const QString &path) {
        DeliveryState state(s.paths.mail + "/.cheerpost-delivery-state");
        state.set(Maildir::baseName(path), {DeliveryState::Stage::Sending, 0, {}, {}});
        state.save();
    };
    const QString failing = "echo 'msmtp: account default not found' >&2\nexit 78";
    struct Case {
        const char *outcome;
        int runs;
        std::function<QString(TempStore &)> setUp; // gives the message's file
    };
    const Case cases[] = {
        {"delivered", 1, [&](TempStore &s) { return raw(s, "anna@example.org"); }},
        {"delivered-in-part", 1, [&](TempStore &s) { return raw(s, "anna@example.org, Nobody: ;"); }},
        {"not-filed", 1,
         [&](TempStore &s) {
             blockSent(s);
             return raw(s, "anna@example.org");
         }},
        {"still-not-filed", 2,
         [&](TempStore &s) {
             blockSent(s);
             return raw(s, "anna@example.org");
         }},
        {"waiting", 1, [&](TempStore &s) { return queue(s, "anna@example.org", now.addDays(3)); }},
        {"waiting-to-retry", 2,
         [&](TempStore &s) {
             s.paths.deliveryCommand = command(s, "fail.sh", failing);
             return raw(s, "anna@example.org");
         }},
        {"failed", 1,
         [&](TempStore &s) {
             s.paths.deliveryCommand = command(s, "fail.sh", failing);
             return raw(s, "anna@example.org");
         }},
        {"stopped", 1,
         [&](TempStore &s) {
             s.paths.smtp.host = "127.0.0.1"; // an account whose login is no address, and no From
             s.paths.smtp.user = "anna";
             Maildir(s.paths.outbox()).create();
             return Maildir(s.paths.outbox())
                 .add("To: anna@example.org\nSubject: Hello\nMIME-Version: 1.0\nContent-Type: text/plain\n\nHi\n");
         }},
        {"held", 1,
         [&](TempStore &s) {
             const QString path = raw(s, "anna@example.org");
             interrupted(s, path);
             return path;
         }},
        {"still-held", 2,
         [&](TempStore &s) {
             const QString path = raw(s, "anna@example.org");
             interrupted(s, path);
             return path;
         }},
    };
    for (const Case &c : cases) {
        TempStore s;
        s.paths.deliveryCommand = recorder(s); // unless the case gives another
        const QString message = c.setUp(s);
        DeliveryReport report;
        for (int run = 0; run < c.runs; ++run)
            report = Delivery(s.paths).deliverDue(now.addSecs(60 * run));
        QByteArray text = "summary: " + report.summary().toUtf8() +
                          "\nexit: " + QByteArray(report.trouble || report.stopped ? "1" : "0") + "\nnotice:\n";
        for (const QString &line : std::as_const(report.news))
            text += "  " + line.toUtf8() + "\n";
        text += "log:\n" + s.read(s.paths.deliveryLog());
        text.replace(s.dir.path().toUtf8(), "STORE").replace(Maildir::baseName(message).toUtf8(), "MESSAGE");
        EXPECT_TRUE(matchesGolden(text, qPrintable(QStringLiteral("delivery/%1.ref").arg(c.outcome)))) << c.outcome;
    }
}
