// Optical drives on Linux: a scripted drive behind the kernel's interface, seen
// through the drive services and whole dispatches; the mount table and fstab
// readers on real sample text; the drive listing on a fake sysfs tree.
#include "components/pellor.h"
#include "platform/optical/cdrom_device.h"
#include "platform/optical/fstab_mounter.h"
#include "platform/optical/linux_optical_devices.h"
#include "platform/optical/mount_table.h"
#include "platform/runtime_error.h"
#include "settings/settings_store.h"
#include "startup/maintarvic.h"
#include "support/test_env.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <cerrno>
#include <climits>
#include <linux/cdrom.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace tarvic;
using namespace tarvic::test;
using namespace std::chrono_literals;

namespace {

const QByteArray Sr0 = "/dev/sr0";

// A drive as the kernel would answer for it. The disc is a layout string, one
// letter a track: A audio, D data, ? an entry that cannot be read.
struct FakeDrive
{
    int openError = 0;
    QList<int> statuses{CDS_DISC_OK};   // answered in turn; the last one stays
    int tocError = 0;
    TocHeader header{1, 1};
    QString layout = QStringLiteral("D");
    dev_t number = makedev(11, 0);
};

struct FakeMachine
{
    QMap<QByteArray, FakeDrive> drives;
    std::chrono::milliseconds slept{0};
    QByteArray openNode;   // the node now open; empty when closed
    int opens = 0;
};

struct FakeCdrom final : CdromDevice
{
    explicit FakeCdrom(FakeMachine &m) : m(m) {}
    FakeMachine &m;
    FakeDrive &drive() { return m.drives[m.openNode]; }

    int open(const QByteArray &path) override
    {
        if (!m.openNode.isEmpty())
            qFatal("a device was left open");
        if (!m.drives.contains(path))
            return ENOENT;
        if (m.drives[path].openError)
            return m.drives[path].openError;
        m.openNode = path;
        ++m.opens;
        return 0;
    }
    void close() override { m.openNode.clear(); }
    int driveStatus() override
    {
        QList<int> &s = drive().statuses;
        return s.size() > 1 ? s.takeFirst() : s.first();
    }
    int tocHeader(TocHeader *header) override
    {
        if (drive().tocError)
            return drive().tocError;
        *header = drive().header;
        return 0;
    }
    int tocEntry(int track, unsigned *control) override
    {
        const QString &layout = drive().layout;
        if (track < 1 || track > layout.size() || layout[track - 1] == QLatin1Char('?'))
            return EIO;
        *control = layout[track - 1] == QLatin1Char('D') ? CDROM_DATA_TRACK | 0x1 : 0x0;
        return 0;
    }
    std::optional<dev_t> deviceNumber(const QByteArray &path) override
    {
        if (!m.drives.contains(path))
            return std::nullopt;
        return m.drives[path].number;
    }
    void sleep(std::chrono::milliseconds d) override { m.slept += d; }
};

struct ScriptedMounter final : DiscMounter
{
    MountAttempt answer;
    QList<QByteArray> asked;
    MountAttempt mount(const QByteArray &device) override
    {
        asked << device;
        return answer;
    }
};

// A TestEnv with drive D: on the scripted /dev/sr0, two mounters in line and a
// mount table file of our own.
struct Rig
{
    TestEnv env;
    FakeMachine machine;
    ScriptedMounter *first = new ScriptedMounter;
    ScriptedMounter *second = new ScriptedMounter;
    QString mountInfo = env.newFolder(QStringLiteral("proc")) + QStringLiteral("/mountinfo");
    std::unique_ptr<LinuxOpticalDevices> devices;
    Pellor pellor() { return Pellor(env.paths()); }

    explicit Rig(const FakeDrive &drive = {})
    {
        machine.drives[Sr0] = drive;
        std::vector<std::unique_ptr<DiscMounter>> mounters;
        mounters.emplace_back(first);
        mounters.emplace_back(second);
        first->answer = {MountAttempt::Unavailable, {}, QStringLiteral("udisks2 is not running")};
        second->answer = {MountAttempt::Unavailable, {}, QStringLiteral("/etc/fstab has no entry for /dev/sr0")};
        devices = std::make_unique<LinuxOpticalDevices>(std::make_unique<FakeCdrom>(machine), std::move(mounters),
                                                        mountInfo);
        touch(mountInfo, "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n");
        env.optical = devices.get();
        env.mapDevice(QLatin1Char('d'), QString::fromLatin1(Sr0));
    }
    void mountedAt(const QString &folder)
    {
        QByteArray escaped = QFile::encodeName(folder);
        escaped.replace(" ", "\\040");
        touch(mountInfo, "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
                         "98 22 11:0 / " + escaped + " ro,nosuid,nodev,relatime shared:60 - iso9660 /dev/sr0 ro\n");
    }
};

FakeDrive withDisc(const QString &layout)
{
    FakeDrive d;
    d.layout = layout;
    d.header = {1, int(layout.size())};
    return d;
}

} // namespace

class OpticalTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void driveStatusFollowsTheDrive_data();
    void driveStatusFollowsTheDrive();
    void unusableDevicesEndInTheErrorBox_data();
    void unusableDevicesEndInTheErrorBox();
    void trackFilesFollowTheTableOfContents_data();
    void trackFilesFollowTheTableOfContents();
    void audioCdStartsTheConfiguredPlayerWithoutMounting();
    void mountedDataDiscStartsItsAutorunProgram();
    void unmountedDataDiscIsMountedFirst();
    void mountFailuresEndInTheErrorBox_data();
    void mountFailuresEndInTheErrorBox();
    void mountInfoReader_data();
    void mountInfoReader();
    void fstabReader_data();
    void fstabReader();
    void fstabMatchesALinkByDeviceNumber();
    void fstabMounterRunsMount_data();
    void fstabMounterRunsMount();
    void opticalDrivesListedInTheKernelsOrder();
    void realDeviceNodesThatAreNoDrives();
};

void OpticalTest::driveStatusFollowsTheDrive_data()
{
    QTest::addColumn<int>("openError");
    QTest::addColumn<QList<int>>("statuses");
    QTest::addColumn<int>("tocError");
    QTest::addColumn<int>("expected");
    QTest::addColumn<int>("sleptMs");
    const int notReady = CDS_DRIVE_NOT_READY;
    QTest::newRow("disc ready") << 0 << QList<int>{CDS_DISC_OK} << 0 << 2 << 0;
    QTest::newRow("no disc") << 0 << QList<int>{CDS_NO_DISC} << 0 << 1 << 0;
    QTest::newRow("tray open") << 0 << QList<int>{CDS_TRAY_OPEN} << 0 << 1 << 0;
    QTest::newRow("spinning up, then ready") << 0 << QList<int>{notReady, notReady, notReady, CDS_DISC_OK} << 0 << 2 << 750;
    QTest::newRow("spinning up, then empty") << 0 << QList<int>{notReady, CDS_NO_DISC} << 0 << 1 << 250;
    QTest::newRow("never ready") << 0 << QList<int>{notReady} << 0 << 1 << 5000;
    QTest::newRow("no info, TOC readable") << 0 << QList<int>{CDS_NO_INFO} << 0 << 2 << 0;
    QTest::newRow("no info, no TOC") << 0 << QList<int>{CDS_NO_INFO} << EIO << 1 << 0;
    QTest::newRow("status not supported, TOC readable") << 0 << QList<int>{-ENOSYS} << 0 << 2 << 0;
    QTest::newRow("status not supported, no TOC") << 0 << QList<int>{-ENOSYS} << ENOMEDIUM << 1 << 0;
    QTest::newRow("no medium") << 0 << QList<int>{-ENOMEDIUM} << 0 << 1 << 0;
    QTest::newRow("node gone") << ENOENT << QList<int>{} << 0 << 0 << 0;
    QTest::newRow("no such device address") << ENXIO << QList<int>{} << 0 << 0 << 0;
    QTest::newRow("no such device") << ENODEV << QList<int>{} << 0 << 0 << 0;
    QTest::newRow("unplugged while asked") << 0 << QList<int>{-ENODEV} << 0 << 0 << 0;
}

void OpticalTest::driveStatusFollowsTheDrive()
{
    QFETCH(int, openError);
    QFETCH(QList<int>, statuses);
    QFETCH(int, tocError);
    QFETCH(int, expected);
    QFETCH(int, sleptMs);
    FakeDrive drive;
    drive.openError = openError;
    if (!statuses.isEmpty())
        drive.statuses = statuses;
    drive.tocError = tocError;
    Rig rig(drive);
    QCOMPARE(rig.pellor().DriveStatus(QStringLiteral("D:")), expected);
    QCOMPARE(rig.machine.slept.count(), sleptMs);
    QVERIFY(rig.machine.openNode.isEmpty());
}

