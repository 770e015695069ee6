#include "hostmail/store/AtomicFile.h"

#include "hostmail/HostError.h"
#include "hostmail/store/WriteBatch.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace hostmail {

namespace {

QString errnoText(int error = errno)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Makes folder and its missing parents.
void makeFolders(const QByteArray &folder);

// After a missing folder was made for a Maildir: all three of its folders.
void completeMaildir(const QByteArray &maildir)
{
    if (maildir.isEmpty())
        return;
    for (const char *sub : {"/tmp", "/new", "/cur"})
        makeFolders(maildir + sub);
}

void makeFolders(const QByteArray &folder)
{
    if (folder.isEmpty() || folder == "/" || ::mkdir(folder.constData(), 0700) == 0 || errno == EEXIST)
        return;
    if (errno == ENOENT) {
        makeFolders(detail::folderOf(folder));
        ::mkdir(folder.constData(), 0700);
    }
}

// Writes the job at once, flushed, or hands it to the thread's batch.
void write(WriteJob job, const QString &shownName)
{
    if (WriteBatch *batch = WriteBatch::current()) {
        batch->add(std::move(job));
        return;
    }
    const int fd = detail::writeTemp(job);
    if (fd < 0)
        throw HostError(detail::failureText(shownName, -fd));
    int error = ::fsync(fd) == 0 ? 0 : errno;
    if (error == 0 && job.expected)
        error = detail::takeTargetMode(job, fd);
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0)
        error = detail::renameIntoPlace(job);
    if (error != 0) {
        ::unlink(job.temp.constData());
        throw HostError(detail::failureText(shownName, error));
    }
    detail::syncFolderPath(detail::folderOf(job.target));
}

// Commits the thread's batch when it holds path, so what follows sees it.
// Without a batch, the hot read path computes nothing.
void settle(const QString &path)
{
    WriteBatch *batch = WriteBatch::current();
    if (batch && batch->holds(QFile::encodeName(QFileInfo(path).absoluteFilePath())))
        batch->commit();
}

// Whether the regular file at path holds exactly bytes (a link does not).
bool holds(const QByteArray &path, const QByteArray &bytes)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    bool same = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size == bytes.size();
    if (same) {
        QByteArray now(bytes.size() + 1, Qt::Uninitialized);
        qsizetype used = 0;
        while (used < now.size()) {
            const ssize_t n = ::read(fd, now.data() + used, static_cast<size_t>(now.size() - used));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            used += n;
        }
        same = used == bytes.size() && QByteArrayView(now.constData(), used) == bytes;
    }
    ::close(fd);
    return same;
}

// The kind of file system a path is on, as the user knows it.
QString fileSystemName(const QString &path)
{
    struct statfs fs {};
    if (::statfs(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), &fs) != 0)
        return QStringLiteral("unknown");
    switch (static_cast<unsigned long>(fs.f_type)) {
    case 0x6969:
        return QStringLiteral("NFS");
    case 0xFF534D42:
    case 0xFE534D42:
    case 0x517B:
        return QStringLiteral("SMB/CIFS");
    case 0x4d44:
        return QStringLiteral("FAT");
    case 0x2011BAB0:
        return QStringLiteral("exFAT");
    case 0x65735546:
        return QStringLiteral("FUSE, such as sshfs");
    default:
        return QStringLiteral("type 0x%1").arg(static_cast<unsigned long>(fs.f_type), 0, 16);
    }
}

// Puts from at to only where no file is: 0, EEXIST, or ENOTSUP where the
// file system can do neither a rename that refuses to replace nor a link.
int placeWithoutReplacing(const char *from, const char *to)
{
    if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno == EEXIST)
        return EEXIST;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return errno;
    if (::link(from, to) == 0) {
        ::unlink(from);
        return 0;
    }
    if (errno == EEXIST)
        return EEXIST;
    return errno == EPERM || errno == EOPNOTSUPP || errno == ENOSYS ? ENOTSUP : errno;
}

// The compare-and-swap where the file system cannot exchange two files (NFS,
// CIFS, FUSE): the target is first moved aside in one step, so no one can
// change it while it is compared; the new file then goes in only where no
// file is, so a version another program wrote meanwhile is never replaced.
int replaceWithoutExchangeImpl(const WriteJob &job)
{
    const QByteArray aside = job.temp + ".old";
    if (::rename(job.target.constData(), aside.constData()) != 0)
        return errno == ENOENT ? ESTALE : errno;
    auto putBack = [&] {
        // Its own version goes back, unless a newer one came meanwhile.
        if (placeWithoutReplacing(aside.constData(), job.target.constData()) != 0)
            ::unlink(aside.constData());
    };
    if (!holds(aside, *job.expected)) {
        putBack();
        return ESTALE;
    }
    const int placed = placeWithoutReplacing(job.temp.constData(), job.target.constData());
    if (placed != 0) {
        if (placed != EEXIST)
            putBack(); // nothing changed
        else
            ::unlink(aside.constData()); // a newer version came in the gap: it stays
        return placed == EEXIST ? ESTALE : placed;
    }
    ::unlink(aside.constData());
    return 0;
}

