#pragma once

#include "platform/drives.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <optional>

namespace tarvic {

// Where a Windows-style path leads on this machine.
struct Resolved
{
    bool found = false;
    bool folder = false;
    bool virtualFile = false;     // a file Linux does not show, such as an audio track
    QByteArray native;            // the real path, when found and not virtual
    std::optional<QChar> drive;   // the drive it lies on; none for a Linux path
};

// The path with every link followed, or none when it leads nowhere.
std::optional<QByteArray> canonical(const QByteArray &path);
// Whether a canonical path is the canonical root or lies below it.
bool staysInside(const QByteArray &real, const QByteArray &realRoot);

// Paths in the style of the disc ("E:\VIDEO_TS", "E:", "setup.exe", "\autorun.inf")
// and the current drive and directory that give the relative ones their meaning.
//
// Both separators count; each component matches without regard to case (an exact
// match wins, then the first of the variants in byte order); "." and ".." work
// lexically and never climb above the drive's root; whatever leads outside the
// root through a link counts as missing. A Linux absolute path stands as it is.
class DrivePaths
{
public:
    explicit DrivePaths(Drives &drives);

    Resolved resolve(const QString &path);

    // Sets the current folder of the path's drive; the process follows when that
    // drive is the current one. Throws RuntimeError (68, 71, 76).
    void ChDir(const QString &path);
    // Makes the drive named by the first character current; a character that is no
    // letter ("/" of a Linux path) leaves the drive as it is. Throws RuntimeError (68, 71).
    void ChDrive(const QString &drive);

    std::optional<QChar> currentDrive() const { return m_current; }
    Drives &drives() { return m_drives; }

private:
    struct Location
    {
        enum Kind { Invalid, Linux, OnDrive } kind = Invalid;
        QChar letter;
        QStringList components;   // below the drive's root, "." and ".." applied
        QString linuxPath;
    };
    Location locate(const QString &path) const;
    Resolved walk(const Location &loc, QList<QByteArray> *realComponents);
    void requireDisc(QChar letter);

    Drives &m_drives;
    std::optional<QChar> m_current;
    QHash<QChar, QList<QByteArray>> m_folders;   // each drive's current folder, real names
};

} // namespace tarvic
