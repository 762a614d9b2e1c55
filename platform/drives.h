#pragma once

#include "platform/drive_map.h"
#include "platform/optical_devices.h"

#include <QStringList>

namespace tarvic {

// The drives named by the drive map, with their status and root folder.
class Drives
{
public:
    Drives(DriveMap map, OpticalDevices &optical);

    DriveEntry entry(QChar letter) const { return m_map.find(letter); }

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

    DriveMap m_map;
    OpticalDevices &m_optical;
};

} // namespace tarvic
