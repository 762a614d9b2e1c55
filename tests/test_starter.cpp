// Starting programs for real: small recording scripts in temporary folders stand
// for the players, the disc's programs, wine and xdg-open.
#include "platform/command_line.h"
#include "platform/runtime_error.h"
#include "platform/system_starter.h"
#include "support/test_env.h"

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

namespace {

const int waitMs = 10000;

void writeFile(const QString &path, const QByteArray &content, QFile::Permissions permissions)
{
    touch(path, content);
    if (!QFile::setPermissions(path, permissions))
        qFatal("cannot set the permissions of %s", qPrintable(path));
}

const QFile::Permissions executable = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
                                    | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
const QFile::Permissions plain = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;

// A program that writes where it ran, its $0 and its arguments (one per line, in
// brackets) to `out`, all at once so a reader never sees half of it. `extra` lines
// of shell add to the record.
void writeRecorder(const QString &path, const QString &out, const QByteArray &extra = {})
{
    const QByteArray o = QFile::encodeName(out);
    writeFile(path,
              "#!/bin/sh\n"
              "PATH=/usr/bin:/bin\n"
              "export PATH\n"
              "{\n"
              "  pwd -P\n"
              "  printf '%s\\n' \"$0\"\n"
              "  printf '%s\\n' \"$#\"\n"
              "  for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done\n"
                  + extra + "} > '" + o + ".part' && mv '" + o + ".part' '" + o + "'\n",
              executable);
}

struct Record
{
    QString cwd;
    QString argv0;
    QStringList args;
    QStringList extra;
};

Record readRecord(const QString &out)
{
    QFile f(out);
    Record r;
    if (!f.open(QIODevice::ReadOnly))
        return r;
    QStringList lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    if (lines.size() < 3)
        return r;
    r.cwd = lines.takeFirst();
    r.argv0 = lines.takeFirst();
    const int n = lines.takeFirst().toInt();
    for (int i = 0; i < n && !lines.isEmpty(); ++i) {
        const QString a = lines.takeFirst();
        r.args << a.mid(1, a.size() - 2);
    }
    r.extra = lines;
    return r;
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

} // namespace

class StarterTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void splitsAsWindowsDoes_data();
    void splitsAsWindowsDoes();
    void programsGetTheirArgumentsAndFolder_data();
    void programsGetTheirArgumentsAndFolder();
    void bareNamesAreSearchedOnPath_data();
    void bareNamesAreSearchedOnPath();
    void failedStartsCarryNumberAndReason_data();
    void failedStartsCarryNumberAndReason();
    void windowsProgramsGoThroughWine_data();
    void windowsProgramsGoThroughWine();
    void explorerOpensTheFolderInTheFileManager_data();
    void explorerOpensTheFolderInTheFileManager();
    void startedProgramsInheritNoOddities();
    void noChildIsLeftBehind_data();
    void noChildIsLeftBehind();

private:
    QByteArray m_path;
};

void StarterTest::init()
{
    m_path = qgetenv("PATH");
}

void StarterTest::cleanup()
{
    qputenv("PATH", m_path);
}

void StarterTest::splitsAsWindowsDoes_data()
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
    QTest::newRow("drive path") << "E:\\tools\\rec.sh arg" << "E:\\tools\\rec.sh" << words({"arg"}) << "arg";
}

void StarterTest::splitsAsWindowsDoes()
{
    QFETCH(QString, commandLine);
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(QString, rest);
    const CommandLine parsed = parseCommandLine(commandLine);
    QCOMPARE(parsed.program, program);
    QCOMPARE(parsed.arguments, arguments);
    QCOMPARE(parsed.rest, rest);
}

