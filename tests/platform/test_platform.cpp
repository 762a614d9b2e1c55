// The platform on real temporary folders: the drive map, drive status, path rules and
// the current drive and directory; the mark that a tarvic is handling a letter; starting
// programs for real, where one recording script stands for every program started.
#include "components/pellor.h"
#include "platform/drive_lock.h"
#include "platform/runtime_error.h"
#include "platform/system_starter.h"
#include "support/test_env.h"

#include <QtTest>
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

static void put(const QString &path, const QByteArray &content, mode_t mode)
{
    touch(path, content);
    ::chmod(QFile::encodeName(path).constData(), mode);
}

// The drives of mapDrives under the returned root, E: (disc/) with E:\tools current; and
// PATH a:b::c:d where a holds a data file, b a folder, c and d programs (c also wine and
// xdg-open). The recording script writes down where it ran, what it inherited, its $0
// and its arguments.
static QString setUp(TestEnv &env)
{
    const QString root = QFileInfo(mapDrives(env)).canonicalPath() + u'/';
    const QByteArray out = "'" + QFile::encodeName(root) + "record'";
    // The signal lines are read first: dash clears its mask once it has forked.
    const QByteArray recorder = "#!/bin/sh\nPATH=/usr/bin:/bin\n"
        "while read -r k v; do case $k in SigBlk:|SigIgn:) m=\"$m $k$v\";; esac; done </proc/$$/status\n"
        "read -r s </proc/$$/stat; f() { [ \"$4\" = $$ ] && echo leader; }\n"
        "{ echo \"$(pwd -P)\" $m $(readlink /proc/$$/fd/0) $(f ${s##*) }) $([ -e /proc/$$/fd/77 ] && echo leaked:77) $([ -e /proc/$$/fd/200 ] && echo leaked:200)\n"
        "  printf '%s\\n' \"$0\" \"$@\"; } >" + out + ".part && mv " + out + ".part " + out + "\n";
    for (const char *p : {"c/tarvic-p", "d/tarvic-p", "c/tarvic-q", "c/wine", "c/xdg-open", "disc/tools/tarvic-q",
                          "disc/tools/rec.sh", "disc/tools/rec.sh two", "disc/tools/my rec.sh", "disc/my tools/x"})
        put(root + QLatin1StringView(p), recorder, 0755);
    put(root + u"a/tarvic-p"_s, "#!/bin/sh\n", 0644);
    makeFolder(root + u"b/tarvic-p"_s);
    for (const char *p : {"disc/install.exe", "disc/C:\\x.exe"})
        put(root + QLatin1StringView(p), "MZ\x90\0"_ba, 0644);   // wine needs no execute permission
    // A shell that ran either anyway would leave the record.
    put(root + u"disc/noexec.sh"_s, "#!/bin/sh\n: >" + out + "\n", 0644);
    put(root + u"disc/garbage.sh"_s, ": >" + out + "\n", 0755);
    put(root + u"disc/badbang.sh"_s, "#!/nonexistent/shell\n", 0755);
    env.paths().ChDir(u"E:\\tools"_s);
    env.paths().ChDrive(u"E:"_s);
    qputenv("PATH", QFile::encodeName(u"%1a:%1b::%1c:%1d"_s.arg(root)));
    return root;
}

class PlatformTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }
    // The temp folder's, where the mark goes when the runtime folder's cannot be used.
    QString fallback() const { return path(u"tmp/tarvic-%1"_s.arg(::geteuid())); }

    static void setRuntime(const QString &folder)
    {
        folder.isNull() ? qunsetenv("XDG_RUNTIME_DIR") : qputenv("XDG_RUNTIME_DIR", QFile::encodeName(folder));
    }
    static int mode(const QString &file)
    {
        struct stat st;
        return ::lstat(QFile::encodeName(file).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
    }
    // Made, seen by an asker, and gone with its holder.
    static bool marked(QChar letter)
    {
        DriveLock lock;
        const bool held = lock.hold(letter) && DriveLock::isHeld(letter);
        lock.release();
        return held && !DriveLock::isHeld(letter);
    }

private Q_SLOTS:
    // What no started program may inherit: a stdin other than /dev/null, descriptors 77
    // and 200 without close-on-exec (200 above the open-file limit, which a lowered
    // soft limit leaves open), a blocked SIGUSR1, an ignored SIGUSR2. The marks' temp
    // folder is one of our own.
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        makeFolder(path(u"tmp"_s));
        qputenv("TMPDIR", QFile::encodeName(path(u"tmp"_s)));
        QVERIFY(::dup2(::open("/dev/zero", O_RDONLY), 77) == 77 && ::dup2(77, 0) == 0 && ::dup2(77, 200) == 200);
        rlimit files {};
        QVERIFY(::getrlimit(RLIMIT_NOFILE, &files) == 0);
        files.rlim_cur = 64;
        QVERIFY(::setrlimit(RLIMIT_NOFILE, &files) == 0);
        sigset_t usr1 {};
        sigaddset(&usr1, SIGUSR1);
        QVERIFY(::pthread_sigmask(SIG_BLOCK, &usr1, nullptr) == 0 && std::signal(SIGUSR2, SIG_IGN) != SIG_ERR);
    }

    void init()
    {
        QDir(path(u"run"_s)).removeRecursively();
        QDir(fallback()).removeRecursively();
        QVERIFY(QDir().mkdir(path(u"run"_s), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        setRuntime(path(u"run"_s));
    }

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
        QCOMPARE(pellor.FileExists(path) ? name : pellor.FolderExists(path) ? name + u'/' : QString(), found);
    }

    void currentDriveAndDirectory()
    {
        TestEnv env;
        const QString e = mapDrives(env), f = env.newFolder(u"f"_s);
        DrivePaths &paths = env.paths();
        Pellor pellor(paths);
        const auto cwdIs = [](const QString &p) { return QDir::currentPath() == QDir(p).canonicalPath(); };
        QCOMPARE(errorOf([&] { paths.ChDrive(u"Q:"_s); }).left(3), u"68:"_s);
        QCOMPARE(errorOf([&] { paths.ChDrive(u"G:"_s); }).left(3), u"71:"_s);
        QCOMPARE(errorOf([&] { paths.ChDir(u"E:\\nothing"_s); }).left(3), u"76:"_s);
        QCOMPARE(errorOf([&] { paths.ChDir(u"E:\\escape"_s); }).left(3), u"76:"_s);
        QVERIFY(!paths.currentDrive());

        // A folder set on a drive that is not current is where the drive starts.
        paths.ChDir(u"e:\\sub"_s);
        paths.ChDrive(u"E:\\whatever"_s);
        QCOMPARE(paths.currentDrive(), std::optional<QChar>(u'E'));
        QVERIFY(cwdIs(e + u"/Sub"_s));
        QVERIFY(pellor.FileExists(u"deeper\\PROG.EXE"_s) && pellor.FileExists(u"\\autorun.inf"_s)
                && pellor.FileExists(u"E:deeper\\prog.exe"_s));
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

    void theFolderByTheRuntimeFolderOrTheTempFolder()
    {
        QCOMPARE(DriveLock::folder(), path(u"run/tarvic"_s));
        touch(path(u"file"_s));
        // Unset, relative (though it names a folder from here), missing, or no folder: not to be used.
        const auto back = qScopeGuard([cwd = QDir::currentPath()] { QDir::setCurrent(cwd); });
        QVERIFY(QDir::setCurrent(m_dir.path()));
        for (const QString &runtime : {QString(), u"run"_s, path(u"missing"_s), path(u"file"_s)}) {
            setRuntime(runtime);
            QCOMPARE(DriveLock::folder(), fallback());
        }
        // The fallback is made for its user alone.
        DriveLock lock;
        QVERIFY(lock.hold(u'E') && DriveLock::isHeld(u'E'));
        QCOMPARE(mode(fallback()), 0700);
        QCOMPARE(mode(fallback() + u"/tarvic-E.lock"_s), 0600);
    }

    void heldWhileAnyHolderHoldsIt()
    {
        DriveLock first, second;
        // Letters only, A to Z in either case: nothing else is held, nor makes anything.
        for (const QChar c : QList<QChar>{u'/', u'1', QChar(0xc4), u':', u'[', QChar()})
            QVERIFY(!first.hold(c) && !DriveLock::isHeld(c));
        QVERIFY(!DriveLock::isHeld(u'E'));
        QVERIFY(!QFileInfo::exists(path(u"run/tarvic"_s)));   // asking makes nothing
        QVERIFY(first.hold(u'e'));
        QVERIFY(DriveLock::isHeld(u'E') && DriveLock::isHeld(u'e') && !DriveLock::isHeld(u'F'));
        QVERIFY(second.hold(u'E'));   // "tarvic E:" typed twice: both run
        first.release();
        QVERIFY(DriveLock::isHeld(u'E'));
        second.release();
        QVERIFY(!DriveLock::isHeld(u'E'));
        QVERIFY(first.hold(u'E'));   // asking took it for a moment only
        QVERIFY(marked(u'Z') && marked(u'a'));
    }

    // A link where the folder goes, to a folder that holds a mark of its own: the mark
    // is made in the temp folder's, and two watchers meet there too.
    void whatIsInTheWayIsPassedOver()
    {
        makeFolder(path(u"other"_s));
        setRuntime(path(u"other"_s));
        DriveLock elsewhere;
        QVERIFY(elsewhere.hold(u'E'));
        setRuntime(path(u"run"_s));
        QVERIFY(QFile::link(path(u"other/tarvic"_s), path(u"run/tarvic"_s)));
        QVERIFY(!DriveLock::isHeld(u'E'));
        QVERIFY(marked(u'E'));
        QVERIFY(QFileInfo::exists(fallback() + u"/tarvic-E.lock"_s));
        DriveLock watcher, second;
        QCOMPARE(watcher.holdAlone(), DriveLock::Alone::Held);
        QCOMPARE(second.holdAlone(), DriveLock::Alone::Taken);
        // A pipe or a link where the letter's file goes (no hang), a folder no longer
        // writable (root writes there all the same), another user's folder.
        QVERIFY(QFile::remove(path(u"run/tarvic"_s)));
        makeFolder(path(u"run/tarvic"_s));
        QVERIFY(::mkfifo(QFile::encodeName(path(u"run/tarvic/tarvic-E.lock"_s)).constData(), 0600) == 0);
        QVERIFY(marked(u'E'));
        touch(path(u"someone's.lock"_s));
        QVERIFY(QFile::link(path(u"someone's.lock"_s), path(u"run/tarvic/tarvic-F.lock"_s)));
        QVERIFY(marked(u'F'));
        QVERIFY(QDir(path(u"run/tarvic"_s)).removeRecursively());
        QVERIFY(QDir().mkdir(path(u"run/tarvic"_s), QFile::ReadOwner | QFile::ExeOwner));
        QVERIFY(marked(u'E'));
        if (::geteuid() != 0)
            QSKIP("chown needs root: a folder of another user is not checked");
        QVERIFY(QDir(path(u"run/tarvic"_s)).removeRecursively());
        makeFolder(path(u"run/tarvic"_s));
        QVERIFY(::chown(QFile::encodeName(path(u"run/tarvic"_s)).constData(), 65534, 65534) == 0);
        QVERIFY(marked(u'E'));
        QCOMPARE(listing(path(u"run/tarvic"_s)), QStringList());
    }

    // The real program: it holds the mark for its whole run, the kernel drops it when
    // it ends, and a mark it cannot make keeps it from nothing.
    void tarvicHoldsItsDriveForItsWholeRun()
    {
        TestEnv env;
        const QString disc = env.newFolder(u"disc"_s);   // no autorun.inf: the window stays
        env.mapDrive(u'E', disc);
        QProcess tarvic;
        // A medium's folder that no letter maps is marked by the letter it gets for the run.
        for (const auto &[argument, letter] : {std::pair{u"e:"_s, u'E'}, {env.newFolder(u"other disc"_s), u'D'}}) {
            tarvic.start(QStringLiteral(TARVIC_BINARY), {argument});
            QTRY_VERIFY_WITH_TIMEOUT(DriveLock::isHeld(letter), 10000);
            QCOMPARE(tarvic.state(), QProcess::Running);
            QVERIFY(!DriveLock::isHeld(letter == u'E' ? u'D' : u'E'));
            tarvic.kill();
            QVERIFY(tarvic.waitForFinished());
            QVERIFY(!DriveLock::isHeld(letter));
        }
        // No folder of the marks can be made: the disc's program starts all the same, and it is said.
        QVERIFY(QDir(path(u"run/tarvic"_s)).removeRecursively());
        touch(path(u"run/tarvic"_s));
        QVERIFY(QDir(fallback()).removeRecursively());
        touch(fallback());
        touch(disc + u"/autorun.inf"_s, "[autorun]\r\nopen=setup.sh\r\n");
        put(disc + u"/setup.sh"_s, "#!/bin/sh\necho ran >\"$0.ran\"\n", 0700);
        tarvic.start(QStringLiteral(TARVIC_BINARY), {u"E:"_s});
        QVERIFY(tarvic.waitForFinished(10000));
        QCOMPARE(tarvic.exitCode(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(disc + u"/setup.sh.ran"_s), 10000);
        QVERIFY(tarvic.readAllStandardError().contains("E: cannot be marked as being handled"));
        QVERIFY(QFile::remove(fallback()));
    }

    void startsWhatTheLineNames_data()
    {
        QTest::addColumn<QString>("commandLine");   // %R: the root of setUp; [path]: that file as itself
        QTest::addColumn<int>("windowStyle");
        QTest::addColumn<QString>("expected");      // $0 and the arguments, "|" between; "number: description" of an error; empty: nothing

        QTest::newRow("quoted program; quotes group, \"\" is a word, an open quote runs on")
            << "\"%Rdisc/tools/my rec.sh\" \"a b\" \"\" x\"y z\"w \"c  d" << 2 << "%Rdisc/tools/my rec.sh|a b||xy zw|c  d";
        QTest::newRow("backslashes count only before a quote") << "E:\\tools\\rec.sh a\\\\b a\\\\\\\"b a\\\\\\\\\"b c\"" << 1 << "%Rdisc/tools/rec.sh|a\\\\b|a\\\"b|a\\\\b c";
        QTest::newRow("a doubled quote inside quotes") << "E:\\tools\\rec.sh a\"b\"\" c d" << 1 << "%Rdisc/tools/rec.sh|ab\" c d";
        QTest::newRow("no shell") << "E:\\tools\\rec.sh $HOME;*&`id`>y 'a b'" << 1 << "%Rdisc/tools/rec.sh|$HOME;*&`id`>y|'a|b'";
        QTest::newRow("a whole line naming a file is not split") << "E:\\TOOLS\\REC.SH TWO" << 1 << "%Rdisc/tools/rec.sh two";
        QTest::newRow("a bare name with blanks in the current folder") << "my rec.sh" << 1 << "%Rdisc/tools/my rec.sh";
        QTest::newRow("PATH: a data file and a folder passed over, the first program wins") << "tarvic-p a" << 1 << "%Rc/tarvic-p|a";
        QTest::newRow("the current folder before PATH") << "tarvic-q" << 1 << "%Rdisc/tools/tarvic-q";
        QTest::newRow("wine, normal window") << "E:\\install.exe /s \"a b\"" << 1 << "%Rc/wine|%Rdisc/install.exe|/s|a b";
        QTest::newRow("wine, minimised") << "E:\\INSTALL.EXE" << 2 << "%Rc/wine|start|/min|/unix|%Rdisc/install.exe";
        QTest::newRow("a file as itself, its name no path") << "[%Rdisc/C:\\x.exe]" << 2 << "%Rc/wine|start|/min|/unix|%Rdisc/C:\\x.exe";
        QTest::newRow("a file as itself, blanks and all") << "[%Rdisc/tools/my rec.sh]" << 2 << "%Rdisc/tools/my rec.sh";
        QTest::newRow("explorer E: opens the root, not the current folder") << "explorer E:" << 1 << "%Rc/xdg-open|%Rdisc";
        QTest::newRow("EXPLORER.EXE, a folder with blanks in another case") << "EXPLORER.EXE e:\\MY TOOLS" << 1 << "%Rc/xdg-open|%Rdisc/my tools";
        QTest::newRow("explorer alone opens the current folder") << "explorer" << 1 << "%Rc/xdg-open|%Rdisc/tools";
        // The file manager says that a drive is empty; where there is no folder to show, nothing starts.
        QTest::newRow("explorer, no disc: the drive's folder") << "explorer G:" << 1 << "%Rc/xdg-open|%Rempty";
        QTest::newRow("explorer, the drive's folder is gone") << "explorer H:" << 1 << "";
        QTest::newRow("explorer, a device drive without a disc") << "explorer j:\\setup" << 1 << "";

        QTest::newRow("missing file") << "E:\\nothing.sh a" << 1 << "53: File not found: E:\\nothing.sh (No such file or directory)";
        QTest::newRow("missing interpreter") << "E:\\badbang.sh" << 1 << "53: File not found: the interpreter that %Rdisc/badbang.sh names (No such file or directory)";
        QTest::newRow("a data file") << "E:\\noexec.sh" << 1 << "5: Invalid procedure call or argument: %Rdisc/noexec.sh is not a program (it is not marked executable)";
        QTest::newRow("no program format") << "E:\\garbage.sh" << 1 << "5: Invalid procedure call or argument: %Rdisc/garbage.sh (Exec format error)";
        QTest::newRow("a folder") << "E:\\tools" << 1 << "5: Invalid procedure call or argument: E:\\tools (Is a directory)";
        QTest::newRow("empty") << " \t" << 1 << "5: Invalid procedure call or argument: the command line is empty";
        QTest::newRow("a Windows program without wine") << "E:\\install.exe /s" << 2 << "5: Wine is needed to start the Windows program %Rdisc/install.exe (there is no wine on PATH)";
        QTest::newRow("explorer, a missing folder") << "explorer E:\\nowhere" << 1 << "76: Path not found: E:\\nowhere";
        QTest::newRow("explorer, no such drive") << "explorer Q:" << 1 << "68: Device unavailable: there is no drive Q: in the drive map";
        QTest::newRow("explorer without xdg-open") << "explorer E:" << 1 << "5: xdg-open is needed to open E:\\ in the file manager (there is no xdg-open on PATH)";
    }

    void startsWhatTheLineNames()
    {
        QFETCH(QString, commandLine);
        QFETCH(int, windowStyle);
        QFETCH(QString, expected);
        TestEnv env;
        const QString root = setUp(env);
        if (expected.section(u':', 0, 0).toInt())
            qputenv("PATH", "/nonexistent");   // failures meet no wine and no xdg-open
        QFile record(root + u"record"_s);
        commandLine.replace(u"%R"_s, root);
        QStringList got{errorOf([&] {
            if (commandLine.startsWith(u'['))
                SystemStarter(env.paths()).startProgram(QFile::encodeName(commandLine.mid(1).chopped(1)), windowStyle);
            else
                SystemStarter(env.paths()).start(commandLine, windowStyle);
        })};
        if (got.first().isEmpty() && !expected.isEmpty()) {
            QTRY_VERIFY_WITH_TIMEOUT(record.exists(), 10000);
            QVERIFY(record.open(QIODevice::ReadOnly));
            got = QString::fromUtf8(record.readAll()).chopped(1).split(u'\n');
            // Where it ran, then what it inherited: no signal blocked or ignored, stdin, its own session, no descriptor 77.
            QCOMPARE(got.takeFirst(), QDir::current().canonicalPath() + u" SigBlk:0000000000000000 SigIgn:0000000000000000 /dev/null leader"_s);
        } else {
            QTest::qWait(200);   // nothing started, not even late
            QVERIFY(!record.exists());
        }
        QVERIFY2(::waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD, "a child is left");
        QCOMPARE(got, expected.replace(u"%R"_s, root).split(u'|'));
    }
};

QTEST_GUILESS_MAIN(PlatformTest)
#include "test_platform.moc"