void OpticalTest::unusableDevicesEndInTheErrorBox_data()
{
    QTest::addColumn<int>("openError");
    QTest::addColumn<int>("statusError");
    QTest::addColumn<QString>("text");
    QTest::newRow("permission denied") << EACCES << 0
        << "An error has occured: Permission denied: /dev/sr0 cannot be opened (Permission denied); add yourself to the "
           "cdrom group, 70";
    QTest::newRow("operation not permitted") << EPERM << 0
        << "An error has occured: Permission denied: /dev/sr0 cannot be opened (Operation not permitted); add yourself to "
           "the cdrom group, 70";
    QTest::newRow("busy") << EBUSY << 0
        << "An error has occured: Device unavailable: /dev/sr0 cannot be used (Device or resource busy), 68";
    QTest::newRow("no optical drive") << 0 << ENOTTY
        << "An error has occured: Device unavailable: /dev/sr0 is no optical drive (Inappropriate ioctl for device), 68";
    QTest::newRow("input/output error") << 0 << EIO
        << "An error has occured: Device unavailable: /dev/sr0 cannot be used (Input/output error), 68";
}

void OpticalTest::unusableDevicesEndInTheErrorBox()
{
    QFETCH(int, openError);
    QFETCH(int, statusError);
    QFETCH(QString, text);
    FakeDrive drive;
    drive.openError = openError;
    drive.statuses = {-statusError};
    Rig rig(drive);
    mainTarvic program(rig.env.services());
    program.Main(QStringLiteral("D:"));
    QCOMPARE(rig.env.boxes.shown.size(), 1);
    QCOMPARE(rig.env.boxes.shown[0].text, text);
    QCOMPARE(rig.env.boxes.shown[0].title, QStringLiteral("Error"));
    QVERIFY(rig.env.starter.started.isEmpty());
    QVERIFY(!program.forms().anyLoaded());
}

void OpticalTest::trackFilesFollowTheTableOfContents_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("last");
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("exists");
    QTest::newRow("audio: first track") << "AAA" << 1 << 3 << "D:\\track01.cda" << true;
    QTest::newRow("audio: any case") << "AAA" << 1 << 3 << "D:\\TRACK02.CDA" << true;
    QTest::newRow("audio: last track") << "AAA" << 1 << 3 << "d:\\Track03.cda" << true;
    QTest::newRow("audio: past the last") << "AAA" << 1 << 3 << "D:\\track04.cda" << false;
    QTest::newRow("audio: one digit") << "AAA" << 1 << 3 << "D:\\track1.cda" << false;
    QTest::newRow("audio: not in a folder") << "AAA" << 1 << 3 << "D:\\x\\track01.cda" << false;
    QTest::newRow("data: a data track is no .cda") << "D" << 1 << 1 << "D:\\track01.cda" << false;
    QTest::newRow("mixed: data first") << "DAA" << 1 << 3 << "D:\\track01.cda" << false;
    QTest::newRow("mixed: audio after data") << "DAA" << 1 << 3 << "D:\\track02.cda" << true;
    QTest::newRow("enhanced: audio first") << "AAD" << 1 << 3 << "D:\\track01.cda" << true;
    QTest::newRow("enhanced: its data track") << "AAD" << 1 << 3 << "D:\\track03.cda" << false;
    QTest::newRow("an entry that cannot be read") << "A?A" << 1 << 3 << "D:\\track02.cda" << false;
    QTest::newRow("the entries around it") << "A?A" << 1 << 3 << "D:\\track03.cda" << true;
    QTest::newRow("header: first after last") << "AAAAA" << 5 << 2 << "D:\\track02.cda" << false;
    QTest::newRow("header: more than 99 tracks") << QString(120, QLatin1Char('A')) << 1 << 120 << "D:\\track01.cda" << false;
    QTest::newRow("header: track 0") << "AAA" << 0 << 3 << "D:\\track01.cda" << false;
    QTest::newRow("header: 99 tracks") << QString(99, QLatin1Char('A')) << 1 << 99 << "D:\\track99.cda" << true;
}