void StarterTest::programsGetTheirArgumentsAndFolder_data()
{
    QTest::addColumn<QString>("commandLine");   // %D: the disc's folder
    QTest::addColumn<QString>("currentFolder"); // made current on E: first; empty: none
    QTest::addColumn<QString>("program");       // under the disc
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("cwd");           // under the disc; empty: the test's own

    QTest::newRow("name with blanks, unquoted") << "%D/my rec.sh" << "" << "my rec.sh" << QStringList() << "";
    QTest::newRow("drive path with blanks, other case") << "E:\\MY REC.SH" << "" << "my rec.sh" << QStringList() << "";
    QTest::newRow("quoted program with arguments")
        << "\"%D/my rec.sh\" one \"two three\"" << "" << "my rec.sh" << words({"one", "two three"}) << "";
    QTest::newRow("drive path and argument") << "E:\\tools\\rec.sh arg" << "" << "tools/rec.sh" << words({"arg"})
                                             << "";
    QTest::newRow("forward slashes on a drive") << "e:/Tools/REC.sh a b" << "" << "tools/rec.sh" << words({"a", "b"})
                                                << "";
    QTest::newRow("quotes and backslashes reach the program")
        << "E:\\tools\\rec.sh \"ab\\\"c\" \"\\\\\" a\\\\\\b \"\" d\"e f\"g"
        << "" << "tools/rec.sh" << words({"ab\"c", "\\", "a\\\\\\b", "", "de fg"}) << "";
    QTest::newRow("a whole line naming a file wins over splitting")
        << "E:\\tools\\rec.sh arg" << "" << "tools/rec.sh arg" << QStringList() << "";
    QTest::newRow("bare name in the current folder of the drive")
        << "rec.sh x" << "E:\\tools" << "tools/rec.sh" << words({"x"}) << "tools";
    QTest::newRow("bare name with blanks, as the chooser hands it over")
        << "my rec.sh" << "E:\\" << "my rec.sh" << QStringList() << "";
    QTest::newRow("a player started in its own folder")
        << "%D/my rec.sh" << "E:\\Tools" << "my rec.sh" << QStringList() << "tools";
}

void StarterTest::programsGetTheirArgumentsAndFolder()
{
    QFETCH(QString, commandLine);
    QFETCH(QString, currentFolder);
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(QString, cwd);

    TestEnv env;
    const QString disc = env.newFolder(QStringLiteral("disc"));
    const QString out = env.configHome() + QStringLiteral("/record");
    writeRecorder(disc + QStringLiteral("/my rec.sh"), out);
    writeRecorder(disc + QStringLiteral("/tools/rec.sh"), out);
    if (program == QLatin1String("tools/rec.sh arg"))
        writeRecorder(disc + QStringLiteral("/tools/rec.sh arg"), out);
    env.mapDrive(QLatin1Char('e'), disc);
    if (!currentFolder.isEmpty()) {
        env.paths().ChDir(currentFolder);
        env.paths().ChDrive(QStringLiteral("E:"));
    }
    SystemStarter starter(env.paths());
    starter.start(QString(commandLine).replace(QStringLiteral("%D"), disc), WindowStyle::Normal);

    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(out), waitMs);
    const Record r = readRecord(out);
    QCOMPARE(canonical(r.argv0), canonical(disc + QLatin1Char('/') + program));
    QCOMPARE(r.args, arguments);
    QCOMPARE(r.cwd, cwd.isEmpty() ? canonical(QDir::currentPath()) : canonical(disc + QLatin1Char('/') + cwd));
}

void StarterTest::bareNamesAreSearchedOnPath_data()
{
    QTest::addColumn<QString>("inFirst");     // what the first PATH folder holds under the name
    QTest::addColumn<bool>("inCurrent");      // a recorder of that name in the current folder too
    QTest::addColumn<QString>("expected");    // which one runs: first, second, current

    QTest::newRow("found in the second folder") << "nothing" << false << "second";
    QTest::newRow("first match wins") << "program" << false << "first";
    QTest::newRow("a file without execute permission is passed over") << "data" << false << "second";
    QTest::newRow("a folder is passed over") << "folder" << false << "second";
    QTest::newRow("the current folder comes before PATH") << "program" << true << "current";
}

