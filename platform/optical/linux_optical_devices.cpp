#include "platform/optical/linux_optical_devices.h"

#include "platform/optical/disc_format.h"
#include "platform/optical/fstab_mounter.h"
#include "platform/optical/mount_table.h"
#include "platform/optical/udisks_mounter.h"
#include "platform/drive_lock.h"
#include "platform/runtime_error.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <grp.h>
#include <linux/cdrom.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace tarvic {

namespace {

// Closes the device at the end of every query, so the drive's eject button works
// while we wait on the user.
struct Closer
{
    DeviceNode &node;
    ~Closer() { node.close(); }
};

bool gone(int err)
{
    return err == ENOENT || err == ENXIO || err == ENODEV || err == ENOTDIR || err == ELOOP;
}

QString groupName(gid_t gid)
{
    const group *g = ::getgrgid(gid);
    return g && g->gr_name ? QString::fromLocal8Bit(g->gr_name) : QString();
}

[[noreturn]] void throwUnusable(const QByteArray &device, int err, const NodeInfo &info)
{
    const QString name = QFile::decodeName(device);
    if (err == EACCES || err == EPERM) {
        const QString group = groupName(info.group);
        const QString advice = group.isEmpty() || group == QLatin1String("root")
            ? QStringLiteral("only root may use it")
            : QStringLiteral("add yourself to the %1 group").arg(group);
        throw RuntimeError(Err::PermissionDenied,
                           QStringLiteral("Permission denied: %1 cannot be opened (%2); %3").arg(name, systemReason(err), advice));
    }
    throw RuntimeError(Err::DeviceUnavailable,
                       QStringLiteral("Device unavailable: %1 cannot be used (%2)").arg(name, systemReason(err)));
}

[[noreturn]] void throwNoDrive(const QByteArray &device, const QString &what)
{
    throw RuntimeError(Err::DeviceUnavailable,
                       QStringLiteral("Device unavailable: %1 %2").arg(QFile::decodeName(device), what));
}

QByteArray readSysFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.read(4096).trimmed() : QByteArray();
}

QByteArray deviceNumberText(dev_t number)
{
    return QByteArray::number(::major(number)) + ':' + QByteArray::number(::minor(number));
}

// The partitions of a whole disk, as device nodes, for advice.
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

