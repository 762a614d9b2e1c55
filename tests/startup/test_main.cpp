// The start-up: the target drive, the usage box byte for byte, configuration mode,
// which windows are left, and the drive of a medium a desktop hands over.
#include "configure/frmconfigure.h"
#include "startup/maintarvic.h"
#include "support/test_env.h"

#include <QtTest>
#include <sys/stat.h>
#include <sys/sysmacros.h>

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

    // A medium named by its folder, a file URI or its device is handled on the drive
    // the map gives it, or on the first letter from D: the map leaves free; whatever
    // else starts with "/" keeps its meaning. D: holds disc A, E: disc B, disc C is
    // mapped nowhere; each disc's autorun program is named after it.
    void handlesTheMediumItNames_data()
    {
        // B, C, L: the discs' folders and a link to B; N, M: device nodes; V: GVfs's folder of N
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QString>("outcome");
        const QString usage = u"Tarvic Usage: Drive %1 does not exist\r\n\r\nUsage:\r\nTarvic <driveletter>:\r\nTarvic /c"_s;
        const QString request = u"Disc Request: No disc was found in drive %1.  Please insert a disc and try again"_s;
        const QString error = u"Error: An error has occured: Path not found: %1, 76"_s;
        QTest::newRow("folder mapped to E:") << u"B"_s << u"E:\\b.exe in B"_s;
        QTest::newRow("through a link, with a slash") << u"L/"_s << u"E:\\b.exe in B"_s;
        QTest::newRow("file URI, percent-encoded") << u"file://U"_s << u"E:\\b.exe in B"_s;
        QTest::newRow("file URI of localhost") << u"file://localhostU"_s << u"E:\\b.exe in B"_s;
        QTest::newRow("folder no letter maps") << u"C"_s << u"F:\\c.exe in C"_s;
        QTest::newRow("device node of G:") << u"N"_s << request.arg(u"G:"_s);
        QTest::newRow("GNOME's GVfs folder of an audio CD in G:") << u"V"_s << request.arg(u"G:"_s);
        QTest::newRow("device no letter maps") << u"M"_s << request.arg(u"F:"_s);
        QTest::newRow("/x") << u"/x"_s << usage.arg(u"/X"_s);
        QTest::newRow("no such path") << u"/nonexistent/tarvic"_s << usage.arg(u"/N"_s);
        QTest::newRow("/c") << u"/c"_s << QString();
        QTest::newRow("URI of another host")
            << u"file://elsewhere/media/x"_s << error.arg(u"file://elsewhere/media/x is on elsewhere, not on this machine"_s);
        QTest::newRow("URI of nothing")
            << u"file:///nonexistent/tarvic"_s << error.arg(u"file:///nonexistent/tarvic is no folder and no block device"_s);
        QTest::newRow("escaped slash") << u"file://U%2Fx"_s << error.arg(u"file://U%2Fx is no file URI of this machine"_s);
    }

    void handlesTheMediumItNames()
    {
        QFETCH(QString, argument);
        QFETCH(QString, outcome);
        TestEnv env;
        QHash<QString, QString> discs;
        for (const QString &disc : {u"a"_s, u"b"_s, u"c"_s}) {
            discs[disc] = env.newFolder(u"disc "_s + disc + u" \u00FC"_s);
            touch(discs[disc] + u"/autorun.inf"_s, "[autorun]\nopen=" + disc.toLatin1() + ".exe\n");
            touch(discs[disc] + u"/"_s + disc + u".exe"_s);
        }
        env.mapDrive(u'd', discs[u"a"_s]);
        env.mapDrive(u'e', discs[u"b"_s]);
        const QString link = env.newFolder(u"links"_s) + u"/b"_s;
        QVERIFY(QFile::link(discs[u"b"_s], link));
        const QString nodes = env.deviceFolder();
        makeFolder(nodes);
        // Loop devices' numbers far above any in use; nothing opens these nodes.
        for (const auto &[name, minor] : {std::pair{"g", 4000}, {"n", 4000}, {"m", 4001}})
            QCOMPARE(::mknod(QFile::encodeName(nodes + u'/' + QLatin1String(name)).constData(), S_IFBLK | 0600,
                             ::makedev(7, minor)), 0);
        env.mapDevice(u'g', nodes + u"/g"_s);
        const QString uri = QString::fromLatin1(QUrl::toPercentEncoding(discs[u"b"_s], "/"));
        argument.replace(u"localhostU"_s, u"localhost"_s + uri).replace(u"file://U"_s, u"file://"_s + uri);
        const QHash<QChar, QString> named{{u'B', discs[u"b"_s]}, {u'C', discs[u"c"_s]}, {u'L', link},
                                          {u'N', nodes + u"/n"_s}, {u'M', nodes + u"/m"_s},
                                          {u'V', env.newFolder(u"run/gvfs"_s) + u"/cdda:host=n"_s}};
        if (!argument.isEmpty() && named.contains(argument.front()))
            argument.replace(0, 1, named[argument.front()]);
        mainTarvic program(env.services());
        program.Main(argument);
        outcome.replace(u" in B"_s, u" in "_s + discs[u"b"_s]).replace(u" in C"_s, u" in "_s + discs[u"c"_s]);
        QCOMPARE(env.outcome(), outcome.replace(u"file://U"_s, u"file://"_s + uri));
        QVERIFY(!program.forms().isTarvicLoaded());
        QCOMPARE(program.forms().isConfigureLoaded(), argument == u"/c");
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
