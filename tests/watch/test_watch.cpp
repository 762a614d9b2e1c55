// The watcher's decisions without a bus: which drive a block device is, whether a
// medium is in, and when that is a new insertion. udisks2's objects are given as
// the D-Bus side hands them over; the drive map is a real folder of links.
#include "platform/drive_lock.h"
#include "platform/drive_map.h"
#include "support/test_env.h"
#include "watch/insertion_watch.h"

#include <QDBusObjectPath>
#include <QtTest>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace tarvic;
using namespace Qt::StringLiterals;

namespace {

const QString cd = u"/org/freedesktop/UDisks2/drives/cd"_s;
const QString sr0 = u"/org/freedesktop/UDisks2/block_devices/sr0"_s;
const QString stick = u"/org/freedesktop/UDisks2/drives/stick"_s;
const QString sdb1 = u"/org/freedesktop/UDisks2/block_devices/sdb1"_s;
const QString loop0 = u"/org/freedesktop/UDisks2/block_devices/loop0"_s;
const QString loop1 = u"/org/freedesktop/UDisks2/block_devices/loop1"_s;

QVariantMap block(const QByteArray &device, const QString &drive, quint64 size,
                  const QList<QByteArray> &links = {}, quint64 number = 0)
{
    return {{u"Device"_s, device + '\0'}, {u"Drive"_s, QVariant::fromValue(QDBusObjectPath(drive))},
            {u"Size"_s, size}, {u"Symlinks"_s, QVariant::fromValue(links)}, {u"DeviceNumber"_s, number}};
}

QVariantMap media(bool available, bool optical = false, uint audio = 0, uint data = 0, bool blank = false)
{
    return {{u"MediaAvailable"_s, available}, {u"Optical"_s, optical}, {u"OpticalNumAudioTracks"_s, audio},
            {u"OpticalNumDataTracks"_s, data}, {u"OpticalBlank"_s, blank}};
}

// What /sys/block shows of a loop device: `file` from `offset` on, no size limit.
void showLoop(const QString &sysBlock, const QString &name, const QByteArray &file, const QByteArray &offset = "0")
{
    test::touch(sysBlock + u'/' + name + u"/loop/backing_file"_s, file + '\n');
    test::touch(sysBlock + u'/' + name + u"/loop/offset"_s, offset + '\n');
    test::touch(sysBlock + u'/' + name + u"/loop/sizelimit"_s, "0\n");
    test::touch(sysBlock + u'/' + name + u"/dev"_s, "7:0\n");
}

// The machine of every scenario: a CD drive, an empty loop device, a USB stick's partition.
QMap<QString, InterfaceMap> machine(bool discIn = false)
{
    return {{cd, {{Udisks::Drive, media(discIn, discIn, 0, discIn ? 1 : 0)}}},
            {sr0, {{Udisks::Block, block("/dev/sr0", cd, 0)}}},
            {loop0, {{Udisks::Block, block("/dev/loop0", u"/"_s, 0)}, {Udisks::Loop, {{u"BackingFile"_s, QByteArray()}}}}},
            {stick, {{Udisks::Drive, media(true)}}},
            {sdb1, {{Udisks::Block, block("/dev/sdb1", stick, 8000000)}}}};
}

struct Watch
{
    test::TestEnv env;   // a private drive map
    QList<QChar> started;
    QStringList log;
    bool launches = true;
    QList<QByteArray> opticalDrives;
    QString sysBlock = env.newFolder(u"sys/block"_s);
    InsertionWatch watch{[this] { return DriveMap(env.mapFolder(), [this] { return opticalDrives; }).entries(); },
                         [this](QChar letter, const BlockDevice &) { started << letter; return launches; },
                         [this](const QString &line) { log << line; }, DriveLock::isHeld, sysBlock};

