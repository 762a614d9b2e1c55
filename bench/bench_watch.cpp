// The watcher on the real udisks2 stack (run it through tests/stack/real_stack.sh):
// from the udisks2 signal that completes an image's attachment to the start of
// "tarvic E:" (a recording stand-in), median of 20 insertions; then the watcher's
// CPU time over a minute without events and its resident memory against a bare
// QCoreApplication with a system bus connection.
//   bench_watch <tarvic-watch> <watch_recorder> <bare_dbus> [idle seconds]
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <unistd.h>

namespace {

qint64 monotonicNs()
{
    timespec t {};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000000000LL + t.tv_nsec;
}

// Every udisks2 signal with the moment it came and the object it is about.
class Signals : public QObject
{
    Q_OBJECT
public:
    QList<QPair<qint64, QString>> seen;
public Q_SLOTS:
    void properties(const QDBusMessage &m) { seen << qMakePair(monotonicNs(), m.path()); }
    void objects(const QDBusMessage &m)
    {
        seen << qMakePair(monotonicNs(), m.arguments().value(0).value<QDBusObjectPath>().path());
    }
};

[[noreturn]] void fail(const QString &why)
{
    std::fprintf(stderr, "bench_watch: %s\n", qPrintable(why));
    std::exit(1);
}

QString run(const QString &program, const QStringList &args)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(20000) || p.exitCode() != 0)
        fail(program + QLatin1Char(' ') + args.join(QLatin1Char(' ')) + QStringLiteral(" failed: ")
             + QString::fromLocal8Bit(p.readAllStandardError()));
    return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
}

// Runs the event loop until `done`, or fails after 20 s. The loop sleeps in poll(),
// so a signal is taken in the moment it comes.
template<class Done>
void until(Done done, const char *what)
{
    QDeadlineTimer deadline(20000);
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (done())
            loop.quit();
        else if (deadline.hasExpired())
            fail(QStringLiteral("waited 20 s in vain for ") + QLatin1String(what));
    });
    check.start(1);
    if (!done())
        loop.exec();
}

// Field values of /proc/PID/stat (utime, stime in clock ticks) and status (VmRSS in kB).
double cpuSeconds(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        fail(QStringLiteral("cannot read the watcher's CPU time"));
    const QByteArray stat = f.readAll();
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    return (fields.value(11).toLongLong() + fields.value(12).toLongLong()) / double(::sysconf(_SC_CLK_TCK));
}

// A number from /proc/PID/status: "VmRSS" (kB), "voluntary_ctxt_switches"...
qint64 status(qint64 pid, const QByteArray &field)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        fail(QStringLiteral("cannot read the status of process %1").arg(pid));
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().split(' ').value(0).toLongLong();
    return 0;
}

