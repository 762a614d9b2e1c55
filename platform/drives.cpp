#include "platform/drives.h"

#include "platform/drive_paths.h"
#include "platform/runtime_error.h"

#include <QFile>
#include <QUrl>
#include <algorithm>
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

// The local path of a file URI, percent-escapes decoded to bytes; nullopt with the
// reason in *why when it names no file of this machine.
std::optional<QByteArray> pathOfFileUri(const QString &text, QString *why)
{
    const QUrl url(text);
    const QString host = url.host();
    if (!host.isEmpty() && host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) != 0) {
        *why = QStringLiteral("Path not found: %1 is on %2, not on this machine").arg(text, host);
        return std::nullopt;
    }
    const QByteArray encoded = url.path(QUrl::FullyEncoded).toLatin1();
    const QByteArray path = QByteArray::fromPercentEncoding(encoded);
    // As GLib has it: an escaped "/" or NUL would make another path than the one written.
    if (!url.isValid() || url.hasQuery() || url.hasFragment() || !path.startsWith('/') || path.contains('\0')
        || encoded.count('/') != path.count('/')) {
        *why = QStringLiteral("Path not found: %1 is no file URI of this machine").arg(text);
        return std::nullopt;
    }
    return path;
}

} // namespace

Drives::Drives(DriveMap map, OpticalDevices &optical, QByteArray deviceFolder)
    : m_map(std::move(map)), m_optical(optical), m_deviceFolder(std::move(deviceFolder))
{
}

DriveEntry Drives::entry(QChar letter) const
{
    if (m_temporary && m_temporary->letter == letter.toUpper())
        return *m_temporary;
    return m_map.find(letter);
}

MediumDrive Drives::driveOfMedium(const QString &argumentText)
{
    if (!m_medium || m_medium->first != argumentText)
        m_medium.emplace(argumentText, lookUpMedium(argumentText));
    return m_medium->second;
}

MediumDrive Drives::lookUpMedium(const QString &argumentText)
{
    const bool uri = argumentText.startsWith(QLatin1String("file:"), Qt::CaseInsensitive);
    if (!uri && !argumentText.startsWith(QLatin1Char('/')))
        return {};
    QString why;
    std::optional<QByteArray> path = uri ? pathOfFileUri(argumentText, &why) : QFile::encodeName(argumentText);
    if (!path)
        return {{}, RuntimeError(Err::PathNotFound, why)};
    // GNOME hands an audio CD over as GVfs's folder of it (".../gvfs/cdda:host=sr0"),
    // where its tracks are sound files: the disc is the drive's.
    const QByteArray name = path->mid(path->lastIndexOf('/') + 1);
    if (path->contains("/gvfs/") && name.startsWith("cdda:host=") && name.size() > 10)
        path = m_deviceFolder + '/' + name.mid(10);

    struct stat st {};
    const bool exists = ::stat(path->constData(), &st) == 0;
    const bool device = exists && S_ISBLK(st.st_mode);
    const std::optional<QByteArray> folder = exists && S_ISDIR(st.st_mode) ? canonical(*path) : std::nullopt;
    if (!device && !folder) {
        if (!uri)
            return {};
        return {{}, RuntimeError(Err::PathNotFound,
                                 QStringLiteral("Path not found: %1 is no folder and no block device").arg(argumentText))};
    }

    const QList<DriveEntry> entries = m_map.entries();
    // The block device of the medium: the one given, or the one mounted on the folder.
    const std::optional<dev_t> number = folder ? m_optical.mountedOn(*folder) : std::optional<dev_t>(st.st_rdev);
    for (const DriveEntry &e : entries) {
        if (e.kind == DriveEntry::Folder && folder && !e.target.isEmpty() && canonical(e.target) == folder)
            return {e.letter, {}};
        if (e.kind == DriveEntry::Device && number && m_optical.blockNumber(e.target) == number)
            return {e.letter, {}};
    }

    for (char c = 'D'; c <= 'Z'; ++c) {
        const QChar letter = QLatin1Char(c);
        if (std::none_of(entries.cbegin(), entries.cend(), [letter](const DriveEntry &e) { return e.letter == letter; })) {
            m_temporary = DriveEntry{device ? DriveEntry::Device : DriveEntry::Folder, letter, folder.value_or(*path)};
            return {letter, {}};
        }
    }
    return {{}, RuntimeError(Err::DeviceUnavailable,
                             QStringLiteral("Device unavailable: the drive map uses every letter from D: to Z:, "
                                            "none is left for %1")
                                 .arg(argumentText))};
}

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
