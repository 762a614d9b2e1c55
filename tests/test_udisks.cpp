// The udisks2 client against a fake udisks2 service on a private D-Bus bus, so the
// real calls, types and errors go over the wire.
#include "platform/optical/cdrom_device.h"
#include "platform/optical/fstab_mounter.h"
#include "platform/optical/linux_optical_devices.h"
#include "platform/optical/udisks_mounter.h"
#include "platform/runtime_error.h"
#include "support/test_env.h"

#include <QDBusConnection>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <climits>
#include <linux/cdrom.h>
#include <sys/sysmacros.h>

using namespace tarvic;
using namespace tarvic::test;
using namespace std::chrono_literals;

namespace {

const QString Object = QStringLiteral("/org/freedesktop/UDisks2/block_devices/sr0");

void stop(QProcess &p)
{
    if (p.state() == QProcess::NotRunning)
        return;
    p.terminate();
    if (!p.waitForFinished(3000)) {
        p.kill();
        p.waitForFinished(3000);
    }
}

// A private bus of our own, gone with the test.
struct PrivateBus
{
    QTemporaryDir dir;
    QProcess daemon;
    QString address;
    QString name = QStringLiteral("udisks-test-%1").arg(quintptr(this));

    PrivateBus()
    {
        const QString config = dir.filePath(QStringLiteral("bus.conf"));
        touch(config, "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                      " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                      "<busconfig>\n  <type>session</type>\n  <listen>unix:dir="
                          + QFile::encodeName(dir.path())
                          + "</listen>\n  <auth>EXTERNAL</auth>\n"
                            "  <policy context=\"default\">\n"
                            "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                            "    <allow eavesdrop=\"true\"/>\n    <allow own=\"*\"/>\n"
                            "  </policy>\n</busconfig>\n");
        daemon.start(QStringLiteral("dbus-daemon"),
                     {QStringLiteral("--config-file=") + config, QStringLiteral("--print-address"), QStringLiteral("--nofork")});
        if (!daemon.waitForStarted(5000))
            return;
        QByteArray out;
        while (!out.contains('\n') && daemon.waitForReadyRead(5000))
            out += daemon.readAllStandardOutput();
        address = QString::fromUtf8(out).trimmed();
    }
    ~PrivateBus()
    {
        QDBusConnection::disconnectFromBus(name);
        stop(daemon);
    }
    QDBusConnection connection() { return QDBusConnection::connectToBus(address, name); }
};

struct FakeService
{
    QProcess process;
    QString log;
    bool start(const PrivateBus &bus, const QString &logPath, const QStringList &options)
    {
        log = logPath;
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QStringLiteral(FAKE_UDISKS), QStringList{bus.address, logPath} + options);
        if (!process.waitForStarted(5000))
            return false;
        QByteArray out;
        while (!out.contains("ready\n") && process.waitForReadyRead(5000))
            out += process.readAllStandardOutput();
        return out.contains("ready\n");
    }
    QStringList calls() const
    {
        QFile f(log);
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    ~FakeService() { stop(process); }
};

// A drive with a data disc in it, for the whole mounting path.
struct DataDisc final : CdromDevice
{
    int open(const QByteArray &) override { return 0; }
    void close() override {}
    int driveStatus() override { return CDS_DISC_OK; }
    int tocHeader(TocHeader *h) override
    {
        *h = {1, 1};
        return 0;
    }
    int tocEntry(int, unsigned *control) override
    {
        *control = CDROM_DATA_TRACK;
        return 0;
    }
    std::optional<dev_t> deviceNumber(const QByteArray &) override { return makedev(11, 0); }
    void sleep(std::chrono::milliseconds) override {}
};

} // namespace

class UdisksTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void answersOfTheService_data();
    void answersOfTheService();
    void slowServiceIsGivenUpOnInTime();
    void noServiceFallsBackToFstab();
    void noServiceAndNoFstabEntryIsError71();

private:
    bool m_haveDaemon = false;
};

void UdisksTest::initTestCase()
{
    m_haveDaemon = !QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty();
    if (!m_haveDaemon)
        QSKIP("dbus-daemon is not installed");
}

