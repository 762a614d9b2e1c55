#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <optional>

namespace tarvic {

// One line of /proc/self/mountinfo, escapes decoded.
struct MountInfoEntry
{
    unsigned major = 0;
    unsigned minor = 0;
    QByteArray root;         // the folder of the file system that is mounted ("/" for all of it)
    QByteArray mountPoint;
    QByteArray fsType;
    QByteArray source;
};

// One line of /etc/fstab, escapes decoded.
struct FstabEntry
{
    QByteArray source;       // "/dev/sr0", "LABEL=...", "UUID=..."
    QByteArray file;         // the mount point
    QByteArray type;
    QList<QByteArray> options;
};

// The kernel's escapes of blanks, tabs, newlines and backslashes ("\040" ...);
// anything else is kept as it is.
QByteArray decodeOctalEscapes(QByteArrayView field);

// Lines that do not have the documented shape are left out.
QList<MountInfoEntry> parseMountInfo(QByteArrayView text);
QList<FstabEntry> parseFstab(QByteArrayView text);

// Where the file system of a device is mounted. Of several mounts (bind mounts) the
// one of the whole file system wins, then the earliest.
std::optional<QByteArray> mountPointOf(const QList<MountInfoEntry> &table, unsigned major, unsigned minor);

// The device whose whole file system is what a folder shows: of the mounts on it
// the latest, which hides those before it; nullopt when that one is a part of a file
// system (a bind mount of a folder) or nothing is mounted there.
std::optional<MountInfoEntry> mountOn(const QList<MountInfoEntry> &table, QByteArrayView folder);

} // namespace tarvic
