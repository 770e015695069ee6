// The long runs under faults: a process killed part way, a full disk, a
// read-only store, and contacts that no exporter should have written.
#include "bench/generate_store.h"
#include "bulkmail/core/BulkRun.h"
#include "greetings/core/GreetingRun.h"
#include "hostmail/model/Application.h"
#include "hostmail/model/HostEnums.h"
#include "hostmail/model/Namespace.h"
#include "reminders/core/ReminderRun.h"

#include "support/ProgramTexts.h"
#include "support/RecordingPrompter.h"
#include "support/TempStore.h"

#include <QDir>
#include <QElapsedTimer>
#include <QMap>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <random>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Snapshot = QMap<QString, QByteArray>;

Snapshot snapshot(const QString &folder)
{
    Snapshot out;
    for (const QString &name : QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name)) {
        QFile f(folder + QLatin1Char('/') + name);
        if (f.open(QIODevice::ReadOnly))
            out.insert(name, f.readAll());
    }
    return out;
}

int countFiles(const QString &folder)
{
    return int(QDir(folder).entryList(QDir::Files).size());
}

// Every stored message is whole: its HTML body is there and the message runs
// to its closing MIME boundary.
void expectWholeMessages(const QString &folder)
{
    for (const QByteArray &m : snapshot(folder)) {
        const qsizetype at = m.indexOf("boundary=\"");
        const QByteArray boundary = m.mid(at + 10, m.indexOf('"', at + 10) - at - 10);
        EXPECT_TRUE(at >= 0 && m.contains("</html>") && m.trimmed().endsWith("--" + boundary + "--"))
            << m.right(200).constData();
    }
}

// Starts store_runner on the store and kills it once folder holds files.
void killPartWay(const TempStore &s, const char *command, const QString &folder, int files)
{
    QProcess runner;
    runner.start(QStringLiteral(STORE_RUNNER), {QLatin1String(command), s.dir.path()});
    ASSERT_TRUE(runner.waitForReadyRead(60000));
    QElapsedTimer t;
    t.start();
    while (countFiles(folder) < files && runner.state() == QProcess::Running && t.elapsed() < 120000)
        QThread::msleep(2);
    ASSERT_EQ(runner.state(), QProcess::Running) << "the run ended before it could be killed";
    ::kill(static_cast<pid_t>(runner.processId()), SIGKILL);
    runner.waitForFinished();
}

// A tmpfs mounted on a folder while the object lives. Only root may mount;
// tests that need one are skipped where that fails.
struct SmallDisk {
    QByteArray folder;
    bool mounted = false;
    SmallDisk(const QString &path, const char *options) : folder(QFile::encodeName(path))
    {
        QDir().mkpath(path);
        mounted = ::mount("tmpfs", folder.constData(), "tmpfs", 0, options) == 0;
    }
    bool makeReadOnly() const
    {
        return ::mount("tmpfs", folder.constData(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }
    ~SmallDisk()
    {
        if (mounted)
            ::umount2(folder.constData(), MNT_DETACH);
    }
};

// Makes folder read-only for this process: a read-only mount for root, whom
// permission bits do not stop, else the bits.
std::unique_ptr<SmallDisk> readOnlyFolder(const QString &folder, const Snapshot &content)
{
    auto fill = [&] {
        for (auto it = content.begin(); it != content.end(); ++it) {
            QFile f(folder + QLatin1Char('/') + it.key());
            if (f.open(QIODevice::WriteOnly))
                f.write(it.value());
        }
    };
    if (::geteuid() != 0) {
        fill();
        ::chmod(QFile::encodeName(folder).constData(), 0555);
        return nullptr;
    }
    auto disk = std::make_unique<SmallDisk>(folder, "size=4m");
    if (!disk->mounted)
        return nullptr;
    fill();
    return disk->makeReadOnly() ? std::move(disk) : nullptr;
}

// Limits the size of any file this process writes, as a full disk does: a
// write past the limit fails with EFBIG instead of raising SIGXFSZ.
struct FileSizeLimit {
    rlimit before{};
    explicit FileSizeLimit(rlim_t bytes)
    {
        std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &before);
        rlimit limit = before;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &before); }
};

