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
};

QTEST_MAIN(MainTest)
#include "test_main.moc"
