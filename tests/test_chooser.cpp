// The chooser window: what it lists, its state and layout, the keyboard and mouse,
// Run and Open drive, a disc put in late, an unreadable root.
#include "chooser/caption_label.h"
#include "chooser/file_list_box.h"
#include "chooser/frmtarvic.h"
#include "platform/system_starter.h"
#include "startup/maintarvic.h"
#include "samples/pe_writer.h"
#include "support/ordinary_user.h"
#include "support/test_env.h"

#include <QtTest>
#include <QtWidgets>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tarvic;
using namespace tarvic::test;
using namespace tarvic::samples;
using namespace Qt::StringLiterals;

const QString A = u"a.exe"_s, B = u"B SETUP\n.EXE"_s;

// A window on the folder drive E:, shown on the files it is given.
struct Chooser
{
    TestEnv env;
    QString disc = env.newFolder(u"disc"_s), drive = u"E:"_s;   // the window keeps a reference to the drive
    QPointer<frmTarvic> w;
    frmTarvicControls controls{env.paths()};
    ProgramStarter *starter = &env.starter;
    Chooser() { env.mapDrive(u'e', disc); }
    ~Chooser() { delete w.data(); }
    bool open(const QStringList &files)
    {
        for (const QString &f : files)
            touch(disc + u'/' + f);
        w = new frmTarvic(drive, controls, env.paths(), *starter, env.boxes);
        w->load();
        w->show();
        return QTest::qWaitForWindowActive(w);
    }
    // The two programs A and B, the process elsewhere: only Run may move to the drive.
    bool openTwo()
    {
        QDir::setCurrent(env.newFolder(u"elsewhere"_s));
        return open({A, B});
    }
    void press(const QString &key)
    {
        QVERIFY2(w, qPrintable(u"the window is gone before "_s + key));
        QTest::keySequence(QApplication::focusWidget(), key);   // none: the active window
        if (key.startsWith(u"Alt"))
            QTest::qWait(250);   // an access key clicks with a short animation
    }
    void click(int row)
    {
        QTest::mouseClick(w->EXElist->viewport(), Qt::LeftButton, {}, w->EXElist->visualItemRect(w->EXElist->item(row)).center());
    }
    void doubleClick(int row)
    {
        QTest::mouseDClick(w->EXElist->viewport(), Qt::LeftButton, {}, w->EXElist->visualItemRect(w->EXElist->item(row)).center());
    }
    // The names of the files started, each of which must have been minimised in the root.
    QStringList ran() const
    {
        QStringList names;
        for (const StartedProgram &p : env.starter.started) {
            const bool minimisedInTheRoot = p.windowStyle == 2 && QFileInfo(p.workingDirectory) == QFileInfo(disc);
            names << QFile::decodeName(p.program).mid(disc.size() + 1) + (minimisedInTheRoot ? u""_s : u" not minimised in the root"_s);
        }
        return names;
    }
    bool closed() const { return w.isNull() || w->isUnloading(); }
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
            QVERIFY(writePe(c.disc + name, {.groups = {{.images = {dibIcon(32, 32, colour)}, .name = {}}}}));
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
            const QByteArray bytes = buildPe({.groups = {{.images = {dibIcon(32, 32, colour)}, .name = {}}}});
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

    // Keys go to the focused control; Run starts the chosen file minimised in the
    // drive's root, its name as it is (blanks unquoted).
    void keys_data()
    {
        QTest::addColumn<QStringList>("keys");
        QTest::addColumn<QStringList>("ran");
        QTest::addColumn<bool>("closed");
        QTest::newRow("Esc") << QStringList{u"Esc"_s} << QStringList() << true;
        QTest::newRow("Enter at first: Cancel") << QStringList{u"Return"_s} << QStringList() << true;
        QTest::newRow("arrows select, Alt+R runs") << QStringList{u"Tab"_s, u"Tab"_s, u"Down"_s, u"Down"_s, u"Alt+R"_s} << QStringList{B} << false;
        // Tabbed in, the first entry is marked but not chosen; each key chooses where it lands.
        QTest::newRow("Home after tabbing in") << QStringList{u"Tab"_s, u"Tab"_s, u"Home"_s, u"Alt+R"_s} << QStringList{A} << false;
        QTest::newRow("PgUp after tabbing in") << QStringList{u"Tab"_s, u"Tab"_s, u"PgUp"_s, u"Alt+R"_s} << QStringList{A} << false;
        QTest::newRow("End after tabbing in") << QStringList{u"Tab"_s, u"Tab"_s, u"End"_s, u"Alt+R"_s} << QStringList{B} << false;
        QTest::newRow("PgDown after tabbing in") << QStringList{u"Tab"_s, u"Tab"_s, u"PgDown"_s, u"Alt+R"_s} << QStringList{B} << false;
        QTest::newRow("End then Home") << QStringList{u"Tab"_s, u"Tab"_s, u"End"_s, u"Home"_s, u"Alt+R"_s} << QStringList{A} << false;
    }
    void keys()
    {
        QFETCH(QStringList, keys);
        Chooser c;
        QVERIFY(c.openTwo());
        for (const QString &key : keys)
            c.press(key);
        QTEST(c.ran(), "ran");
        QTEST(c.closed(), "closed");
        QVERIFY(c.env.boxes.shown.isEmpty());
    }