void OpticalTest::trackFilesFollowTheTableOfContents()
{
    QFETCH(QString, layout);
    QFETCH(int, first);
    QFETCH(int, last);
    QFETCH(QString, path);
    QFETCH(bool, exists);
    FakeDrive drive = withDisc(layout);
    drive.header = {first, last};
    Rig rig(drive);
    // Whatever is not a track is looked for on the disc's (empty) file system.
    const QString disc = rig.env.newFolder(QStringLiteral("disc"));
    rig.first->answer = {MountAttempt::Mounted, QFile::encodeName(disc), {}};
    QCOMPARE(rig.pellor().FileExists(path), exists);
    QVERIFY(!rig.pellor().FolderExists(path));
    QVERIFY(rig.machine.openNode.isEmpty());
}

void OpticalTest::audioCdStartsTheConfiguredPlayerWithoutMounting()
{
    Rig rig(withDisc(QStringLiteral("AAAAAAAAAAAA")));
    const QString player = rig.env.newFolder(QStringLiteral("bin")) + QStringLiteral("/cd player");
    touch(player, "#!/bin/sh\n");
    const QString startIn = rig.env.newFolder(QStringLiteral("music"));
    rig.env.settings().write({{Key::AudioCD, player}, {Key::CDSI, startIn}});
    mainTarvic program(rig.env.services());
    program.Main(QStringLiteral("D:"));
    QVERIFY(rig.env.boxes.shown.isEmpty());
    QCOMPARE(rig.env.starter.started.size(), 1);
    QCOMPARE(rig.env.starter.started[0].commandLine, player);
    QCOMPARE(rig.env.starter.started[0].workingDirectory, startIn);
    QVERIFY(!program.forms().anyLoaded());
    // No file system on an audio CD: nobody is asked to mount one.
    QCOMPARE(rig.devices->mountPoint(Sr0, true), std::nullopt);
    QVERIFY(rig.first->asked.isEmpty());
}

void OpticalTest::mountedDataDiscStartsItsAutorunProgram()
{
    Rig rig(withDisc(QStringLiteral("D")));
    const QString disc = rig.env.newFolder(QStringLiteral("media/my disc"));
    touch(disc + QStringLiteral("/AUTORUN.INF"), "[autorun]\r\nopen=Setup.exe\r\n");
    touch(disc + QStringLiteral("/SETUP.EXE"), "MZ");
    rig.mountedAt(disc);
    mainTarvic program(rig.env.services());
    program.Main(QStringLiteral("d:"));
    QVERIFY(rig.env.boxes.shown.isEmpty());
    QCOMPARE(rig.env.starter.started.size(), 1);
    QCOMPARE(rig.env.starter.started[0].commandLine, QStringLiteral("D:\\Setup.exe"));
    QCOMPARE(rig.env.starter.started[0].workingDirectory, disc);
    QVERIFY(rig.first->asked.isEmpty());
    QVERIFY(!program.forms().anyLoaded());
}

void OpticalTest::unmountedDataDiscIsMountedFirst()
{
    Rig rig(withDisc(QStringLiteral("D")));
    const QString disc = rig.env.newFolder(QStringLiteral("media/LABEL"));
    touch(disc + QStringLiteral("/autorun.inf"), "[autorun]\nopen=run.exe\n");
    touch(disc + QStringLiteral("/run.exe"), "MZ");
    rig.second->answer = {MountAttempt::Mounted, QFile::encodeName(disc), {}};
    mainTarvic program(rig.env.services());
    program.Main(QStringLiteral("D:"));
    QVERIFY(rig.env.boxes.shown.isEmpty());
    QCOMPARE(rig.env.starter.started.size(), 1);
    QCOMPARE(rig.env.starter.started[0].commandLine, QStringLiteral("D:\\run.exe"));
    QCOMPARE(rig.env.starter.started[0].workingDirectory, disc);
    QVERIFY(!rig.first->asked.isEmpty());
    QCOMPARE(rig.second->asked.first(), Sr0);
}

