// Probing a drive: what the device node or image file says through the cdrom and
// block ioctls, and what cannot be a drive at all.
#include "platform/devices/disc_format.h"
#include "platform/devices/linux_devices.h"
#include "platform/devices/sys_block.h"
#include "platform/runtime_error.h"

#include <QFile>
#include <cerrno>
#include <grp.h>
#include <linux/cdrom.h>

namespace tarvic {

namespace {

// Closes the device at the end of every query, so the drive's eject button works
// while we wait on the user.
struct Closer
{
    DeviceNode &node;
    ~Closer() { node.close(); }
};

bool gone(int err)
{
    return err == ENOENT || err == ENXIO || err == ENODEV || err == ENOTDIR || err == ELOOP;
}

QString groupName(gid_t gid)
{
    const group *g = ::getgrgid(gid);
    return g && g->gr_name ? QString::fromLocal8Bit(g->gr_name) : QString();
}

[[noreturn]] void throwUnusable(const QByteArray &device, int err, const NodeInfo &info)
{
    const QString name = QFile::decodeName(device);
    if (err == EACCES || err == EPERM) {
        const QString group = groupName(info.group);
        const QString advice = group.isEmpty() || group == QLatin1String("root")
            ? QStringLiteral("only root may use it")
            : QStringLiteral("add yourself to the %1 group").arg(group);
        throw RuntimeError(Err::PermissionDenied,
                           QStringLiteral("Permission denied: %1 cannot be opened (%2); %3").arg(name, systemReason(err), advice));
    }
    throw RuntimeError(Err::DeviceUnavailable,
                       QStringLiteral("Device unavailable: %1 cannot be used (%2)").arg(name, systemReason(err)));
}

[[noreturn]] void throwNoDrive(const QByteArray &device, const QString &what)
{
    throw RuntimeError(Err::DeviceUnavailable,
                       QStringLiteral("Device unavailable: %1 %2").arg(QFile::decodeName(device), what));
}

const QString NotADrive = QStringLiteral(
    "; an e:: entry links to a block device (an optical drive, a USB stick or its partition, a loop device) or to a "
    "disc image");

} // namespace

std::optional<QList<LinuxOpticalDevices::Track>> LinuxOpticalDevices::tableOfContents()
{
    TocHeader header;
    if (m_node->tocHeader(&header) != 0)
        return std::nullopt;
    // A disc is untrusted: a header that no pressing plant could make means no TOC.
    if (header.first < 1 || header.last > 99 || header.first > header.last)
        return std::nullopt;
    QList<Track> tracks;
    for (int t = header.first; t <= header.last; ++t) {
        unsigned control = 0;
        if (m_node->tocEntry(t, &control) == 0)
            tracks << Track{t, (control & CDROM_DATA_TRACK) != 0};
    }
    return tracks;
}

int LinuxOpticalDevices::opticalStatus(const QByteArray &device, const NodeInfo &info)
{
    int st = m_node->driveStatus();
    for (auto waited = std::chrono::milliseconds(0); st == CDS_DRIVE_NOT_READY && waited < SettleTime;
         waited += PollInterval) {
        m_node->sleep(PollInterval);
        st = m_node->driveStatus();
    }
    if (st == -ENOSYS)
        st = CDS_NO_INFO;   // the driver cannot tell; the TOC can
    if (st < 0) {
        if (gone(-st))
            return 0;
        if (-st == ENOMEDIUM)
            return 1;
        throwUnusable(device, -st, info);
    }
    switch (st) {
    case CDS_DISC_OK:
        return 2;
    case CDS_NO_DISC:
    case CDS_TRAY_OPEN:
    case CDS_DRIVE_NOT_READY:
        return 1;
    default: {
        TocHeader header;
        return m_node->tocHeader(&header) == 0 ? 2 : 1;
    }
    }
}

LinuxOpticalDevices::Learnt LinuxOpticalDevices::probeBlockDevice(const QByteArray &device, const NodeInfo &info)
{
    Learnt learnt;
    const int err = m_node->open(device);
    if (err != 0) {
        if (gone(err))
            return learnt;
        // A card reader or stick drive without its card.
        if (err == ENOMEDIUM)
            return learnt.status = 1, learnt;
        throwUnusable(device, err, info);
    }
    Closer closer{*m_node};
    if (m_node->isOptical()) {
        learnt.optical = true;
        learnt.status = opticalStatus(device, info);
        if (learnt.status == 2)
            learnt.tracks = tableOfContents();
        return learnt;
    }
    quint64 bytes = 0;
    if (const int sizeErr = m_node->size(&bytes); sizeErr != 0) {
        if (sizeErr == ENOMEDIUM)
            return learnt.status = 1, learnt;
        throwUnusable(device, sizeErr, info);
    }
    // A detached loop device, an empty card slot: no medium of any size.
    if (bytes == 0)
        return learnt.status = 1, learnt;
    QByteArray head;
    if (const int readErr = m_node->read(0, FormatProbeLength, &head); readErr != 0) {
        if (readErr == ENOMEDIUM)
            return learnt.status = 1, learnt;
        throwUnusable(device, readErr, info);
    }
    const DiscFormat format = identifyFormat(head);
    if (format.kind == DiscFormat::PartitionTable) {
        const QStringList parts = partitionsOf(m_sysBlockPath, info.rdev);
        throwNoDrive(device, QStringLiteral("is a whole disk with a partition table (%1) and no file system of its own, so "
                                            "it cannot be a drive; map one of its partitions instead%2")
                                 .arg(QLatin1String(format.name),
                                      parts.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(parts.join(u", "))));
    }
    learnt.status = 2;
    return learnt;
}

LinuxOpticalDevices::Learnt LinuxOpticalDevices::probeImage(const QByteArray &device)
{
    const QString name = QFile::decodeName(device);
    if (const int err = m_node->open(device); err != 0) {
        if (gone(err))
            return {};
        if (err == EACCES || err == EPERM)
            throw RuntimeError(Err::PermissionDenied,
                               QStringLiteral("Permission denied: the disc image %1 cannot be read (%2), so it cannot be "
                                              "a drive")
                                   .arg(name, systemReason(err)));
        throw RuntimeError(Err::DeviceUnavailable, QStringLiteral("Device unavailable: the disc image %1 cannot be opened (%2)")
                                                       .arg(name, systemReason(err)));
    }
    Closer closer{*m_node};
    QByteArray head;
    if (const int err = m_node->read(0, FormatProbeLength, &head); err != 0)
        throw RuntimeError(Err::DeviceUnavailable, QStringLiteral("Device unavailable: the disc image %1 cannot be read (%2)")
                                                       .arg(name, systemReason(err)));
    const DiscFormat format = identifyFormat(head);
    if (format.kind == DiscFormat::PartitionTable)
        throwNoDrive(device, QStringLiteral("is the image of a whole disk with a partition table (%1), so it cannot be a "
                                            "drive; a disc image holds one file system (an .iso or a file system image)")
                                 .arg(QLatin1String(format.name)));
    if (format.kind == DiscFormat::Unknown)
        throwNoDrive(device, QStringLiteral("is a file of unknown format (%1), so it cannot be a drive; a disc image holds "
                                            "one of the file systems %2")
                                 .arg(head.isEmpty() ? QStringLiteral("it is empty")
                                                     : QStringLiteral("none of the file systems Tarvic knows is in it"),
                                      QLatin1String(knownFileSystems())));
    Learnt learnt;
    learnt.status = 2;
    return learnt;
}

LinuxOpticalDevices::Learnt LinuxOpticalDevices::probe(const QByteArray &device)
{
    const NodeInfo info = m_node->inspect(device);
    if (!m_handedFor.isEmpty() && device == m_handedFor) {
        const NodeInfo medium = handedMedium(info);
        // The loop device holds this very image: the file is read, since the loop
        // device is root's and the disk group's alone.
        Learnt learnt = info.type == NodeInfo::RegularFile ? probeImage(device) : probeBlockDevice(m_medium, medium);
        if (learnt.status != 2)
            throwMediumGone(m_medium);
        return learnt;
    }
    switch (info.type) {
    case NodeInfo::Missing:
        if (gone(info.error))
            return {};
        throwUnusable(device, info.error, info);
    case NodeInfo::BlockDevice:
        return probeBlockDevice(device, info);
    case NodeInfo::RegularFile:
        return probeImage(device);
    case NodeInfo::CharacterDevice:
        throwNoDrive(device, QStringLiteral("is a character device, not a drive") + NotADrive);
    case NodeInfo::Folder:
        throwNoDrive(device, QStringLiteral("is a folder, not a drive; a folder is mapped with one colon (e:)"));
    case NodeInfo::Other:
        break;
    }
    throwNoDrive(device, QStringLiteral("is neither a block device nor a disc image") + NotADrive);
}

} // namespace tarvic