// The compare-and-swap of a job with an expectation (see renameIntoPlace).
int exchangeIfUnchanged(const WriteJob &job)
{
    const char *temp = job.temp.constData(), *target = job.target.constData();
    if (::renameat2(AT_FDCWD, temp, AT_FDCWD, target, RENAME_EXCHANGE) != 0) {
        if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
            return errno == ENOENT ? ESTALE : errno;
        return replaceWithoutExchangeImpl(job);
    }
    // The temporary name now holds exactly what the target held a moment ago.
    if (holds(job.temp, *job.expected)) {
        ::unlink(temp);
        return 0;
    }
    // Another program had changed it: its version goes back in place. Should
    // it write once more meanwhile, its newest version is the one kept.
    if (::renameat2(AT_FDCWD, temp, AT_FDCWD, target, RENAME_EXCHANGE) != 0) {
        ::rename(temp, target);
        return ESTALE;
    }
    struct stat st {};
    if (::lstat(temp, &st) == 0 && st.st_ino == job.inode)
        ::unlink(temp); // ours came back out
    else
        ::rename(temp, target); // a newer version came out: it goes back in place
    return ESTALE;
}

} // namespace

int writeAll(int fd, const QByteArray &data)
{
    const char *p = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : EIO;
        p += n;
        left -= n;
    }
    return 0;
}

