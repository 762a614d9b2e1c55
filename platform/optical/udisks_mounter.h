#pragma once

#include "platform/optical/disc_mounter.h"

#include <QDBusConnection>
#include <chrono>
#include <functional>
#include <optional>

namespace tarvic {

// Mounts through udisks2, as a desktop's file manager would: the disc lands under
// /media/<user>/<label> and the user may read it without being root.
class UdisksMounter final : public DiscMounter
{
public:
    // Every call is bounded, so a stuck service cannot hang the program; mounting
    // may take a while on a slow drive, hence its own limit.
    explicit UdisksMounter(QDBusConnection bus, std::chrono::milliseconds callTimeout = std::chrono::seconds(5),
                           std::chrono::milliseconds mountTimeout = std::chrono::seconds(25));
    // Connects only when a disc is first to be mounted: most runs never need the bus.
    explicit UdisksMounter(std::function<QDBusConnection()> connect);

    // Already mounted: its first mount point, without mounting it again.
    MountAttempt mount(const QByteArray &device) override;

private:
    QDBusConnection &bus();

    std::function<QDBusConnection()> m_connect;
    std::optional<QDBusConnection> m_bus;
    int m_callTimeout;
    int m_mountTimeout;
};

// Attaches disc images through udisks2 (Manager.LoopSetup, given an open descriptor,
// so a desktop user needs no root) and mounts them as UdisksMounter mounts a disc.
class UdisksImageAttacher final : public ImageAttacher
{
public:
    explicit UdisksImageAttacher(QDBusConnection bus, std::chrono::milliseconds callTimeout = std::chrono::seconds(5),
                                 std::chrono::milliseconds mountTimeout = std::chrono::seconds(25));
    explicit UdisksImageAttacher(std::function<QDBusConnection()> connect);

    MountAttempt attach(const QByteArray &image) override;

private:
    QDBusConnection &bus();

    std::function<QDBusConnection()> m_connect;
    std::optional<QDBusConnection> m_bus;
    int m_callTimeout;
    int m_mountTimeout;
};

} // namespace tarvic
