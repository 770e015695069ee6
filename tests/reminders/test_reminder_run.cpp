#include "hostmail/model/Application.h"
#include "hostmail/model/YearlyEvents.h"
#include "reminders/core/ReminderRun.h"

#include "support/Golden.h"
#include "support/ProgramTexts.h"
#include "support/RecordingPrompter.h"
#include "support/TempStore.h"

#include <QDir>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

using namespace reminders;

namespace {

struct ReminderFixture {
    TempStore store;
    RecordingPrompter prompter;
    QString previous = QDir::currentPath();
    ReminderFixture() { QDir::setCurrent(store.dir.path()); }
    ~ReminderFixture() { QDir::setCurrent(previous); }
    bool go()
    {
        int tick = 0;
        return ReminderRun([this] { return std::make_unique<hostmail::Application>(store.paths); }, prompter)
            .run([&tick] { return QDateTime(QDate(2026, 12, 8), QTime(9, 5, tick++)); });
    }
    QByteArray log() const { return store.read(store.dir.path() + "/GenerateReminders.txt"); }
};

} // namespace

TEST(ReminderRun, NoCreatesNoLog)
{
    ReminderFixture f;
    f.prompter.answers = {false};
    EXPECT_FALSE(f.go());
    EXPECT_FALSE(QFile::exists(f.store.dir.path() + "/GenerateReminders.txt"));
    EXPECT_EQ(f.prompter.texts(), QStringList{texts::reminderQuestion});
}

TEST(ReminderRun, LogsAndRewritesEverySetDate)
{
    ReminderFixture f;
    f.store.addCard("1.vcf",
                    card("Anna", "Berg", "UID:anna\r\nBDAY:1985-03-14T10:30:00\r\nX-ANNIVERSARY:2010-06-02\r\n"));
    f.store.addCard("2.vcf", "BEGIN:VCARD\r\nVERSION:4.0\r\nKIND:group\r\nFN:Family\r\nEND:VCARD\r\n");
    f.store.addCard("3.vcf", card("Tom", "Lind", "UID:tom\r\nX-ANNIVERSARY:20000101\r\n"));
    f.store.addCard("4.vcf", card("No", "Dates", "BDAY;VALUE=text:unknown\r\n"));
    f.store.addCard("5.vcf", card("Leap", "Day", "UID:leap\r\nBDAY:1992-02-29\r\n"));
    EXPECT_TRUE(f.go());
    EXPECT_TRUE(matchesGolden(f.log(), "reminder-log.ref"));
    // The time of day is gone; other lines and the leap day stay as they were.
    EXPECT_TRUE(f.store.read(f.store.contactFile("1.vcf")).contains("BDAY:1985-03-14\r\nX-ANNIVERSARY:2010-06-02\r\n"));
    EXPECT_EQ(f.store.read(f.store.contactFile("5.vcf")), card("Leap", "Day", "UID:leap\r\nBDAY:1992-02-29\r\n"));
    EXPECT_EQ(f.store.read(f.store.contactFile("3.vcf")), card("Tom", "Lind", "UID:tom\r\nX-ANNIVERSARY:20000101\r\n"));
    // The host made the yearly events.
    EXPECT_EQ(f.store.files(f.store.paths.calendar).size(), 4);
    EXPECT_TRUE(
        QFile::exists(f.store.paths.calendar + "/" + hostmail::YearlyEvents::eventUid("leap", "birthday") + ".ics"));
}

TEST(ReminderRun, EmptyFolderLogsStartAndEnd)
{
    ReminderFixture f;
    f.go();
    EXPECT_EQ(f.log().count("\r\n"), 2);
    EXPECT_TRUE(f.log().startsWith("Started on: "));
}

TEST(ReminderRun, TheLogNeverWritesThroughALinkOrAnotherName)
{
    // A removable drive can carry a link named like the log, pointing at a
    // file of the user's; or a second name of such a file.
    ReminderFixture f;
    const QString outside = f.store.dir.path() + "/bashrc";
    f.store.write(outside, "export KEEP=1\n");
    const QString log = f.store.dir.path() + "/GenerateReminders.txt";
    ASSERT_TRUE(QFile::link(outside, log));
    EXPECT_TRUE(f.go());
    EXPECT_EQ(f.store.read(outside), "export KEEP=1\n");
    EXPECT_FALSE(QFileInfo(log).isSymLink());
    EXPECT_TRUE(f.log().startsWith("Started on: "));

    QFile::remove(log);
    ASSERT_EQ(::link(QFile::encodeName(outside).constData(), QFile::encodeName(log).constData()), 0);
    EXPECT_TRUE(f.go());
    EXPECT_EQ(f.store.read(outside), "export KEEP=1\n");
    EXPECT_TRUE(f.log().startsWith("Started on: "));

    // A pipe in its place does not stop the run, and an old log is emptied.
    QFile::remove(log);
    ASSERT_EQ(::mkfifo(QFile::encodeName(log).constData(), 0600), 0);
    EXPECT_TRUE(f.go());
    EXPECT_TRUE(QFileInfo(log).isFile());
    EXPECT_TRUE(f.go());
    EXPECT_EQ(f.log().count("Started on: "), 1);
}
