// Device drives: a scripted drive behind DeviceNode (an optical drive, or any other
// block device), seen through Pellor and whole runs of the program; odd nodes and disc
// images as real files; the mount table on real sample text; the udisks2 client against
// the fake udisks2 on a private dbus-daemon, so the real calls, types and errors go over
// the wire, with the fstab fallback behind it on real sample text.
#include "components/pellor.h"
#include "platform/devices/disc_format.h"
#include "platform/devices/fstab_mounter.h"
#include "platform/devices/linux_devices.h"
#include "platform/devices/sys_block.h"
#include "platform/devices/udisks_mounter.h"
#include "platform/drive_lock.h"
#include "startup/maintarvic.h"
#include "support/ordinary_user.h"
#include "support/private_bus.h"
#include "support/test_env.h"

#include <QtTest>
#include <grp.h>
#include <thread>
#include <linux/cdrom.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

using namespace tarvic;
using namespace tarvic::test;
using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

// What drive 11:1 holds. An optical drive's disc is one letter a track: A audio, D data,
// ? an entry that cannot be read. Any other block device has a medium of `mediumSize`
// bytes that begins with `head`.
struct DriveScript
{
    int openError = 0;
    bool optical = true;
    QList<int> statuses{CDS_DISC_OK};   // answered in turn; the last one stays
    QByteArray layout = "D";
    quint64 mediumSize = 4096;
    QByteArray head;
};
Q_DECLARE_METATYPE(DriveScript)

// The kernel's side of that drive. Time passes only in sleep().
struct FakeDrive final : DeviceNode, DriveScript
{
    std::chrono::milliseconds slept{0};
    bool isOpen = false;
    int opens = 0, statusQuestions = 0;
    NodeInfo inspect(const QByteArray &) override
    {
        const group *cdrom = ::getgrnam("cdrom");
        return {NodeInfo::BlockDevice, 0, makedev(11, 1), 0, 0, cdrom ? cdrom->gr_gid : 0};
    }
    int open(const QByteArray &) override { return ++opens, isOpen = !openError, openError; }
    void close() override { isOpen = false; }
    bool isOptical() override { return optical; }
    int driveStatus() override { return ++statusQuestions, statuses.size() > 1 ? statuses.takeFirst() : statuses.first(); }
    int tocHeader(TocHeader *header) override { return *header = {1, int(layout.size())}, 0; }
    int tocEntry(int track, unsigned *control) override
    {
        *control = layout.mid(track - 1, 1) == "D" ? CDROM_DATA_TRACK : 0;
        return layout.mid(track - 1, 1) == "?" ? EIO : 0;
    }
    int size(quint64 *bytes) override { return *bytes = mediumSize, 0; }
    int read(qint64, qsizetype, QByteArray *into) override { return *into = head, 0; }
    void sleep(std::chrono::milliseconds t) override { slept += t; }
    std::chrono::steady_clock::time_point now() override { return std::chrono::steady_clock::time_point(slept); }
};

// Answers as told: "M" mounted at folder, "F:why" failed.
struct ScriptedMounter final : DiscMounter
{
    QString answer;
    QByteArray folder;
    MountAttempt mount(const QByteArray &device) override
    {
        const bool mounted = answer == u"M" && device == "/dev/sr1";
        return {mounted ? MountAttempt::Mounted : MountAttempt::Failed, folder, answer.mid(2)};
    }
};

// The first 68 KiB of a medium: `magic` (a file system's or a partition table's signature) at `offset`.
QByteArray headWith(qsizetype offset, QByteArrayView magic, QByteArray head = QByteArray(FormatProbeLength, '\0'))
{
    return head.replace(offset, magic.size(), magic.toByteArray());
}

const QByteArray IsoHead = headWith(0x8001, "CD001"), Ext4Head = headWith(1080, "\x53\xef");
const QByteArray MbrHead = headWith(446 + 4, "\x83", headWith(510, "\x55\xaa"));   // one Linux partition

