// A stand-in for udisks2 on a private bus, driven line by line from standard input
// so that a test can play out what the real one reports:
//   fake_udisks ADDRESS [MODE]
//   add OBJECT INTERFACE [Name=value...]   InterfacesAdded
//   set OBJECT INTERFACE Name=value...     PropertiesChanged
//   serve                                  takes the name org.freedesktop.UDisks2
// OBJECT is below /org/freedesktop/UDisks2 ("drives/cd", "block_devices/sr0"); a value
// takes the D-Bus type that udisks2 gives that property (a list is written with commas).
// Says "ready" once on the bus and "ok" to each line; what comes before "serve" is what
// udisks2 finds at its start: no one hears its signals. MODE is how Filesystem.Mount
// answers: mount (at "/media/anna/MY DISC", asked without interaction), slow (the first
// answer of all comes 10 s late, then as mount), vanishing (the first Mount finds the
// file system gone, as udisks2 between two udev events); any other word refuses.
// LoopSetup makes block_devices/loop7. Every call but GetManagedObjects goes to stderr
// ("LoopSetup ro <the image's first bytes>", "Mount", ...).
#include <QtDBus>
#include <QSocketNotifier>
#include <cstdio>
#include <unistd.h>

using namespace Qt::StringLiterals;
using Interfaces = QMap<QString, QVariantMap>;
using Objects = QMap<QDBusObjectPath, Interfaces>;
Q_DECLARE_METATYPE(Interfaces)
Q_DECLARE_METATYPE(Objects)

namespace {

const QString root = u"/org/freedesktop/UDisks2"_s, prefix = u"org.freedesktop.UDisks2."_s;

QByteArray withNul(const QString &s)
{
    return s.toUtf8() + '\0';
}

// As udisks2 types the property of that name; byte strings end in a NUL.
QVariant typed(const QString &name, const QString &value)
{
    if (name.startsWith(u"Media") || name == u"Optical" || name == u"OpticalBlank")
        return value == u"true";
    if (name.startsWith(u"OpticalNum"))
        return value.toUInt();
    if (name == u"Size" || name == u"DeviceNumber")
        return value.toULongLong();
    if (name == u"Device" || name == u"BackingFile")
        return withNul(value);
    if (name == u"Drive")
        return QVariant::fromValue(QDBusObjectPath(value.startsWith(u'/') ? value : root + u'/' + value));
    if (name != u"Symlinks" && name != u"MountPoints")
        return value;
    QList<QByteArray> list;
    for (const QString &s : value.split(u',', Qt::SkipEmptyParts))
        list << withNul(s);
    return QVariant::fromValue(list);
}

struct Fake final : QDBusVirtualObject
{
    QDBusConnection bus{QString()};
    Objects objects;
    QString mode = QCoreApplication::arguments().value(2, u"mount"_s);

    QString introspect(const QString &) const override { return {}; }
    bool handleMessage(const QDBusMessage &m, const QDBusConnection &) override
    {
        if (m.path() == root && m.member() == u"GetManagedObjects")
            return bus.send(m.createReply(QVariant::fromValue(objects)));
        std::fprintf(stderr, "%s\n", qPrintable(m.member()));
        std::fflush(stderr);
        if (mode == u"slow")
            ::sleep(10), mode = u"mount"_s;
        return bus.send(answer(m, m.arguments()));
    }

