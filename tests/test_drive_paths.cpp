// The drive map, drive status, path rules and the current drive and directory,
// on real temporary folders.
#include "components/pellor.h"
#include "platform/runtime_error.h"
#include "support/test_env.h"

#include <QDir>
#include <QFile>
#include <QtTest>
#include <sys/stat.h>
#include <unistd.h>

using namespace tarvic;
using namespace tarvic::test;

class DrivePathsTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void driveStatus_data();
    void driveStatus();
    void lettersMatchWithoutRegardToCase();
    void brokenMapEntriesNeverCrash();
    void opticalDrivesTakeTheFreeLettersFromD();
    void pathRules_data();
    void pathRules();
    void exactMatchWinsAndVariantsAreDeterministic();
    void linksLeavingTheRootCountAsMissing();
    void currentDriveAndDirectory();
    void changingToMissingPlacesFails_data();
    void changingToMissingPlacesFails();
    void linuxPathsLeaveTheDriveAlone();
};

void DrivePathsTest::driveStatus_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("drive");
    QTest::addColumn<int>("status");
    QTest::newRow("filled folder") << "filled" << "E:" << 2;
    QTest::newRow("trailing backslash") << "filled" << "E:\\" << 2;
    QTest::newRow("lower case letter") << "filled" << "e:" << 2;
    QTest::newRow("empty folder") << "empty" << "E:" << 1;
    QTest::newRow("missing folder") << "missing" << "E:" << 1;
    QTest::newRow("a file where the folder should be") << "file" << "E:" << 1;
    QTest::newRow("no entry") << "filled" << "F:" << 0;
    QTest::newRow("letter without colon") << "filled" << "E" << 0;
    QTest::newRow("two letters") << "filled" << "DV" << 0;
    QTest::newRow("slash c") << "filled" << "/C" << 0;
    QTest::newRow("empty") << "filled" << "" << 0;
    QTest::newRow("long text") << "filled" << "E:\\foo" << 0;
    QTest::newRow("not a letter") << "filled" << "1:" << 0;
    QTest::newRow("non-ASCII letter") << "filled" << QStringLiteral("\u00c9:") << 0;
}

void DrivePathsTest::driveStatus()
{
    QFETCH(QString, setup);
    QFETCH(QString, drive);
    QFETCH(int, status);
    TestEnv env;
    const QString disc = env.newFolder(QStringLiteral("disc"));
    if (setup == QLatin1String("filled"))
        touch(disc + QStringLiteral("/setup.exe"));
    else if (setup == QLatin1String("missing"))
        QDir(disc).removeRecursively();
    else if (setup == QLatin1String("file")) {
        QDir(disc).removeRecursively();
        touch(disc);
    }
    env.mapDrive(QLatin1Char('e'), disc);
    Pellor pellor(env.paths());
    QCOMPARE(pellor.DriveStatus(drive), status);
}

void DrivePathsTest::lettersMatchWithoutRegardToCase()
{
    TestEnv env;
    const QString lower = env.newFolder(QStringLiteral("lower"));
    const QString upper = env.newFolder(QStringLiteral("upper"));
    touch(lower + QStringLiteral("/LOWER.TXT"));
    touch(upper + QStringLiteral("/UPPER.TXT"));
    // Both spellings in the map: the lower-case one, as Wine writes it, wins.
    QVERIFY(QFile::link(upper, env.mapFolder() + QStringLiteral("/E:")));
    env.mapDrive(QLatin1Char('e'), lower);
    Pellor pellor(env.paths());
    QVERIFY(pellor.FileExists(QStringLiteral("e:\\lower.txt")));
    QVERIFY(pellor.FileExists(QStringLiteral("E:\\lower.txt")));
    QVERIFY(!pellor.FileExists(QStringLiteral("E:\\upper.txt")));
}

void DrivePathsTest::brokenMapEntriesNeverCrash()
{
    TestEnv env;
    const QByteArray map = QFile::encodeName(env.mapFolder());
    QCOMPARE(::symlink("f:", (map + "/f:").constData()), 0);                 // loops onto itself
    QCOMPARE(::symlink("/nonexistent/disc", (map + "/g:").constData()), 0);  // dangles
    QCOMPARE(::symlink("/nonexistent/dev", (map + "/h::").constData()), 0);  // a gone device
    touch(env.mapFolder() + QStringLiteral("/i:"), "not a link");
    touch(env.mapFolder() + QStringLiteral("/readme.txt"), "ignored");
    Pellor pellor(env.paths());
    QCOMPARE(pellor.DriveStatus(QStringLiteral("F:")), 1);
    QCOMPARE(pellor.DriveStatus(QStringLiteral("G:")), 1);
    QVERIFY(pellor.DriveStatus(QStringLiteral("H:")) <= 1);
    QCOMPARE(pellor.DriveStatus(QStringLiteral("I:")), 1);
    QVERIFY(!pellor.FileExists(QStringLiteral("F:\\x")));
    QVERIFY(!pellor.FolderExists(QStringLiteral("G:\\")));

    // A map folder that cannot be read gives no drives, not a crash.
    TestEnv unreadable;
    QDir(unreadable.mapFolder()).removeRecursively();
    touch(unreadable.mapFolder(), "a file in place of the folder");
    Pellor other(unreadable.paths());
    QCOMPARE(other.DriveStatus(QStringLiteral("E:")), 0);
}

