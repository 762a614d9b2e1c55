// The icon of a 2 GB program (an installer with its payload appended) must cost no
// more than that of a 100 KB one: only headers, directory and one image are read.
// Prints the medians and, last, icon_ratio=<big/small>.
#include "components/pe_icon.h"
#include "components/pellor.h"
#include "platform/devices/devices.h"
#include "platform/drive_map.h"
#include "platform/drive_paths.h"
#include "platform/drives.h"
#include "pewriter/pe_writer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <unistd.h>

using namespace tarvic;
using namespace tarvic::pewriter;

namespace {

double medianMicroseconds(Pellor &pellor, const QString &path, int runs)
{
    QList<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        const QPixmap icon = pellor.FileIcon(path);
        times << t.nsecsElapsed() / 1000.0;
        if (icon.isNull())
            std::abort();
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path()));
    const QString disc = home.filePath(QStringLiteral("disc"));
    const QString map = home.filePath(QStringLiteral("tarvic/drives"));
    QDir().mkpath(disc);
    QDir().mkpath(map);
    if (::symlink(QFile::encodeName(disc).constData(), QFile::encodeName(map + QStringLiteral("/e:")).constData()) != 0)
        return 1;

    PeRecipe recipe;
    IconGroup group;
    group.images << dibIcon(drawIconImage(16, Qt::red), 8) << dibIcon(drawIconImage(32, Qt::green), 32)
                 << dibIcon(drawIconImage(48, Qt::blue), 32) << pngIcon(drawIconImage(256, Qt::yellow));
    recipe.groups << group;
    if (!writePe(disc + QStringLiteral("/small.exe"), recipe, 100 * 1024)
        || !writePe(disc + QStringLiteral("/big.exe"), recipe, 2ll << 30)) {
        std::fprintf(stderr, "cannot write the programs\n");
        return 1;
    }

    NoOpticalDevices optical;
    Drives drives(DriveMap(map), optical);
    DrivePaths paths(drives);
    Pellor pellor(paths);
    const int runs = 401;
    medianMicroseconds(pellor, QStringLiteral("E:\\small.exe"), 20);   // warm up caches and plugins
    const double small = medianMicroseconds(pellor, QStringLiteral("E:\\small.exe"), runs);
    const double big = medianMicroseconds(pellor, QStringLiteral("E:\\big.exe"), runs);
    // Once more in the other order, so neither file gains from going second.
    const double big2 = medianMicroseconds(pellor, QStringLiteral("E:\\big.exe"), runs);
    const double small2 = medianMicroseconds(pellor, QStringLiteral("E:\\small.exe"), runs);
    const double s = std::min(small, small2);
    const double b = std::min(big, big2);
    std::printf("FileIcon 100 KB program: median %.1f us (%d runs, twice)\n", s, runs);
    std::printf("FileIcon 2 GB program:   median %.1f us (%d runs, twice)\n", b, runs);
    std::printf("icon_ratio=%.3f\n", b / s);
    return 0;
}
