// The media dispatch on real folder drives and a real settings file: which box,
// which text, which command line, which working directory, which window is left,
// and in which order the settings were read.
#include "chooser/frmtarvic.h"
#include "configure/frmconfigure.h"
#include "platform/runtime_error.h"
#include "startup/maintarvic.h"
#include "support/test_env.h"

#include <QDir>
#include <QFile>
#include <QtTest>

using namespace tarvic;
using namespace tarvic::test;

namespace {

const QString AudioQuestion = QStringLiteral(
    "The audio CD program either does not exist any more or it not been configured yet, do you want to configure it now?");
const QString VideoQuestion = QStringLiteral(
    "The video DVD program either does not exist any more or it not been configured yet, do you want to configure it now?");

// The real store, with every read written down.
struct RecordingSettings final : SettingsStore
{
    explicit RecordingSettings(SettingsStore &inner) : inner(inner) {}
    SettingsStore &inner;
    QStringList reads;
    QString read(const QString &key) override
    {
        reads << key;
        return inner.read(key);
    }
    void write(const QList<std::pair<QString, QString>> &values) override { inner.write(values); }
};

// A drive E: on a fresh folder, a settings file, and the program wired to them.
struct Rig
{
    TestEnv env;
    QString disc = env.newFolder(QStringLiteral("disc"));
    RecordingSettings settings{env.settings()};
    Services services{env.paths(), env.starter, env.boxes, settings, env.filePicker, env.folderPicker};
    mainTarvic program{services};

    Rig() { env.mapDrive(QLatin1Char('e'), disc); }
    void configure(const QList<std::pair<QString, QString>> &values) { env.settings().write(values); }
    QString discFile(const QString &name) const { return disc + QLatin1Char('/') + name; }
    QString player()
    {
        const QString path = env.newFolder(QStringLiteral("players")) + QStringLiteral("/my player");
        touch(path, "#!/bin/sh\n");
        return path;
    }
    QStringList boxTitles() const
    {
        QStringList t;
        for (const ShownBox &b : env.boxes.shown)
            t << b.title;
        return t;
    }
};

} // namespace

class DispatchTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void audioCdStartsThePlayerInItsStartInFolder();
    void videoDvdStartsItsPlayer();
    void audioWinsOverVideo();
    void startInFolderMissingLeavesTheDirectoryAlone_data();
    void startInFolderMissingLeavesTheDirectoryAlone();
    void missingPlayerAsksToConfigure_data();
    void missingPlayerAsksToConfigure();
    void autorunProgramStartsOnTheDrive_data();
    void autorunProgramStartsOnTheDrive();
    void nothingToStartShowsTheChooser_data();
    void nothingToStartShowsTheChooser();
    void emptyDriveRepeatsTheDiscRequest();
    void cancelAtTheDiscRequestStartsNothing();
    void driveGoneDuringTheWaitGivesNoSecondUsage();
    void startFailureEndsInTheErrorBox();
};

void DispatchTest::audioCdStartsThePlayerInItsStartInFolder()
{
    Rig rig;
    touch(rig.discFile(QStringLiteral("Track01.CDA")));
    const QString player = rig.player();
    const QString startIn = rig.env.newFolder(QStringLiteral("start in"));
    rig.configure({{Key::AudioCD, player}, {Key::CDSI, startIn}});

    rig.program.Main(QStringLiteral("e:"));

    QVERIFY(rig.env.boxes.shown.isEmpty());
    QCOMPARE(rig.env.starter.started.size(), 1);
    QCOMPARE(rig.env.starter.started[0].commandLine, player);
    QCOMPARE(rig.env.starter.started[0].windowStyle, 1);
    QCOMPARE(rig.env.starter.started[0].workingDirectory, QDir(startIn).canonicalPath());
    QVERIFY(!rig.program.forms().anyLoaded());
    // Read afresh at each use: the program to test it, the folder three times, the program to start it.
    QCOMPARE(rig.settings.reads, (QStringList{Key::AudioCD, Key::CDSI, Key::CDSI, Key::CDSI, Key::AudioCD}));
}

