// The start-up: the target drive, the usage box byte for byte, configuration mode,
// and which windows are left.
#include "configure/frmconfigure.h"
#include "startup/maintarvic.h"
#include "support/test_env.h"

#include <QtTest>

using namespace tarvic;
using namespace tarvic::test;
using namespace Qt::StringLiterals;

class MainTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // The usage box names the target drive: the first two characters, upper-cased.
    void startUp_data()
    {
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QString>("drive");   // named in the usage box; empty: configuration, no box
        QTest::newRow("none, and no D:") << "" << "D:";
        QTest::newRow("mapped letter without colon") << "e" << "E";
        QTest::newRow("configuration") << "/c" << "";
        QTest::newRow("/C is no configuration") << "/C" << "/C";
        QTest::newRow("characters, not code units") << u"\U0001F4BFa:"_s << u"\U0001F4BFA"_s;
        QTest::newRow("100 KB") << QString(100 * 1024, u'z') << "ZZ";
    }

    void startUp()
    {
        QFETCH(QString, argument);
        QFETCH(QString, drive);
        TestEnv env;
        env.mapDrive(u'e', env.newFolder(u"disc"_s));
        mainTarvic program(env.services());
        program.Main(argument);
        QStringList shown;
        for (const ShownBox &b : std::as_const(env.boxes.shown))
            shown << u"%1 (%2): %3"_s.arg(b.title).arg(b.flags).arg(b.text);
        QCOMPARE(shown, drive.isEmpty() ? QStringList() : QStringList{u"Tarvic Usage (64): Drive "_s + drive
                         + u" does not exist\r\n\r\nUsage:\r\nTarvic <driveletter>:\r\nTarvic /c"_s});
        QVERIFY(env.starter.started.isEmpty());
        QVERIFY(!program.forms().isTarvicLoaded());
        QCOMPARE(program.forms().isConfigureLoaded() && program.forms().frmConfigure().isVisible(), drive.isEmpty());
    }

    // The configuration window cannot read its settings: after the error box no
    // window is left, so the process ends. Also after a Yes to "configure it now?",
    // when the file goes bad while the question is up.
    void aWindowThatCannotLoadIsNotLeft_data()
    {
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QStringList>("titles");
        QTest::newRow("/c") << u"/c"_s << QStringList{u"Error"_s};
        QTest::newRow("Yes to the question") << u"e:"_s << QStringList{u"Audio CD"_s, u"Error"_s};
    }

    void aWindowThatCannotLoadIsNotLeft()
    {
        QFETCH(QString, argument);
        QFETCH(QStringList, titles);
        TestEnv env;
        const QString disc = env.newFolder(u"disc"_s);
        touch(disc + u"/track01.cda"_s);
        env.mapDrive(u'e', disc);
        if (argument == u"/c")
            makeFolder(env.settingsPath());
        env.boxes.answers = {Mb::Yes};
        env.boxes.whileShown = [&](const ShownBox &) { makeFolder(env.settingsPath()); };
        mainTarvic program(env.services());
        program.Main(argument);
        QStringList shown;
        for (const ShownBox &b : std::as_const(env.boxes.shown))
            shown << b.title;
        QCOMPARE(shown, titles);
        QCOMPARE(env.boxes.shown.last().text, u"An error has occured: Path/File access error: the settings file "_s
                                                  + env.settingsPath() + u" is a folder, 75"_s);
        QVERIFY(!program.forms().anyLoaded());
        QVERIFY(env.starter.started.isEmpty());
    }
};

QTEST_MAIN(MainTest)
#include "test_main.moc"