void StarterTest::bareNamesAreSearchedOnPath()
{
    QFETCH(QString, inFirst);
    QFETCH(bool, inCurrent);
    QFETCH(QString, expected);

    TestEnv env;
    const QString first = env.newFolder(QStringLiteral("bin1"));
    const QString second = env.newFolder(QStringLiteral("bin2"));
    const QString here = env.newFolder(QStringLiteral("here"));
    const QString out = env.configHome() + QStringLiteral("/record");
    const QString name = QStringLiteral("tarvic-test-recorder");
    writeRecorder(second + QLatin1Char('/') + name, out);
    if (inFirst == QLatin1String("program"))
        writeRecorder(first + QLatin1Char('/') + name, out);
    else if (inFirst == QLatin1String("data"))
        writeFile(first + QLatin1Char('/') + name, "#!/bin/sh\n", plain);
    else if (inFirst == QLatin1String("folder"))
        makeFolder(first + QLatin1Char('/') + name);
    if (inCurrent)
        writeRecorder(here + QLatin1Char('/') + name, out);
    QVERIFY(QDir::setCurrent(here));
    qputenv("PATH", QFile::encodeName(first + QStringLiteral("::") + second));

    SystemStarter starter(env.paths());
    starter.start(name + QStringLiteral(" a"), WindowStyle::Minimised);

    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(out), waitMs);
    const Record r = readRecord(out);
    const QString folder = expected == QLatin1String("first") ? first : expected == QLatin1String("second") ? second : here;
    QCOMPARE(canonical(r.argv0), canonical(folder + QLatin1Char('/') + name));
    QCOMPARE(r.args, QStringList{QStringLiteral("a")});
}

void StarterTest::failedStartsCarryNumberAndReason_data()
{
    QTest::addColumn<QString>("commandLine");  // %D: the disc's folder
    QTest::addColumn<int>("windowStyle");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("description");  // the start of it, %D as above

    QTest::newRow("missing file on a drive") << "E:\\nothing.sh a" << 1 << 53 << "File not found: E:\\nothing.sh (";
    QTest::newRow("missing file, whole line") << "E:\\no thing.sh" << 1 << 53 << "File not found: E:\\no (";
    QTest::newRow("bare name found nowhere") << "tarvic-no-such-program" << 2 << 53
                                             << "File not found: tarvic-no-such-program (";
    QTest::newRow("drive without a disc") << "F:\\setup.exe" << 1 << 53 << "File not found: F:\\setup.exe (";
    QTest::newRow("missing interpreter") << "E:\\badbang.sh" << 1 << 53
                                         << "File not found: the interpreter that %D/badbang.sh names (";
    QTest::newRow("no execute permission") << "E:\\noexec.sh" << 1 << 70 << "Permission denied: %D/noexec.sh (";
    QTest::newRow("no execute permission, with arguments")
        << "E:\\NOEXEC.SH a b" << 2 << 70 << "Permission denied: %D/noexec.sh (";
    QTest::newRow("not a program") << "E:\\garbage.bin" << 1 << 5
                                   << "Invalid procedure call or argument: %D/garbage.bin (";
    QTest::newRow("a folder") << "E:\\tools" << 1 << 5 << "Invalid procedure call or argument: E:\\tools (";
    QTest::newRow("a folder with arguments") << "E:\\tools a" << 1 << 5 << "Invalid procedure call or argument: E:\\tools (";
    QTest::newRow("empty") << "" << 1 << 5 << "Invalid procedure call or argument: the command line is empty";
    QTest::newRow("blanks only") << " \t  " << 1 << 5 << "Invalid procedure call or argument: the command line is empty";
    QTest::newRow("empty quoted program") << "\"\" a" << 1 << 5
                                          << "Invalid procedure call or argument: the command line names no program";
    QTest::newRow("NUL inside") << QStringLiteral("E:\\tools\\rec.sh%1x").arg(QChar(0)) << 1 << 5
                                << "Invalid procedure call or argument: the command line holds a NUL";
    QTest::newRow("unknown window style") << "E:\\tools\\rec.sh" << 3 << 5
                                          << "Invalid procedure call or argument: window style 3";
    QTest::newRow("Windows program without wine") << "E:\\setup.exe /s" << 2 << 5
                                                  << "Wine is needed to start the Windows program %D/setup.exe";
    QTest::newRow("Windows program without wine, whole line") << "E:\\SETUP.EXE" << 1 << 5
                                                              << "Wine is needed to start the Windows program %D/setup.exe";
    QTest::newRow("explorer on a missing folder") << "explorer E:\\nowhere" << 1 << 76 << "Path not found: E:\\nowhere";
    QTest::newRow("explorer on a file") << "explorer E:\\setup.exe" << 1 << 76 << "Path not found: E:\\setup.exe";
    QTest::newRow("explorer on a drive without a disc") << "explorer F:" << 1 << 71 << "Disk not ready: drive F:";
    QTest::newRow("explorer on a drive not in the map") << "explorer G:" << 1 << 68 << "Device unavailable: ";
    QTest::newRow("explorer without xdg-open") << "explorer E:" << 1 << 5 << "xdg-open is needed to open E:\\ in the file";
}

