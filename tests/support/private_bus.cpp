#include "support/private_bus.h"

#include <QFile>

namespace tarvic::test {

constexpr int Deadline = 10000;   // ms

bool PrivateBus::start(const QString &socket)
{
    address = QStringLiteral("unix:path=") + socket;
    m_daemon.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                                   QStringLiteral("--print-address"), QStringLiteral("--address=") + address});
    return m_daemon.waitForReadyRead(Deadline);
}

void PrivateBus::stop()
{
    m_daemon.kill();
    m_daemon.waitForFinished();
    if (!address.isEmpty())
        QFile::remove(address.mid(10));
}

bool FakeUdisks::start(const QString &address, const QStringList &commands, const QString &mode)
{
    m_service.start(QStringLiteral(FAKE_UDISKS), mode.isEmpty() ? QStringList{address} : QStringList{address, mode});
    if (!m_service.waitForReadyRead(Deadline) || m_service.readLine() != "ready\n")
        return false;
    for (const QString &c : commands + QStringList{QStringLiteral("serve")})
        if (!send(c))
            return false;
    return true;
}

bool FakeUdisks::send(const QString &command)
{
    m_service.write(command.toUtf8() + '\n');
    return m_service.waitForReadyRead(Deadline) && m_service.readLine() == "ok\n";
}

void FakeUdisks::stop()
{
    m_service.kill();
    m_service.waitForFinished();
}

} // namespace tarvic::test
