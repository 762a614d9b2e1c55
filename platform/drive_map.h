#pragma once

#include <QByteArray>
#include <QChar>
#include <QList>
#include <QString>
#include <functional>
#include <optional>

namespace tarvic {

// One entry of the drive map: a letter and the folder, device or disc image it leads to.
struct DriveEntry
{
    enum Kind { None, Folder, Device };
    Kind kind = None;
    QChar letter;       // upper case
    QByteArray target;  // the folder (Folder) or device node (Device), as a native path
    // "e::watch" beside it: tarvic-watch starts tarvic for any medium in it, not only a disc.
    bool watchAnyMedium = false;
};

// The letters of the drives: a folder of symbolic links in the style of Wine's
// dosdevices ("e:" -> a folder, "e::" -> a block device; any entry named "e::watch"
// turns on starting on insertion for a medium that is no disc). Read afresh at every
// question, so a link made while the program waits is seen at once.
class DriveMap
{
public:
    using DeviceLister = std::function<QList<QByteArray>()>;

    // opticalDrives lists the machine's optical drives in the kernel's order;
    // they take the free letters from D: on when the map names no device at all.
    explicit DriveMap(QString folder, DeviceLister opticalDrives = {});

    DriveEntry find(QChar letter) const;
    QList<DriveEntry> entries() const;
    const QString &folder() const { return m_folder; }

    // The letter of a drive designator: "E:" or "e:\" gives E; anything else none.
    static std::optional<QChar> letterOf(const QString &designator);

private:
    QList<DriveEntry> mappedEntries() const;
    QList<DriveEntry> withOpticalDrives(QList<DriveEntry> mapped) const;

    QString m_folder;
    DeviceLister m_opticalDrives;
};

} // namespace tarvic
