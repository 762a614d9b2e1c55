// The chooser window shown for a disc root with 10,000 programs against one with
// 1,000: construction, load, first showing and the filled list. Medians in ms; the
// last line is the ratio of the two (target: at most 12).
//   bench_chooser [runs]
#include "chooser/file_list_box.h"
#include "chooser/frmtarvic.h"
#include "platform/config_paths.h"
#include "platform/devices/devices.h"
#include "platform/drive_map.h"
#include "platform/drive_paths.h"
#include "platform/drives.h"
#include "platform/program_starter.h"
#include "ui/message_boxes.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QListWidget>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

using namespace tarvic;

namespace {

struct NoStarter final : ProgramStarter
{
    void start(const QString &, int) override {}
    void startProgram(const QByteArray &, int) override {}
};
struct NoBoxes final : MessageBoxes
{
    int show(const QString &, int, const QString &) override { return Mb::Ok; }
};

double median(QList<double> v)
{
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? 0 : v[v.size() / 2];
}

void fill(const QString &folder, int programs)
{
    QDir().mkpath(folder);
    for (int i = 0; i < programs; ++i) {
        // Mixed case and some other files, as real discs have.
        const QByteArray name = QFile::encodeName(folder) + (i % 3 ? "/Setup_" : "/setup_") + QByteArray::number(i)
            + (i % 2 ? ".EXE" : ".exe");
        const int fd = ::open(name.constData(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
        if (fd < 0)
            qFatal("cannot write %s", name.constData());
        ::close(fd);
        if (i % 10 == 0) {
            const QByteArray other = QFile::encodeName(folder) + "/data_" + QByteArray::number(i) + ".cab";
            ::close(::open(other.constData(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644));
        }
    }
}

double showOnce(const QString &mapFolder, QChar letter, int expected)
{
    NoOpticalDevices optical;
    Drives drives(DriveMap(mapFolder), optical);
    DrivePaths paths(drives);
    NoStarter starter;
    NoBoxes boxes;
    const QString drive = QString(letter) + QLatin1Char(':');

    frmTarvicControls controls(paths);
    QElapsedTimer t;
    t.start();
    auto *w = new frmTarvic(drive, controls, paths, starter, boxes);
    w->load();
    w->show();
    QCoreApplication::processEvents();
    const double ms = double(t.nsecsElapsed()) / 1e6;
    if (w->EXElist->count() != expected)
        qFatal("listed %d programs, not %d", int(w->EXElist->count()), expected);
    delete w;
    return ms;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    if (!home.isValid())
        qFatal("no temporary folder");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path()));
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 15;

    const QString map = driveMapFolder();
    QDir().mkpath(map);
    QDir().mkpath(home.filePath(QStringLiteral("start")));
    QDir::setCurrent(home.filePath(QStringLiteral("start")));
    const struct
    {
        QChar letter;
        int programs;
    } cases[] = {{QLatin1Char('e'), 1000}, {QLatin1Char('f'), 10000}};
    for (const auto &c : cases) {
        const QString folder = home.filePath(QStringLiteral("disc-%1").arg(c.programs));
        fill(folder, c.programs);
        const QString link = map + QLatin1Char('/') + c.letter + QLatin1Char(':');
        if (::symlink(QFile::encodeName(folder).constData(), QFile::encodeName(link).constData()) != 0)
            qFatal("cannot link %s", qPrintable(link));
    }

    QList<double> small, large;
    showOnce(map, QLatin1Char('E'), 1000);   // warm the caches and the style
    showOnce(map, QLatin1Char('F'), 10000);
    for (int i = 0; i < runs; ++i) {
        small << showOnce(map, QLatin1Char('E'), 1000);
        large << showOnce(map, QLatin1Char('F'), 10000);
    }
    const double a = median(small), b = median(large);
    std::printf("chooser_1000_ms=%.2f\n", a);
    std::printf("chooser_10000_ms=%.2f\n", b);
    std::printf("chooser_ratio=%.2f\n", a > 0 ? b / a : 0.0);
    return 0;
}
