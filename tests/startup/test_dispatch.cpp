// The start-up on real folders, device nodes and a real settings file: the target
// drive, then the media dispatch: which box, which program, which window is left.
#include "support/test_env.h"

#include <QtTest>
#include <sys/stat.h>
#include <sys/sysmacros.h>

using namespace tarvic;
using namespace tarvic::test;
using namespace Qt::StringLiterals;

const QString AskAudio = u"Audio CD (36): The audio CD program either does not exist any more or it not been "
                         u"configured yet, do you want to configure it now?"_s;
const QString AskVideo = u"Video DVD (36): The video DVD program either does not exist any more or it not been "
                         u"configured yet, do you want to configure it now?"_s;
const QString DiscRequest = u"Disc Request (21): No disc was found in drive E:.  Please insert a disc and try again"_s;

// E: on the folder %E, M: on %M with a folder Sub; the players %A and %V exist; %S is
// a start-in folder, %W the working folder before the run. Each by its real path, as
// a started program's working folder shows it.
struct Dispatch
{
    TestEnv env;
    const QString home = QDir(env.configHome()).canonicalPath() + u'/', before = QDir::currentPath();

    Dispatch()
    {
        for (const QString &file : {u"%A"_s, u"%V"_s, u"%E/"_s, u"%M/Sub/"_s, u"%S/"_s})
            file.endsWith(u'/') ? makeFolder(expand(file)) : touch(expand(file));
        env.mapDrive(u'e', expand(u"%E"_s));
        env.mapDrive(u'm', expand(u"%M"_s));
    }
    QString expand(QString text) const
    {
        for (const auto &[key, name] : {std::pair{u"%E"_s, u"disc"_s}, {u"%M"_s, u"m"_s}, {u"%S"_s, u"start in"_s},
                                         {u"%A"_s, u"players/audio"_s}, {u"%V"_s, u"players/video"_s}})
            text.replace(key, home + name);
        return text.replace(u"%W"_s, before);
    }
    // Puts each entry into the disc's root: "name/" a folder, "name=text" a file with that text.
    void fill(const QStringList &entries) const
    {
        for (const QString &entry : entries) {
            const QString path = expand(u"%E/"_s) + entry.section(u'=', 0, 0);
            entry.endsWith(u'/') ? makeFolder(path) : touch(path, entry.section(u'=', 1).toUtf8());
        }
    }
    // AudioCD, VideoDVD, and the start-in folder of both.
    void setPlayers(const QStringList &players)
    {
        env.settings().write({{Key::AudioCD, expand(players[0])}, {Key::VideoDVD, expand(players[1])},
                              {Key::CDSI, expand(players[2])}, {Key::DVDSI, expand(players[2])}});
    }
};

class DispatchTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // A medium named by its folder, a file URI or its device is handled on the drive
    // the map gives it, or on the first letter from D: the map leaves free; any other
    // argument names the drive of its first two characters, upper-cased. D: holds disc
    // A, E: disc B, G: a device without a disc; disc C is mapped nowhere; each disc's
    // autorun program is named after it.
    void startUp_data()
    {
        // B, C, L: the discs' folders and a link to B; N, M: device nodes; V: GVfs's folder of N; U: B's URI
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QString>("report");
        const QString usage = u"Tarvic Usage (64): Drive %1 does not exist\r\n\r\nUsage:\r\nTarvic <driveletter>:\r\nTarvic /c"_s;
        const QString request = u"Disc Request (21): No disc was found in drive %1.  Please insert a disc and try again"_s;
        const QString error = u"Error (16): An error has occured: Path not found: %1, 76"_s;
        QTest::newRow("none: D:") << u""_s << u"D:\\a.exe (1) in A"_s;
        QTest::newRow("a letter without colon") << u"e"_s << usage.arg(u"E"_s);
        QTest::newRow("characters, not code units") << u"\U0001F4BFa:"_s << usage.arg(u"\U0001F4BFA"_s);
        QTest::newRow("100 KB") << QString(100 * 1024, u'z') << usage.arg(u"ZZ"_s);
        QTest::newRow("/c") << u"/c"_s << u"frmConfigure"_s;
        QTest::newRow("/C is no configuration") << u"/C"_s << usage.arg(u"/C"_s);
        QTest::newRow("folder mapped to E:") << u"B"_s << u"E:\\b.exe (1) in B"_s;
        QTest::newRow("through a link, with a slash") << u"L/"_s << u"E:\\b.exe (1) in B"_s;
        QTest::newRow("file URI, percent-encoded") << u"file://U"_s << u"E:\\b.exe (1) in B"_s;
        QTest::newRow("file URI of localhost") << u"file://localhostU"_s << u"E:\\b.exe (1) in B"_s;
        QTest::newRow("folder no letter maps") << u"C"_s << u"F:\\c.exe (1) in C"_s;
        QTest::newRow("device node of G:") << u"N"_s << request.arg(u"G:"_s);
        QTest::newRow("GNOME's GVfs folder of an audio CD in G:") << u"V"_s << request.arg(u"G:"_s);
        QTest::newRow("device no letter maps") << u"M"_s << request.arg(u"F:"_s);
        QTest::newRow("/x") << u"/x"_s << usage.arg(u"/X"_s);
        QTest::newRow("no such path") << u"/nonexistent/tarvic"_s << usage.arg(u"/N"_s);
        QTest::newRow("URI of another host") << u"file://elsewhere/media/x"_s << error.arg(u"file://elsewhere/media/x is on elsewhere, not on this machine"_s);
        QTest::newRow("URI of nothing") << u"file:///nonexistent/tarvic"_s << error.arg(u"file:///nonexistent/tarvic is no folder and no block device"_s);
        QTest::newRow("escaped slash") << u"file://U%2Fx"_s << error.arg(u"file://U%2Fx is no file URI of this machine"_s);
    }

    void startUp()
    {
        QFETCH(QString, argument);
        QFETCH(QString, report);
        TestEnv env;
        const QString nodes = env.deviceFolder();
        QHash<QChar, QString> named{{u'L', env.newFolder(u"links"_s) + u"/b"_s}, {u'N', nodes + u"/n"_s},
                                    {u'M', nodes + u"/m"_s}, {u'V', env.newFolder(u"run/gvfs"_s) + u"/cdda:host=n"_s}};
        for (const QChar disc : {u'A', u'B', u'C'}) {
            const QString folder = named[disc] = env.newFolder(u"disc %1 \u00FC"_s.arg(disc));
            const QString program = disc.toLower() + u".exe"_s;
            touch(folder + u"/autorun.inf"_s, "[autorun]\nopen=" + program.toLatin1() + "\n");
            touch(folder + u'/' + program);
        }
        env.mapDrive(u'd', named[u'A']);
        env.mapDrive(u'e', named[u'B']);
        QVERIFY(QFile::link(named[u'B'], named[u'L']));
        makeFolder(nodes);
        // Loop devices' numbers far above any in use; nothing opens these nodes.
        for (const auto &[name, minor] : {std::pair{"g", 4000}, {"n", 4000}, {"m", 4001}})
            QCOMPARE(::mknod(QFile::encodeName(nodes + u'/' + QLatin1String(name)).constData(), S_IFBLK | 0600,
                             ::makedev(7, minor)), 0);
        env.mapDevice(u'g', nodes + u"/g"_s);
        const QString uri = QString::fromLatin1(QUrl::toPercentEncoding(named[u'B'], "/"));
        argument.replace(u"localhostU"_s, u"localhost"_s + uri).replace(u"file://U"_s, u"file://"_s + uri);
        if (!argument.isEmpty() && named.contains(argument.front()))
            argument.replace(0, 1, named[argument.front()]);
        for (const QChar disc : {u'A', u'B', u'C'})
            report.replace(u" in "_s + disc, u" in "_s + named[disc]);
        QCOMPARE(env.run(argument), report.replace(u"file://U"_s, u"file://"_s + uri));
    }

    // The settings cannot be read: after the error box no window is left, so the
    // process ends. Also after a Yes to "configure it now?", when the file goes bad
    // while the question is up.
    void aWindowThatCannotLoadIsNotLeft_data()
    {
        QTest::addColumn<QString>("argument");
        QTest::addColumn<bool>("badFromTheStart");
        QTest::addColumn<QString>("report");
        const QString error = u"Error (16): An error has occured: Path/File access error: the settings file %S is a folder, 75"_s;
        QTest::newRow("/c") << u"/c"_s << true << error;
        QTest::newRow("an audio CD") << u"e:"_s << true << error;
        QTest::newRow("Yes to the question") << u"e:"_s << false << AskAudio + u" | "_s + error;
    }

    void aWindowThatCannotLoadIsNotLeft()
    {
        QFETCH(QString, argument);
        QFETCH(QString, report);
        QFETCH(bool, badFromTheStart);
        Dispatch d;
        d.fill({u"track01.cda"_s});
        if (badFromTheStart)
            makeFolder(d.env.settingsPath());
        d.env.boxes.answers = {Mb::Yes};
        d.env.boxes.whileShown = [&](const ShownBox &) { makeFolder(d.env.settingsPath()); };
        QCOMPARE(d.env.run(argument), report.replace(u"%S"_s, d.env.settingsPath()));
    }

    // Audio CD before video DVD before autorun.inf; a player is started in its start-in
    // folder, the autorun program as written in the disc's root, its path found without
    // regard to case. A player not configured, one with arguments (not a file) or gone:
    // the user is asked, Yes leaves the configuration window. An open= that names no
    // program of the disc, or none at all: the chooser. An empty drive is asked for
    // till a disc is in: it goes in while the last box is up.
    void dispatch_data()
    {
        QTest::addColumn<QStringList>("disc");
        QTest::addColumn<QStringList>("players");
        QTest::addColumn<QList<int>>("answers");
        QTest::addColumn<QString>("report");
        QTest::addColumn<bool>("late");
        // The disc's entries, "," between; the audio player, the video player and their start-in folder, "|" between.
        const auto row = [](const char *name, const QString &disc, const QString &players, const QList<int> &answers,
                            const QString &report, bool late = false) {
            QTest::newRow(name) << disc.split(u',') << players.split(u'|') << answers << report << late;
        };
        const QString all = u"%A|%V|%S"_s, programs = u",setup.exe,My Setup.exe,Bin/Install.exe"_s;
        const QString autorun = u"autorun.inf=[autorun]\nopen="_s, chooser = u"frmTarvic: My Setup.exe, setup.exe"_s;
        row("video DVD, start-in folder on another drive", u"video_ts/"_s, u"%A|%V|m:\\sub"_s, {}, u"%V (1) in %M/Sub"_s);
        row("audio CD before video and autorun", u"Track01.CDA,VIDEO_TS/,"_s + autorun + u"setup.exe"_s + programs, all, {}, u"%A (1) in %S"_s);
        row("video before autorun", u"VIDEO_TS/,"_s + autorun + u"setup.exe"_s + programs, all, {}, u"%V (1) in %S"_s);
        row("start-in folder missing", u"track01.cda"_s, u"%A|%V|/nonexistent"_s, {}, u"%A (1) in %W"_s);
        row("no player, Yes", u"track01.cda"_s, u"||"_s, {Mb::Yes}, AskAudio + u" | frmConfigure"_s);
        row("a player with arguments, No", u"track01.cda"_s, u"%A --cd|%V|"_s, {Mb::No}, AskAudio);
        row("video player gone, Yes", u"VIDEO_TS/"_s, u"%A|/nonexistent/video|"_s, {Mb::Yes}, AskVideo + u" | frmConfigure"_s);
        row("autorun.inf in other cases", u"AUTORUN.INF=[AutoRun]\r\nOPEN=bin\\install.exe"_s + programs, all, {}, u"E:\\bin\\install.exe (1) in %E"_s);
        row("a leading backslash and blanks", autorun + u"\\My Setup.exe"_s + programs, all, {}, u"E:\\\\My Setup.exe (1) in %E"_s);
        row("open= with arguments", autorun + u"setup.exe /s"_s + programs, all, {}, chooser);
        row("open= missing", autorun + u"missing.exe"_s + programs, all, {}, chooser);
        row("open= out of the disc", autorun + u"..\\..\\bin\\sh"_s + programs, all, {}, chooser);
        row("open= a Linux path", autorun + u"/bin/sh"_s + programs, all, {}, chooser);
        row("open= empty", autorun + programs, all, {}, chooser);
        row("no autorun.inf", programs.mid(1), all, {}, chooser);
        const QString request = DiscRequest + u" | "_s;
        row("empty, an audio CD, Retry", u"track01.cda"_s, all, {Mb::Retry, Mb::Retry}, request + request + u"%A (1) in %S"_s, true);
        row("empty, a data disc, Retry", u"install.exe"_s, all, {Mb::Retry}, request + u"frmTarvic: install.exe"_s, true);
        row("empty, Cancel", u"track01.cda"_s, all, {Mb::Retry, Mb::Cancel}, request + DiscRequest, true);
    }

    void dispatch()
    {
        QFETCH(QStringList, disc);
        QFETCH(QStringList, players);
        QFETCH(QList<int>, answers);
        QFETCH(QString, report);
        QFETCH(bool, late);
        Dispatch d;
        d.setPlayers(players);
        d.env.boxes.answers = answers;
        if (!late)
            d.fill(disc);
        d.env.boxes.whileShown = [&](const ShownBox &) {
            if (late && d.env.boxes.shown.size() == answers.size())
                d.fill(disc);
        };
        QCOMPARE(d.env.run(u"e:"_s), d.expand(report));
    }
};

QTEST_MAIN(DispatchTest)
#include "test_dispatch.moc"