void OpticalTest::mountFailuresEndInTheErrorBox_data()
{
    QTest::addColumn<int>("firstOutcome");
    QTest::addColumn<QString>("firstReason");
    QTest::addColumn<int>("secondOutcome");
    QTest::addColumn<QString>("secondReason");
    QTest::addColumn<bool>("secondAsked");
    QTest::addColumn<QString>("description");
    QTest::newRow("refused by the first: the second is not tried")
        << int(MountAttempt::Failed) << "udisks2: Not authorized to perform operation" << int(MountAttempt::Mounted)
        << "" << false << "the disc in /dev/sr0 could not be mounted: udisks2: Not authorized to perform operation";
    QTest::newRow("neither to be had")
        << int(MountAttempt::Unavailable) << "udisks2 is not running" << int(MountAttempt::Unavailable)
        << "/etc/fstab has no entry for /dev/sr0" << true
        << "the disc in /dev/sr0 could not be mounted: udisks2 is not running; /etc/fstab has no entry for /dev/sr0";
    QTest::newRow("mount refuses")
        << int(MountAttempt::Unavailable) << "udisks2 is not running" << int(MountAttempt::Failed)
        << "mount /media/cdrom: can't find in /etc/fstab." << true
        << "the disc in /dev/sr0 could not be mounted: udisks2 is not running; mount /media/cdrom: can't find in /etc/fstab.";
}

void OpticalTest::mountFailuresEndInTheErrorBox()
{
    QFETCH(int, firstOutcome);
    QFETCH(QString, firstReason);
    QFETCH(int, secondOutcome);
    QFETCH(QString, secondReason);
    QFETCH(bool, secondAsked);
    QFETCH(QString, description);
    Rig rig(withDisc(QStringLiteral("D")));
    const QString disc = rig.env.newFolder(QStringLiteral("never used"));
    rig.first->answer = {MountAttempt::Outcome(firstOutcome), {}, firstReason};
    rig.second->answer = {MountAttempt::Outcome(secondOutcome), QFile::encodeName(disc), secondReason};
    mainTarvic program(rig.env.services());
    program.Main(QStringLiteral("D:"));
    QCOMPARE(rig.env.boxes.shown.size(), 1);
    QCOMPARE(rig.env.boxes.shown[0].text, QStringLiteral("An error has occured: Disk not ready: ") + description + QStringLiteral(", 71"));
    QCOMPARE(rig.second->asked.isEmpty(), !secondAsked);
    QVERIFY(rig.env.starter.started.isEmpty());
}

void OpticalTest::mountInfoReader_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<uint>("major");
    QTest::addColumn<uint>("minor");
    QTest::addColumn<QByteArray>("expected");   // empty: not mounted
    const QByteArray base =
        "21 26 0:20 / /sys rw,nosuid,nodev,noexec,relatime shared:7 - sysfs sysfs rw\n"
        "26 1 259:2 / / rw,relatime shared:1 - ext4 /dev/nvme0n1p2 rw,errors=remount-ro\n"
        "61 26 259:1 / /boot/efi rw,relatime shared:31 - vfat /dev/nvme0n1p1 rw,fmask=0077\n";
    QTest::newRow("a plain mount") << base + "612 26 11:0 / /media/anna/DISC ro,nosuid,nodev,relatime shared:330 - "
                                             "iso9660 /dev/sr0 ro,nojoliet,check=s,map=n,blocksize=2048,iocharset=utf8\n"
                                   << 11u << 0u << QByteArray("/media/anna/DISC");
    QTest::newRow("blanks escaped")
        << base + "612 26 11:0 / /media/anna/My\\040Holiday\\040Photos ro,relatime shared:330 - udf /dev/sr0 ro\n" << 11u
        << 0u << QByteArray("/media/anna/My Holiday Photos");
    QTest::newRow("tab, newline and backslash escaped")
        << base + "612 26 11:0 / /mnt/a\\011b\\012c\\134d ro,relatime - iso9660 /dev/sr0 ro\n" << 11u << 0u
        << QByteArray("/mnt/a\tb\nc\\d");
    QTest::newRow("a backslash that is no escape")
        << base + "612 26 11:0 / /mnt/a\\9x ro,relatime - iso9660 /dev/sr0 ro\n" << 11u << 0u << QByteArray("/mnt/a\\9x");
    QTest::newRow("another drive")
        << base + "612 26 11:1 / /media/anna/OTHER ro,relatime shared:330 - iso9660 /dev/sr1 ro\n" << 11u << 0u
        << QByteArray();
    QTest::newRow("major and minor not swapped")
        << base + "612 26 0:11 / /media/anna/OTHER ro,relatime - tmpfs tmpfs rw\n" << 11u << 0u << QByteArray();
    QTest::newRow("second drive") << base + "612 26 11:0 / /media/a ro - iso9660 /dev/sr0 ro\n"
                                             "613 26 11:1 / /media/b ro - iso9660 /dev/sr1 ro\n"
                                  << 11u << 1u << QByteArray("/media/b");
    QTest::newRow("bind mount of a folder listed first")
        << base + "700 26 11:0 /VIDEO_TS /srv/video ro,relatime shared:400 - udf /dev/sr0 ro\n"
                  "701 26 11:0 / /media/anna/DVD ro,relatime shared:401 - udf /dev/sr0 ro\n"
        << 11u << 0u << QByteArray("/media/anna/DVD");
    QTest::newRow("only a bind mount") << base + "700 26 11:0 /VIDEO_TS /srv/video ro,relatime - udf /dev/sr0 ro\n"
                                       << 11u << 0u << QByteArray("/srv/video");
    QTest::newRow("several optional fields")
        << base + "612 26 11:0 / /media/cd ro,relatime shared:5 master:1 propagate_from:2 unbindable - iso9660 /dev/sr0 ro\n"
        << 11u << 0u << QByteArray("/media/cd");
    QTest::newRow("no optional field") << base + "612 26 11:0 / /media/cd ro,relatime - iso9660 /dev/sr0 ro\n" << 11u << 0u
                                       << QByteArray("/media/cd");
    QTest::newRow("a broken line before") << base + "612 26 11:0 / /media/broken ro\n"
                                                    "613 26 11:0 / /media/cd ro - iso9660 /dev/sr0 ro\n"
                                          << 11u << 0u << QByteArray("/media/cd");
    QTest::newRow("no separator") << base + "612 26 11:0 / /media/cd ro,relatime shared:1 iso9660 /dev/sr0 ro x\n" << 11u
                                  << 0u << QByteArray();
    QTest::newRow("no device numbers") << base + "612 26 11-0 / /media/cd ro - iso9660 /dev/sr0 ro\n" << 11u << 0u
                                       << QByteArray();
    QTest::newRow("large numbers") << base + "612 26 259:1048575 / /media/big ro - iso9660 /dev/x ro\n" << 259u
                                   << 1048575u << QByteArray("/media/big");
    QTest::newRow("empty") << QByteArray() << 11u << 0u << QByteArray();
    QTest::newRow("CR LF and no final newline") << base + "612 26 11:0 / /media/cd ro - iso9660 /dev/sr0 ro\r" << 11u << 0u
                                                << QByteArray("/media/cd");
}

