#pragma once

#include "profile/profile_text.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <stdexcept>

namespace tarvic {

// A profile file is never longer than this; the rest of a longer one is not read.
constexpr qsizetype ProfileCap = 1024 * 1024;

// Why a profile file cannot be read or saved, as the end of a sentence that starts
// with the file's name: "is a folder", "cannot be written (No space left on device)".
class ProfileError : public std::runtime_error
{
public:
    explicit ProfileError(QString problem);
    const QString &problem() const { return m_problem; }

private:
    QString m_problem;
};

// The first bytes of a file, read without ever opening anything but a regular file
// (links are followed): a FIFO, a device or a socket by that name is only looked at.
struct ProfileBytes
{
    enum Status {
        Read,      // bytes hold the file up to the cap; next the bytes after it
        Missing,   // nothing by that name
        Refused,   // no regular file, or it cannot be opened: see problem
        Broken,    // a read failed: bytes hold what came before it; see problem
    };
    Status status = Missing;
    QByteArray bytes;
    QByteArray next;   // up to two bytes after the cap; empty when the file ended within it
    QString problem;
};

ProfileBytes readProfileBytes(const QByteArray &path, qsizetype cap = ProfileCap);

// The text of the profile file at `path`; empty when there is none. Throws
// ProfileError for anything but a regular file, a file that cannot be read, one
// longer than ProfileCap, and UTF-16 that is not valid.
ProfileText readProfileFile(const QString &path);

// Changes the profile file at `path` in one step. Under a lock beside the file
// (other savers wait for it; a lock that can never be taken is refused at once),
// clears what saves killed half-way left, reads the file as it now stands, lets
// `edit` change its text, and puts the result in a new file beside it that is
// renamed over it: readers see the old file or the new one, whole. Through
// symbolic links the final target is replaced and the links stay. The new file
// keeps the old one's permissions, owner, ACL and user.* attributes. A file with
// other hard links, or whose owner, ACL or attributes the new file cannot take, is
// written in place instead, a copy of its old bytes beside it until the new ones
// are synced. A missing file (and its folder) is made. Throws ProfileError, the
// file untouched, for whatever readProfileFile refuses, a file that may not be
// written, and any failure of the system while saving.
void saveProfileFile(const QString &path, const std::function<void(ProfileText &)> &edit);

} // namespace tarvic
