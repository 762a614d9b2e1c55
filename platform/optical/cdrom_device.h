#pragma once

#include <QByteArray>
#include <chrono>
#include <optional>
#include <sys/types.h>

namespace tarvic {

struct TocHeader
{
    int first = 0;
    int last = 0;
};

// The kernel's side of a CD-ROM drive: one device node open at a time, queried with
// the cdrom ioctls. Tests script a drive in its place.
class CdromDevice
{
public:
    virtual ~CdromDevice() = default;

    // 0, or the errno of the failed open. Never waits for a disc, never closes the tray.
    virtual int open(const QByteArray &path) = 0;
    virtual void close() = 0;
    // A CDS_* value of CDROM_DRIVE_STATUS, or -errno.
    virtual int driveStatus() = 0;
    // 0 or an errno value.
    virtual int tocHeader(TocHeader *header) = 0;
    // The control bits (cdte_ctrl) of a track's entry; 0 or an errno value.
    virtual int tocEntry(int track, unsigned *control) = 0;
    // The device number of the node a path leads to, links followed.
    virtual std::optional<dev_t> deviceNumber(const QByteArray &path) = 0;
    virtual void sleep(std::chrono::milliseconds duration) = 0;
};

// The device number (st_rdev) of a device node, links followed; nullopt for
// anything that is not a device node.
std::optional<dev_t> deviceNodeNumber(const QByteArray &path);

class LinuxCdromDevice final : public CdromDevice
{
public:
    LinuxCdromDevice() = default;
    LinuxCdromDevice(const LinuxCdromDevice &) = delete;
    LinuxCdromDevice &operator=(const LinuxCdromDevice &) = delete;
    ~LinuxCdromDevice() override { close(); }

    int open(const QByteArray &path) override;
    void close() override;
    int driveStatus() override;
    int tocHeader(TocHeader *header) override;
    int tocEntry(int track, unsigned *control) override;
    std::optional<dev_t> deviceNumber(const QByteArray &path) override { return deviceNodeNumber(path); }
    void sleep(std::chrono::milliseconds duration) override;

private:
    int m_fd = -1;
};

} // namespace tarvic
