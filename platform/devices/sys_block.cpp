#include "platform/devices/sys_block.h"

#include <QDir>
#include <QFile>
#include <sys/sysmacros.h>

namespace tarvic {

QByteArray readSysFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.read(4096).trimmed() : QByteArray();
}

namespace {

QByteArray deviceNumberText(dev_t number)
{
    return QByteArray::number(::major(number)) + ':' + QByteArray::number(::minor(number));
}

} // namespace

QStringList partitionsOf(const QString &sysBlock, dev_t number)
{
    QStringList found;
    const QDir root(sysBlock);
    for (const QString &disk : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System)) {
        if (readSysFile(root.filePath(disk + QStringLiteral("/dev"))) != deviceNumberText(number))
            continue;
        const QDir dir(root.filePath(disk));
        for (const QString &part : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System))
            if (QFile::exists(dir.filePath(part + QStringLiteral("/partition"))))
                found << QStringLiteral("/dev/") + part;
    }
    found.sort();
    return found;
}

std::optional<dev_t> loopHolding(DeviceNode &node, const QString &sysBlockPath, const QString &name, const NodeInfo &image)
{
    const QDir sysBlock(sysBlockPath);
    const QString loop = sysBlock.filePath(name + QStringLiteral("/loop/"));
    const QByteArray backing = readSysFile(loop + QStringLiteral("backing_file"));
    if (backing.isEmpty() || backing.endsWith(" (deleted)") || readSysFile(loop + QStringLiteral("offset")) != "0")
        return std::nullopt;
    const NodeInfo file = node.inspect(backing);
    if (file.type != NodeInfo::RegularFile || file.dev != image.dev || file.inode != image.inode)
        return std::nullopt;
    const QByteArray number = readSysFile(sysBlock.filePath(name + QStringLiteral("/dev")));
    const qsizetype colon = number.indexOf(':');
    bool okMajor = false, okMinor = false;
    const unsigned major = number.left(colon).toUInt(&okMajor), minor = number.mid(colon + 1).toUInt(&okMinor);
    if (colon < 0 || !okMajor || !okMinor)
        return std::nullopt;
    return ::makedev(major, minor);
}

std::optional<LoopDevice> loopDeviceOf(DeviceNode &node, const NodeInfo &image, const QString &sysBlockPath)
{
    const QDir root(sysBlockPath);
    for (const QString &name : root.entryList({QStringLiteral("loop*")}, QDir::Dirs | QDir::System))
        if (const auto number = loopHolding(node, sysBlockPath, name, image))
            return LoopDevice{"/dev/" + QFile::encodeName(name), *number};
    return std::nullopt;
}

} // namespace tarvic
