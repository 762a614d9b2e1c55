#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

namespace tarvic::test {

// A dbus-daemon of our own on a socket of our choosing, so that it can be stopped
// and started again at the same address; stopped by its process id.
struct PrivateBus
{
    QString address;
    bool start(const QString &socket);
    void stop();
    ~PrivateBus() { stop(); }

private:
    QProcess m_daemon;
};

// The fake udisks2 (fake_udisks.cpp beside this file) on a bus, fed its objects and
// signals line by line; mode: how it answers Mount.
struct FakeUdisks
{
    bool start(const QString &address, const QStringList &commands = {}, const QString &mode = {});
    bool send(const QString &command);
    void stop();
    // What it was asked, one word a call, once it has stopped.
    QString asked() { return QString::fromUtf8(m_service.readAllStandardError()).simplified(); }
    ~FakeUdisks() { stop(); }

private:
    QProcess m_service;
};

} // namespace tarvic::test