struct Runs {
    TempStore store;
    RecordingPrompter prompter;
    hostmail::ApplicationFactory open = [this] { return std::make_unique<hostmail::Application>(store.paths); };

    int greetings(const QDate &today, const QString &html = QStringLiteral("<html><body><p>Hi</p></body></html>"))
    {
        greetings::GreetingSettings s;
        s.saveDraft = true;
        const templates::TemplateDocument doc{html};
        return greetings::GreetingRun(open, prompter, {}).run(s, doc, doc, today);
    }
    int bulk()
    {
        bulkmail::BulkSettings s;
        s.mode = bulkmail::RecipientMode::AllContacts;
        s.saveDraft = true;
        s.subject = QStringLiteral("News");
        return bulkmail::BulkRun(open, prompter)
            .run(s, {QStringLiteral("<html><body><p>News</p></body></html>")}, QDate(2026, 5, 1));
    }
    void reminders()
    {
        const QString previous = QDir::currentPath();
        QDir::setCurrent(store.dir.path());
        reminders::ReminderRun(open, prompter).run([] { return QDateTime(QDate(2026, 12, 8), QTime(9, 0)); });
        QDir::setCurrent(previous);
    }
    QString draftFolder() const { return store.paths.drafts() + QStringLiteral("/cur"); }
    // A draft from before the run, which no failure may touch.
    void keepEarlierDraft() const
    {
        QDir().mkpath(store.paths.drafts() + "/tmp");
        QDir().mkpath(store.paths.drafts() + "/new");
        QDir().mkpath(draftFolder());
        store.write(
            draftFolder() + "/1.earlier:2,DS",
            "Subject: earlier\nContent-Type: multipart/alternative; boundary=\"b\"\n\n--b\n\n<html></html>\n--b--\n");
    }
};

QByteArray timedBirthdayCard(int i)
{
    return card(QStringLiteral("P%1").arg(i), QStringLiteral("L%1").arg(i),
                QStringLiteral("UID:u%1\r\nBDAY:1980-05-01T10:00:00Z\r\n").arg(i),
                QStringLiteral("p%1@example.org").arg(i));
}

} // namespace

TEST(KilledRun, BulkRunOfTenThousandLeavesOnlyWholeMessages)
{
    Runs r;
    generateAddressBook(r.store.paths.contacts, 10000);
    const Snapshot contacts = snapshot(r.store.paths.contacts);
    killPartWay(r.store, "bulk", r.draftFolder(), 300);
    const int stored = countFiles(r.draftFolder());
    EXPECT_GE(stored, 300);
    EXPECT_LT(stored, 9980);
    expectWholeMessages(r.draftFolder());
    EXPECT_EQ(snapshot(r.store.paths.contacts), contacts);
}

TEST(KilledRun, ReminderRunLeavesEveryContactOldOrNewNeverCut)
{
    Runs r;
    for (int i = 0; i < 3000; ++i)
        r.store.addCard(QStringLiteral("c%1.vcf").arg(i, 4, 10, QChar('0')), timedBirthdayCard(i));
    killPartWay(r.store, "reminder", r.store.paths.calendar, 300);
    int rewritten = 0;
    const Snapshot after = snapshot(r.store.paths.contacts);
    for (int i = 0; i < 3000; ++i) {
        const QByteArray now = after.value(QStringLiteral("c%1.vcf").arg(i, 4, 10, QChar('0')));
        const QByteArray old = timedBirthdayCard(i);
        QByteArray fresh = old;
        fresh.replace("T10:00:00Z", "");
        EXPECT_TRUE(now == old || now == fresh) << i << now.constData();
        rewritten += now == fresh;
    }
    EXPECT_LT(rewritten, 3000);
    for (const QByteArray &event : snapshot(r.store.paths.calendar))
        EXPECT_TRUE(event.endsWith("END:VCALENDAR\r\n"));
    // Temporary files left by the kill are never taken for contacts.
    EXPECT_EQ(hostmail::Application(r.store.paths)
                  .GetNamespace("MAPI")
                  .GetDefaultFolder(hostmail::olFolderContacts)
                  .items()
                  .Count(),
              3000);
}

