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
    QString logPath() const { return store.paths.state + "/GenerateReminders.txt"; }
    bool go()
    {
        int tick = 0;
        return ReminderRun([this] { return std::make_unique<hostmail::Application>(store.paths); }, prompter)
            .run([&tick] { return QDateTime(QDate(2026, 12, 8), QTime(9, 5, tick++)); });
    }
    QByteArray log() const { return store.read(logPath()); }
};

} // namespace

TEST(ReminderRun, NoCreatesNoLog)
{
    ReminderFixture f;
    f.prompter.answers = {false};
    EXPECT_FALSE(f.go());
    EXPECT_FALSE(QFile::exists(f.logPath()));
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
    // The log is in the state folder, never in the current one, and the
    // closing message says so with the count.
    EXPECT_FALSE(QFile::exists(f.store.dir.path() + "/GenerateReminders.txt"));
    EXPECT_EQ(f.prompter.texts().last(), "The birthday and anniversary reminders were generated.\n\n3 contacts saved "
                                         "with their yearly calendar entries.\nThe log of this run is " +
                                             f.logPath() + ".");
}

TEST(ReminderRun, AContactFileThatCannotBeWrittenIsNamedNotCounted)
{
    ReminderFixture f;
    f.store.addCard("1.vcf", card("Anna", "Berg", "BDAY:1985-03-14\r\n"));
    f.store.addCard("2.vcf", card("Tom", "Lind", "BDAY:1970-01-02T10:00:00\r\n")); // rewritten without the time
    // Another program changes the file between the read and the save.
    int tick = 0;
    ReminderRun run(
        [&]() -> std::unique_ptr<hostmail::Application> {
            auto app = std::make_unique<hostmail::Application>(f.store.paths);
            return app;
        },
        f.prompter);
    f.prompter.answers = {true};
    EXPECT_TRUE(run.run([&] {
        if (tick++ == 0) // the start line: after the folder was read
            f.store.addCard("2.vcf", card("Tom", "Lind", "BDAY:1970-01-02\r\nNOTE:edited\r\n"));
        return QDateTime(QDate(2026, 12, 8), QTime(9, 5));
    }));
    const QString text = f.prompter.texts().last();
    EXPECT_TRUE(text.startsWith("The birthday and anniversary reminders were generated.\n\n1 contact saved with "
                                "their yearly calendar entries.\n1 contact not saved: "))
        << text.toStdString();
    EXPECT_TRUE(f.store.read(f.store.contactFile("2.vcf")).contains("NOTE:edited"));
}

TEST(ReminderRun, EmptyFolderLogsStartAndEnd)
{
    ReminderFixture f;
    f.go();
    EXPECT_EQ(f.log().count("\r\n"), 2);
    EXPECT_TRUE(f.log().startsWith("Started on: "));
    EXPECT_EQ(f.prompter.texts().last(), "No reminders were generated: no contact has a birthday or anniversary.\n\n"
                                         "The log of this run is " +
                                             f.logPath() + ".");
}

TEST(ReminderRun, TheLogNeverWritesThroughALinkOrAnotherName)
{
    // A removable drive can carry a link named like the log, pointing at a
    // file of the user's; or a second name of such a file.
    ReminderFixture f;
    const QString outside = f.store.dir.path() + "/bashrc";
    f.store.write(outside, "export KEEP=1\n");
    const QString log = f.logPath();
    QDir().mkpath(f.store.paths.state);
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
