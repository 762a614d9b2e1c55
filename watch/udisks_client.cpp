#include "watch/udisks_client.h"

#include "platform/optical/udisks_mounter.h"
#include "watch/insertion_watch.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <algorithm>

namespace tarvic {

namespace {

const QString ObjectManager = QStringLiteral("org.freedesktop.DBus.ObjectManager");
const QString Properties = QStringLiteral("org.freedesktop.DBus.Properties");
const QString LocalPath = QStringLiteral("/org/freedesktop/DBus/Local");
const QString LocalInterface = QStringLiteral("org.freedesktop.DBus.Local");

InterfaceMap interfacesOf(const QVariant &value)
{
    InterfaceMap interfaces;
    value.value<QDBusArgument>() >> interfaces;
    return interfaces;
}

} // namespace

UdisksClient::UdisksClient(InsertionWatch &watch, Logger log, QObject *parent)
    : QObject(parent), m_watch(watch), m_log(std::move(log))
{
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &UdisksClient::connectToBus);
    m_askAgain.setSingleShot(true);
    connect(&m_askAgain, &QTimer::timeout, this, &UdisksClient::askForObjects);
}

UdisksClient::~UdisksClient()
{
    dropConnection();
}

void UdisksClient::start()
{
    connectToBus();
}

void UdisksClient::connectToBus()
{
    m_busName = QStringLiteral("tarvic-watch-%1").arg(++m_connections);
    m_bus = QDBusConnection::connectToBus(QDBusConnection::SystemBus, m_busName);
    if (!m_bus.isConnected()) {
        if (!m_saidNoBus)
            m_log(QStringLiteral("no system bus (%1); trying again").arg(m_bus.lastError().message()));
        m_saidNoBus = true;
        dropConnection();
        m_retry.start(m_retryMs);
        m_retryMs = std::min(m_retryMs * 2, LastRetryMs);
        return;
    }
    m_saidNoBus = false;
    m_retryMs = FirstRetryMs;
    m_bus.connect(QString(), LocalPath, LocalInterface, QStringLiteral("Disconnected"), this, SLOT(busGone()));
    m_owner = new QDBusServiceWatcher(Udisks::Service, m_bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(m_owner, &QDBusServiceWatcher::serviceOwnerChanged, this, &UdisksClient::ownerChanged);
    m_bus.connect(Udisks::Service, Udisks::Root, ObjectManager, QStringLiteral("InterfacesAdded"), this,
                  SLOT(interfacesAdded(QDBusMessage)));
    m_bus.connect(Udisks::Service, Udisks::Root, ObjectManager, QStringLiteral("InterfacesRemoved"), this,
                  SLOT(interfacesRemoved(QDBusMessage)));
    m_bus.connect(Udisks::Service, QString(), Properties, QStringLiteral("PropertiesChanged"), this,
                  SLOT(propertiesChanged(QDBusMessage)));
    askForObjects();
}

void UdisksClient::mountAhead(const BlockDevice &block)
{
    if (!block.filesystem || block.mounted || !m_bus.isConnected() || m_mounting.count(block.object))
        return;
    Mounting &mounting = m_mounting[block.object];
    // Someone else marks it: the tarvic mounts it itself then.
    if (!mounting.mark.holdMounting(block.number)) {
        m_mounting.erase(block.object);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(Udisks::Service, block.object, Udisks::Filesystem,
                                                       QStringLiteral("Mount"));
    call << QVariantMap{{QStringLiteral("auth.no_user_interaction"), QVariant(true)}};
    auto *pending = new QDBusPendingCallWatcher(m_bus.asyncCall(call, int(UdisksBus::MountTimeout.count())), this);
    mounting.call = pending;
    const QString object = block.object, device = QString::fromLocal8Bit(block.device);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this, pending, object, device] {
        pending->deleteLater();
        if (pending->isError())
            m_log(QStringLiteral("%1 could not be mounted ahead of tarvic (%2); tarvic tries itself")
                      .arg(device, pending->error().message().left(300)));
        const auto it = m_mounting.find(object);
        if (it != m_mounting.end() && it->second.call == pending)
            m_mounting.erase(it);   // the tarvic waiting for it goes on
    });
}

