#include "hostmail/store/AtomicFile.h"

#include "hostmail/HostError.h"
#include "hostmail/store/WriteBatch.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSet>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace hostmail {

namespace {

QString errnoText(int error = errno)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Makes folder and its missing parents; 0 or the errno of the failure. Each
// folder made is flushed into its parent's entries: a folder that a power
// cut takes back would take every file written into it since.
int makeFolders(const QByteArray &folder)
{
    if (folder.isEmpty() || folder == "/")
        return 0;
    if (::mkdir(folder.constData(), 0700) != 0) {
        if (errno == EEXIST)
            return 0;
        if (errno != ENOENT)
            return errno;
        if (const int error = makeFolders(detail::folderOf(folder)))
            return error;
        if (::mkdir(folder.constData(), 0700) != 0)
            return errno == EEXIST ? 0 : errno;
    }
    detail::syncFolderPath(detail::folderOf(folder));
    return 0;
}

// After a missing folder was made for a Maildir: all three of its folders.
void completeMaildir(const QByteArray &maildir)
{
    if (maildir.isEmpty())
        return;
    for (const char *sub : {"/tmp", "/new", "/cur"})
        makeFolders(maildir + sub);
}

// The six letters or digits of a temporary name: from the process and a
// counter, so that the names one process makes never repeat.
QByteArray temporarySuffix()
{
    static std::atomic<quint32> counter{quint32(QRandomGenerator::global()->generate())};
    static const quint32 process = quint32(::getpid()) << 16;
    const quint32 n = counter.fetch_add(1) ^ process;
    return QByteArray::number(n % 2176782336u, 36).rightJustified(6, '0');
}

// A temporary file this library writes beside its target: ".NAME.tmp-XXXXXX",
// or, with ".old" after it, the target moved aside while it is compared.
// Gives NAME.
bool isOwnTemporary(QByteArrayView entry, QByteArray *target, bool *aside)
{
    *aside = entry.endsWith(".old");
    if (*aside)
        entry.chop(4);
    const qsizetype at = entry.size() - 11; // ".tmp-" and six letters or digits
    if (entry.size() < 13 || !entry.startsWith('.') || entry.sliced(at, 5) != ".tmp-")
        return false;
    for (const char c : entry.sliced(at + 5)) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z')))
            return false;
    }
    *target = entry.sliced(1, at - 1).toByteArray();
    return true;
}

// Clears what a cut left of earlier writes in folder: every temporary file
// whose writer is gone goes, and a target left moved aside goes back to its
// name where that is free. A writer holds a lock on its temporary file as
// long as it works with it, so only abandoned files are touched; anything
// that is not one of this library's temporary files is left alone.
void removeLeftTemporaries(const QByteArray &folder)
{
    const int dirFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dirFd < 0)
        return;
    DIR *dir = ::fdopendir(dirFd);
    if (!dir) {
        ::close(dirFd);
        return;
    }
    bool changed = false;
    while (const dirent *entry = ::readdir(dir)) {
        QByteArray target;
        bool aside = false;
        if (!isOwnTemporary(QByteArrayView(entry->d_name), &target, &aside))
            continue;
        const int fd = ::openat(dirFd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat open {
        }, named{};
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &open) == 0 && S_ISREG(open.st_mode) &&
            ::fstatat(dirFd, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 && named.st_ino == open.st_ino &&
            named.st_dev == open.st_dev) {
            struct stat st {};
            const bool targetFree =
                ::fstatat(dirFd, target.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT;
            if (aside && targetFree)
                changed |= ::renameat2(dirFd, entry->d_name, dirFd, target.constData(), RENAME_NOREPLACE) == 0;
            else
                changed |= ::unlinkat(dirFd, entry->d_name, 0) == 0;
        }
        ::close(fd);
    }
    if (changed)
        ::fsync(dirFd);
    ::closedir(dir);
}

