// The one process starter, on real programs: what it reads back is bounded,
// a stopped command ends with its whole group, and a detached start names
// what went wrong.
#include "hostmail/process/CommandRunner.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <thread>

using hostmail::CommandOptions;
using hostmail::runCommand;

namespace {

// Running, not merely a zombie that nobody reaped.
bool alive(const QByteArray &pid)
{
    QFile stat("/proc/" + pid.trimmed() + "/stat");
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = stat.readAll();
    return text.mid(text.lastIndexOf(')') + 2, 1) != "Z";
}

} // namespace

TEST(CommandRunner, OutputIsKeptUpToItsLimitAndACommandThatWritesMoreStillFinishes)
{
    const hostmail::CommandResult r =
        runCommand({"sh", "-c", "cat; head -c 1000000 /dev/zero | tr '\\0' x; echo oops >&2; exit 3"}, "typed\n",
                   CommandOptions{20, 10, nullptr});
    EXPECT_TRUE(r.started);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_TRUE(r.readAll);
    EXPECT_EQ(r.output, "typed\nxxxx");
    EXPECT_EQ(r.errorTail, "oops");
    EXPECT_EQ(r.describe(), "exit status 3");

    // Without a limit, standard output is not kept at all.
    EXPECT_TRUE(runCommand({"echo", "secret"}, {}, {}).output.isEmpty());
}

TEST(CommandRunner, ACancelledOrLateCommandEndsWithItsChildrenWithinASecond)
{
    QTemporaryDir dir;
    const QString pidFile = dir.filePath("child");
    const QStringList argv = {"sh", "-c", "sleep 60 & echo $! > \"$0\"; wait", pidFile};

    std::atomic_bool cancelled = false;
    std::thread stopper([&] {
        QThread::msleep(300);
        cancelled = true;
    });
    QElapsedTimer clock;
    clock.start();
    const hostmail::CommandResult r = runCommand(argv, {}, CommandOptions{60, 0, &cancelled});
    stopper.join();
    EXPECT_LT(clock.elapsed(), 3000); // far below the sleep of 60 s
    EXPECT_TRUE(r.cancelled);
    EXPECT_FALSE(r.succeeded());
    EXPECT_EQ(r.describe(), "was stopped on request");
    QFile child(pidFile);
    ASSERT_TRUE(child.open(QIODevice::ReadOnly));
    const QByteArray pid = child.readAll();
    for (int i = 0; i < 250 && alive(pid); ++i) // the kernel delivers the group's signal at once
        QThread::msleep(20);
    EXPECT_FALSE(alive(pid)) << "the command's own child outlived it";

    const hostmail::CommandResult late = runCommand({"sleep", "30"}, {}, CommandOptions{1, 0, nullptr});
    EXPECT_TRUE(late.timedOut);
    EXPECT_EQ(late.describe(), "did not finish in time and was stopped");
}

TEST(CommandRunner, AProgramThatIsNotThereIsNamedAndADetachedOneRunsOnItsOwn)
{
    const hostmail::CommandResult missing = runCommand({"cheerpost-no-such-program"}, {}, {});
    EXPECT_FALSE(missing.started);
    EXPECT_EQ(missing.describe(), "could not be started: No such file or directory");
    EXPECT_EQ(runCommand({}, {}, {}).describe(), "could not be started: no command is set");

    QString why;
    EXPECT_FALSE(hostmail::startDetached({"cheerpost-no-such-program", "x"}, &why));
    EXPECT_EQ(why, "No such file or directory");

    QTemporaryDir dir;
    const QString done = dir.filePath("done");
    ASSERT_TRUE(hostmail::startDetached({"sh", "-c", "sleep 0.2; echo $$ > \"$0\"", done}, &why));
    QElapsedTimer clock;
    clock.start();
    while (!QFile::exists(done) && clock.elapsed() < 10000)
        QThread::msleep(20);
    ASSERT_TRUE(QFile::exists(done));
}
