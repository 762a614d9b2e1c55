// Optical drives: a scripted drive behind CdromDevice, seen through Pellor and whole
// runs of the program, the mount table on real sample text.
#include "components/pellor.h"
#include "platform/optical/linux_optical_devices.h"
#include "startup/maintarvic.h"
#include "support/test_env.h"

#include <QtTest>
#include <linux/cdrom.h>
#include <sys/sysmacros.h>

using namespace tarvic;
using namespace tarvic::test;
using namespace Qt::StringLiterals;

// The kernel's side of drive 11:1. The disc is one letter a track: A audio, D data,
// ? an entry that cannot be read.
struct FakeCdrom final : CdromDevice
{
    int openError = 0;
    QList<int> statuses{CDS_DISC_OK};   // answered in turn; the last one stays
    QByteArray layout = "D";
    std::chrono::milliseconds slept{0};
    bool isOpen = false;
    int open(const QByteArray &) override { return isOpen = !openError, openError; }
    void close() override { isOpen = false; }
    int driveStatus() override { return statuses.size() > 1 ? statuses.takeFirst() : statuses.first(); }
    int tocHeader(TocHeader *header) override { return *header = {1, int(layout.size())}, 0; }
    int tocEntry(int track, unsigned *control) override
    {
        *control = layout.mid(track - 1, 1) == "D" ? CDROM_DATA_TRACK : 0;
        return layout.mid(track - 1, 1) == "?" ? EIO : 0;
    }
    std::optional<dev_t> deviceNumber(const QByteArray &) override { return makedev(11, 1); }
    void sleep(std::chrono::milliseconds t) override { slept += t; }
};

// Answers as told: "M" mounted at folder, "U:why" unavailable, anything else failed.
struct ScriptedMounter final : DiscMounter
{
    QString answer;
    QByteArray folder;
    MountAttempt mount(const QByteArray &device) override
    {
        const bool mounted = answer == u"M" && device == "/dev/sr1";
        const auto unmounted = answer.startsWith(u'U') ? MountAttempt::Unavailable : MountAttempt::Failed;
        return {mounted ? MountAttempt::Mounted : unmounted, folder, answer.mid(2)};
    }
};

// D: on the scripted /dev/sr1, two mounters in line (udisks2 and fstab in the program),
// a mount table and the disc's file system of our own.
struct Rig
{
    TestEnv env;
    FakeCdrom *drive = new FakeCdrom;
    ScriptedMounter *first = new ScriptedMounter, *second = new ScriptedMounter;
    QString mountInfo = env.newFolder(u"proc"_s) + u"/mountinfo"_s, disc = env.newFolder(u"media/my disc"_s);
    std::unique_ptr<LinuxOpticalDevices> devices;
    Rig()
    {
        std::vector<std::unique_ptr<DiscMounter>> line;
        line.emplace_back(first);
        line.emplace_back(second);
        devices = std::make_unique<LinuxOpticalDevices>(std::unique_ptr<CdromDevice>(drive), std::move(line), mountInfo);
        first->folder = second->folder = QFile::encodeName(disc);
        env.optical = devices.get();
        env.mapDevice(u'd', u"/dev/sr1"_s);
    }
    // The boxes shown and the programs started (and where) by a run on D:.
    QString runOnD()
    {
        mainTarvic(env.services()).Main(u"D:"_s);
        QStringList what;
        for (const ShownBox &b : env.boxes.shown)
            what << b.title + u": "_s + b.text;
        for (const StartedProgram &s : env.starter.started)
            what << s.commandLine + u" in "_s + s.workingDirectory;
        return what.join(u" | "_s);
    }
};

class OpticalTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void driveStatusFollowsTheDrive_data()
    {
        QTest::addColumn<int>("openError");
        QTest::addColumn<QList<int>>("statuses");
        QTest::addColumn<QString>("expected");   // the status, or the box the run ends in
        const int wait = CDS_DRIVE_NOT_READY;
        const QString error = u"Error: An error has occured: "_s, unusable = u"Device unavailable: /dev/sr1 "_s;
        QTest::newRow("disc ready") << 0 << QList{CDS_DISC_OK} << u"2"_s;
        QTest::newRow("no disc") << 0 << QList{CDS_NO_DISC} << u"1"_s;
        QTest::newRow("tray open") << 0 << QList{CDS_TRAY_OPEN} << u"1"_s;
        QTest::newRow("spinning up, then ready") << 0 << QList{wait, wait, wait, CDS_DISC_OK} << u"2"_s;
        QTest::newRow("never ready") << 0 << QList{wait} << u"1"_s;
        QTest::newRow("node gone") << ENOENT << QList{0} << u"0"_s;
        QTest::newRow("permission denied") << EACCES << QList{0}
                                           << error + u"Permission denied: /dev/sr1 cannot be opened (Permission "
                                                      "denied); add yourself to the cdrom group, 70"_s;
        QTest::newRow("busy") << EBUSY << QList{0}
                              << error + unusable + u"cannot be used (Device or resource busy), 68"_s;
        QTest::newRow("no optical drive")
            << 0 << QList{-ENOTTY} << error + unusable + u"is no optical drive (Inappropriate ioctl for device), 68"_s;
    }

    void driveStatusFollowsTheDrive()
    {
        QFETCH(int, openError);
        QFETCH(QList<int>, statuses);
        QFETCH(QString, expected);
        Rig rig;
        rig.drive->openError = openError;
        rig.drive->statuses = statuses;
        QCOMPARE(expected.size() == 1 ? QString::number(Pellor(rig.env.paths()).DriveStatus(u"D:"_s)) : rig.runOnD(),
                 expected);
        // A drive spinning up is waited for, one that never settles not forever.
        QCOMPARE(rig.drive->slept.count() > 0, statuses[0] == CDS_DRIVE_NOT_READY);
        QVERIFY(rig.drive->slept <= LinuxOpticalDevices::SettleTime);
        // Closed after every question, so the drive's eject button works.
        QVERIFY(!rig.drive->isOpen);
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
            rig.first->answer = u"M"_s;
        Pellor pellor(rig.env.paths());
        for (int t = 1; t <= layout.size() + 1; ++t)
            QCOMPARE(pellor.FileExists(u"D:\\track%1.cda"_s.arg(t, 2, 10, QLatin1Char('0'))),
                     listed && layout.mid(t - 1, 1) == "A");
        // Named as Windows names them: two digits, in the root, any case.
        QCOMPARE(pellor.FileExists(u"d:\\TRACK01.Cda"_s), listed && layout[0] == 'A');
        QVERIFY(!pellor.FileExists(u"D:\\track1.cda"_s) && !pellor.FileExists(u"D:\\x\\track01.cda"_s));
        QVERIFY(!pellor.FolderExists(u"D:\\track01.cda"_s) && !rig.drive->isOpen);
    }

    void discsStartWhatTheyShould_data()
    {
        QTest::addColumn<QByteArray>("layout");
        QTest::addColumn<QString>("mounters");   // their answers, as ScriptedMounter; none: the disc is mounted
        QTest::addColumn<QString>("expected");   // %S the player's start-in folder, %M the disc
        const QString started = u"D:\\Setup.exe in %M"_s, down = u"U:udisks2 is not running|"_s;
        const QString failed = u"Error: An error has occured: Disk not ready: the disc in /dev/sr1 could not be mounted: "_s;
        QTest::newRow("audio CD: its player, nothing mounted") << "AAAA"_ba << u"|"_s << u"/bin/sh in %S"_s;
        QTest::newRow("data disc already mounted") << "D"_ba << QString() << started;
        QTest::newRow("data disc mounted by the first") << "D"_ba << u"M|"_s << started;
        QTest::newRow("data disc mounted by the second") << "D"_ba << down + u"M"_s << started;
        QTest::newRow("refused by the first") << "D"_ba << u"F:udisks2: Not authorized|M"_s
                                              << failed + u"udisks2: Not authorized, 71"_s;
        QTest::newRow("neither to be had") << "D"_ba << down + u"U:/etc/fstab has no entry for /dev/sr1"_s
                                           << failed + u"udisks2 is not running; /etc/fstab has no entry for /dev/sr1, 71"_s;
    }

    void discsStartWhatTheyShould()
    {
        QFETCH(QByteArray, layout);
        QFETCH(QString, mounters);
        Rig rig;
        rig.drive->layout = layout;
        rig.env.settings().write({{Key::AudioCD, u"/bin/sh"_s}, {Key::CDSI, rig.env.configHome()}});
        touch(rig.disc + u"/AUTORUN.INF"_s, "[autorun]\r\nopen=Setup.exe\r\n");
        touch(rig.disc + u"/SETUP.EXE"_s, "MZ");
        rig.first->answer = mounters.section(u'|', 0, 0);
        rig.second->answer = mounters.section(u'|', 1);
        // Listed but not the disc's: major and minor swapped, another drive, a bind mount of a folder on it.
        if (mounters.isEmpty())
            touch(rig.mountInfo, "22 1 8:1 / / rw - ext4 /dev/sda1 rw\n90 22 1:11 / /run/x rw shared:2 - tmpfs x rw\n"
                                 "91 22 11:0 / /media/other\\040drive ro - iso9660 /dev/sr0 ro\n"
                                 "97 22 11:1 /setup /srv/bind ro shared:5 master:1 - iso9660 /dev/sr1 ro\n98 22 11:1 / "
                                     + QFile::encodeName(rig.disc).replace(" ", "\\040") + " ro - udf /dev/sr1 ro\n");
        QTEST(rig.runOnD().replace(rig.disc, u"%M"_s).replace(rig.env.configHome(), u"%S"_s), "expected");
    }
};

QTEST_MAIN(OpticalTest)
#include "test_optical.moc"
