#include "hostmail/store/AtomicFile.h"

#include "hostmail/HostError.h"
#include "hostmail/store/WriteBatch.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace hostmail {

namespace {

QString errnoText(int error = errno)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Writes all of data to fd; returns 0 or the errno of the failure.
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
        throw HostError(QStringLiteral("Cannot write %1: %2").arg(shownName, errnoText(-fd)));
    int error = ::fsync(fd) == 0 ? 0 : errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0)
        error = detail::renameIntoPlace(job);
    if (error != 0) {
        ::unlink(job.temp.constData());
        throw HostError(QStringLiteral("Cannot write %1: %2").arg(shownName, errnoText(error)));
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

} // namespace

namespace detail {

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

int writeTemp(WriteJob &job)
{
    int fd = -1;
    mode_t mode = 0600;
    if (job.uniqueTemp) {
        mode = 0644;
        struct stat st {};
        if (::stat(job.target.constData(), &st) == 0)
            mode = st.st_mode & 07777;
        fd = ::mkostemp(job.temp.data(), O_CLOEXEC);
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
    if (error == 0 && job.uniqueTemp && ::fchmod(fd, mode) != 0)
        error = errno;
    if (error != 0) {
        ::close(fd);
        ::unlink(job.temp.constData());
        return -error;
    }
    return fd;
}

int renameIntoPlace(const WriteJob &job)
{
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

void writeFileAtomically(const QString &path, const QByteArray &data)
{
    const QFileInfo info(path);
    WriteJob job;
    job.target = QFile::encodeName(info.absoluteFilePath());
    job.temp =
        QFile::encodeName(info.absolutePath() + QLatin1String("/.") + info.fileName() + QLatin1String(".tmp-XXXXXX"));
    job.data = data;
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
