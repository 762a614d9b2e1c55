// The start-up: the argument text, the target drive, the usage and error boxes,
// which windows are left, and the default report of untrapped failures.
#include "chooser/frmtarvic.h"
#include "configure/frmconfigure.h"
#include "platform/runtime_error.h"
#include "platform/untrapped.h"
#include "startup/maintarvic.h"
#include "support/test_env.h"

#include <QLabel>
#include <QPushButton>
#include <QtTest>

using namespace tarvic;
using namespace tarvic::test;

class MainTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void targetDriveRules_data();
    void targetDriveRules();
    void usageMessageForAMissingDrive_data();
    void usageMessageForAMissingDrive();
    void oddArgumentTextsEndInTheUsageMessage_data();
    void oddArgumentTextsEndInTheUsageMessage();
    void configurationModeTouchesNoDrive();
    void chooserLoadsOnceBeforeTheFirstAnswer();
    void failuresEndInTheErrorBox();
    void untrappedFailuresInHandlersReachTheDefaultReport();
};

void MainTest::targetDriveRules_data()
{
    QTest::addColumn<QString>("argument");
    QTest::addColumn<QString>("drive");
    QTest::newRow("none") << "" << "D:";
    QTest::newRow("letter and colon") << "e:" << "E:";
    QTest::newRow("with a folder") << "E:\\foo" << "E:";
    QTest::newRow("letter alone") << "e" << "E";
    QTest::newRow("word") << "dvd" << "DV";
    QTest::newRow("upper-case /C") << "/C" << "/C";
    QTest::newRow("/c and a blank") << "/c " << "/C";
    QTest::newRow("/c and more") << "/c x" << "/C";
    QTest::newRow("lone slash") << "/" << "/";
    QTest::newRow("device namespace") << "\\\\?\\" << "\\\\";
    QTest::newRow("accented letters") << QStringLiteral("\u00e9\u00e8x") << QStringLiteral("\u00c9\u00c8");
    QTest::newRow("sharp s upper-cases to two letters") << QStringLiteral("\u00dfx") << "SS";
    QTest::newRow("characters, not code units") << QStringLiteral("\U0001F4BFa:") << QStringLiteral("\U0001F4BFA");
    QTest::newRow("control characters") << "\t\n" << "\t\n";
}

void MainTest::targetDriveRules()
{
    QFETCH(QString, argument);
    QFETCH(QString, drive);
    QCOMPARE(mainTarvic::targetDriveFor(argument), drive);
}

void MainTest::usageMessageForAMissingDrive_data()
{
    QTest::addColumn<QString>("argument");
    QTest::addColumn<QString>("text");
    QTest::newRow("unmapped letter") << "q:" << "Drive Q: does not exist\r\n\r\nUsage:\r\nTarvic <driveletter>:\r\nTarvic /c";
    QTest::newRow("no argument, no D:") << "" << "Drive D: does not exist\r\n\r\nUsage:\r\nTarvic <driveletter>:\r\nTarvic /c";
    QTest::newRow("/C is no configuration mode") << "/C" << "Drive /C does not exist\r\n\r\nUsage:\r\nTarvic <driveletter>:\r\nTarvic /c";
    QTest::newRow("mapped letter without colon") << "e" << "Drive E does not exist\r\n\r\nUsage:\r\nTarvic <driveletter>:\r\nTarvic /c";
}

void MainTest::usageMessageForAMissingDrive()
{
    QFETCH(QString, argument);
    QFETCH(QString, text);
    TestEnv env;
    env.mapDrive(QLatin1Char('e'), env.newFolder(QStringLiteral("disc")));
    mainTarvic program(env.services());
    program.Main(argument);
    QCOMPARE(env.boxes.shown.size(), 1);
    QCOMPARE(env.boxes.shown[0].text, text);
    QCOMPARE(env.boxes.shown[0].flags, 64);
    QCOMPARE(env.boxes.shown[0].title, QStringLiteral("Tarvic Usage"));
    QVERIFY(!program.forms().anyLoaded());
    QVERIFY(env.starter.started.isEmpty());
}

void MainTest::oddArgumentTextsEndInTheUsageMessage_data()
{
    QTest::addColumn<QString>("argument");
    QTest::newRow("one character") << "x";
    QTest::newRow("100 KB") << QString(100 * 1024, QLatin1Char('z'));
    QTest::newRow("replacement characters of invalid UTF-8") << QString::fromUtf8("\xff\xfe:");
    QTest::newRow("control characters") << "\x01\x02";
    QTest::newRow("lone slash") << "/";
    QTest::newRow("device namespace") << "\\\\?\\";
}

