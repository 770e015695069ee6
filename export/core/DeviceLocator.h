#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace exporting {

// Drive types as the system reports them.
enum DriveType {
    DriveUnknown = 0,
    DriveNoRoot = 1,
    DriveRemovable = 2,
    DriveFixed = 3,
    DriveRemote = 4,
    DriveCdRom = 5,
    DriveRamDisk = 6
};

struct Volume {
    QString root; // mount point with a trailing "/"
    int type = DriveUnknown;
};

// The mounted volumes in mount order, typed from their block device: sysfs
// "removable" gives removable media; network, optical and memory file
// systems their own types; pseudo file systems are left out.
QList<Volume> mountedVolumes();

// Finds the export device: the first removable volume whose root holds a
// "Contacts" folder that can be entered. The process's current directory is
// left in the last folder entered, as the reminder log relies on.
class DeviceLocator {
public:
    explicit DeviceLocator(QList<Volume> volumes) : m_volumes(std::move(volumes)) {}

    QStringList getDriveList() const;
    QString getDriveTypeName(const QString &root) const;
    QString locateiPodDrive() const; // the root, or empty

private:
    QList<Volume> m_volumes;
};

QString driveTypeText(int type);

// "E:/" + "Contacts" gives "E:/Contacts/", "E:/Sync" gives "E:/Sync/Contacts/".
QString targetFolder(const QString &location, const QString &folderName);

} // namespace exporting
