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

    // The file that an entry of a folder listing names: exactly these name bytes in
    // the current folder of the drive. No path rule applies to the name ("C:\x.exe"
    // and "a\..\b.exe" are names like any other). Found while it is a file, or a
    // link to one, that stays on the disc.
    Resolved fileInCurrentFolder(const QString &drive, const QByteArray &name);
    // The icon of a file found before, as FileIcon gives it.
    QPixmap FileIcon(const Resolved &file);

    DrivePaths &paths() { return m_paths; }

private:
    DrivePaths &m_paths;
};

} // namespace tarvic
