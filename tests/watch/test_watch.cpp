// The watcher's decisions without a bus: which drive a block device is, whether a medium
// is in, when that is a new insertion; udisks2's objects as the D-Bus side hands them over.
#include "platform/drive_lock.h"
#include "platform/drive_map.h"
#include "support/test_env.h"
#include "watch/insertion_watch.h"
#include "watch/standby.h"

#include <QDBusObjectPath>
#include <QtTest>
#include <csignal>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace tarvic;
using namespace Qt::StringLiterals;

namespace {

const QString drivePath = u"/org/freedesktop/UDisks2/drives/"_s, blockPath = u"/org/freedesktop/UDisks2/block_devices/"_s;
const QString cd = drivePath + u"cd"_s, stick = drivePath + u"stick"_s;
const QString sr0 = blockPath + u"sr0"_s, sdb1 = blockPath + u"sdb1"_s, loop0 = blockPath + u"loop0"_s, loop1 = blockPath + u"loop1"_s;

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

// What udisks2 first shows of the machine: a CD drive, an empty loop device, a USB stick's partition.
QMap<QString, InterfaceMap> machine(bool discIn = false)
{
    return {{cd, {{Udisks::Drive, media(discIn, discIn, 0, discIn ? 1 : 0)}}},
            {sr0, {{Udisks::Block, block("/dev/sr0", cd, 0)}}},
            {loop0, {{Udisks::Block, block("/dev/loop0", u"/"_s, 0)}, {Udisks::Loop, {{u"BackingFile"_s, QByteArray()}}}}},
            {stick, {{Udisks::Drive, media(true)}}},
            {sdb1, {{Udisks::Block, block("/dev/sdb1", stick, 8000000)}}}};
}

// The machine of every scenario, d:: its CD drive, e:: an image, f:: its USB stick's
// partition; its steps by name, each giving the count of starts that look() reported.
struct Watch
{
    test::TestEnv env;   // a private drive map
    QList<QChar> started;
    int launched = 0;    // of those, the starts that did not fail
    QStringList log;
    bool launches = true;
    QString sysBlock = env.newFolder(u"sys/block"_s), images = env.newFolder(u"images"_s);
    QByteArray e = QFile::encodeName(images + u"/e.img"_s), other = QFile::encodeName(images + u"/other.img"_s);
    DriveLock tarvic;   // the mark of a tarvic E:
    InsertionWatch watch{[this] { return DriveMap(env.mapFolder()).entries(); },
                         [this](QChar letter, const BlockDevice &) { return started << letter, launched += launches, launches; },
                         [this](const QString &line) { log << line; }, DriveLock::isHeld, sysBlock};

    Watch()
    {
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(env.newFolder(u"run"_s)));   // where the marks of letters being handled are
        test::touch(QFile::decodeName(e), "disc");
        test::touch(QFile::decodeName(other), "disc");
        QFile::link(QFile::decodeName(e), images + u"/link.img"_s);
        env.mapDevice(u'D', u"/dev/sr0"_s);
        env.mapDevice(u'E', images + u"/link.img"_s);   // an image, through a link
        env.mapDevice(u'F', u"/dev/sdb1"_s);
    }
    int set(const QString &object, const QString &interface, const QVariantMap &changed)
    {
        watch.objects().changeProperties(object, interface, changed, {});
        return watch.look();
    }
    int attach(const QString &loop, const QByteArray &file, bool look = true)
    {
        test::showLoop(sysBlock, loop.section(u'/', -1), file);
        watch.objects().addInterfaces(loop, {{Udisks::Block, block("/dev/" + loop.section(u'/', -1).toUtf8(), u"/"_s, 4096)},
                                             {Udisks::Loop, {{u"BackingFile"_s, file + '\0'}}}});
        return look ? watch.look() : 0;
    }
    const QMap<QString, std::function<int()>> steps{
        // udisks2's first answer: the machine, with or without a disc in the CD drive.
        {u"start in"_s, [this] { return watch.replaceAll(machine(true)), watch.look(); }},
        {u"start"_s, [this] { return watch.replaceAll(machine(false)), watch.look(); }},
        {u"away"_s, [this] { return watch.forget(), 0; }},
        {u"in"_s, [this] { return set(cd, Udisks::Drive, media(true, true, 0, 1)); }},
        {u"out"_s, [this] { return set(cd, Udisks::Drive, media(false)); }},
        {u"blank"_s, [this] { return set(cd, Udisks::Drive, media(true, true, 0, 0, true)); }},
        {u"size"_s, [this] { return set(sr0, Udisks::Block, {{u"Size"_s, 650000000ull}}); }},
        {u"fs"_s, [this] { return watch.objects().addInterfaces(sr0, {{Udisks::Filesystem, {}}}), watch.look(); }},
        {u"avail"_s, [this] { return set(cd, Udisks::Drive, {{u"MediaAvailable"_s, true}}); }},
        {u"label"_s, [this] { return set(sr0, Udisks::Block, {{u"IdLabel"_s, u"DISC"_s}}); }},
        {u"pulled"_s, [this] { return watch.objects().removeInterfaces(sr0, {Udisks::Block}), watch.look(); }},
        {u"plugged"_s, [this] { return watch.objects().addInterfaces(sr0, {{Udisks::Block, block("/dev/sr0", cd, 1)}}), watch.look(); }},
        {u"stranger"_s, [this] { return set(sr0.chopped(1) + u'z', Udisks::Block, {{u"Size"_s, 1000ull}}); }},
        {u"fail"_s, [this] { return launches = false, 0; }},
        {u"ok"_s, [this] { return launches = true, 0; }},
        {u"attach e"_s, [this] { return attach(loop0, e); }},
        {u"attach other"_s, [this] { return attach(loop0, other); }},
        {u"swap e"_s, [this] { return test::showLoop(sysBlock, u"loop0"_s, e), set(loop0, Udisks::Loop, {{u"BackingFile"_s, e + '\0'}}); }},
        {u"size 0"_s, [this] { return set(loop0, Udisks::Block, {{u"Size"_s, 0ull}}); }},
        {u"size 4096"_s, [this] { return set(loop0, Udisks::Block, {{u"Size"_s, 4096ull}}); }},
        {u"unfile"_s, [this] { return set(loop0, Udisks::Loop, {{u"BackingFile"_s, QByteArray()}}); }},
        {u"twice"_s, [this] { return attach(loop0, e, false) + attach(loop1, e); }},   // at one moment
        {u"label loop0"_s, [this] { return set(loop0, Udisks::Block, {{u"IdLabel"_s, u"DISC"_s}}); }},
        {u"stick"_s, [this] { return set(stick, Udisks::Drive, media(false)) + set(stick, Udisks::Drive, media(true)); }},
        {u"f::watch"_s, [this] { return test::touch(env.mapFolder() + u"/f::watch"_s), 0; }},
        {u"g is loop0"_s, [this] { return env.mapDevice(u'G', u"/dev/loop0"_s), 0; }},
        {u"hold E"_s, [this] { return tarvic.hold(u'e') ? 0 : -1; }},   // a mark not taken spoils the count
        {u"release"_s, [this] { return tarvic.release(), 0; }}};
};

} // namespace

class WatchTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
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
        QTest::newRow("loop sized, no file yet") << block("/dev/loop0", u"/"_s, 4096) << noDrive << QByteArray() << out << QString();
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
        Watch w;
        w.env.mapDevice(u'S', u"/dev/disk/by-label/STICK"_s);
        w.env.mapDrive(u'G', w.images);   // a folder entry names no device
        test::showLoop(w.sysBlock, u"loop3"_s, w.e);
        test::showLoop(w.sysBlock, u"loop4"_s, w.other);
        const auto letter = [&](const BlockDevice &b) { return letterOf(DriveMap(w.env.mapFolder()).entries(), b, w.sysBlock).value_or(u'-'); };
        QCOMPARE(letter({u"/b"_s, "/dev/sr0", {}, 0, 0, u"/"_s, {}}), u'D');
        QCOMPARE(letter({u"/b"_s, "/dev/sdc1", {"/dev/disk/by-label/STICK"}, 0, 0, u"/"_s, {}}), u'S');
        QCOMPARE(letter({u"/b"_s, "/dev/loop3", {}, 0, 0, u"/"_s, w.e}), u'E');
        QCOMPARE(letter({u"/b"_s, "/dev/loop4", {}, 0, 0, u"/"_s, w.other}), u'-');   // a copy is another disc
        QCOMPARE(letter({u"/b"_s, QFile::encodeName(w.images), {}, 0, 0, u"/"_s, {}}), u'-');
        // By device number: a node of the map's own, made where only the test looks.
        if (::geteuid() != 0)
            QSKIP("mknod needs root: the match by device number is not checked");
        const QByteArray node = QFile::encodeName(w.images + u"/mycd"_s);
        QVERIFY(::mknod(node.constData(), S_IFBLK | 0600, ::makedev(11, 0)) == 0);
        w.env.mapDevice(u'H', QFile::decodeName(node));
        QCOMPARE(letter({u"/b"_s, "/dev/sr9", {}, ::makedev(11, 0), 0, u"/"_s, {}}), u'H');
        QCOMPARE(letter({u"/b"_s, "/dev/sr8", {}, ::makedev(11, 1), 0, u"/"_s, {}}), u'-');
    }

    // Scenarios on the machine of Watch: the letters started, and a line the watcher
    // says (none at all: "").
    void insertions_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("starts");
        QTest::addColumn<QString>("told");
        const auto row = [](const char *name, const QString &steps, const QString &starts, const QString &told) {
            QTest::newRow(name) << steps.split(u',') << starts << told;
        };
        const QString discD = u"D: disc in /dev/sr0: starting tarvic D:"_s, imageE = u"E: image in /dev/loop0: "_s;
        row("a burst for one disc", u"start,in,size,fs,avail,label"_s, u"D"_s, discD);
        row("taken out and put back", u"start,in,out,in"_s, u"DD"_s, u"D: /dev/sr0 taken out"_s);
        row("its block device pulled and back", u"start,in,pulled,plugged"_s, u"DD"_s, u"D: /dev/sr0 gone"_s);
        row("a blank disc", u"start,blank"_s, QString(), u"blank disc in /dev/sr0: nothing to start"_s);
        row("news of a device never announced", u"start,stranger"_s, QString(), QString());
        row("a failed start, then the next", u"start,fail,in,ok,out,in"_s, u"DD"_s, u"D: /dev/sr0 taken out"_s);
        // Nothing is looked at before udisks2's first answer, and what that shows is in already.
        row("in at the start", u"in,start in"_s, QString(), QString());
        row("udisks2 away and back, the disc still in", u"start in,away,out,start in"_s, QString(), QString());
        row("udisks2 away, the disc taken out meanwhile", u"start in,away,start,in"_s, u"D"_s, discD);
        row("udisks2 away, a disc put in meanwhile", u"start,away,start in"_s, u"D"_s, discD);
        row("an image not in the map", u"start,attach other"_s, QString(), u"image in /dev/loop0: not in the drive map, ignored"_s);
        row("the loop device given the mapped image", u"start,attach other,swap e"_s, u"E"_s, imageE + u"starting tarvic E:"_s);
        row("the image attached twice at one moment", u"start,attach e,size 0,twice"_s, u"EE"_s, u"E: /dev/loop0 taken out"_s);
        row("detached, the size first, and again", u"start,attach e,size 0,unfile,attach e"_s, u"EE"_s, u"E: /dev/loop0 taken out"_s);
        row("no disc", u"start,stick"_s, QString(),
            u"F: medium in /dev/sdb1: no disc, not started (f::watch in the drive map turns it on)"_s);
        row("no disc where f::watch asks", u"start,f::watch,stick"_s, u"F"_s, u"F: medium in /dev/sdb1: starting tarvic F:"_s);
        row("any loop device", u"start,g is loop0,attach other"_s, u"G"_s, u"G: image in /dev/loop0: starting tarvic G:"_s);
        const QString handled = imageE + u"tarvic is already handling E:, not started again"_s;
        row("an image that tarvic E: attaches itself", u"start,hold E,attach e,in"_s, u"D"_s, handled);
        row("handled after that tarvic ended", u"start,hold E,attach e,release,label loop0"_s, QString(), handled);
        row("the next insertion after it", u"start,hold E,attach e,release,size 0,size 4096"_s, u"E"_s, imageE + u"starting tarvic E:"_s);
    }

    void insertions()
    {
        QFETCH(QStringList, steps);
        Watch w;
        int launched = 0;
        for (const QString &step : steps) {
            QVERIFY2(w.steps.contains(step), qPrintable(step));
            launched += w.steps[step]();
        }
        QTEST(QString(w.started.constData(), w.started.size()), "starts");
        QCOMPARE(launched, w.launched);   // what look() counts is what started
        QFETCH(QString, told);
        QVERIFY2(told.isEmpty() ? w.log.isEmpty() : w.log.contains(told), qPrintable(w.log.join(u'\n')));
    }

    // A tarvic started ahead (a script that keeps what it reads) is handed the drive and
    // the medium once; one whose file was replaced since, or that has gone, nothing.
    void standbyHandsOverOnlyToTheProgramItStarted()
    {
        std::signal(SIGPIPE, SIG_IGN);
        QTemporaryDir dir;
        const QByteArray program = QFile::encodeName(dir.filePath(u"tarvic"_s)), fresh = program + ".new";
        const auto install = [&](const QByteArray &body) {   // a new file in its place
            test::touch(QFile::decodeName(fresh), "#!/bin/sh\n" + body);
            QVERIFY(::chmod(fresh, 0755) == 0 && ::rename(fresh, program) == 0);
        };
        const auto handed = [&] {   // what each one that ended had read, sorted
            QStringList texts;
            for (const QString &name : QDir(dir.path()).entryList({u"*.got"_s}))
                texts << QString::fromLatin1(test::bytesOf(dir.filePath(name)));
            return texts.sort(), texts;
        };
        const QByteArray keeper = R"({ echo "$TARVIC_STANDBY"; cat; } >"$0.$$.tmp"; mv "$0.$$.tmp" "$0.$$.got")";
        install(keeper);
        Standby standby;
        QVERIFY(standby.prepare(program) && standby.handOver(program, u'E', "/dev/loop7") && !standby.waiting());
        QTRY_COMPARE(handed(), QStringList{u"1\nE:\n/dev/loop7\n"_s});
        QVERIFY(standby.prepare(program));
        install(keeper);
        QVERIFY(!standby.handOver(program, u'E', "/dev/loop7"));
        QTRY_COMPARE(handed(), (QStringList{u"1\n"_s, u"1\nE:\n/dev/loop7\n"_s}));
        install(R"(exec 0<&-; touch "$0.gone")");
        QVERIFY(standby.prepare(program));
        QTRY_VERIFY(QFile::exists(dir.filePath(u"tarvic.gone"_s)));
        QVERIFY(!standby.handOver(program, u'E', "/dev/loop7"));
    }
};

QTEST_GUILESS_MAIN(WatchTest)
#include "test_watch.moc"
