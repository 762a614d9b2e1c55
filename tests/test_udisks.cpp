// Mounting a data disc: the udisks2 client against tests/optical/fake_udisks.cpp on a
// private dbus-daemon, so the real calls, types and errors go over the wire; behind it
// the fstab fallback on real sample text.
#include "platform/optical/fstab_mounter.h"
#include "platform/optical/linux_optical_devices.h"
#include "platform/optical/udisks_mounter.h"
#include "support/test_env.h"

#include <QtTest>

using namespace tarvic;
using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

class UdisksTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void mountingADisc_data()
    {
        QTest::addColumn<QString>("mode");        // of the fake; none: no service on the bus
        QTest::addColumn<QByteArray>("fstab");    // its entry; %L a link to the drive
        QTest::addColumn<QString>("expected");    // the mount point, or the error; %F the fstab
        const QByteArray user = "/dev/null /media/cd\\040rom udf,iso9660 user,noauto 0 0";
        const QString error = u"Disk not ready: the disc in /dev/null could not be mounted: udisks2"_s;
        QTest::newRow("mounted on request") << u"mount"_s << user << u"/media/anna/MY DISC"_s;
        QTest::newRow("already mounted: not again") << u"mounted"_s << user << u"/media/anna/CD"_s;
        QTest::newRow("refused: fstab not tried") << u"refuse"_s << user
                                                  << error + u": Not authorized to perform operation"_s;
        // The slow fake answers after 10 s: a client that waited would have the disc mounted.
        QTest::newRow("too slow") << u"slow"_s << user << error + u": no answer within 2000 ms"_s;
        QTest::newRow("no service: fstab, user") << QString() << user << u"/media/cd rom"_s;
        QTest::newRow("no service: fstab, users by device number") << QString() << "%L /mnt/dvd auto ro,users 0 0"_ba
                                                                   << u"/mnt/dvd"_s;
        QTest::newRow("no service: fstab, neither") << QString() << "/dev/null /mnt/dvd auto noauto,user=anna 0 0"_ba
                                                    << error + u" is not running; the entry for /dev/null in %F lacks "
                                                               "the option user or users"_s;
        QTest::newRow("no service: no fstab entry") << QString() << "/dev/zero /media/zero auto user 0 0"_ba
                                                    << error + u" is not running; %F has no entry for /dev/null"_s;
        QTest::newRow("no service: mount fails") << QString() << "/dev/null /media/fail auto user 0 0"_ba
                                                 << error + u" is not running; mount /media/fail: no medium found"_s;
    }

    void mountingADisc()
    {
        QFETCH(QString, mode);
        QFETCH(QByteArray, fstab);
        QTemporaryDir dir;
        QProcess daemon, service;
        daemon.startCommand(u"dbus-daemon --session --print-address --nofork --address=unix:dir="_s + dir.path());
        QVERIFY(daemon.waitForReadyRead(5000));
        const QString bus = QString::fromUtf8(daemon.readLine()).trimmed();
        if (!mode.isEmpty()) {
            service.start(QStringLiteral(FAKE_UDISKS), {bus, mode});
            QVERIFY(service.waitForReadyRead(5000));   // once it owns its name
        }
        const QString link = dir.filePath(u"cdrom"_s), table = dir.filePath(u"fstab"_s), mount = dir.filePath(u"mnt"_s);
        QVERIFY(QFile::link(u"/dev/null"_s, link));
        tarvic::test::touch(table, "UUID=4f1c / ext4 defaults 0 1\n\t# /dev/null /media/old iso9660 user 0 0\n\n"
                                       + fstab.replace("%L", QFile::encodeName(link)) + '\n');
        // mount(8) succeeds given nothing but a mount point (but /media/fail).
        tarvic::test::touch(mount, "#!/bin/sh\n[ $# = 1 ] && [ \"$1\" != /media/fail ] && exit\necho no medium found >&2; exit 32");
        QVERIFY(QFile::setPermissions(mount, QFile::ReadOwner | QFile::ExeOwner));
        std::vector<std::unique_ptr<DiscMounter>> line;
        line.push_back(std::make_unique<UdisksMounter>(QDBusConnection::connectToBus(bus, bus), 2s, 2s));
        line.push_back(std::make_unique<FstabMounter>(table, mount));
        // The kernel's own answers for /dev/null: a device node, mounted nowhere, no table of contents.
        LinuxOpticalDevices devices(std::make_unique<LinuxCdromDevice>(), std::move(line), dir.filePath(u"none"_s));
        QString got;
        try {
            got = QString::fromUtf8(devices.mountPoint("/dev/null", true).value_or("none"));
        } catch (const RuntimeError &e) {
            got = e.description();
        }
        QTEST(got.replace(table, u"%F"_s), "expected");
        for (QProcess *p : {&service, &daemon})
            p->kill(), p->waitForFinished();
    }
};

QTEST_MAIN(UdisksTest)
#include "test_udisks.moc"
