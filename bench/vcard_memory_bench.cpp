// Peak memory of reading a contacts folder that holds one large address
// book (every contact with a photo, as phones and Google export them), for
// each file size given in MB; each size is read in a child process of its
// own, so one size's peak does not hide the next.
#include "hostmail/model/ContactItem.h"
#include "hostmail/model/Folder.h"
#include "hostmail/model/HostEnums.h"
#include "hostmail/store/StorePaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
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