void DrivePathsTest::opticalDrivesTakeTheFreeLettersFromD()
{
    TestEnv env;
    env.mapDrive(QLatin1Char('d'), env.newFolder(QStringLiteral("d")));
    env.mapDrive(QLatin1Char('f'), env.newFolder(QStringLiteral("f")));
    const auto lister = [] { return QList<QByteArray>{"/dev/sr0", "/dev/sr1", "/dev/sr2"}; };
    DriveMap map(env.mapFolder(), lister);
    // Mapped letters stay with their folders; the drives fill the gaps in order.
    QCOMPARE(map.find(QLatin1Char('d')).kind, DriveEntry::Folder);
    QCOMPARE(map.find(QLatin1Char('e')).target, QByteArray("/dev/sr0"));
    QCOMPARE(map.find(QLatin1Char('F')).kind, DriveEntry::Folder);
    QCOMPARE(map.find(QLatin1Char('g')).target, QByteArray("/dev/sr1"));
    QCOMPARE(map.find(QLatin1Char('h')).target, QByteArray("/dev/sr2"));
    QCOMPARE(map.find(QLatin1Char('i')).kind, DriveEntry::None);
    QCOMPARE(map.entries().size(), 5);

    // Once the map names a device itself, the machine's drives get no letters.
    env.mapDevice(QLatin1Char('x'), QStringLiteral("/dev/sr1"));
    QCOMPARE(map.find(QLatin1Char('e')).kind, DriveEntry::None);
    QCOMPARE(map.find(QLatin1Char('x')).target, QByteArray("/dev/sr1"));
    QCOMPARE(map.entries().size(), 3);
}

void DrivePathsTest::pathRules_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expect");   // "file", "folder" or "none"
    QTest::newRow("file from root") << "E:\\autorun.inf" << "file";
    QTest::newRow("other case") << "E:\\AUTORUN.INF" << "file";
    QTest::newRow("forward slashes") << "E:/Video_ts/vts_01_0.vob" << "file";
    QTest::newRow("repeated separators") << "E:\\\\VIDEO_TS\\/\\VTS_01_0.VOB" << "file";
    QTest::newRow("folder") << "E:\\video_ts" << "folder";
    QTest::newRow("folder with trailing separator") << "E:\\VIDEO_TS\\" << "folder";
    QTest::newRow("root") << "E:\\" << "folder";
    QTest::newRow("drive alone is its current folder") << "E:" << "folder";
    QTest::newRow("dot") << "E:\\.\\VIDEO_TS\\.\\" << "folder";
    QTest::newRow("dot dot inside") << "E:\\VIDEO_TS\\..\\autorun.inf" << "file";
    QTest::newRow("dot dot never climbs above the root") << "E:\\..\\..\\..\\autorun.inf" << "file";
    QTest::newRow("dot dot cannot reach outside") << "E:\\..\\outside.txt" << "none";
    QTest::newRow("two backslashes after the drive") << "E:\\\\autorun.inf" << "file";
    QTest::newRow("missing") << "E:\\setup.exe" << "none";
    QTest::newRow("file is not a folder") << "E:\\autorun.inf\\x" << "none";
    QTest::newRow("empty") << "" << "none";
    QTest::newRow("unmapped letter") << "Q:\\autorun.inf" << "none";
    QTest::newRow("unc") << "\\\\server\\share" << "none";
    QTest::newRow("device namespace") << "\\\\?\\E:\\autorun.inf" << "none";
    QTest::newRow("linux absolute") << "@OUTSIDE@" << "file";
    QTest::newRow("linux absolute missing") << "/nonexistent/tarvic" << "none";
    QTest::newRow("blank name") << "E:\\my setup.exe" << "file";
    QTest::newRow("unicode name") << QStringLiteral("E:\\\u00e9T\u00c9.TXT") << "file";
}

