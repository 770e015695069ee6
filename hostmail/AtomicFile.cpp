#include "hostmail/AtomicFile.h"

#include "hostmail/HostError.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace hostmail {

namespace {

thread_local WriteBatch *t_batch = nullptr;

QString errnoText(int error = errno) { return QString::fromLocal8Bit(std::strerror(error)); }

QByteArray folderOf(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash <= 0 ? QByteArray(slash == 0 ? "/" : ".") : path.left(slash);
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

void syncFolderPath(const QByteArray &folder)
{
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// Moves a written temporary file into place: at once, flushed, or through the
// thread's batch. Owns fd. Throws HostError naming target.
void place(int fd, const QByteArray &temp, const QByteArray &target, qint64 size)
{
    if (WriteBatch *batch = WriteBatch::current()) {
        batch->add({fd, temp, target, size});
        return;
    }
    int error = ::fsync(fd) == 0 ? 0 : errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && ::rename(temp.constData(), target.constData()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(temp.constData());
        throw HostError(QStringLiteral("Cannot write %1: %2").arg(QFile::decodeName(target), errnoText(error)));
    }
    syncFolderPath(folderOf(target));
}

// Commits the thread's batch when it holds target, so what follows sees it.
void settle(const QByteArray &target)
{
    WriteBatch *batch = WriteBatch::current();
    if (batch && batch->holds(target))
        batch->flush();
}

} // namespace

void syncFolder(const QString &folder) { syncFolderPath(QFile::encodeName(folder)); }

void writeFileAtomically(const QString &path, const QByteArray &data)
{
    const QFileInfo info(path);
    const QByteArray target = QFile::encodeName(info.absoluteFilePath());
    QByteArray temp = QFile::encodeName(info.absolutePath() + QLatin1String("/.") + info.fileName() +
                                        QLatin1String(".tmp-XXXXXX"));
    mode_t mode = 0644;
    struct stat st {};
    if (::stat(target.constData(), &st) == 0)
        mode = st.st_mode & 07777;

    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        throw HostError(QStringLiteral("Cannot write %1: %2").arg(path, errnoText()));
    int error = writeAll(fd, data);
    if (error == 0 && ::fchmod(fd, mode) != 0)
        error = errno;
    if (error != 0) {
        ::close(fd);
        ::unlink(temp.constData());
        throw HostError(QStringLiteral("Cannot write %1: %2").arg(path, errnoText(error)));
    }
    place(fd, temp, target, data.size());
}

void writeFileThrough(const QString &temp, const QString &target, const QByteArray &data)
{
    const QByteArray tempName = QFile::encodeName(temp);
    const QByteArray targetName = QFile::encodeName(QFileInfo(target).absoluteFilePath());
    const int fd = ::open(tempName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        throw HostError(QStringLiteral("Cannot write %1: %2").arg(target, errnoText()));
    if (const int error = writeAll(fd, data); error != 0) {
        ::close(fd);
        ::unlink(tempName.constData());
        throw HostError(QStringLiteral("Cannot write %1: %2").arg(target, errnoText(error)));
    }
    place(fd, tempName, targetName, data.size());
}

void removeFile(const QString &path)
{
    const QByteArray name = QFile::encodeName(QFileInfo(path).absoluteFilePath());
    settle(name);
    if (::unlink(name.constData()) != 0 && errno != ENOENT)
        throw HostError(QStringLiteral("Cannot remove %1: %2").arg(path, errnoText()));
}

QByteArray readWholeFile(const QString &path) { return readWholeFileAt(AT_FDCWD, path); }

QByteArray readWholeFileAt(int folderFd, const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    if (t_batch)
        settle(QFile::encodeName(QFileInfo(path).absoluteFilePath()));
    // open, fstat, one read and close: the contact folder is read file by
    // file. Only regular files; a FIFO never blocks the reader.
    const int fd = ::openat(folderFd, name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        throw HostError(QStringLiteral("Cannot read %1: %2").arg(path, errnoText()));
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int error = S_ISDIR(st.st_mode) ? EISDIR : S_ISREG(st.st_mode) ? errno : EINVAL;
        ::close(fd);
        throw HostError(QStringLiteral("Cannot read %1: %2").arg(path, errnoText(error)));
    }
    QByteArray data;
    data.resize(static_cast<qsizetype>(st.st_size) + 1); // one byte more shows the end
    qsizetype used = 0;
    for (;;) {
        if (used == data.size())
            data.resize(data.size() * 2);
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

WriteBatch::WriteBatch()
{
    if (t_batch)
        m_outer = t_batch;
    else
        t_batch = this;
}

WriteBatch::~WriteBatch()
{
    if (m_outer)
        return;
    flush();
    t_batch = nullptr;
}

WriteBatch *WriteBatch::current() { return t_batch; }

const QStringList &WriteBatch::lost() const { return m_outer ? m_outer->lost() : m_lost; }

bool WriteBatch::holds(const QByteArray &target) const
{
    return m_outer ? m_outer->holds(target) : m_index.contains(target);
}

void WriteBatch::add(Pending pending)
{
    if (m_outer) {
        m_outer->add(std::move(pending));
        return;
    }
    m_bytes += pending.size;
    // A second write to the same target replaces the first, as its rename would.
    if (const auto it = m_index.constFind(pending.target); it != m_index.cend()) {
        Pending &old = m_pending[static_cast<size_t>(*it)];
        ::close(old.fd);
        ::unlink(old.temp.constData());
        m_bytes -= old.size;
        old = std::move(pending);
        return;
    }
    m_index.insert(pending.target, static_cast<int>(m_pending.size()));
    m_pending.push_back(std::move(pending));
    if (static_cast<int>(m_pending.size()) >= kMaxFiles || m_bytes >= kMaxBytes)
        flush();
}

void WriteBatch::flush()
{
    if (m_outer) {
        m_outer->flush();
        return;
    }
    std::vector<Pending> pending;
    pending.swap(m_pending);
    m_index.clear();
    m_bytes = 0;
    if (pending.empty())
        return;

    // One syncfs per file system; where it fails, each file is flushed on its
    // own so that only the files that really failed are dropped.
    QSet<dev_t> synced;
    QSet<dev_t> failed;
    for (const Pending &p : pending) {
        struct stat st {};
        if (::fstat(p.fd, &st) != 0 || synced.contains(st.st_dev) || failed.contains(st.st_dev))
            continue;
        (::syncfs(p.fd) == 0 ? synced : failed).insert(st.st_dev);
    }
    QSet<QByteArray> folders;
    for (const Pending &p : pending) {
        struct stat st {};
        bool ok = ::fstat(p.fd, &st) == 0 && synced.contains(st.st_dev);
        if (!ok)
            ok = ::fsync(p.fd) == 0;
        ok = ::close(p.fd) == 0 && ok;
        if (ok && ::rename(p.temp.constData(), p.target.constData()) != 0) {
            // A Maildir's new/ or cur/ that went missing meanwhile is made again.
            ok = errno == ENOENT && ::mkdir(folderOf(p.target).constData(), 0700) == 0 &&
                 ::rename(p.temp.constData(), p.target.constData()) == 0;
        }
        if (ok) {
            folders.insert(folderOf(p.target));
        } else {
            ::unlink(p.temp.constData());
            m_lost.append(QFile::decodeName(p.target));
        }
    }
    for (const QByteArray &folder : std::as_const(folders))
        syncFolderPath(folder);
}

void WriteBatch::commit()
{
    flush();
    if (!lost().isEmpty())
        throw HostError(QStringLiteral("Cannot write %1").arg(lost().join(QLatin1String(", "))));
}

} // namespace hostmail
