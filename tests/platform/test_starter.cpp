// Starting programs for real: one recording script stands for the players, the
// disc's programs, wine and xdg-open, and writes down where it ran, what it
// inherited, its $0 and its arguments.
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

static void put(const QString &path, const QByteArray &content, mode_t mode)
{
    touch(path, content);
    ::chmod(QFile::encodeName(path).constData(), mode);
}

// Under the returned root: drive E: (disc/) with E:\tools current; without a disc
// F: (an empty folder), G: (a missing folder) and H: (a device); and PATH a:b::c:d where a holds a data file, b a folder, c and d programs
// (c also wine and xdg-open).
static QString setUp(TestEnv &env)
{
    const QString root = QFileInfo(env.configHome()).canonicalFilePath() + u'/';
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
    for (const char *p : {"disc/setup.exe", "disc/C:\\x.exe"})
        put(root + QLatin1StringView(p), "MZ\x90\0"_ba, 0644);   // wine needs no execute permission
    // A shell that ran either anyway would leave the record.
    put(root + u"disc/noexec.sh"_s, "#!/bin/sh\n: >" + out + "\n", 0644);
    put(root + u"disc/garbage.sh"_s, ": >" + out + "\n", 0755);
    put(root + u"disc/badbang.sh"_s, "#!/nonexistent/shell\n", 0755);
    env.mapDrive(u'e', root + u"disc"_s);
    env.mapDrive(u'f', root + u"empty"_s);
    makeFolder(root + u"empty"_s);
    env.mapDrive(u'g', root + u"gone"_s);
    env.mapDevice(u'h', root + u"sr9"_s);   // no node: the device layer reports no disc
    env.paths().ChDir(u"E:\\tools"_s);
    env.paths().ChDrive(u"E:"_s);
    qputenv("PATH", QFile::encodeName(u"%1a:%1b::%1c:%1d"_s.arg(root)));
    return root;
}

class StarterTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // What no started program may inherit: a stdin other than /dev/null, descriptors 77
    // and 200 without close-on-exec (200 above the open-file limit, which a lowered
    // soft limit leaves open), a blocked SIGUSR1, an ignored SIGUSR2.
    void initTestCase()
    {
        QVERIFY(::dup2(::open("/dev/zero", O_RDONLY), 77) == 77 && ::dup2(77, 0) == 0 && ::dup2(77, 200) == 200);
        rlimit files {};
        QVERIFY(::getrlimit(RLIMIT_NOFILE, &files) == 0);
        files.rlim_cur = 64;
        QVERIFY(::setrlimit(RLIMIT_NOFILE, &files) == 0);
        sigset_t usr1 {};
        sigaddset(&usr1, SIGUSR1);
        QVERIFY(::pthread_sigmask(SIG_BLOCK, &usr1, nullptr) == 0 && std::signal(SIGUSR2, SIG_IGN) != SIG_ERR);
    }

    void startsWhatTheLineNames_data()
    {
        QTest::addColumn<QString>("commandLine");   // %R: the root of setUp; [path]: that file as itself
        QTest::addColumn<int>("windowStyle");
        QTest::addColumn<QString>("expected");      // $0 and the arguments, or the error number and description, "|" between

        QTest::newRow("quoted program; quotes group, \"\" is a word, an open quote runs on")
            << "\"%Rdisc/tools/my rec.sh\" \"a b\" \"\" x\"y z\"w \"c  d" << 2 << "%Rdisc/tools/my rec.sh|a b||xy zw|c  d";
        QTest::newRow("backslashes count only before a quote")
            << "E:\\tools\\rec.sh a\\\\b a\\\\\\\"b a\\\\\\\\\"b c\"" << 1 << "%Rdisc/tools/rec.sh|a\\\\b|a\\\"b|a\\\\b c";
        QTest::newRow("a doubled quote inside quotes") << "E:\\tools\\rec.sh a\"b\"\" c d" << 1 << "%Rdisc/tools/rec.sh|ab\" c d";
        QTest::newRow("no shell") << "E:\\tools\\rec.sh $HOME;*&`id`>y 'a b'" << 1 << "%Rdisc/tools/rec.sh|$HOME;*&`id`>y|'a|b'";
        QTest::newRow("a whole line naming a file is not split") << "E:\\TOOLS\\REC.SH TWO" << 1 << "%Rdisc/tools/rec.sh two";
        QTest::newRow("a bare name with blanks in the current folder") << "my rec.sh" << 1 << "%Rdisc/tools/my rec.sh";
        QTest::newRow("PATH: a data file and a folder passed over, the first program wins") << "tarvic-p a" << 1 << "%Rc/tarvic-p|a";
        QTest::newRow("the current folder before PATH") << "tarvic-q" << 1 << "%Rdisc/tools/tarvic-q";
        QTest::newRow("wine, normal window") << "E:\\setup.exe /s \"a b\"" << 1 << "%Rc/wine|%Rdisc/setup.exe|/s|a b";
        QTest::newRow("wine, minimised") << "E:\\SETUP.EXE" << 2 << "%Rc/wine|start|/min|/unix|%Rdisc/setup.exe";
        QTest::newRow("a file as itself, its name no path") << "[%Rdisc/C:\\x.exe]" << 2 << "%Rc/wine|start|/min|/unix|%Rdisc/C:\\x.exe";
        QTest::newRow("a file as itself, blanks and all") << "[%Rdisc/tools/my rec.sh]" << 2 << "%Rdisc/tools/my rec.sh";
        QTest::newRow("explorer E: opens the root, not the current folder") << "explorer E:" << 1 << "%Rc/xdg-open|%Rdisc";
        QTest::newRow("EXPLORER.EXE, a folder with blanks in another case") << "EXPLORER.EXE e:\\MY TOOLS" << 1 << "%Rc/xdg-open|%Rdisc/my tools";
        QTest::newRow("explorer alone opens the current folder") << "explorer" << 1 << "%Rc/xdg-open|%Rdisc/tools";
        // The file manager says that a drive is empty; where there is no folder to show, nothing starts.
        QTest::newRow("explorer, no disc: the drive's folder") << "explorer F:" << 1 << "%Rc/xdg-open|%Rempty";
        QTest::newRow("explorer, the drive's folder is gone") << "explorer G:" << 1 << "nothing";
        QTest::newRow("explorer, a device drive without a disc") << "explorer h:\\setup" << 1 << "nothing";

        QTest::newRow("missing file") << "E:\\nothing.sh a" << 1 << "53|File not found: E:\\nothing.sh (No such file or directory)";
        QTest::newRow("missing interpreter")
            << "E:\\badbang.sh" << 1 << "53|File not found: the interpreter that %Rdisc/badbang.sh names (No such file or directory)";
        QTest::newRow("a data file") << "E:\\noexec.sh" << 1 << "5|Invalid procedure call or argument: %Rdisc/noexec.sh is not a program (it is not marked executable)";
        QTest::newRow("no program format")
            << "E:\\garbage.sh" << 1 << "5|Invalid procedure call or argument: %Rdisc/garbage.sh (Exec format error)";
        QTest::newRow("a folder") << "E:\\tools" << 1 << "5|Invalid procedure call or argument: E:\\tools (Is a directory)";
        QTest::newRow("empty") << " \t" << 1 << "5|Invalid procedure call or argument: the command line is empty";
        QTest::newRow("a Windows program without wine")
            << "E:\\setup.exe /s" << 2 << "5|Wine is needed to start the Windows program %Rdisc/setup.exe (there is no wine on PATH)";
        QTest::newRow("explorer, a missing folder") << "explorer E:\\nowhere" << 1 << "76|Path not found: E:\\nowhere";
        QTest::newRow("explorer, no such drive") << "explorer Q:" << 1 << "68|Device unavailable: there is no drive Q: in the drive map";
        QTest::newRow("explorer without xdg-open")
            << "explorer E:" << 1 << "5|xdg-open is needed to open E:\\ in the file manager (there is no xdg-open on PATH)";
    }

    void startsWhatTheLineNames()
    {
        QFETCH(QString, commandLine);
        QFETCH(int, windowStyle);
        QFETCH(QString, expected);
        TestEnv env;
        const QString root = setUp(env);
        if (expected.section(u'|', 0, 0).toInt())
            qputenv("PATH", "/nonexistent");   // failures meet no wine and no xdg-open
        QFile record(root + u"record"_s);
        QStringList got;
        try {
            commandLine.replace(u"%R"_s, root);
            if (commandLine.startsWith(u'['))
                SystemStarter(env.paths()).startProgram(QFile::encodeName(commandLine.mid(1).chopped(1)), windowStyle);
            else
                SystemStarter(env.paths()).start(commandLine, windowStyle);
            if (expected == u"nothing"_s) {
                QTest::qWait(200);
                QVERIFY(!record.exists());
                return;
            }
            QTRY_VERIFY_WITH_TIMEOUT(record.exists(), 10000);
            QVERIFY(record.open(QIODevice::ReadOnly));
            got = QString::fromUtf8(record.readAll()).chopped(1).split(u'\n');
            // Where it ran, then what it inherited: no signal blocked or ignored, stdin, its own session, no descriptor 77.
            QCOMPARE(got.takeFirst(), QDir::current().canonicalPath() + u" SigBlk:0000000000000000 SigIgn:0000000000000000 /dev/null leader"_s);
        } catch (const RuntimeError &e) {
            got = QStringList{QString::number(e.number()), e.description()};
            QTest::qWait(100);
            QVERIFY(!record.exists());
        }
        QVERIFY2(::waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD, "a child is left");
        QCOMPARE(got, expected.replace(u"%R"_s, root).split(u'|'));
    }
};

QTEST_GUILESS_MAIN(StarterTest)
#include "test_starter.moc"
