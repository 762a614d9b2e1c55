#pragma once

#include <QFile>
#include <QProcess>
#include <QStringList>

namespace tarvic::test {

constexpr int ServiceDeadline = 10000;   // ms

// A dbus-daemon of our own on a socket of our choosing, so that it can be stopped
// and started again at the same address; stopped by its process id.
struct PrivateBus
{
    QString address;
    bool start(const QString &socket)
    {
        address = QStringLiteral("unix:path=") + socket;
        m_daemon.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                                       QStringLiteral("--print-address"), QStringLiteral("--address=") + address});
        return m_daemon.waitForReadyRead(ServiceDeadline);
    }
    void stop()
    {
        m_daemon.kill();
        m_daemon.waitForFinished();
        if (!address.isEmpty())
            QFile::remove(address.mid(10));
    }
    ~PrivateBus() { stop(); }

private:
    QProcess m_daemon;
};

// The fake udisks2 (fake_udisks.cpp beside this file) on a bus, fed its objects and
// signals line by line; mode: how it answers Mount.
struct FakeUdisks
{
    bool start(const QString &address, const QStringList &commands = {}, const QString &mode = {})
    {
        m_service.start(QStringLiteral(FAKE_UDISKS), mode.isEmpty() ? QStringList{address} : QStringList{address, mode});
        if (!m_service.waitForReadyRead(ServiceDeadline) || m_service.readLine() != "ready\n")
            return false;
        for (const QString &c : commands + QStringList{QStringLiteral("serve")})
            if (!send(c))
                return false;
        return true;
    }
    bool send(const QString &command)
    {
        m_service.write(command.toUtf8() + '\n');
        return m_service.waitForReadyRead(ServiceDeadline) && m_service.readLine() == "ok\n";
    }
    void stop()
    {
        m_service.kill();
        m_service.waitForFinished();
    }
    // What it was asked, one word a call, once it has stopped; nothing if it never started.
    QString asked()
    {
        return m_service.program().isEmpty() ? QString() : QString::fromUtf8(m_service.readAllStandardError()).simplified();
    }
    ~FakeUdisks() { stop(); }

private:
    QProcess m_service;
};

} // namespace tarvic::test