void StarterTest::failedStartsCarryNumberAndReason()
{
    QFETCH(QString, commandLine);
    QFETCH(int, windowStyle);
    QFETCH(int, number);
    QFETCH(QString, description);

    TestEnv env;
    const QString disc = env.newFolder(QStringLiteral("disc"));
    const QString out = env.configHome() + QStringLiteral("/record");
    writeRecorder(disc + QStringLiteral("/tools/rec.sh"), out);
    writeFile(disc + QStringLiteral("/badbang.sh"), "#!/nonexistent/tarvic-shell\n", executable);
    writeFile(disc + QStringLiteral("/noexec.sh"), "#!/bin/sh\ntouch '" + QFile::encodeName(out) + "'\n", plain);
    writeFile(disc + QStringLiteral("/garbage.bin"), "just some text, no program\n", executable);
    writeFile(disc + QStringLiteral("/setup.exe"), QByteArray("MZ\x90\0\3\0\0\0", 8), executable);
    env.mapDrive(QLatin1Char('e'), disc);
    env.mapDrive(QLatin1Char('f'), env.newFolder(QStringLiteral("empty")));
    // Neither wine nor xdg-open, nor any program of the rows' names.
    qputenv("PATH", QFile::encodeName(env.newFolder(QStringLiteral("bin"))));

    SystemStarter starter(env.paths());
    try {
        starter.start(commandLine, windowStyle);
        QFAIL("the start did not fail");
    } catch (const RuntimeError &e) {
        const QString expected = QString(description).replace(QStringLiteral("%D"), disc);
        QVERIFY2(e.description().startsWith(expected), qPrintable(e.description()));
        QCOMPARE(e.number(), number);
        // The system's own reason closes every description of a refused start.
        if (description.endsWith(QLatin1Char('(')))
            QVERIFY2(e.description().endsWith(QLatin1Char(')')) && e.description().size() > expected.size() + 1,
                     qPrintable(e.description()));
    }
    QTest::qWait(50);
    QVERIFY(!QFile::exists(out));
}

void StarterTest::windowsProgramsGoThroughWine_data()
{
    QTest::addColumn<QString>("commandLine");
    QTest::addColumn<int>("windowStyle");
    QTest::addColumn<QStringList>("wineArguments");   // %P: the program's real path

    QTest::newRow("normal window") << "E:\\Setup.exe" << 1 << words({"%P"});
    QTest::newRow("normal window with arguments") << "E:\\setup.exe /s \"a b\"" << 1 << words({"%P", "/s", "a b"});
    QTest::newRow("minimised") << "E:\\setup.exe" << 2 << words({"start", "/min", "/unix", "%P"});
    QTest::newRow("minimised with arguments")
        << "\"E:\\setup.exe\" -x \"\"" << 2 << words({"start", "/min", "/unix", "%P", "-x", ""});
    QTest::newRow("bare name in the current folder") << "SETUP.EXE" << 2 << words({"start", "/min", "/unix", "%P"});
}

