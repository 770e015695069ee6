#include "hostmail/HostError.h"
#include "hostmail/store/AtomicFile.h"
#include "hostmail/store/Maildir.h"
#include "hostmail/store/WriteBatch.h"

#include "support/TempStore.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <sys/file.h>

using namespace hostmail;

TEST(WriteBatch, FilesAppearWholeAtTheCommitAndNotBefore)
{
    TempStore s;
    const QString path = s.dir.path() + "/a.vcf";
    s.write(path, "old");
    const Maildir drafts(s.paths.drafts());
    QString draft;
    {
        WriteBatch batch;
        writeFileAtomically(path, "new");
        draft = drafts.add("Subject: x\n\nbody\n", "DS");
        EXPECT_EQ(s.read(path), "old");
        EXPECT_FALSE(QFile::exists(draft));
        batch.flush();
        EXPECT_EQ(s.read(path), "new");
        EXPECT_EQ(s.read(draft), "Subject: x\n\nbody\n");
        writeFileAtomically(path, "newer");
    } // the end of the batch commits the rest
    EXPECT_EQ(s.read(path), "newer");
    EXPECT_EQ(QDir(s.dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"a.vcf"});
    EXPECT_TRUE(QDir(s.paths.drafts() + "/tmp").isEmpty());
}

TEST(WriteBatch, ReadsAndRemovalsSeeWhatWaitsAndALaterWriteWins)
{
    TempStore s;
    const QString path = s.dir.path() + "/b.ics";
    WriteBatch batch;
    WriteBatch joined; // a second batch on the thread joins the first
    writeFileAtomically(path, "one");
    writeFileAtomically(path, "two");
    EXPECT_EQ(readWholeFile(path, 100), "two");
    writeFileAtomically(path, "three");
    removeFile(path);
    EXPECT_FALSE(QFile::exists(path));
    for (int i = 0; i < WriteBatch::kMaxFiles + 10; ++i)
        writeFileAtomically(s.dir.path() + QStringLiteral("/n%1").arg(i), QByteArray::number(i));
    EXPECT_NO_THROW(joined.flush());
    EXPECT_EQ(QDir(s.dir.path()).entryList(QDir::Files | QDir::Hidden).size(), WriteBatch::kMaxFiles + 10);
}

TEST(WriteBatch, LargeFilesAreCommittedWithoutWaitingForTheEnd)
{
    TempStore s;
    WriteBatch batch;
    const QByteArray big(12 * 1024 * 1024, 'x');
    for (int i = 0; i < 3; ++i)
        writeFileAtomically(s.dir.path() + QStringLiteral("/big%1").arg(i), big);
    QElapsedTimer t;
    t.start();
    while (!QFile::exists(s.dir.path() + "/big0") && t.elapsed() < 20000)
        QThread::msleep(5);
    EXPECT_TRUE(QFile::exists(s.dir.path() + "/big0")); // past 32 MB the worker commits on its own
    batch.flush();
    EXPECT_EQ(QFileInfo(s.dir.path() + "/big2").size(), big.size());
}

TEST(WriteBatch, AFileThatCannotBePlacedFailsAsWithoutABatchAndLeavesNoTemporary)
{
    TempStore s;
    const QString blocked = s.dir.path() + "/blocked";
    QDir().mkpath(blocked + "/inside");                         // a folder in the way of the rename
    EXPECT_THROW(writeFileAtomically(blocked, "x"), HostError); // without a batch: at the call
    const QString fine = s.dir.path() + "/fine";
    WriteBatch batch;
    writeFileAtomically(blocked, "x");
    writeFileAtomically(s.dir.path() + "/missing/folder/file", "y");
    writeFileAtomically(fine, "z");
    try {
        batch.flush();
        ADD_FAILURE() << "flush reported nothing";
    } catch (const HostError &e) {
        QStringList failed = e.files();
        failed.sort();
        EXPECT_EQ(failed, QStringList({blocked, s.dir.path() + "/missing/folder/file"}));
    }
    EXPECT_NO_THROW(batch.flush()); // reported once
    EXPECT_EQ(s.read(fine), "z");
    EXPECT_EQ(QDir(s.dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"fine"});
}

TEST(Maildir, TemporariesLeftByAKilledWriterGoAfterThirtySixHours)
{
    TempStore s;
    const Maildir drafts(s.paths.drafts());
    drafts.create();
    const QString old = s.paths.drafts() + "/tmp/old", fresh = s.paths.drafts() + "/tmp/fresh";
    s.write(old, "par");
    s.write(fresh, "part");
    QFile file(old);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.setFileTime(QDateTime::currentDateTime().addSecs(-37 * 3600), QFileDevice::FileModificationTime));
    file.close();
    EXPECT_EQ(drafts.removeStaleTemporaries(QDateTime::currentDateTime()), 1);
    EXPECT_FALSE(QFile::exists(old));
    EXPECT_TRUE(QFile::exists(fresh));
}

