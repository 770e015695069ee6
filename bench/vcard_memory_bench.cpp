// Peak memory of reading a contacts folder that holds one large address
// book (every contact with a photo, as phones and Google export them), for
// each file size given in MB; each size is read in a child process of its
// own, so one size's peak does not hide the next.
// With --small=N[,FxN...]: one file (or F copies) of N small cards (about
// 120 bytes each), one of them with a birthday today, through a whole
// greeting run.
#include "common/core/Prompter.h"
#include "greetings/core/GreetingRun.h"
#include "hostmail/model/Application.h"
#include "hostmail/model/ContactItem.h"
#include "hostmail/model/Folder.h"
#include "hostmail/model/HostEnums.h"
#include "hostmail/store/StorePaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// An address book of about mb megabytes: cards with a 40 KB photo each.
void writeAddressBook(const QString &path, int mb)
{
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly))
        std::exit(1);
    QByteArray photo = "PHOTO;ENCODING=b;TYPE=JPEG:" + QByteArray(40 * 1024, 'A') + "\r\n";
    photo = photo.replace(QByteArray(74, 'A'), QByteArray(73, 'A') + "\r\n ");
    qint64 written = 0;
    for (int i = 0; written < qint64(mb) * 1024 * 1024; ++i) {
        const QByteArray card = QStringLiteral("BEGIN:VCARD\r\nVERSION:3.0\r\nUID:bench-%1\r\nN:Name%1;Given;;;\r\n"
                                               "FN:Given Name%1\r\nEMAIL:p%1@example.org\r\nBDAY:1980-%2-%3\r\n")
                                    .arg(i)
                                    .arg(i % 12 + 1, 2, 10, QLatin1Char('0'))
                                    .arg(i % 28 + 1, 2, 10, QLatin1Char('0'))
                                    .toUtf8() +
                                photo + "END:VCARD\r\n";
        out.write(card);
        written += card.size();
    }
}

// N small cards as a phone exports them, one of them with a birthday today.
void writeSmallCards(const QString &path, int n)
{
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly))
        std::exit(1);
    const QDate today = QDate::currentDate();
    QByteArray chunk;
    for (int i = 0; i < n; ++i) {
        // The others fall 100 to 250 days away, outside any window.
        const QDate birthday =
            QDate(1980, today.month(), qMin(today.day(), 28)).addDays(i == n / 2 ? 0 : 100 + i % 150);
        chunk += "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Name" + QByteArray::number(i) + ";Given;;;\r\nFN:Given Name" +
                 QByteArray::number(i) + "\r\nEMAIL:p" + QByteArray::number(i) +
                 "@example.org\r\nBDAY:" + birthday.toString(Qt::ISODate).toLatin1() + "\r\nEND:VCARD\r\n";
        if (chunk.size() > 1024 * 1024) {
            out.write(chunk);
            chunk.clear();
        }
    }
    out.write(chunk);
}

struct Yes : common::Prompter {
    bool askYesNo(const QString &, const QString &) override { return true; }
    void tell(const QString &, const QString &, common::MessageIcon) override {}
};

long peakKilobytes()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList sizes = app.arguments().mid(1);
    if (!sizes.isEmpty() && sizes.first().startsWith(QLatin1String("--small="))) {
        std::printf("| cards | file | greeting run | messages | peak memory |\n|---|---|---|---|---|\n");
        std::fflush(stdout);
        for (const QString &count : sizes.first().mid(8).split(QLatin1Char(','))) {
            QTemporaryDir dir;
            const hostmail::StorePaths paths = hostmail::StorePaths::underRoot(dir.path());
            QDir().mkpath(paths.contacts);
            // "4x1000000": four such files.
            const int files = count.contains(QLatin1Char('x')) ? count.section(QLatin1Char('x'), 0, 0).toInt() : 1;
            const int cards = count.section(QLatin1Char('x'), -1).toInt();
            const QString file = paths.contacts + QStringLiteral("/all.vcf");
            writeSmallCards(file, cards);
            for (int f = 1; f < files; ++f)
                QFile::copy(file, paths.contacts + QStringLiteral("/all-%1.vcf").arg(f));
            const pid_t child = ::fork();
            if (child == 0) {
                Yes yes;
                greetings::GreetingSettings settings;
                settings.saveDraft = true;
                const templates::TemplateDocument doc{QStringLiteral("<html><body><p>Happy day</p></body></html>")};
                QElapsedTimer t;
                t.start();
                const int made =
                    greetings::GreetingRun([&] { return std::make_unique<hostmail::Application>(paths); }, yes, {})
                        .run(settings, doc, doc, QDate::currentDate());
                std::printf("| %s | %lld MB | %.2f s | %d | %ld MB |\n", qPrintable(count),
                            files * QFileInfo(file).size() / (1024 * 1024), t.elapsed() / 1000.0, made,
                            peakKilobytes() / 1024);
                std::fflush(stdout);
                std::_Exit(0);
            }
            int status = 0;
            ::waitpid(child, &status, 0);
        }
        return 0;
    }
    if (sizes.isEmpty())
        sizes = {QStringLiteral("1"), QStringLiteral("30"), QStringLiteral("120")};
    std::printf("| file | contacts | read time | peak memory | peak / file |\n|---|---|---|---|---|\n");
    std::fflush(stdout);
    for (const QString &size : sizes) {
        const int mb = size.toInt();
        QTemporaryDir dir;
        const hostmail::StorePaths paths = hostmail::StorePaths::underRoot(dir.path());
        QDir().mkpath(paths.contacts);
        writeAddressBook(paths.contacts + QStringLiteral("/all.vcf"), mb);
        const pid_t child = ::fork();
        if (child == 0) {
            const long before = peakKilobytes();
            QElapsedTimer t;
            t.start();
            const hostmail::Items items = hostmail::Folder(hostmail::olFolderContacts, paths).items();
            int birthdays = 0;
            for (const auto &item : items) {
                if (auto *c = dynamic_cast<const hostmail::ContactItem *>(item.get()); c && c->Birthday().isValid())
                    ++birthdays;
            }
            const double seconds = t.elapsed() / 1000.0;
            const long peak = peakKilobytes();
            std::printf("| %d MB | %d | %.2f s | %ld MB | %.1f (before reading: %ld MB) |\n", mb, birthdays, seconds,
                        peak / 1024, double(peak) / 1024.0 / mb, before / 1024);
            std::fflush(stdout);
            std::_Exit(0);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
    }
    return 0;
}
