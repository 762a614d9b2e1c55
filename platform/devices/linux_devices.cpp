#include "platform/devices/linux_devices.h"

#include "platform/devices/fstab_mounter.h"
#include "platform/devices/sys_block.h"
#include "platform/devices/udisks_mounter.h"
#include "platform/runtime_error.h"

#include <QFile>
#include <QFileInfo>

namespace tarvic {

void LinuxOpticalDevices::throwMediumGone(const QByteArray &medium)
{
    throw NothingToDo(Err::DiskNotReady, QStringLiteral("Disk not ready: the medium %1 that tarvic-watch saw arrive is gone")
                                             .arg(QFile::decodeName(medium)));
}

LinuxOpticalDevices::LinuxOpticalDevices()
{
    m_node = std::make_unique<LinuxDeviceNode>();
    m_mounters.push_back(std::make_unique<UdisksMounter>([] { return QDBusConnection::systemBus(); }));
    m_mounters.push_back(std::make_unique<FstabMounter>());
    m_attacher = std::make_unique<UdisksImageAttacher>([] { return QDBusConnection::systemBus(); });
    m_mountInfoPath = QStringLiteral("/proc/self/mountinfo");
    m_sysBlockPath = QStringLiteral("/sys/block");
}

LinuxOpticalDevices::LinuxOpticalDevices(std::unique_ptr<DeviceNode> node,
                                         std::vector<std::unique_ptr<DiscMounter>> mounters,
                                         std::unique_ptr<ImageAttacher> attacher, QString mountInfoPath,
                                         QString sysBlockPath)
    : m_node(std::move(node)), m_mounters(std::move(mounters)), m_attacher(std::move(attacher)),
      m_mountInfoPath(std::move(mountInfoPath)), m_sysBlockPath(std::move(sysBlockPath))
{
}

LinuxOpticalDevices::~LinuxOpticalDevices()
{
    releaseImage();
}

int LinuxOpticalDevices::status(const QByteArray &device, Asking asking)
{
    if (asking == Asking::Recent) {
        const auto it = m_learnt.constFind(device);
        if (it != m_learnt.cend() && m_node->now() - it->at <= RecentFor)
            return it->status;
    }
    m_learnt.remove(device);
    Learnt learnt = probe(device);
    learnt.at = m_node->now();
    m_learnt.insert(device, learnt);
    return learnt.status;
}

const LinuxOpticalDevices::Learnt &LinuxOpticalDevices::recent(const QByteArray &device)
{
    status(device, Asking::Recent);
    return *m_learnt.constFind(device);
}

QList<int> LinuxOpticalDevices::audioTracks(const QByteArray &device)
{
    QList<int> numbers;
    const Learnt &learnt = recent(device);
    if (learnt.status == 2 && learnt.tracks)
        for (const Track &t : *learnt.tracks)
            if (!t.data)
                numbers << t.number;
    return numbers;
}

NodeInfo LinuxOpticalDevices::handedMedium(const NodeInfo &entry)
{
    const NodeInfo medium = m_node->inspect(m_medium);
    bool same = medium.type == NodeInfo::BlockDevice;
    if (same && entry.type == NodeInfo::RegularFile) {
        const auto loop = loopShowingImage(QFileInfo(QFile::decodeName(m_medium)).fileName(), entry, m_sysBlockPath);
        same = loop && loop->number == medium.rdev;
    } else if (same)
        same = entry.type == NodeInfo::BlockDevice && entry.rdev == medium.rdev;
    if (!same)
        throwMediumGone(m_medium);
    return medium;
}

void LinuxOpticalDevices::handOver(const QByteArray &device, const QByteArray &medium)
{
    m_handedFor = device;
    m_medium = medium;
    m_learnt.remove(device);
}

std::optional<dev_t> LinuxOpticalDevices::blockNumber(const QByteArray &device)
{
    const NodeInfo info = m_node->inspect(device);
    if (info.type == NodeInfo::BlockDevice)
        return info.rdev;
    if (info.type != NodeInfo::RegularFile)
        return std::nullopt;
    const std::optional<LoopDevice> loop = loopDeviceOf(info, m_sysBlockPath);
    return loop ? std::optional(loop->number) : std::nullopt;
}

} // namespace tarvic
