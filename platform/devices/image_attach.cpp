// A disc image: the loop device that shows it, attached through udisks2 when there is
// none, and the advisory lock that lets one run of many attach and mount it.
#include "platform/devices/linux_devices.h"
#include "platform/devices/sys_block.h"
#include "platform/runtime_error.h"

#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvic {

namespace {

// A descriptor of the image file of its own, for its advisory lock (flock): the one
// handed to udisks2 lives on in the loop device. Never a file put in its place.
int openForLock(const QByteArray &image, const NodeInfo &info)
{
    const int fd = ::open(image.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    struct stat st;
    if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_dev != info.dev || st.st_ino != info.inode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool tryLock(int fd, int operation)
{
    int r;
    while ((r = ::flock(fd, operation | LOCK_NB)) != 0 && errno == EINTR) {
    }
    return r == 0;
}

// Waits, a bounded time, for the lock another process holds.
void waitForLock(int fd, int operation, const QString &what)
{
    const auto until = std::chrono::steady_clock::now() + LinuxOpticalDevices::AttachPatience;
    while (!tryLock(fd, operation)) {
        if (errno != EWOULDBLOCK)
            return;
        if (std::chrono::steady_clock::now() > until)
            throw RuntimeError(Err::DiskNotReady, QStringLiteral("Disk not ready: %1 could not be attached: another process "
                                                                 "has been attaching it for %2 s")
                                                      .arg(what)
                                                      .arg(LinuxOpticalDevices::AttachPatience.count() / 1000));
        const timespec pause{0, 20'000'000};
        ::nanosleep(&pause, nullptr);
    }
}

} // namespace

std::optional<QByteArray> LinuxOpticalDevices::imageMountPoint(const QByteArray &image, const NodeInfo &info,
                                                               bool mountIfNeeded)
{
    const QString what = QStringLiteral("the disc image %1").arg(QFile::decodeName(image));
    const auto attachedAs = [&what](const LoopDevice &loop) {
        return what + QStringLiteral(" (attached as %1)").arg(QFile::decodeName(loop.node));
    };
    // The run that has an image in hand holds its lock: alone while it attaches and
    // mounts it, shared from then on until it ends. Another run for the same file (a
    // double click, another letter) waits for the mount and leaves the disc to it.
    const bool inHand = m_imageLock >= 0 && m_lockedImage.dev == info.dev && m_lockedImage.inode == info.inode;
    bool otherRun = false;
    if (!inHand) {
        releaseImage();
        m_imageLock = openForLock(image, info);
        m_lockedImage = info;
        if (m_imageLock >= 0 && !tryLock(m_imageLock, LOCK_EX)) {
            otherRun = true;
            waitForLock(m_imageLock, LOCK_SH, what);
        }
    }
    try {
        std::optional<LoopDevice> loop = loopDeviceOf(info, m_sysBlockPath);
        std::optional<QByteArray> point = loop ? mountedAt(loop->number) : std::nullopt;
        if (point && otherRun)
            throw NothingToDo(Err::DiskNotReady, QStringLiteral("Disk not ready: %1 is mounted at %2 by another tarvic, which "
                                                                "handles it")
                                                     .arg(attachedAs(*loop), QFile::decodeName(*point)));
        // The other run ended without the disc mounted: this one tries.
        if (otherRun && m_imageLock >= 0)
            waitForLock(m_imageLock, LOCK_EX, what);
        if (point)
            point = readable(*point, attachedAs(*loop));
        else if (!mountIfNeeded)
            return std::nullopt;
        else if ((loop = loopDeviceOf(info, m_sysBlockPath)))
            point = mountThroughMounters(loop->node, attachedAs(*loop));
        else
            point = attach(image, what);
        if (m_imageLock >= 0)
            tryLock(m_imageLock, LOCK_SH);
        return point;
    } catch (...) {
        if (!inHand)
            releaseImage();
        throw;
    }
}

QByteArray LinuxOpticalDevices::attach(const QByteArray &image, const QString &what)
{
    const MountAttempt attempt = m_attacher ? m_attacher->attach(image)
                                            : MountAttempt{MountAttempt::Unavailable, {}, QStringLiteral("udisks2 is not running")};
    if (attempt.outcome == MountAttempt::Mounted)
        return attempt.mountPoint;
    const QString why = attempt.outcome == MountAttempt::Unavailable
        ? attempt.reason + QStringLiteral(", and a disc image is attached as a loop device through udisks2")
        : attempt.reason;
    throw RuntimeError(Err::DiskNotReady, QStringLiteral("Disk not ready: %1 could not be attached: %2").arg(what, why));
}

void LinuxOpticalDevices::releaseImage()
{
    if (m_imageLock >= 0)
        ::close(m_imageLock);
    m_imageLock = -1;
}

} // namespace tarvic
