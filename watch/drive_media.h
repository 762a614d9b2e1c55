#pragma once

#include "platform/drive_map.h"
#include "watch/udisks_objects.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

namespace tarvic {

// Whether a block device holds something to start for, from udisks2's view of it.
struct Medium
{
    enum State { None, Blank, In };
    State state = None;
    // Tells one medium from the next where udisks2 might report a change of medium
    // without a moment of none between (a loop device given another file).
    QByteArray identity;
    QString kind;   // for the log: "audio CD", "disc", "image", "medium"
    // An optical disc or a disc image: started on insertion. Any other medium (a USB
    // stick, a card) may carry a worm in its autorun.inf, and starts only where the
    // user asked for it.
    bool disc = false;
};

// An optical drive is judged by its drive's media properties, since an audio CD
// has no file system and may show no size; a loop device by its backing file; any
// other block device by its size once its drive (if any) says a medium is in.
Medium mediumOf(const BlockDevice &block, const std::optional<DriveMedia> &drive);

// The letter that the drive map gives the block device: a device entry ("e::")
// naming its node, one of its links or its device number, or an image entry whose
// disc the loop device is, as /sys/block shows it (loopShowingImage: the whole file,
// the same file, not just the same name).
std::optional<QChar> letterOf(const QList<DriveEntry> &entries, const BlockDevice &block,
                              const QString &sysBlock = QStringLiteral("/sys/block"));

} // namespace tarvic
