// tarvic-watch itself against the fake udisks2 on a private bus, signal by signal,
// with a recording stand-in for tarvic that notes every start.
#include "config.h"
#include "support/private_bus.h"
#include "support/test_env.h"

#include <QtTest>

using namespace Qt::StringLiterals;

constexpr int Deadline = 10000;   // ms; every wait ends as soon as its effect is seen
const QString DiscIn = u"set drives/cd Drive MediaAvailable=true Optical=true OpticalNumDataTracks=1"_s;

class WatchBusTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    tarvic::test::PrivateBus m_bus;
    tarvic::test::FakeUdisks m_udisks;
    QProcess m_watch;
    QString m_log;   // what the watcher said so far

    QString path(const QString &name) const { return m_dir.filePath(name); }

    // The drive map holds d:: for a CD drive whose device is a name in our folder
    // (never a real node): at first empty; a USB stick that no entry names.
    QStringList machine() const
    {
        return {u"add drives/cd Drive MediaRemovable=true MediaAvailable=false"_s,
                u"add block_devices/sr0 Block Device=%1 Drive=drives/cd Size=0"_s.arg(path(u"sr0"_s)),
                u"add drives/stick Drive MediaRemovable=true MediaAvailable=false"_s,
                u"add block_devices/sdb Block Device=%1 Drive=drives/stick Size=0"_s.arg(path(u"sdb"_s))};
    }

    // Ends the watcher there is, if any, and starts one afresh; true once it watches.
    bool startWatch(const QStringList &args = {})
    {
        m_watch.kill();
        m_watch.waitForFinished();
        m_log.clear();
        m_watch.setReadChannel(QProcess::StandardError);
        m_watch.start(QStringLiteral(TARVIC_WATCH), args);
        return said(u"watching udisks2 on the system bus"_s);
    }

    // Waits until the watcher has said `line` `times` times in all.
    bool said(const QString &line, int times = 1)
    {
        QDeadlineTimer deadline(Deadline);
        while (m_log.count(line) < times && !deadline.hasExpired()
               && (m_watch.bytesAvailable() || m_watch.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime())))))
            m_log += QString::fromUtf8(m_watch.readAll());
        if (m_log.count(line) >= times)
            return true;
        qWarning().noquote() << "waited in vain for" << times << "x" << line << "; the watcher said:\n" << m_log;
        return false;
    }

    // A marker that the watcher has taken in every signal sent before it: the stick,
    // which no drive entry names.
    bool settled()
    {
        const int before = m_log.count(u"not in the drive map, ignored"_s);
        return m_udisks.send(u"set block_devices/sdb Block Size=1000"_s)
            && m_udisks.send(u"set drives/stick Drive MediaAvailable=true"_s)
            && said(u"medium in %1: not in the drive map, ignored"_s.arg(path(u"sdb"_s)), before + 1)
            && m_udisks.send(u"set drives/stick Drive MediaAvailable=false"_s);
    }

