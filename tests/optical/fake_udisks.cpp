// A stand-in for udisks2 on a private bus, just enough for the client's three calls.
//   fake_udisks ADDRESS MODE
// mount: the drive, /dev/null to the test, is mounted at "/media/anna/MY DISC" when asked
// without interaction; mounted: it is already at /media/anna/CD; refuse: mounting fails;
// slow: the first answer comes 10 s late (before D-Bus's own limit of 25 s), then as mount.
#include <QtDBus>
#include <unistd.h>

using namespace Qt::StringLiterals;

struct FakeUdisks final : QDBusVirtualObject
{
    QString mode = QCoreApplication::arguments().value(2), object = u"/org/freedesktop/UDisks2/block_devices/cdrom"_s;
    QString introspect(const QString &) const override { return {}; }
    bool handleMessage(const QDBusMessage &m, const QDBusConnection &bus) override
    {
        if (mode == u"slow")
            ::sleep(10), mode = u"mount"_s;
        return QDBusConnection(bus).send(answer(m, m.arguments()));
    }
    // Anything else, a call of the wrong shape included, is refused.
    QDBusMessage answer(const QDBusMessage &m, const QVariantList &args) const
    {
        if (m.member() == u"ResolveDevice" && m.signature() == u"a{sv}a{sv}"
            && qdbus_cast<QVariantMap>(args[0]).value(u"path"_s) == u"/dev/null"_s)
            return m.createReply(QVariant::fromValue(QList<QDBusObjectPath>{QDBusObjectPath(object)}));
        // MountPoints is "aay", each path with its NUL.
        const auto points = mode == u"mounted" ? QList{QByteArray("/media/anna/CD", 15)} : QList<QByteArray>();
        if (m.path() == object && m.member() == u"Get"
            && args == QVariantList{u"org.freedesktop.UDisks2.Filesystem"_s, u"MountPoints"_s})
            return m.createReply(QVariant::fromValue(QDBusVariant(QVariant::fromValue(points))));
        if (m.path() == object && m.member() == u"Mount" && mode == u"mount"
            && qdbus_cast<QVariantMap>(args.value(0)).value(u"auth.no_user_interaction"_s) == true)
            return m.createReply(u"/media/anna/MY DISC"_s);
        return m.createErrorReply(u"org.freedesktop.UDisks2.Error.NotAuthorized"_s, u"Not authorized to perform operation"_s);
    }
};

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    qDBusRegisterMetaType<QList<QByteArray>>();
    FakeUdisks fake;
    QDBusConnection bus = QDBusConnection::connectToBus(app.arguments().value(1), u"fake"_s);
    if (!bus.registerVirtualObject(u"/org/freedesktop/UDisks2"_s, &fake, QDBusConnection::SubPath)
        || !bus.registerService(u"org.freedesktop.UDisks2"_s) || ::write(1, "ready\n", 6) != 6)
        return 1;
    return app.exec();
}
