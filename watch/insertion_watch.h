#pragma once

#include "platform/drive_map.h"
#include "watch/drive_media.h"
#include "watch/udisks_objects.h"

#include <QHash>
#include <QString>
#include <functional>
#include <optional>

namespace tarvic {

// Decides, from what udisks2 reports, when a medium has arrived in a drive of the
// drive map, and has tarvic started for that drive's letter: once per insertion,
// however many signals one insertion raises. A medium taken out and put back is a
// new insertion; whatever is in when the watch begins is none. A letter that a
// running tarvic is handling already (it attached the image itself) starts nothing,
// nor does a medium that is neither an optical disc nor a disc image, unless the
// drive map turns that on for its letter.
//
// The D-Bus side feeds objects() and calls look() after every change.
class InsertionWatch
{
public:
    using DriveLister = std::function<QList<DriveEntry>()>;
    // Starts tarvic for the letter, handing it the block device the medium arrived in;
    // true when it started.
    using Launcher = std::function<bool(QChar letter, const BlockDevice &block)>;
    using Logger = std::function<void(const QString &line)>;
    using Handled = std::function<bool(QChar letter)>;    // a tarvic is handling it

    // sysBlock: where the kernel shows its loop devices.
    InsertionWatch(DriveLister drives, Launcher launch, Logger log, Handled handled,
                   QString sysBlock = QStringLiteral("/sys/block"));

    UdisksObjects &objects() { return m_objects; }

    // udisks2 answered with all its objects, at the start or after it came back.
    // After a return, what was in before and still is counts as no insertion.
    void replaceAll(const QMap<QString, InterfaceMap> &objects);
    // udisks2 or the bus went away: changes are not looked at until the next answer.
    void forget();

    // Compares what is in now with the last look, starts what arrived, and returns
    // how many starts were made.
    int look();

private:
    // What the last look found in one block device.
    struct Seen
    {
        Medium::State state = Medium::None;
        QByteArray identity;
        std::optional<QChar> letter;
        QByteArray device;
    };
    int arrive(const BlockDevice &block, const Medium &medium, Seen &seen, QList<QChar> &startedNow,
               std::optional<QList<DriveEntry>> &entries);

    DriveLister m_drives;
    Launcher m_launch;
    Logger m_log;
    Handled m_handled;
    QString m_sysBlock;
    UdisksObjects m_objects;
    QHash<QString, Seen> m_seen;
    bool m_answered = false;   // udisks2's objects are known
    bool m_first = true;       // the next look is the first one: it only takes stock
};

} // namespace tarvic
