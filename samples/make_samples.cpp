// Assembles the sample discs (audio CD, video DVD, autorun disc, data disc) into a
// folder, or, with --seeds, writes generated programs as fuzzing seeds.
//
//   make_samples <output folder> <sample.sh>
//   make_samples --seeds <folder>

#include "pewriter/pe_writer.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QtEndian>
#include <cstdio>

using namespace tarvic::pewriter;

namespace {

bool fail(const QString &what)
{
    std::fprintf(stderr, "make_samples: %s\n", qPrintable(what));
    return false;
}

bool write(const QString &path, const QByteArray &content, bool executable = false)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(content) != content.size())
        return fail(QStringLiteral("cannot write ") + path);
    if (executable)
        f.setPermissions(f.permissions() | QFileDevice::ExeOwner | QFileDevice::ExeGroup | QFileDevice::ExeOther);
    return true;
}

bool copyScript(const QString &from, const QString &to)
{
    QFile f(from);
    if (!f.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot read ") + from);
    return write(to, f.readAll(), true);
}

bool freshFolder(const QString &path)
{
    QDir dir(path);
    if (dir.exists() && !dir.removeRecursively())
        return fail(QStringLiteral("cannot clear ") + path);
    if (!QDir().mkpath(path))
        return fail(QStringLiteral("cannot make ") + path);
    return true;
}

// The 44-byte RIFF "CDDA" file a CD file system shows for each audio track.
QByteArray cdaTrack(quint16 track, quint32 startSector, quint32 sectors)
{
    const auto msf = [](quint32 frames) {
        QByteArray b(4, '\0');
        b[0] = char(frames % 75);
        b[1] = char(frames / 75 % 60);
        b[2] = char(frames / 75 / 60);
        return b;
    };
    QByteArray b(44, '\0');
    b.replace(0, 4, "RIFF");
    qToLittleEndian<quint32>(36, b.data() + 4);
    b.replace(8, 8, "CDDAfmt ");
    qToLittleEndian<quint32>(24, b.data() + 16);
    qToLittleEndian<quint16>(1, b.data() + 20);
    qToLittleEndian<quint16>(track, b.data() + 22);
    qToLittleEndian<quint32>(0x7a1c2b3du, b.data() + 24);
    qToLittleEndian<quint32>(startSector, b.data() + 28);
    qToLittleEndian<quint32>(sectors, b.data() + 32);
    b.replace(36, 4, msf(startSector + 150));   // the first 2 seconds are lead-in
    b.replace(40, 4, msf(sectors));
    return b;
}

IconGroup group(std::initializer_list<IconImage> images)
{
    return IconGroup{QList<IconImage>(images), QString(), 0};
}

bool dataDisc(const QString &root, const QString &script)
{
    PeRecipe setup;
    setup.groups << group({dibIcon(drawIconImage(16, QColor(0x20, 0x80, 0x20)), 8),
                           dibIcon(drawIconImage(32, QColor(0x20, 0xa0, 0x40)), 8),
                           dibIcon(drawIconImage(32, QColor(0x30, 0xc0, 0x50)), 32),
                           dibIcon(drawIconImage(48, QColor(0x40, 0xd0, 0x60)), 32)});
    PeRecipe installer;
    installer.pe64 = true;
    installer.groups << group({dibIcon(drawIconImage(32, QColor(0xc0, 0x40, 0x20)), 4),
                               dibIcon(drawIconImage(32, QColor(0xe0, 0x60, 0x20)), 32)});
    PeRecipe tools;
    tools.pe64 = true;
    tools.groups << group({pngIcon(drawIconImage(256, QColor(0x30, 0x50, 0xd0))),
                           pngIcon(drawIconImage(32, QColor(0x40, 0x60, 0xe0)))});
    PeRecipe noIcon;

    return writePe(root + QStringLiteral("/setup.exe"), setup)
           && writePe(root + QStringLiteral("/Install Me.exe"), installer)
           && writePe(root + QStringLiteral("/tools.EXE"), tools)
           && writePe(root + QStringLiteral("/noicon.exe"), noIcon)
           && copyScript(script, root + QStringLiteral("/hello.exe"))
           && write(root + QStringLiteral("/readme.txt"),
                    "A sample data disc for Tarvic: no autorun.inf, so the chooser lists the programs.\r\n"
                    "hello.exe is a shell script that shows a message; the other programs are\r\n"
                    "Windows programs that only carry icons.\r\n")
           && QDir().mkpath(root + QStringLiteral("/extras"))
           && write(root + QStringLiteral("/extras/notes.txt"), "Programs in sub folders are not listed.\r\n");
}

int makeSamples(const QString &out, const QString &script)
{
    const QString audio = out + QStringLiteral("/audio-cd");
    const QString video = out + QStringLiteral("/video-dvd");
    const QString autorun = out + QStringLiteral("/autorun-disc");
    const QString data = out + QStringLiteral("/data-disc");
    // Only our four folders: the output folder is also CMake's binary folder.
    for (const QString &f : {audio, video, autorun, data})
        if (!freshFolder(f))
            return 1;
    const bool ok = write(audio + QStringLiteral("/track01.cda"), cdaTrack(1, 0, 15000))
                    && write(audio + QStringLiteral("/track02.cda"), cdaTrack(2, 15000, 12000))
                    && QDir().mkpath(video + QStringLiteral("/VIDEO_TS"))
                    && QDir().mkpath(video + QStringLiteral("/AUDIO_TS"))
                    && write(video + QStringLiteral("/VIDEO_TS/VIDEO_TS.IFO"),
                             QByteArray("DVDVIDEO-VMG").leftJustified(64, '\0'))
                    && write(autorun + QStringLiteral("/autorun.inf"),
                             "[autorun]\r\nopen=start.exe\r\nicon=start.exe\r\nlabel=Tarvic sample\r\n")
                    && copyScript(script, autorun + QStringLiteral("/start.exe"))
                    && dataDisc(data, script);
    return ok ? 0 : 1;
}

int makeSeeds(const QString &out)
{
    if (!QDir().mkpath(out))
        return fail(QStringLiteral("cannot make ") + out), 1;
    QList<QPair<QString, PeRecipe>> seeds;
    PeRecipe s;
    s.groups << group({dibIcon(drawIconImage(16, Qt::red), 4), dibIcon(drawIconImage(32, Qt::green), 8),
                       dibIcon(drawIconImage(32, Qt::blue), 24), dibIcon(drawIconImage(48, Qt::yellow), 32)});
    seeds << qMakePair(QStringLiteral("pe32_dib"), s);
    s.pe64 = true;
    seeds << qMakePair(QStringLiteral("pe64_dib"), s);
    PeRecipe png;
    png.groups << group({pngIcon(drawIconImage(32, Qt::cyan))});
    png.groups << IconGroup{{dibIcon(drawIconImage(16, Qt::magenta), 1)}, QStringLiteral("MAIN"), 0};
    seeds << qMakePair(QStringLiteral("png_named"), png);
    PeRecipe none;
    seeds << qMakePair(QStringLiteral("no_icon"), none);
    none.resources = false;
    seeds << qMakePair(QStringLiteral("no_resources"), none);
    PeRecipe sixteen;
    sixteen.groups << group({dibIcon(drawIconImage(32, Qt::darkRed), 16)});
    seeds << qMakePair(QStringLiteral("dib16"), sixteen);
    for (const auto &[name, recipe] : std::as_const(seeds))
        if (!writePe(out + QLatin1Char('/') + name + QStringLiteral(".exe"), recipe))
            return fail(QStringLiteral("cannot write seed ") + name), 1;
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 3 && QByteArray(argv[1]) == "--seeds")
        return makeSeeds(QFile::decodeName(argv[2]));
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_samples <output folder> <sample.sh>\n"
                             "       make_samples --seeds <folder>\n");
        return 2;
    }
    return makeSamples(QFile::decodeName(argv[1]), QFile::decodeName(argv[2]));
}