// D: on the scripted /dev/sr1, or real nodes (disc images, also by another path, and loop
// devices as a /sys of our own shows them); a mounter, no attacher (an image attached
// says udisks2 is not running), a mount table and the disc's file system of our own.
struct Rig
{
    TestEnv env;
    FakeDrive *drive = new FakeDrive;
    ScriptedMounter *mounter = new ScriptedMounter;
    QString mountInfo = env.newFolder(u"proc"_s) + u"/mountinfo"_s, disc = env.newFolder(u"media/my disc"_s);
    QString sys = env.newFolder(u"sys/block"_s), image = env.newFolder(u"isos"_s) + u"/game.iso"_s;
    QByteArray discField = QFile::encodeName(disc).replace(" ", "\\040");   // as the mount table writes it
    std::unique_ptr<LinuxOpticalDevices> devices;
    explicit Rig(bool realNodes = false)
    {
        touch(image, IsoHead);
        QFile::link(image, env.newFolder(u"elsewhere"_s) + u"/link.iso"_s);
        std::vector<std::unique_ptr<DiscMounter>> line;
        line.emplace_back(mounter);
        std::unique_ptr<DeviceNode> node(drive);
        if (realNodes)
            node = std::make_unique<LinuxDeviceNode>(), drive = nullptr;
        devices = std::make_unique<LinuxOpticalDevices>(std::move(node), std::move(line), nullptr, mountInfo, sys);
        mounter->folder = QFile::encodeName(disc);
        env.optical = devices.get();
        env.mapDevice(u'd', u"/dev/sr1"_s);
    }
    // The boxes shown and the programs started (and where) by a run on D:.
    QString runOnD()
    {
        mainTarvic(env.services()).Main(u"D:"_s);
        return env.outcome();
    }
    // /dev/loopN showing `backing` (below the test's folders; none: detached).
    void loop(int n, const QString &backing, const QByteArray &offset = "0", const QByteArray &sizeLimit = "0")
    {
        const QString file = env.configHome() + u"/folders/"_s + backing;
        showLoop(sys, u"loop%1"_s.arg(n), backing.isEmpty() ? QByteArray() : QFile::encodeName(file), offset, sizeLimit);
    }
    QByteArray loopMounted(int n, const QByteArray &at)
    {
        const QByteArray loop = QByteArray::number(n);
        return "5" + loop + " 22 7:" + loop + " / " + at + " ro - iso9660 /dev/loop" + loop + " ro\n";
    }
    QString mountImage()
    {
        return errorOf([this] { QCOMPARE(devices->mountPoint(QFile::encodeName(image), true), QFile::encodeName(disc)); });
    }
};

class OpticalTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // An optical drive answers the cdrom ioctls; any other block device holds a disc
    // when it has a medium of its own file system.
    void driveStatusFollowsTheDrive_data()
    {
        QTest::addColumn<DriveScript>("drive");
        QTest::addColumn<QString>("expected");   // the status, or the box the run ends in
        const int wait = CDS_DRIVE_NOT_READY;
        const QString error = u"Error: An error has occured: "_s, unusable = error + u"Device unavailable: /dev/sr1 "_s;
        const auto optical = [](const QList<int> &statuses, int openError = 0) {
            return DriveScript{openError, true, statuses, "D", 0, {}};
        };
        QTest::newRow("disc ready") << optical({CDS_DISC_OK}) << u"2"_s;
        QTest::newRow("no disc") << optical({CDS_NO_DISC}) << u"1"_s;
        QTest::newRow("tray open") << optical({CDS_TRAY_OPEN}) << u"1"_s;
        QTest::newRow("spinning up, then ready") << optical({wait, wait, wait, CDS_DISC_OK}) << u"2"_s;
        QTest::newRow("never ready") << optical({wait}) << u"1"_s;
        QTest::newRow("node gone") << optical({0}, ENOENT) << u"0"_s;
        QTest::newRow("permission denied") << optical({0}, EACCES) << error + u"Permission denied: /dev/sr1 cannot be opened "
            "(Permission denied); add yourself to the cdrom group, 70"_s;
        QTest::newRow("busy") << optical({0}, EBUSY) << unusable + u"cannot be used (Device or resource busy), 68"_s;
        QTest::newRow("status refused") << optical({-ENOTTY}) << unusable + u"cannot be used (Inappropriate ioctl for device), 68"_s;
        const auto medium = [](const QByteArray &head, quint64 size = quint64(1) << 20, int openError = 0) {
            return DriveScript{openError, false, {CDS_DISC_OK}, "D", size, head};
        };
        QTest::newRow("a stick with a file system") << medium(Ext4Head) << u"2"_s;
        QTest::newRow("a medium of a file system Tarvic does not know") << medium(QByteArray(99, 'x')) << u"2"_s;
        QTest::newRow("a hybrid ISO: a partition table and ISO 9660") << medium(headWith(0x8001, "CD001", MbrHead)) << u"2"_s;
        QTest::newRow("a detached loop device: no size") << medium(Ext4Head, 0) << u"1"_s;
        QTest::newRow("a card reader without its card") << medium(Ext4Head, 1 << 20, ENOMEDIUM) << u"1"_s;
        const QString table = unusable + u"is a whole disk with a partition table (%1) and no file system of its own, so it "
                                         "cannot be a drive; map one of its partitions instead, 68"_s;
        QTest::newRow("a whole disk with an MBR") << medium(MbrHead) << table.arg(u"MBR"_s);
        QTest::newRow("a whole disk with a GPT") << medium(headWith(512, "EFI PART")) << table.arg(u"GPT"_s);
    }

    void driveStatusFollowsTheDrive()
    {
        QFETCH(DriveScript, drive);
        QFETCH(QString, expected);
        Rig rig;
        static_cast<DriveScript &>(*rig.drive) = drive;
        QCOMPARE(expected.size() == 1 ? QString::number(Pellor(rig.env.paths()).DriveStatus(u"D:"_s)) : rig.runOnD(), expected);
        // A drive spinning up is waited for, one that never settles not forever.
        QCOMPARE(rig.drive->slept.count() > 0, drive.statuses[0] == CDS_DRIVE_NOT_READY);
        QVERIFY(rig.drive->slept <= LinuxOpticalDevices::SettleTime);
        // No cdrom ioctl reaches what is no optical drive; closed after every question,
        // so the drive's eject button works.
        QVERIFY(drive.optical || rig.drive->statusQuestions == 0);
        QVERIFY(!rig.drive->isOpen);
    }

    // Real nodes and files in a private folder: each says what it is and why it is no drive.
    void whatIsNoDriveSaysWhy_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("expected");   // %P the entry's target
        const QString unusable = u"Device unavailable: %P "_s;
        const QString unknown = unusable + u"is a file of unknown format (%1), so it cannot be a drive; a disc image holds one of "
                                           "the file systems "_s + QLatin1String(knownFileSystems()) + u", 68"_s;
        const QString entries = u"an e:: entry links to a block device (an optical drive, a USB stick or its partition, a "
                                "loop device) or to a disc image, 68"_s;
        QTest::newRow("character device") << u"char"_s << unusable + u"is a character device, not a drive; "_s + entries;
        QTest::newRow("folder") << u"folder"_s << unusable + u"is a folder, not a drive; a folder is mapped with one colon (e:), 68"_s;
        QTest::newRow("named pipe") << u"fifo"_s << unusable + u"is neither a block device nor a disc image; "_s + entries;
        QTest::newRow("image of unknown format") << u"junk"_s << unknown.arg(u"none of the file systems Tarvic knows is in it"_s);
        QTest::newRow("empty image") << u"empty"_s << unknown.arg(u"it is empty"_s);
        QTest::newRow("image of a partitioned disk") << u"mbr"_s << unusable + u"is the image of a whole disk with a partition "
            "table (MBR), so it cannot be a drive; a disc image holds one file system (an .iso or a file system image), 68"_s;
        QTest::newRow("image the user may not read") << u"unreadable"_s << u"Permission denied: the disc image %P cannot be "
            "read (Permission denied), so it cannot be a drive, 70"_s;
    }

    void whatIsNoDriveSaysWhy()
    {
        QFETCH(QString, kind);
        QFETCH(QString, expected);
        Rig rig(true);
        const QString path = rig.env.newFolder(u"odd"_s) + u"/"_s + kind;
        const QByteArray native = QFile::encodeName(path);
        if (kind == u"char" && ::mknod(native, S_IFCHR | 0600, makedev(1, 3)) != 0)
            QSKIP("only root makes device nodes");
        if (kind == u"folder")
            makeFolder(path);
        if (kind == u"fifo")
            QCOMPARE(::mkfifo(native, 0600), 0);
        const QMap<QString, QByteArray> images{
            {u"junk"_s, QByteArray(80000, 'j')}, {u"empty"_s, {}}, {u"mbr"_s, MbrHead}, {u"unreadable"_s, IsoHead}};
        if (images.contains(kind))
            touch(path, images[kind]);
        std::optional<OrdinaryUser> asAnyone;
        if (kind == u"unreadable") {
            QVERIFY(QFile::setPermissions(path, QFileDevice::WriteOwner));
            if (!asAnyone.emplace().holds())
                QSKIP("root reads every file and cannot give that up here");
        }
        rig.env.mapDevice(u'd', path);
        QCOMPARE(rig.runOnD(), QString(u"Error: An error has occured: "_s + expected).replace(u"%P"_s, path));
    }

    // An image someone attached already (another path to the same file) is that loop
    // device's disc: used where it is mounted, mounted if it is not, never attached again.
    void anAttachedImageIsNotAttachedAgain()
    {
        Rig rig(true);
        rig.loop(1, u"isos/game.iso"_s, "512");   // a part of it: not its disc
        rig.loop(5, u"elsewhere/link.iso"_s);
        touch(rig.mountInfo, rig.loopMounted(1, "/media/part") + rig.loopMounted(5, rig.discField));
        QCOMPARE(rig.devices->status(QFile::encodeName(rig.image), OpticalDevices::Asking::Afresh), 2);
        QCOMPARE(rig.mountImage(), QString());

        // Attached but not mounted: mounted through the mounters as its loop device.
        touch(rig.mountInfo, rig.loopMounted(1, "/media/part"));
        rig.mounter->answer = u"F:udisks2: Not authorized"_s;
        QCOMPARE(rig.mountImage(), u"71: Disk not ready: the disc image %1 (attached as /dev/loop5) could not be mounted: udisks2: Not authorized"_s.arg(rig.image));
    }

    // Handed over by tarvic-watch: that loop device's disc, read through the image file
    // (the node is root's alone), never attached; waited for while the watcher mounts it,
    // mounted here only once that failed; gone once the loop device holds another file.
    void aHandedOverLoopDeviceIsTheDiscItShows()
    {
        Rig rig(true);
        const QString node = rig.env.newFolder(u"dev"_s) + u"/loop5"_s;
        if (::mknod(QFile::encodeName(node), S_IFBLK | 0600, makedev(7, 5)) != 0)
            QSKIP("only root makes device nodes");
        rig.loop(5, u"isos/game.iso"_s);
        touch(rig.mountInfo, rig.loopMounted(5, rig.discField));
        rig.mounter->answer = u"F:udisks2: Not authorized"_s;
        rig.devices->handOver(QFile::encodeName(rig.image), QFile::encodeName(node));
        QCOMPARE(rig.devices->status(QFile::encodeName(rig.image), OpticalDevices::Asking::Afresh), 2);
        QCOMPARE(rig.mountImage(), QString());

        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(rig.env.newFolder(u"runtime"_s)));
        const auto watcherMounts = [&](QByteArray mountLine) {
            touch(rig.mountInfo, "");
            DriveLock mounting;
            if (!mounting.holdMounting(makedev(7, 5)))
                return u"the mark could not be made"_s;
            std::thread watcher([&] {
                QThread::msleep(100);
                touch(rig.mountInfo, mountLine);
                QThread::msleep(100);
                mounting.release();
            });
            const QString error = rig.mountImage();
            watcher.join();
            return error;
        };
        QCOMPARE(watcherMounts(rig.loopMounted(5, rig.discField)), QString());
        QVERIFY(watcherMounts("").contains(u"could not be mounted: udisks2: Not authorized"_s));
        qunsetenv("XDG_RUNTIME_DIR");

        touch(rig.env.newFolder(u"isos"_s) + u"/other.iso"_s, IsoHead);
        rig.loop(5, u"isos/other.iso"_s);
        QCOMPARE(rig.mountImage(), u"71: Disk not ready: the medium %1 that tarvic-watch saw arrive is gone"_s.arg(node));
    }

    // The loop device that is an image's disc, for tarvic and tarvic-watch alike: one
    // that shows the whole file (offset 0, no size limit), that very file by any path.
    void aLoopDeviceIsTheDiscOfTheWholeImageFileOnly_data()
    {
        QTest::addColumn<QString>("backing");   // what the loop device shows, below the test's folder
        QTest::addColumn<QByteArray>("offset");
        QTest::addColumn<QByteArray>("sizeLimit");
        QTest::addColumn<bool>("isTheDisc");
        QTest::newRow("the whole image") << u"isos/game.iso"_s << "0"_ba << "0"_ba << true;
        QTest::newRow("the image by another path") << u"elsewhere/link.iso"_s << "0"_ba << "0"_ba << true;
        QTest::newRow("a part at an offset") << u"isos/game.iso"_s << "32768"_ba << "0"_ba << false;
        QTest::newRow("a part of limited size") << u"isos/game.iso"_s << "0"_ba << "65536"_ba << false;
        QTest::newRow("a file of its name, deleted since") << u"isos/game.iso (deleted)"_s << "0"_ba << "0"_ba << false;
        QTest::newRow("another file of the same name") << u"copies/game.iso"_s << "0"_ba << "0"_ba << false;
        QTest::newRow("detached") << QString() << "0"_ba << "0"_ba << false;
    }

    void aLoopDeviceIsTheDiscOfTheWholeImageFileOnly()
    {
        QFETCH(QString, backing);
        QFETCH(QByteArray, offset);
        QFETCH(QByteArray, sizeLimit);
        Rig rig(true);
        touch(rig.env.newFolder(u"copies"_s) + u"/game.iso"_s, IsoHead);
        // The kernel's mark of a deleted file, not part of its path, even where that path leads to the image.
        QVERIFY(QFile::link(rig.image, rig.image + u" (deleted)"_s));
        rig.loop(3, backing, offset, sizeLimit);
        const std::optional<LoopDevice> loop = loopDeviceOf(inspectNode(QFile::encodeName(rig.image)), rig.sys);
        QTEST(loop.has_value(), "isTheDisc");
        QVERIFY(!loop || (loop->node == "/dev/loop3" && loop->number == makedev(7, 3)));
    }

    void trackFilesFollowTheTableOfContents_data()
    {
        QTest::addColumn<QByteArray>("layout");
        QTest::newRow("audio CD") << "AAA"_ba;
        QTest::newRow("data disc") << "D"_ba;
        QTest::newRow("mixed: audio after data") << "DAA"_ba;
        QTest::newRow("enhanced: audio first") << "AAD"_ba;
        QTest::newRow("an entry that cannot be read") << "A?A"_ba;
        QTest::newRow("more than 99 tracks") << QByteArray(120, 'A');
    }

    void trackFilesFollowTheTableOfContents()
    {
        QFETCH(QByteArray, layout);
        // A disc is untrusted: a header no pressing plant makes means no tracks.
        const bool listed = layout.size() <= 99;
        Rig rig;
        rig.drive->layout = layout;
        // What is no track is looked for on the disc's file system; a known audio CD has none to mount.
        if (!listed || layout.contains('D'))
            rig.mounter->answer = u"M"_s;
        Pellor pellor(rig.env.paths());
        for (int t = 1; t <= layout.size() + 1; ++t)
            QCOMPARE(pellor.FileExists(u"D:\\track%1.cda"_s.arg(t, 2, 10, QLatin1Char('0'))), listed && layout.mid(t - 1, 1) == "A");
        // Named as Windows names them: two digits, in the root, any case.
        QCOMPARE(pellor.FileExists(u"d:\\TRACK01.Cda"_s), listed && layout[0] == 'A');
        QVERIFY(!pellor.FileExists(u"D:\\track1.cda"_s) && !pellor.FileExists(u"D:\\x\\track01.cda"_s));
        QVERIFY(!pellor.FolderExists(u"D:\\track01.cda"_s) && !rig.drive->isOpen);
    }

    // Each status question of the dispatch (Main's, then one a box) asks the drive afresh,
    // one open each; the path questions that follow take what it learnt, until that is no
    // longer recent.
    void discsStartWhatTheyShould_data()
    {
        QTest::addColumn<QByteArray>("layout");   // none: a USB stick
        QTest::addColumn<QString>("mounter");     // its answer; none: the disc is mounted
        QTest::addColumn<int>("retries");         // "Disc Request" boxes answered Retry before the disc is in
        QTest::addColumn<QString>("expected");    // %S the player's start-in folder, %M the disc
        const QString started = u"D:\\Setup.exe in %M"_s;
        const QString failed = u"Error: An error has occured: Disk not ready: the disc in /dev/sr1 could not be mounted: "_s;
        const QString request = u"Disc Request: No disc was found in drive D:.  Please insert a disc and try again | "_s;
        QTest::newRow("audio CD: its player, nothing mounted") << "AAAA"_ba << u"F:no file system"_s << 0 << u"/bin/sh in %S"_s;
        QTest::newRow("data disc already mounted") << "D"_ba << QString() << 0 << started;
        QTest::newRow("stick already mounted") << QByteArray() << QString() << 0 << started;
        QTest::newRow("data disc after two boxes") << "D"_ba << QString() << 2 << request + request + started;
        QTest::newRow("data disc mounted on request") << "D"_ba << u"M"_s << 0 << started;
        QTest::newRow("mounting refused") << "D"_ba << u"F:udisks2: Not authorized"_s << 0 << failed + u"udisks2: Not authorized, 71"_s;
        QTest::newRow("data disc mounted where another user's folder keeps us out") << "D"_ba << u"-"_s << 0
            << u"Error: An error has occured: Permission denied: the disc in /dev/sr1 is mounted at %M by another user "
               "and cannot be read here (Permission denied), 70"_s;
    }

    void discsStartWhatTheyShould()
    {
        QFETCH(QByteArray, layout);
        QFETCH(QString, mounter);
        QFETCH(int, retries);
        Rig rig;
        rig.drive->optical = !layout.isEmpty();
        rig.drive->layout = layout;
        rig.drive->head = Ext4Head;
        rig.drive->statuses = QList<int>(retries ? 1 + retries : 0, CDS_NO_DISC) << CDS_DISC_OK;
        rig.env.boxes.answers = QList<int>(retries, Mb::Retry);
        rig.env.settings().write({{Key::AudioCD, u"/bin/sh"_s}, {Key::CDSI, rig.env.configHome()}});
        touch(rig.disc + u"/AUTORUN.INF"_s, "[autorun]\r\nopen=Setup.exe\r\n");
        touch(rig.disc + u"/SETUP.EXE"_s, "MZ");
        rig.mounter->answer = mounter;
        // udisks2 mounts another user's disc under /media/<user>, mode 0750.
        const QString users = QFileInfo(rig.disc).path();
        const auto reopen = qScopeGuard([&] { QFile::setPermissions(users, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner); });
        std::optional<OrdinaryUser> asAnyone;
        if (mounter == u"-") {
            QVERIFY(QFile::setPermissions(users, {}));
            if (!asAnyone.emplace().holds())
                QSKIP("root reads every folder and cannot give that up here");
        }
        // Listed but not the disc's: major and minor swapped, another drive, a bind mount of a folder on it.
        if (mounter.isEmpty() || mounter == u"-")
            touch(rig.mountInfo, "22 1 8:1 / / rw - ext4 /dev/sda1 rw\n90 22 1:11 / /run/x rw shared:2 - tmpfs x rw\n"
                                 "91 22 11:0 / /media/other\\040drive ro - iso9660 /dev/sr0 ro\n"
                                 "97 22 11:1 /setup /srv/bind ro shared:5 master:1 - iso9660 /dev/sr1 ro\n98 22 11:1 / "
                                     + rig.discField + " ro - udf /dev/sr1 ro\n");
        QTEST(rig.runOnD().replace(rig.disc, u"%M"_s).replace(rig.env.configHome(), u"%S"_s), "expected");
        QCOMPARE(rig.drive->opens, 2 + retries);

        // A moment later the drive is asked again: the disc may have changed since.
        Pellor pellor(rig.env.paths());
        const int before = rig.drive->opens;
        errorOf([&] { pellor.FileExists(u"D:\\Setup.exe"_s); });   // where the disc cannot be mounted, that says so again
        QCOMPARE(rig.drive->opens, before);
        rig.drive->sleep(LinuxOpticalDevices::RecentFor + std::chrono::milliseconds(1));
        errorOf([&] { pellor.FolderExists(u"D:\\VIDEO_TS"_s); });
        QCOMPARE(rig.drive->opens, before + 1);
    }

    // A drive's disc (a device node of our own) is mounted through udisks2, or else through
    // fstab; a disc image goes to udisks2 as an open descriptor with read-only asked for,
    // and is mounted on the loop device it gets, which is set to go when unmounted.
    void mountingThroughUdisks_data()
    {
        QTest::addColumn<QString>("mode");       // of the fake ("mounted": mounted already); none: no service on the bus
        QTest::addColumn<QByteArray>("fstab");   // its entry, %D the drive, %L a link to it; none: the image is mounted
        QTest::addColumn<QString>("expected");   // the mount point or the error | what the fake was asked
        const QByteArray user = "%D /media/cd\\040rom udf,iso9660 user,noauto 0 0";
        const QString error = u"71: Disk not ready: the disc in %D could not be mounted: udisks2"_s;
        const QString image = u"71: Disk not ready: the disc image %I could not be attached: udisks2"_s;
        QTest::newRow("mounted on request") << u"mount"_s << user << u"/media/anna/MY DISC|ResolveDevice Get Mount"_s;
        QTest::newRow("file system gone for a moment: asked again")
            << u"vanishing"_s << user << u"/media/anna/MY DISC|ResolveDevice Get Mount ResolveDevice Get Mount"_s;
        QTest::newRow("already mounted: not again") << u"mounted"_s << user << u"/media/anna/CD|ResolveDevice Get"_s;
        QTest::newRow("refused: fstab not tried")
            << u"refuse"_s << user << error + u": Not authorized to perform operation|ResolveDevice Get Mount"_s;
        // The slow fake answers after 10 s: a client that waited would have the disc mounted.
        QTest::newRow("too slow") << u"slow"_s << user << error + u": no answer within 2000 ms|ResolveDevice"_s;
        QTest::newRow("no service: fstab, user") << QString() << user << u"/media/cd rom|"_s;
        QTest::newRow("no service: fstab, users by device number") << QString() << "%L /mnt/dvd auto ro,users 0 0"_ba << u"/mnt/dvd|"_s;
        QTest::newRow("no service: fstab, neither") << QString() << "%D /mnt/dvd auto noauto,user=anna 0 0"_ba
                                                    << error + u" is not running; the entry for %D in %F lacks the option user or users|"_s;
        QTest::newRow("no service: no fstab entry") << QString() << "/dev/zero /media/zero auto user 0 0"_ba
                                                    << error + u" is not running; %F has no entry for %D|"_s;
        QTest::newRow("no service: mount fails") << QString() << "%D /media/fail auto user 0 0"_ba
                                                 << error + u" is not running; mount /media/fail: no medium found|"_s;
        QTest::newRow("image attached and mounted") << u"mount"_s << QByteArray()
                                                    << u"/media/anna/MY DISC|LoopSetup ro 1/2/3 Get Mount SetAutoclear"_s;
        QTest::newRow("image refused: the loop device goes again") << u"refuse"_s << QByteArray()
            << image + u": Not authorized to perform operation|LoopSetup ro 1/2/3 Get Mount Delete"_s;
        QTest::newRow("image, no service") << QString() << QByteArray()
            << image + u" is not running, and a disc image is attached as a loop device through udisks2|"_s;
    }

    void mountingThroughUdisks()
    {
        QFETCH(QString, mode);
        QFETCH(QByteArray, fstab);
        QTemporaryDir dir;
        PrivateBus bus;
        FakeUdisks service;
        QVERIFY(bus.start(dir.filePath(u"bus"_s)));
        // A drive of our own: a block node of a device number no driver answers.
        const QString drive = dir.filePath(u"sr0"_s), link = dir.filePath(u"cdrom"_s), table = dir.filePath(u"fstab"_s),
                      mount = dir.filePath(u"mnt"_s), image = dir.filePath(u"game.iso"_s);
        if (::mknod(QFile::encodeName(drive), S_IFBLK | 0600, makedev(11, 250)) != 0)
            QSKIP("only root makes device nodes");
        QVERIFY(QFile::link(drive, link));
        touch(image, "1/2/3");
        const QString points = mode == u"mounted" ? u"/media/anna/CD"_s : QString();
        if (!mode.isEmpty())
            QVERIFY(service.start(bus.address, {u"add block_devices/sr0 Block Device="_s + drive,
                                                u"add block_devices/sr0 Filesystem MountPoints="_s + points}, mode));
        touch(table, "UUID=4f1c / ext4 defaults 0 1\n\t# /dev/sr9 /media/old iso9660 user 0 0\n\n"
                         + fstab.replace("%L", QFile::encodeName(link)).replace("%D", QFile::encodeName(drive)) + '\n');
        // mount(8) succeeds given nothing but a mount point (but /media/fail).
        touch(mount, "#!/bin/sh\n[ $# = 1 ] && [ \"$1\" != /media/fail ] && exit\necho no medium found >&2; exit 32");
        QVERIFY(QFile::setPermissions(mount, QFile::ReadOwner | QFile::ExeOwner));
        const QDBusConnection connection = QDBusConnection::connectToBus(bus.address, bus.address);
        std::vector<std::unique_ptr<DiscMounter>> line;
        line.push_back(std::make_unique<UdisksMounter>(connection, 2s, 2s));
        line.push_back(std::make_unique<FstabMounter>(table, mount));
        // The kernel's own answers: a device node, mounted nowhere, no table of contents, no loop device.
        LinuxOpticalDevices devices(std::make_unique<LinuxDeviceNode>(), std::move(line),
                                    std::make_unique<UdisksImageAttacher>(connection, 2s, 2s), dir.filePath(u"none"_s), dir.path());
        const QByteArray target = QFile::encodeName(fstab.isEmpty() ? image : drive);
        QString got;
        const QString error = errorOf([&] { got = QString::fromUtf8(devices.mountPoint(target, true).value_or("none")); });
        service.stop();
        QTEST(QString(got + error + u'|' + service.asked()).replace(table, u"%F"_s).replace(drive, u"%D"_s).replace(image, u"%I"_s),
              "expected");
    }
};

QTEST_MAIN(OpticalTest)
#include "test_devices.moc"