// The device number of the loop device `name` (under sysBlock) when it holds the whole
// image, the same file (device and inode), not one removed since.
std::optional<dev_t> loopHolding(DeviceNode &node, const QDir &sysBlock, const QString &name, const NodeInfo &image)
{
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

// A mount point we may not enter is another user's mount (udisks2 mounts under
// /media/<user>, mode 0750): said as such, not as a path that is missing.
QByteArray readable(const QByteArray &point, const QString &what)
{
    const int fd = ::open(point.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::close(fd);
        return point;
    }
    const int err = errno;
    if (err != EACCES && err != EPERM)
        return point;
    throw RuntimeError(Err::PermissionDenied,
                       QStringLiteral("Permission denied: %1 is mounted at %2 by another user and cannot be read here (%3)")
                           .arg(what, QFile::decodeName(point), systemReason(err)));
}

// A descriptor of the image file of its own, for its advisory lock (flock): the one
// handed to udisks2 lives on in the loop device. Never a file put in its place.
int openForLock(const QByteArray &image, const NodeInfo &info)
{
    const int fd = ::open(image.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    struct stat st;
    if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_dev != info.dev || st.st_ino != info.inode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool tryLock(int fd, int operation)
{
    int r;
    while ((r = ::flock(fd, operation | LOCK_NB)) != 0 && errno == EINTR) {
    }
    return r == 0;
}

// Waits, a bounded time, for the lock another process holds.
void waitForLock(int fd, int operation, const QString &what)
{
    const auto until = std::chrono::steady_clock::now() + LinuxOpticalDevices::AttachPatience;
    while (!tryLock(fd, operation)) {
        if (errno != EWOULDBLOCK)
            return;
        if (std::chrono::steady_clock::now() > until)
            throw RuntimeError(Err::DiskNotReady, QStringLiteral("Disk not ready: %1 could not be attached: another process "
                                                                 "has been attaching it for %2 s")
                                                      .arg(what)
                                                      .arg(LinuxOpticalDevices::AttachPatience.count() / 1000));
        const timespec pause{0, 20'000'000};
        ::nanosleep(&pause, nullptr);
    }
}

[[noreturn]] void throwMediumGone(const QByteArray &medium)
{
    throw NothingToDo(Err::DiskNotReady, QStringLiteral("Disk not ready: the medium %1 that tarvic-watch saw arrive is gone")
                                             .arg(QFile::decodeName(medium)));
}

const QString NotADrive = QStringLiteral(
    "; an e:: entry links to a block device (an optical drive, a USB stick or its partition, a loop device) or to a "
    "disc image");

} // namespace

LinuxOpticalDevices::LinuxOpticalDevices()
{
    m_node = std::make_unique<LinuxDeviceNode>();
    m_mounters.push_back(std::make_unique<UdisksMounter>([] { return QDBusConnection::systemBus(); }));
    m_mounters.push_back(std::make_unique<FstabMounter>());
    m_attacher = std::make_unique<UdisksImageAttacher>([] { return QDBusConnection::systemBus(); });
    m_mountInfoPath = QStringLiteral("/proc/self/mountinfo");
    m_sysBlockPath = QStringLiteral("/sys/block");
}

LinuxOpticalDevices::LinuxOpticalDevices(std::unique_ptr<DeviceNode> node,
                                         std::vector<std::unique_ptr<DiscMounter>> mounters,
                                         std::unique_ptr<ImageAttacher> attacher, QString mountInfoPath,
                                         QString sysBlockPath)
    : m_node(std::move(node)), m_mounters(std::move(mounters)), m_attacher(std::move(attacher)),
      m_mountInfoPath(std::move(mountInfoPath)), m_sysBlockPath(std::move(sysBlockPath))
{
}

LinuxOpticalDevices::~LinuxOpticalDevices()
{
    releaseImage();
}

std::optional<QList<LinuxOpticalDevices::Track>> LinuxOpticalDevices::tableOfContents()
{
    TocHeader header;
    if (m_node->tocHeader(&header) != 0)
        return std::nullopt;
    // A disc is untrusted: a header that no pressing plant could make means no TOC.
    if (header.first < 1 || header.last > 99 || header.first > header.last)
        return std::nullopt;
    QList<Track> tracks;
    for (int t = header.first; t <= header.last; ++t) {
        unsigned control = 0;
        if (m_node->tocEntry(t, &control) == 0)
            tracks << Track{t, (control & CDROM_DATA_TRACK) != 0};
    }
    return tracks;
}

int LinuxOpticalDevices::opticalStatus(const QByteArray &device, const NodeInfo &info)
{
    int st = m_node->driveStatus();
    for (auto waited = std::chrono::milliseconds(0); st == CDS_DRIVE_NOT_READY && waited < SettleTime;
         waited += PollInterval) {
        m_node->sleep(PollInterval);
        st = m_node->driveStatus();
    }
    if (st == -ENOSYS)
        st = CDS_NO_INFO;   // the driver cannot tell; the TOC can
    if (st < 0) {
        if (gone(-st))
            return 0;
        if (-st == ENOMEDIUM)
            return 1;
        throwUnusable(device, -st, info);
    }
    switch (st) {
    case CDS_DISC_OK:
        return 2;
    case CDS_NO_DISC:
    case CDS_TRAY_OPEN:
    case CDS_DRIVE_NOT_READY:
        return 1;
    default: {
        TocHeader header;
        return m_node->tocHeader(&header) == 0 ? 2 : 1;
    }
    }
}

LinuxOpticalDevices::Learnt LinuxOpticalDevices::probeBlockDevice(const QByteArray &device, const NodeInfo &info)
{
    Learnt learnt;
    const int err = m_node->open(device);
    if (err != 0) {
        if (gone(err))
            return learnt;
        // A card reader or stick drive without its card.
        if (err == ENOMEDIUM)
            return learnt.status = 1, learnt;
        throwUnusable(device, err, info);
    }
    Closer closer{*m_node};
    if (m_node->isOptical()) {
        learnt.optical = true;
        learnt.status = opticalStatus(device, info);
        if (learnt.status == 2)
            learnt.tracks = tableOfContents();
        return learnt;
    }
    quint64 bytes = 0;
    if (const int sizeErr = m_node->size(&bytes); sizeErr != 0) {
        if (sizeErr == ENOMEDIUM)
            return learnt.status = 1, learnt;
        throwUnusable(device, sizeErr, info);
    }
    // A detached loop device, an empty card slot: no medium of any size.
    if (bytes == 0)
        return learnt.status = 1, learnt;
    QByteArray head;
    if (const int readErr = m_node->read(0, FormatProbeLength, &head); readErr != 0) {
        if (readErr == ENOMEDIUM)
            return learnt.status = 1, learnt;
        throwUnusable(device, readErr, info);
    }
    const DiscFormat format = identifyFormat(head);
    if (format.kind == DiscFormat::PartitionTable) {
        const QStringList parts = partitionsOf(m_sysBlockPath, info.rdev);
        throwNoDrive(device, QStringLiteral("is a whole disk with a partition table (%1) and no file system of its own, so "
                                            "it cannot be a drive; map one of its partitions instead%2")
                                 .arg(QLatin1String(format.name),
                                      parts.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(parts.join(u", "))));
    }
    learnt.status = 2;
    return learnt;
}

LinuxOpticalDevices::Learnt LinuxOpticalDevices::probeImage(const QByteArray &device)
{
    const QString name = QFile::decodeName(device);
    if (const int err = m_node->open(device); err != 0) {
        if (gone(err))
            return {};
        if (err == EACCES || err == EPERM)
            throw RuntimeError(Err::PermissionDenied,
                               QStringLiteral("Permission denied: the disc image %1 cannot be read (%2), so it cannot be "
                                              "a drive")
                                   .arg(name, systemReason(err)));
        throw RuntimeError(Err::DeviceUnavailable, QStringLiteral("Device unavailable: the disc image %1 cannot be opened (%2)")
                                                       .arg(name, systemReason(err)));
    }
    Closer closer{*m_node};
    QByteArray head;
    if (const int err = m_node->read(0, FormatProbeLength, &head); err != 0)
        throw RuntimeError(Err::DeviceUnavailable, QStringLiteral("Device unavailable: the disc image %1 cannot be read (%2)")
                                                       .arg(name, systemReason(err)));
    const DiscFormat format = identifyFormat(head);
    if (format.kind == DiscFormat::PartitionTable)
        throwNoDrive(device, QStringLiteral("is the image of a whole disk with a partition table (%1), so it cannot be a "
                                            "drive; a disc image holds one file system (an .iso or a file system image)")
                                 .arg(QLatin1String(format.name)));
    if (format.kind == DiscFormat::Unknown)
        throwNoDrive(device, QStringLiteral("is a file of unknown format (%1), so it cannot be a drive; a disc image holds "
                                            "one of the file systems %2")
                                 .arg(head.isEmpty() ? QStringLiteral("it is empty")
                                                     : QStringLiteral("none of the file systems Tarvic knows is in it"),
                                      QLatin1String(knownFileSystems())));
    Learnt learnt;
    learnt.status = 2;
    return learnt;
}

LinuxOpticalDevices::Learnt LinuxOpticalDevices::probe(const QByteArray &device)
{
    const NodeInfo info = m_node->inspect(device);
    if (!m_handedFor.isEmpty() && device == m_handedFor) {
        const NodeInfo medium = handedMedium(info);
        // The loop device holds this very image: the file is read, since the loop
        // device is root's and the disk group's alone.
        Learnt learnt = info.type == NodeInfo::RegularFile ? probeImage(device) : probeBlockDevice(m_medium, medium);
        if (learnt.status != 2)
            throwMediumGone(m_medium);
        return learnt;
    }
    switch (info.type) {
    case NodeInfo::Missing:
        if (gone(info.error))
            return {};
        throwUnusable(device, info.error, info);
    case NodeInfo::BlockDevice:
        return probeBlockDevice(device, info);
    case NodeInfo::RegularFile:
        return probeImage(device);
    case NodeInfo::CharacterDevice:
        throwNoDrive(device, QStringLiteral("is a character device, not a drive") + NotADrive);
    case NodeInfo::Folder:
        throwNoDrive(device, QStringLiteral("is a folder, not a drive; a folder is mapped with one colon (e:)"));
    case NodeInfo::Other:
        break;
    }
    throwNoDrive(device, QStringLiteral("is neither a block device nor a disc image") + NotADrive);
}

int LinuxOpticalDevices::status(const QByteArray &device, Asking asking)
{
    if (asking == Asking::Recent) {
        const auto it = m_learnt.constFind(device);
        if (it != m_learnt.cend() && m_node->now() - it->at <= RecentFor)
            return it->status;
    }
    m_learnt.remove(device);
    Learnt learnt = probe(device);
    learnt.at = m_node->now();
    m_learnt.insert(device, learnt);
    return learnt.status;
}

const LinuxOpticalDevices::Learnt &LinuxOpticalDevices::recent(const QByteArray &device)
{
    status(device, Asking::Recent);
    return *m_learnt.constFind(device);
}

QList<int> LinuxOpticalDevices::audioTracks(const QByteArray &device)
{
    QList<int> numbers;
    const Learnt &learnt = recent(device);
    if (learnt.status == 2 && learnt.tracks)
        for (const Track &t : *learnt.tracks)
            if (!t.data)
                numbers << t.number;
    return numbers;
}

std::optional<QByteArray> LinuxOpticalDevices::mountedAt(dev_t number)
{
    QFile info(m_mountInfoPath);
    if (!info.open(QIODevice::ReadOnly))
        return std::nullopt;
    return mountPointOf(parseMountInfo(info.readAll()), ::major(number), ::minor(number));
}

std::optional<QByteArray> LinuxOpticalDevices::mountUnderWay(dev_t number)
{
    // The mount table shows the mount the moment it is made, well before udisks2
    // answers the one who asked for it.
    const int table = ::open(QFile::encodeName(m_mountInfoPath).constData(), O_RDONLY | O_CLOEXEC);
    QElapsedTimer clock;
    clock.start();
    std::optional<QByteArray> point;
    while (!(point = mountedAt(number)) && DriveLock::isMounting(number) && clock.elapsed() < AttachPatience.count()) {
        pollfd changed{table, POLLPRI, 0};
        if (table < 0 || ::poll(&changed, 1, 10) < 0)
            QThread::msleep(10);
    }
    if (table >= 0)
        ::close(table);
    return point;
}

QByteArray LinuxOpticalDevices::mountThroughMounters(const QByteArray &device, const QString &what)
{
    QStringList reasons;
    for (const auto &mounter : m_mounters) {
        const MountAttempt attempt = mounter->mount(device);
        if (attempt.outcome == MountAttempt::Mounted)
            return attempt.mountPoint;
        reasons << attempt.reason;
        if (attempt.outcome == MountAttempt::Failed)
            break;
    }
    if (reasons.isEmpty())
        reasons << QStringLiteral("there is no way to mount it here");
    throw RuntimeError(Err::DiskNotReady, QStringLiteral("Disk not ready: %1 could not be mounted: %2")
                                              .arg(what, reasons.join(QStringLiteral("; "))));
}

std::optional<QByteArray> LinuxOpticalDevices::imageMountPoint(const QByteArray &image, const NodeInfo &info,
                                                               bool mountIfNeeded)
{
    const QString what = QStringLiteral("the disc image %1").arg(QFile::decodeName(image));
    const auto attachedAs = [&what](const LoopDevice &loop) {
        return what + QStringLiteral(" (attached as %1)").arg(QFile::decodeName(loop.node));
    };
    // The run that has an image in hand holds its lock: alone while it attaches and
    // mounts it, shared from then on until it ends. Another run for the same file (a
    // double click, another letter) waits for the mount and leaves the disc to it.
    const bool inHand = m_imageLock >= 0 && m_lockedImage.dev == info.dev && m_lockedImage.inode == info.inode;
    bool otherRun = false;
    if (!inHand) {
        releaseImage();
        m_imageLock = openForLock(image, info);
        m_lockedImage = info;
        if (m_imageLock >= 0 && !tryLock(m_imageLock, LOCK_EX)) {
            otherRun = true;
            waitForLock(m_imageLock, LOCK_SH, what);
        }
    }
    try {
        std::optional<LoopDevice> loop = loopDeviceOf(*m_node, info, m_sysBlockPath);
        std::optional<QByteArray> point = loop ? mountedAt(loop->number) : std::nullopt;
        if (point && otherRun)
            throw NothingToDo(Err::DiskNotReady, QStringLiteral("Disk not ready: %1 is mounted at %2 by another tarvic, which "
                                                                "handles it")
                                                     .arg(attachedAs(*loop), QFile::decodeName(*point)));
        // The other run ended without the disc mounted: this one tries.
        if (otherRun && m_imageLock >= 0)
            waitForLock(m_imageLock, LOCK_EX, what);
        if (point)
            point = readable(*point, attachedAs(*loop));
        else if (!mountIfNeeded)
            return std::nullopt;
        else if ((loop = loopDeviceOf(*m_node, info, m_sysBlockPath)))
            point = mountThroughMounters(loop->node, attachedAs(*loop));
        else
            point = attach(image, what);
        if (m_imageLock >= 0)
            tryLock(m_imageLock, LOCK_SH);
        return point;
    } catch (...) {
        if (!inHand)
            releaseImage();
        throw;
    }
}

QByteArray LinuxOpticalDevices::attach(const QByteArray &image, const QString &what)
{
    const MountAttempt attempt = m_attacher ? m_attacher->attach(image)
                                            : MountAttempt{MountAttempt::Unavailable, {}, QStringLiteral("udisks2 is not running")};
    if (attempt.outcome == MountAttempt::Mounted)
        return attempt.mountPoint;
    const QString why = attempt.outcome == MountAttempt::Unavailable
        ? attempt.reason + QStringLiteral(", and a disc image is attached as a loop device through udisks2")
        : attempt.reason;
    throw RuntimeError(Err::DiskNotReady, QStringLiteral("Disk not ready: %1 could not be attached: %2").arg(what, why));
}

void LinuxOpticalDevices::releaseImage()
{
    if (m_imageLock >= 0)
        ::close(m_imageLock);
    m_imageLock = -1;
}

std::optional<QByteArray> LinuxOpticalDevices::blockMountPoint(const QByteArray &device, const QByteArray &node,
                                                               dev_t number, const QString &what, bool mountIfNeeded)
{
    // By device number, so /dev/cdrom finds what was mounted as /dev/sr0.
    if (const auto point = mountedAt(number))
        return readable(*point, what);
    if (!mountIfNeeded)
        return std::nullopt;
    // An audio CD has no file system to mount.
    const Learnt &learnt = recent(device);
    if (learnt.tracks && std::none_of(learnt.tracks->cbegin(), learnt.tracks->cend(), [](const Track &t) { return t.data; }))
        return std::nullopt;
    if (const auto point = mountUnderWay(number))
        return readable(*point, what);
    return mountThroughMounters(node, what);
}

NodeInfo LinuxOpticalDevices::handedMedium(const NodeInfo &entry)
{
    const NodeInfo medium = m_node->inspect(m_medium);
    bool same = medium.type == NodeInfo::BlockDevice;
    if (same && entry.type == NodeInfo::RegularFile)
        same = loopHolding(*m_node, QDir(m_sysBlockPath), QFileInfo(QFile::decodeName(m_medium)).fileName(), entry)
            == medium.rdev;
    else if (same)
        same = entry.type == NodeInfo::BlockDevice && entry.rdev == medium.rdev;
    if (!same)
        throwMediumGone(m_medium);
    return medium;
}

void LinuxOpticalDevices::handOver(const QByteArray &device, const QByteArray &medium)
{
    m_handedFor = device;
    m_medium = medium;
    m_learnt.remove(device);
}

std::optional<QByteArray> LinuxOpticalDevices::mountPoint(const QByteArray &device, bool mountIfNeeded)
{
    const NodeInfo info = m_node->inspect(device);
    if (!m_handedFor.isEmpty() && device == m_handedFor) {
        const NodeInfo medium = handedMedium(info);
        try {
            return blockMountPoint(device, m_medium, medium.rdev,
                                   QStringLiteral("the medium in %1").arg(QFile::decodeName(m_medium)), mountIfNeeded);
        } catch (const NothingToDo &) {
            throw;
        } catch (const RuntimeError &) {
            handedMedium(info);   // gone while it was being mounted: nothing to say
            throw;
        }
    }
    if (info.type == NodeInfo::RegularFile)
        return imageMountPoint(device, info, mountIfNeeded);
    if (info.type != NodeInfo::BlockDevice)
        return std::nullopt;
    return blockMountPoint(device, device, info.rdev, QStringLiteral("the disc in %1").arg(QFile::decodeName(device)),
                           mountIfNeeded);
}

std::optional<dev_t> LinuxOpticalDevices::blockNumber(const QByteArray &device)
{
    const NodeInfo info = m_node->inspect(device);
    if (info.type == NodeInfo::BlockDevice)
        return info.rdev;
    if (info.type != NodeInfo::RegularFile)
        return std::nullopt;
    const std::optional<LoopDevice> loop = loopDeviceOf(*m_node, info, m_sysBlockPath);
    return loop ? std::optional(loop->number) : std::nullopt;
}

std::optional<dev_t> LinuxOpticalDevices::mountedOn(const QByteArray &folder)
{
    QFile info(m_mountInfoPath);
    if (!info.open(QIODevice::ReadOnly))
        return std::nullopt;
    const std::optional<MountInfoEntry> mount = mountOn(parseMountInfo(info.readAll()), folder);
    return mount ? std::optional(::makedev(mount->major, mount->minor)) : std::nullopt;
}

std::optional<LoopDevice> loopDeviceOf(DeviceNode &node, const NodeInfo &image, const QString &sysBlockPath)
{
    const QDir root(sysBlockPath);
    for (const QString &name : root.entryList({QStringLiteral("loop*")}, QDir::Dirs | QDir::System))
        if (const auto number = loopHolding(node, root, name, image))
            return LoopDevice{"/dev/" + QFile::encodeName(name), *number};
    return std::nullopt;
}

QList<QByteArray> listOpticalDrives(const QString &sysRoot)
{
    struct Drive
    {
        QByteArray prefix;
        qint64 number;
        QByteArray name;
    };
    QList<Drive> drives;
    const QStringList names = QDir(sysRoot).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System);
    for (const QString &n : names) {
        const QByteArray name = QFile::encodeName(n);
        QFile type(sysRoot + QLatin1Char('/') + n + QStringLiteral("/device/type"));
        const bool rom = type.open(QIODevice::ReadOnly) && type.read(16).trimmed() == "5";
        qsizetype digits = name.size();
        while (digits > 0 && name[digits - 1] >= '0' && name[digits - 1] <= '9')
            --digits;
        const QByteArray prefix = name.left(digits);
        const bool sr = prefix == "sr" && digits < name.size();
        if (!rom && !sr)
            continue;
        const QByteArray suffix = name.mid(digits);
        bool ok = false;
        const qint64 number = suffix.size() <= 9 ? suffix.toLongLong(&ok) : -1;
        drives << Drive{prefix, ok ? number : -1, name};
    }
    // sr2 before sr10: the kernel's order, not the text's.
    std::sort(drives.begin(), drives.end(), [](const Drive &a, const Drive &b) {
        if (a.prefix != b.prefix)
            return a.prefix < b.prefix;
        if (a.number != b.number)
            return a.number < b.number;
        return a.name < b.name;
    });
    QList<QByteArray> result;
    for (const Drive &d : drives)
        result << "/dev/" + d.name;
    return result;
}

} // namespace tarvic
