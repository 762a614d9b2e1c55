#pragma once

#include <QByteArray>
#include <chrono>
#include <sys/types.h>

namespace tarvic {

// The first and last track numbers of a disc's table of contents.
struct TocHeader
{
    int first = 0;
    int last = 0;
};

// What a path of an "e::" entry leads to, links followed.
struct NodeInfo
{
    enum Type { Missing, BlockDevice, CharacterDevice, RegularFile, Folder, Other };
    Type type = Missing;
    int error = 0;       // errno, when Missing
    dev_t rdev = 0;      // of a device node
    dev_t dev = 0;       // of a regular file: its file system and inode
    ino_t inode = 0;
    gid_t group = 0;
};

// The kernel's side of a drive: a block device or a disc image, one open at a time,
// queried with the cdrom and block ioctls. Tests script one in its place.
class DeviceNode
{
public:
    virtual ~DeviceNode() = default;

    // stat(2) of the path; never opens anything.
    virtual NodeInfo inspect(const QByteArray &path) = 0;
    // 0, or the errno of the failed open. Never waits for a disc, never closes the tray.
    virtual int open(const QByteArray &path) = 0;
    virtual void close() = 0;
    // Whether the open device is an optical drive (it answers CDROM_GET_CAPABILITY).
    virtual bool isOptical() = 0;
    // A CDS_* value of CDROM_DRIVE_STATUS, or -errno.
    virtual int driveStatus() = 0;
    // 0 or an errno value.
    virtual int tocHeader(TocHeader *header) = 0;
    // The control bits (cdte_ctrl) of a track's entry; 0 or an errno value.
    virtual int tocEntry(int track, unsigned *control) = 0;
    // The size of the medium (a block device's) or of the file; 0 or an errno value.
    virtual int size(quint64 *bytes) = 0;
    // Up to `length` bytes from `offset`, fewer at the end; 0 or an errno value.
    virtual int read(qint64 offset, qsizetype length, QByteArray *into) = 0;
    virtual void sleep(std::chrono::milliseconds duration) = 0;
    virtual std::chrono::steady_clock::time_point now() = 0;
};

// stat(2) of a path, links followed, as NodeInfo.
NodeInfo inspectNode(const QByteArray &path);

// The real kernel's side: the node or image opened read-only and asked through ioctls.
class LinuxDeviceNode final : public DeviceNode
{
public:
    LinuxDeviceNode() = default;
    LinuxDeviceNode(const LinuxDeviceNode &) = delete;
    LinuxDeviceNode &operator=(const LinuxDeviceNode &) = delete;
    ~LinuxDeviceNode() override { close(); }

    NodeInfo inspect(const QByteArray &path) override { return inspectNode(path); }
    int open(const QByteArray &path) override;
    void close() override;
    bool isOptical() override;
    int driveStatus() override;
    int tocHeader(TocHeader *header) override;
    int tocEntry(int track, unsigned *control) override;
    int size(quint64 *bytes) override;
    int read(qint64 offset, qsizetype length, QByteArray *into) override;
    void sleep(std::chrono::milliseconds duration) override;
    std::chrono::steady_clock::time_point now() override { return std::chrono::steady_clock::now(); }

private:
    int m_fd = -1;
};

} // namespace tarvic
