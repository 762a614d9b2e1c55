// A stand-in for udisks2 on a private bus: the few calls the program makes, with
// answers set from the command line, and every call written to a log.
//
//   fake_udisks ADDRESS LOG [--device PATH=OBJECT] [--mounted OBJECT=POINT]
//               [--mount-to OBJECT=POINT] [--mount-error NAME=MESSAGE] [--delay MS]
//               [--no-filesystem]
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QFile>
#include <QMap>
#include <QTimer>
#include <cstdio>

namespace {

struct Script
{
    QMap<QString, QString> devices;                // device path -> object path
    QMap<QString, QList<QByteArray>> mountPoints;  // object path -> mount points
    QMap<QString, QByteArray> mountTo;
    QString errorName, errorMessage;
    int delayMs = 0;
    bool filesystem = true;
};

class FakeUdisks final : public QDBusVirtualObject
{
public:
    FakeUdisks(Script script, const QString &logPath) : m_script(std::move(script)), m_log(logPath)
    {
        if (!m_log.open(QIODevice::WriteOnly | QIODevice::Append))
            qFatal("cannot write the log");
    }

    QString introspect(const QString &) const override { return {}; }

    bool handleMessage(const QDBusMessage &m, const QDBusConnection &connection) override
    {
        m_log.write((m.member() + QLatin1Char(' ') + m.path() + QLatin1Char(' ') + m.signature() + QLatin1Char('\n')).toUtf8());
        m_log.flush();
        const QDBusMessage reply = answer(m);
        if (m_script.delayMs > 0) {
            QDBusConnection bus(connection);
            QTimer::singleShot(m_script.delayMs, [bus, reply]() mutable { bus.send(reply); });
        } else {
            QDBusConnection(connection).send(reply);
        }
        return true;
    }

private:
    QDBusMessage answer(const QDBusMessage &m)
    {
        const QString iface = m.interface();
        const QString member = m.member();
        if (iface == QLatin1String("org.freedesktop.UDisks2.Manager") && member == QLatin1String("ResolveDevice")) {
            if (m.path() != QLatin1String("/org/freedesktop/UDisks2/Manager") || m.signature() != QLatin1String("a{sv}a{sv}"))
                return m.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"), QStringLiteral("bad call"));
            const QVariantMap match = qdbus_cast<QVariantMap>(m.arguments().at(0));
            QList<QDBusObjectPath> found;
            const QString path = match.value(QStringLiteral("path")).toString();
            if (m_script.devices.contains(path))
                found << QDBusObjectPath(m_script.devices.value(path));
            return m.createReply(QVariant::fromValue(found));
        }
        if (iface == QLatin1String("org.freedesktop.DBus.Properties") && member == QLatin1String("Get")) {
            const QStringList args{m.arguments().value(0).toString(), m.arguments().value(1).toString()};
            if (!m_script.filesystem || args[0] != QLatin1String("org.freedesktop.UDisks2.Filesystem")
                || args[1] != QLatin1String("MountPoints"))
                return m.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"),
                                          QStringLiteral("No such interface \"%1\"").arg(args[0]));
            QList<QByteArray> points;
            for (const QByteArray &p : m_script.mountPoints.value(m.path()))
                points << p + '\0';
            return m.createReply(QVariant::fromValue(QDBusVariant(QVariant::fromValue(points))));
        }
        if (iface == QLatin1String("org.freedesktop.UDisks2.Filesystem") && member == QLatin1String("Mount")) {
            if (m.signature() != QLatin1String("a{sv}"))
                return m.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"), QStringLiteral("bad call"));
            const QVariantMap options = qdbus_cast<QVariantMap>(m.arguments().at(0));
            m_log.write("options " + options.keys().join(QLatin1Char(',')).toUtf8() + ' '
                        + options.value(QStringLiteral("auth.no_user_interaction")).toString().toUtf8() + '\n');
            m_log.flush();
            if (!m_script.errorName.isEmpty())
                return m.createErrorReply(m_script.errorName, m_script.errorMessage);
            const QByteArray point = m_script.mountTo.value(m.path());
            if (!m_script.mountPoints.value(m.path()).isEmpty())
                return m.createErrorReply(QStringLiteral("org.freedesktop.UDisks2.Error.AlreadyMounted"),
                                          QStringLiteral("Device is already mounted"));
            m_script.mountPoints[m.path()] << point;
            return m.createReply(QString::fromUtf8(point));
        }
        return m.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"),
                                  QStringLiteral("No such method %1.%2").arg(iface, member));
    }

    Script m_script;
    QFile m_log;
};

std::pair<QString, QString> split(const QString &value)
{
    const qsizetype eq = value.indexOf(QLatin1Char('='));
    if (eq < 0)
        qFatal("expected NAME=VALUE, got %s", qPrintable(value));
    return {value.left(eq), value.mid(eq + 1)};
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    qDBusRegisterMetaType<QList<QByteArray>>();
    const QStringList args = app.arguments();
    if (args.size() < 3)
        qFatal("usage: fake_udisks ADDRESS LOG [options]");
    Script script;
    for (int i = 3; i < args.size(); ++i) {
        const QString &a = args[i];
        const QString value = args.value(i + 1);
        if (a == QLatin1String("--no-filesystem")) {
            script.filesystem = false;
            continue;
        }
        ++i;
        if (a == QLatin1String("--device")) {
            const auto [k, v] = split(value);
            script.devices[k] = v;
        } else if (a == QLatin1String("--mounted")) {
            const auto [k, v] = split(value);
            script.mountPoints[k] << v.toUtf8();
        } else if (a == QLatin1String("--mount-to")) {
            const auto [k, v] = split(value);
            script.mountTo[k] = v.toUtf8();
        } else if (a == QLatin1String("--mount-error")) {
            const auto [k, v] = split(value);
            script.errorName = k;
            script.errorMessage = v;
        } else if (a == QLatin1String("--delay")) {
            script.delayMs = value.toInt();
        } else {
            qFatal("unknown option %s", qPrintable(a));
        }
    }

    QDBusConnection bus = QDBusConnection::connectToBus(args[1], QStringLiteral("fake"));
    if (!bus.isConnected())
        qFatal("cannot reach the bus: %s", qPrintable(bus.lastError().message()));
    FakeUdisks object(script, args[2]);
    if (!bus.registerVirtualObject(QStringLiteral("/org/freedesktop/UDisks2"), &object, QDBusConnection::SubPath))
        qFatal("cannot register the object");
    if (!bus.registerService(QStringLiteral("org.freedesktop.UDisks2")))
        qFatal("cannot own the name");
    std::puts("ready");
    std::fflush(stdout);
    return app.exec();
}