void DispatchTest::videoDvdStartsItsPlayer()
{
    Rig rig;
    makeFolder(rig.discFile(QStringLiteral("video_ts")));
    const QString player = rig.player();
    const QString startIn = rig.env.newFolder(QStringLiteral("dvd"));
    // The start-in folder given in drive notation, on another mapped drive.
    rig.env.mapDrive(QLatin1Char('m'), startIn);
    touch(startIn + QStringLiteral("/Sub/x"));
    rig.configure({{Key::VideoDVD, player}, {Key::DVDSI, QStringLiteral("m:\\sub")}, {Key::AudioCD, QStringLiteral("/bin/true")}});

    rig.program.Main(QStringLiteral("E:"));

    QCOMPARE(rig.env.starter.started.size(), 1);
    QCOMPARE(rig.env.starter.started[0].commandLine, player);
    QCOMPARE(rig.env.starter.started[0].workingDirectory, QDir(startIn + QStringLiteral("/Sub")).canonicalPath());
    QCOMPARE(rig.env.paths().currentDrive(), std::optional<QChar>(QLatin1Char('M')));
    QCOMPARE(rig.settings.reads, (QStringList{Key::VideoDVD, Key::DVDSI, Key::DVDSI, Key::DVDSI, Key::VideoDVD}));
    QVERIFY(!rig.program.forms().anyLoaded());
}

void DispatchTest::audioWinsOverVideo()
{
    Rig rig;
    touch(rig.discFile(QStringLiteral("track01.cda")));
    makeFolder(rig.discFile(QStringLiteral("VIDEO_TS")));
    touch(rig.discFile(QStringLiteral("autorun.inf")), "[autorun]\nopen=setup.exe\n");
    touch(rig.discFile(QStringLiteral("setup.exe")));
    rig.program.Main(QStringLiteral("E:"));
    // Never configured: the audio question, and nothing else is tried.
    QCOMPARE(rig.boxTitles(), QStringList{QStringLiteral("Audio CD")});
    QCOMPARE(rig.env.boxes.shown[0].text, AudioQuestion);
    QCOMPARE(rig.env.boxes.shown[0].flags, 36);
    QVERIFY(rig.env.starter.started.isEmpty());
}

void DispatchTest::startInFolderMissingLeavesTheDirectoryAlone_data()
{
    QTest::addColumn<QString>("startIn");
    QTest::newRow("empty") << "";
    QTest::newRow("no such folder") << "/nonexistent/tarvic";
    QTest::newRow("a file") << "@PLAYER@";
    QTest::newRow("unmapped drive") << "Q:\\music";
}

void DispatchTest::startInFolderMissingLeavesTheDirectoryAlone()
{
    QFETCH(QString, startIn);
    Rig rig;
    touch(rig.discFile(QStringLiteral("track01.cda")));
    const QString player = rig.player();
    startIn.replace(QStringLiteral("@PLAYER@"), player);
    rig.configure({{Key::AudioCD, player}, {Key::CDSI, startIn}});
    const QString before = QDir::currentPath();
    rig.program.Main(QStringLiteral("E:"));
    QCOMPARE(rig.env.starter.started.size(), 1);
    QCOMPARE(rig.env.starter.started[0].workingDirectory, before);
    QVERIFY(!rig.env.paths().currentDrive());
    QCOMPARE(rig.settings.reads, (QStringList{Key::AudioCD, Key::CDSI, Key::AudioCD}));
}

void DispatchTest::missingPlayerAsksToConfigure_data()
{
    QTest::addColumn<QString>("marker");
    QTest::addColumn<QString>("player");
    QTest::addColumn<int>("answer");
    QTest::addColumn<QString>("question");
    QTest::addColumn<QString>("title");
    QTest::newRow("audio, never configured, yes") << "track01.cda" << "" << 6 << AudioQuestion << "Audio CD";
    QTest::newRow("audio, gone, no") << "track01.cda" << "/nonexistent/player" << 7 << AudioQuestion << "Audio CD";
    QTest::newRow("audio, with arguments, no") << "track01.cda" << "@PLAYER@ --cd" << 7 << AudioQuestion << "Audio CD";
    QTest::newRow("video, a folder, yes") << "VIDEO_TS/" << "/tmp" << 6 << VideoQuestion << "Video DVD";
    QTest::newRow("video, never configured, no") << "VIDEO_TS/" << "" << 7 << VideoQuestion << "Video DVD";
}