void UdisksClient::dropConnection()
{
    m_mounting.clear();
    delete m_owner;
    m_owner = nullptr;
    delete m_pending;
    m_pending = nullptr;
    m_askAgain.stop();
    if (m_bus.isConnected())
        m_bus.disconnect(QString(), LocalPath, LocalInterface, QStringLiteral("Disconnected"), this, SLOT(busGone()));
    m_bus = QDBusConnection(QString());
    if (!m_busName.isEmpty())
        QDBusConnection::disconnectFromBus(m_busName);
    m_busName.clear();
}

void UdisksClient::busGone()
{
    m_log(QStringLiteral("the system bus went away; connecting again"));
    m_watch.forget();
    dropConnection();
    m_retry.start(m_retryMs);
    m_retryMs = std::min(m_retryMs * 2, LastRetryMs);
}

void UdisksClient::ownerChanged(const QString &, const QString &oldOwner, const QString &newOwner)
{
    if (!oldOwner.isEmpty()) {
        m_log(QStringLiteral("udisks2 went away; waiting for it"));
        m_watch.forget();
        delete m_pending;
        m_pending = nullptr;
        m_askAgain.stop();
    }
    if (!newOwner.isEmpty())
        askForObjects();
}

void UdisksClient::askForObjects()
{
    delete m_pending;
    const QDBusMessage call =
        QDBusMessage::createMethodCall(Udisks::Service, Udisks::Root, ObjectManager, QStringLiteral("GetManagedObjects"));
    m_pending = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(m_pending, &QDBusPendingCallWatcher::finished, this, &UdisksClient::objectsArrived);
}

void UdisksClient::objectsArrived(QDBusPendingCallWatcher *call)
{
    if (call != m_pending)
        return;
    m_pending = nullptr;
    call->deleteLater();
    const QDBusMessage reply = call->reply();
    if (reply.type() == QDBusMessage::ErrorMessage) {
        const QString error = reply.errorName();
        // Not running: its name's owner changing tells us when it is.
        if (error == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown")
            || error == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner")) {
            m_log(QStringLiteral("udisks2 is not running; waiting for it"));
            return;
        }
        m_log(QStringLiteral("udisks2 did not answer (%1); asking again").arg(reply.errorMessage()));
        m_askAgain.start(m_askMs);
        m_askMs = std::min(m_askMs * 2, LastRetryMs);
        return;
    }
    if (reply.signature() != QLatin1String("a{oa{sa{sv}}}")) {
        m_log(QStringLiteral("udisks2 answered in a shape not its own (%1); waiting for it to change").arg(reply.signature()));
        return;
    }
    m_askMs = FirstRetryMs;
    QMap<QString, InterfaceMap> objects;
    const QDBusArgument arg = reply.arguments().constFirst().value<QDBusArgument>();
    arg.beginMap();
    while (!arg.atEnd()) {
        QDBusObjectPath path;
        InterfaceMap interfaces;
        arg.beginMapEntry();
        arg >> path >> interfaces;
        arg.endMapEntry();
        objects.insert(path.path(), interfaces);
    }
    arg.endMap();
    m_watch.replaceAll(objects);
    m_log(QStringLiteral("watching udisks2 on the system bus"));
    m_watch.look();
}

void UdisksClient::interfacesAdded(const QDBusMessage &message)
{
    if (message.signature() != QLatin1String("oa{sa{sv}}"))
        return;
    const QVariantList args = message.arguments();
    m_watch.objects().addInterfaces(args.at(0).value<QDBusObjectPath>().path(), interfacesOf(args.at(1)));
    m_watch.look();
}

void UdisksClient::interfacesRemoved(const QDBusMessage &message)
{
    if (message.signature() != QLatin1String("oas"))
        return;
    const QVariantList args = message.arguments();
    m_watch.objects().removeInterfaces(args.at(0).value<QDBusObjectPath>().path(), args.at(1).toStringList());
    m_watch.look();
}

void UdisksClient::propertiesChanged(const QDBusMessage &message)
{
    if (message.signature() != QLatin1String("sa{sv}as"))
        return;
    const QVariantList args = message.arguments();
    m_watch.objects().changeProperties(message.path(), args.at(0).toString(),
                                       qdbus_cast<QVariantMap>(args.at(1)), args.at(2).toStringList());
    m_watch.look();
}

} // namespace tarvic
