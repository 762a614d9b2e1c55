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

const QString AskAudio = u"Audio CD (36): The audio CD program either does not exist any more or it not been "
                         u"configured yet, do you want to configure it now?"_s;
const QString AskVideo = u"Video DVD (36): The video DVD program either does not exist any more or it not been "
                         u"configured yet, do you want to configure it now?"_s;
const QString DiscRequest = u"Disc Request (21): No disc was found in drive E:.  Please insert a disc and try again"_s;
const QByteArray Programs[] = {"setup.exe", "My Setup.exe", "Bin/Install.exe"};

// Drive E: on a folder, M: with a folder Sub, and two players that exist.
struct Dispatch
{
    TestEnv env;
    QString before = QDir::currentPath();
    QString disc = folder(u"disc"_s), m = folder(u"m"_s), startIn = folder(u"start in"_s);
    QString audio = folder(u"my players"_s) + u"/audio"_s, video = QFileInfo(audio).path() + u"/video"_s;
    std::unique_ptr<mainTarvic> program;

    Dispatch()
    {
        touch(audio);
        touch(video);
        makeFolder(m + u"/Sub"_s);
        env.mapDrive(u'e', disc);
        env.mapDrive(u'm', m);
    }
    QString folder(const QString &name) { return QDir(env.newFolder(name)).canonicalPath(); }
    void setPlayers(const QString &audioPlayer, const QString &videoPlayer, const QString &startFolder)
    {
        env.settings().write({{Key::AudioCD, audioPlayer}, {Key::CDSI, startFolder}, {Key::DVDSI, startFolder},
                              {Key::VideoDVD, videoPlayer}});
    }
    void putPrograms()
    {
        for (const QByteArray &name : Programs)
            touch(disc + u'/' + QString::fromUtf8(name));
    }
    void run()
    {
        program = std::make_unique<mainTarvic>(env.services());
        program->Main(u"e:"_s);
    }
    // Each box as "title (flags): text".
    QStringList boxes() const
    {
        QStringList shown;
        for (const ShownBox &b : env.boxes.shown)
            shown << u"%1 (%2): %3"_s.arg(b.title).arg(b.flags).arg(b.text);
        return shown;
    }
    // Each start as "command line (window style) in working folder".
    QStringList started() const
    {
        QStringList started;
        for (const StartedProgram &s : env.starter.started)
            started << u"%1 (%2) in %3"_s.arg(s.commandLine).arg(s.windowStyle).arg(s.workingDirectory);
        return started;
    }
    bool chooserShown() { return program->forms().isTarvicLoaded() && program->forms().frmTarvic().isVisible(); }
    bool configureShown() { return program->forms().isConfigureLoaded() && program->forms().frmConfigure().isVisible(); }
};

class DispatchTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void anAudioCdPlaysInItsStartInFolder()
    {
        Dispatch d;
        d.setPlayers(d.audio, d.video, d.startIn);
        touch(d.disc + u"/Track01.CDA"_s);
        d.run();
        QCOMPARE(d.started(), QStringList{d.audio + u" (1) in "_s + d.startIn});
        QVERIFY(d.boxes().isEmpty() && !d.chooserShown() && !d.configureShown());
    }

    void aVideoDvdPlaysInAStartInFolderOnAnotherDrive()
    {
        Dispatch d;
        d.setPlayers(d.audio, d.video, u"m:\\sub"_s);
        makeFolder(d.disc + u"/video_ts"_s);
        d.run();
        QCOMPARE(d.started(), QStringList{d.video + u" (1) in "_s + d.m + u"/Sub"_s});
        QVERIFY(d.boxes().isEmpty() && !d.chooserShown());
    }

    void audioComesBeforeVideoAndAutorun()
    {
        Dispatch d;
        d.setPlayers(d.audio, d.video, d.startIn);
        touch(d.disc + u"/track01.cda"_s);
        makeFolder(d.disc + u"/VIDEO_TS"_s);
        touch(d.disc + u"/autorun.inf"_s, "[autorun]\nopen=setup.exe");
        d.putPrograms();
        d.run();
        QCOMPARE(d.started(), QStringList{d.audio + u" (1) in "_s + d.startIn});
    }

    void videoComesBeforeAutorun()
    {
        Dispatch d;
        d.setPlayers(d.audio, d.video, d.startIn);
        makeFolder(d.disc + u"/VIDEO_TS"_s);
        touch(d.disc + u"/autorun.inf"_s, "[autorun]\nopen=setup.exe");
        d.putPrograms();
        d.run();
        QCOMPARE(d.started(), QStringList{d.video + u" (1) in "_s + d.startIn});
    }

    void aMissingStartInFolderLeavesTheFolderAsItWas()
    {
        Dispatch d;
        d.setPlayers(d.audio, d.video, u"/nonexistent"_s);
        touch(d.disc + u"/track01.cda"_s);
        d.run();
        QCOMPARE(d.started(), QStringList{d.audio + u" (1) in "_s + d.before});
    }

    // No player, a player with arguments (not a file), a player gone: the user is
    // asked; Yes leaves the configuration window, No nothing. Nothing starts.
    void aPlayerNotConfiguredAsksToConfigureIt()
    {
        Dispatch d;
        d.setPlayers({}, {}, {});
        touch(d.disc + u"/track01.cda"_s);
        d.env.boxes.answers = {Mb::Yes};
        d.run();
        QCOMPARE(d.boxes(), QStringList{AskAudio});
        QVERIFY(d.started().isEmpty() && d.configureShown() && !d.chooserShown());
        QCOMPARE(QDir::currentPath(), d.before);
    }

    void aPlayerWithArgumentsIsNoProgram()
    {
        Dispatch d;
        d.setPlayers(d.audio + u" --cd"_s, d.video, {});
        touch(d.disc + u"/track01.cda"_s);
        d.env.boxes.answers = {Mb::No};
        d.run();
        QCOMPARE(d.boxes(), QStringList{AskAudio});
        QVERIFY(d.started().isEmpty() && !d.configureShown() && !d.chooserShown());
        QCOMPARE(QDir::currentPath(), d.before);
    }

    void aVideoPlayerGoneAsksToConfigureIt()
    {
        Dispatch d;
        d.setPlayers(u"/nonexistent/audio"_s, u"/nonexistent/video"_s, {});
        makeFolder(d.disc + u"/VIDEO_TS"_s);
        d.env.boxes.answers = {Mb::Yes};
        d.run();
        QCOMPARE(d.boxes(), QStringList{AskVideo});
        QVERIFY(d.started().isEmpty() && d.configureShown());
    }

    void anUnreadableSettingsFileIsAnError()
    {
        Dispatch d;
        makeFolder(d.env.settingsPath());
        touch(d.disc + u"/track01.cda"_s);
        d.run();
        QCOMPARE(d.boxes(), QStringList{u"Error (16): An error has occured: Path/File access error: the settings file "_s
                                        + d.env.settingsPath() + u" is a folder, 75"_s});
        QVERIFY(d.started().isEmpty() && !d.configureShown() && !d.chooserShown());
        QCOMPARE(QDir::currentPath(), d.before);
    }

    // The command line is started as written, in the disc's root; its program is
    // found without regard to case.
    void autorunIsReadWithoutRegardToCase()
    {
        Dispatch d;
        d.setPlayers(d.audio, d.video, {});
        touch(d.disc + u"/AUTORUN.INF"_s, "[AutoRun]\r\nOPEN=bin\\install.exe");
        d.putPrograms();
        d.run();
        QCOMPARE(d.started(), QStringList{u"E:\\bin\\install.exe (1) in "_s + d.disc});
        QVERIFY(d.boxes().isEmpty() && !d.chooserShown());
    }

    void autorunWithALeadingBackslashAndBlanks()
    {
        Dispatch d;
        d.setPlayers(d.audio, d.video, {});
        touch(d.disc + u"/autorun.inf"_s, "[autorun]\nopen=\\My Setup.exe");
        d.putPrograms();
        d.run();
        QCOMPARE(d.started(), QStringList{u"E:\\\\My Setup.exe (1) in "_s + d.disc});
    }

    // An open= line that names no program of the disc, or none at all: the chooser,
    // in the disc's root.
    void theChooserWhenAutorunStartsNothing_data()
    {
        QTest::addColumn<QByteArray>("autorun");   // null: no autorun.inf
        QTest::newRow("with arguments") << "[autorun]\nopen=setup.exe /s"_ba;
        QTest::newRow("missing") << "[autorun]\nopen=missing.exe"_ba;
        QTest::newRow("out of the disc") << "[autorun]\nopen=..\\..\\bin\\sh"_ba;
        QTest::newRow("a Linux path") << "[autorun]\nopen=/bin/sh"_ba;
        QTest::newRow("empty") << "[autorun]\nopen="_ba;
        QTest::newRow("no autorun.inf") << QByteArray();
    }
    void theChooserWhenAutorunStartsNothing()
    {
        QFETCH(QByteArray, autorun);
        Dispatch d;
        d.setPlayers(d.audio, d.video, {});
        if (!autorun.isNull())
            touch(d.disc + u"/autorun.inf"_s, autorun);
        d.putPrograms();
        d.run();
        QVERIFY(d.started().isEmpty() && d.boxes().isEmpty() && d.chooserShown() && !d.configureShown());
        QCOMPARE(QDir::currentPath(), d.disc);
    }

    // The disc goes in while the last Retry is being answered.
    void anEmptyDriveIsAskedForTillADiscIsIn()
    {
        Dispatch d;
        d.setPlayers(d.audio, d.video, d.startIn);
        d.env.boxes.answers = {Mb::Retry, Mb::Retry};
        d.env.boxes.whileShown = [&d](const ShownBox &) {
            if (d.env.boxes.shown.size() == 2)
                touch(d.disc + u"/track01.cda"_s);
        };
        d.run();
        QCOMPARE(d.boxes(), (QStringList{DiscRequest, DiscRequest}));
        QCOMPARE(d.started(), QStringList{d.audio + u" (1) in "_s + d.startIn});
    }

    void anEmptyDriveRetriedThenCancelled()
    {
        Dispatch d;
        d.setPlayers(d.audio, d.video, d.startIn);
        d.env.boxes.answers = {Mb::Retry, Mb::Cancel};
        d.run();
        QCOMPARE(d.boxes(), (QStringList{DiscRequest, DiscRequest}));
        QVERIFY(d.started().isEmpty() && !d.chooserShown() && !d.configureShown());
        QCOMPARE(QDir::currentPath(), d.before);
    }
};

QTEST_MAIN(DispatchTest)
#include "test_dispatch.moc"
