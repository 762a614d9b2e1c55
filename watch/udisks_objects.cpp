#include "watch/udisks_objects.h"

#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <algorithm>

namespace tarvic {

namespace {

bool kept(const QString &interface)
{
    return interface == Udisks::Block || interface == Udisks::Drive || interface == Udisks::Loop
        || interface == Udisks::Filesystem;
}

QByteArray withoutNul(QByteArray b)
{
    // udisks2 sends paths as byte strings that end in a NUL.
    while (b.endsWith('\0'))
        b.chop(1);
    return b;
}

// A value as plain Qt types, read once on arrival: a QDBusArgument can be read only once.
QVariant plain(const QVariant &value)
{
    if (value.metaType() == QMetaType::fromType<QDBusVariant>())
        return plain(value.value<QDBusVariant>().variant());
    if (value.metaType() == QMetaType::fromType<QDBusObjectPath>())
        return value.value<QDBusObjectPath>().path();
    if (value.metaType() == QMetaType::fromType<QByteArray>())
        return withoutNul(value.toByteArray());
    if (value.metaType() != QMetaType::fromType<QDBusArgument>())
        return value;
    const QDBusArgument arg = value.value<QDBusArgument>();
    const QString signature = arg.currentSignature();
    if (signature == QLatin1String("ay")) {
        QByteArray b;
        arg >> b;
        return withoutNul(b);
    }
    if (signature == QLatin1String("aay")) {
        QList<QByteArray> list;
        arg.beginArray();
        while (!arg.atEnd()) {
            QByteArray b;
            arg >> b;
            list << withoutNul(b);
        }
        arg.endArray();
        return QVariant::fromValue(list);
    }
    return {};   // nothing we read
}

QVariantMap plain(const QVariantMap &properties)
{
    QVariantMap result;
    for (auto it = properties.cbegin(); it != properties.cend(); ++it)
        result.insert(it.key(), plain(it.value()));
    return result;
}

} // namespace

void UdisksObjects::replaceAll(const QMap<QString, InterfaceMap> &objects)
{
    m_objects.clear();
    for (auto it = objects.cbegin(); it != objects.cend(); ++it)
        addInterfaces(it.key(), it.value());
}

void UdisksObjects::addInterfaces(const QString &object, const InterfaceMap &interfaces)
{
    for (auto it = interfaces.cbegin(); it != interfaces.cend(); ++it)
        if (kept(it.key()))
            m_objects[object][it.key()] = plain(it.value());
}

void UdisksObjects::removeInterfaces(const QString &object, const QStringList &interfaces)
{
    const auto found = m_objects.find(object);
    if (found == m_objects.end())
        return;
    for (const QString &i : interfaces)
        found->remove(i);
    if (found->isEmpty())
        m_objects.erase(found);
}

void UdisksObjects::changeProperties(const QString &object, const QString &interface, const QVariantMap &changed,
                                     const QStringList &invalidated)
{
    // An interface is known whole from its arrival; a change to one we never heard
    // of would make half an object.
    const auto found = m_objects.find(object);
    if (found == m_objects.end() || !found->contains(interface))
        return;
    QVariantMap &properties = (*found)[interface];
    for (auto it = changed.cbegin(); it != changed.cend(); ++it)
        properties.insert(it.key(), plain(it.value()));
    for (const QString &name : invalidated)
        properties.remove(name);
}

QList<BlockDevice> UdisksObjects::blockDevices() const
{
    QList<BlockDevice> result;
    for (auto it = m_objects.cbegin(); it != m_objects.cend(); ++it) {
        const auto block = it->find(Udisks::Block);
        if (block == it->cend())
            continue;
        BlockDevice b;
        b.object = it.key();
        b.device = block->value(QStringLiteral("Device")).toByteArray();
        b.symlinks = block->value(QStringLiteral("Symlinks")).value<QList<QByteArray>>();
        b.number = block->value(QStringLiteral("DeviceNumber")).toULongLong();
        b.size = block->value(QStringLiteral("Size")).toULongLong();
        b.drive = block->value(QStringLiteral("Drive")).toString();
        if (const auto loop = it->find(Udisks::Loop); loop != it->cend())
            b.backingFile = loop->value(QStringLiteral("BackingFile")).toByteArray();
        if (const auto fs = it->find(Udisks::Filesystem); fs != it->cend()) {
            b.filesystem = true;
            b.mounted = !fs->value(QStringLiteral("MountPoints")).value<QList<QByteArray>>().isEmpty();
        }
        result << b;
    }
    // The same order at every look, so that what a burst of changes finds is
    // reported in one order.
    std::sort(result.begin(), result.end(), [](const BlockDevice &a, const BlockDevice &b) { return a.object < b.object; });
    return result;
}

std::optional<DriveMedia> UdisksObjects::drive(const QString &object) const
{
    const auto found = m_objects.find(object);
    if (found == m_objects.cend())
        return std::nullopt;
    const auto d = found->find(Udisks::Drive);
    if (d == found->cend())
        return std::nullopt;
    DriveMedia m;
    m.mediaAvailable = d->value(QStringLiteral("MediaAvailable")).toBool();
    m.optical = d->value(QStringLiteral("Optical")).toBool();
    m.opticalBlank = d->value(QStringLiteral("OpticalBlank")).toBool();
    m.audioTracks = d->value(QStringLiteral("OpticalNumAudioTracks")).toUInt();
    m.dataTracks = d->value(QStringLiteral("OpticalNumDataTracks")).toUInt();
    return m;
}

} // namespace tarvic
