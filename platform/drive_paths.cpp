#include "platform/drive_paths.h"

#include "platform/runtime_error.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvic {

namespace {

bool isSeparator(QChar c)
{
    return c == QLatin1Char('\\') || c == QLatin1Char('/');
}

bool isAsciiLetter(QChar c)
{
    return c.unicode() < 0x80 && QChar::isLetter(c.unicode());
}

void applyComponents(QStringList &into, const QString &rest)
{
    QString part;
    auto flush = [&] {
        if (part.isEmpty() || part == QLatin1String("."))
            ;
        else if (part == QLatin1String("..")) {
            if (!into.isEmpty())
                into.removeLast();
        } else
            into << part;
        part.clear();
    };
    for (QChar c : rest) {
        if (isSeparator(c))
            flush();
        else
            part += c;
    }
    flush();
}

// The entry of `folder` that `name` stands for: the exact name, else the first case variant.
std::optional<QByteArray> matchEntry(const QByteArray &folder, const QString &name)
{
    const QByteArray exact = QFile::encodeName(name);
    struct stat st {};
    if (::lstat((folder + '/' + exact).constData(), &st) == 0)
        return exact;
    std::unique_ptr<DIR, int (*)(DIR *)> dir(::opendir(folder.constData()), ::closedir);
    if (!dir)
        return std::nullopt;
    std::optional<QByteArray> best;
    while (const dirent *d = ::readdir(dir.get())) {
        const QByteArray raw(d->d_name);
        if (raw == "." || raw == "..")
            continue;
        if (QFile::decodeName(raw).compare(name, Qt::CaseInsensitive) == 0 && (!best || raw < *best))
            best = raw;
    }
    return best;
}

} // namespace

std::optional<QByteArray> canonical(const QByteArray &path)
{
    std::unique_ptr<char, void (*)(void *)> real(::realpath(path.constData(), nullptr), std::free);
    if (!real)
        return std::nullopt;
    return QByteArray(real.get());
}

bool staysInside(const QByteArray &real, const QByteArray &realRoot)
{
    return real == realRoot || real.startsWith(realRoot == "/" ? QByteArray("/") : realRoot + '/');
}

DrivePaths::DrivePaths(Drives &drives) : m_drives(drives) {}

DrivePaths::Location DrivePaths::locate(const QString &path) const
{
    Location loc;
    // The system would read such a path only up to the NUL, and so reach another file.
    if (path.isEmpty() || path.contains(QChar(0)))
        return loc;
    if (path.startsWith(QLatin1Char('/'))) {
        loc.kind = Location::Linux;
        loc.linuxPath = path;
        return loc;
    }
    // "\\server\share" and "\\?\..." name nothing on this machine.
    if (path.size() >= 2 && path.at(0) == QLatin1Char('\\') && isSeparator(path.at(1)))
        return loc;

    QString rest = path;
    std::optional<QChar> letter;
    bool fromRoot = false;
    if (path.size() >= 2 && path.at(1) == QLatin1Char(':')) {
        if (!isAsciiLetter(path.at(0)))
            return loc;
        letter = path.at(0).toUpper();
        rest = path.mid(2);
        fromRoot = !rest.isEmpty() && isSeparator(rest.at(0));
    } else {
        letter = m_current;
        fromRoot = isSeparator(path.at(0));
    }

    if (!letter) {
        // On the Linux side of things: relative to the working directory, or to "/".
        loc.kind = Location::Linux;
        QString p = rest;
        p.replace(QLatin1Char('\\'), QLatin1Char('/'));
        loc.linuxPath = fromRoot ? p : QDir::current().filePath(p);
        return loc;
    }
    loc.kind = Location::OnDrive;
    loc.letter = *letter;
    if (!fromRoot)
        for (const QByteArray &c : m_folders.value(*letter))
            loc.components << QFile::decodeName(c);
    applyComponents(loc.components, rest);
    return loc;
}