void UdisksTest::answersOfTheService_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QString>("result");        // mount point or reason
    QTest::addColumn<QStringList>("calls");     // the members called, in order
    const QString device = QStringLiteral("/dev/sr0=") + Object;
    QTest::newRow("mounted on request")
        << QStringList{QStringLiteral("--device"), device, QStringLiteral("--mount-to"),
                       Object + QStringLiteral("=/media/anna/MY DISC")}
        << int(MountAttempt::Mounted) << "/media/anna/MY DISC"
        << QStringList{QStringLiteral("ResolveDevice"), QStringLiteral("Get"), QStringLiteral("Mount")};
    QTest::newRow("already mounted: no Mount call")
        << QStringList{QStringLiteral("--device"), device, QStringLiteral("--mounted"), Object + QStringLiteral("=/media/anna/CD"),
                       QStringLiteral("--mounted"), Object + QStringLiteral("=/srv/cd")}
        << int(MountAttempt::Mounted) << "/media/anna/CD" << QStringList{QStringLiteral("ResolveDevice"), QStringLiteral("Get")};
    QTest::newRow("mount refused")
        << QStringList{QStringLiteral("--device"), device, QStringLiteral("--mount-error"),
                       QStringLiteral("org.freedesktop.UDisks2.Error.Failed=Error mounting /dev/sr0: wrong fs type")}
        << int(MountAttempt::Failed) << "udisks2: Error mounting /dev/sr0: wrong fs type"
        << QStringList{QStringLiteral("ResolveDevice"), QStringLiteral("Get"), QStringLiteral("Mount")};
    QTest::newRow("not authorized")
        << QStringList{QStringLiteral("--device"), device, QStringLiteral("--mount-error"),
                       QStringLiteral("org.freedesktop.UDisks2.Error.NotAuthorizedCanObtain=Not authorized to perform operation")}
        << int(MountAttempt::Failed) << "udisks2: Not authorized to perform operation"
        << QStringList{QStringLiteral("ResolveDevice"), QStringLiteral("Get"), QStringLiteral("Mount")};
    QTest::newRow("unknown device") << QStringList{QStringLiteral("--device"), QStringLiteral("/dev/sr1=") + Object}
                                    << int(MountAttempt::Failed) << "udisks2: it does not know /dev/sr0"
                                    << QStringList{QStringLiteral("ResolveDevice")};
    QTest::newRow("no file system") << QStringList{QStringLiteral("--device"), device, QStringLiteral("--no-filesystem")}
                                    << int(MountAttempt::Failed) << "udisks2: it finds no file system on the disc"
                                    << QStringList{QStringLiteral("ResolveDevice"), QStringLiteral("Get")};
}

void UdisksTest::answersOfTheService()
{
    QFETCH(QStringList, options);
    QFETCH(int, outcome);
    QFETCH(QString, result);
    QFETCH(QStringList, calls);
    PrivateBus bus;
    QVERIFY2(!bus.address.isEmpty(), "the private bus did not start");
    FakeService service;
    QVERIFY(service.start(bus, bus.dir.filePath(QStringLiteral("calls.log")), options));

    UdisksMounter mounter(bus.connection(), 5s, 5s);
    const MountAttempt attempt = mounter.mount("/dev/sr0");
    QCOMPARE(int(attempt.outcome), outcome);
    if (outcome == MountAttempt::Mounted)
        QCOMPARE(attempt.mountPoint, result.toUtf8());
    else
        QCOMPARE(attempt.reason, result);

    QStringList members;
    QStringList log = service.calls();
    for (const QString &line : log)
        if (!line.startsWith(QLatin1String("options ")))
            members << line.section(QLatin1Char(' '), 0, 0);
    QCOMPARE(members, calls);
    // The types on the wire are udisks2's own, and the disc is never asked about by password.
    QVERIFY(log.first().endsWith(QLatin1String("/org/freedesktop/UDisks2/Manager a{sv}a{sv}")));
    if (calls.size() > 1)
        QCOMPARE(log[1], QStringLiteral("Get ") + Object + QStringLiteral(" ss"));
    if (calls.contains(QStringLiteral("Mount"))) {
        QVERIFY(log.contains(QStringLiteral("Mount ") + Object + QStringLiteral(" a{sv}")));
        QVERIFY(log.contains(QStringLiteral("options auth.no_user_interaction true")));
    }

    // Mounted once, it is found mounted the next time.
    if (outcome == MountAttempt::Mounted) {
        const MountAttempt again = mounter.mount("/dev/sr0");
        QCOMPARE(again.mountPoint, result.toUtf8());
        QCOMPARE(service.calls().filter(QStringLiteral("Mount ")).size(), calls.count(QStringLiteral("Mount")));
    }
}

