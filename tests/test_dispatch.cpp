// The media dispatch on real folder drives and a real settings file: which box,
// which program, in which working folder, and which window is left.
#include "chooser/frmtarvic.h"
#include "configure/frmconfigure.h"
#include "startup/maintarvic.h"
#include "support/test_env.h"

#include <QtTest>

using namespace tarvic;
using namespace tarvic::test;
using namespace Qt::StringLiterals;

class DispatchTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void dispatch_data()
    {
        QTest::addColumn<QString>("disc");      // entries of E: split by "|": "file", "folder/" or "file=content"
        QTest::addColumn<QString>("player");    // both player settings, %1 standing for "audio" or "video"
        QTest::addColumn<QString>("startIn");   // both start-in settings
        QTest::addColumn<QString>("boxes");     // "title:answer" of each box shown
        QTest::addColumn<QString>("ran");       // "command line (window style) in folder"; "nothing in" where left
        const QString p = u"@P@/%1"_s, cd = u"track01.cda"_s, inf = u"autorun.inf=[autorun]\nopen="_s;
        const QString progs = u"|setup.exe|My Setup.exe|Bin/Install.exe"_s, data = inf + u"setup.exe"_s + progs;
        const QString audio = u"@P@/audio (1) in @S@"_s, none = u"nothing in @B@"_s, chooser = u"nothing in @D@"_s;
        QTest::newRow("audio CD") << u"Track01.CDA"_s << p << "@S@" << "" << audio;
        QTest::newRow("video DVD, start-in on M:") << "video_ts/" << p << "m:\\sub" << "" << "@P@/video (1) in @M@/Sub";
        QTest::newRow("audio before video") << cd + u"|VIDEO_TS/|"_s + data << p << "@S@" << "" << audio;
        QTest::newRow("video before autorun") << u"VIDEO_TS/|"_s + data << p << "@S@" << "" << "@P@/video (1) in @S@";
        QTest::newRow("start-in missing") << cd << p << "/nonexistent" << "" << "@P@/audio (1) in @B@";
        QTest::newRow("audio, not configured, yes") << cd << "" << "" << "Audio CD:6" << none;
        QTest::newRow("audio, with arguments, no") << cd << p + u" --cd"_s << "" << "Audio CD:7" << none;
        QTest::newRow("video, gone, yes") << "VIDEO_TS/" << "/nonexistent/%1" << "" << "Video DVD:6" << none;
        QTest::newRow("settings unreadable") << cd << "@INI@" << "" << "Error:1" << none;
        QTest::newRow("autorun, other case") << u"AUTORUN.INF=[AutoRun]\r\nOPEN=bin\\install.exe"_s + progs << p << ""
                                             << "" << "E:\\bin\\install.exe (1) in @D@";
        QTest::newRow("autorun, leading backslash, blanks") << inf + u"\\My Setup.exe"_s + progs << p << "" << ""
                                                            << "E:\\\\My Setup.exe (1) in @D@";
        for (const QString &open : {u"setup.exe /s"_s, u"missing.exe"_s, u"..\\..\\bin\\sh"_s, u"/bin/sh"_s, QString()})
            QTest::addRow("chooser, open=%s", qPrintable(open)) << inf + open + progs << p << "" << "" << chooser;
        QTest::newRow("chooser, no autorun.inf") << progs.mid(1) << p << "" << "" << chooser;
        QTest::newRow("empty, retry till a disc is in") << cd << p << "@S@" << "Disc Request:4|Disc Request:4" << audio;
        QTest::newRow("empty, retry and cancel") << "" << p << "@S@" << "Disc Request:4|Disc Request:2" << none;
    }

    void dispatch()
    {
        QFETCH(QString, disc);
        QFETCH(QString, player);
        QFETCH(QString, startIn);
        QFETCH(QString, boxes);
        QFETCH(QString, ran);
        TestEnv env;
        const auto folder = [&env](const QString &name) { return QDir(env.newFolder(name)).canonicalPath(); };
        const QString root = folder(u"disc"_s), m = folder(u"m"_s), players = folder(u"my players"_s);
        const auto expand = [&, before = QDir::currentPath()](QString s) {
            return s.replace(u"@P@"_s, players).replace(u"@S@"_s, folder(u"start in"_s)).replace(u"@M@"_s, m)
                .replace(u"@D@"_s, root).replace(u"@B@"_s, before).replace(u"%1"_s, u"audio"_s);
        };
        touch(players + u"/audio"_s);
        touch(players + u"/video"_s);
        makeFolder(m + u"/Sub"_s);
        env.mapDrive(u'e', root);
        env.mapDrive(u'm', m);
        const QString in = expand(startIn);
        if (player == u"@INI@")   // the settings file cannot be read
            makeFolder(env.settingsPath());
        else
            env.settings().write({{Key::AudioCD, expand(player)}, {Key::CDSI, in}, {Key::DVDSI, in},
                                  {Key::VideoDVD, expand(player.replace(u"%1"_s, u"video"_s))}});
        const QString ask = u"(36): The %1 program either does not exist any more or it not been configured yet, "
                            u"do you want to configure it now?"_s;
        const QHash<QString, QString> texts{
            {u"Audio CD"_s, ask.arg(u"audio CD"_s)}, {u"Video DVD"_s, ask.arg(u"video DVD"_s)},
            {u"Disc Request"_s, u"(21): No disc was found in drive E:.  Please insert a disc and try again"_s},
            {u"Error"_s, u"(16): An error has occured: Path/File access error: the settings file "_s
                             + env.settingsPath() + u" is a folder, 75"_s}};
        QStringList expected, shown, started;
        for (const QString &box : boxes.split(u'|', Qt::SkipEmptyParts)) {
            env.boxes.answers << box.section(u':', 1).toInt();
            expected << box.section(u':', 0, 0) + u' ' + texts.value(box.section(u':', 0, 0));
        }
        const auto insert = [&] {
            for (const QString &entry : disc.split(u'|', Qt::SkipEmptyParts))
                entry.endsWith(u'/') ? makeFolder(root + u'/' + entry)
                                     : touch(root + u'/' + entry.section(u'=', 0, 0), entry.section(u'=', 1).toUtf8());
        };
        // An empty drive gets its disc while the last Retry is being answered.
        const qsizetype retries = env.boxes.answers.count(Mb::Retry);
        env.boxes.whileShown = [&](const ShownBox &) { if (env.boxes.shown.size() == retries) insert(); };
        if (retries == 0)
            insert();

        mainTarvic program(env.services());
        program.Main(u"e:"_s);

        for (const ShownBox &b : std::as_const(env.boxes.shown))
            shown << u"%1 (%2): %3"_s.arg(b.title).arg(b.flags).arg(b.text);
        QCOMPARE(shown, expected);
        for (const StartedProgram &s : std::as_const(env.starter.started))
            started << u"%1 (%2) in %3"_s.arg(s.commandLine).arg(s.windowStyle).arg(s.workingDirectory);
        QCOMPARE(started.isEmpty() ? u"nothing in "_s + QDir::currentPath() : started.join(u'\n'), expand(ran));
        // The chooser is left when nothing else happened; the configuration window after a Yes.
        Forms &w = program.forms();
        QCOMPARE(w.isTarvicLoaded() && w.frmTarvic().isVisible(), boxes.isEmpty() && ran.startsWith(u"nothing"));
        QCOMPARE(w.isConfigureLoaded() && w.frmConfigure().isVisible(), boxes.endsWith(u":6"));
    }
};

QTEST_MAIN(DispatchTest)
#include "test_dispatch.moc"
