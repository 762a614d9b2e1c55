#include "platform/devices/udisks_mounter.h"

#include "platform/devices/udisks_names.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <QVariantMap>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace tarvic {

namespace {

MountAttempt failed(const QString &reason)
{
    return {MountAttempt::Failed, {}, QStringLiteral("udisks2: ") + reason};
}

bool serviceMissing(const QDBusMessage &reply)
{
    const QString name = reply.errorName();
    return name == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown")
        || name == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner")
        || name.startsWith(QLatin1String("org.freedesktop.DBus.Error.Spawn."));
}

QString errorText(const QDBusMessage &reply, int timeout)
{
    if (reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.NoReply")
        || reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.Timeout"))
        return QStringLiteral("no answer within %1 ms").arg(timeout);
    const QString message = reply.errorMessage().left(500);
    return message.isEmpty() ? reply.errorName() : message;
}

// MountPoints is "aay": each entry a path with its terminating NUL.
std::optional<QList<QByteArray>> mountPointsOf(const QVariant &value)
{
    QList<QByteArray> points;
    if (value.metaType() == QMetaType::fromType<QDBusArgument>()) {
        const QDBusArgument arg = value.value<QDBusArgument>();
        if (arg.currentSignature() != QLatin1String("aay"))
            return std::nullopt;
        arg.beginArray();
        while (!arg.atEnd()) {
            QByteArray point;
            arg >> point;
            points << point;
        }
        arg.endArray();
    } else if (value.metaType() == QMetaType::fromType<QList<QByteArray>>()) {
        points = value.value<QList<QByteArray>>();
    } else {
        return std::nullopt;
    }
    for (QByteArray &p : points) {
        const qsizetype nul = p.indexOf('\0');
        if (nul >= 0)
            p.truncate(nul);
    }
    points.removeIf([](const QByteArray &p) { return !p.startsWith('/'); });
    return points;
}

} // namespace

UdisksBus::UdisksBus(QDBusConnection bus, std::chrono::milliseconds callTimeout, std::chrono::milliseconds mountTimeout)
    : m_callTimeout(int(callTimeout.count())), m_mountTimeout(int(mountTimeout.count())), m_bus(std::move(bus))
{
}

UdisksBus::UdisksBus(std::function<QDBusConnection()> connect)
    : UdisksBus(QDBusConnection(QString()), CallTimeout, MountTimeout)
{
    m_connect = std::move(connect);
    m_bus.reset();
}

QDBusConnection &UdisksBus::bus()
{
    if (!m_bus)
        m_bus = m_connect();
    return *m_bus;
}

namespace {

bool noFileSystem(const QDBusMessage &reply)
{
    return reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.InvalidArgs")
        || reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.UnknownInterface")
        || reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.UnknownProperty")
        || reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.UnknownMethod");
}

QDBusMessage getMountPoints(QDBusConnection &bus, const QString &object, int timeout)
{
    QDBusMessage get = QDBusMessage::createMethodCall(Udisks::Service, object, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get << Udisks::Filesystem << QStringLiteral("MountPoints");
    return bus.call(get, QDBus::Block, timeout);
}

// The block object's file system: where it is mounted already, or mounted now.
// `vanished`: udisks2 dropped the file system between our two calls.
MountAttempt mountObject(QDBusConnection &bus, const QString &object, const QDBusMessage &got, int callTimeout,
                         int mountTimeout, bool &vanished)
{
    if (got.type() != QDBusMessage::ReplyMessage) {
        if (noFileSystem(got))
            return failed(QStringLiteral("it finds no file system on the disc"));
        return failed(errorText(got, callTimeout));
    }
    if (got.signature() != QLatin1String("v"))
        return failed(QStringLiteral("an answer of the wrong type for MountPoints"));
    const auto points = mountPointsOf(qdbus_cast<QDBusVariant>(got.arguments().at(0)).variant());
    if (!points)
        return failed(QStringLiteral("an answer of the wrong type for MountPoints"));
    if (!points->isEmpty())
        return {MountAttempt::Mounted, points->first(), {}};

    QDBusMessage mountCall = QDBusMessage::createMethodCall(Udisks::Service, object, Udisks::Filesystem, QStringLiteral("Mount"));
    // A password dialog would hang on a user who never sees it; refuse instead.
    mountCall << QVariantMap{{QStringLiteral("auth.no_user_interaction"), QVariant(true)}};
    const QDBusMessage mounted = bus.call(mountCall, QDBus::Block, mountTimeout);
    vanished = mounted.type() != QDBusMessage::ReplyMessage && noFileSystem(mounted);
    if (mounted.type() != QDBusMessage::ReplyMessage)
        return failed(errorText(mounted, mountTimeout));
    const QString path = mounted.signature() == QLatin1String("s") ? mounted.arguments().at(0).toString() : QString();
    if (!path.startsWith(QLatin1Char('/')))
        return failed(QStringLiteral("an answer of the wrong type to Mount"));
    return {MountAttempt::Mounted, QFile::encodeName(path), {}};
}

QVariantMap noInteraction()
{
    return {{QStringLiteral("auth.no_user_interaction"), QVariant(true)}};
}

} // namespace

MountAttempt UdisksMounter::mount(const QByteArray &device)
{
    if (!bus().isConnected())
        return {MountAttempt::Unavailable, {}, QStringLiteral("the system bus cannot be reached, so udisks2 cannot mount it")};

    QDBusMessage resolve = QDBusMessage::createMethodCall(Udisks::Service, Udisks::Manager, Udisks::ManagerInterface,
                                                          QStringLiteral("ResolveDevice"));
    resolve << QVariantMap{{QStringLiteral("path"), QVariant(QFile::decodeName(device))}} << QVariantMap();
    // A medium put in a moment ago is known to udisks2, file system and all, only
    // once udev has probed it: ask again for a while before taking no for an answer.
    QElapsedTimer clock;
    clock.start();
    for (;; QThread::msleep(100)) {
        const QDBusMessage resolved = bus().call(resolve, QDBus::Block, m_callTimeout);
        if (resolved.type() != QDBusMessage::ReplyMessage) {
            if (serviceMissing(resolved))
                return {MountAttempt::Unavailable, {}, QStringLiteral("udisks2 is not running")};
            return failed(errorText(resolved, m_callTimeout));
        }
        if (resolved.signature() != QLatin1String("ao"))
            return failed(QStringLiteral("an answer of the wrong type to ResolveDevice"));
        const QList<QDBusObjectPath> objects = qdbus_cast<QList<QDBusObjectPath>>(resolved.arguments().at(0));
        const bool late = clock.elapsed() >= m_callTimeout;
        if (objects.isEmpty()) {
            if (late)
                return failed(QStringLiteral("it does not know %1").arg(QFile::decodeName(device)));
            continue;
        }
        const QString object = objects.first().path();
        const QDBusMessage got = getMountPoints(bus(), object, m_callTimeout);
        if (noFileSystem(got) && !late)
            continue;
        // A medium changed a moment ago may show the file system udisks2 is about to
        // drop and then find anew: that is asked again too.
        bool vanished = false;
        const MountAttempt attempt = mountObject(bus(), object, got, m_callTimeout, m_mountTimeout, vanished);
        if (!vanished || late)
            return attempt;
    }
}

MountAttempt UdisksImageAttacher::attach(const QByteArray &image)
{
    if (!bus().isConnected())
        return {MountAttempt::Unavailable, {}, QStringLiteral("the system bus cannot be reached, so udisks2 cannot attach it")};
    if (!(bus().connectionCapabilities() & QDBusConnection::UnixFileDescriptorPassing))
        return failed(QStringLiteral("the system bus passes no file descriptors, so the image cannot be handed over"));

    // udisks2 reads the image through our descriptor: it needs no right of its own to
    // it. O_NONBLOCK: a FIFO put in the image's place cannot hang us.
    int fd;
    do
        fd = ::open(image.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return failed(QStringLiteral("the image cannot be opened (%1)").arg(QString::fromLocal8Bit(strerror(errno))));
    const QDBusUnixFileDescriptor handle(fd);   // holds a duplicate
    ::close(fd);

    QDBusMessage setup = QDBusMessage::createMethodCall(Udisks::Service, Udisks::Manager, Udisks::ManagerInterface,
                                                        QStringLiteral("LoopSetup"));
    QVariantMap options = noInteraction();
    options.insert(QStringLiteral("read-only"), true);
    options.insert(QStringLiteral("no-part-scan"), true);
    setup << QVariant::fromValue(handle) << options;
    const QDBusMessage attached = bus().call(setup, QDBus::Block, m_mountTimeout);
    if (attached.type() != QDBusMessage::ReplyMessage) {
        if (serviceMissing(attached))
            return {MountAttempt::Unavailable, {}, QStringLiteral("udisks2 is not running")};
        return failed(errorText(attached, m_mountTimeout));
    }
    if (attached.signature() != QLatin1String("o"))
        return failed(QStringLiteral("an answer of the wrong type to LoopSetup"));
    const QString object = qdbus_cast<QDBusObjectPath>(attached.arguments().at(0)).path();

    // The file system shows on the new loop device once udev has probed it.
    QDBusMessage got = getMountPoints(bus(), object, m_callTimeout);
    for (int waited = 0; noFileSystem(got) && waited < m_callTimeout; waited += 50) {
        QThread::msleep(50);
        got = getMountPoints(bus(), object, m_callTimeout);
    }
    bool vanished = false;   // a loop device of our own: nothing else changes it meanwhile
    const MountAttempt mounted = mountObject(bus(), object, got, m_callTimeout, m_mountTimeout, vanished);
    const QString verb = mounted.outcome == MountAttempt::Mounted ? QStringLiteral("SetAutoclear")
                                                                  : QStringLiteral("Delete");
    // Mounted: the loop device goes when the disc is unmounted. Not mounted: it goes now.
    QDBusMessage after = QDBusMessage::createMethodCall(Udisks::Service, object, Udisks::Loop, verb);
    if (mounted.outcome == MountAttempt::Mounted)
        after << true;
    after << noInteraction();
    bus().call(after, QDBus::Block, m_callTimeout);
    return mounted;
}

} // namespace tarvic
