#pragma once

#include "platform/optical/cdrom_device.h"
#include "platform/optical/disc_mounter.h"
#include "platform/optical_devices.h"

#include <QString>
#include <chrono>
#include <memory>
#include <vector>

namespace tarvic {

// Optical drives as the Linux kernel shows them: status and table of contents
// through the cdrom ioctls, the mount point from the mount table, and mounting
// through the given mounters, tried in order.
class LinuxOpticalDevices final : public OpticalDevices
{
public:
    // The real drives of this machine, mounting through udisks2 on the system bus
    // and then through a user entry in /etc/fstab.
    LinuxOpticalDevices();
    LinuxOpticalDevices(std::unique_ptr<CdromDevice> cdrom, std::vector<std::unique_ptr<DiscMounter>> mounters,
                        QString mountInfoPath = QStringLiteral("/proc/self/mountinfo"));
    ~LinuxOpticalDevices() override;

    int status(const QByteArray &device) override;
    QList<int> audioTracks(const QByteArray &device) override;
    std::optional<QByteArray> mountPoint(const QByteArray &device, bool mountIfNeeded) override;

    // A drive still spinning up is asked again this often, for this long.
    static constexpr std::chrono::milliseconds PollInterval{250};
    static constexpr std::chrono::milliseconds SettleTime{5000};

private:
    struct Track
    {
        int number;
        bool data;
    };
    bool open(const QByteArray &device);
    std::optional<QList<Track>> tableOfContents();

    std::unique_ptr<CdromDevice> m_cdrom;
    std::vector<std::unique_ptr<DiscMounter>> m_mounters;
    QString m_mountInfoPath;
};

// The machine's optical drives as device nodes (/dev/sr0, ...), in the kernel's
// order: the block devices of SCSI type 5 (TYPE_ROM) and those named sr*.
QList<QByteArray> listOpticalDrives(const QString &sysRoot = QStringLiteral("/sys/class/block"));

} // namespace tarvic
