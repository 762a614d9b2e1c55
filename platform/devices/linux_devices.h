#pragma once

#include "platform/devices/device_node.h"
#include "platform/devices/devices.h"
#include "platform/devices/disc_mounter.h"
#include "platform/devices/optical_drives.h"

#include <QHash>
#include <QString>
#include <chrono>
#include <memory>
#include <vector>

namespace tarvic {

// The devices of "e::" entries as the Linux kernel shows them. An optical drive is
// asked through the cdrom ioctls (status, table of contents); any other block device
// holds a disc when it has a medium of some size; a regular file is a disc image
// that is always in. Mount points come from the mount table; a disc is mounted
// through the given mounters, tried in order, and an image is attached first.
//
// A status question opens the device once and learns all a dispatch asks next
// (the status and the table of contents); path questions a moment later are
// answered from that, so one dispatch opens the device only for its status questions.
class LinuxOpticalDevices final : public OpticalDevices
{
public:
    // The real drives of this machine, mounting through udisks2 on the system bus
    // and then through a user entry in /etc/fstab, attaching images through udisks2.
    LinuxOpticalDevices();
    LinuxOpticalDevices(std::unique_ptr<DeviceNode> node, std::vector<std::unique_ptr<DiscMounter>> mounters,
                        std::unique_ptr<ImageAttacher> attacher = {},
                        QString mountInfoPath = QStringLiteral("/proc/self/mountinfo"),
                        QString sysBlockPath = QStringLiteral("/sys/block"));
    ~LinuxOpticalDevices() override;

    int status(const QByteArray &device, Asking asking) override;
    QList<int> audioTracks(const QByteArray &device) override;
    std::optional<QByteArray> mountPoint(const QByteArray &device, bool mountIfNeeded) override;
    std::optional<dev_t> blockNumber(const QByteArray &device) override;
    std::optional<dev_t> mountedOn(const QByteArray &folder) override;

    // tarvic-watch saw `medium` (a block device node) arrive in the drive whose entry
    // is `device`: questions about that drive are asked of that medium alone. An image
    // is never attached for it; once it is gone, or no longer holds the image, they
    // raise NothingToDo.
    void handOver(const QByteArray &device, const QByteArray &medium);

    // A drive still spinning up is asked again this often, for this long.
    static constexpr std::chrono::milliseconds PollInterval{250};
    static constexpr std::chrono::milliseconds SettleTime{5000};
    // How long what a status question learnt answers the questions that follow it.
    static constexpr std::chrono::milliseconds RecentFor{2000};
    // How long a run waits for another process attaching and mounting the same image:
    // as long as udisks2 may take over all of it.
    static constexpr std::chrono::milliseconds AttachPatience{60000};

private:
    // One track of a disc's table of contents.
    struct Track
    {
        int number;
        bool data;
    };
    // What one status question learnt of a device, and when.
    struct Learnt
    {
        int status = 0;
        bool optical = false;
        std::optional<QList<Track>> tracks;   // an optical disc's table of contents
        std::chrono::steady_clock::time_point at;
    };
    Learnt probe(const QByteArray &device);
    Learnt probeBlockDevice(const QByteArray &device, const NodeInfo &info);
    Learnt probeImage(const QByteArray &device);
    int opticalStatus(const QByteArray &device, const NodeInfo &info);
    const Learnt &recent(const QByteArray &device);
    std::optional<QList<Track>> tableOfContents();
    std::optional<QByteArray> mountedAt(dev_t number);
    // Waits while tarvic-watch is mounting the medium: where it is mounted by then.
    std::optional<QByteArray> mountUnderWay(dev_t number);
    QByteArray mountThroughMounters(const QByteArray &device, const QString &what);
    std::optional<QByteArray> imageMountPoint(const QByteArray &image, const NodeInfo &info, bool mountIfNeeded);
    std::optional<QByteArray> blockMountPoint(const QByteArray &device, const QByteArray &node, dev_t number,
                                              const QString &what, bool mountIfNeeded);
    QByteArray attach(const QByteArray &image, const QString &what);
    void releaseImage();
    NodeInfo handedMedium(const NodeInfo &entry);
    [[noreturn]] static void throwMediumGone(const QByteArray &medium);
    // A mount point we may not enter is another user's mount: said as such.
    static QByteArray readable(const QByteArray &point, const QString &what);

    std::unique_ptr<DeviceNode> m_node;
    std::vector<std::unique_ptr<DiscMounter>> m_mounters;
    std::unique_ptr<ImageAttacher> m_attacher;
    QString m_mountInfoPath;
    QString m_sysBlockPath;
    QHash<QByteArray, Learnt> m_learnt;
    int m_imageLock = -1;   // the image this run has in hand, by its file
    NodeInfo m_lockedImage;
    QByteArray m_handedFor;
    QByteArray m_medium;
};

} // namespace tarvic
