#pragma once

#include "platform/runtime_error.h"

#include <QByteArray>
#include <QList>
#include <optional>
#include <sys/stat.h>

namespace tarvic {

// This run has nothing to do on its drive after all and ends without a box: another
// tarvic has just attached and mounted the same disc image and handles it, or the
// medium that tarvic-watch handed over is gone already.
class NothingToDo : public RuntimeError
{
public:
    using RuntimeError::RuntimeError;
};

// What the drive services need to know of the device behind an "e::" entry: an
// optical drive, any other block device (a USB stick, its partition, a loop device),
// or a disc image. The real one speaks to the kernel and to udisks2; tests script one.
class OpticalDevices
{
public:
    virtual ~OpticalDevices() = default;

    enum class Asking {
        Afresh,   // ask the device now
        Recent,   // what the last question learnt a moment ago will do; asks afresh without it
    };

    // 0 the device node is gone, 1 no disc (or an open tray, no medium), 2 a disc is
    // in. Throws RuntimeError for what cannot be a drive, naming what it is and why.
    virtual int status(const QByteArray &device, Asking asking) = 0;

    // The numbers of the audio tracks of the disc's table of contents, as the
    // latest status question found them; empty for a data disc or no disc.
    virtual QList<int> audioTracks(const QByteArray &device) = 0;

    // Where the device's file system is mounted. With mountIfNeeded a disc that is
    // in but not mounted is mounted for the user first (an image attached first);
    // nullopt when it has no file system (an audio CD). Throws RuntimeError when
    // mounting fails.
    virtual std::optional<QByteArray> mountPoint(const QByteArray &device, bool mountIfNeeded) = 0;

    // The number of the block device that holds the device's medium: a block device's
    // own, or the loop device's of an image attached now. Attaches nothing.
    virtual std::optional<dev_t> blockNumber(const QByteArray &device)
    {
        struct stat st {};
        if (::stat(device.constData(), &st) != 0 || !S_ISBLK(st.st_mode))
            return std::nullopt;
        return st.st_rdev;
    }

    // The block device whose whole file system a folder shows, from the mount table.
    virtual std::optional<dev_t> mountedOn(const QByteArray &folder)
    {
        Q_UNUSED(folder);
        return std::nullopt;
    }
};

// Stands in where no device layer is wired: every device drive reports no disc.
class NoOpticalDevices final : public OpticalDevices
{
public:
    int status(const QByteArray &, Asking) override { return 1; }
    QList<int> audioTracks(const QByteArray &) override { return {}; }
    std::optional<QByteArray> mountPoint(const QByteArray &, bool) override { return std::nullopt; }
};

} // namespace tarvic
