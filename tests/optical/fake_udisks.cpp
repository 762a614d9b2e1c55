// A stand-in for udisks2 on a private bus, just enough for the client's three calls.
//   fake_udisks ADDRESS MODE DRIVE
// mount: the drive is mounted at "/media/anna/MY DISC" when asked
// without interaction; mounted: it is already at /media/anna/CD; refuse: mounting fails;
// slow: the first answer comes 10 s late (before D-Bus's own limit of 25 s), then as mount;
// vanishing: the first Mount finds the file system gone (udisks2 between two udev
// events of one device), then as mount.
// A disc image handed to LoopSetup becomes the loop device's; what was asked of it
// goes to stderr ("LoopSetup ro <the image's first bytes>", "Mount", ...).
#include <QtDBus>
#include <cstdio>
#include <unistd.h>

using namespace Qt::StringLiterals;

struct FakeUdisks final : QDBusVirtualObject
{
    QString mode = QCoreApplication::arguments().value(2), object = u"/org/freedesktop/UDisks2/block_devices/cdrom"_s;
    QString loop = u"/org/freedesktop/UDisks2/block_devices/loop7"_s;
    QString introspect(const QString &) const override { return {}; }
    bool handleMessage(const QDBusMessage &m, const QDBusConnection &bus) override
    {
        if (mode == u"slow")
            ::sleep(10), mode = u"mount"_s;
        if (mode == u"vanishing" && m.member() == u"Mount") {
            mode = u"mount"_s;
            return QDBusConnection(bus).send(m.createErrorReply(u"org.freedesktop.DBus.Error.UnknownMethod"_s,
                                                                u"No such interface “org.freedesktop.UDisks2.Filesystem”"_s));
        }
        if (m.path() == loop || m.member() == u"LoopSetup")
            return QDBusConnection(bus).send(loopAnswer(m, m.arguments()));
        return QDBusConnection(bus).send(answer(m, m.arguments()));
    }
    static void note(const QString &what) { std::fprintf(stderr, "%s\n", qPrintable(what)), std::fflush(stderr); }
    QDBusMessage loopAnswer(const QDBusMessage &m, const QVariantList &args) const
    {
        const QVariantMap options = qdbus_cast<QVariantMap>(args.value(args.size() - 1));
        if (m.member() == u"LoopSetup" && m.signature() == u"ha{sv}" && options.value(u"read-only"_s) == true) {
            QFile image;
            image.open(qdbus_cast<QDBusUnixFileDescriptor>(args[0]).fileDescriptor(), QIODevice::ReadOnly);
            note(u"LoopSetup ro "_s + QString::fromUtf8(image.read(64)));
            return m.createReply(QVariant::fromValue(QDBusObjectPath(loop)));
        }
        if (m.member() == u"Get")
            return m.createReply(QVariant::fromValue(QDBusVariant(QVariant::fromValue(QList<QByteArray>()))));
        if (m.member() != u"Mount" || mode == u"mount")
            note(m.member());
        if (m.member() == u"Mount" && mode == u"mount")
            return m.createReply(u"/media/anna/MY DISC"_s);
        if ((m.member() == u"SetAutoclear" && args.value(0) == true) || m.member() == u"Delete")
            return m.createReply();
        return m.createErrorReply(u"org.freedesktop.UDisks2.Error.NotAuthorized"_s, u"Not authorized to perform operation"_s);
    }
    // Anything else, a call of the wrong shape included, is refused.
    QDBusMessage answer(const QDBusMessage &m, const QVariantList &args) const
    {
        if (m.member() == u"ResolveDevice" && m.signature() == u"a{sv}a{sv}"
            && qdbus_cast<QVariantMap>(args[0]).value(u"path"_s) == QCoreApplication::arguments().value(3))
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
