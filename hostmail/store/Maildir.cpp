#include "hostmail/store/Maildir.h"

#include "hostmail/HostError.h"
#include "hostmail/store/AtomicFile.h"
#include "hostmail/store/Limits.h"

#include <QAtomicInteger>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace hostmail {

void Maildir::create() const
{
    // A Maildir or one of its folders that is a link could lead writes and
    // removals out of the store: it is reported, never used.
    for (const QString &folder :
         {m_path, m_path + QLatin1String("/tmp"), m_path + QLatin1String("/new"), m_path + QLatin1String("/cur")}) {
        if (QFileInfo(folder).isSymLink())
            throw HostError(QStringLiteral("The mail folder %1 is a link; Cheerpost does not follow it out of the "
                                           "store")
                                .arg(folder));
    }
    for (const char *sub : {"tmp", "new", "cur"}) {
        try {
            makeFolder(m_path + QLatin1Char('/') + QLatin1String(sub));
        } catch (const HostError &) {
            throw HostError(QStringLiteral("Cannot create the mail folder %1").arg(m_path));
        }
    }
}

QString Maildir::uniqueName()
{
    static QAtomicInteger<quint64> counter;
    const qint64 ms = QDateTime::currentMSecsSinceEpoch();
    static const QString host = QSysInfo::machineHostName()
                                    .replace(QLatin1Char('/'), QLatin1String("\\057"))
                                    .replace(QLatin1Char(':'), QLatin1String("\\072"));
    return QStringLiteral("%1.M%2P%3Q%4.%5")
        .arg(ms / 1000)
        .arg((ms % 1000) * 1000)
        .arg(::getpid())
        .arg(counter.fetchAndAddRelaxed(1) + 1)
        .arg(host);
}

QString Maildir::baseName(const QString &file)
{
    QString name = QFileInfo(file).fileName();
    const qsizetype info = name.indexOf(QLatin1String(":2,"));
    if (info >= 0)
        name.truncate(info);
    return name;
}

QString Maildir::add(const QByteArray &message, const QString &flags) const
{
    const QString name = uniqueName();
    const QString temp = m_path + QLatin1String("/tmp/") + name;
    const QString target = flags.isNull() ? m_path + QLatin1String("/new/") + name
                                          : m_path + QLatin1String("/cur/") + name + QLatin1String(":2,") + flags;
    // A reader opens a Maildir only when all three folders are there: one
    // that went missing is made again before the message is written.
    const QByteArray base = QFile::encodeName(m_path);
    for (const char *sub : {"/tmp", "/new", "/cur"}) {
        struct stat st {};
        if (::lstat((base + sub).constData(), &st) != 0 || !S_ISDIR(st.st_mode)) { // a link is made again too
            create();
            break;
        }
    }
    writeFileThrough(temp, target, message, m_path);
    return target;
}

namespace {

// Renames without ever replacing a file at to: EEXIST when there is one.
int renameNoReplace(const QByteArray &from, const QByteArray &to)
{
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    // A file system without the flag: a new link fails where a file is.
    if (::link(from.constData(), to.constData()) != 0)
        return errno;
    ::unlink(from.constData());
    return 0;
}

// Whether two files hold the same message.
bool sameBytes(const QString &a, const QString &b)
{
    try {
        return readWholeFile(a, kMaxMessageBytes) == readWholeFile(b, kMaxMessageBytes);
    } catch (const HostError &) {
        return false;
    }
}

} // namespace

QString Maildir::moveIn(const QString &file, const QString &flags) const
{
    create();
    QString base = baseName(file);
    const QString from = QFileInfo(file).absolutePath();
    // A message of the same name already here stays: this one takes a new name.
    for (int tries = 0;; ++tries) {
        const QString target = m_path + QLatin1String("/cur/") + base + QLatin1String(":2,") + flags;
        const int error = renameNoReplace(QFile::encodeName(file), QFile::encodeName(target));
        if (error == 0) {
            syncFolder(m_path + QLatin1String("/cur"));
            syncFolder(from);
            return target;
        }
        if (error == EEXIST && tries == 0 && sameBytes(file, target)) {
            // The move was made once already and a power cut kept both names:
            // the message is here, and only the old name goes.
            removeFile(file);
            syncFolder(from);
            return target;
        }
        if (error == EEXIST && tries < 8) {
            base = uniqueName();
            continue;
        }
        if (error != EXDEV)
            throw HostError(QStringLiteral("Cannot move %1 to %2: %3")
                                .arg(file, m_path, QString::fromLocal8Bit(std::strerror(error))));
        // On another file system: written there through tmp/ first, then removed here.
        if (QFileInfo::exists(target) || QFileInfo(target).isSymLink()) {
            base = uniqueName();
            continue;
        }
        writeFileThrough(m_path + QLatin1String("/tmp/") + base, target, readWholeFile(file, kMaxMessageBytes), m_path);
        removeFile(file);
        syncFolder(from);
        return target;
    }
}

QString Maildir::moveIn(const QString &file, const QString &flags, const QByteArray &as) const
{
    if (readWholeFile(file, kMaxMessageBytes) == as)
        return moveIn(file, flags);
    create();
    QString base = baseName(file);
    const QString from = QFileInfo(file).absolutePath();
    for (int tries = 0;; ++tries) {
        const QString target = m_path + QLatin1String("/cur/") + base + QLatin1String(":2,") + flags;
        if (QFileInfo::exists(target) || QFileInfo(target).isSymLink()) {
            bool same = false;
            try {
                same = readWholeFile(target, kMaxMessageBytes) == as;
            } catch (const HostError &) {
            }
            if (!same && tries < 8) {
                base = uniqueName(); // another message of that name stays
                continue;
            }
            if (!same)
                throw HostError(QStringLiteral("Cannot file %1 in %2: no free name").arg(file, m_path));
        } else {
            // Written through tmp/, flushed, then named: never half a message in
            // cur/. A temporary of this name is what a killed filing left.
            const QString temp = m_path + QLatin1String("/tmp/") + base;
            removeFile(temp);
            writeFileThrough(temp, target, as, m_path);
        }
        removeFile(file); // only once the copy is whole in this folder
        syncFolder(from);
        return target;
    }
}

int Maildir::removeStaleTemporaries(const QDateTime &now) const
{
    // Only tmp/ itself, never a folder a link in its place leads to: opened
    // without following a link, and every entry removed relative to it.
    const int dirFd = ::open(QFile::encodeName(m_path + QLatin1String("/tmp")).constData(),
                             O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dirFd < 0)
        return 0;
    DIR *dir = ::fdopendir(dirFd);
    if (!dir) {
        ::close(dirFd);
        return 0;
    }
    int removed = 0;
    const qint64 limit = now.toSecsSinceEpoch() - 36 * 3600;
    while (const dirent *entry = ::readdir(dir)) {
        struct stat st {};
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0 ||
            ::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || S_ISDIR(st.st_mode))
            continue;
        if (st.st_mtim.tv_sec < limit && ::unlinkat(dirFd, entry->d_name, 0) == 0)
            ++removed;
    }
    ::closedir(dir);
    return removed;
}

QStringList Maildir::messages() const
{
    QStringList out;
    for (const char *sub : {"new", "cur"}) {
        const QDir dir(m_path + QLatin1Char('/') + QLatin1String(sub));
        for (const QString &name : dir.entryList(QDir::Files | QDir::NoSymLinks, QDir::Name))
            out.append(dir.filePath(name));
    }
    return out;
}

} // namespace hostmail
