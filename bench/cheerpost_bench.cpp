// Timed runs over generated address books: prints, per size, the greeting run
// for the current month (saving drafts), the bulk run to all contacts, the
// reminder run, the export run, and the process's peak memory.
// Usage: cheerpost_bench [sizes...]   (default 1000 10000 100000)
#include "generate_store.h"

#include "bulkmail/core/BulkRun.h"
#include "export/core/ExportRun.h"
#include "greetings/core/GreetingRun.h"
#include "hostmail/Application.h"
#include "reminders/core/ReminderRun.h"
#include "shell/core/Prompter.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <sys/resource.h>

namespace {

struct Yes : shell::Prompter {
    bool askYesNo(const QString &, const QString &) override { return true; }
    void tell(const QString &, const QString &, shell::MessageIcon) override {}
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
    for (int i = 1; i < argc; ++i)
        sizes.append(QString::fromLatin1(argv[i]).toInt());
    if (sizes.isEmpty())
        sizes = {1000, 10000, 100000};
    for (int n : sizes) {
        QTemporaryDir dir;
        hostmail::StorePaths paths = hostmail::StorePaths::underRoot(dir.path());
        QElapsedTimer t;
        t.start();
        generateAddressBook(paths.contacts, n);
        const double gen = t.elapsed() / 1000.0;
        auto open = [&] { return std::make_unique<hostmail::Application>(paths); };
        Yes yes;

        greetings::GreetingSettings gs;
        gs.saveDraft = true;
        const QDate today = QDate::currentDate();
        const QDate first(today.year(), today.month(), 1);
        templates::TemplateDocument doc{QStringLiteral("<html><body><p>Happy day</p></body></html>"), {}};
        t.restart();
        const int greetings = greetings::GreetingRun(open, yes, {}).run(gs, doc, doc, first);
        const double greetingSecs = t.elapsed() / 1000.0;

        // Bulk: all contacts, two 20 KB pictures.
        QByteArray png = QByteArray::fromBase64(
            "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mNk+M9QDwADhgGAWjR9awAAAABJRU5ErkJggg==");
        png.append(QByteArray(20 * 1024, 'x'));
        for (const char *name : {"/a.png", "/b.png"}) {
            QFile f(dir.path() + QLatin1String(name));
            f.open(QIODevice::WriteOnly);
            f.write(png);
        }
        bulkmail::BulkSettings bs;
        bs.mode = bulkmail::RecipientMode::AllContacts;
        bs.saveDraft = true;
        bs.sendMailOn = today;
        templates::TemplateDocument bulkDoc{doc.html, {dir.path() + "/a.png", dir.path() + "/b.png"}};
        t.restart();
        const int bulk = bulkmail::BulkRun(open, yes).run(bs, bulkDoc);
        const double bulkSecs = t.elapsed() / 1000.0;

        const QString cwd = QDir::currentPath();
        QDir::setCurrent(dir.path());
        t.restart();
        reminders::ReminderRun(open, yes).run([] { return QDateTime::currentDateTime(); });
        const double reminderSecs = t.elapsed() / 1000.0;
        QDir::setCurrent(cwd);

        QDir().mkpath(dir.path() + "/device");
        t.restart();
        exporting::ExportRun(open, yes, {}).run({dir.path() + "/device", true, true, false});
        const double exportSecs = t.elapsed() / 1000.0;

        std::printf("contacts %d (generated in %.2f s)\n", n, gen);
        std::printf("  greeting run: %.2f s, %.0f contacts/s, %d messages, %.0f messages/s\n", greetingSecs,
                    n / greetingSecs, greetings, greetings / greetingSecs);
        std::printf("  bulk run:     %.2f s, %d messages, %.0f messages/s\n", bulkSecs, bulk, bulk / bulkSecs);
        std::printf("  reminder run: %.2f s\n", reminderSecs);
        std::printf("  export run:   %.2f s\n", exportSecs);
        std::printf("  peak memory:  %.0f MB\n", peakKb() / 1024.0);
        std::fflush(stdout);
    }
    return 0;
}