void DispatchTest::missingPlayerAsksToConfigure()
{
    QFETCH(QString, marker);
    QFETCH(QString, player);
    QFETCH(int, answer);
    QFETCH(QString, question);
    QFETCH(QString, title);
    Rig rig;
    if (marker.endsWith(QLatin1Char('/')))
        makeFolder(rig.discFile(marker));
    else
        touch(rig.discFile(marker));
    player.replace(QStringLiteral("@PLAYER@"), rig.player());
    rig.configure({{Key::AudioCD, player}, {Key::VideoDVD, player}});
    rig.env.boxes.answers = {answer};

    rig.program.Main(QStringLiteral("E:"));

    QCOMPARE(rig.env.boxes.shown.size(), 1);
    QCOMPARE(rig.env.boxes.shown[0].text, question);
    QCOMPARE(rig.env.boxes.shown[0].title, title);
    QCOMPARE(rig.env.boxes.shown[0].flags, 36);
    QVERIFY(rig.env.starter.started.isEmpty());
    QVERIFY(!rig.program.forms().isTarvicLoaded());
    QCOMPARE(rig.program.forms().isConfigureLoaded(), answer == 6);
    if (answer == 6) {
        QVERIFY(rig.program.forms().frmConfigure().isVisible());
        rig.program.forms().frmConfigure().unload();
    }
}

void DispatchTest::autorunProgramStartsOnTheDrive_data()
{
    QTest::addColumn<QByteArray>("inf");
    QTest::addColumn<QString>("program");     // file made on the disc
    QTest::addColumn<QString>("commandLine");
    QTest::newRow("plain") << QByteArray("[autorun]\r\nopen=setup.exe\r\n") << "setup.exe" << "E:\\setup.exe";
    QTest::newRow("other case everywhere") << QByteArray("[AutoRun]\nOPEN=SETUP.EXE\n") << "Setup.exe" << "E:\\SETUP.EXE";
    QTest::newRow("in a folder") << QByteArray("[autorun]\nopen=bin\\Install.exe\n") << "bin/install.exe" << "E:\\bin\\Install.exe";
    QTest::newRow("leading backslash") << QByteArray("[autorun]\nopen=\\setup.exe\n") << "setup.exe" << "E:\\\\setup.exe";
    QTest::newRow("name with blanks") << QByteArray("[autorun]\nopen=My Setup.exe\n") << "My Setup.exe" << "E:\\My Setup.exe";
    QTest::newRow("inf in upper case") << QByteArray("@UPPER@[autorun]\nopen=setup.exe\n") << "setup.exe" << "E:\\setup.exe";
}

void DispatchTest::autorunProgramStartsOnTheDrive()
{
    QFETCH(QByteArray, inf);
    QFETCH(QString, program);
    QFETCH(QString, commandLine);
    Rig rig;
    const bool upper = inf.startsWith("@UPPER@");
    touch(rig.discFile(upper ? QStringLiteral("AUTORUN.INF") : QStringLiteral("autorun.inf")), inf.mid(upper ? 7 : 0));
    touch(rig.discFile(program));

    rig.program.Main(QStringLiteral("E:"));

    QVERIFY(rig.env.boxes.shown.isEmpty());
    QCOMPARE(rig.env.starter.started.size(), 1);
    QCOMPARE(rig.env.starter.started[0].commandLine, commandLine);
    QCOMPARE(rig.env.starter.started[0].windowStyle, 1);
    QCOMPARE(rig.env.starter.started[0].workingDirectory, QDir(rig.disc).canonicalPath());
    QCOMPARE(rig.env.paths().currentDrive(), std::optional<QChar>(QLatin1Char('E')));
    QVERIFY(!rig.program.forms().anyLoaded());
    QVERIFY(rig.settings.reads.isEmpty());
}

void DispatchTest::nothingToStartShowsTheChooser_data()
{
    QTest::addColumn<QByteArray>("inf");   // empty: no autorun.inf
    QTest::newRow("no autorun.inf") << QByteArray();
    QTest::newRow("no open entry") << QByteArray("[autorun]\nicon=setup.exe\n");
    QTest::newRow("open in another section") << QByteArray("[other]\nopen=setup.exe\n[autorun]\n");
    QTest::newRow("literal not-found value") << QByteArray("[autorun]\nopen=[NOT FOUND]\n");
    QTest::newRow("program with arguments") << QByteArray("[autorun]\nopen=setup.exe /s\n");
    QTest::newRow("quoted with index") << QByteArray("[autorun]\nopen=\"setup.exe\",0\n");
    QTest::newRow("no such program") << QByteArray("[autorun]\nopen=missing.exe\n");
    QTest::newRow("climbing out of the disc") << QByteArray("[autorun]\nopen=..\\..\\..\\..\\bin\\sh\n");
    QTest::newRow("a linux path") << QByteArray("[autorun]\nopen=/bin/sh\n");
    QTest::newRow("a folder") << QByteArray("[autorun]\nopen=sub\n");
    QTest::newRow("empty value") << QByteArray("[autorun]\nopen=\n");
    static const char garbage[] = "\x00\xff\xfe[autorun\x00open=setup.exe";
    QTest::newRow("binary garbage") << QByteArray(garbage, sizeof garbage - 1);
}

