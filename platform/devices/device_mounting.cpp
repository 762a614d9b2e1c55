// Where a drive's disc is mounted, and mounting it through the mounters in turn.
#include "platform/devices/linux_devices.h"
#include "platform/devices/mount_table.h"
#include "platform/drive_lock.h"
#include "platform/runtime_error.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace tarvic {

// A mount point we may not enter is another user's mount (udisks2 mounts under
// /media/<user>, mode 0750): said as such, not as a path that is missing.
QByteArray LinuxOpticalDevices::readable(const QByteArray &point, const QString &what)
{
    const int fd = ::open(point.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::close(fd);
        return point;
    }
    const int err = errno;
    if (err != EACCES && err != EPERM)
        return point;
    throw RuntimeError(Err::PermissionDenied,
                       QStringLiteral("Permission denied: %1 is mounted at %2 by another user and cannot be read here (%3)")
                           .arg(what, QFile::decodeName(point), systemReason(err)));
}

std::optional<QByteArray> LinuxOpticalDevices::mountedAt(dev_t number)
{
    QFile info(m_mountInfoPath);
    if (!info.open(QIODevice::ReadOnly))
        return std::nullopt;
    return mountPointOf(parseMountInfo(info.readAll()), ::major(number), ::minor(number));
}

std::optional<QByteArray> LinuxOpticalDevices::mountUnderWay(dev_t number)
{
    // The mount table shows the mount the moment it is made, well before udisks2
    // answers the one who asked for it.
    const int table = ::open(QFile::encodeName(m_mountInfoPath).constData(), O_RDONLY | O_CLOEXEC);
    QElapsedTimer clock;
    clock.start();
    std::optional<QByteArray> point;
    while (!(point = mountedAt(number)) && DriveLock::isMounting(number) && clock.elapsed() < AttachPatience.count()) {
        pollfd changed{table, POLLPRI, 0};
        if (table < 0 || ::poll(&changed, 1, 10) < 0)
            QThread::msleep(10);
    }
    if (table >= 0)
        ::close(table);
    return point;
}

QByteArray LinuxOpticalDevices::mountThroughMounters(const QByteArray &device, const QString &what)
{
    QStringList reasons;
    for (const auto &mounter : m_mounters) {
        const MountAttempt attempt = mounter->mount(device);
        if (attempt.outcome == MountAttempt::Mounted)
            return attempt.mountPoint;
        reasons << attempt.reason;
        if (attempt.outcome == MountAttempt::Failed)
            break;
    }
    if (reasons.isEmpty())
        reasons << QStringLiteral("there is no way to mount it here");
    throw RuntimeError(Err::DiskNotReady, QStringLiteral("Disk not ready: %1 could not be mounted: %2")
                                              .arg(what, reasons.join(QStringLiteral("; "))));
}

std::optional<QByteArray> LinuxOpticalDevices::blockMountPoint(const QByteArray &device, const QByteArray &node,
                                                               dev_t number, const QString &what, bool mountIfNeeded)
{
    // By device number, so /dev/cdrom finds what was mounted as /dev/sr0.
    if (const auto point = mountedAt(number))
        return readable(*point, what);
    if (!mountIfNeeded)
        return std::nullopt;
    // An audio CD has no file system to mount.
    const Learnt &learnt = recent(device);
    if (learnt.tracks && std::none_of(learnt.tracks->cbegin(), learnt.tracks->cend(), [](const Track &t) { return t.data; }))
        return std::nullopt;
    if (const auto point = mountUnderWay(number))
        return readable(*point, what);
    return mountThroughMounters(node, what);
}

std::optional<QByteArray> LinuxOpticalDevices::mountPoint(const QByteArray &device, bool mountIfNeeded)
{
    const NodeInfo info = m_node->inspect(device);
    if (!m_handedFor.isEmpty() && device == m_handedFor) {
        const NodeInfo medium = handedMedium(info);
        try {
            return blockMountPoint(device, m_medium, medium.rdev,
                                   QStringLiteral("the medium in %1").arg(QFile::decodeName(m_medium)), mountIfNeeded);
        } catch (const NothingToDo &) {
            throw;
        } catch (const RuntimeError &) {
            handedMedium(info);   // gone while it was being mounted: nothing to say
            throw;
        }
    }
    if (info.type == NodeInfo::RegularFile)
        return imageMountPoint(device, info, mountIfNeeded);
    if (info.type != NodeInfo::BlockDevice)
        return std::nullopt;
    return blockMountPoint(device, device, info.rdev, QStringLiteral("the disc in %1").arg(QFile::decodeName(device)),
                           mountIfNeeded);
}

std::optional<dev_t> LinuxOpticalDevices::mountedOn(const QByteArray &folder)
{
    QFile info(m_mountInfoPath);
    if (!info.open(QIODevice::ReadOnly))
        return std::nullopt;
    const std::optional<MountInfoEntry> mount = mountOn(parseMountInfo(info.readAll()), folder);
    return mount ? std::optional(::makedev(mount->major, mount->minor)) : std::nullopt;
}

} // namespace tarvic