// The first write of this process into a folder clears it first.
void clearFolderOnce(const QByteArray &folder)
{
    static std::mutex mutex;
    static QSet<QByteArray> cleared;
    {
        const std::lock_guard lock(mutex);
        if (cleared.contains(folder))
            return;
        cleared.insert(folder);
    }
    removeLeftTemporaries(folder);
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
    // The data is on disk before the name that publishes it, and the name
    // before the call returns. The file stays open, and so locked, until it
    // has its name.
    int error = ::fsync(fd) == 0 ? 0 : errno;
    if (error == 0 && job.expected)
        error = detail::takeTargetMode(job, fd);
    if (error == 0)
        error = detail::renameIntoPlace(job);
    if (error != 0)
        ::unlink(job.temp.constData());
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error != 0)
        throw HostError(detail::failureText(shownName, error));
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

// Locks the file at a path while the swap gives it a temporary name, so
// that no clearing of the folder takes it for a file left by a cut.
class HeldFile {
public:
    explicit HeldFile(const QByteArray &path)
        : m_fd(::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC))
    {
        if (m_fd >= 0)
            ::flock(m_fd, LOCK_EX | LOCK_NB);
    }
    ~HeldFile()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    HeldFile(const HeldFile &) = delete;
    HeldFile &operator=(const HeldFile &) = delete;

private:
    int m_fd;
};

// The compare-and-swap of a job with an expectation (see renameIntoPlace).
int exchangeIfUnchanged(const WriteJob &job)
{
    const HeldFile held(job.target);
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
    const HeldFile held(job.target);
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
        // A name no file has: the template's XXXXXX from temporarySuffix(),
        // tried again on the rare clash with a file left behind.
        clearFolderOnce(folderOf(job.temp));
        const qsizetype x = job.temp.lastIndexOf("XXXXXX");
        for (int attempt = 0; attempt < 100; ++attempt) {
            if (x >= 0)
                job.temp.replace(x, 6, temporarySuffix());
            fd = ::open(job.temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            // Locked while it is worked with, so that no clearing of the
            // folder takes it; one taken in the instant before is given up.
            struct stat st {};
            if (fd >= 0 && (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::fstat(fd, &st) != 0 || st.st_nlink == 0)) {
                ::close(fd);
                fd = -1;
                errno = EEXIST;
            }
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

void removeFileIfUnchanged(const QString &path, const QByteArray &expected)
{
    settle(path);
    const QByteArray target = QFile::encodeName(QFileInfo(path).absoluteFilePath());
    const QFileInfo info(path);
    // Held, so that no clearing of the folder takes it for a file a cut left.
    const HeldFile held(target);
    QByteArray aside;
    int moved = EEXIST;
    for (int attempt = 0; attempt < 8 && moved == EEXIST; ++attempt) {
        aside = QFile::encodeName(info.absolutePath() + QLatin1String("/.") + info.fileName()) + ".tmp-" +
                temporarySuffix() + ".old";
        moved = placeWithoutReplacing(target.constData(), aside.constData());
    }
    if (moved == ENOENT)
        return; // gone already
    if (moved != 0)
        throw HostError(QStringLiteral("Cannot remove %1: %2").arg(path, errnoText(moved)));
    if (holds(aside, expected)) {
        ::unlink(aside.constData());
        detail::syncFolderPath(detail::folderOf(target));
        return;
    }
    if (placeWithoutReplacing(aside.constData(), target.constData()) != 0)
        ::unlink(aside.constData()); // a newer version came in the gap: it stays
    throw HostError(detail::failureText(path, ESTALE));
}

QByteArray readWholeFile(const QString &path, qint64 maxBytes)
{
    return readWholeFileAt(AT_FDCWD, path, maxBytes);
}

void makeFolder(const QString &folder)
{
    if (const int error = makeFolders(QFile::encodeName(QFileInfo(folder).absoluteFilePath())))
        throw HostError(QStringLiteral("Cannot create the folder %1: %2").arg(folder, errnoText(error)));
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
