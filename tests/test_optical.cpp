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
#include <linux/cdrom.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace tarvic;
using namespace tarvic::test;
using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

namespace {

const QByteArray Sr0 = "/dev/sr0";

// A drive as the kernel would answer for it. The disc is a layout string, one
// letter a track: A audio, D data, ? an entry that cannot be read.
struct FakeDrive
{
    int openError = 0;
    QList<int> statuses{CDS_DISC_OK};   // answered in turn; the last one stays
    int tocError = 0;
    QString layout = u"D"_s;
    std::optional<TocHeader> header;    // none: tracks 1 to the layout's length
    std::chrono::milliseconds slept{0};
    bool isOpen = false;
};

// The kernel's side with the scripted drive as /dev/sr0, and no other.
struct FakeCdrom final : CdromDevice
{
    explicit FakeCdrom(FakeDrive &d) : d(d) {}
    FakeDrive &d;

    int open(const QByteArray &path) override
    {
        if (d.isOpen)
            qFatal("a device was left open");
        if (path != Sr0)
            return ENOENT;
        d.isOpen = d.openError == 0;
        return d.openError;
    }
    void close() override { d.isOpen = false; }
    int driveStatus() override { return d.statuses.size() > 1 ? d.statuses.takeFirst() : d.statuses.first(); }
    int tocHeader(TocHeader *header) override
    {
        if (d.tocError)
            return d.tocError;
        *header = d.header.value_or(TocHeader{1, int(d.layout.size())});
        return 0;
    }
    int tocEntry(int track, unsigned *control) override
    {
        if (track < 1 || track > d.layout.size() || d.layout[track - 1] == QLatin1Char('?'))
            return EIO;
        *control = d.layout[track - 1] == QLatin1Char('D') ? CDROM_DATA_TRACK | 0x1 : 0x0;
        return 0;
    }
    std::optional<dev_t> deviceNumber(const QByteArray &path) override
    {
        return path == Sr0 ? std::optional<dev_t>(makedev(11, 0)) : std::nullopt;
    }
    void sleep(std::chrono::milliseconds t) override { d.slept += t; }
};

struct ScriptedMounter final : DiscMounter
{
    MountAttempt answer;   // unavailable unless set
    QList<QByteArray> asked;
    MountAttempt mount(const QByteArray &device) override
    {
        asked << device;
        return answer;
    }
};

// A TestEnv with drive D: on the scripted /dev/sr0, two mounters in line (udisks2
// and fstab in the program) and a mount table file of our own.
struct Rig
{
    TestEnv env;
    FakeDrive drive;
    ScriptedMounter *first = new ScriptedMounter;
    ScriptedMounter *second = new ScriptedMounter;
    QString mountInfo = env.newFolder(u"proc"_s) + u"/mountinfo"_s;
    std::unique_ptr<LinuxOpticalDevices> devices;
    Pellor pellor() { return Pellor(env.paths()); }

    Rig()
    {
        std::vector<std::unique_ptr<DiscMounter>> mounters;
        mounters.emplace_back(first);
        mounters.emplace_back(second);
        devices = std::make_unique<LinuxOpticalDevices>(std::make_unique<FakeCdrom>(drive), std::move(mounters),
                                                        mountInfo);
        mountedAt({});
        env.optical = devices.get();
        env.mapDevice(QLatin1Char('d'), QString::fromLatin1(Sr0));
    }
    // The mount table, with the disc mounted at `folder` unless that is empty.
    void mountedAt(const QString &folder)
    {
        QByteArray table = "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n";
        if (!folder.isEmpty())
            table += "98 22 11:0 / " + QFile::encodeName(folder).replace(" ", "\\040")
                   + " ro,nosuid,nodev,relatime shared:60 - iso9660 /dev/sr0 ro\n";
        touch(mountInfo, table);
    }
    // Runs the program on D: and tells what came of it: the boxes shown, the
    // programs started and where, a window left open.
    QString runOnD()
    {
        mainTarvic program(env.services());
        program.Main(u"D:"_s);
        QStringList what;
        for (const ShownBox &b : env.boxes.shown)
            what << b.title + u": "_s + b.text;
        for (const StartedProgram &s : env.starter.started)
            what << u"started "_s + s.commandLine + u" in "_s + s.workingDirectory;
        if (program.forms().anyLoaded())
            what << u"a window left open"_s;
        return what.join(u" | "_s);
    }
};

} // namespace

class OpticalTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void driveStatusFollowsTheDrive_data()
    {
        QTest::addColumn<int>("openError");
        QTest::addColumn<QList<int>>("statuses");
        QTest::addColumn<int>("tocError");
        QTest::addColumn<QString>("expected");   // the status, or what the program shows
        QTest::addColumn<int>("sleptMs");
        const int notReady = CDS_DRIVE_NOT_READY;
        const auto row = [](const char *name, int openError, QList<int> statuses, int tocError = 0) -> QTestData & {
            return QTest::newRow(name) << openError << statuses << tocError;
        };
        row("disc ready", 0, {CDS_DISC_OK}) << "2" << 0;
        row("no disc", 0, {CDS_NO_DISC}) << "1" << 0;
        row("tray open", 0, {CDS_TRAY_OPEN}) << "1" << 0;
        row("spinning up, then ready", 0, {notReady, notReady, notReady, CDS_DISC_OK}) << "2" << 750;
        row("spinning up, then empty", 0, {notReady, CDS_NO_DISC}) << "1" << 250;
        row("never ready", 0, {notReady}) << "1" << 5000;
        row("no info, TOC readable", 0, {CDS_NO_INFO}) << "2" << 0;
        row("no info, no TOC", 0, {CDS_NO_INFO}, EIO) << "1" << 0;
        row("status not supported, TOC readable", 0, {-ENOSYS}) << "2" << 0;
        row("status not supported, no TOC", 0, {-ENOSYS}, ENOMEDIUM) << "1" << 0;
        row("no medium", 0, {-ENOMEDIUM}) << "1" << 0;
        row("node gone", ENOENT, {}) << "0" << 0;
        row("no such device address", ENXIO, {}) << "0" << 0;
        row("no such device", ENODEV, {}) << "0" << 0;
        row("unplugged while asked", 0, {-ENODEV}) << "0" << 0;
        // A drive that cannot be used ends the run in the error box.
        const QString denied = u"Error: An error has occured: Permission denied: /dev/sr0 cannot be opened (%1); add "
                               "yourself to the cdrom group, 70"_s;
        const QString unusable = u"Error: An error has occured: Device unavailable: /dev/sr0 %1, 68"_s;
        row("permission denied", EACCES, {}) << denied.arg(u"Permission denied"_s) << 0;
        row("operation not permitted", EPERM, {}) << denied.arg(u"Operation not permitted"_s) << 0;
        row("busy", EBUSY, {}) << unusable.arg(u"cannot be used (Device or resource busy)"_s) << 0;
        row("no optical drive", 0, {-ENOTTY}) << unusable.arg(u"is no optical drive (Inappropriate ioctl for device)"_s)
                                              << 0;
        row("input/output error", 0, {-EIO}) << unusable.arg(u"cannot be used (Input/output error)"_s) << 0;
    }

    void driveStatusFollowsTheDrive()
    {
        QFETCH(int, openError);
        QFETCH(QList<int>, statuses);
        QFETCH(int, tocError);
        QFETCH(QString, expected);
        Rig rig;
        rig.drive.openError = openError;
        if (!statuses.isEmpty())
            rig.drive.statuses = statuses;
        rig.drive.tocError = tocError;
        if (expected.size() == 1)
            QCOMPARE(rig.pellor().DriveStatus(u"D:"_s), expected.toInt());
        else
            QCOMPARE(rig.runOnD(), expected);
        QTEST(int(rig.drive.slept.count()), "sleptMs");
        // Closed after every question, so the drive's eject button works.
        QVERIFY(!rig.drive.isOpen);
    }

    void trackFilesFollowTheTableOfContents_data()
    {
        QTest::addColumn<QString>("layout");
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("last");
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("exists");
        QTest::newRow("audio: first track") << "AAA" << 1 << 3 << "D:\\track01.cda" << true;
        QTest::newRow("audio: last track, any case") << "AAA" << 1 << 3 << "d:\\TRACK03.Cda" << true;
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
        // A disc is untrusted: a header no pressing plant makes means no tracks.
        QTest::newRow("header: first after last") << "AAAAA" << 5 << 2 << "D:\\track02.cda" << false;
        QTest::newRow("header: more than 99 tracks") << QString(120, QLatin1Char('A')) << 1 << 120 << "D:\\track01.cda"
                                                     << false;
        QTest::newRow("header: track 0") << "AAA" << 0 << 3 << "D:\\track01.cda" << false;
        QTest::newRow("header: 99 tracks") << QString(99, QLatin1Char('A')) << 1 << 99 << "D:\\track99.cda" << true;
    }

    void trackFilesFollowTheTableOfContents()
    {
        QFETCH(QString, layout);
        QFETCH(int, first);
        QFETCH(int, last);
        QFETCH(QString, path);
        Rig rig;
        rig.drive.layout = layout;
        rig.drive.header = TocHeader{first, last};
        // Whatever is not a track is looked for on the disc's (empty) file system.
        rig.first->answer = {MountAttempt::Mounted, QFile::encodeName(rig.env.newFolder(u"disc"_s)), {}};
        QTEST(rig.pellor().FileExists(path), "exists");
        QVERIFY(!rig.pellor().FolderExists(path));
        QVERIFY(!rig.drive.isOpen);
    }

    void discsStartWhatTheyShould_data()
    {
        QTest::addColumn<QString>("layout");
        QTest::addColumn<bool>("inTable");    // the disc's file system already mounted at %M
        QTest::addColumn<QString>("first");   // the mounters' answers: M mounted at %M, U: unavailable, F: failed
        QTest::addColumn<QString>("second");
        QTest::addColumn<QString>("expected");   // %P: the audio player, %S: its start-in folder
        QTest::addColumn<int>("asked");          // how many mounters in line were asked
        const QString started = u"started D:\\Setup.exe in %M"_s;
        const QString udisksDown = u"U:udisks2 is not running"_s;
        QTest::newRow("audio CD: its player, nothing mounted")
            << "AAAAAAAAAAAA" << false << "M" << "M" << "started %P in %S" << 0;
        QTest::newRow("data disc already mounted") << "D" << true << "M" << "M" << started << 0;
        QTest::newRow("data disc mounted by the first") << "D" << false << "M" << "M" << started << 1;
        QTest::newRow("data disc mounted by the second") << "D" << false << udisksDown << "M" << started << 2;
        QTest::newRow("refused by the first: the second is not tried")
            << "D" << false << "F:udisks2: Not authorized to perform operation" << "M"
            << "%E: udisks2: Not authorized to perform operation, 71" << 1;
        QTest::newRow("neither to be had")
            << "D" << false << udisksDown << "U:/etc/fstab has no entry for /dev/sr0"
            << "%E: udisks2 is not running; /etc/fstab has no entry for /dev/sr0, 71" << 2;
        QTest::newRow("mount refuses")
            << "D" << false << udisksDown << "F:mount /media/cdrom: can't find in /etc/fstab."
            << "%E: udisks2 is not running; mount /media/cdrom: can't find in /etc/fstab., 71" << 2;
    }

    void discsStartWhatTheyShould()
    {
        QFETCH(QString, layout);
        QFETCH(bool, inTable);
        QFETCH(QString, first);
        QFETCH(QString, second);
        QFETCH(QString, expected);
        QFETCH(int, asked);
        Rig rig;
        rig.drive.layout = layout;
        const QString player = rig.env.newFolder(u"bin"_s) + u"/cd player"_s;
        touch(player, "#!/bin/sh\n");
        const QString startIn = rig.env.newFolder(u"music"_s);
        rig.env.settings().write({{Key::AudioCD, player}, {Key::CDSI, startIn}});
        const QString disc = rig.env.newFolder(u"media/my disc"_s);
        touch(disc + u"/AUTORUN.INF"_s, "[autorun]\r\nopen=Setup.exe\r\n");
        touch(disc + u"/SETUP.EXE"_s, "MZ");
        if (inTable)
            rig.mountedAt(disc);
        const auto answer = [&](const QString &a) {
            if (a == u"M"_s)
                return MountAttempt{MountAttempt::Mounted, QFile::encodeName(disc), {}};
            return MountAttempt{a.startsWith(u"F:"_s) ? MountAttempt::Failed : MountAttempt::Unavailable, {}, a.mid(2)};
        };
        rig.first->answer = answer(first);
        rig.second->answer = answer(second);

        QCOMPARE(rig.runOnD(), expected.replace(u"%P"_s, player).replace(u"%S"_s, startIn).replace(u"%M"_s, disc)
                                   .replace(u"%E"_s, u"Error: An error has occured: Disk not ready: the disc in "
                                                     "/dev/sr0 could not be mounted"_s));
        // No file system on an audio CD: nobody is asked to mount one.
        if (!layout.contains(QLatin1Char('D')))
            QCOMPARE(rig.devices->mountPoint(Sr0, true), std::nullopt);
        QCOMPARE(int(!rig.first->asked.isEmpty()) + int(!rig.second->asked.isEmpty()), asked);
        const QList<QByteArray> requests = rig.first->asked + rig.second->asked;
        QCOMPARE(requests.count(Sr0), requests.size());
    }

    void mountInfoReader_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<uint>("major");
        QTest::addColumn<uint>("minor");
        QTest::addColumn<QByteArray>("expected");   // empty: not mounted
        const auto row = [](const char *name, const QByteArray &lines, const char *expected, uint minor = 0,
                            uint major = 11) {
            QTest::newRow(name) << "21 26 0:20 / /sys rw,nosuid,nodev,noexec,relatime shared:7 - sysfs sysfs rw\n"
                                   "26 1 259:2 / / rw,relatime shared:1 - ext4 /dev/nvme0n1p2 rw,errors=remount-ro\n"
                                   + lines
                                << major << minor << QByteArray(expected);
        };
        row("a plain mount",
            "612 26 11:0 / /media/anna/DISC ro,nosuid,nodev,relatime shared:330 - iso9660 /dev/sr0 ro,nojoliet\n",
            "/media/anna/DISC");
        row("blanks escaped", "612 26 11:0 / /media/My\\040Holiday\\040Photos ro shared:330 - udf /dev/sr0 ro\n",
            "/media/My Holiday Photos");
        row("tab, newline and backslash escaped", "612 26 11:0 / /mnt/a\\011b\\012c\\134d ro - iso9660 /dev/sr0 ro\n",
            "/mnt/a\tb\nc\\d");
        row("a backslash that is no escape", "612 26 11:0 / /mnt/a\\9x ro - iso9660 /dev/sr0 ro\n", "/mnt/a\\9x");
        row("major and minor not swapped", "612 26 0:11 / /media/OTHER ro,relatime - tmpfs tmpfs rw\n", "");
        row("second drive",
            "612 26 11:0 / /media/a ro - iso9660 /dev/sr0 ro\n613 26 11:1 / /media/b ro - iso9660 /dev/sr1 ro\n",
            "/media/b", 1);
        row("bind mount of a folder listed first",
            "700 26 11:0 /VIDEO_TS /srv/video ro shared:400 - udf /dev/sr0 ro\n"
            "701 26 11:0 / /media/DVD ro shared:401 - udf /dev/sr0 ro\n", "/media/DVD");
        row("only a bind mount", "700 26 11:0 /VIDEO_TS /srv/video ro,relatime - udf /dev/sr0 ro\n", "/srv/video");
        row("several optional fields",
            "612 26 11:0 / /media/cd ro shared:5 master:1 propagate_from:2 unbindable - iso9660 /dev/sr0 ro\n",
            "/media/cd");
        row("no optional field", "612 26 11:0 / /media/cd ro,relatime - iso9660 /dev/sr0 ro\n", "/media/cd");
        row("a broken line before",
            "612 26 11:0 / /media/broken ro\n613 26 11:0 / /media/cd ro - iso9660 /dev/sr0 ro\n", "/media/cd");
        row("no separator", "612 26 11:0 / /media/cd ro,relatime shared:1 iso9660 /dev/sr0 ro x\n", "");
        row("no device numbers", "612 26 11-0 / /media/cd ro - iso9660 /dev/sr0 ro\n", "");
        row("large numbers", "612 26 259:1048575 / /media/big ro - iso9660 /dev/x ro\n", "/media/big", 1048575, 259);
        row("CR LF and no final newline", "612 26 11:0 / /media/cd ro - iso9660 /dev/sr0 ro\r", "/media/cd");
        QTest::newRow("empty") << QByteArray() << 11u << 0u << QByteArray();
    }

    void mountInfoReader()
    {
        QFETCH(QByteArray, text);
        QFETCH(uint, major);
        QFETCH(uint, minor);
        QTEST(mountPointOf(parseMountInfo(text), major, minor).value_or(QByteArray()), "expected");
    }

    void fstabMounterReadsFstabAndRunsMount_data()
    {
        QTest::addColumn<QByteArray>("fstab");         // null: no file at all; %L: a link to /dev/null
        QTest::addColumn<QByteArray>("device");
        QTest::addColumn<QByteArray>("mountScript");   // what mount(8) does
        QTest::addColumn<QString>("expected");         // %F: the fstab's path
        const QByteArray records = "printf '%s\\n' \"$@\" > \"$0.args\"\n";
        const auto row = [&](const char *name, const QByteArray &lines, const QString &expected,
                             const char *device = "/dev/sr0", const QByteArray &script = {}) {
            QTest::newRow(name) << "# /etc/fstab: static file system information.\n"
                                   "UUID=4f1c-22 /               ext4    errors=remount-ro 0       1\n"
                                   "\t# indented comment /dev/sr0 /x iso9660 user 0 0\n"
                                   "\n" + lines
                                << QByteArray(device) << (script.isNull() ? records : script) << expected;
        };
        const QString noEntry = u"unavailable: %F has no entry for /dev/sr0"_s;
        const QString noUser = u"unavailable: the entry for /dev/sr0 in %F lacks the option user or users"_s;
        row("Debian's installer line", "/dev/sr0        /media/cdrom0   udf,iso9660 user,noauto     0       0\n",
            u"mounted at /media/cdrom0"_s);
        row("users", "/dev/sr1 /mnt/dvd auto ro,users,noauto 0 0\n", u"mounted at /mnt/dvd"_s, "/dev/sr1");
        row("without user", "/dev/sr0 /media/cdrom0 udf,iso9660 noauto 0 0\n", noUser);
        row("user= is no user option", "/dev/sr0 /media/cd auto noauto,user=anna 0 0\n", noUser);
        row("escaped blank", "/dev/sr0 /media/my\\040cd auto user 0 0\n", u"mounted at /media/my cd"_s);
        row("options left out", "/dev/sr0 /media/cd auto\n", noUser);
        row("other device only", "/dev/sr1 /media/cd1 auto user 0 0\n", noEntry);
        row("commented out", "#/dev/sr0 /media/cd auto user 0 0\n", noEntry);
        row("two fields only", "/dev/sr0 /media/cd\n", noEntry);
        row("first entry wins", "/dev/sr0 /media/a auto user 0 0\n/dev/sr0 /media/b auto user 0 0\n",
            u"mounted at /media/a"_s);
        // /dev/null stands in for a drive: a real device node with a device number.
        const QByteArray linked = "/dev/zero /media/zero auto user 0 0\n%L /media/cdrom auto user,noauto 0 0\n";
        row("a link to the device, by device number", linked, u"mounted at /media/cdrom"_s, "/dev/null");
        row("a device that is not there", linked, u"unavailable: %F has no entry for %L-missing"_s, "%L-missing");
        const QByteArray entry = "/dev/sr0 /media/cd\\040rom udf,iso9660 user,noauto 0 0\n";
        row("mount fails", entry, u"failed: mount /media/cd rom: mount: /media/cd rom: no medium found on /dev/sr0."_s,
            "/dev/sr0", "echo 'mount: /media/cd rom: no medium found on /dev/sr0.' >&2\nexit 32\n");
        row("mount fails silently", entry, u"failed: mount /media/cd rom: exit code 1"_s, "/dev/sr0", "exit 1\n");
        QTest::newRow("no fstab") << QByteArray() << Sr0 << records
                                  << u"unavailable: %F cannot be read (No such file or directory)"_s;
    }

    void fstabMounterReadsFstabAndRunsMount()
    {
        QFETCH(QByteArray, fstab);
        QFETCH(QByteArray, device);
        QFETCH(QByteArray, mountScript);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        const QByteArray link = QFile::encodeName(dir.filePath(u"cdrom"_s));
        QVERIFY(::symlink("/dev/null", link.constData()) == 0);
        const QString fstabPath = dir.filePath(u"fstab"_s);
        if (!fstab.isNull())
            touch(fstabPath, fstab.replace("%L", link));
        const QString mount = dir.filePath(u"mount"_s);
        touch(mount, "#!/bin/sh\n" + mountScript);
        QVERIFY(QFile::setPermissions(mount, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

        const MountAttempt attempt = FstabMounter(fstabPath, mount, 10s).mount(device.replace("%L", link));
        QString got = (attempt.outcome == MountAttempt::Failed ? u"failed: "_s : u"unavailable: "_s) + attempt.reason;
        if (attempt.outcome == MountAttempt::Mounted) {
            got = u"mounted at "_s + QFile::decodeName(attempt.mountPoint);
            QFile args(mount + u".args"_s);
            QVERIFY(args.open(QIODevice::ReadOnly));
            QCOMPARE(args.readAll(), attempt.mountPoint + '\n');   // one argument, blanks and all
        }
        QCOMPARE(got, expected.replace(u"%F"_s, fstabPath).replace(u"%L"_s, QFile::decodeName(link)));
    }

    void opticalDrivesListedInTheKernelsOrder()
    {
        QTemporaryDir sys;
        QDir root(sys.path());
        QVERIFY(root.mkpath(u"class/block"_s));
        // As in sysfs: class/block holds links to the devices' folders.
        for (const QString &d : {u"sr10:5"_s, u"sda:0"_s, u"sr2:5"_s, u"sda1"_s, u"loop0"_s,
                                 u"sr0"_s,       // sr by name, whatever its type file says
                                 u"vdc:5"_s,     // a ROM under another driver's name
                                 u"srx"_s, u"sr1:5"_s}) {
            const QString name = d.section(QLatin1Char(':'), 0, 0);
            const QString type = d.section(QLatin1Char(':'), 1);
            QVERIFY(root.mkpath(u"devices/"_s + name));
            if (!type.isEmpty())
                touch(root.filePath(u"devices/%1/device/type"_s.arg(name)), type.toLatin1() + '\n');
            QVERIFY(QFile::link(root.filePath(u"devices/"_s + name), root.filePath(u"class/block/"_s + name)));
        }
        const QString block = root.filePath(u"class/block"_s);
        const QList<QByteArray> expected{"/dev/sr0", "/dev/sr1", "/dev/sr2", "/dev/sr10", "/dev/vdc"};
        QCOMPARE(listOpticalDrives(block), expected);
        QVERIFY(listOpticalDrives(root.filePath(u"missing"_s)).isEmpty());

        // Wired as the program does: the drives take the letters from D: on.
        TestEnv env;
        const DriveMap map(env.mapFolder(), [block] { return listOpticalDrives(block); });
        QCOMPARE(map.find(QLatin1Char('d')).target, QByteArray("/dev/sr0"));
        QCOMPARE(map.find(QLatin1Char('h')).target, QByteArray("/dev/vdc"));
    }

    void realDeviceNodesThatAreNoDrives()
    {
        TestEnv env;
        LinuxOpticalDevices devices(std::make_unique<LinuxCdromDevice>(), {});
        env.optical = &devices;
        QTemporaryDir dir;
        const QByteArray link = QFile::encodeName(dir.filePath(u"cdrom"_s));
        QVERIFY(::symlink("/dev/null", link.constData()) == 0);
        env.mapDevice(QLatin1Char('e'), QString::fromLatin1(link));
        env.mapDevice(QLatin1Char('f'), dir.filePath(u"sr99"_s));
        Pellor pellor(env.paths());
        QCOMPARE(pellor.DriveStatus(u"F:"_s), 0);
        try {
            pellor.DriveStatus(u"E:"_s);
            QFAIL("a character device passed for a drive");
        } catch (const RuntimeError &e) {
            QCOMPARE(e.number(), 68);
            QCOMPARE(e.description(), u"Device unavailable: %1 is no optical drive (Inappropriate ioctl for device)"_s
                                          .arg(QString::fromLatin1(link)));
        }
        QVERIFY(devices.audioTracks(link).isEmpty());
        QCOMPARE(deviceNodeNumber(link), std::optional<dev_t>(makedev(1, 3)));
        QCOMPARE(deviceNodeNumber(QFile::encodeName(dir.path())), std::nullopt);
        QCOMPARE(devices.mountPoint(dir.filePath(u"sr99"_s).toLatin1(), true), std::nullopt);
    }
};

QTEST_MAIN(OpticalTest)
#include "test_optical.moc"