void MainTest::oddArgumentTextsEndInTheUsageMessage()
{
    QFETCH(QString, argument);
    TestEnv env;
    mainTarvic program(env.services());
    program.Main(argument);
    QCOMPARE(env.boxes.shown.size(), 1);
    QCOMPARE(env.boxes.shown[0].title, QStringLiteral("Tarvic Usage"));
    QVERIFY(env.boxes.shown[0].text.startsWith(QStringLiteral("Drive ") + program.TargetDrive + QStringLiteral(" does not exist\r\n")));
    QVERIFY(program.TargetDrive.size() <= 2);
    QVERIFY(!program.forms().anyLoaded());
}

void MainTest::configurationModeTouchesNoDrive()
{
    TestEnv env;
    mainTarvic program(env.services());
    program.Main(QStringLiteral("/c"));
    QVERIFY(program.TargetDrive.isEmpty());
    QVERIFY(!program.forms().isTarvicLoaded());
    QVERIFY(program.forms().isConfigureLoaded());
    QVERIFY(env.boxes.shown.isEmpty());
    program.forms().frmConfigure().unload();
    QVERIFY(!program.forms().anyLoaded());
}

void MainTest::chooserLoadsOnceBeforeTheFirstAnswer()
{
    TestEnv env;
    const QString disc = env.newFolder(QStringLiteral("disc"));
    touch(disc + QStringLiteral("/setup.exe"));
    env.mapDrive(QLatin1Char('e'), disc);
    mainTarvic program(env.services());
    program.Main(QStringLiteral("e:"));
    // A data disc with nothing to start: the chooser stays, its label made at load.
    QVERIFY(program.forms().isTarvicLoaded());
    QLabel *label = program.forms().frmTarvic().findChild<QLabel *>(QStringLiteral("lblNoINF"));
    QVERIFY(label);
    QCOMPARE(label->text(), QStringLiteral("Autorun.inf on drive E: does not exist or the file does not \r"
                                           "contain the correct information, choose a program to run\r from drive E:."));
    QVERIFY(env.boxes.shown.isEmpty());
    program.forms().unloadTarvic();
    QVERIFY(!program.forms().anyLoaded());
}

void MainTest::failuresEndInTheErrorBox()
{
    TestEnv env;
    const QString disc = env.newFolder(QStringLiteral("disc"));
    touch(disc + QStringLiteral("/track01.cda"));
    env.mapDrive(QLatin1Char('e'), disc);
    // The settings file is a folder: reading the player fails.
    makeFolder(env.settingsPath());
    mainTarvic program(env.services());
    program.Main(QStringLiteral("E:"));
    QCOMPARE(env.boxes.shown.size(), 1);
    QCOMPARE(env.boxes.shown[0].title, QStringLiteral("Error"));
    QCOMPARE(env.boxes.shown[0].flags, 16);
    QCOMPARE(env.boxes.shown[0].text,
             QStringLiteral("An error has occured: Path/File access error: the settings file %1 is a folder, 75")
                 .arg(env.settingsPath()));
    QVERIFY(!program.forms().anyLoaded());
    QVERIFY(env.starter.started.isEmpty());

    QCOMPARE(mainTarvic::errorText(RuntimeError(-2147467259, QStringLiteral("Automation error"))),
             QStringLiteral("An error has occured: Automation error, -2147467259"));
}

void MainTest::untrappedFailuresInHandlersReachTheDefaultReport()
{
    TestEnv env;
    const QString disc = env.newFolder(QStringLiteral("disc"));
    touch(disc + QStringLiteral("/setup.exe"));
    env.mapDrive(QLatin1Char('e'), disc);
    QList<int> reported;
    setUntrappedReaction([&reported](const RuntimeError &e) { reported << e.number(); });
    mainTarvic program(env.services());
    program.Main(QStringLiteral("E:"));
    QVERIFY(program.forms().isTarvicLoaded());
    // The drive goes away while the window is open: Open drive cannot change to it.
    QDir(disc).removeRecursively();
    env.starter.failWith = [](const QString &) { throw RuntimeError(53, QStringLiteral("File not found")); };
    program.forms().frmTarvic().findChild<QPushButton *>(QStringLiteral("OD"))->click();
    QCOMPARE(reported, QList<int>{53});
    setUntrappedReaction({});
    program.forms().unloadTarvic();
}

QTEST_MAIN(MainTest)
#include "test_main.moc"
