#include "platform/optical/linux_optical_devices.h"

#include "platform/optical/fstab_mounter.h"
#include "platform/optical/mount_table.h"
#include "platform/optical/udisks_mounter.h"
#include "platform/runtime_error.h"

#include <QDir>
#include <QFile>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <linux/cdrom.h>
#include <sys/sysmacros.h>

namespace tarvic {

namespace {

// Closes the device at the end of every query, so the drive's eject button works
// while we wait on the user.
struct Closer
{
    CdromDevice &cdrom;
    ~Closer() { cdrom.close(); }
};

bool gone(int err)
{
    return err == ENOENT || err == ENXIO || err == ENODEV;
}

[[noreturn]] void throwUnusable(const QByteArray &device, int err)
{
    const QString name = QFile::decodeName(device);
    if (err == EACCES || err == EPERM)
        throw RuntimeError(Err::PermissionDenied,
                           QStringLiteral("Permission denied: %1 cannot be opened (%2); add yourself to the cdrom group")
                               .arg(name, systemReason(err)));
    if (err == ENOTTY || err == EINVAL)
        throw RuntimeError(Err::DeviceUnavailable,
                           QStringLiteral("Device unavailable: %1 is no optical drive (%2)").arg(name, systemReason(err)));
    throw RuntimeError(Err::DeviceUnavailable,
                       QStringLiteral("Device unavailable: %1 cannot be used (%2)").arg(name, systemReason(err)));
}

} // namespace

LinuxOpticalDevices::LinuxOpticalDevices()
{
    m_cdrom = std::make_unique<LinuxCdromDevice>();
    m_mounters.push_back(std::make_unique<UdisksMounter>([] { return QDBusConnection::systemBus(); }));
    m_mounters.push_back(std::make_unique<FstabMounter>());
    m_mountInfoPath = QStringLiteral("/proc/self/mountinfo");
}

LinuxOpticalDevices::LinuxOpticalDevices(std::unique_ptr<CdromDevice> cdrom,
                                         std::vector<std::unique_ptr<DiscMounter>> mounters, QString mountInfoPath)
    : m_cdrom(std::move(cdrom)), m_mounters(std::move(mounters)), m_mountInfoPath(std::move(mountInfoPath))
{
}

LinuxOpticalDevices::~LinuxOpticalDevices() = default;

bool LinuxOpticalDevices::open(const QByteArray &device)
{
    const int err = m_cdrom->open(device);
    if (err == 0)
        return true;
    if (gone(err))
        return false;
    throwUnusable(device, err);
}

std::optional<QList<LinuxOpticalDevices::Track>> LinuxOpticalDevices::tableOfContents()
{
    TocHeader header;
    if (m_cdrom->tocHeader(&header) != 0)
        return std::nullopt;
    // A disc is untrusted: a header that no pressing plant could make means no TOC.
    if (header.first < 1 || header.last > 99 || header.first > header.last)
        return std::nullopt;
    QList<Track> tracks;
    for (int t = header.first; t <= header.last; ++t) {
        unsigned control = 0;
        if (m_cdrom->tocEntry(t, &control) == 0)
            tracks << Track{t, (control & CDROM_DATA_TRACK) != 0};
    }
    return tracks;
}

int LinuxOpticalDevices::status(const QByteArray &device)
{
    if (!open(device))
        return 0;
    Closer closer{*m_cdrom};
    int st = m_cdrom->driveStatus();
    for (auto waited = std::chrono::milliseconds(0); st == CDS_DRIVE_NOT_READY && waited < SettleTime;
         waited += PollInterval) {
        m_cdrom->sleep(PollInterval);
        st = m_cdrom->driveStatus();
    }
    if (st == -ENOSYS)
        st = CDS_NO_INFO;   // the driver cannot tell; the TOC can
    if (st < 0) {
        if (gone(-st))
            return 0;
        if (-st == ENOMEDIUM)
            return 1;
        throwUnusable(device, -st);
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
        return m_cdrom->tocHeader(&header) == 0 ? 2 : 1;
    }
    }
}

QList<int> LinuxOpticalDevices::audioTracks(const QByteArray &device)
{
    QList<int> numbers;
    if (!open(device))
        return numbers;
    Closer closer{*m_cdrom};
    for (const Track &t : tableOfContents().value_or(QList<Track>()))
        if (!t.data)
            numbers << t.number;
    return numbers;
}

std::optional<QByteArray> LinuxOpticalDevices::mountPoint(const QByteArray &device, bool mountIfNeeded)
{
    // By device number, so /dev/cdrom finds what was mounted as /dev/sr0.
    const std::optional<dev_t> number = m_cdrom->deviceNumber(device);
    if (!number)
        return std::nullopt;
    QFile info(m_mountInfoPath);
    if (info.open(QIODevice::ReadOnly)) {
        const auto point = mountPointOf(parseMountInfo(info.readAll()), ::major(*number), ::minor(*number));
        if (point)
            return point;
    }
    if (!mountIfNeeded)
        return std::nullopt;

    if (open(device)) {
        Closer closer{*m_cdrom};
        const auto tracks = tableOfContents();
        // An audio CD has no file system to mount.
        if (tracks && std::none_of(tracks->cbegin(), tracks->cend(), [](const Track &t) { return t.data; }))
            return std::nullopt;
    }

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
    throw RuntimeError(Err::DiskNotReady, QStringLiteral("Disk not ready: the disc in %1 could not be mounted: %2")
                                              .arg(QFile::decodeName(device), reasons.join(QStringLiteral("; "))));
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
