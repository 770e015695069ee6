#include "export/core/DeviceLocator.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>

namespace exporting {

QString driveTypeText(int type)
{
    switch (type) {
    case DriveUnknown:
        return QStringLiteral("Unknown Drive Type");
    case DriveNoRoot:
        return QStringLiteral("Drive does not exist");
    case DriveRemovable:
        return QStringLiteral("Removable Media");
    case DriveFixed:
        return QStringLiteral("Fixed Drive");
    case DriveRemote:
        return QStringLiteral("Network Drive");
    case DriveCdRom:
        return QStringLiteral("CD Rom");
    case DriveRamDisk:
        return QStringLiteral("Ram Disk");
    default:
        return {};
    }
}

namespace {

bool sysfsRemovable(const QString &device)
{
    const QString name = QFileInfo(device).fileName();
    const QString node = QStringLiteral("/sys/class/block/") + name;
    if (!QFileInfo::exists(node))
        return false;
    QString folder = QFileInfo(node).canonicalFilePath();
    // A partition's flag lives on its disk, one folder up.
    if (QFileInfo::exists(folder + QLatin1String("/partition")))
        folder = QFileInfo(folder).absolutePath();
    QFile flag(folder + QLatin1String("/removable"));
    return flag.open(QIODevice::ReadOnly) && flag.readAll().trimmed() == "1";
}

int typeOf(const QStorageInfo &v)
{
    const QByteArray fs = v.fileSystemType();
    const QByteArray dev = v.device();
    static const QList<QByteArray> remote = {"nfs", "nfs4", "cifs", "smb3", "smbfs", "fuse.sshfs", "9p", "afs"};
    if (remote.contains(fs))
        return DriveRemote;
    if (fs == "tmpfs" || fs == "ramfs")
        return DriveRamDisk;
    if (fs == "iso9660" || fs == "udf" || dev.startsWith("/dev/sr"))
        return DriveCdRom;
    if (!dev.startsWith("/dev/"))
        return -1; // pseudo file systems are no drives
    return sysfsRemovable(QString::fromLocal8Bit(dev)) ? DriveRemovable : DriveFixed;
}

} // namespace

QList<Volume> mountedVolumes()
{
    QList<Volume> out;
    for (const QStorageInfo &v : QStorageInfo::mountedVolumes()) {
        const int type = typeOf(v);
        if (type < 0)
            continue;
        QString root = v.rootPath();
        if (!root.endsWith(QLatin1Char('/')))
            root += QLatin1Char('/');
        out.append({root, type});
    }
    return out;
}

QStringList DeviceLocator::getDriveList() const
{
    QStringList roots;
    for (const Volume &v : m_volumes)
        roots.append(v.root);
    return roots;
}

QString DeviceLocator::getDriveTypeName(const QString &root) const
{
    for (const Volume &v : m_volumes) {
        if (v.root == root)
            return driveTypeText(v.type);
    }
    return driveTypeText(DriveNoRoot);
}

QString DeviceLocator::locateiPodDrive() const
{
    for (const QString &root : getDriveList()) {
        if (!getDriveTypeName(root).startsWith(QLatin1String("Remov")))
            continue;
        QDir::setCurrent(root + QLatin1String("Contacts/"));
        const QString wanted = root + QLatin1String("Contacts");
        const QString current = QDir::currentPath();
        if (current == wanted || current == QFileInfo(wanted).canonicalFilePath())
            return root;
    }
    return {};
}

QString targetFolder(const QString &location, const QString &folderName)
{
    const QString base = location.endsWith(QLatin1Char('/')) ? location : location + QLatin1Char('/');
    return base + folderName + QLatin1Char('/');
}

} // namespace exporting
