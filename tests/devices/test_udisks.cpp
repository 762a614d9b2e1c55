// Mounting a data disc: the udisks2 client against the fake udisks2 on a private
// dbus-daemon, so the real calls, types and errors go over the wire; behind it the
// fstab fallback on real sample text.
#include "platform/devices/fstab_mounter.h"
#include "platform/devices/linux_devices.h"
#include "platform/devices/udisks_mounter.h"
#include "support/private_bus.h"
#include "support/test_env.h"

#include <QtTest>
#include <sys/stat.h>
#include <sys/sysmacros.h>

using namespace tarvic;
using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

class UdisksTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void mountingADisc_data()
    {
        QTest::addColumn<QString>("mode");        // of the fake, or mounted already; none: no service on the bus
        QTest::addColumn<QByteArray>("fstab");    // its entry; %D the drive, %L a link to it
        QTest::addColumn<QString>("expected");    // the mount point, or the error; %F the fstab, %D the drive
        const QByteArray user = "%D /media/cd\\040rom udf,iso9660 user,noauto 0 0";
        const QString error = u"Disk not ready: the disc in %D could not be mounted: udisks2"_s;
        QTest::newRow("mounted on request") << u"mount"_s << user << u"/media/anna/MY DISC"_s;
        QTest::newRow("file system gone for a moment: asked again") << u"vanishing"_s << user << u"/media/anna/MY DISC"_s;
        QTest::newRow("already mounted: not again") << u"mounted"_s << user << u"/media/anna/CD"_s;
        QTest::newRow("refused: fstab not tried") << u"refuse"_s << user
                                                  << error + u": Not authorized to perform operation"_s;
        // The slow fake answers after 10 s: a client that waited would have the disc mounted.
        QTest::newRow("too slow") << u"slow"_s << user << error + u": no answer within 2000 ms"_s;
        QTest::newRow("no service: fstab, user") << QString() << user << u"/media/cd rom"_s;
        QTest::newRow("no service: fstab, users by device number") << QString() << "%L /mnt/dvd auto ro,users 0 0"_ba
                                                                   << u"/mnt/dvd"_s;
        QTest::newRow("no service: fstab, neither") << QString() << "%D /mnt/dvd auto noauto,user=anna 0 0"_ba
                                                    << error + u" is not running; the entry for %D in %F lacks "
                                                               "the option user or users"_s;
        QTest::newRow("no service: no fstab entry") << QString() << "/dev/zero /media/zero auto user 0 0"_ba
                                                    << error + u" is not running; %F has no entry for %D"_s;
        QTest::newRow("no service: mount fails") << QString() << "%D /media/fail auto user 0 0"_ba
                                                 << error + u" is not running; mount /media/fail: no medium found"_s;
    }

    void mountingADisc()
    {
        QFETCH(QString, mode);
        QFETCH(QByteArray, fstab);
        QTemporaryDir dir;
        test::PrivateBus bus;
        test::FakeUdisks service;
        QVERIFY(bus.start(dir.filePath(u"bus"_s)));
        // A drive of our own: a block node of a device number no driver answers.
        const QString drive = dir.filePath(u"sr0"_s), link = dir.filePath(u"cdrom"_s), table = dir.filePath(u"fstab"_s),
                      mount = dir.filePath(u"mnt"_s);
        if (::mknod(QFile::encodeName(drive), S_IFBLK | 0600, makedev(11, 250)) != 0)
            QSKIP("only root makes device nodes");
        QVERIFY(QFile::link(drive, link));
        // Mounted already: asking to mount it again would be refused.
        const QString points = mode == u"mounted" ? u"/media/anna/CD"_s : QString();
        if (!mode.isEmpty())
            QVERIFY(service.start(bus.address, {u"add block_devices/sr0 Block Device="_s + drive,
                                                u"add block_devices/sr0 Filesystem MountPoints="_s + points},
                                  mode == u"mounted" ? u"refuse"_s : mode));
        tarvic::test::touch(table, "UUID=4f1c / ext4 defaults 0 1\n\t# /dev/sr9 /media/old iso9660 user 0 0\n\n"
                                       + fstab.replace("%L", QFile::encodeName(link)).replace("%D", QFile::encodeName(drive)) + '\n');
        // mount(8) succeeds given nothing but a mount point (but /media/fail).
        tarvic::test::touch(mount, "#!/bin/sh\n[ $# = 1 ] && [ \"$1\" != /media/fail ] && exit\necho no medium found >&2; exit 32");
        QVERIFY(QFile::setPermissions(mount, QFile::ReadOwner | QFile::ExeOwner));
        std::vector<std::unique_ptr<DiscMounter>> line;
        line.push_back(std::make_unique<UdisksMounter>(QDBusConnection::connectToBus(bus.address, bus.address), 2s, 2s));
        line.push_back(std::make_unique<FstabMounter>(table, mount));
        // The kernel's own answers: a device node, mounted nowhere, no table of contents.
        LinuxOpticalDevices devices(std::make_unique<LinuxDeviceNode>(), std::move(line), nullptr, dir.filePath(u"none"_s));
        QString got;
        try {
            got = QString::fromUtf8(devices.mountPoint(QFile::encodeName(drive), true).value_or("none"));
        } catch (const RuntimeError &e) {
            got = e.description();
        }
        QTEST(got.replace(table, u"%F"_s).replace(drive, u"%D"_s), "expected");
    }

    // A disc image goes to udisks2 as an open descriptor with read-only asked for; it
    // is mounted on the loop device it gets, which is set to go when unmounted.
    void attachingADiscImage_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("expected");   // the mount point, or the reason, then what the fake was asked
        QTest::newRow("attached and mounted")
            << u"mount"_s << u"/media/anna/MY DISC|LoopSetup ro 1/2/3 Get Mount SetAutoclear"_s;
        QTest::newRow("refused: the loop device goes again")
            << u"refuse"_s << u"udisks2: Not authorized to perform operation|LoopSetup ro 1/2/3 Get Mount Delete"_s;
        QTest::newRow("no service") << QString() << u"udisks2 is not running|"_s;
    }

    void attachingADiscImage()
    {
        QFETCH(QString, mode);
        QTemporaryDir dir;
        test::PrivateBus bus;
        test::FakeUdisks service;
        QVERIFY(bus.start(dir.filePath(u"bus"_s)));
        const QString image = dir.filePath(u"game.iso"_s);
        tarvic::test::touch(image, "1/2/3");
        if (!mode.isEmpty())
            QVERIFY(service.start(bus.address, {}, mode));
        UdisksImageAttacher attacher(QDBusConnection::connectToBus(bus.address, bus.address), 2s, 2s);
        const MountAttempt got = attacher.attach(QFile::encodeName(image));
        QCOMPARE(got.outcome == MountAttempt::Mounted, got.reason.isEmpty());
        service.stop();
        const QString asked = service.asked();
        QTEST(QString::fromUtf8(got.mountPoint) + got.reason + u'|' + asked, "expected");
    }
};

QTEST_MAIN(UdisksTest)
#include "test_udisks.moc"
