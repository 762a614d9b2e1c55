#include "components/pellor.h"

#include "components/file_icon.h"
#include "platform/drive_map.h"

#include <sys/stat.h>

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
    return FileIcon(m_paths.resolve(path));
}

QPixmap Pellor::FileIcon(const Resolved &file)
{
    if (!file.found || file.folder || file.virtualFile)
        return fallbackProgramIcon();
    return programFileIcon(file.native);
}

Resolved Pellor::fileInCurrentFolder(const QString &drive, const QByteArray &name)
{
    Resolved r;
    const std::optional<QChar> letter = DriveMap::letterOf(drive);
    if (!letter || name.isEmpty() || name.contains('/') || name.contains('\0') || name == "." || name == "..")
        return r;
    r.drive = letter;
    const Resolved folder = m_paths.resolve(QString(*letter) + QLatin1Char(':'));
    const std::optional<QByteArray> root = m_paths.drives().root(*letter);
    if (!folder.found || !folder.folder || folder.virtualFile || !root)
        return r;
    const QByteArray path = folder.native + '/' + name;
    // The name may be a link that was changed since it was listed.
    const std::optional<QByteArray> real = canonical(path), realRoot = canonical(*root);
    struct stat st {};
    if (!real || !realRoot || !staysInside(*real, *realRoot) || ::stat(path.constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return r;
    r.found = true;
    r.native = path;
    return r;
}

} // namespace tarvic
