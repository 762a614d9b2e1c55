// Starting programs for real: small recording scripts in temporary folders stand
// for the players, the disc's programs, wine and xdg-open.
#include "platform/command_line.h"
#include "platform/runtime_error.h"
#include "platform/system_starter.h"
#include "support/test_env.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtTest>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tarvic;
using namespace tarvic::test;
using namespace Qt::StringLiterals;

namespace {

const QFile::Permissions plain = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;
const QFile::Permissions executable = plain | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther;

void writeFile(const QString &path, const QByteArray &content, QFile::Permissions permissions = executable)
{
    touch(path, content);
    if (!QFile::setPermissions(path, permissions))
        qFatal("cannot set the permissions of %s", qPrintable(path));
}

// What a recorder wrote: where it ran, its $0, its arguments, then the six lines
// of what it inherited. Empty when it never ran.
QStringList readRecord(const QString &out)
{
    QDeadlineTimer deadline(10000);
    while (!QFile::exists(out) && !deadline.hasExpired())
        QTest::qWait(20);
    QFile f(out);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'));
    lines.removeLast();   // after the final newline
    return lines;
}

QStringList words(std::initializer_list<const char *> list)
{
    QStringList result;
    for (const char *w : list)
        result << QString::fromUtf8(w);
    return result;
}

QString canonical(const QString &path)
{
    return QFileInfo(path).canonicalFilePath();
}

// Paths that exist in their canonical form, so "disc/" and "disc" compare equal.
QStringList canonicalPaths(QStringList list)
{
    for (QString &s : list)
        if (s.startsWith(QLatin1Char('/')) && QFileInfo::exists(s))
            s = canonical(s);
    return list;
}

// Drive E: on a disc of test programs, F: an empty drive, and PATH of two folders
// with wine, xdg-open and programs to find. While it lasts we hold a descriptor
// without close-on-exec, block SIGUSR1 and ignore SIGUSR2: none of them may reach
// a started program.
struct Rig
{
    TestEnv env;
    QString disc = env.newFolder(u"disc"_s);
    QString bin = env.newFolder(u"bin"_s);
    QString bin2 = env.newFolder(u"bin2"_s);
    QString out = env.configHome() + u"/record"_s;
    QByteArray oldPath = qgetenv("PATH");
    int leaked = [] {
        const int fd = ::open("/dev/null", O_RDONLY);
        const int high = ::fcntl(fd, F_DUPFD, 50);
        ::close(fd);
        return high;
    }();
    sigset_t oldMask;
    void (*oldUsr2)(int) = std::signal(SIGUSR2, SIG_IGN);

    Rig()
    {
        sigset_t block;
        sigemptyset(&block);
        sigaddset(&block, SIGUSR1);
        if (leaked < 50 || ::pthread_sigmask(SIG_BLOCK, &block, &oldMask) != 0)
            qFatal("cannot set up the oddities a program must not inherit");
        for (const QString &p : {u"%D/my rec.sh"_s, u"%D/tools/rec.sh"_s, u"%D/tools/rec.sh two"_s,
                                 u"%D/tools/tarvic-here"_s, u"%B/wine"_s, u"%B/xdg-open"_s, u"%B/tarvic-first"_s,
                                 u"%B/tarvic-here"_s, u"%S/tarvic-first"_s, u"%S/tarvic-second"_s, u"%S/tarvic-data"_s,
                                 u"%S/tarvic-folder"_s, u"%S/tarvic-here"_s})
            writeRecorder(expand(p));
        // Not programs: a search of PATH passes them over.
        writeFile(expand(u"%B/tarvic-data"_s), "#!/bin/sh\n", plain);
        makeFolder(expand(u"%B/tarvic-folder"_s));
        makeFolder(disc + u"/my tools"_s);
        // No execute permission: wine does not need it.
        writeFile(disc + u"/setup.exe"_s, QByteArray("MZ\x90\0\3\0\0\0", 8), plain);
        // Would leave a record if a shell ran it anyway.
        writeFile(disc + u"/noexec.sh"_s, "#!/bin/sh\ntouch '" + QFile::encodeName(out) + "'\n", plain);
        writeFile(disc + u"/badbang.sh"_s, "#!/nonexistent/tarvic-shell\n");
        writeFile(disc + u"/garbage.bin"_s, "just some text, no program\n");
        env.mapDrive(QLatin1Char('e'), disc);
        env.mapDrive(QLatin1Char('f'), env.newFolder(u"empty"_s));
        // The empty entry is no second look in the current folder.
        qputenv("PATH", QFile::encodeName(bin + u"::"_s + bin2));
    }
    ~Rig()
    {
        qputenv("PATH", oldPath);
        ::close(leaked);
        ::pthread_sigmask(SIG_SETMASK, &oldMask, nullptr);
        std::signal(SIGUSR2, oldUsr2);
    }

