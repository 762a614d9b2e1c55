// The drive map, drive status, path rules and the current drive and directory,
// on real temporary folders.
#include "components/pellor.h"
#include "platform/runtime_error.h"
#include "support/test_env.h"

#include <QtTest>

using namespace tarvic;
using namespace tarvic::test;
using namespace Qt::StringLiterals;

// E: is a disc with case variants and links inside and out (one to disc2 beside it); F: (an upper-case entry)
// a folder with one file; G: an empty folder; H: dangles; I: loops; J: is a device
// entry, asked of the drive (none has a disc here), never read as a folder.
static QString mapDrives(TestEnv &env)
{
    const QString disc = env.newFolder(u"disc"_s), outside = env.newFolder(u"outside"_s), f = env.newFolder(u"f"_s);
    const QString sibling = env.newFolder(u"disc2"_s);   // begins with the disc's own name
    for (const QString &file : {u"autorun.inf"_s, u"VIDEO_TS/VTS_01_0.VOB"_s, u"SETUP.EXE"_s, u"Setup.Exe"_s,
                                u"\u00e9t\u00e9.txt"_s, u"Sub/Deeper/prog.exe"_s, u"in/real.txt"_s})
        touch(disc + u'/' + file);
    touch(outside + u"/secret.txt"_s);
    touch(sibling + u"/secret.txt"_s);
    touch(f + u"/other.exe"_s);
    QFile::link(outside, disc + u"/escape"_s);
    QFile::link(sibling, disc + u"/sibling"_s);
    QFile::link(u"in"_s, disc + u"/relative"_s);
    for (const auto &[name, target] : {std::pair{u"e:"_s, disc}, {u"F:"_s, f}, {u"g:"_s, env.newFolder(u"empty"_s)},
                                       {u"h:"_s, u"/none"_s}, {u"i:"_s, u"i:"_s}, {u"j::"_s, f}, {u"\u00e9:"_s, f}})
        QFile::link(target, env.mapFolder() + u'/' + name);
    return disc;
}

class DrivePathsTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void driveStatus_data()
    {
        QTest::addColumn<QString>("drive");
        QTest::addColumn<int>("status");
        QTest::newRow("upper-case entry") << "f:\\" << 2;
        QTest::newRow("empty folder") << "G:" << 1;
        QTest::newRow("dangling") << "H:" << 1;
        QTest::newRow("looping") << "I:" << 1;
        QTest::newRow("device without a disc") << "J:" << 1;
        QTest::newRow("no entry") << "Q:" << 0;
        QTest::newRow("non-ASCII letter") << u"\u00c9:"_s << 0;
    }

    void driveStatus()
    {
        QFETCH(QString, drive);
        QFETCH(int, status);
        TestEnv env;
        mapDrives(env);
        Pellor pellor(env.paths());
        QCOMPARE(pellor.DriveStatus(drive), status);
        QCOMPARE(pellor.FolderExists(drive.left(2) + u'\\'), status == 2);
    }

    void opticalDrivesTakeTheFreeLettersFromD()
    {
        TestEnv env;
        env.mapDrive(u'd', env.newFolder(u"d"_s));
        DriveMap map(env.mapFolder(), [] { return QList<QByteArray>{"/dev/sr0"}; });
        QCOMPARE(map.find(u'E').target, "/dev/sr0");
        // Once the map names a device itself, the machine's drives get no letters.
        env.mapDevice(u'x', u"/dev/sr1"_s);
        QCOMPARE(map.find(u'e').kind, DriveEntry::None);
        // A letter with both entries is the device's, whichever way the names sort.
        for (const QChar letter : {u'x', u'd'}) {
            env.mapDrive(letter, env.newFolder(u"d"_s));
            env.mapDevice(letter, u"/dev/sr1"_s);
            QCOMPARE(map.find(letter).kind, DriveEntry::Device);
        }
    }

    void pathRules_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("found");   // the name reached, "/" after a folder; empty: missing
        QTest::newRow("other case, forward slashes") << "E:/Video_ts//vts_01_0.vob" << "VTS_01_0.VOB";
        QTest::newRow("root") << "E:\\" << "disc/";
        QTest::newRow("dot dot clamped at the root") << "E:\\VIDEO_TS\\.\\..\\..\\AUTORUN.INF" << "autorun.inf";
        QTest::newRow("exact match wins") << "E:\\Setup.Exe" << "Setup.Exe";
        QTest::newRow("else first variant in byte order") << "E:\\sEtUp.exe" << "SETUP.EXE";
        QTest::newRow("non-ASCII case") << u"E:\\\u00c9T\u00c9.TXT"_s << u"\u00e9t\u00e9.txt"_s;
        QTest::newRow("link to a folder outside") << "E:\\escape\\secret.txt" << "";
        QTest::newRow("link to a sibling that begins with the disc's name") << "E:\\sibling\\secret.txt" << "";
        QTest::newRow("link inside") << "E:\\relative\\REAL.TXT" << "real.txt";
        QTest::newRow("linux absolute") << "@DISC@/Sub" << "Sub/";
        // The system would stop reading at the NUL and reach another file than the one asked for.
        QTest::newRow("NUL inside a name") << u"E:\\SETUP.EXE\0.txt"_s << "";
        QTest::newRow("NUL inside a linux path") << u"@DISC@/Sub\0/x"_s << "";
    }

    void pathRules()
    {
        QFETCH(QString, path);
        QFETCH(QString, found);
        TestEnv env;
        path.replace(u"@DISC@"_s, mapDrives(env));
        Pellor pellor(env.paths());
        const QString name = QFileInfo(QFile::decodeName(env.paths().resolve(path).native)).fileName();
        QString reached;
        if (pellor.FileExists(path))
            reached = name;
        else if (pellor.FolderExists(path))
            reached = name + u'/';
        QCOMPARE(reached, found);
    }

    void currentDriveAndDirectory()
    {
        TestEnv env;
        const QString e = mapDrives(env), f = env.newFolder(u"f"_s);
        DrivePaths &paths = env.paths();
        Pellor pellor(paths);
        const auto cwdIs = [](const QString &p) { return QDir::currentPath() == QDir(p).canonicalPath(); };
        const auto failure = [&paths](bool drive, const QString &arg) {
            try { drive ? paths.ChDrive(arg) : paths.ChDir(arg); } catch (const RuntimeError &e) { return e.number(); }
            return 0;
        };
        QCOMPARE(failure(true, u"Q:"_s), 68);
        QCOMPARE(failure(true, u"G:"_s), 71);
        QCOMPARE(failure(false, u"E:\\nothing"_s), 76);
        QCOMPARE(failure(false, u"E:\\escape"_s), 76);
        QVERIFY(!paths.currentDrive());

        // A folder set on a drive that is not current is where the drive starts.
        paths.ChDir(u"e:\\sub"_s);
        paths.ChDrive(u"E:\\whatever"_s);
        QCOMPARE(paths.currentDrive(), std::optional<QChar>(u'E'));
        QVERIFY(cwdIs(e + u"/Sub"_s));
        QVERIFY(pellor.FileExists(u"deeper\\PROG.EXE"_s));
        QVERIFY(pellor.FileExists(u"\\autorun.inf"_s));
        QVERIFY(pellor.FileExists(u"E:deeper\\prog.exe"_s));
        // "E:" alone is the drive's current folder, not its root; each drive keeps its own.
        paths.ChDir(u"Deeper"_s);
        paths.ChDir(u"E:"_s);
        QVERIFY(cwdIs(e + u"/Sub/Deeper"_s));
        paths.ChDrive(u"f"_s);
        QVERIFY(cwdIs(f));
        paths.ChDrive(u"E:"_s);
        QVERIFY(cwdIs(e + u"/Sub/Deeper"_s));
        // A Linux path names no drive: the drive stays.
        paths.ChDrive(f);
        QCOMPARE(paths.currentDrive(), std::optional<QChar>(u'E'));
    }
};

QTEST_GUILESS_MAIN(DrivePathsTest)
#include "test_drive_paths.moc"