private Q_SLOTS:
    // Every watcher inherits its bus, its configuration, its runtime folder and its tarvic.
    void initTestCase()
    {
        QVERIFY(QDir().mkdir(path(u"runtime"_s), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(path(u"runtime"_s)));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(path(u"config"_s)));
        qputenv("TARVIC_WATCH_PROGRAM", WATCH_RECORDER);
        qputenv("WATCH_RECORD", QFile::encodeName(path(u"started"_s)));
        tarvic::test::makeFolder(path(u"config/tarvic/drives"_s));
        QVERIFY(QFile::link(path(u"sr0"_s), path(u"config/tarvic/drives/d::"_s)));
    }

    void init()
    {
        QFile::remove(path(u"started"_s));
        QVERIFY(m_bus.start(path(u"bus"_s)));
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_bus.address.toUtf8());
        QVERIFY(m_udisks.start(m_bus.address, machine()));
        QVERIFY(startWatch());
    }

    void cleanup()
    {
        m_watch.kill();
        m_watch.waitForFinished();
        m_udisks.stop();
        m_bus.stop();
    }

    void udisksAndTheBusGoingAwayAndComingBack()
    {
        QVERIFY(m_udisks.send(DiscIn));
        QVERIFY(said(u"starting tarvic D:"_s));
        // udisks2 back with the same disc: still the same insertion.
        m_udisks.stop();
        QVERIFY(said(u"udisks2 went away; waiting for it"_s));
        QVERIFY(m_udisks.start(m_bus.address, machine() << DiscIn));
        QVERIFY(said(u"watching udisks2 on the system bus"_s, 2));
        QVERIFY(settled());
        QCOMPARE(m_log.count(u"starting tarvic"_s), 1);
        // The bus back, the disc taken out meanwhile: the next disc starts.
        m_udisks.stop();
        m_bus.stop();
        QVERIFY(said(u"the system bus went away; connecting again"_s));
        QVERIFY(said(u"no system bus"_s));
        QVERIFY(m_bus.start(path(u"bus"_s)));
        QVERIFY(m_udisks.start(m_bus.address, machine()));
        QVERIFY(said(u"watching udisks2 on the system bus"_s, 3));
        QVERIFY(m_udisks.send(DiscIn));
        QVERIFY(said(u"starting tarvic D:"_s, 2));
        QTRY_COMPARE_WITH_TIMEOUT(tarvic::test::bytesOf(path(u"started"_s)), "D:\nD:\n"_ba, Deadline);   // both started, none late
    }

    void onceEndsAfterTheNextStart()
    {
        QVERIFY(startWatch({u"--once"_s}));
        QVERIFY(settled());   // an insertion that starts nothing does not end it
        QCOMPARE(m_watch.state(), QProcess::Running);
        // An audio CD: no file system and no size, only the drive's properties tell of it.
        QVERIFY(m_udisks.send(u"set drives/cd Drive MediaAvailable=true Optical=true OpticalNumAudioTracks=12"_s));
        QVERIFY(said(u"D: audio CD in %1: starting tarvic D:"_s.arg(path(u"sr0"_s))));
        QVERIFY(m_watch.waitForFinished(Deadline));
        QCOMPARE(m_watch.exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_watch.exitCode(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(tarvic::test::bytesOf(path(u"started"_s)), "D:\n"_ba, Deadline);
    }

    // It runs where no window system is: never with Qt's window libraries, which this
    // test has, so the check sees them.
    void loadsNoWindowLibraries()
    {
        const QRegularExpression windows(u"/libQt6(Widgets|Gui)\\.so"_s);
        QVERIFY(QString::fromUtf8(tarvic::test::bytesOf(u"/proc/self/maps"_s)).contains(windows));
        const QString maps = QString::fromUtf8(tarvic::test::bytesOf(u"/proc/%1/maps"_s.arg(m_watch.processId())));
        QVERIFY2(maps.contains(u"/libQt6DBus.so"_s) && !maps.contains(windows), qPrintable(maps));
    }

    // Beside the watcher of init(): a second one of the same user ends without failure
    // (a service manager must not start it again) and the first one watches on.
    void commandLine_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("out");   // the start of standard output
        QTest::addColumn<QString>("err");   // the start of standard error
        QTest::newRow("help") << QStringList{u"--help"_s} << 0 << u"Usage: tarvic-watch [--once]"_s << QString();
        QTest::newRow("version") << QStringList{u"--version"_s} << 0 << u"tarvic-watch " TARVIC_VERSION "\n"_s << QString();
        QTest::newRow("unknown") << QStringList{u"-x"_s} << 2 << QString() << u"tarvic-watch: unknown argument: -x\nUsage:"_s;
        QTest::newRow("a second watcher") << QStringList() << 0 << QString() << u"tarvic-watch: another tarvic-watch is running"_s;
    }

    void commandLine()
    {
        QFETCH(QStringList, args);
        QProcess p;
        p.start(QStringLiteral(TARVIC_WATCH), args);
        QVERIFY(p.waitForFinished(Deadline));
        QTEST(p.exitCode(), "status");
        const QString gotOut = QString::fromUtf8(p.readAllStandardOutput()), gotErr = QString::fromUtf8(p.readAllStandardError());
        QFETCH(QString, out);
        QFETCH(QString, err);
        QVERIFY2(out.isEmpty() ? gotOut.isEmpty() : gotOut.startsWith(out), qPrintable(gotOut));
        QVERIFY2(err.isEmpty() ? gotErr.isEmpty() : gotErr.startsWith(err), qPrintable(gotErr));
        QVERIFY(settled());
    }
};

QTEST_GUILESS_MAIN(WatchBusTest)
#include "test_watch_bus.moc"