TEST(FullDisk, FailedWritesLeaveNoPartMessageAndKeepEarlierDrafts)
{
    Runs r;
    for (int i = 0; i < 20; ++i)
        r.store.addCard(QStringLiteral("c%1.vcf").arg(i), timedBirthdayCard(i));
    r.keepEarlierDraft();
    const Snapshot before = snapshot(r.draftFolder());
    {
        const FileSizeLimit limit(1024); // each message is larger
        r.greetings(QDate(2026, 5, 1), QStringLiteral("<html><body><p>%1</p></body></html>").arg(QString(2000, 'x')));
    }
    EXPECT_EQ(snapshot(r.draftFolder()), before);
    EXPECT_EQ(countFiles(r.store.paths.drafts() + "/tmp"), 0);
    // Composed but refused by the disk: never reported as made.
    EXPECT_EQ(r.prompter.texts().last(),
              "No greetings were made: none of the birthdays and anniversaries between 1 May 2026 and 31 May 2026 "
              "could be greeted.\n\n20 greetings not saved: File too large.");
    EXPECT_EQ(r.prompter.boxes.last().icon, common::MessageIcon::Exclamation);
}

TEST(FullDisk, ASmallFileSystemFillsWithWholeMessagesOnly)
{
    Runs r;
    SmallDisk disk(r.store.paths.mail, "size=96k");
    if (!disk.mounted)
        GTEST_SKIP() << "mounting a tmpfs needs root";
    for (int i = 0; i < 300; ++i)
        r.store.addCard(QStringLiteral("c%1.vcf").arg(i), timedBirthdayCard(i));
    r.keepEarlierDraft();
    const Snapshot before = snapshot(r.draftFolder());
    const int made = r.bulk();
    const Snapshot after = snapshot(r.draftFolder());
    EXPECT_EQ(made, after.size() - 1); // only the messages that reached the disk count
    EXPECT_GT(after.size(), 1);
    EXPECT_LT(after.size(), 301);
    EXPECT_EQ(after.value("1.earlier:2,DS"), before.value("1.earlier:2,DS"));
    expectWholeMessages(r.draftFolder());
    EXPECT_EQ(countFiles(r.store.paths.drafts() + "/tmp"), 0);
    EXPECT_EQ(r.prompter.texts().last(), QStringLiteral("All emails have been generated.\n\n"
                                                        "%1 messages saved in Drafts (%2).\n"
                                                        "%3 messages not saved: No space left on device.")
                                             .arg(made)
                                             .arg(r.store.paths.drafts())
                                             .arg(300 - made));
}

TEST(ReadOnlyStore, ReminderRunChangesNothingAndStillEnds)
{
    Runs r;
    Snapshot contacts;
    for (int i = 0; i < 5; ++i)
        contacts.insert(QStringLiteral("c%1.vcf").arg(i), timedBirthdayCard(i));
    const auto guard = readOnlyFolder(r.store.paths.contacts, contacts);
    if (::geteuid() == 0 && !guard)
        GTEST_SKIP() << "a read-only mount could not be made";
    r.reminders();
    EXPECT_EQ(snapshot(r.store.paths.contacts), contacts);
    EXPECT_TRUE(r.store.read(r.store.paths.state + "/GenerateReminders.txt").contains("Ended On: "));
    ::chmod(QFile::encodeName(r.store.paths.contacts).constData(), 0755);
}

