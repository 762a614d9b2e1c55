#pragma once

#include "platform/devices/disc_mounter.h"
#include "platform/devices/mount_table.h"

#include <QString>
#include <chrono>

namespace tarvic {

// Mounts the way a user may without udisks2: an /etc/fstab entry for the device that
// carries "user" or "users", and mount(8) given only its mount point.
class FstabMounter final : public DiscMounter
{
public:
    explicit FstabMounter(QString fstabPath = QStringLiteral("/etc/fstab"), QString mountProgram = defaultMountProgram(),
                          std::chrono::milliseconds timeout = std::chrono::seconds(30));

    MountAttempt mount(const QByteArray &device) override;

    // The entry for a device: its path as written, or a node (or LABEL=/UUID= name)
    // with the same device number. nullopt when none.
    static std::optional<FstabEntry> entryFor(const QList<FstabEntry> &table, const QByteArray &device);
    static bool allowsUsers(const FstabEntry &entry);
    static QString defaultMountProgram();

private:
    QString m_fstabPath;
    QString m_mountProgram;
    int m_timeout;
};

} // namespace tarvic