void OpticalTest::mountInfoReader()
{
    QFETCH(QByteArray, text);
    QFETCH(uint, major);
    QFETCH(uint, minor);
    QFETCH(QByteArray, expected);
    const auto point = mountPointOf(parseMountInfo(text), major, minor);
    QCOMPARE(point.value_or(QByteArray()), expected);
}

void OpticalTest::fstabReader_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("device");
    QTest::addColumn<QByteArray>("mountPoint");   // empty: no entry
    QTest::addColumn<bool>("users");
    const QByteArray base = "# /etc/fstab: static file system information.\n"
                            "UUID=4f1c-22 /               ext4    errors=remount-ro 0       1\n"
                            "\t# indented comment /dev/sr0 /x iso9660 user 0 0\n"
                            "\n";
    QTest::newRow("Debian's installer line") << base + "/dev/sr0        /media/cdrom0   udf,iso9660 user,noauto     0       0\n"
                                             << QByteArray("/dev/sr0") << QByteArray("/media/cdrom0") << true;
    QTest::newRow("users") << base + "/dev/sr1 /mnt/dvd auto ro,users,noauto 0 0\n" << QByteArray("/dev/sr1")
                           << QByteArray("/mnt/dvd") << true;
    QTest::newRow("without user") << base + "/dev/sr0 /media/cdrom0 udf,iso9660 noauto 0 0\n" << QByteArray("/dev/sr0")
                                  << QByteArray("/media/cdrom0") << false;
    QTest::newRow("user= is no user option") << base + "/dev/sr0 /media/cd auto noauto,user=anna 0 0\n"
                                             << QByteArray("/dev/sr0") << QByteArray("/media/cd") << false;
    QTest::newRow("escaped blank") << base + "/dev/sr0 /media/my\\040cd auto user 0 0\n" << QByteArray("/dev/sr0")
                                   << QByteArray("/media/my cd") << true;
    QTest::newRow("options left out") << base + "/dev/sr0 /media/cd auto\n" << QByteArray("/dev/sr0")
                                      << QByteArray("/media/cd") << false;
    QTest::newRow("other device only") << base + "/dev/sr1 /media/cd1 auto user 0 0\n" << QByteArray("/dev/sr0")
                                       << QByteArray() << false;
    QTest::newRow("commented out") << base + "#/dev/sr0 /media/cd auto user 0 0\n" << QByteArray("/dev/sr0") << QByteArray()
                                   << false;
    QTest::newRow("two fields only") << base + "/dev/sr0 /media/cd\n" << QByteArray("/dev/sr0") << QByteArray() << false;
    QTest::newRow("first entry wins") << base + "/dev/sr0 /media/a auto user 0 0\n/dev/sr0 /media/b auto user 0 0\n"
                                      << QByteArray("/dev/sr0") << QByteArray("/media/a") << true;
}