void StarterTest::windowsProgramsGoThroughWine()
{
    QFETCH(QString, commandLine);
    QFETCH(int, windowStyle);
    QFETCH(QStringList, wineArguments);

    TestEnv env;
    const QString disc = env.newFolder(QStringLiteral("disc"));
    // No execute permission: wine does not need it.
    writeFile(disc + QStringLiteral("/setup.exe"), QByteArray("MZ\x90\0\3\0\0\0", 8), plain);
    env.mapDrive(QLatin1Char('e'), disc);
    env.paths().ChDir(QStringLiteral("E:"));
    env.paths().ChDrive(QStringLiteral("E:"));
    const QString bin = env.newFolder(QStringLiteral("bin"));
    const QString out = env.configHome() + QStringLiteral("/record");
    writeRecorder(bin + QStringLiteral("/wine"), out);
    qputenv("PATH", QFile::encodeName(bin));

    SystemStarter starter(env.paths());
    starter.start(commandLine, windowStyle);

    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(out), waitMs);
    const Record r = readRecord(out);
    QCOMPARE(r.argv0, bin + QStringLiteral("/wine"));
    QStringList expected = wineArguments;
    expected.replaceInStrings(QStringLiteral("%P"), disc + QStringLiteral("/setup.exe"));
    QCOMPARE(r.args, expected);
    QCOMPARE(r.cwd, canonical(disc));
}

void StarterTest::explorerOpensTheFolderInTheFileManager_data()
{
    QTest::addColumn<QString>("commandLine");
    QTest::addColumn<QString>("folder");   // under the disc

    QTest::newRow("drive, as the chooser asks") << "explorer E:" << "";
    QTest::newRow("drive with backslash") << "explorer E:\\" << "";
    QTest::newRow("folder, other case") << "EXPLORER.EXE e:\\SUB" << "sub";
    QTest::newRow("quoted folder with blanks") << "Explorer \"E:\\my sub\"" << "my sub";
    QTest::newRow("unquoted folder with blanks") << "explorer E:\\my sub" << "my sub";
    QTest::newRow("nothing named: the current folder") << "explorer" << "sub";
}

void StarterTest::explorerOpensTheFolderInTheFileManager()
{
    QFETCH(QString, commandLine);
    QFETCH(QString, folder);

    TestEnv env;
    const QString disc = env.newFolder(QStringLiteral("disc"));
    makeFolder(disc + QStringLiteral("/sub"));
    makeFolder(disc + QStringLiteral("/my sub"));
    env.mapDrive(QLatin1Char('e'), disc);
    // The drive's current folder is not its root: "explorer E:" still opens the root.
    env.paths().ChDir(QStringLiteral("E:\\sub"));
    env.paths().ChDrive(QStringLiteral("E:"));
    const QString bin = env.newFolder(QStringLiteral("bin"));
    const QString out = env.configHome() + QStringLiteral("/record");
    writeRecorder(bin + QStringLiteral("/xdg-open"), out);
    qputenv("PATH", QFile::encodeName(bin));

    SystemStarter starter(env.paths());
    starter.start(commandLine, WindowStyle::Normal);

    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(out), waitMs);
    const Record r = readRecord(out);
    QCOMPARE(r.argv0, bin + QStringLiteral("/xdg-open"));
    QCOMPARE(r.args.size(), 1);
    QCOMPARE(canonical(r.args.first()), canonical(disc + QLatin1Char('/') + folder));
}

