#include "platform/drives.h"

#include "platform/runtime_error.h"

#include <QFile>
#include <cerrno>
#include <dirent.h>
#include <memory>
#include <sys/stat.h>

namespace tarvic {

namespace {

enum class FolderState { Missing, Empty, Filled, Unreadable };

FolderState folderState(const QByteArray &path, int *err)
{
    struct stat st {};
    if (path.isEmpty() || ::stat(path.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return FolderState::Missing;
    std::unique_ptr<DIR, int (*)(DIR *)> dir(::opendir(path.constData()), ::closedir);
    if (!dir) {
        *err = errno;
        return FolderState::Unreadable;
    }
    while (const dirent *d = ::readdir(dir.get())) {
        const QByteArrayView n(d->d_name);
        if (n != ".")
            if (n != "..")
                return FolderState::Filled;
    }
    return FolderState::Empty;
}

// A mount point sits on another device than its parent (or is the root itself).
bool isMountPoint(const QByteArray &path)
{
    struct stat self {}, parent {};
    if (::stat(path.constData(), &self) != 0 || ::stat((path + "/..").constData(), &parent) != 0)
        return false;
    return self.st_dev != parent.st_dev || self.st_ino == parent.st_ino;
}

} // namespace

Drives::Drives(DriveMap map, OpticalDevices &optical) : m_map(std::move(map)), m_optical(optical) {}

int Drives::askStatus(QChar letter)
{
    return status(letter, OpticalDevices::Asking::Afresh);
}

int Drives::status(QChar letter)
{
    return status(letter, OpticalDevices::Asking::Recent);
}

int Drives::status(QChar letter, OpticalDevices::Asking asking)
{
    const DriveEntry e = entry(letter);
    switch (e.kind) {
    case DriveEntry::None:
        return 0;
    case DriveEntry::Device:
        return m_optical.status(e.target, asking);
    case DriveEntry::Folder:
        break;
    }
    int err = 0;
    switch (folderState(e.target, &err)) {
    case FolderState::Missing:
        return 1;
    case FolderState::Empty:
        return isMountPoint(e.target) ? 2 : 1;
    case FolderState::Filled:
        return 2;
    case FolderState::Unreadable:
        break;
    }
    throw RuntimeError(Err::PermissionDenied,
                       QStringLiteral("Permission denied: the folder %1 of drive %2: cannot be read (%3)")
                           .arg(QFile::decodeName(e.target), QString(letter), systemReason(err)));
}

std::optional<QByteArray> Drives::root(QChar letter)
{
    const DriveEntry e = entry(letter);
    switch (e.kind) {
    case DriveEntry::None:
        return std::nullopt;
    case DriveEntry::Folder: {
        struct stat st {};
        if (e.target.isEmpty() || ::stat(e.target.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
            return std::nullopt;
        return e.target;
    }
    case DriveEntry::Device:
        if (m_optical.status(e.target, OpticalDevices::Asking::Recent) < 2)
            return std::nullopt;
        return m_optical.mountPoint(e.target, true);
    }
    return std::nullopt;
}

QStringList Drives::virtualRootFiles(QChar letter)
{
    const DriveEntry e = entry(letter);
    QStringList names;
    if (e.kind != DriveEntry::Device || m_optical.status(e.target, OpticalDevices::Asking::Recent) < 2)
        return names;
    for (int track : m_optical.audioTracks(e.target))
        names << QStringLiteral("track%1.cda").arg(track, 2, 10, QLatin1Char('0'));
    return names;
}

} // namespace tarvic
