// The media dispatch on real folder drives and a real settings file: which box,
// which program, in which working folder, and which window is left.
#include "support/test_env.h"

#include <QtTest>

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
    // Audio CD before video DVD before autorun.inf; a player is started in its start-in
    // folder, the autorun program as written in the disc's root, its path found without
    // regard to case. A player not configured, one with arguments (not a file) or gone:
    // the user is asked, Yes leaves the configuration window. An open= that names no
    // program of the disc, or none at all: the chooser.
    void dispatch_data()
    {
        QTest::addColumn<QStringList>("disc");
        QTest::addColumn<QStringList>("players");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("report");
        const QStringList players{u"%A"_s, u"%V"_s, u"%S"_s}, none{{}, {}, {}};
        const QStringList programs{u"setup.exe"_s, u"My Setup.exe"_s, u"Bin/Install.exe"_s};
        const QString autorun = u"autorun.inf=[autorun]\nopen="_s, chooser = u"frmTarvic: My Setup.exe, setup.exe"_s;
        QTest::newRow("audio CD") << QStringList{u"Track01.CDA"_s} << players << 0 << u"%A (1) in %S"_s;
        QTest::newRow("video DVD, start-in folder on another drive")
            << QStringList{u"video_ts/"_s} << QStringList{u"%A"_s, u"%V"_s, u"m:\\sub"_s} << 0 << u"%V (1) in %M/Sub"_s;
        QTest::newRow("audio before video and autorun")
            << QStringList{u"track01.cda"_s, u"VIDEO_TS/"_s, autorun + u"setup.exe"_s} + programs << players << 0
            << u"%A (1) in %S"_s;
        QTest::newRow("video before autorun")
            << QStringList{u"VIDEO_TS/"_s, autorun + u"setup.exe"_s} + programs << players << 0 << u"%V (1) in %S"_s;
        QTest::newRow("start-in folder missing") << QStringList{u"track01.cda"_s}
            << QStringList{u"%A"_s, u"%V"_s, u"/nonexistent"_s} << 0 << u"%A (1) in %W"_s;
        QTest::newRow("no player, Yes") << QStringList{u"track01.cda"_s} << none << int(Mb::Yes)
                                        << AskAudio + u" | frmConfigure"_s;
        QTest::newRow("a player with arguments, No") << QStringList{u"track01.cda"_s}
            << QStringList{u"%A --cd"_s, u"%V"_s, {}} << int(Mb::No) << AskAudio;
        QTest::newRow("video player gone, Yes") << QStringList{u"VIDEO_TS/"_s}
            << QStringList{u"%A"_s, u"/nonexistent/video"_s, {}} << int(Mb::Yes) << AskVideo + u" | frmConfigure"_s;
        QTest::newRow("autorun.inf in other cases") << QStringList{u"AUTORUN.INF=[AutoRun]\r\nOPEN=bin\\install.exe"_s} + programs
            << players << 0 << u"E:\\bin\\install.exe (1) in %E"_s;
        QTest::newRow("a leading backslash and blanks") << QStringList{autorun + u"\\My Setup.exe"_s} + programs
            << players << 0 << u"E:\\\\My Setup.exe (1) in %E"_s;
        QTest::newRow("open= with arguments") << QStringList{autorun + u"setup.exe /s"_s} + programs << players << 0 << chooser;
        QTest::newRow("open= missing") << QStringList{autorun + u"missing.exe"_s} + programs << players << 0 << chooser;
        QTest::newRow("open= out of the disc") << QStringList{autorun + u"..\\..\\bin\\sh"_s} + programs << players << 0 << chooser;
        QTest::newRow("open= a Linux path") << QStringList{autorun + u"/bin/sh"_s} + programs << players << 0 << chooser;
        QTest::newRow("open= empty") << QStringList{autorun} + programs << players << 0 << chooser;
        QTest::newRow("no autorun.inf") << programs << players << 0 << chooser;
    }

    void dispatch()
    {
        QFETCH(QStringList, disc);
        QFETCH(QStringList, players);
        QFETCH(int, answer);
        QFETCH(QString, report);
        Dispatch d;
        d.fill(disc);
        d.setPlayers(players);
        d.env.boxes.answers = {answer};
        QCOMPARE(d.env.run(u"e:"_s), d.expand(report));
    }

    // The disc goes in while the last box is being answered.
    void anEmptyDriveIsAskedForTillADiscIsIn_data()
    {
        QTest::addColumn<QList<int>>("answers");
        QTest::addColumn<QString>("disc");
        QTest::addColumn<QString>("report");
        QTest::newRow("an audio CD, Retry") << QList<int>{Mb::Retry, Mb::Retry} << u"track01.cda"_s
                                            << DiscRequest + u" | "_s + DiscRequest + u" | %A (1) in %S"_s;
        QTest::newRow("a data disc, Retry") << QList<int>{Mb::Retry} << u"install.exe"_s
                                            << DiscRequest + u" | frmTarvic: install.exe"_s;
        QTest::newRow("Cancel") << QList<int>{Mb::Retry, Mb::Cancel} << u"track01.cda"_s << DiscRequest + u" | "_s + DiscRequest;
    }

    void anEmptyDriveIsAskedForTillADiscIsIn()
    {
        QFETCH(QList<int>, answers);
        QFETCH(QString, disc);
        QFETCH(QString, report);
        Dispatch d;
        d.setPlayers({u"%A"_s, u"%V"_s, u"%S"_s});
        d.env.boxes.answers = answers;
        d.env.boxes.whileShown = [&](const ShownBox &) {
            if (d.env.boxes.shown.size() == answers.size())
                d.fill({disc});
        };
        QCOMPARE(d.env.run(u"e:"_s), d.expand(report));
    }
};

QTEST_MAIN(DispatchTest)
#include "test_dispatch.moc"
