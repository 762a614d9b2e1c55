#include "platform/optical/cdrom_device.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <linux/cdrom.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace tarvic {

std::optional<dev_t> deviceNodeNumber(const QByteArray &path)
{
    struct stat st {};
    if (path.isEmpty() || ::stat(path.constData(), &st) != 0)
        return std::nullopt;
    if (!S_ISBLK(st.st_mode) && !S_ISCHR(st.st_mode))
        return std::nullopt;
    return st.st_rdev;
}

int LinuxCdromDevice::open(const QByteArray &path)
{
    close();
    // O_NONBLOCK: the sr driver then neither waits for a disc nor closes the tray.
    do
        m_fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    while (m_fd < 0 && errno == EINTR);
    return m_fd < 0 ? errno : 0;
}

void LinuxCdromDevice::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

int LinuxCdromDevice::driveStatus()
{
    const int result = ::ioctl(m_fd, CDROM_DRIVE_STATUS, CDSL_CURRENT);
    return result < 0 ? -errno : result;
}

int LinuxCdromDevice::tocHeader(TocHeader *header)
{
    cdrom_tochdr hdr {};
    if (::ioctl(m_fd, CDROMREADTOCHDR, &hdr) < 0)
        return errno;
    header->first = hdr.cdth_trk0;
    header->last = hdr.cdth_trk1;
    return 0;
}

int LinuxCdromDevice::tocEntry(int track, unsigned *control)
{
    cdrom_tocentry entry {};
    entry.cdte_track = static_cast<__u8>(track);
    entry.cdte_format = CDROM_LBA;
    if (::ioctl(m_fd, CDROMREADTOCENTRY, &entry) < 0)
        return errno;
    *control = entry.cdte_ctrl;
    return 0;
}

void LinuxCdromDevice::sleep(std::chrono::milliseconds duration)
{
    std::this_thread::sleep_for(duration);
}

} // namespace tarvic
