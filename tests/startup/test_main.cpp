// The start-up: the target drive, the usage box byte for byte, configuration mode,
// the drive of a medium a desktop hands over, and which windows are left.
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
        QTest::newRow("URI of another host")
            << u"file://elsewhere/media/x"_s << error.arg(u"file://elsewhere/media/x is on elsewhere, not on this machine"_s);
        QTest::newRow("URI of nothing")
            << u"file:///nonexistent/tarvic"_s << error.arg(u"file:///nonexistent/tarvic is no folder and no block device"_s);
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
        QTest::newRow("Yes to the question") << u"e:"_s << false
            << u"Audio CD (36): The audio CD program either does not exist any more or it not been configured yet, "
               "do you want to configure it now? | "_s + error;
    }

    void aWindowThatCannotLoadIsNotLeft()
    {
        QFETCH(QString, argument);
        QFETCH(QString, report);
        TestEnv env;
        const QString disc = env.newFolder(u"disc"_s);
        touch(disc + u"/track01.cda"_s);
        env.mapDrive(u'e', disc);
        QFETCH(bool, badFromTheStart);
        if (badFromTheStart)
            makeFolder(env.settingsPath());
        env.boxes.answers = {Mb::Yes};
        env.boxes.whileShown = [&](const ShownBox &) { makeFolder(env.settingsPath()); };
        QCOMPARE(env.run(argument), report.replace(u"%S"_s, env.settingsPath()));
    }
};

QTEST_MAIN(MainTest)
#include "test_main.moc"
