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
#include <unistd.h>

namespace hostmail {

void Maildir::create() const
{
    for (const char *sub : {"tmp", "new", "cur"}) {
        if (!QDir().mkpath(m_path + QLatin1Char('/') + QLatin1String(sub)))
            throw HostError(QStringLiteral("Cannot create the mail folder %1").arg(m_path));
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
    for (const char *sub : {"/tmp", "/new", "/cur"}) {
        if (!QFileInfo(m_path + QLatin1String(sub)).isDir()) {
            create();
            break;
        }
    }
    writeFileThrough(temp, target, message, m_path);
    return target;
}

QString Maildir::moveIn(const QString &file, const QString &flags) const
{
    create();
    const QString base = baseName(file);
    const QString target = m_path + QLatin1String("/cur/") + base + QLatin1String(":2,") + flags;
    if (std::rename(QFile::encodeName(file).constData(), QFile::encodeName(target).constData()) == 0)
        return target;
    if (errno != EXDEV)
        throw HostError(
            QStringLiteral("Cannot move %1 to %2: %3").arg(file, m_path, QString::fromLocal8Bit(std::strerror(errno))));
    // On another file system: written there through tmp/ first, then removed here.
    writeFileThrough(m_path + QLatin1String("/tmp/") + base, target, readWholeFile(file, kMaxMessageBytes), m_path);
    removeFile(file);
    return target;
}

int Maildir::removeStaleTemporaries(const QDateTime &now) const
{
    int removed = 0;
    const QDir tmp(m_path + QLatin1String("/tmp"));
    for (const QFileInfo &file : tmp.entryInfoList(QDir::Files | QDir::Hidden)) {
        if (file.lastModified().secsTo(now) > 36 * 3600 && QFile::remove(file.filePath()))
            ++removed;
    }
    return removed;
}

QStringList Maildir::messages() const
{
    QStringList out;
    for (const char *sub : {"new", "cur"}) {
        const QDir dir(m_path + QLatin1Char('/') + QLatin1String(sub));
        for (const QString &name : dir.entryList(QDir::Files, QDir::Name))
            out.append(dir.filePath(name));
    }
    return out;
}

} // namespace hostmail