void OpticalTest::fstabReader()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, device);
    QFETCH(QByteArray, mountPoint);
    QFETCH(bool, users);
    const auto entry = FstabMounter::entryFor(parseFstab(text), device);
    QCOMPARE(entry.has_value(), !mountPoint.isEmpty());
    if (entry) {
        QCOMPARE(entry->file, mountPoint);
        QCOMPARE(FstabMounter::allowsUsers(*entry), users);
    }
}

void OpticalTest::fstabMatchesALinkByDeviceNumber()
{
    // /dev/null stands in for a drive: a real device node with a device number.
    QTemporaryDir dir;
    const QByteArray link = QFile::encodeName(dir.filePath(QStringLiteral("cdrom")));
    QVERIFY(::symlink("/dev/null", link.constData()) == 0);
    const QByteArray text = "/dev/zero /media/zero auto user 0 0\n" + link + " /media/cdrom auto user,noauto 0 0\n";
    const auto entry = FstabMounter::entryFor(parseFstab(text), "/dev/null");
    QVERIFY(entry);
    QCOMPARE(entry->file, QByteArray("/media/cdrom"));
    QCOMPARE(deviceNodeNumber(link), std::optional<dev_t>(makedev(1, 3)));
    QCOMPARE(deviceNodeNumber(QFile::encodeName(dir.path())), std::nullopt);
    QVERIFY(!FstabMounter::entryFor(parseFstab(text), QFile::encodeName(dir.filePath(QStringLiteral("missing")))));
}

void OpticalTest::fstabMounterRunsMount_data()
{
    QTest::addColumn<QByteArray>("fstab");      // empty: no file at all
    QTest::addColumn<QByteArray>("mountScript"); // what mount(8) does
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QString>("result");         // the mount point or the reason
    const QByteArray entry = "/dev/sr0 /media/cd\\040rom udf,iso9660 user,noauto 0 0\n";
    QTest::newRow("mounted") << entry << QByteArray("printf '%s\\n' \"$@\" > \"$0.args\"\nexit 0\n")
                             << int(MountAttempt::Mounted) << "/media/cd rom";
    QTest::newRow("mount fails")
        << entry << QByteArray("echo 'mount: /media/cd rom: no medium found on /dev/sr0.' >&2\nexit 32\n")
        << int(MountAttempt::Failed) << "mount /media/cd rom: mount: /media/cd rom: no medium found on /dev/sr0.";
    QTest::newRow("mount fails silently") << entry << QByteArray("exit 1\n") << int(MountAttempt::Failed)
                                          << "mount /media/cd rom: exit code 1";
    QTest::newRow("no entry") << QByteArray("/dev/sr1 /media/cd1 auto user 0 0\n") << QByteArray("exit 0\n")
                              << int(MountAttempt::Unavailable) << "%1 has no entry for /dev/sr0";
    QTest::newRow("entry without user") << QByteArray("/dev/sr0 /media/cd auto noauto 0 0\n") << QByteArray("exit 0\n")
                                        << int(MountAttempt::Unavailable)
                                        << "the entry for /dev/sr0 in %1 lacks the option user or users";
    QTest::newRow("no fstab") << QByteArray() << QByteArray("exit 0\n") << int(MountAttempt::Unavailable)
                              << "%1 cannot be read (No such file or directory)";
}

