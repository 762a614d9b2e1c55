#pragma once

#include "platform/devices/disc_mounter.h"

#include <QDBusConnection>
#include <chrono>
#include <functional>
#include <optional>

namespace tarvic {

// Mounts through udisks2, as a desktop's file manager would: the disc lands under
// /media/<user>/<label> and the user may read it without being root.
// The system bus as the two udisks2 users below reach it. Every call is bounded, so
// a stuck service cannot hang the program; mounting may take a while on a slow
// drive, hence its own limit.
class UdisksBus
{
public:
    static constexpr std::chrono::milliseconds CallTimeout{5000};
    static constexpr std::chrono::milliseconds MountTimeout{25000};

protected:
    UdisksBus(QDBusConnection bus, std::chrono::milliseconds callTimeout, std::chrono::milliseconds mountTimeout);
    // Connects only when first needed: most runs never need the bus.
    explicit UdisksBus(std::function<QDBusConnection()> connect);
    QDBusConnection &bus();

    int m_callTimeout;
    int m_mountTimeout;

private:
    std::function<QDBusConnection()> m_connect;
    std::optional<QDBusConnection> m_bus;
};

// Mounts a disc's file system through udisks2 (Filesystem.Mount), as a file manager does.
class UdisksMounter final : public DiscMounter, private UdisksBus
{
public:
    explicit UdisksMounter(QDBusConnection bus, std::chrono::milliseconds callTimeout = CallTimeout,
                           std::chrono::milliseconds mountTimeout = MountTimeout)
        : UdisksBus(std::move(bus), callTimeout, mountTimeout)
    {
    }
    explicit UdisksMounter(std::function<QDBusConnection()> connect) : UdisksBus(std::move(connect)) {}

    // Already mounted: its first mount point, without mounting it again.
    MountAttempt mount(const QByteArray &device) override;
};

// Attaches disc images through udisks2 (Manager.LoopSetup, given an open descriptor,
// so a desktop user needs no root) and mounts them as UdisksMounter mounts a disc.
class UdisksImageAttacher final : public ImageAttacher, private UdisksBus
{
public:
    explicit UdisksImageAttacher(QDBusConnection bus, std::chrono::milliseconds callTimeout = CallTimeout,
                                 std::chrono::milliseconds mountTimeout = MountTimeout)
        : UdisksBus(std::move(bus), callTimeout, mountTimeout)
    {
    }
    explicit UdisksImageAttacher(std::function<QDBusConnection()> connect) : UdisksBus(std::move(connect)) {}

    MountAttempt attach(const QByteArray &image) override;
};

} // namespace tarvic