TEST(ReadOnlyStore, GreetingRunWithReadOnlyMailEndsWithItsMessage)
{
    Runs r;
    for (int i = 0; i < 5; ++i)
        r.store.addCard(QStringLiteral("c%1.vcf").arg(i), timedBirthdayCard(i));
    const auto guard = readOnlyFolder(r.store.paths.mail, {});
    if (::geteuid() == 0 && !guard)
        GTEST_SKIP() << "a read-only mount could not be made";
    r.greetings(QDate(2026, 5, 1));
    EXPECT_EQ(countFiles(r.draftFolder()), 0);
    EXPECT_TRUE(r.prompter.texts().last().startsWith("No greetings were made: the mail store cannot be opened ("))
        << r.prompter.texts().last().toStdString();
    ::chmod(QFile::encodeName(r.store.paths.mail).constData(), 0755);
}

TEST(HostileContacts, NoCrashNoInjectedHeaderAndTheRunEnds)
{
    Runs r;
    const QByteArray huge(4 * 1024 * 1024, 'n');
    r.store.addCard("crlf.vcf", "BEGIN:VCARD\r\nVERSION:2.1\r\n"
                                "N;ENCODING=QUOTED-PRINTABLE:Berg=0D=0ABcc: evil@example.org;Anna=0D=0AX-Evil: 1\r\n"
                                "EMAIL;ENCODING=QUOTED-PRINTABLE:anna@example.org=0D=0ABcc: evil@example.org\r\n"
                                "BDAY:1980-05-01\r\nEND:VCARD\r\n");
    r.store.addCard("utf8.vcf", "BEGIN:VCARD\r\nVERSION:3.0\r\nN:\xff\xfe\xc3;\xc3\x28\x80;;;\r\n"
                                "EMAIL:bad\xff@example.org\r\nBDAY:1980-05-01\r\nEND:VCARD\r\n");
    r.store.addCard("huge.vcf", "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Big;Ben;;;\r\nNOTE:" + huge +
                                    "\r\nEMAIL:ben@example.org\r\nBDAY:1980-05-01\r\nEND:VCARD\r\n");
    r.store.addCard("dates.vcf", "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Odd;Dates;;;\r\nEMAIL:odd@example.org\r\n"
                                 "BDAY:1980-13-45\r\nX-ANNIVERSARY:--0230\r\nEND:VCARD\r\n");
    r.store.addCard("cut.vcf", "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Cut;Off;;;\r\nBDAY:1980-05-01\r\nEMAIL:cu");
    r.greetings(QDate(2026, 5, 1));
    const Snapshot drafts = snapshot(r.draftFolder());
    // The cut card and the broken dates give none; an address with a line
    // break and a header in it is no address, so that contact gets none.
    EXPECT_EQ(drafts.size(), 2);
    for (const QByteArray &m : drafts) {
        const QByteArray head = m.left(m.indexOf("\n\n"));
        EXPECT_FALSE(head.contains("\nBcc:")) << head.constData();
        EXPECT_FALSE(head.contains("\nX-Evil")) << head.constData();
    }
    EXPECT_EQ(r.prompter.texts().last(),
              "All birthday & anniversary emails have been generated.\n\n2 greetings "
              "saved in Drafts (" +
                  r.store.paths.drafts() +
                  ").\nSkipped, no e-mail address (1): Anna X-Evil: 1 Berg Bcc: evil@example.org.");
}