void UdisksTest::slowServiceIsGivenUpOnInTime()
{
    PrivateBus bus;
    QVERIFY(!bus.address.isEmpty());
    FakeService service;
    QVERIFY(service.start(bus, bus.dir.filePath(QStringLiteral("calls.log")),
                          {QStringLiteral("--device"), QStringLiteral("/dev/sr0=") + Object, QStringLiteral("--delay"),
                           QStringLiteral("3000")}));
    UdisksMounter mounter(bus.connection(), 300ms, 300ms);
    QElapsedTimer clock;
    clock.start();
    const MountAttempt attempt = mounter.mount("/dev/sr0");
    QVERIFY2(clock.elapsed() < 2500, "the call waited for the slow answer");
    QCOMPARE(int(attempt.outcome), int(MountAttempt::Failed));
    QCOMPARE(attempt.reason, QStringLiteral("udisks2: no answer within 300 ms"));
}

void UdisksTest::noServiceFallsBackToFstab()
{
    PrivateBus bus;
    QVERIFY(!bus.address.isEmpty());
    TestEnv env;
    const QString disc = env.newFolder(QStringLiteral("media/cd rom"));
    const QString fstab = env.newFolder(QStringLiteral("etc")) + QStringLiteral("/fstab");
    touch(fstab, "/dev/sr0 " + QFile::encodeName(disc).replace(" ", "\\040") + " udf,iso9660 user,noauto 0 0\n");
    const QString mountInfo = env.newFolder(QStringLiteral("proc")) + QStringLiteral("/mountinfo");
    touch(mountInfo, "26 1 259:2 / / rw,relatime shared:1 - ext4 /dev/nvme0n1p2 rw\n");

    // Nobody owns org.freedesktop.UDisks2 on this bus.
    UdisksMounter udisks(bus.connection(), 2s, 2s);
    const MountAttempt direct = udisks.mount("/dev/sr0");
    QCOMPARE(int(direct.outcome), int(MountAttempt::Unavailable));
    QCOMPARE(direct.reason, QStringLiteral("udisks2 is not running"));

    std::vector<std::unique_ptr<DiscMounter>> mounters;
    mounters.push_back(std::make_unique<UdisksMounter>(bus.connection(), 2s, 2s));
    mounters.push_back(std::make_unique<FstabMounter>(fstab, QStringLiteral("/bin/true"), 5s));
    LinuxOpticalDevices devices(std::make_unique<DataDisc>(), std::move(mounters), mountInfo);
    QCOMPARE(devices.mountPoint("/dev/sr0", false), std::nullopt);
    QCOMPARE(devices.mountPoint("/dev/sr0", true), std::optional(QFile::encodeName(disc)));
}

void UdisksTest::noServiceAndNoFstabEntryIsError71()
{
    PrivateBus bus;
    QVERIFY(!bus.address.isEmpty());
    TestEnv env;
    const QString fstab = env.newFolder(QStringLiteral("etc")) + QStringLiteral("/fstab");
    touch(fstab, "UUID=1234 / ext4 defaults 0 1\n");
    std::vector<std::unique_ptr<DiscMounter>> mounters;
    mounters.push_back(std::make_unique<UdisksMounter>(bus.connection(), 2s, 2s));
    mounters.push_back(std::make_unique<FstabMounter>(fstab, QStringLiteral("/bin/true"), 5s));
    LinuxOpticalDevices devices(std::make_unique<DataDisc>(), std::move(mounters),
                                env.newFolder(QStringLiteral("proc")) + QStringLiteral("/missing"));
    try {
        devices.mountPoint("/dev/sr0", true);
        QFAIL("a disc with no way to mount it was mounted");
    } catch (const RuntimeError &e) {
        QCOMPARE(e.number(), 71);
        QCOMPARE(e.description(), QStringLiteral("Disk not ready: the disc in /dev/sr0 could not be mounted: udisks2 is not "
                                                 "running; %1 has no entry for /dev/sr0")
                                      .arg(fstab));
    }
}

QTEST_MAIN(UdisksTest)
#include "test_udisks.moc"