namespace detail {

int replaceWithoutExchange(const WriteJob &job)
{
    return replaceWithoutExchangeImpl(job);
}

QByteArray folderOf(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash <= 0 ? QByteArray(slash == 0 ? "/" : ".") : path.left(slash);
}

void syncFolderPath(const QByteArray &folder)
{
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

QString failureText(const QString &file, int error)
{
    if (error == ESTALE)
        return QStringLiteral("%1 changed on disk since it was read; it was not overwritten").arg(file);
    if (error == ENOTSUP)
        return QStringLiteral("%1 was not changed: its file system (%2) cannot replace a file without the risk of "
                              "losing another program's change")
            .arg(file, fileSystemName(file));
    return QStringLiteral("Cannot write %1: %2").arg(file, errnoText(error));
}

int takeTargetMode(const WriteJob &job, int fd)
{
    struct stat st {};
    if (::lstat(job.target.constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return ESTALE; // removed or replaced by a link meanwhile
    return ::fchmod(fd, st.st_mode & 07777) == 0 ? 0 : errno;
}

int writeTemp(WriteJob &job)
{
    int fd = -1;
    if (job.uniqueTemp) {
        // A name no file has: the template's XXXXXX from the process and a
        // counter, tried again on the rare clash with a file left behind.
        static std::atomic<quint32> counter{quint32(QRandomGenerator::global()->generate())};
        static const quint32 process = quint32(::getpid()) << 16;
        const qsizetype x = job.temp.lastIndexOf("XXXXXX");
        for (int attempt = 0; attempt < 100; ++attempt) {
            if (x >= 0) {
                const quint32 n = counter.fetch_add(1) ^ process;
                const QByteArray name = QByteArray::number(n % 2176782336u, 36).rightJustified(6, '0');
                job.temp.replace(x, 6, name);
            }
            fd = ::open(job.temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            if (fd >= 0 || errno != EEXIST || x < 0)
                break;
        }
        if (fd < 0 && errno == ENOENT && job.makeFolders) {
            makeFolders(folderOf(job.temp));
            fd = ::open(job.temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        }
    } else {
        fd = ::open(job.temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 && errno == ENOENT && job.makeFolders) {
            makeFolders(folderOf(job.temp));
            completeMaildir(job.maildir);
            fd = ::open(job.temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        }
    }
    if (fd < 0)
        return -errno;
    int error = writeAll(fd, job.data);
    if (error == 0 && job.expected) {
        struct stat st {};
        error = ::fstat(fd, &st) == 0 ? 0 : errno;
        job.inode = st.st_ino;
    }
    if (error != 0) {
        ::close(fd);
        ::unlink(job.temp.constData());
        return -error;
    }
    return fd;
}

int renameIntoPlace(const WriteJob &job)
{
    if (job.expected)
        return exchangeIfUnchanged(job);
    if (::rename(job.temp.constData(), job.target.constData()) == 0)
        return 0;
    if (errno != ENOENT || !job.makeFolders)
        return errno;
    // A Maildir's new/ or cur/ that went missing is made again.
    makeFolders(folderOf(job.target));
    completeMaildir(job.maildir);
    return ::rename(job.temp.constData(), job.target.constData()) == 0 ? 0 : errno;
}

} // namespace detail

namespace {

WriteJob replacing(const QString &path, const QByteArray &data)
{
    const QFileInfo info(path);
    WriteJob job;
    job.target = QFile::encodeName(info.absoluteFilePath());
    job.temp =
        QFile::encodeName(info.absolutePath() + QLatin1String("/.") + info.fileName() + QLatin1String(".tmp-XXXXXX"));
    job.data = data;
    return job;
}

} // namespace

void writeFileAtomically(const QString &path, const QByteArray &data, const QString &after)
{
    WriteJob job = replacing(path, data);
    if (!after.isEmpty())
        job.after = QFile::encodeName(QFileInfo(after).absoluteFilePath());
    write(std::move(job), path);
}

void replaceFileIfUnchanged(const QString &path, const QByteArray &expected, const QByteArray &data)
{
    // A link is written through: the file it names is the one replaced.
    QString file = path;
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISLNK(st.st_mode)) {
        file = QFileInfo(path).canonicalFilePath();
        if (file.isEmpty())
            throw HostError(detail::failureText(path, ESTALE));
    }
    WriteJob job = replacing(file, data);
    job.expected = expected;
    write(std::move(job), path);
}

void writeFileThrough(const QString &temp, const QString &target, const QByteArray &data, const QString &maildir)
{
    WriteJob job;
    job.temp = QFile::encodeName(temp);
    job.target = QFile::encodeName(QFileInfo(target).absoluteFilePath());
    job.data = data;
    job.uniqueTemp = false;
    job.makeFolders = true;
    job.maildir = QFile::encodeName(maildir);
    write(std::move(job), target);
}

void removeFile(const QString &path)
{
    settle(path);
    const QByteArray name = QFile::encodeName(path);
    if (::unlink(name.constData()) != 0 && errno != ENOENT)
        throw HostError(QStringLiteral("Cannot remove %1: %2").arg(path, errnoText()));
}

QByteArray readWholeFile(const QString &path, qint64 maxBytes)
{
    return readWholeFileAt(AT_FDCWD, path, maxBytes);
}

void syncFolder(const QString &folder)
{
    detail::syncFolderPath(QFile::encodeName(folder));
}

QByteArray readWholeFileAt(int folderFd, const QString &path, qint64 maxBytes)
{
    settle(path);
    const QByteArray name = QFile::encodeName(path);
    // open, fstat, one read and close: the contact folder is read file by
    // file. Only regular files; a FIFO never blocks the reader.
    // Without an access-time update where the file is the user's own: a
    // first read of 100,000 contacts would otherwise dirty 100,000 inodes.
    int fd = ::openat(folderFd, name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOATIME);
    if (fd < 0 && errno == EPERM)
        fd = ::openat(folderFd, name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        throw HostError(QStringLiteral("Cannot read %1: %2").arg(path, errnoText()));
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int error = S_ISDIR(st.st_mode) ? EISDIR : S_ISREG(st.st_mode) ? errno : EINVAL;
        ::close(fd);
        throw HostError(QStringLiteral("Cannot read %1: %2").arg(path, errnoText(error)));
    }
    if (st.st_size > maxBytes) {
        ::close(fd);
        throw HostError(QStringLiteral("Cannot read %1: it is larger than %2 MB").arg(path).arg(maxBytes >> 20));
    }
    QByteArray data;
    data.resize(static_cast<qsizetype>(st.st_size) + 1); // one byte more shows the end
    qsizetype used = 0;
    for (;;) {
        if (used == data.size()) {
            if (used > maxBytes) { // it grew while being read
                ::close(fd);
                throw HostError(
                    QStringLiteral("Cannot read %1: it is larger than %2 MB").arg(path).arg(maxBytes >> 20));
            }
            data.resize(qMin<qint64>(data.size() * 2, maxBytes + 1));
        }
        const ssize_t n = ::read(fd, data.data() + used, static_cast<size_t>(data.size() - used));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            throw HostError(QStringLiteral("Cannot read %1: %2").arg(path, errnoText(error)));
        }
        used += n;
        // A short read past the size fstat gave is the end; no second read.
        if (n == 0 || (used < data.size() && used >= st.st_size))
            break;
    }
    ::close(fd);
    data.truncate(used);
    return data;
}

} // namespace hostmail
