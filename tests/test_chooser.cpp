// The chooser window: what it lists, its state and layout, the keyboard and mouse,
// Run and Open drive, a disc put in late, an unreadable root.
#include "chooser/caption_label.h"
#include "chooser/file_list_box.h"
#include "chooser/frmtarvic.h"
#include "platform/system_starter.h"
#include "startup/maintarvic.h"
#include "samples/pe_writer.h"
#include "support/test_env.h"

#include <QtTest>
#include <QtWidgets>
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace tarvic;
using namespace tarvic::test;
using namespace tarvic::samples;
using namespace Qt::StringLiterals;

// A window on the folder drive E:, shown on the files it is given.
struct Chooser
{
    TestEnv env;
    QString disc = env.newFolder(u"disc"_s), drive = u"E:"_s;   // the window keeps a reference to the drive
    QPointer<frmTarvic> w;
    ProgramStarter *starter = &env.starter;
    Chooser() { env.mapDrive(u'e', disc); }
    ~Chooser() { delete w.data(); }
    bool open(const QStringList &files)
    {
        for (const QString &f : files)
            touch(disc + u'/' + f);
        w = new frmTarvic(drive, env.paths(), *starter, env.boxes);
        w->load();
        w->show();
        return QTest::qWaitForWindowActive(w);
    }
};

class ChooserTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // Which files are listed; at first nothing is chosen; each selection enables Run and
    // shows its icon. (The layout at many fonts: test_layout.)
    void listingAndSelection()
    {
        Chooser c;
        for (const auto &[name, colour] : {std::pair{u"/blue.exe"_s, Qt::blue}, std::pair{u"/RED.EXE"_s, Qt::red}})
            QVERIFY(writePe(c.disc + name, {.groups = {{.images = {dibIcon(drawIconImage(32, colour), 32)}, .name = {}}}}));
        QVERIFY(c.open({u"line\nbreak.exe"_s, u".hidden.exe"_s, u"a.txt"_s, u"folder.exe/inner.exe"_s}));
        frmTarvic &w = *c.w;
        QCOMPARE(w.EXElist->count(), 3);
        QCOMPARE(w.EXElist->item(0)->text() + u' ' + w.EXElist->item(2)->text(), u"blue.exe RED.EXE"_s);
        QVERIFY(!w.EXElist->item(1)->text().contains(u'\n'));   // one entry of one line
        QVERIFY(w.EXElist->selectedItems().isEmpty() && w.EXEIcon->pixmap().isNull());
        QVERIFY(!w.Run->isEnabled() && !w.EOR->isEnabled());
        for (int row : {0, 2, 0}) {
            w.EXElist->setCurrentRow(row);
            QVERIFY(w.Run->isEnabled() && w.EOR->isEnabled());
            QCOMPARE(w.EXEIcon->pixmap().toImage().pixelColor(8, 20), QColor(row == 0 ? Qt::blue : Qt::red));
        }
    }

    // A disc is untrusted: a link counts only while it leads to a file on the disc,
    // and a named pipe must neither be listed nor stall the listing.
    void linksAndPipesOnTheDisc()
    {
        Chooser c;
        const QString outside = c.env.newFolder(u"outside"_s);
        touch(outside + u"/evil.exe"_s);
        touch(c.disc + u"2/evil.exe"_s);   // beside the disc, its name begins with the disc's
        touch(c.disc + u"/real.exe"_s);
        QVERIFY(QFile::link(u"real.exe"_s, c.disc + u"/inside.exe"_s));
        QVERIFY(QFile::link(outside + u"/evil.exe"_s, c.disc + u"/outside.exe"_s));
        QVERIFY(QFile::link(c.disc + u"2/evil.exe"_s, c.disc + u"/sibling.exe"_s));
        QVERIFY(QFile::link(c.disc + u"/gone.exe"_s, c.disc + u"/dangling.exe"_s));
        QCOMPARE(::mkfifo(QFile::encodeName(c.disc + u"/pipe.exe"_s).constData(), 0644), 0);
        QVERIFY(c.open({}));
        QStringList shown;
        for (int i = 0; i < c.w->EXElist->count(); ++i)
            shown << c.w->EXElist->item(i)->text();
        QCOMPARE(shown, (QStringList{u"inside.exe"_s, u"real.exe"_s}));
    }

    // Names are bytes on a disc: "\\", "C:", ".." and bytes that are no UTF-8 are part of
    // the name, so each entry shows the icon of, and starts, its own file and no other.
    // The programs are Windows programs, so the start reaches a recording wine.
    void hostileNamesRunThemselves()
    {
        Chooser c;
        SystemStarter real(c.env.paths());
        c.starter = &real;
        const QByteArray disc = QFile::encodeName(c.disc), record = disc + "/../record";
        const QString bin = c.env.newFolder(u"bin"_s), oldPath = qEnvironmentVariable("PATH");
        touch(bin + u"/wine"_s, "#!/bin/sh\nprintf '%s\\n' \"$@\" >'" + record + ".part' && /bin/mv '" + record + ".part' '" + record + "'\n");
        QVERIFY(QFile::setPermissions(bin + u"/wine"_s, QFile::ReadOwner | QFile::ExeOwner));
        qputenv("PATH", QFile::encodeName(bin));
        const auto restorePath = qScopeGuard([&] { qputenv("PATH", QFile::encodeName(oldPath)); });
        const auto program = [](const QByteArray &path, QColor colour) {
            const QByteArray bytes = buildPe({.groups = {{.images = {dibIcon(drawIconImage(32, colour), 32)}, .name = {}}}});
            QFile f;
            const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            return fd >= 0 && f.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle) && f.write(bytes) == bytes.size();
        };
        // What the Windows rules would find instead: drive C:'s x.exe, sub/evil.exe, a folder C: of the disc.
        const QString otherDrive = c.env.newFolder(u"c"_s);
        c.env.mapDrive(u'c', otherDrive);
        makeFolder(c.disc + u"/sub"_s);
        makeFolder(c.disc + u"/C:"_s);
        for (const QString &decoy : {otherDrive + u"/x.exe"_s, c.disc + u"/sub/evil.exe"_s, c.disc + u"/C:/x.exe"_s})
            QVERIFY(program(QFile::encodeName(decoy), Qt::black));
        // In list order: by name without regard to case, bytes deciding between names shown alike.
        const QList<std::pair<QByteArray, QColor>> listed = {{"a\xfe.exe", Qt::magenta}, {"a\xff.exe", Qt::cyan},
                                                            {"C:\\x.exe", Qt::green}, {"setup\\..\\..\\x.exe", Qt::yellow},
                                                            {"sub\\evil.exe", Qt::blue}, {"x.exe", Qt::red}};
        const auto removeListed = qScopeGuard([&] {   // names that are no UTF-8 are beyond QTemporaryDir
            for (const auto &entry : listed)
                ::unlink(disc + '/' + entry.first);
        });
        for (const auto &[name, colour] : listed)
            QVERIFY(program(disc + '/' + name, colour));
        QVERIFY(c.open({}));
        QCOMPARE(c.w->EXElist->count(), listed.size());
        QFile ran(QFile::decodeName(record));
        for (int row = 0; row < listed.size(); ++row) {
            c.w->EXElist->setCurrentRow(row);
            QCOMPARE(c.w->EXEIcon->pixmap().toImage().pixelColor(8, 20), listed[row].second);
            c.w->Run->click();
            QTRY_VERIFY_WITH_TIMEOUT(ran.exists(), 10000);
            QVERIFY(ran.open(QIODevice::ReadOnly));
            QCOMPARE(ran.readAll().split('\n').at(3), disc + '/' + listed[row].first);
            ran.close();
            QVERIFY(ran.remove());
        }
        QVERIFY(c.env.boxes.shown.isEmpty());
        // Changed into a link off the disc after listing: the file is no longer there to run.
        QVERIFY(QFile::remove(c.disc + u"/x.exe"_s) && QFile::link(otherDrive + u"/x.exe"_s, c.disc + u"/x.exe"_s));
        c.w->Run->click();
        QCOMPARE(c.env.boxes.shown.value(0).text, u"Could not run the program 'x.exe'"_s);
        QTest::qWait(200);
        QVERIFY(!ran.exists());
    }

    // Keys go to the focused control; "click:N" and "dblclick:N" hit row N; "rm" removes a.exe.
    // The outcome: each start as "command line|window style", each box, "closed".
    void keyboardAndMouse_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QStringList>("outcome");
        // Run: minimised, in the drive's root, the name as it is (blanks unquoted).
        const QString a = u"a.exe|2 in the root"_s, b = u"B SETUP\n.EXE|2 in the root"_s, closed = u"closed"_s;
        QTest::newRow("Esc") << u"Esc"_s << QStringList{closed};
        QTest::newRow("Enter at first: Cancel") << u"Return"_s << QStringList{closed};
        QTest::newRow("before a selection") << u"Tab Tab Return Alt+R Alt+E click:0 Return"_s << QStringList{a};
        QTest::newRow("each Enter after a click runs") << u"click:0 Return Return"_s << QStringList{a, a};
        QTest::newRow("arrows select, Alt+R runs") << u"Tab Tab Down Down Alt+R"_s << QStringList{b};
        // Tabbed in, the first entry is marked but not chosen; each key chooses where it lands.
        QTest::newRow("Home after tabbing in") << u"Tab Tab Home Alt+R"_s << QStringList{a};
        QTest::newRow("PgUp after tabbing in") << u"Tab Tab PgUp Alt+R"_s << QStringList{a};
        QTest::newRow("End after tabbing in") << u"Tab Tab End Alt+R"_s << QStringList{b};
        QTest::newRow("PgDown after tabbing in") << u"Tab Tab PgDown Alt+R"_s << QStringList{b};
        QTest::newRow("End then Home") << u"Tab Tab End Home Alt+R"_s << QStringList{a};
        QTest::newRow("a double click only selects") << u"click:1 dblclick:1 Return"_s << QStringList{b};
        QTest::newRow("Exit on run") << u"click:0 Alt+E Return"_s << QStringList{a, closed};
        QTest::newRow("Alt+O, Alt+C") << u"Alt+O Alt+C"_s << QStringList{u"explorer E:|1"_s, closed};
        QTest::newRow("gone") << u"click:0 Alt+E rm Return"_s << QStringList{u"Run Error: Could not run the program 'a.exe'|16"_s};
    }
    void keyboardAndMouse()
    {
        QFETCH(QString, script);
        QFETCH(QStringList, outcome);
        Chooser c;
        QDir::setCurrent(c.env.newFolder(u"elsewhere"_s));   // only Run may move to the drive
        QVERIFY(c.open({u"a.exe"_s, u"B SETUP\n.EXE"_s}));
        for (const QString &step : script.split(u' ')) {
            QVERIFY2(c.w, qPrintable(u"the window is gone before "_s + step));
            FileListBox *list = c.w->EXElist;
            if (step == u"rm")
                QVERIFY(QFile::remove(c.disc + u"/a.exe"_s));
            else if (step.contains(u':'))
                QTest::mouseEvent(step.startsWith(u'd') ? QTest::MouseDClick : QTest::MouseClick, list->viewport(),
                                  Qt::LeftButton, {}, list->visualItemRect(list->item(step.back().digitValue())).center());
            else
                QTest::keySequence(QApplication::focusWidget(), step);   // none: the active window
            QTest::qWait(step.startsWith(u"Alt") ? 250 : 0);   // an access key clicks with a short animation
        }
        QStringList seen;
        for (const StartedProgram &p : c.env.starter.started)
            seen << (p.program.isEmpty() ? p.commandLine : QFile::decodeName(p.program).mid(c.disc.size() + 1)) + u'|' + QString::number(p.windowStyle)
                    + (QFileInfo(p.workingDirectory) == QFileInfo(c.disc) ? u" in the root"_s : u""_s);
        for (const ShownBox &box : c.env.boxes.shown)
            seen << box.title + u": "_s + box.text + u'|' + QString::number(box.flags);
        if (c.w.isNull() || c.w->isUnloading())
            seen << u"closed"_s;
        QCOMPARE(seen, outcome);
    }

    // The user puts the disc in while the "Disc Request" box is up, then presses Retry.
    void discPutInLateIsListed()
    {
        Chooser c;
        c.env.boxes.answers = {Mb::Retry};
        c.env.boxes.whileShown = [&c](const ShownBox &) { touch(c.disc + u"/install.exe"_s); };
        mainTarvic program(c.env.services());
        program.Main(u"e:"_s);
        const frmTarvic &w = program.forms().frmTarvic();
        QVERIFY(w.isVisible() && w.EXElist->count() == 1);
        QCOMPARE(w.EXElist->item(0)->text(), u"install.exe"_s);
    }

    void unreadableRootIsAFailureOfTheHandler()
    {
        Chooser c;
        // Root reads every folder; without these capabilities (this thread only) it meets permissions like anyone.
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct caps[2]{}, lowered[2]{};
        QVERIFY(::syscall(SYS_capget, &header, caps) == 0 && ::syscall(SYS_capget, &header, lowered) == 0);
        lowered[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        QVERIFY(QFile::setPermissions(c.disc, QFileDevice::WriteOwner));
        const auto restore = qScopeGuard([&] { ::syscall(SYS_capset, &header, caps); });
        if (::syscall(SYS_capset, &header, lowered) != 0 && ::geteuid() == 0)
            QSKIP("root reads every folder and cannot give that up here");
        mainTarvic program(c.env.services());
        program.Main(u"e:"_s);
        const QString box = c.env.boxes.shown.value(0).title + u'|' + c.env.boxes.shown.value(0).text;
        QVERIFY2(box.startsWith(u"Error|An error has occured: Permission denied"_s) && box.endsWith(u", 70"_s), qPrintable(box));
    }
};

QTEST_MAIN(ChooserTest)
#include "test_chooser.moc"
