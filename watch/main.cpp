// tarvic-watch: starts "tarvic X:" when a medium arrives in a drive of the drive map.
#include "config.h"
#include "platform/config_paths.h"
#include "platform/devices/linux_devices.h"
#include "platform/drive_lock.h"
#include "platform/drive_map.h"
#include "platform/runtime_error.h"
#include "platform/system_starter.h"
#include "watch/insertion_watch.h"
#include "watch/standby.h"
#include "watch/udisks_client.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTimer>
#include <csignal>
#include <cstdio>

using namespace tarvic;

namespace {

const char Usage[] = "Usage: tarvic-watch [--once]\n"
                     "Starts \"tarvic X:\" whenever a disc, a medium or a disc image arrives in a drive\n"
                     "that the drive map names (${XDG_CONFIG_HOME:-~/.config}/tarvic/drives).\n"
                     "\n"
                     "  --once     handle the next insertion, then end\n"
                     "  --help     show this text\n"
                     "  --version  show the version\n";

void say(const QString &line)
{
    std::fputs((QStringLiteral("tarvic-watch: ") + line + QLatin1Char('\n')).toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
}

// Test hook only: the tests put a recording stand-in for tarvic here.
QByteArray standIn()
{
    return qgetenv("TARVIC_WATCH_PROGRAM");
}

// The tarvic beside this program (an installation, or the build folder), else the one
// on PATH; looked for at each start, so one installed later is found.
QByteArray tarvicProgram()
{
    if (const QByteArray hook = standIn(); !hook.isEmpty())
        return hook;
    const QFileInfo beside(QCoreApplication::applicationDirPath() + QStringLiteral("/tarvic"));
    if (beside.isFile() && beside.isExecutable())
        return QFile::encodeName(beside.filePath());
    return QFile::encodeName(QStandardPaths::findExecutable(QStringLiteral("tarvic")));
}

} // namespace

int main(int argc, char *argv[])
{
    bool once = false;
    for (int i = 1; i < argc; ++i) {
        const QByteArray a(argv[i]);
        if (a == "--help") {
            std::fputs(Usage, stdout);
            return 0;
        }
        if (a == "--version") {
            std::fputs("tarvic-watch " TARVIC_VERSION "\n", stdout);
            return 0;
        }
        if (a != "--once") {
            std::fprintf(stderr, "tarvic-watch: unknown argument: %s\n%s", argv[i], Usage);
            return 2;
        }
        once = true;
    }

    // A reader of our log that went away must not end the watch; tarvic gets its
    // signals back at the default.
    std::signal(SIGPIPE, SIG_IGN);
    // Two watchers would start each insertion twice: they race past each other's
    // drive marks (the service and the autostart entry both turned on). Ending is no
    // failure then, so that a service manager does not start this one again and again.
    DriveLock alone;
    if (alone.holdAlone() == DriveLock::Alone::Taken) {
        say(QStringLiteral("another tarvic-watch is running for this user; this one ends"));
        return 0;
    }
    if (!alone.holding())
        say(QStringLiteral("cannot mark this watcher as running (in %1 or the temp folder): a second one would not "
                           "know of it").arg(DriveLock::folder()));
    QCoreApplication app(argc, argv);
    const DriveMap map(driveMapFolder(), [] { return listOpticalDrives(); });
    UdisksClient *client = nullptr;
    // A tarvic waits for each insertion, started ahead; not for a stand-in, which knows
    // nothing of waiting, nor for one insertion only. The next one starts a second after
    // an insertion, once the tarvic handling it has had the machine to itself.
    Standby standby;
    QTimer nextStandby;
    nextStandby.setSingleShot(true);
    nextStandby.setInterval(1000);
    const bool ahead = !once && standIn().isEmpty();
    QObject::connect(&nextStandby, &QTimer::timeout, [&standby] { standby.prepare(tarvicProgram()); });
    const auto launch = [once, ahead, &client, &standby, &nextStandby](QChar letter, const BlockDevice &block) {
        const QByteArray program = tarvicProgram();
        bool started = false;
        if (program.isEmpty()) {
            say(QStringLiteral("cannot start tarvic %1: there is no tarvic beside tarvic-watch or on PATH").arg(letter));
        } else {
            // The mount and the start of tarvic take about as long: one runs beside the
            // other. Not when this watcher ends at once: its mark would go with it.
            if (!once)
                client->mountAhead(block);
            // That tarvic handles this medium, and ends quietly once it is gone; it
            // never attaches an image of its own.
            if (ahead && standby.handOver(program, letter, block.device)) {
                say(QStringLiteral("%1: handed to the tarvic started ahead").arg(letter));
                started = true;
            } else {
                try {
                    spawnDetached({program, QString(letter).toLatin1() + ':'}, {"TARVIC_MEDIUM=" + block.device});
                    started = true;
                } catch (const RuntimeError &e) {
                    say(QStringLiteral("cannot start tarvic %1: %2").arg(letter).arg(e.description()));
                }
            }
        }
        if (ahead)
            nextStandby.start();
        if (once)
            QTimer::singleShot(0, qApp, [started] { QCoreApplication::exit(started ? 0 : 1); });
        return started;
    };
    // The tarvic started here takes the letter's mark itself: this program never holds it.
    InsertionWatch watch([&map] { return map.entries(); }, launch, say, DriveLock::isHeld);
    UdisksClient udisks(watch, say);
    client = &udisks;
    udisks.start();
    if (ahead)
        standby.prepare(tarvicProgram());
    return app.exec();
}