TEST(HostileContacts, OversizedFilesAreSkippedUnread)
{
    Runs r;
    r.store.addCard("anna.vcf", card("Anna", "Berg", "BDAY:1980-05-01\r\n", "anna@example.org"));
    // Larger than the host reads: a contact file and an attachment, as sparse
    // files, so the test writes nothing to speak of.
    QFile big(r.store.contactFile("big.vcf"));
    ASSERT_TRUE(big.open(QIODevice::WriteOnly));
    big.write("BEGIN:VCARD\r\nVERSION:3.0\r\nN:Big;Ben;;;\r\nEMAIL:ben@example.org\r\nBDAY:1980-05-01\r\nNOTE:");
    ASSERT_TRUE(big.resize(129 * 1024 * 1024));
    big.close();
    QFile huge(r.store.dir.path() + "/huge.pdf");
    ASSERT_TRUE(huge.open(QIODevice::WriteOnly));
    ASSERT_TRUE(huge.resize(26 * 1024 * 1024));
    huge.close();

    greetings::GreetingSettings s;
    s.saveDraft = true;
    s.birthday.attachmentPath = huge.fileName();
    const templates::TemplateDocument doc{QStringLiteral("<html><body><p>Hi</p></body></html>")};
    EXPECT_EQ(greetings::GreetingRun(r.open, r.prompter, {}).run(s, doc, doc, QDate(2026, 5, 1)), 1);
    const Snapshot drafts = snapshot(r.draftFolder());
    ASSERT_EQ(drafts.size(), 1);
    EXPECT_TRUE(drafts.first().contains("To: anna@example.org"));
    EXPECT_FALSE(drafts.first().contains("huge.pdf")); // sent without it, after asking
    const QString contacts = r.store.paths.contacts;
    EXPECT_EQ(r.prompter.texts().mid(1),
              QStringList({huge.fileName() + " cannot be included (it is 26 MB, larger than 25 MB).\r"
                                             "Make the greetings without it?",
                           "All birthday & anniversary emails have been generated.\n\n1 greeting saved in Drafts (" +
                               r.store.paths.drafts() + ").\nSkipped, contact file too large (1): " + contacts +
                               "/big.vcf (129 MB, larger than 128 MB).\nLeft out of the birthday greetings: " +
                               huge.fileName() + " (it is 26 MB, larger than 25 MB)."}));
}

TEST(SyncTool, NoEditItMakesDuringAReminderRunIsLost)
{
    // A sync tool edits contact files the whole time the reminder run
    // rewrites them (each of their dates has a time of day, so every file is
    // rewritten): read, add a line, write a temporary file, rename it over.
    Runs r;
    const int n = 3000;
    const auto name = [](int i) { return QStringLiteral("c%1.vcf").arg(i, 4, 10, QChar('0')); };
    for (int i = 0; i < n; ++i)
        r.store.addCard(name(i), timedBirthdayCard(i));
    std::atomic<bool> stop{false};
    std::vector<int> edits(n, 0);
    std::thread tool([&] {
        std::mt19937 random(7);
        for (int round = 0; !stop; ++round) {
            const int i = int(random() % n);
            const QString path = r.store.contactFile(name(i));
            QByteArray text = r.store.read(path);
            text.replace("END:VCARD", "NOTE:edit " + QByteArray::number(round) + "\r\nEND:VCARD");
            const QString temp = r.store.contactFile(".sync-" + name(i));
            r.store.write(temp, text);
            if (::rename(QFile::encodeName(temp).constData(), QFile::encodeName(path).constData()) == 0)
                ++edits[size_t(i)];
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    r.reminders();
    stop = true;
    tool.join();
    int edited = 0, rewritten = 0;
    for (int i = 0; i < n; ++i) {
        const QByteArray now = r.store.read(r.store.contactFile(name(i)));
        EXPECT_EQ(int(now.count("NOTE:edit ")), edits[size_t(i)]) << name(i).toStdString() << " lost an edit";
        edited += edits[size_t(i)] > 0;
        rewritten += !now.contains("T10:00:00Z");
        // A file the tool changed between the run's read and its write is
        // left to the tool (how many depends on the machine's speed); one it
        // never touched is rewritten.
        if (edits[size_t(i)] == 0) {
            EXPECT_FALSE(now.contains("T10:00:00Z")) << name(i).toStdString() << " was not rewritten";
        }
    }
    EXPECT_GT(edited, 100) << "the tool hardly ran";
    EXPECT_GT(rewritten, 0) << "the run rewrote nothing";
}