Resolved DrivePaths::walk(const Location &loc, QList<QByteArray> *realComponents)
{
    Resolved r;
    if (loc.kind == Location::Invalid)
        return r;
    if (loc.kind == Location::Linux) {
        r.native = QFile::encodeName(loc.linuxPath);
        struct stat st {};
        r.found = ::stat(r.native.constData(), &st) == 0;
        r.folder = r.found && S_ISDIR(st.st_mode);
        return r;
    }

    r.drive = loc.letter;
    if (m_drives.status(loc.letter) < 2)
        return r;
    if (loc.components.size() == 1) {
        for (const QString &v : m_drives.virtualRootFiles(loc.letter)) {
            if (v.compare(loc.components.first(), Qt::CaseInsensitive) == 0) {
                r.found = r.virtualFile = true;
                return r;
            }
        }
    }
    const std::optional<QByteArray> root = m_drives.root(loc.letter);
    if (!root)
        return r;
    QByteArray current = *root;
    for (const QString &component : loc.components) {
        const std::optional<QByteArray> entry = matchEntry(current, component);
        if (!entry)
            return r;
        current += '/' + *entry;
        if (realComponents)
            *realComponents << *entry;
    }
    // Links may lead anywhere; only what stays on the disc counts.
    const auto real = canonical(current);
    const auto realRoot = canonical(*root);
    if (!real || !realRoot)
        return r;
    if (!staysInside(*real, *realRoot))
        return r;
    struct stat st {};
    if (::stat(current.constData(), &st) != 0)
        return r;
    r.found = true;
    r.folder = S_ISDIR(st.st_mode);
    r.native = current;
    return r;
}

Resolved DrivePaths::resolve(const QString &path)
{
    return walk(locate(path), nullptr);
}

void DrivePaths::requireDisc(QChar letter)
{
    switch (m_drives.status(letter)) {
    case 0:
        throw RuntimeError(Err::DeviceUnavailable,
                           QStringLiteral("Device unavailable: there is no drive %1: in the drive map").arg(letter));
    case 1:
        throw RuntimeError(Err::DiskNotReady, QStringLiteral("Disk not ready: drive %1: holds no disc").arg(letter));
    default:
        break;
    }
}

void DrivePaths::ChDir(const QString &path)
{
    const Location loc = locate(path);
    if (loc.kind == Location::OnDrive)
        requireDisc(loc.letter);
    QList<QByteArray> real;
    const Resolved r = walk(loc, &real);
    if (!r.found || !r.folder || r.virtualFile)
        throw RuntimeError(Err::PathNotFound, QStringLiteral("Path not found: %1").arg(path));

    if (loc.kind == Location::OnDrive) {
        m_folders[loc.letter] = real;
        if (m_current != loc.letter)
            return;
    } else if (m_current) {
        return; // another drive is current; its folder stays the working directory
    }
    if (::chdir(r.native.constData()) != 0)
        throw RuntimeError(Err::PathNotFound, QStringLiteral("Path not found: %1 (%2)").arg(path, systemReason(errno)));
}

void DrivePaths::ChDrive(const QString &drive)
{
    if (drive.isEmpty() || !isAsciiLetter(drive.at(0)))
        return;
    const QChar letter = drive.at(0).toUpper();
    requireDisc(letter);
    const std::optional<QByteArray> root = m_drives.root(letter);
    if (!root)
        throw RuntimeError(Err::DiskNotReady, QStringLiteral("Disk not ready: drive %1: has no files to show").arg(letter));

    QByteArray folder = *root;
    for (const QByteArray &c : m_folders.value(letter))
        folder += '/' + c;
    struct stat st {};
    if (::stat(folder.constData(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        // The folder went away with the disc that held it; start again at the root.
        m_folders.remove(letter);
        folder = *root;
    }
    if (::chdir(folder.constData()) != 0)
        throw RuntimeError(Err::PathNotFound,
                           QStringLiteral("Path not found: drive %1: (%2)").arg(letter).arg(systemReason(errno)));
    m_current = letter;
}

} // namespace tarvic