    // Anything unknown, a call of the wrong shape included, is refused.
    QDBusMessage answer(const QDBusMessage &m, const QVariantList &args)
    {
        const QDBusObjectPath object(m.path());
        const QVariantMap options = qdbus_cast<QVariantMap>(args.value(args.size() - 1));
        if (m.member() == u"ResolveDevice" && m.signature() == u"a{sv}a{sv}") {
            const QByteArray device = withNul(qdbus_cast<QVariantMap>(args[0]).value(u"path"_s).toString());
            QList<QDBusObjectPath> found;
            for (auto it = objects.cbegin(); it != objects.cend(); ++it)
                if (it->value(prefix + u"Block"_s).value(u"Device"_s) == device)
                    found << it.key();
            return m.createReply(QVariant::fromValue(found));
        }
        if (m.member() == u"Get" && m.signature() == u"ss") {
            const QVariantMap properties = objects.value(object).value(args[0].toString());
            if (!properties.contains(args[1].toString()))
                return m.createErrorReply(u"org.freedesktop.DBus.Error.InvalidArgs"_s, u"No such interface"_s);
            return m.createReply(QVariant::fromValue(QDBusVariant(properties.value(args[1].toString()))));
        }
        if (m.member() == u"Mount" && objects.value(object).contains(prefix + u"Filesystem"_s)) {
            if (mode == u"vanishing") {
                mode = u"mount"_s;
                return m.createErrorReply(u"org.freedesktop.DBus.Error.UnknownMethod"_s,
                                          u"No such interface “org.freedesktop.UDisks2.Filesystem”"_s);
            }
            if (mode == u"mount" && options.value(u"auth.no_user_interaction"_s) == true) {
                command({u"set"_s, object.path().mid(root.size() + 1), u"Filesystem"_s, u"MountPoints=/media/anna/MY DISC"_s});
                return m.createReply(u"/media/anna/MY DISC"_s);
            }
        }
        if (m.member() == u"LoopSetup" && m.signature() == u"ha{sv}" && options.value(u"read-only"_s) == true) {
            QFile image;
            image.open(qdbus_cast<QDBusUnixFileDescriptor>(args[0]).fileDescriptor(), QIODevice::ReadOnly);
            std::fprintf(stderr, "ro %s\n", image.read(64).constData());
            command({u"add"_s, u"block_devices/loop7"_s, u"Block"_s, u"Device=/dev/loop7"_s});
            command({u"add"_s, u"block_devices/loop7"_s, u"Filesystem"_s, u"MountPoints="_s});
            return m.createReply(QVariant::fromValue(QDBusObjectPath(root + u"/block_devices/loop7"_s)));
        }
        if ((m.member() == u"SetAutoclear" && args.value(0) == true) || m.member() == u"Delete")
            return m.createReply();
        return m.createErrorReply(u"org.freedesktop.UDisks2.Error.NotAuthorized"_s, u"Not authorized to perform operation"_s);
    }

    bool command(const QStringList &words)
    {
        if (words == QStringList{u"serve"_s})
            return bus.registerService(u"org.freedesktop.UDisks2"_s);
        if (words.size() < 3)
            return false;
        const QDBusObjectPath object(root + u'/' + words[1]);
        const QString interface = prefix + words[2];
        QVariantMap properties;
        for (const QString &w : words.mid(3)) {
            const qsizetype eq = w.indexOf(u'=');
            if (eq < 1)
                return false;
            properties.insert(w.left(eq), typed(w.left(eq), w.mid(eq + 1)));
        }
        if (words[0] == u"add") {
            objects[object][interface] = properties;
            auto signal = QDBusMessage::createSignal(root, u"org.freedesktop.DBus.ObjectManager"_s, u"InterfacesAdded"_s);
            return bus.send(signal << QVariant::fromValue(object) << QVariant::fromValue(Interfaces{{interface, properties}}));
        }
        if (words[0] == u"set" && objects.value(object).contains(interface)) {
            objects[object][interface].insert(properties);
            auto signal = QDBusMessage::createSignal(object.path(), u"org.freedesktop.DBus.Properties"_s, u"PropertiesChanged"_s);
            return bus.send(signal << interface << properties << QStringList());
        }
        return false;
    }
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    qDBusRegisterMetaType<QList<QByteArray>>();
    qDBusRegisterMetaType<Interfaces>();
    qDBusRegisterMetaType<Objects>();
    Fake fake;
    fake.bus = QDBusConnection::connectToBus(app.arguments().value(1), u"fake"_s);
    if (!fake.bus.registerVirtualObject(root, &fake, QDBusConnection::SubPath))
        return 1;
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::puts("ready");
    QFile in;
    in.open(0, QIODevice::ReadOnly | QIODevice::Unbuffered);   // a line at a time
    QSocketNotifier lines(0, QSocketNotifier::Read);
    QObject::connect(&lines, &QSocketNotifier::activated, [&] {
        const QByteArray line = in.readLine();
        if (line.isEmpty())
            QCoreApplication::quit();   // the test closed our input
        else
            std::puts(fake.command(QString::fromUtf8(line).simplified().split(u' ')) ? "ok" : "refused");
    });
    return app.exec();
}