void DispatchTest::nothingToStartShowsTheChooser()
{
    QFETCH(QByteArray, inf);
    Rig rig;
    if (!inf.isEmpty())
        touch(rig.discFile(QStringLiteral("autorun.inf")), inf);
    touch(rig.discFile(QStringLiteral("setup.exe")));
    makeFolder(rig.discFile(QStringLiteral("sub")));

    rig.program.Main(QStringLiteral("E:"));

    QVERIFY(rig.env.boxes.shown.isEmpty());
    QVERIFY(rig.env.starter.started.isEmpty());
    QVERIFY(rig.program.forms().isTarvicLoaded());
    QVERIFY(rig.program.forms().frmTarvic().isVisible());
    // The chooser is shown while the process works on the target drive.
    QCOMPARE(rig.env.paths().currentDrive(), std::optional<QChar>(QLatin1Char('E')));
    QCOMPARE(QDir::currentPath(), QDir(rig.disc).canonicalPath());
    rig.program.forms().unloadTarvic();
}

void DispatchTest::emptyDriveRepeatsTheDiscRequest()
{
    Rig rig;
    const QString player = rig.player();
    rig.configure({{Key::AudioCD, player}});
    // Three Retry answers; the disc goes in while the third box is up.
    rig.env.boxes.answers = {4, 4, 4};
    rig.env.boxes.whileShown = [&rig](const ShownBox &) {
        if (rig.env.boxes.shown.size() == 3)
            touch(rig.discFile(QStringLiteral("track01.cda")));
    };

    rig.program.Main(QStringLiteral("E:"));

    QCOMPARE(rig.env.boxes.shown.size(), 3);
    for (const ShownBox &box : std::as_const(rig.env.boxes.shown)) {
        QCOMPARE(box.text, QStringLiteral("No disc was found in drive E:.  Please insert a disc and try again"));
        QCOMPARE(box.title, QStringLiteral("Disc Request"));
        QCOMPARE(box.flags, 21);
    }
    QCOMPARE(rig.env.starter.started.size(), 1);
    QCOMPARE(rig.env.starter.started[0].commandLine, player);
    QVERIFY(!rig.program.forms().anyLoaded());
}

void DispatchTest::cancelAtTheDiscRequestStartsNothing()
{
    Rig rig;
    rig.env.boxes.answers = {4, 2};
    rig.program.Main(QStringLiteral("E:"));
    QCOMPARE(rig.boxTitles(), (QStringList{QStringLiteral("Disc Request"), QStringLiteral("Disc Request")}));
    QVERIFY(rig.env.starter.started.isEmpty());
    QVERIFY(!rig.program.forms().anyLoaded());
}

void DispatchTest::driveGoneDuringTheWaitGivesNoSecondUsage()
{
    Rig rig;
    rig.env.boxes.answers = {4};
    rig.env.boxes.whileShown = [&rig](const ShownBox &) {
        QFile::remove(rig.env.mapFolder() + QStringLiteral("/e:"));
    };
    rig.program.Main(QStringLiteral("E:"));
    // The wait ends; changing to the vanished drive is the failure that follows.
    QCOMPARE(rig.boxTitles(), (QStringList{QStringLiteral("Disc Request"), QStringLiteral("Error")}));
    QVERIFY(rig.env.boxes.shown[1].text.startsWith(QStringLiteral("An error has occured: Device unavailable")));
    QVERIFY(rig.env.boxes.shown[1].text.endsWith(QStringLiteral(", 68")));
    QVERIFY(rig.env.starter.started.isEmpty());
    QVERIFY(!rig.program.forms().anyLoaded());
}

void DispatchTest::startFailureEndsInTheErrorBox()
{
    Rig rig;
    touch(rig.discFile(QStringLiteral("autorun.inf")), "[autorun]\nopen=setup.exe\n");
    touch(rig.discFile(QStringLiteral("setup.exe")));
    rig.env.starter.failWith = [](const QString &) {
        throw RuntimeError(5, QStringLiteral("Invalid procedure call or argument: Wine is needed"));
    };
    rig.program.Main(QStringLiteral("E:"));
    QCOMPARE(rig.boxTitles(), QStringList{QStringLiteral("Error")});
    QCOMPARE(rig.env.boxes.shown[0].text,
             QStringLiteral("An error has occured: Invalid procedure call or argument: Wine is needed, 5"));
    QVERIFY(!rig.program.forms().anyLoaded());
}

QTEST_MAIN(DispatchTest)
#include "test_dispatch.moc"