// Every time the process went to sleep or was put off: a process that never wakes adds none.
qint64 wakeUps(qint64 pid)
{
    return status(pid, "voluntary_ctxt_switches") + status(pid, "nonvoluntary_ctxt_switches");
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 4)
        fail(QStringLiteral("usage: bench_watch <tarvic-watch> <watch_recorder> <bare_dbus> [idle seconds]"));
    const int idleSeconds = argc > 4 ? std::atoi(argv[4]) : 60;
    const int insertions = 20;

    QTemporaryDir dir;
    const QString image = dir.filePath(QStringLiteral("e.img")), record = dir.filePath(QStringLiteral("started"));
    QFile img(image);
    if (!img.open(QIODevice::WriteOnly) || !img.resize(1 << 20))
        fail(QStringLiteral("cannot make the image"));
    img.close();
    if (!QDir().mkpath(dir.filePath(QStringLiteral("config/tarvic/drives")))
        || !QFile::link(image, dir.filePath(QStringLiteral("config/tarvic/drives/e::"))))
        fail(QStringLiteral("cannot make the drive map"));

    QDBusConnection bus = QDBusConnection::systemBus();
    Signals sig;
    const QString service = QStringLiteral("org.freedesktop.UDisks2");
    if (!bus.connect(service, QString(), QStringLiteral("org.freedesktop.DBus.Properties"),
                     QStringLiteral("PropertiesChanged"), &sig, SLOT(properties(QDBusMessage)))
        || !bus.connect(service, QStringLiteral("/org/freedesktop/UDisks2"),
                        QStringLiteral("org.freedesktop.DBus.ObjectManager"), QStringLiteral("InterfacesAdded"), &sig,
                        SLOT(objects(QDBusMessage))))
        fail(QStringLiteral("cannot listen to udisks2 on the system bus"));

    QProcess watch;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("TARVIC_WATCH_PROGRAM"), QString::fromLocal8Bit(argv[2]));
    env.insert(QStringLiteral("WATCH_RECORD"), record);
    watch.setProcessEnvironment(env);
    watch.setReadChannel(QProcess::StandardError);
    watch.start(QString::fromLocal8Bit(argv[1]), {});
    QString said;
    const auto saidTimes = [&](const QString &line) {
        said += QString::fromLocal8Bit(watch.readAll());
        return said.count(line);
    };
    until([&] { return saidTimes(QStringLiteral("watching udisks2")) == 1; }, "the watcher to begin");

    QList<double> latencies;
    for (int i = 0; i < insertions; ++i) {
        const QString loop = run(QStringLiteral("losetup"), {QStringLiteral("--find"), QStringLiteral("--show"),
                                                             QStringLiteral("--read-only"), image});
        const QString object = QStringLiteral("/org/freedesktop/UDisks2/block_devices/") + loop.section(QLatin1Char('/'), -1);
        QList<QByteArray> lines;
        until([&] {
            QFile f(record);
            lines = f.open(QIODevice::ReadOnly) ? f.readAll().split('\n') : QList<QByteArray>();
            lines.removeAll(QByteArray());
            return lines.size() == i + 1;
        }, "tarvic to be started");
        const qint64 started = lines.last().split(' ').value(0).toLongLong();
        // udisks2 tells of an attached image in one signal; we take it in at about the
        // moment the watcher does, so the difference may even come out below zero.
        until([&] {
            return std::any_of(sig.seen.cbegin(), sig.seen.cend(), [&](const auto &s) { return s.second == object; });
        }, "udisks2's signal");
        const auto first = std::find_if(sig.seen.cbegin(), sig.seen.cend(), [&](const auto &s) { return s.second == object; });
        latencies << (started - first->first) / 1e6;
        run(QStringLiteral("losetup"), {QStringLiteral("-d"), loop});
        until([&] { return saidTimes(QStringLiteral("taken out")) == i + 1; }, "the watcher to see the image go");
        // The rest of what the detachment raises, then a clean slate for the next one.
        const QDeadlineTimer quiet(200);
        until([&] { return quiet.hasExpired(); }, "a moment");
        sig.seen.clear();
    }
    std::sort(latencies.begin(), latencies.end());
    const double median = latencies[latencies.size() / 2];
    std::printf("bench_watch: udisks2 signal to tarvic started, median of %d insertions: %.1f ms (min %.1f, max %.1f ms; "
                "target at most 50 ms)\n", insertions, median, latencies.first(), latencies.last());

    QProcess bare;
    bare.start(QString::fromLocal8Bit(argv[3]), {});
    if (!bare.waitForStarted())
        fail(QStringLiteral("cannot start the bare program"));
    const double before = cpuSeconds(watch.processId());
    const qint64 wokeBefore = wakeUps(watch.processId());
    QThread::sleep(idleSeconds);
    const double cpu = cpuSeconds(watch.processId()) - before;
    const qint64 woke = wakeUps(watch.processId()) - wokeBefore;
    const qint64 watchKb = status(watch.processId(), "VmRSS"), bareKb = status(bare.processId(), "VmRSS");
    std::printf("bench_watch: idle for %d s: %.2f s of CPU (%.3f %%; target 0 %%), woken %lld times\n", idleSeconds,
                cpu, 100 * cpu / idleSeconds, woke);
    std::printf("bench_watch: resident memory %lld kB against %lld kB of a bare Qt program on the bus: %.2fx "
                "(target at most 1.5x)\n", watchKb, bareKb, double(watchKb) / double(bareKb));
    bare.kill();
    bare.waitForFinished();
    watch.kill();
    watch.waitForFinished();
    return 0;
}

#include "bench_watch.moc"