    // A program that writes the record readRecord reads to `out`, all at once so a
    // reader never sees half of it. Its signal mask is read first: dash empties its
    // own mask once it has forked, whatever mask it was started with.
    void writeRecorder(const QString &path) const
    {
        const QByteArray o = QFile::encodeName(out);
        writeFile(path, "#!/bin/sh\n"
                        "while read -r k v; do case $k in SigBlk:) blk=$v;; SigIgn:) ign=$v;; esac; done < /proc/$$/status\n"
                        "PATH=/usr/bin:/bin\nexport PATH\n{\n  pwd -P\n  printf '%s\\n' \"$0\" \"$@\"\n"
                        "  if [ -e /proc/$$/fd/" + QByteArray::number(leaked)
                        + " ]; then echo leaked; else echo closed; fi\n"
                        "  readlink /proc/$$/fd/0\n"
                        "  echo \"$blk\"; echo \"$ign\"\n"
                        // Its session, after the name in brackets that may hold blanks.
                        "  echo $$; sed 's/.*) //' /proc/$$/stat | cut -d' ' -f4\n"
                        "} > '" + o + ".part' && mv '" + o + ".part' '" + o + "'\n");
    }

    // %D: the disc, %B and %S: the first and second folder on PATH.
    QString expand(QString s) const { return s.replace(u"%D"_s, disc).replace(u"%B"_s, bin).replace(u"%S"_s, bin2); }
};

// Every start is detached: nothing of it is our child, running or dead.
bool noChildLeft()
{
    int status = 0;
    errno = 0;
    return ::waitpid(-1, &status, WNOHANG) == -1 && errno == ECHILD;
}

} // namespace

class StarterTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void splitsAsWindowsDoes_data()
    {
        QTest::addColumn<QString>("commandLine");
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("rest");

        QTest::newRow("name alone") << "setup.exe" << "setup.exe" << QStringList() << "";
        QTest::newRow("leading and inner blanks") << "  prog   a \t b  " << "prog" << words({"a", "b"}) << "a \t b  ";
        QTest::newRow("quoted program keeps blanks and backslashes")
            << "\"C:\\Program Files\\x\\\" a" << "C:\\Program Files\\x\\" << words({"a"}) << "a";
        QTest::newRow("quoted program ends at its closing quote") << "\"a b\"c d" << "a b" << words({"c", "d"}) << "c d";
        QTest::newRow("unquoted program takes quotes literally") << "a\\\"b c" << "a\\\"b" << words({"c"}) << "c";
        QTest::newRow("program quote left open") << "\"my prog x" << "my prog x" << QStringList() << "";
        QTest::newRow("empty quoted program") << "\"\" a" << "" << words({"a"}) << "a";
        QTest::newRow("quotes group blanks") << "p \"a b c\" d e" << "p" << words({"a b c", "d", "e"}) << "\"a b c\" d e";
        QTest::newRow("escaped quote and lone backslash")
            << "p \"ab\\\"c\" \"\\\\\" d" << "p" << words({"ab\"c", "\\", "d"}) << "\"ab\\\"c\" \"\\\\\" d";
        QTest::newRow("backslashes not before a quote are plain")
            << "p a\\\\\\b d\"e f\"g h" << "p" << words({"a\\\\\\b", "de fg", "h"}) << "a\\\\\\b d\"e f\"g h";
        QTest::newRow("odd backslashes escape the quote")
            << "p a\\\\\\\"b c d" << "p" << words({"a\\\"b", "c", "d"}) << "a\\\\\\\"b c d";
        QTest::newRow("even backslashes leave the quote grouping")
            << "p a\\\\\\\\\"b c\" d e" << "p" << words({"a\\\\b c", "d", "e"}) << "a\\\\\\\\\"b c\" d e";
        QTest::newRow("doubled quote inside quotes") << "p a\"b\"\" c d" << "p" << words({"ab\" c d"}) << "a\"b\"\" c d";
        QTest::newRow("empty quotes are empty words") << "p \"\" x \"\"" << "p" << words({"", "x", ""}) << "\"\" x \"\"";
        QTest::newRow("quotes inside a word join it") << "p a\"\"b" << "p" << words({"ab"}) << "a\"\"b";
        QTest::newRow("argument quote left open") << "p \"a  b" << "p" << words({"a  b"}) << "\"a  b";
        QTest::newRow("trailing backslash") << "p E:\\ x\\" << "p" << words({"E:\\", "x\\"}) << "E:\\ x\\";
    }

    void splitsAsWindowsDoes()
    {
        QFETCH(QString, commandLine);
        const CommandLine parsed = parseCommandLine(commandLine);
        QTEST(parsed.program, "program");
        QTEST(parsed.arguments, "arguments");
        QTEST(parsed.rest, "rest");
    }

    void startsTheProgramTheLineNames_data()
    {
        QTest::addColumn<QString>("commandLine");   // %D: the disc's folder
        QTest::addColumn<QString>("current");       // made the current folder of E: first; empty: none
        QTest::addColumn<int>("windowStyle");
        QTest::addColumn<QString>("program");       // %D as above, %B and %S: the folders on PATH
        QTest::addColumn<QStringList>("arguments"); // likewise

        const QString none;
        const QStringList noArgs;
        QTest::newRow("drive path with blanks, other case") << "E:\\MY REC.SH" << none << 1 << "%D/my rec.sh" << noArgs;
        QTest::newRow("quoted program with arguments")
            << "\"%D/my rec.sh\" one \"two three\"" << none << 2 << "%D/my rec.sh" << words({"one", "two three"});
        QTest::newRow("forward slashes on a drive")
            << "e:/Tools/REC.sh a b" << none << 1 << "%D/tools/rec.sh" << words({"a", "b"});
        // No shell in between: nothing is expanded, nothing is a second command.
        QTest::newRow("arguments reach the program untouched")
            << "E:\\tools\\rec.sh \"ab\\\"c\" \"\\\\\" a\\\\\\b \"\" d\"e f\"g $HOME;*&`id`" << none << 1
            << "%D/tools/rec.sh" << words({"ab\"c", "\\", "a\\\\\\b", "", "de fg", "$HOME;*&`id`"});
        QTest::newRow("a whole line naming a file wins over splitting")
            << "E:\\tools\\rec.sh two" << none << 1 << "%D/tools/rec.sh two" << noArgs;
        QTest::newRow("the same line split when it names no file")
            << "E:\\tools\\rec.sh one" << none << 1 << "%D/tools/rec.sh" << words({"one"});
        QTest::newRow("bare name in the current folder of the drive")
            << "rec.sh x" << "E:\\tools" << 1 << "%D/tools/rec.sh" << words({"x"});
        QTest::newRow("bare name with blanks, as the chooser hands it over")
            << "my rec.sh" << "E:\\" << 1 << "%D/my rec.sh" << noArgs;
        QTest::newRow("a player started in its own folder")
            << "%D/my rec.sh" << "E:\\Tools" << 1 << "%D/my rec.sh" << noArgs;

        QTest::newRow("PATH: found in the second folder")
            << "tarvic-second a" << none << 2 << "%S/tarvic-second" << words({"a"});
        QTest::newRow("PATH: first match wins") << "tarvic-first" << none << 1 << "%B/tarvic-first" << noArgs;
        QTest::newRow("PATH: a file without execute permission is passed over")
            << "tarvic-data" << none << 1 << "%S/tarvic-data" << noArgs;
        QTest::newRow("PATH: a folder is passed over") << "tarvic-folder" << none << 1 << "%S/tarvic-folder" << noArgs;
        QTest::newRow("PATH: the current folder comes first")
            << "tarvic-here" << "E:\\tools" << 1 << "%D/tools/tarvic-here" << noArgs;

        const QStringList minimised = words({"start", "/min", "/unix", "%D/setup.exe"});
        QTest::newRow("wine: normal window") << "E:\\Setup.exe" << none << 1 << "%B/wine" << words({"%D/setup.exe"});
        QTest::newRow("wine: normal window with arguments")
            << "E:\\setup.exe /s \"a b\"" << none << 1 << "%B/wine" << words({"%D/setup.exe", "/s", "a b"});
        QTest::newRow("wine: minimised") << "E:\\setup.exe" << none << 2 << "%B/wine" << minimised;
        QTest::newRow("wine: minimised with arguments")
            << "\"E:\\setup.exe\" -x \"\"" << none << 2 << "%B/wine" << minimised + words({"-x", ""});
        QTest::newRow("wine: bare name in the current folder") << "SETUP.EXE" << "E:" << 2 << "%B/wine" << minimised;

        // The drive's current folder is not its root: "explorer E:" still opens the root.
        const QString sub = u"E:\\tools"_s;
        const QString opener = u"%B/xdg-open"_s;
        QTest::newRow("explorer: drive, as the chooser asks") << "explorer E:" << sub << 1 << opener << words({"%D"});
        QTest::newRow("explorer: drive with backslash") << "explorer E:\\" << sub << 1 << opener << words({"%D"});
        QTest::newRow("explorer: folder, other case")
            << "EXPLORER.EXE e:\\TOOLS" << none << 1 << opener << words({"%D/tools"});
        QTest::newRow("explorer: quoted folder with blanks")
            << "Explorer \"E:\\my tools\"" << none << 1 << opener << words({"%D/my tools"});
        QTest::newRow("explorer: unquoted folder with blanks")
            << "explorer E:\\my tools" << none << 1 << opener << words({"%D/my tools"});
        QTest::newRow("explorer: nothing named, the current folder")
            << "explorer" << sub << 1 << opener << words({"%D/tools"});
    }

    void startsTheProgramTheLineNames()
    {
        QFETCH(QString, commandLine);
        QFETCH(QString, current);
        QFETCH(int, windowStyle);
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);

        Rig rig;
        if (!current.isEmpty()) {
            rig.env.paths().ChDir(current);
            rig.env.paths().ChDrive(u"E:"_s);
        }
        SystemStarter starter(rig.env.paths());
        starter.start(rig.expand(commandLine), windowStyle);
        QVERIFY(noChildLeft());

        const QStringList r = readRecord(rig.out);
        QVERIFY2(r.size() >= 8, "the program did not run");
        // In our current folder, wherever the program lies.
        QCOMPARE(r[0], canonical(QDir::currentPath()));
        QCOMPARE(canonical(r[1]), canonical(rig.expand(program)));
        for (QString &a : arguments)
            a = rig.expand(a);
        QCOMPARE(canonicalPaths(r.mid(2, r.size() - 8)), canonicalPaths(arguments));

        const QStringList inherited = r.mid(r.size() - 6);
        QCOMPARE(inherited.mid(0, 2), (QStringList{u"closed"_s, u"/dev/null"_s}));
        bool blockedOk = false, ignoredOk = false;
        QVERIFY2(!(inherited[2].toULongLong(&blockedOk, 16) & (1ull << (SIGUSR1 - 1))) && blockedOk,
                 qPrintable(inherited[2]));
        QVERIFY2(!(inherited[3].toULongLong(&ignoredOk, 16) & (1ull << (SIGUSR2 - 1))) && ignoredOk,
                 qPrintable(inherited[3]));
        // A session of its own: our terminal's hang-up does not end the player.
        QCOMPARE(inherited[5], inherited[4]);
        QVERIFY(inherited[4].toLongLong() != ::getsid(0));
    }

    void failedStartsCarryNumberAndReason_data()
    {
        QTest::addColumn<QString>("commandLine");
        QTest::addColumn<int>("windowStyle");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("description");  // the start of it, %D: the disc's folder

        QTest::newRow("missing file on a drive") << "E:\\nothing.sh a" << 1 << 53 << "File not found: E:\\nothing.sh (";
        QTest::newRow("missing file, whole line") << "E:\\no thing.sh" << 1 << 53 << "File not found: E:\\no (";
        QTest::newRow("bare name found nowhere")
            << "tarvic-no-such-program" << 2 << 53 << "File not found: tarvic-no-such-program (";
        QTest::newRow("drive without a disc") << "F:\\setup.exe" << 1 << 53 << "File not found: F:\\setup.exe (";
        QTest::newRow("missing interpreter")
            << "E:\\badbang.sh" << 1 << 53 << "File not found: the interpreter that %D/badbang.sh names (";
        QTest::newRow("no execute permission") << "E:\\noexec.sh" << 1 << 70 << "Permission denied: %D/noexec.sh (";
        QTest::newRow("no execute permission, split")
            << "E:\\NOEXEC.SH a b" << 2 << 70 << "Permission denied: %D/noexec.sh (";
        QTest::newRow("not a program")
            << "E:\\garbage.bin" << 1 << 5 << "Invalid procedure call or argument: %D/garbage.bin (";
        QTest::newRow("a folder") << "E:\\tools" << 1 << 5 << "Invalid procedure call or argument: E:\\tools (";
        QTest::newRow("empty") << "" << 1 << 5 << "Invalid procedure call or argument: the command line is empty";
        QTest::newRow("blanks only")
            << " \t  " << 1 << 5 << "Invalid procedure call or argument: the command line is empty";
        QTest::newRow("empty quoted program")
            << "\"\" a" << 1 << 5 << "Invalid procedure call or argument: the command line names no program";
        QTest::newRow("NUL inside") << u"E:\\tools\\rec.sh%1x"_s.arg(QChar(0)) << 1 << 5
                                    << "Invalid procedure call or argument: the command line holds a NUL";
        QTest::newRow("unknown window style")
            << "E:\\tools\\rec.sh" << 3 << 5 << "Invalid procedure call or argument: window style 3";
        QTest::newRow("Windows program without wine")
            << "E:\\setup.exe /s" << 2 << 5 << "Wine is needed to start the Windows program %D/setup.exe";
        QTest::newRow("Windows program without wine, whole line")
            << "E:\\SETUP.EXE" << 1 << 5 << "Wine is needed to start the Windows program %D/setup.exe";
        QTest::newRow("explorer on a missing folder")
            << "explorer E:\\nowhere" << 1 << 76 << "Path not found: E:\\nowhere";
        QTest::newRow("explorer on a file") << "explorer E:\\setup.exe" << 1 << 76 << "Path not found: E:\\setup.exe";
        QTest::newRow("explorer on a drive without a disc") << "explorer F:" << 1 << 71 << "Disk not ready: drive F:";
        QTest::newRow("explorer on a drive not in the map") << "explorer G:" << 1 << 68 << "Device unavailable: ";
        QTest::newRow("explorer without xdg-open")
            << "explorer E:" << 1 << 5 << "xdg-open is needed to open E:\\ in the file";
    }

    void failedStartsCarryNumberAndReason()
    {
        QFETCH(QString, commandLine);
        QFETCH(int, windowStyle);
        QFETCH(int, number);
        QFETCH(QString, description);

        Rig rig;
        qputenv("PATH", QFile::encodeName(rig.env.newFolder(u"nothing"_s)));   // not even wine or xdg-open
        SystemStarter starter(rig.env.paths());
        try {
            starter.start(commandLine, windowStyle);
            QFAIL("the start did not fail");
        } catch (const RuntimeError &e) {
            const QString expected = rig.expand(description);
            QVERIFY2(e.description().startsWith(expected), qPrintable(e.description()));
            QCOMPARE(e.number(), number);
            // The system's own reason closes every description of a refused start.
            if (description.endsWith(QLatin1Char('(')))
                QVERIFY2(e.description().endsWith(QLatin1Char(')')) && e.description().size() > expected.size() + 1,
                         qPrintable(e.description()));
        }
        QVERIFY(noChildLeft());
        QTest::qWait(50);
        QVERIFY(!QFile::exists(rig.out));
    }
};

QTEST_GUILESS_MAIN(StarterTest)
#include "test_starter.moc"
