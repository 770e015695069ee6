// Timed runs over generated address books: prints, per size, the greeting run
// for the current month (saving drafts), the bulk run to all contacts, the
// reminder run, the export run, and the process's peak memory.
// Usage: cheerpost_bench [--only=greeting,bulk,reminder,export] [--keep=DIR] [sizes...]
// (default: all runs; sizes 1000 10000 100000). With --keep the address book
// of each size is made once under DIR/SIZE and used again by later runs.
#include "generate_store.h"

#include "bulkmail/core/BulkRun.h"
#include "common/core/Prompter.h"
#include "export/core/ExportRun.h"
#include "greetings/core/GreetingRun.h"
#include "hostmail/model/Application.h"
#include "hostmail/model/HostEnums.h"
#include "hostmail/model/Namespace.h"
#include "reminders/core/ReminderRun.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUrl>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

struct Yes : common::Prompter {
    bool askYesNo(const QString &, const QString &) override { return true; }
    void tell(const QString &, const QString &, common::MessageIcon) override {}
};

long peakKb()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

// The file system's own cost of writing n files of content the way a write
// batch does: temporary files, one syncfs per 256, the renames, one flush of
// the folder. The files are removed again afterwards.
double floorSeconds(const QString &folder, int n, const QByteArray &content)
{
    QDir().mkpath(folder);
    const QByteArray base = QFile::encodeName(folder) + '/';
    ::sync();
    QElapsedTimer t;
    t.start();
    for (int start = 0; start < n; start += 256) {
        std::vector<int> fds;
        const int end = std::min(n, start + 256);
        for (int i = start; i < end; ++i) {
            const QByteArray temp = base + ".f" + QByteArray::number(i) + ".tmp";
            const int fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            if (fd < 0 || ::write(fd, content.constData(), size_t(content.size())) != content.size())
                std::abort();
            fds.push_back(fd);
        }
        ::syncfs(fds.front());
        for (int i = start; i < end; ++i) {
            ::close(fds[size_t(i - start)]);
            const QByteArray name = base + 'f' + QByteArray::number(i);
            ::rename((base + ".f" + QByteArray::number(i) + ".tmp").constData(), (name + ".ics").constData());
        }
        const int dirFd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::fsync(dirFd);
        ::close(dirFd);
    }
    const double secs = t.elapsed() / 1000.0;
    QDir(folder).removeRecursively();
    return secs;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QList<int> sizes;
    QStringList only = {"greeting", "bulk", "reminder", "export"};
    QString keep;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLatin1(argv[i]);
        if (arg.startsWith(QLatin1String("--only=")))
            only = arg.mid(7).split(QLatin1Char(','));
        else if (arg.startsWith(QLatin1String("--keep=")))
            keep = arg.mid(7);
        else
            sizes.append(arg.toInt());
    }
    if (sizes.isEmpty())
        sizes = {1000, 10000, 100000};
    std::vector<std::unique_ptr<QTemporaryDir>> temporaries;
    for (int n : sizes) {
        temporaries.push_back(std::make_unique<QTemporaryDir>()); // removed at exit, for the same reason
        const QTemporaryDir &temporary = *temporaries.back();
        const QString root = keep.isEmpty() ? temporary.path() : keep + QLatin1Char('/') + QString::number(n);
        const QDir dir(root);
        hostmail::StorePaths paths = hostmail::StorePaths::underRoot(root);
        QElapsedTimer t;
        t.start();
        if (keep.isEmpty() || !QFileInfo::exists(paths.contacts)) {
            generateAddressBook(paths.contacts, n);
            ::sync(); // an address book is on disk before a run, not still in the cache
            std::printf("contacts %d (generated in %.2f s)\n", n, t.elapsed() / 1000.0);
        } else {
            std::printf("contacts %d (kept in %s)\n", n, qPrintable(root));
            // Each run starts with empty mail folders, as on a fresh store. The
            // old ones are moved aside, not removed: ext4 passes over inodes
            // freed in the last minutes, which would slow the runs down.
            const QString aside = root + QLatin1String("/old/") + QString::number(QDateTime::currentMSecsSinceEpoch());
            QDir().mkpath(aside);
            for (const QString &folder : {paths.mail, paths.calendar, root + QLatin1String("/device")})
                QDir().rename(folder, aside + QLatin1Char('/') + QFileInfo(folder).fileName());
        }
        auto open = [&] { return std::make_unique<hostmail::Application>(paths); };
        Yes yes;
        const QDate today = QDate::currentDate();
        const templates::TemplateDocument doc{QStringLiteral("<html><body><p>Happy day</p></body></html>")};

        if (only.contains(QLatin1String("load"))) {
            t.restart();
            const int count = open()
                                  ->GetNamespace(QStringLiteral("MAPI"))
                                  .GetDefaultFolder(hostmail::olFolderContacts)
                                  .items()
                                  .Count();
            const double secs = t.elapsed() / 1000.0;
            std::printf("  load:         %.2f s, %d items, %.0f contacts/s\n", secs, count, n / secs);
        }
        if (only.contains(QLatin1String("greeting"))) {
            greetings::GreetingSettings gs;
            gs.saveDraft = true;
            t.restart();
            const int made =
                greetings::GreetingRun(open, yes, {}).run(gs, doc, doc, QDate(today.year(), today.month(), 1));
            const double secs = t.elapsed() / 1000.0;
            std::printf("  greeting run: %.2f s, %.0f contacts/s, %d messages, %.0f messages/s\n", secs, n / secs, made,
                        made / secs);
        }
        if (only.contains(QLatin1String("bulk"))) {
            // All contacts, two 20 KB pictures.
            QByteArray png = QByteArray::fromBase64(
                "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mNk+M9QDwADhgGAWjR9awAAAABJRU5ErkJggg==");
            png.append(QByteArray(20 * 1024, 'x'));
            for (const char *name : {"/a.png", "/b.png"}) {
                QFile f(dir.path() + QLatin1String(name));
                if (f.open(QIODevice::WriteOnly))
                    f.write(png);
            }
            bulkmail::BulkSettings bs;
            bs.mode = bulkmail::RecipientMode::AllContacts;
            bs.saveDraft = true;
            bs.sendMailOn = today;
            // The template shows both pictures, as an edited template does.
            const QString a = QUrl::fromLocalFile(dir.path() + "/a.png").toString();
            const QString b = QUrl::fromLocalFile(dir.path() + "/b.png").toString();
            const templates::TemplateDocument bulkDoc{"<html><body><p>Happy day</p><img src=\"" + a + "\"><img src=\"" +
                                                      b + "\"></body></html>"};
            t.restart();
            const int made = bulkmail::BulkRun(open, yes).run(bs, bulkDoc, today);
            const double secs = t.elapsed() / 1000.0;
            std::printf("  bulk run:     %.2f s, %d messages, %.0f messages/s\n", secs, made, made / secs);
        }
        if (only.contains(QLatin1String("reminder"))) {
            const QString cwd = QDir::currentPath();
            QDir::setCurrent(dir.path());
            // The floor is measured before and after the run, on the same
            // file system, and the run compared with the mean of the two: a
            // virtual disk's speed drifts from one minute to the next.
            const QByteArray sample(400, 'x'); // about the size of a yearly event
            // Before, as many files as there are contacts, scaled to what the run wrote.
            int contactFiles = 0;
            for (QDirIterator it(dir.path() + "/Contacts", QDir::Files); it.hasNext(); it.next())
                ++contactFiles;
            const double floorBefore = floorSeconds(dir.path() + "/floor", contactFiles, sample);
            const QDateTime started = QDateTime::currentDateTime();
            ::sync(); // both start on a file system with nothing left to write
            t.restart();
            reminders::ReminderRun(open, yes).run([] { return QDateTime::currentDateTime(); });
            const double secs = t.elapsed() / 1000.0;
            QDir::setCurrent(cwd);
            // The floor: as many files, of the same size, written, renamed
            // and flushed as a batch does, with nothing else to do.
            // Counted one file at a time: a list of 100,000 entries would
            // weigh on the peak memory this program reports.
            int written = 0;
            for (QDirIterator it(dir.path() + "/Calendar", QDir::Files); it.hasNext(); it.next())
                ++written;
            for (QDirIterator it(dir.path() + "/Contacts", QDir::Files); it.hasNext();)
                written += it.nextFileInfo().lastModified() >= started;
            const double floorAfter = floorSeconds(dir.path() + "/floor", written, sample);
            const double floor = (floorBefore * written / std::max(contactFiles, 1) + floorAfter) / 2;
            std::printf("  reminder run: %.2f s, %d files written; floor %.2f s (%.2f before, %.2f after); "
                        "%.2fx the floor\n",
                        secs, written, floor, floorBefore * written / std::max(contactFiles, 1), floorAfter,
                        secs / floor);
        }
        if (only.contains(QLatin1String("export"))) {
            QDir().mkpath(dir.path() + "/device");
            t.restart();
            exporting::ExportRun(open, yes, {}).run({dir.path() + "/device", true, true, false});
            std::printf("  export run:   %.2f s\n", t.elapsed() / 1000.0);
        }
        std::printf("  peak memory:  %.0f MB\n", peakKb() / 1024.0);
        std::fflush(stdout);
    }
    return 0;
}
