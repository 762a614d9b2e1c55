#include "config.h"
#include "configure/qt_pickers.h"
#include "platform/config_paths.h"
#include "platform/devices/linux_devices.h"
#include "platform/drive_lock.h"
#include "platform/drive_map.h"
#include "platform/drive_paths.h"
#include "platform/drives.h"
#include "platform/runtime_error.h"
#include "platform/system_starter.h"
#include "settings/settings_store.h"
#include "startup/maintarvic.h"
#include "ui/gui.h"
#include "ui/message_boxes.h"
#include "ui/untrapped.h"

#include <QApplication>
#include <QStringList>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <unistd.h>

using namespace tarvic;

namespace {

// Started ahead by tarvic-watch: the drive and the medium's device come on stdin, a
// line each, when a medium arrives. The end of stdin without them means that none
// will (the watcher ended or let this one go); anything else is said and refused.
std::optional<std::pair<QString, QByteArray>> waitForInsertion(int &status)
{
    QByteArray given;
    char buffer[512];
    for (;;) {
        const ssize_t got = ::read(0, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0 || given.size() + got > 4096)
            break;
        given.append(buffer, got);
    }
    const QList<QByteArray> lines = given.split('\n');
    if (lines.size() != 3 || lines[0].isEmpty() || lines[1].isEmpty() || !lines[2].isEmpty()) {
        status = given.isEmpty() ? 0 : 2;
        if (status)
            std::fputs("tarvic: what tarvic-watch handed over is not a drive and a medium\n", stderr);
        return std::nullopt;
    }
    return std::pair{QString::fromLocal8Bit(lines[0]), lines[1]};
}

} // namespace

int main(int argc, char *argv[])
{
    // The argument text is taken before Qt sees argv, so no argument of ours is
    // eaten as a Qt option.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QString argumentText = arguments.join(QLatin1Char(' '));
    // The medium tarvic-watch saw arrive: for this run only, not for what it starts.
    QByteArray medium = qgetenv("TARVIC_MEDIUM");
    qunsetenv("TARVIC_MEDIUM");
    if (qEnvironmentVariableIsSet("TARVIC_STANDBY")) {
        qunsetenv("TARVIC_STANDBY");
        int status = 0;
        const auto insertion = waitForInsertion(status);
        if (!insertion)
            return status;
        std::tie(argumentText, medium) = *insertion;
    }

    // Made first and so gone last: the devices' bus connection ends before Qt does.
    int qtArgc = 1;
    std::optional<QApplication> app;

    LinuxOpticalDevices optical;
    const DriveMap map(driveMapFolder(), [] { return listOpticalDrives(); });
    if (const auto letter = DriveMap::letterOf(mainTarvic::targetDriveFor(argumentText)); letter && !medium.isEmpty())
        if (const DriveEntry entry = map.find(*letter); entry.kind == DriveEntry::Device)
            optical.handOver(entry.target, medium);
    Drives drives(map, optical);

    // The drive is marked as being handled for the whole run, before anything touches
    // it and as early as can be, so that tarvic-watch starts no second tarvic for an
    // insertion made here (an image attached). Without the mark tarvic works all the same.
    DriveLock handling;
    if (argumentText != QLatin1String("/c")) {
        try {
            if (const auto letter = DriveMap::letterOf(mainTarvic::targetDriveFor(argumentText, drives)))
                if (!handling.hold(*letter))
                    std::fprintf(stderr, "tarvic: %c: cannot be marked as being handled (in %s or the temp folder); "
                                         "tarvic-watch may start this disc a second time\n",
                                 char(letter->unicode()), qPrintable(DriveLock::folder()));
        } catch (const RuntimeError &) {
            // Main says why, in its own box.
        }
    }

    // Made by the first box or window: a run that starts a program and shows nothing
    // never connects to the display.
    setGuiMaker([&] {
        app.emplace(qtArgc, argv);
        QApplication::setApplicationName(QStringLiteral("Tarvic"));
        QApplication::setApplicationVersion(QStringLiteral(TARVIC_VERSION));
        QApplication::setQuitOnLastWindowClosed(false);
    });

    DrivePaths paths(drives);
    SystemStarter starter(paths);
    QtMessageBoxes boxes;
    HalvaneSettings settings(settingsFile());
    QtFilePicker filePicker;
    QtFolderPicker folderPicker;
    Services services{paths, starter, boxes, settings, filePicker, folderPicker};

    // A failure that no handler traps: one box, then the process ends at once.
    setUntrappedReaction([&boxes](const RuntimeError &e) {
        boxes.show(QStringLiteral("Run-time error '%1':\r\n\r\n%2").arg(e.number()).arg(e.description()), Mb::Critical,
                   QStringLiteral("Tarvic"));
        std::fflush(nullptr);
        std::_Exit(1);
    });

    mainTarvic program(services);
    program.Main(argumentText);
    if (!program.forms().anyLoaded())
        return 0;
    QObject::connect(&program.forms(), &Forms::lastUnloaded, &*app, [] { QCoreApplication::exit(0); });
    return QApplication::exec();
}