void OpticalTest::fstabMounterRunsMount()
{
    QFETCH(QByteArray, fstab);
    QFETCH(QByteArray, mountScript);
    QFETCH(int, outcome);
    QFETCH(QString, result);
    QTemporaryDir dir;
    const QString fstabPath = dir.filePath(QStringLiteral("fstab"));
    if (!fstab.isEmpty())
        touch(fstabPath, fstab);
    const QString mount = dir.filePath(QStringLiteral("mount"));
    touch(mount, "#!/bin/sh\n" + mountScript);
    QVERIFY(QFile::setPermissions(mount, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    FstabMounter mounter(fstabPath, mount, 10s);
    const MountAttempt attempt = mounter.mount(Sr0);
    QCOMPARE(int(attempt.outcome), outcome);
    if (outcome == MountAttempt::Mounted) {
        QCOMPARE(attempt.mountPoint, QFile::encodeName(result));
        QFile args(mount + QStringLiteral(".args"));
        QVERIFY(args.open(QIODevice::ReadOnly));
        QCOMPARE(args.readAll(), QByteArray("/media/cd rom\n"));   // one argument, blank and all
    } else {
        QCOMPARE(attempt.reason, result.contains(QStringLiteral("%1")) ? result.arg(fstabPath) : result);
    }
}

void OpticalTest::opticalDrivesListedInTheKernelsOrder()
{
    QTemporaryDir sys;
    QDir root(sys.path());
    // As in sysfs: class/block holds links to the devices' folders.
    const auto device = [&](const QString &name, const QByteArray &type) {
        const QString folder = QStringLiteral("devices/") + name;
        QVERIFY(root.mkpath(folder));
        if (!type.isEmpty())
            touch(root.filePath(folder + QStringLiteral("/device/type")), type);
        QVERIFY(root.mkpath(QStringLiteral("class/block")));
        QVERIFY(QFile::link(root.filePath(folder), root.filePath(QStringLiteral("class/block/") + name)));
    };
    device(QStringLiteral("sr10"), "5\n");
    device(QStringLiteral("sda"), "0\n");
    device(QStringLiteral("sr2"), "5\n");
    device(QStringLiteral("sda1"), {});
    device(QStringLiteral("loop0"), {});
    device(QStringLiteral("sr0"), {});       // sr by name, whatever its type file says
    device(QStringLiteral("vdc"), "5\n");     // a ROM under another driver's name
    device(QStringLiteral("srx"), {});
    device(QStringLiteral("sr1"), "5\n");
    const QList<QByteArray> expected{"/dev/sr0", "/dev/sr1", "/dev/sr2", "/dev/sr10", "/dev/vdc"};
    QCOMPARE(listOpticalDrives(root.filePath(QStringLiteral("class/block"))), expected);
    QVERIFY(listOpticalDrives(root.filePath(QStringLiteral("missing"))).isEmpty());

    // Wired as the program does: the drives take the letters from D: on.
    TestEnv env;
    const QString block = root.filePath(QStringLiteral("class/block"));
    const DriveMap map(env.mapFolder(), [block] { return listOpticalDrives(block); });
    QCOMPARE(map.find(QLatin1Char('d')).target, QByteArray("/dev/sr0"));
    QCOMPARE(map.find(QLatin1Char('h')).target, QByteArray("/dev/vdc"));
}

void OpticalTest::realDeviceNodesThatAreNoDrives()
{
    TestEnv env;
    LinuxOpticalDevices devices(std::make_unique<LinuxCdromDevice>(), {});
    env.optical = &devices;
    QTemporaryDir dir;
    const QByteArray link = QFile::encodeName(dir.filePath(QStringLiteral("cdrom")));
    QVERIFY(::symlink("/dev/null", link.constData()) == 0);
    env.mapDevice(QLatin1Char('e'), QString::fromLatin1(link));
    env.mapDevice(QLatin1Char('f'), dir.filePath(QStringLiteral("sr99")));
    Pellor pellor(env.paths());
    QCOMPARE(pellor.DriveStatus(QStringLiteral("F:")), 0);
    try {
        pellor.DriveStatus(QStringLiteral("E:"));
        QFAIL("a character device passed for a drive");
    } catch (const RuntimeError &e) {
        QCOMPARE(e.number(), 68);
        QCOMPARE(e.description(),
                 QStringLiteral("Device unavailable: %1 is no optical drive (Inappropriate ioctl for device)")
                     .arg(QString::fromLatin1(link)));
    }
    QVERIFY(devices.audioTracks(link).isEmpty());
    QCOMPARE(devices.mountPoint(dir.filePath(QStringLiteral("sr99")).toLatin1(), true), std::nullopt);
}

QTEST_MAIN(OpticalTest)
#include "test_optical.moc"