void DrivePathsTest::pathRules()
{
    QFETCH(QString, path);
    QFETCH(QString, expect);
    TestEnv env;
    const QString disc = env.newFolder(QStringLiteral("disc"));
    touch(disc + QStringLiteral("/autorun.inf"));
    touch(disc + QStringLiteral("/VIDEO_TS/VTS_01_0.VOB"));
    touch(disc + QStringLiteral("/My Setup.EXE"));
    touch(disc + QStringLiteral("/\u00e9t\u00e9.txt"));
    const QString outside = QFileInfo(disc).path() + QStringLiteral("/outside.txt");
    touch(outside);
    env.mapDrive(QLatin1Char('E'), disc);
    path.replace(QStringLiteral("@OUTSIDE@"), outside);

    Pellor pellor(env.paths());
    QCOMPARE(pellor.FileExists(path), expect == QLatin1String("file"));
    QCOMPARE(pellor.FolderExists(path), expect == QLatin1String("folder"));
}

void DrivePathsTest::exactMatchWinsAndVariantsAreDeterministic()
{
    TestEnv env;
    const QString disc = env.newFolder(QStringLiteral("disc"));
    touch(disc + QStringLiteral("/setup.exe"), "lower");
    touch(disc + QStringLiteral("/SETUP.EXE"), "upper");
    touch(disc + QStringLiteral("/Setup.Exe"), "mixed");
    env.mapDrive(QLatin1Char('e'), disc);
    DrivePaths &paths = env.paths();
    auto content = [&paths](const QString &p) {
        QFile f(QFile::decodeName(paths.resolve(p).native));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(missing)");
    };
    QCOMPARE(content(QStringLiteral("E:\\setup.exe")), QByteArray("lower"));
    QCOMPARE(content(QStringLiteral("E:\\Setup.Exe")), QByteArray("mixed"));
    // No exact match: the first variant in byte order, every time.
    QCOMPARE(content(QStringLiteral("E:\\sEtUp.exe")), QByteArray("upper"));
    QCOMPARE(content(QStringLiteral("E:\\SETUP.exe")), QByteArray("upper"));
}

void DrivePathsTest::linksLeavingTheRootCountAsMissing()
{
    TestEnv env;
    const QString disc = env.newFolder(QStringLiteral("disc"));
    const QString outside = env.newFolder(QStringLiteral("outside"));
    touch(outside + QStringLiteral("/secret.txt"));
    touch(disc + QStringLiteral("/inside/real.txt"));
    QVERIFY(QFile::link(outside, disc + QStringLiteral("/escape")));
    QVERIFY(QFile::link(outside + QStringLiteral("/secret.txt"), disc + QStringLiteral("/secret.txt")));
    QVERIFY(QFile::link(disc + QStringLiteral("/inside/real.txt"), disc + QStringLiteral("/alias.txt")));
    QVERIFY(QFile::link(QStringLiteral("inside"), disc + QStringLiteral("/relative")));
    env.mapDrive(QLatin1Char('e'), disc);
    Pellor pellor(env.paths());
    QVERIFY(!pellor.FolderExists(QStringLiteral("E:\\escape")));
    QVERIFY(!pellor.FileExists(QStringLiteral("E:\\escape\\secret.txt")));
    QVERIFY(!pellor.FileExists(QStringLiteral("E:\\secret.txt")));
    QVERIFY(pellor.FileExists(QStringLiteral("E:\\alias.txt")));
    QVERIFY(pellor.FileExists(QStringLiteral("E:\\relative\\REAL.TXT")));
    QVERIFY_THROWS_EXCEPTION(RuntimeError, env.paths().ChDir(QStringLiteral("E:\\escape")));
}