    void nothingRunsBeforeASelection()
    {
        Chooser c;
        QVERIFY(c.openTwo());
        for (const char *key : {"Tab", "Tab", "Return", "Alt+R", "Alt+E"})
            c.press(QString::fromLatin1(key));
        QVERIFY(c.ran().isEmpty() && !c.closed());
        c.click(0);
        c.press(u"Return"_s);
        QCOMPARE(c.ran(), QStringList{A});   // Exit on run stayed off
        QVERIFY(!c.closed());
    }

    void eachEnterAfterAClickRuns()
    {
        Chooser c;
        QVERIFY(c.openTwo());
        c.click(0);
        c.press(u"Return"_s);
        c.press(u"Return"_s);
        QCOMPARE(c.ran(), (QStringList{A, A}));
    }

    void aDoubleClickOnlySelects()
    {
        Chooser c;
        QVERIFY(c.openTwo());
        c.click(1);
        c.doubleClick(1);
        QVERIFY(c.ran().isEmpty());
        c.press(u"Return"_s);
        QCOMPARE(c.ran(), QStringList{B});
    }

    void exitOnRunClosesAfterTheStart()
    {
        Chooser c;
        QVERIFY(c.openTwo());
        c.click(0);
        c.press(u"Alt+E"_s);
        c.press(u"Return"_s);
        QCOMPARE(c.ran(), QStringList{A});
        QVERIFY(c.closed());
    }

    void aFileGoneBeforeRunIsABoxAndTheWindowStays()
    {
        Chooser c;
        QVERIFY(c.openTwo());
        c.click(0);
        c.press(u"Alt+E"_s);
        QVERIFY(QFile::remove(c.disc + u"/a.exe"_s));
        c.press(u"Return"_s);
        QVERIFY(c.ran().isEmpty() && !c.closed());
        QCOMPARE(c.env.boxes.shown.size(), 1);
        QCOMPARE(c.env.boxes.shown[0].title, u"Run Error"_s);
        QCOMPARE(c.env.boxes.shown[0].text, u"Could not run the program 'a.exe'"_s);
        QCOMPARE(c.env.boxes.shown[0].flags, Mb::Critical);
    }

    // Open drive starts the file manager on the drive, as a command line; Cancel closes.
    void openDriveThenCancel()
    {
        Chooser c;
        QVERIFY(c.openTwo());
        c.press(u"Alt+O"_s);
        QCOMPARE(c.env.starter.started.size(), 1);
        QCOMPARE(c.env.starter.started[0].commandLine, u"explorer E:"_s);
        QCOMPARE(c.env.starter.started[0].windowStyle, 1);
        QVERIFY(QFileInfo(c.env.starter.started[0].workingDirectory) != QFileInfo(c.disc));
        QVERIFY(!c.closed());
        c.press(u"Alt+C"_s);
        QVERIFY(c.closed() && c.env.boxes.shown.isEmpty());
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
        QVERIFY(QFile::setPermissions(c.disc, QFileDevice::WriteOwner));
        const OrdinaryUser asAnyone;
        if (!asAnyone.holds())
            QSKIP("root reads every folder and cannot give that up here");
        mainTarvic program(c.env.services());
        program.Main(u"e:"_s);
        const QString box = c.env.boxes.shown.value(0).title + u'|' + c.env.boxes.shown.value(0).text;
        QVERIFY2(box.startsWith(u"Error|An error has occured: Permission denied"_s) && box.endsWith(u", 70"_s), qPrintable(box));
    }
};

QTEST_MAIN(ChooserTest)
#include "test_chooser.moc"
