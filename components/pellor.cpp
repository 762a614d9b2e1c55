#include "components/pellor.h"

#include "platform/drive_map.h"

namespace tarvic {

Pellor::Pellor(DrivePaths &paths) : m_paths(paths) {}

int Pellor::DriveStatus(const QString &drive)
{
    const std::optional<QChar> letter = DriveMap::letterOf(drive);
    return letter ? m_paths.drives().status(*letter) : 0;
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

} // namespace tarvic
