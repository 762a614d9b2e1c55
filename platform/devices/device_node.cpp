#include "platform/devices/device_node.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <linux/cdrom.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace tarvic {

NodeInfo inspectNode(const QByteArray &path)
{
    NodeInfo info;
    struct stat st {};
    if (path.isEmpty() || ::stat(path.constData(), &st) != 0) {
        info.error = path.isEmpty() ? ENOENT : errno;
        return info;
    }
    info.group = st.st_gid;
    if (S_ISBLK(st.st_mode))
        info.type = NodeInfo::BlockDevice;
    else if (S_ISCHR(st.st_mode))
        info.type = NodeInfo::CharacterDevice;
    else if (S_ISREG(st.st_mode))
        info.type = NodeInfo::RegularFile;
    else if (S_ISDIR(st.st_mode))
        info.type = NodeInfo::Folder;
    else
        info.type = NodeInfo::Other;
    info.rdev = st.st_rdev;
    info.dev = st.st_dev;
    info.inode = st.st_ino;
    return info;
}

int LinuxDeviceNode::open(const QByteArray &path)
{
    close();
    // O_NONBLOCK: the sr driver then neither waits for a disc nor closes the tray.
    do
        m_fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    while (m_fd < 0 && errno == EINTR);
    return m_fd < 0 ? errno : 0;
}

void LinuxDeviceNode::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool LinuxDeviceNode::isOptical()
{
    return ::ioctl(m_fd, CDROM_GET_CAPABILITY, 0) >= 0;
}

int LinuxDeviceNode::driveStatus()
{
    const int result = ::ioctl(m_fd, CDROM_DRIVE_STATUS, CDSL_CURRENT);
    return result < 0 ? -errno : result;
}

int LinuxDeviceNode::tocHeader(TocHeader *header)
{
    cdrom_tochdr hdr {};
    if (::ioctl(m_fd, CDROMREADTOCHDR, &hdr) < 0)
        return errno;
    header->first = hdr.cdth_trk0;
    header->last = hdr.cdth_trk1;
    return 0;
}

int LinuxDeviceNode::tocEntry(int track, unsigned *control)
{
    cdrom_tocentry entry {};
    entry.cdte_track = static_cast<__u8>(track);
    entry.cdte_format = CDROM_LBA;
    if (::ioctl(m_fd, CDROMREADTOCENTRY, &entry) < 0)
        return errno;
    *control = entry.cdte_ctrl;
    return 0;
}

int LinuxDeviceNode::size(quint64 *bytes)
{
    struct stat st {};
    if (::fstat(m_fd, &st) != 0)
        return errno;
    if (!S_ISBLK(st.st_mode)) {
        *bytes = quint64(st.st_size);
        return 0;
    }
    uint64_t blockBytes = 0;
    if (::ioctl(m_fd, BLKGETSIZE64, &blockBytes) < 0)
        return errno;
    *bytes = blockBytes;
    return 0;
}

int LinuxDeviceNode::read(qint64 offset, qsizetype length, QByteArray *into)
{
    into->resize(length);
    qsizetype got = 0;
    while (got < length) {
        const ssize_t n = ::pread(m_fd, into->data() + got, size_t(length - got), offset + got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            into->truncate(got);
            return errno;
        }
        if (n == 0)
            break;
        got += n;
    }
    into->truncate(got);
    return 0;
}

void LinuxDeviceNode::sleep(std::chrono::milliseconds duration)
{
    std::this_thread::sleep_for(duration);
}

} // namespace tarvic
