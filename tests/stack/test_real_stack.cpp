// Device drives on the real udisks2 stack (run through tests/stack/real_stack.sh):
// ext4 images made here, attached as loop devices by the test or by Tarvic, mounted
// by the real udisksd, dispatched by the real start-up with scripted boxes.
#include "ui/message_boxes.h"
#include "platform/devices/linux_devices.h"
#include "startup/maintarvic.h"
#include "support/test_env.h"

#include <QtTest>

using namespace tarvic;
using namespace tarvic::test;
using namespace Qt::StringLiterals;

namespace {

// Runs a tool of the system: the lines it prints, trimmed; what it complains of is shown.
QStringList tool(const QString &program, const QStringList &arguments)
{
    QProcess p;
    p.start(program, arguments);
    p.waitForFinished(60000);
    if (const QByteArray complaint = p.readAllStandardError(); !complaint.isEmpty())
        qWarning("%s: %s", qPrintable(program), complaint.constData());
    QStringList lines;
    for (const QString &line : QString::fromLocal8Bit(p.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts))
        lines << line.trimmed();
    return lines;
}

QStringList loopsOf(const QString &image)
{
    return tool(u"losetup"_s, {u"--noheadings"_s, u"--output"_s, u"NAME"_s, u"--associated"_s, image});
}

// Where a device node is mounted, from our own mount table (findmnt fails quietly when nowhere).
QStringList mountsOf(const QString &node)
{
    return tool(u"findmnt"_s, {u"--noheadings"_s, u"--output"_s, u"TARGET"_s, u"--source"_s, node});
}

QByteArray sysBlock(const QString &node, const QString &name)
{
    QFile f(u"/sys/block/"_s + QFileInfo(node).fileName() + u'/' + name);
    return f.open(QIODevice::ReadOnly) ? f.readAll().trimmed() : QByteArray();
}

// A disc: an ext4 image of a folder with an autorun.inf naming setup.sh, labelled
// uniquely so udisks2 mounts it at a folder of its own. Unmounted and detached at the end.
struct Disc
{
    TestEnv env;
    QString label = u"TV%1"_s.arg(QCoreApplication::applicationPid() % 100000) + QString::number(++count);
    QString image = env.newFolder(u"isos"_s) + u"/game.img"_s;
    QList<QString> attached;   // loop devices the test attached itself
    LinuxOpticalDevices devices;
    static inline int count = 0;

    explicit Disc(bool damaged = false)
    {
        const QString tree = env.newFolder(u"tree"_s);
        touch(tree + u"/AUTORUN.INF"_s, "[autorun]\r\nopen=setup.sh\r\n");
        touch(tree + u"/setup.sh"_s, "#!/bin/sh\n");
        tool(u"mkfs.ext4"_s, {u"-q"_s, u"-F"_s, u"-L"_s, label, u"-d"_s, tree, image, u"8M"_s});
        if (damaged) {
            // An incompatible feature no kernel knows: blkid still sees ext4, mount refuses it.
            QFile f(image);
            if (!f.open(QIODevice::ReadWrite) || !f.seek(1024 + 0x60 + 3) || f.write("\x80", 1) != 1)
                qFatal("cannot damage %s", qPrintable(image));
        }
        env.optical = &devices;
    }
    ~Disc()
    {
        tool(u"bash"_s, QStringList{u"-c"_s, u". \"$1\"; shift; release_loops \"$@\""_s, u"release"_s, QStringLiteral(REAL_STACK_SH)}
                            + attached + QStringList{u"--"_s, image});
    }
    QString attach()
    {
        const QString loop = tool(u"losetup"_s, {u"--find"_s, u"--show"_s, u"--read-only"_s, image}).value(0);
        attached << loop;
        tool(u"udevadm"_s, {u"settle"_s, u"--timeout=10"_s});
        return loop;
    }
    // The boxes shown and the programs started (and where) by `tarvic E:`, or by tarvic
    // given another argument.
    static QString runOnE(TestEnv &env, const QString &argument = u"E:"_s)
    {
        env.starter.started.clear();
        mainTarvic(env.services()).Main(argument);
        // The dispatch leaves us on the disc, which would keep it from being unmounted.
        QDir::setCurrent(env.configHome());
        return env.outcome();
    }
};

} // namespace

class RealStackTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(qEnvironmentVariableIsSet("DBUS_SYSTEM_BUS_ADDRESS"),
                 "run through tests/stack/real_stack.sh, which starts the stack and names its bus");
        QVERIFY2(::geteuid() == 0, "loop devices are set up by root");
    }

    void aDiscIsMountedOnceAndDispatched_data()
    {
        QTest::addColumn<bool>("image");
        QTest::newRow("an image") << true;
        QTest::newRow("a loop device the user attached") << false;
    }

    // An image mapped as e:: is attached read-only, a loop device used as it is; udisks2
    // mounts it, its program starts in the disc's root, and the next run finds the same
    // loop device and mount. An attached image goes by itself once unmounted.
    void aDiscIsMountedOnceAndDispatched()
    {
        QFETCH(bool, image);
        Disc disc;
        const QString target = image ? disc.image : disc.attach();
        QVERIFY(image || mountsOf(target).isEmpty());
        // Each run a new process, gone before the next: nothing remembered but what the machine shows.
        const auto runAfresh = [&target] {
            TestEnv env;
            LinuxOpticalDevices devices;
            env.optical = &devices;
            env.mapDevice(u'e', target);
            return Disc::runOnE(env);
        };
        const QString first = runAfresh();
        const QStringList loops = loopsOf(disc.image);
        QCOMPARE(loops.size(), 1);
        const QStringList points = mountsOf(loops[0]);
        QCOMPARE(points.size(), 1);
        QCOMPARE(first, u"E:\\setup.sh in "_s + points[0]);
        QVERIFY2(points[0].endsWith(u'/' + disc.label), qPrintable(points[0]));
        QCOMPARE(sysBlock(loops[0], u"ro"_s), "1");

        QCOMPARE(runAfresh(), first);
        QCOMPARE(loopsOf(disc.image), loops);
        QCOMPARE(mountsOf(loops[0]), points);
        if (image) {
            tool(u"umount"_s, {points[0]});
            QTRY_VERIFY_WITH_TIMEOUT(loopsOf(disc.image).isEmpty(), 5000);
        }
    }

    // A loop device with nothing attached is a drive without a disc: the "Disc Request"
    // box waits, and Retry after attaching the image goes on with the disc.
    void aDetachedLoopDeviceWaitsForItsDisc()
    {
        Disc disc;
        const QString loop = disc.attach();
        tool(u"losetup"_s, {u"--detach"_s, loop});
        // While udev's probe still holds the device open, the kernel only marks it
        // to go at the last close: wait for that, not for losetup.
        QTRY_COMPARE_WITH_TIMEOUT(sysBlock(loop, u"size"_s), QByteArray("0"), 10000);
        disc.env.mapDevice(u'e', loop);
        disc.env.boxes.answers = {Mb::Retry};
        disc.env.boxes.whileShown = [&](const ShownBox &) { tool(u"losetup"_s, {u"--read-only"_s, loop, disc.image}); };
        const QString ran = Disc::runOnE(disc.env);
        QCOMPARE(ran, u"Disc Request: No disc was found in drive E:.  Please insert a disc and try again | E:\\setup.sh in "_s
                          + mountsOf(loop).value(0, u"(not mounted)"_s));
    }

    // As a desktop hands a medium over: its device, its mount folder or its URI, the
    // image mapped as e::, and the device mapped nowhere (it takes the first free letter).
    void aMediumIsHandedOverAsADesktopDoes()
    {
        Disc disc;
        const QString loop = disc.attach();
        tool(u"udisksctl"_s, {u"mount"_s, u"--no-user-interaction"_s, u"--block-device"_s, loop});
        const QString point = mountsOf(loop).value(0);
        QVERIFY2(point.endsWith(u'/' + disc.label), qPrintable(point));
        disc.env.mapDevice(u'e', disc.image);
        for (const QString &given : {loop, point, u"file://"_s + point})
            QCOMPARE(Disc::runOnE(disc.env, given), u"E:\\setup.sh in "_s + point);
        QFile::remove(disc.env.mapFolder() + u"/e::"_s);
        QCOMPARE(Disc::runOnE(disc.env, loop), u"D:\\setup.sh in "_s + point);
        QCOMPARE(mountsOf(loop), QStringList{point});
    }

    // What udisks2 says when it cannot mount a file system reaches the error box, and
    // the loop device attached for it goes again.
    void udisksRefusingIsNamed()
    {
        Disc disc(true);
        disc.env.mapDevice(u'e', disc.image);
        const QString ran = Disc::runOnE(disc.env);
        const QString what = u"Disk not ready: the disc image %1 could not be attached: udisks2: Error mounting /dev/loop"_s.arg(disc.image);
        QVERIFY2(ran.startsWith(u"Error: An error has occured: "_s + what) && ran.endsWith(u", 71"_s), qPrintable(ran));
        QCOMPARE(loopsOf(disc.image), QStringList());
    }
};

QTEST_MAIN(RealStackTest)
#include "test_real_stack.moc"
