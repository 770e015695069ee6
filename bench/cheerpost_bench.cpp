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
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUrl>

#include <cstdio>
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
        const templates::TemplateDocument doc{QStringLiteral("<html><body><p>Happy day</p></body></html>"), {}};

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
            const templates::TemplateDocument bulkDoc{
                "<html><body><p>Happy day</p><img src=\"" + a + "\"><img src=\"" + b + "\"></body></html>", {a, b}};
            t.restart();
            const int made = bulkmail::BulkRun(open, yes).run(bs, bulkDoc);
            const double secs = t.elapsed() / 1000.0;
            std::printf("  bulk run:     %.2f s, %d messages, %.0f messages/s\n", secs, made, made / secs);
        }
        if (only.contains(QLatin1String("reminder"))) {
            const QString cwd = QDir::currentPath();
            QDir::setCurrent(dir.path());
            t.restart();
            reminders::ReminderRun(open, yes).run([] { return QDateTime::currentDateTime(); });
            std::printf("  reminder run: %.2f s\n", t.elapsed() / 1000.0);
            QDir::setCurrent(cwd);
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