void DrivePathsTest::currentDriveAndDirectory()
{
    TestEnv env;
    const QString e = env.newFolder(QStringLiteral("e"));
    const QString f = env.newFolder(QStringLiteral("f"));
    touch(e + QStringLiteral("/Sub/Deeper/prog.exe"));
    touch(e + QStringLiteral("/top.exe"));
    touch(f + QStringLiteral("/other.exe"));
    env.mapDrive(QLatin1Char('e'), e);
    env.mapDrive(QLatin1Char('f'), f);
    DrivePaths &paths = env.paths();
    Pellor pellor(paths);
    const QString startCwd = QDir::currentPath();

    // Setting a directory on a drive that is not current does not switch drives.
    paths.ChDir(QStringLiteral("e:\\sub"));
    QCOMPARE(QDir::currentPath(), startCwd);
    QVERIFY(!paths.currentDrive());

    // Switching to the drive enters its own current folder, real names and all.
    paths.ChDrive(QStringLiteral("E:\\whatever"));
    QCOMPARE(paths.currentDrive(), std::optional<QChar>(QLatin1Char('E')));
    QCOMPARE(QDir::currentPath(), QDir(e + QStringLiteral("/Sub")).canonicalPath());
    QVERIFY(pellor.FileExists(QStringLiteral("deeper\\PROG.EXE")));
    QVERIFY(pellor.FileExists(QStringLiteral("..\\top.exe")));
    QVERIFY(pellor.FileExists(QStringLiteral("\\top.exe")));
    QVERIFY(pellor.FolderExists(QStringLiteral("E:")));
    QVERIFY(pellor.FileExists(QStringLiteral("E:deeper\\prog.exe")));

    // A relative directory moves from the current folder; the process follows.
    paths.ChDir(QStringLiteral("Deeper"));
    QCOMPARE(QDir::currentPath(), QDir(e + QStringLiteral("/Sub/Deeper")).canonicalPath());
    // "E:" alone is the drive's current folder, not its root.
    paths.ChDir(QStringLiteral("E:"));
    QCOMPARE(QDir::currentPath(), QDir(e + QStringLiteral("/Sub/Deeper")).canonicalPath());

    // Another drive keeps a folder of its own.
    paths.ChDrive(QStringLiteral("f"));
    QCOMPARE(QDir::currentPath(), QDir(f).canonicalPath());
    QVERIFY(pellor.FileExists(QStringLiteral("other.exe")));
    QVERIFY(!pellor.FileExists(QStringLiteral("prog.exe")));
    paths.ChDrive(QStringLiteral("E:"));
    QCOMPARE(QDir::currentPath(), QDir(e + QStringLiteral("/Sub/Deeper")).canonicalPath());

    // The folder vanishes with the disc that held it: back to the root.
    QDir(e + QStringLiteral("/Sub")).removeRecursively();
    paths.ChDrive(QStringLiteral("F:"));
    paths.ChDrive(QStringLiteral("E:"));
    QCOMPARE(QDir::currentPath(), QDir(e).canonicalPath());
}

void DrivePathsTest::changingToMissingPlacesFails_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("argument");
    QTest::addColumn<int>("number");
    QTest::newRow("drive without entry") << "drive" << "Q:" << 68;
    QTest::newRow("drive without disc") << "drive" << "N:" << 71;
    QTest::newRow("directory on drive without entry") << "dir" << "Q:\\" << 68;
    QTest::newRow("directory on drive without disc") << "dir" << "N:" << 71;
    QTest::newRow("missing directory") << "dir" << "E:\\nothing" << 76;
    QTest::newRow("a file is no directory") << "dir" << "E:\\file.txt" << 76;
    QTest::newRow("empty directory name") << "dir" << "" << 76;
    QTest::newRow("missing linux directory") << "dir" << "/nonexistent/tarvic" << 76;
}

void DrivePathsTest::changingToMissingPlacesFails()
{
    QFETCH(QString, operation);
    QFETCH(QString, argument);
    QFETCH(int, number);
    TestEnv env;
    const QString disc = env.newFolder(QStringLiteral("disc"));
    touch(disc + QStringLiteral("/file.txt"));
    env.mapDrive(QLatin1Char('e'), disc);
    env.mapDrive(QLatin1Char('n'), env.newFolder(QStringLiteral("empty")));
    const QString before = QDir::currentPath();
    try {
        if (operation == QLatin1String("drive"))
            env.paths().ChDrive(argument);
        else
            env.paths().ChDir(argument);
        QFAIL("no failure");
    } catch (const RuntimeError &e) {
        QCOMPARE(e.number(), number);
        QVERIFY(!e.description().isEmpty());
    }
    QCOMPARE(QDir::currentPath(), before);
    QVERIFY(!env.paths().currentDrive());
}

void DrivePathsTest::linuxPathsLeaveTheDriveAlone()
{
    TestEnv env;
    const QString disc = env.newFolder(QStringLiteral("disc"));
    const QString music = env.newFolder(QStringLiteral("music"));
    touch(disc + QStringLiteral("/file.txt"));
    env.mapDrive(QLatin1Char('e'), disc);
    DrivePaths &paths = env.paths();

    // A start-in folder given as a Linux path: the directory changes, the drive stays.
    paths.ChDir(music);
    paths.ChDrive(music);
    QCOMPARE(QDir::currentPath(), QDir(music).canonicalPath());
    QVERIFY(!paths.currentDrive());
    // Bare names are then taken from that folder, as on Linux.
    touch(music + QStringLiteral("/player"));
    QVERIFY(Pellor(paths).FileExists(QStringLiteral("player")));

    // Non-letters and the empty text leave the drive as it is.
    paths.ChDrive(QStringLiteral("E:"));
    paths.ChDrive(QStringLiteral("/usr"));
    paths.ChDrive(QString());
    paths.ChDrive(QStringLiteral("\\"));
    QCOMPARE(paths.currentDrive(), std::optional<QChar>(QLatin1Char('E')));
}

QTEST_GUILESS_MAIN(DrivePathsTest)
#include "test_drive_paths.moc"
