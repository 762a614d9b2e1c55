#include "platform/devices/fstab_mounter.h"

#include "platform/devices/device_node.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>

namespace tarvic {

namespace {

// fstab may name a device by label or id; udev keeps links for those.
QByteArray nodeOf(const QByteArray &source)
{
    static const std::pair<const char *, const char *> tags[] = {
        {"LABEL=", "/dev/disk/by-label/"},
        {"UUID=", "/dev/disk/by-uuid/"},
        {"PARTLABEL=", "/dev/disk/by-partlabel/"},
        {"PARTUUID=", "/dev/disk/by-partuuid/"},
    };
    for (const auto &[tag, folder] : tags) {
        if (source.startsWith(tag)) {
            const QByteArray name = source.mid(qsizetype(qstrlen(tag)));
            if (name.isEmpty() || name.contains('/'))
                return {};
            return QByteArray(folder) + name;
        }
    }
    return source;
}

// The device number of a device node, links followed.
std::optional<dev_t> deviceNodeNumber(const QByteArray &path)
{
    const NodeInfo info = inspectNode(path);
    if (info.type != NodeInfo::BlockDevice && info.type != NodeInfo::CharacterDevice)
        return std::nullopt;
    return info.rdev;
}

} // namespace

FstabMounter::FstabMounter(QString fstabPath, QString mountProgram, std::chrono::milliseconds timeout)
    : m_fstabPath(std::move(fstabPath)), m_mountProgram(std::move(mountProgram)), m_timeout(int(timeout.count()))
{
}

QString FstabMounter::defaultMountProgram()
{
    const QString found = QStandardPaths::findExecutable(
        QStringLiteral("mount"), {QStringLiteral("/usr/bin"), QStringLiteral("/bin"), QStringLiteral("/usr/sbin"),
                                  QStringLiteral("/sbin")});
    return found.isEmpty() ? QStringLiteral("/bin/mount") : found;
}

bool FstabMounter::allowsUsers(const FstabEntry &entry)
{
    return entry.options.contains("user") || entry.options.contains("users");
}

std::optional<FstabEntry> FstabMounter::entryFor(const QList<FstabEntry> &table, const QByteArray &device)
{
    for (const FstabEntry &e : table)
        if (e.source == device)
            return e;
    const std::optional<dev_t> number = deviceNodeNumber(device);
    if (!number || *number == 0)
        return std::nullopt;
    for (const FstabEntry &e : table) {
        const QByteArray node = nodeOf(e.source);
        if (node.startsWith('/') && deviceNodeNumber(node) == number)
            return e;
    }
    return std::nullopt;
}

MountAttempt FstabMounter::mount(const QByteArray &device)
{
    const QString name = QFile::decodeName(device);
    QFile file(m_fstabPath);
    if (!file.open(QIODevice::ReadOnly))
        return {MountAttempt::Unavailable, {}, QStringLiteral("%1 cannot be read (%2)").arg(m_fstabPath, file.errorString())};
    // An fstab is a few lines; anything huge is not one.
    const QByteArray text = file.read(1024 * 1024);
    const std::optional<FstabEntry> entry = entryFor(parseFstab(text), device);
    if (!entry)
        return {MountAttempt::Unavailable, {}, QStringLiteral("%1 has no entry for %2").arg(m_fstabPath, name)};
    if (!allowsUsers(*entry))
        return {MountAttempt::Unavailable, {},
                QStringLiteral("the entry for %1 in %2 lacks the option user or users").arg(name, m_fstabPath)};
    if (!entry->file.startsWith('/'))
        return {MountAttempt::Failed, {},
                QStringLiteral("the entry for %1 in %2 names no mount point").arg(name, m_fstabPath)};

    const QString point = QFile::decodeName(entry->file);
    QProcess mount;
    mount.setProgram(m_mountProgram);
    mount.setArguments({point});
    mount.setStandardInputFile(QProcess::nullDevice());
    mount.start();
    if (!mount.waitForStarted(5000))
        return {MountAttempt::Failed, {},
                QStringLiteral("%1 cannot be started (%2)").arg(m_mountProgram, mount.errorString())};
    if (!mount.waitForFinished(m_timeout)) {
        mount.kill();
        mount.waitForFinished(2000);
        return {MountAttempt::Failed, {},
                QStringLiteral("mount %1 did not finish within %2 ms").arg(point).arg(m_timeout)};
    }
    if (mount.exitStatus() != QProcess::NormalExit || mount.exitCode() != 0) {
        QString err = QString::fromLocal8Bit(mount.readAllStandardError().left(2000)).trimmed();
        if (err.isEmpty())
            err = mount.exitStatus() == QProcess::NormalExit ? QStringLiteral("exit code %1").arg(mount.exitCode())
                                                              : QStringLiteral("it crashed");
        return {MountAttempt::Failed, {}, QStringLiteral("mount %1: %2").arg(point, err)};
    }
    return {MountAttempt::Mounted, entry->file, {}};
}

} // namespace tarvic
