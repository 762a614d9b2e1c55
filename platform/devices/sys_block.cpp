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

std::optional<LoopDevice> loopShowingImage(const QString &name, const NodeInfo &image, const QString &sysBlock)
{
    const QDir root(sysBlock);
    const QString loop = root.filePath(name + QStringLiteral("/loop/"));
    // The kernel marks a file unlinked since with this suffix; the name may now be another file's.
    const QByteArray backing = readSysFile(loop + QStringLiteral("backing_file"));
    if (image.type != NodeInfo::RegularFile || backing.isEmpty() || backing.endsWith(" (deleted)")
        || readSysFile(loop + QStringLiteral("offset")) != "0" || readSysFile(loop + QStringLiteral("sizelimit")) != "0")
        return std::nullopt;
    const NodeInfo file = inspectNode(backing);
    if (file.type != NodeInfo::RegularFile || file.dev != image.dev || file.inode != image.inode)
        return std::nullopt;
    const QByteArray number = readSysFile(root.filePath(name + QStringLiteral("/dev")));
    const qsizetype colon = number.indexOf(':');
    bool okMajor = false, okMinor = false;
    const unsigned major = number.left(colon).toUInt(&okMajor), minor = number.mid(colon + 1).toUInt(&okMinor);
    if (colon < 0 || !okMajor || !okMinor)
        return std::nullopt;
    return LoopDevice{"/dev/" + QFile::encodeName(name), ::makedev(major, minor)};
}

std::optional<LoopDevice> loopDeviceOf(const NodeInfo &image, const QString &sysBlock)
{
    for (const QString &name : QDir(sysBlock).entryList({QStringLiteral("loop*")}, QDir::Dirs | QDir::System))
        if (auto loop = loopShowingImage(name, image, sysBlock))
            return loop;
    return std::nullopt;
}

} // namespace tarvic
