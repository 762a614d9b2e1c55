#pragma once

#include <QChar>
#include <QString>

namespace tarvic {

// The mark that a tarvic is handling a drive letter, so that tarvic-watch starts no
// second one for an insertion that tarvic made itself (an image it attached).
//
// It is an advisory lock (flock) on tarvic-X.lock in $XDG_RUNTIME_DIR/tarvic, or in
// <temp>/tarvic-<uid> when XDG_RUNTIME_DIR is unset or unusable, or when the mark
// cannot be made there (a link or someone else's folder in the way, no room to write).
// The kernel drops it when the holder ends, however it ends, so nothing stale is left
// behind. Holders share it; a test takes it alone for a moment, without waiting.
class DriveLock
{
public:
    DriveLock() = default;
    ~DriveLock();
    DriveLock(const DriveLock &) = delete;
    DriveLock &operator=(const DriveLock &) = delete;

    // Marks the letter (A to Z, either case) as being handled for this object's life.
    // False when the mark cannot be made: whoever asked goes on without it.
    bool hold(QChar letter);
    void release();

    // The mark of the one tarvic-watch of this user, held alone. Taken: another
    // watcher holds it; Unmarked: it cannot be made, and the caller goes on without.
    enum class Alone { Held, Taken, Unmarked };
    Alone holdAlone();
    bool holding() const { return m_fd >= 0; }

    // Whether some process holds the letter's mark. Makes no file or folder.
    static bool isHeld(QChar letter);

    // The mark that tarvic-watch is mounting a medium (by its device number) for the
    // tarvic it starts, held alone without waiting while udisks2 is asked; the tarvic
    // waits for that mount rather than asking for a second one.
    bool holdMounting(quint64 number);
    static bool isMounting(quint64 number);

    // The first folder of the marks, by the rules above.
    static QString folder();

private:
    static bool heldByName(const QByteArray &name);
    Alone holdAloneByName(const QByteArray &name);
    int m_fd = -1;
};

} // namespace tarvic
