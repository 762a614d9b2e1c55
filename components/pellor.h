#pragma once

#include "platform/drive_paths.h"

#include <QPixmap>
#include <QString>

namespace tarvic {

// The drive services: what the rest of the program asks of drives, files and folders.
class Pellor
{
public:
    explicit Pellor(DrivePaths &paths);

    // 0 no such drive (any string that names none), 1 a drive without a disc,
    // 2 a drive with a disc.
    int DriveStatus(const QString &drive);
    // An existing file, or folder; an empty path is neither.
    bool FileExists(const QString &path);
    bool FolderExists(const QString &path);
    // The icon of a program, as a 32x32 picture where it has one of its own, else
    // the desktop's icon for programs.
    QPixmap FileIcon(const QString &path);

    DrivePaths &paths() { return m_paths; }

private:
    DrivePaths &m_paths;
};

} // namespace tarvic
