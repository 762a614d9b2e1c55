#pragma once

#include "platform/devices/devices.h"
#include "platform/drive_map.h"
#include "platform/runtime_error.h"

#include <QStringList>

namespace tarvic {

// The drive that an argument naming a medium leads to; neither for an argument that
// names no medium.
struct MediumDrive
{
    std::optional<QChar> letter;
    std::optional<RuntimeError> refusal;   // a medium that cannot be handled, and why
};

// The drives named by the drive map, with their status and root folder.
class Drives
{
public:
    // deviceFolder holds the device nodes named by their name alone.
    Drives(DriveMap map, OpticalDevices &optical, QByteArray deviceFolder = "/dev");

    DriveEntry entry(QChar letter) const;

    // The drive of a medium that a desktop hands over: an absolute path or a local
    // file URI of a folder (where the medium is mounted), or a block device node. The
    // letter of the map that leads there (a folder entry resolving to that folder, a
    // device entry whose device is that device or is mounted on that folder), else the
    // first letter from D: that the map does not use, given to the medium for this
    // object's life (the map is not changed). GVfs's folder of an audio CD stands for
    // its drive. Anything else names no medium, so "/x" and "e:" keep their meaning;
    // the same text gets the same answer again.
    MediumDrive driveOfMedium(const QString &argumentText);

    // 0 no such drive, 1 no disc, 2 a disc is in. A folder drive holds a disc when its
    // folder exists and is not empty or is a mount point. askStatus asks a device
    // afresh; status takes what such a question learnt a moment ago, so the path
    // questions that follow a status question do not wake the drive again.
    int askStatus(QChar letter);
    int status(QChar letter);

    // The native folder that stands for the drive's root, mounting a device's disc
    // when needed; nullopt when there is no disc or no file system on it.
    std::optional<QByteArray> root(QChar letter);

    // Files that Linux does not show but the drive's root holds ("track01.cda", ...).
    QStringList virtualRootFiles(QChar letter);

    const DriveMap &map() const { return m_map; }

private:
    int status(QChar letter, OpticalDevices::Asking asking);
    MediumDrive lookUpMedium(const QString &argumentText);

    DriveMap m_map;
    OpticalDevices &m_optical;
    QByteArray m_deviceFolder;
    std::optional<DriveEntry> m_temporary;
    std::optional<std::pair<QString, MediumDrive>> m_medium;
};

} // namespace tarvic
