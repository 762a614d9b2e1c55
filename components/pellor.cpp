#include "components/pellor.h"

#include "components/file_icon.h"
#include "platform/drive_map.h"

namespace tarvic {

Pellor::Pellor(DrivePaths &paths) : m_paths(paths) {}

int Pellor::DriveStatus(const QString &drive)
{
    const std::optional<QChar> letter = DriveMap::letterOf(drive);
    return letter ? m_paths.drives().askStatus(*letter) : 0;
}

bool Pellor::FileExists(const QString &path)
{
    const Resolved r = m_paths.resolve(path);
    return r.found && (r.virtualFile || !r.folder);
}

bool Pellor::FolderExists(const QString &path)
{
    const Resolved r = m_paths.resolve(path);
    return r.found && r.folder && !r.virtualFile;
}

QPixmap Pellor::FileIcon(const QString &path)
{
    // Whatever is missing, unreadable or damaged gets the desktop's program icon:
    // the chooser must go on working after the disc was taken out.
    const Resolved r = m_paths.resolve(path);
    if (!r.found || r.folder || r.virtualFile)
        return fallbackProgramIcon();
    return programFileIcon(r.native);
}

} // namespace tarvic
