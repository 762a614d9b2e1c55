// How often one dispatch opens the drive: `tarvic D:` on a scripted drive whose disc
// is mounted already (a data disc with an autorun program, an audio CD, a USB stick),
// counting the opens and the CDROM_DRIVE_STATUS questions. Target: at most 4 opens
// for the mounted data disc. Last line: device_opens=<opens for the data disc>.
#include "configure/pickers.h"
#include "platform/drive_map.h"
#include "platform/drive_paths.h"
#include "platform/drives.h"
#include "ui/message_boxes.h"
#include "platform/devices/linux_devices.h"
#include "platform/program_starter.h"
#include "settings/settings_store.h"
#include "startup/maintarvic.h"
#include "startup/services.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <linux/cdrom.h>
#include <sys/sysmacros.h>

using namespace tarvic;
using namespace Qt::StringLiterals;

namespace {

// Drive 11:1 with a disc in: an optical drive with one track a letter (A audio,
// D data), or a stick whose medium holds ext4.
struct CountingDrive final : DeviceNode
{
    bool optical = true;
    QByteArray layout;
    int opens = 0, statusQuestions = 0;
    NodeInfo inspect(const QByteArray &) override { return {NodeInfo::BlockDevice, 0, makedev(11, 1), 0, 0, 0}; }
    int open(const QByteArray &) override { return ++opens, 0; }
    void close() override {}
    bool isOptical() override { return optical; }
    int driveStatus() override { return ++statusQuestions, CDS_DISC_OK; }
    int tocHeader(TocHeader *header) override { return *header = {1, int(layout.size())}, 0; }
    int tocEntry(int track, unsigned *control) override
    {
        return *control = layout.at(track - 1) == 'D' ? CDROM_DATA_TRACK : 0, 0;
    }
    int size(quint64 *bytes) override { return *bytes = 1 << 30, 0; }
    int read(qint64, qsizetype, QByteArray *into) override
    {
        *into = QByteArray(1080, '\0') + "\x53\xef";
        return 0;
    }
    void sleep(std::chrono::milliseconds) override {}
    std::chrono::steady_clock::time_point now() override { return std::chrono::steady_clock::now(); }
};

struct NoStart final : ProgramStarter
{
    QString started;
    void start(const QString &commandLine, int) override { started = commandLine; }
    void startProgram(const QByteArray &program, int) override { started = QString::fromLocal8Bit(program); }
};

struct OkBoxes final : MessageBoxes
{
    int show(const QString &, int, const QString &) override { return Mb::Ok; }
};

struct NoFilePicker final : FilePicker
{
    void setDialogTitle(const QString &) override {}
    void ShowOpen() override {}
    QString FileName() const override { return {}; }
};

struct NoFolderPicker final : FolderPicker
{
    QString BrowseForFolder(const QString &, short) override { return {}; }
};

bool write(const QString &path, const QByteArray &content)
{
    QDir().mkpath(path.section(u'/', 0, -2));
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(content) == content.size();
}

// One dispatch on D:; the drive's counts, or -1 when the expected program did not start
// (a figure of a dispatch gone wrong would mean nothing).
std::pair<int, int> dispatch(const QString &home, bool optical, const QByteArray &layout, const QString &expected)
{
    auto *drive = new CountingDrive;
    drive->optical = optical;
    drive->layout = layout;
    LinuxOpticalDevices devices(std::unique_ptr<DeviceNode>(drive), {}, nullptr, home + u"/mountinfo"_s,
                                home + u"/sys"_s);
    Drives drives(DriveMap(home + u"/tarvic/drives"_s), devices);
    DrivePaths paths(drives);
    NoStart starter;
    OkBoxes boxes;
    HalvaneSettings settings(home + u"/Halvane.ini"_s);
    NoFilePicker files;
    NoFolderPicker folders;
    Services services{paths, starter, boxes, settings, files, folders};
    mainTarvic(services).Main(u"D:"_s);
    QDir::setCurrent(home);
    return starter.started == expected ? std::pair{drive->opens, drive->statusQuestions} : std::pair{-1, -1};
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    const QString home = dir.path(), disc = home + u"/media/DISC"_s;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home));
    if (!dir.isValid() || !write(disc + u"/autorun.inf"_s, "[autorun]\r\nopen=setup.exe\r\n")
        || !write(disc + u"/setup.exe"_s, "MZ") || !write(home + u"/mountinfo"_s, "98 22 11:1 / " + QFile::encodeName(disc) + " ro - udf /dev/sr1 ro\n")
        || !write(home + u"/Halvane.ini"_s, "[Tarvic]\nAudioCD=/bin/sh\n") || !QDir().mkpath(home + u"/sys"_s)
        || !QDir().mkpath(home + u"/tarvic/drives"_s)
        || !QFile::link(u"/dev/sr1"_s, home + u"/tarvic/drives/d::"_s)) {
        std::fprintf(stderr, "bench_device_opens: cannot set up %s\n", qPrintable(home));
        return 1;
    }
    const auto data = dispatch(home, true, "D", u"D:\\setup.exe"_s);
    const auto audio = dispatch(home, true, "AAAA", u"/bin/sh"_s);
    const auto stick = dispatch(home, false, {}, u"D:\\setup.exe"_s);
    std::printf("device opens per dispatch (CDROM_DRIVE_STATUS questions):\n"
                "  mounted data disc, autorun program  %d (%d)\n"
                "  audio CD                            %d (%d)\n"
                "  mounted USB stick                   %d (%d)\n",
                data.first, data.second, audio.first, audio.second, stick.first, stick.second);
    std::printf("device_opens=%d (target at most 4)\n", data.first);
    return data.first < 0 ? 1 : 0;
}