void StarterTest::startedProgramsInheritNoOddities()
{
    TestEnv env;
    const QString disc = env.newFolder(QStringLiteral("disc"));
    const QString out = env.configHome() + QStringLiteral("/record");

    // A descriptor without close-on-exec, a blocked and an ignored signal: none of
    // them may reach the program.
    const int plainFd = ::open("/dev/null", O_RDONLY);
    const int leaked = ::fcntl(plainFd, F_DUPFD, 50);
    ::close(plainFd);
    QVERIFY(leaked >= 50);
    sigset_t block, old;
    sigemptyset(&block);
    sigaddset(&block, SIGUSR1);
    QCOMPARE(::pthread_sigmask(SIG_BLOCK, &block, &old), 0);
    const auto oldUsr2 = std::signal(SIGUSR2, SIG_IGN);

    writeRecorder(disc + QStringLiteral("/rec.sh"), out,
                  "  if [ -e /proc/$$/fd/" + QByteArray::number(leaked) + " ]; then echo leaked; else echo closed; fi\n"
                  "  readlink /proc/$$/fd/0\n"
                  // Builtins only: the shell blocks every signal while it forks,
                  // so a forked reader could catch that passing mask.
                  "  while read -r k v; do case $k in SigBlk:|SigIgn:) echo \"$v\";; esac; done < /proc/$$/status\n"
                  "  echo $$\n"
                  "  cut -d' ' -f6 /proc/$$/stat\n");
    env.mapDrive(QLatin1Char('e'), disc);
    env.paths().ChDrive(QStringLiteral("E:"));
    SystemStarter starter(env.paths());
    starter.start(QStringLiteral("rec.sh"), WindowStyle::Normal);

    ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
    std::signal(SIGUSR2, oldUsr2);
    ::close(leaked);

    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(out), waitMs);
    const Record r = readRecord(out);
    QCOMPARE(r.cwd, canonical(disc));
    QCOMPARE(r.extra.size(), 6);
    QCOMPARE(r.extra.at(0), QStringLiteral("closed"));
    QCOMPARE(r.extra.at(1), QStringLiteral("/dev/null"));
    bool ok = false;
    const qulonglong blocked = r.extra.at(2).toULongLong(&ok, 16);
    QVERIFY(ok);
    QVERIFY2(!(blocked & (1ull << (SIGUSR1 - 1))), qPrintable(r.extra.at(2)));
    const qulonglong ignored = r.extra.at(3).toULongLong(&ok, 16);
    QVERIFY(ok);
    QVERIFY2(!(ignored & (1ull << (SIGUSR2 - 1))), qPrintable(r.extra.at(3)));
    // A session of its own: our terminal's hang-up does not end the player.
    QCOMPARE(r.extra.at(5).trimmed(), r.extra.at(4).trimmed());
    QVERIFY(r.extra.at(4).trimmed().toLongLong() != ::getsid(0));
}

void StarterTest::noChildIsLeftBehind_data()
{
    QTest::addColumn<QString>("commandLine");
    QTest::addColumn<bool>("starts");

    QTest::newRow("a started program") << "E:\\rec.sh" << true;
    QTest::newRow("a start that exec refused") << "E:\\noexec.sh" << false;
    QTest::newRow("a start that failed before fork") << "E:\\missing.sh" << false;
}

void StarterTest::noChildIsLeftBehind()
{
    QFETCH(QString, commandLine);
    QFETCH(bool, starts);

    TestEnv env;
    const QString disc = env.newFolder(QStringLiteral("disc"));
    const QString out = env.configHome() + QStringLiteral("/record");
    writeRecorder(disc + QStringLiteral("/rec.sh"), out, "  sleep 1\n");
    writeFile(disc + QStringLiteral("/noexec.sh"), "#!/bin/sh\n", plain);
    env.mapDrive(QLatin1Char('e'), disc);
    SystemStarter starter(env.paths());
    bool failed = false;
    try {
        starter.start(commandLine, WindowStyle::Minimised);
    } catch (const RuntimeError &) {
        failed = true;
    }
    QCOMPARE(failed, !starts);

    // The program may still run; it is no child of ours, and no zombie is.
    int status = 0;
    errno = 0;
    QCOMPARE(::waitpid(-1, &status, WNOHANG), pid_t(-1));
    QCOMPARE(errno, ECHILD);
    if (starts)
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(out), waitMs);
}

QTEST_GUILESS_MAIN(StarterTest)
#include "test_starter.moc"