TEST(WriteBatch, MaildirFoldersRemovedMeanwhileAreMadeAgain)
{
    TempStore s;
    const Maildir outbox(s.paths.outbox());
    outbox.add("first\n");
    QDir(s.paths.outbox()).removeRecursively();
    WriteBatch batch;
    const QString second = outbox.add("second\n");
    EXPECT_NO_THROW(batch.flush());
    EXPECT_EQ(s.read(second), "second\n");
}

TEST(AtomicFile, WithoutTheExchangeAChangedFileIsNeverReplaced)
{
    // The fallback for file systems without an atomic exchange (NFS, CIFS,
    // FUSE), run here on a file system that has one.
    TempStore s;
    const QString path = s.dir.path() + "/a.vcf";
    auto job = [&](const QByteArray &data) {
        s.write(path + ".tmp", data);
        WriteJob j;
        j.temp = QFile::encodeName(path + ".tmp");
        j.target = QFile::encodeName(path);
        j.expected = QByteArray("as read");
        return j;
    };
    s.write(path, "as read");
    EXPECT_EQ(detail::replaceWithoutExchange(job("ours")), 0);
    EXPECT_EQ(s.read(path), "ours");

    s.write(path, "a sync tool's edit");
    EXPECT_EQ(detail::replaceWithoutExchange(job("ours")), ESTALE);
    EXPECT_EQ(s.read(path), "a sync tool's edit");
    EXPECT_EQ(QDir(s.dir.path()).entryList(QDir::Files), QStringList({"a.vcf", "a.vcf.tmp"}));

    QFile::remove(path); // removed by the other program: not made again
    EXPECT_EQ(detail::replaceWithoutExchange(job("ours")), ESTALE);
    EXPECT_FALSE(QFile::exists(path));
    const QString refusal = detail::failureText("x.vcf", ENOTSUP);
    EXPECT_TRUE(refusal.startsWith("x.vcf was not changed: its file system (")) << refusal.toStdString();
    EXPECT_TRUE(refusal.endsWith(") cannot replace a file without the risk of losing another program's change"));
}

TEST(AtomicFile, WhatAPowerCutLeftIsClearedByTheFirstWriteIntoTheFolder)
{
    TempStore s;
    const QString dir = s.dir.path() + "/Contacts";
    QDir().mkpath(dir);
    s.write(dir + "/a.vcf", "a");
    s.write(dir + "/.a.vcf.tmp-k2j9x0", "half a new a");    // a write cut short: goes
    s.write(dir + "/.b.vcf.tmp-0a1b2c.old", "b as it was"); // b moved aside and gone: comes back
    s.write(dir + "/.c.vcf.tmp-zz0099.old", "c as it was"); // c was replaced: the old one goes
    s.write(dir + "/c.vcf", "c new");
    s.write(dir + "/.e.vcf.tmp-e0e0e0", "being written");     // a live writer's: stays
    s.write(dir + "/.notes.tmp-ABCDEF", "another program's"); // not a name this program makes
    s.write(dir + "/d.vcf.tmp-abcdef", "another program's");
    QFile live(dir + "/.e.vcf.tmp-e0e0e0");
    ASSERT_TRUE(live.open(QIODevice::ReadOnly));
    ASSERT_EQ(::flock(live.handle(), LOCK_EX), 0);

    writeFileAtomically(dir + "/new.vcf", "new");

    EXPECT_EQ(QDir(dir).entryList(QDir::Files | QDir::Hidden, QDir::Name),
              QStringList({".e.vcf.tmp-e0e0e0", ".notes.tmp-ABCDEF", "a.vcf", "b.vcf", "c.vcf", "d.vcf.tmp-abcdef",
                           "new.vcf"}));
    EXPECT_EQ(s.read(dir + "/b.vcf"), "b as it was");
    EXPECT_EQ(s.read(dir + "/c.vcf"), "c new");
    EXPECT_EQ(s.read(dir + "/a.vcf"), "a");
}

TEST(AtomicFile, ARemovalTakesOnlyTheVersionThatWasRead)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("card.vcf");
    const auto put = [&](const QByteArray &bytes) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    };
    put("BEGIN:VCARD\r\nFN:Read\r\nEND:VCARD\r\n");
    // Changed after it was read: it stays whole, and the error says so.
    put("BEGIN:VCARD\r\nFN:Edited\r\nEND:VCARD\r\n");
    try {
        hostmail::removeFileIfUnchanged(path, "BEGIN:VCARD\r\nFN:Read\r\nEND:VCARD\r\n");
        ADD_FAILURE() << "a changed file was removed";
    } catch (const hostmail::HostError &e) {
        EXPECT_EQ(QString::fromUtf8(e.what()), path + " changed on disk since it was read; it was not overwritten");
    }
    EXPECT_EQ(hostmail::readWholeFile(path, 1024), "BEGIN:VCARD\r\nFN:Edited\r\nEND:VCARD\r\n");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{"card.vcf"}); // nothing left aside
    hostmail::removeFileIfUnchanged(path, "BEGIN:VCARD\r\nFN:Edited\r\nEND:VCARD\r\n");
    EXPECT_FALSE(QFile::exists(path));
    hostmail::removeFileIfUnchanged(path, "anything"); // gone already: nothing to do
}
