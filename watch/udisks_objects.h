#pragma once

#include "platform/devices/udisks_names.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <optional>

namespace tarvic {

using InterfaceMap = QMap<QString, QVariantMap>;

// A block device as udisks2 describes it.
struct BlockDevice
{
    QString object;
    QByteArray device;              // "/dev/sr0"
    QList<QByteArray> symlinks;     // "/dev/cdrom", "/dev/disk/by-id/..."
    quint64 number = 0;             // the device number, as in st_rdev
    quint64 size = 0;
    QString drive;                  // the drive's object, "/" for none
    std::optional<QByteArray> backingFile;   // set for a loop device, empty while detached
    bool filesystem = false;        // udisks2 has found a file system it can mount
    bool mounted = false;
};

// The drive behind block devices: what its media properties say.
struct DriveMedia
{
    bool mediaAvailable = false;
    bool optical = false;           // the medium in it is an optical disc
    bool opticalBlank = false;
    uint audioTracks = 0;
    uint dataTracks = 0;
};

// What udisks2 has told of its objects, kept up to date from its ObjectManager's
// answer and signals. Only the interfaces that say whether a medium is in are kept.
// Values come as D-Bus demarshals them (an "aay" as a QDBusArgument) or as plain Qt
// values (tests); both are read.
class UdisksObjects
{
public:
    void replaceAll(const QMap<QString, InterfaceMap> &objects);
    void addInterfaces(const QString &object, const InterfaceMap &interfaces);
    void removeInterfaces(const QString &object, const QStringList &interfaces);
    void changeProperties(const QString &object, const QString &interface, const QVariantMap &changed,
                          const QStringList &invalidated);
    void clear() { m_objects.clear(); }

    QList<BlockDevice> blockDevices() const;
    std::optional<DriveMedia> drive(const QString &object) const;

private:
    QHash<QString, QHash<QString, QVariantMap>> m_objects;
};

} // namespace tarvic