    // udisks2's first answer: the machine, with or without a disc in the CD drive.
    void begin(bool discIn = false)
    {
        watch.replaceAll(machine(discIn));
        watch.look();
    }
    // A disc image file of our own, mapped to `letter`.
    QByteArray image(const QString &name, QChar letter = {})
    {
        const QString file = env.configHome() + u"/folders/images/"_s + name;
        test::touch(file, "disc");
        if (!letter.isNull())
            env.mapDevice(letter, file);
        return QFile::encodeName(file);
    }
    void set(const QString &object, const QString &interface, const QVariantMap &changed)
    {
        watch.objects().changeProperties(object, interface, changed, {});
        watch.look();
    }
    void attach(const QString &loop, const QByteArray &file, quint64 size = 4096)
    {
        showLoop(sysBlock, loop.section(u'/', -1), file);
        watch.objects().addInterfaces(loop, {{Udisks::Block, block("/dev/" + loop.section(u'/', -1).toUtf8(), u"/"_s, size)},
                                             {Udisks::Loop, {{u"BackingFile"_s, file + '\0'}}}});
        watch.look();
    }
};

} // namespace

class WatchTest : public QObject
{
    Q_OBJECT
    QTemporaryDir m_runtime;   // where the marks of letters being handled are

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_runtime.isValid());
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime.path()));
    }

    void mediumIsJudgedByWhatKindOfDeviceItIs_data()
    {
        QTest::addColumn<QVariantMap>("blockProperties");
        QTest::addColumn<QVariantMap>("driveProperties");   // empty: no drive known
        QTest::addColumn<QByteArray>("backingFile");        // "-": no loop device
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("kind");
        const QVariantMap emptyCd = block("/dev/sr0", cd, 0), noDrive;
        const QByteArray none = "-";
        const int in = int(Medium::In), out = int(Medium::None);
        QTest::newRow("audio CD: no size, no file system") << emptyCd << media(true, true, 12, 0) << none << in << u"audio CD"_s;
        QTest::newRow("mixed-mode CD") << emptyCd << media(true, true, 10, 1) << none << in << u"disc"_s;
        QTest::newRow("data DVD") << block("/dev/sr0", cd, 4700000000) << media(true, true, 0, 1) << none << in << u"disc"_s;
        QTest::newRow("blank disc") << emptyCd << media(true, true, 0, 0, true) << none << int(Medium::Blank) << u"blank disc"_s;
        QTest::newRow("empty tray, a size left over") << block("/dev/sr0", cd, 700) << media(false) << none << out << QString();
        QTest::newRow("card in a reader") << block("/dev/sdc", stick, 1000) << media(true) << none << in << u"medium"_s;
        QTest::newRow("reader, no card yet sized") << block("/dev/sdc", stick, 0) << media(true) << none << out << QString();
        QTest::newRow("partition, drive unknown") << block("/dev/sdb1", stick, 1000) << noDrive << none << in << u"medium"_s;
        QTest::newRow("image attached") << block("/dev/loop0", u"/"_s, 4096) << noDrive << "/srv/e.img"_ba << in << u"image"_s;
        QTest::newRow("loop detached") << block("/dev/loop0", u"/"_s, 0) << noDrive << QByteArray() << out << QString();
        QTest::newRow("loop sized, file not yet told") << block("/dev/loop0", u"/"_s, 4096) << noDrive << QByteArray() << out
                                                       << QString();
    }

    void mediumIsJudgedByWhatKindOfDeviceItIs()
    {
        QFETCH(QVariantMap, blockProperties);
        QFETCH(QVariantMap, driveProperties);
        QFETCH(QByteArray, backingFile);
        UdisksObjects objects;
        InterfaceMap device{{Udisks::Block, blockProperties}, {u"org.freedesktop.UDisks2.Filesystem"_s, {}}};
        if (backingFile != "-")
            device.insert(Udisks::Loop, {{u"BackingFile"_s, backingFile + '\0'}});
        objects.addInterfaces(u"/b"_s, device);
        if (!driveProperties.isEmpty())
            objects.addInterfaces(blockProperties.value(u"Drive"_s).value<QDBusObjectPath>().path(),
                                  {{Udisks::Drive, driveProperties}});
        const QList<BlockDevice> blocks = objects.blockDevices();
        QCOMPARE(blocks.size(), 1);
        const Medium m = mediumOf(blocks.first(), objects.drive(blocks.first().drive));
        QTEST(int(m.state), "state");
        QTEST(m.kind, "kind");
    }

    void driveMapNamesTheBlockDevice()
    {
        test::TestEnv env;
        const QString folder = env.newFolder(u"files"_s);
        const QByteArray image = QFile::encodeName(folder + u"/game.img"_s);
        test::touch(QFile::decodeName(image), "disc");
        QVERIFY(QFile::link(QFile::decodeName(image), folder + u"/link.img"_s));
        test::touch(folder + u"/copy.img"_s, "disc");
        env.mapDevice(u'D', u"/dev/sr0"_s);
        env.mapDevice(u'E', folder + u"/link.img"_s);     // an image, through a link
        env.mapDevice(u'F', u"/dev/disk/by-label/STICK"_s);
        env.mapDrive(u'G', folder);                       // a folder entry names no device
        const DriveMap map(env.mapFolder());
        const QString sys = env.newFolder(u"sys"_s);
        const QByteArray copy = QFile::encodeName(folder + u"/copy.img"_s);
        showLoop(sys, u"loop3"_s, image);
        showLoop(sys, u"loop4"_s, copy);
        showLoop(sys, u"loop5"_s, image, "32768");
        const auto letter = [&](const BlockDevice &b) { return letterOf(map.entries(), b, sys).value_or(u'-'); };

        QCOMPARE(letter({u"/b"_s, "/dev/sr0", {}, 0, 0, u"/"_s, {}}), u'D');
        QCOMPARE(letter({u"/b"_s, "/dev/sdb1", {"/dev/disk/by-label/STICK"}, 0, 0, u"/"_s, {}}), u'F');
        QCOMPARE(letter({u"/b"_s, "/dev/loop3", {}, 0, 0, u"/"_s, image}), u'E');
        // A copy of the image is another disc, a part of it none; a loop named like a drive's node is not that drive.
        QCOMPARE(letter({u"/b"_s, "/dev/loop4", {}, 0, 0, u"/"_s, copy}), u'-');
        QCOMPARE(letter({u"/b"_s, "/dev/loop5", {}, 0, 0, u"/"_s, image}), u'-');
        QCOMPARE(letter({u"/b"_s, "/dev/sr1", {}, 0, 0, u"/"_s, {}}), u'-');
        QCOMPARE(letter({u"/b"_s, QFile::encodeName(folder), {}, 0, 0, u"/"_s, {}}), u'-');

        // By device number: a node of the map's own, made where only the test looks.
        if (::geteuid() != 0)
            QSKIP("mknod needs root: the match by device number is not checked");
        const QByteArray node = QFile::encodeName(folder + u"/mycd"_s);
        QVERIFY(::mknod(node.constData(), S_IFBLK | 0600, ::makedev(11, 0)) == 0);
        env.mapDevice(u'H', QFile::decodeName(node));
        QCOMPARE(letter({u"/b"_s, "/dev/sr9", {}, ::makedev(11, 0), 0, u"/"_s, {}}), u'H');
        QCOMPARE(letter({u"/b"_s, "/dev/sr8", {}, ::makedev(11, 1), 0, u"/"_s, {}}), u'-');
    }

    void opticalDrivesTakeLettersOnlyWhenTheMapNamesNoDevice()
    {
        Watch w;
        w.opticalDrives = {"/dev/sr0"};
        w.begin();
        w.set(cd, Udisks::Drive, media(true, true, 0, 1));
        QCOMPARE(w.started, QList<QChar>{u'D'});
        QCOMPARE(w.log, QStringList{u"D: disc in /dev/sr0: starting tarvic D:"_s});

        // With a device entry of its own the map decides alone.
        w.env.mapDevice(u'E', u"/dev/sdb1"_s);
        w.set(cd, Udisks::Drive, media(false));
        w.set(cd, Udisks::Drive, media(true, true, 0, 1));
        QCOMPARE(w.started, QList<QChar>{u'D'});
        QCOMPARE(w.log.last(), u"disc in /dev/sr0: not in the drive map, ignored"_s);
    }

    void oneInsertionStartsOnceAndAReturnIsANewOne()
    {
        Watch w;
        w.env.mapDevice(u'D', u"/dev/sr0"_s);
        w.begin();
        // Everything an arriving disc raises, some of it twice.
        w.set(cd, Udisks::Drive, media(true, true, 0, 1));
        w.set(sr0, Udisks::Block, {{u"Size"_s, 650000000ull}});
        w.watch.objects().addInterfaces(sr0, {{u"org.freedesktop.UDisks2.Filesystem"_s, {}}});
        w.watch.look();
        w.set(cd, Udisks::Drive, {{u"MediaAvailable"_s, true}});
        w.set(sr0, Udisks::Block, {{u"IdLabel"_s, u"DISC"_s}});
        QCOMPARE(w.started, QList<QChar>{u'D'});

        w.set(cd, Udisks::Drive, media(false));
        QCOMPARE(w.log.last(), u"D: /dev/sr0 taken out"_s);
        w.set(cd, Udisks::Drive, media(true, true, 0, 1));
        QCOMPARE(w.started, (QList<QChar>{u'D', u'D'}));

        // The drive's block device gone (a USB drive pulled) ends the insertion too.
        w.watch.objects().removeInterfaces(sr0, {Udisks::Block});
        w.watch.look();
        QCOMPARE(w.log.last(), u"D: /dev/sr0 gone"_s);
        w.watch.objects().addInterfaces(sr0, {{Udisks::Block, block("/dev/sr0", cd, 650000000)}});
        w.watch.look();
        QCOMPARE(w.started, (QList<QChar>{u'D', u'D', u'D'}));

        // News of a device never announced makes no half a device.
        const qsizetype logged = w.log.size();
        w.set(u"/org/freedesktop/UDisks2/block_devices/sdz"_s, Udisks::Block, {{u"Size"_s, 1000ull}});
        QCOMPARE(w.log.size(), logged);
    }

    void whatIsInAtTheStartOrWhileUdisksWasAwayIsJudgedByTheLastLook()
    {
        Watch w;
        w.env.mapDevice(u'D', u"/dev/sr0"_s);
        // Nothing is looked at before udisks2's first answer, and what that shows is in already.
        w.set(cd, Udisks::Drive, media(true, true, 0, 1));
        w.begin(true);
        QCOMPARE(w.started, QList<QChar>());
        QCOMPARE(w.log, QStringList());

        // Gone and back with the disc still in: the same insertion.
        w.watch.forget();
        w.set(cd, Udisks::Drive, media(false));
        w.begin(true);
        QCOMPARE(w.started, QList<QChar>());
        // Gone, the disc taken out meanwhile, back: the out is seen; the next disc starts.
        w.watch.forget();
        w.begin(false);
        w.set(cd, Udisks::Drive, media(true, true, 0, 1));
        QCOMPARE(w.started, QList<QChar>{u'D'});
        // Gone, a disc put in meanwhile, back: that is an insertion.
        w.set(cd, Udisks::Drive, media(false));
        w.watch.forget();
        w.begin(true);
        QCOMPARE(w.started, (QList<QChar>{u'D', u'D'}));
    }

    void imagesAreMatchedByTheirFileWhoeverAttachesThem()
    {
        Watch w;
        const QByteArray e = w.image(u"e.img"_s, u'E'), other = w.image(u"other.img"_s);
        w.begin();

        w.attach(loop0, other);
        QCOMPARE(w.log.last(), u"image in /dev/loop0: not in the drive map, ignored"_s);
        // The same loop device given the mapped image without a moment of none between.
        showLoop(w.sysBlock, u"loop0"_s, e);
        w.set(loop0, Udisks::Loop, {{u"BackingFile"_s, e + '\0'}});
        QCOMPARE(w.started, QList<QChar>{u'E'});
        QCOMPARE(w.log.last(), u"E: image in /dev/loop0: starting tarvic E:"_s);
        // Attached twice at one moment: one start for the letter.
        w.set(loop0, Udisks::Block, {{u"Size"_s, 0ull}});
        w.watch.objects().changeProperties(loop0, Udisks::Block, {{u"Size"_s, 4096ull}}, {});
        showLoop(w.sysBlock, u"loop1"_s, e);
        w.watch.objects().addInterfaces(loop1, {{Udisks::Block, block("/dev/loop1", u"/"_s, 4096)},
                                                {Udisks::Loop, {{u"BackingFile"_s, e + '\0'}}}});
        w.watch.look();
        QCOMPARE(w.started, (QList<QChar>{u'E', u'E'}));
        // Detached: the size goes first, the file after; attached again: a new insertion.
        w.set(loop1, Udisks::Block, {{u"Size"_s, 0ull}});
        w.set(loop1, Udisks::Loop, {{u"BackingFile"_s, QByteArray()}});
        w.attach(loop1, e);
        QCOMPARE(w.started, (QList<QChar>{u'E', u'E', u'E'}));
    }

    void aMediumThatIsNoDiscStartsOnlyWhereItsLetterAsks()
    {
        Watch w;
        w.env.mapDevice(u'F', u"/dev/sdb1"_s);
        w.env.mapDevice(u'G', u"/dev/loop0"_s);   // a loop device is a disc image, whatever its file
        w.begin();
        const auto reinsert = [&w] {
            w.set(stick, Udisks::Drive, media(false));
            w.set(stick, Udisks::Drive, media(true));
        };
        reinsert();
        w.attach(loop0, w.image(u"unmapped.img"_s));
        QCOMPARE(w.started, QList<QChar>{u'G'});
        QVERIFY(w.log.contains(u"F: medium in /dev/sdb1: no disc, not started (f::watch in the drive map turns it on)"_s));
        test::touch(w.env.mapFolder() + u"/f::watch"_s);
        reinsert();
        QCOMPARE(w.started, (QList<QChar>{u'G', u'F'}));
    }

    void aLetterThatTarvicIsHandlingStartsNothing()
    {
        Watch w;
        const QByteArray e = w.image(u"e.img"_s, u'E');
        w.env.mapDevice(u'D', u"/dev/sr0"_s);
        w.begin();

        // tarvic E: attaching the image itself.
        DriveLock tarvic;
        QVERIFY(tarvic.hold(u'e'));
        w.attach(loop0, e);
        QCOMPARE(w.started, QList<QChar>());
        QCOMPARE(w.log.last(), u"E: image in /dev/loop0: tarvic is already handling E:, not started again"_s);
        // Another letter is no concern of that tarvic.
        w.set(cd, Udisks::Drive, media(true, true, 0, 1));
        QCOMPARE(w.started, QList<QChar>{u'D'});
        // That insertion stays handled after tarvic ends; the next one starts.
        tarvic.release();
        w.set(loop0, Udisks::Block, {{u"IdLabel"_s, u"DISC"_s}});
        QCOMPARE(w.started, QList<QChar>{u'D'});
        w.set(loop0, Udisks::Block, {{u"Size"_s, 0ull}});
        QCOMPARE(w.log.last(), u"E: /dev/loop0 taken out"_s);
        w.set(loop0, Udisks::Block, {{u"Size"_s, 4096ull}});
        QCOMPARE(w.started, (QList<QChar>{u'D', u'E'}));
        QCOMPARE(w.log.last(), u"E: image in /dev/loop0: starting tarvic E:"_s);
    }

    void aFailedStartIsToldAndTheWatchGoesOn()
    {
        Watch w;
        w.env.mapDevice(u'D', u"/dev/sr0"_s);
        w.launches = false;
        w.watch.replaceAll(machine());
        QCOMPARE(w.watch.look(), 0);
        w.watch.objects().changeProperties(cd, Udisks::Drive, media(true, true, 0, 1), {});
        QCOMPARE(w.watch.look(), 0);
        QCOMPARE(w.started, QList<QChar>{u'D'});
        w.launches = true;
        w.set(cd, Udisks::Drive, media(false));
        w.watch.objects().changeProperties(cd, Udisks::Drive, media(true, true, 0, 1), {});
        QCOMPARE(w.watch.look(), 1);
    }
};

QTEST_GUILESS_MAIN(WatchTest)
#include "test_watch.moc"
