#include "hostmail/AtomicFile.h"

#include "hostmail/HostError.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace hostmail {

namespace {

QString errnoText() { return QString::fromLocal8Bit(std::strerror(errno)); }

} // namespace

void syncFolder(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

void writeFileAtomically(const QString &path, const QByteArray &data)
{
    const QFileInfo info(path);
    const QString folder = info.absolutePath();
    const QByteArray target = QFile::encodeName(info.absoluteFilePath());
    QByteArray temp = QFile::encodeName(folder + QLatin1String("/.") + info.fileName() +
                                        QLatin1String(".tmp-XXXXXX"));

    mode_t mode = 0644;
    struct stat st {};
    if (::stat(target.constData(), &st) == 0)
        mode = st.st_mode & 07777;

    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        throw HostError(QStringLiteral("Cannot write %1: %2").arg(path, errnoText()));
    const char *p = data.constData();
    qsizetype left = data.size();
    bool ok = true;
    while (left > 0) {
        const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ok = false;
            break;
        }
        p += n;
        left -= n;
    }
    const QString failure = ok ? QString() : errnoText();
    if (ok && ::fchmod(fd, mode) != 0)
        ok = false;
    if (ok && ::fsync(fd) != 0)
        ok = false;
    const QString syncFailure = ok ? QString() : errnoText();
    if (::close(fd) != 0)
        ok = false;
    if (!ok || ::rename(temp.constData(), target.constData()) != 0) {
        const QString why = !failure.isEmpty() ? failure : !syncFailure.isEmpty() ? syncFailure : errnoText();
        ::unlink(temp.constData());
        throw HostError(QStringLiteral("Cannot write %1: %2").arg(path, why));
    }
    syncFolder(folder);
}

void writeNewFileDurably(const QString &path, const QByteArray &data)
{
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        throw HostError(QStringLiteral("Cannot write %1: %2").arg(path, errnoText()));
    const char *p = data.constData();
    qsizetype left = data.size();
    bool ok = true;
    while (ok && left > 0) {
        const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        if (ok) {
            p += n;
            left -= n;
        }
    }
    ok = ok && ::fsync(fd) == 0;
    const QString why = ok ? QString() : errnoText();
    if (::close(fd) != 0 && ok)
        ok = false;
    if (!ok) {
        ::unlink(name.constData());
        throw HostError(QStringLiteral("Cannot write %1: %2").arg(path, why.isEmpty() ? errnoText() : why));
    }
}

QByteArray readWholeFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw HostError(QStringLiteral("Cannot read %1: %2").arg(path, file.errorString()));
    return file.readAll();
}

} // namespace hostmail
