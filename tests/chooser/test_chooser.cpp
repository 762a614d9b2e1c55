// The chooser window: what it lists, its state, the keyboard and mouse, Run and
// Open drive, an unreadable root. (Its layout: test_ui; a disc put in late: test_dispatch.)
#include "chooser/file_list_box.h"
#include "chooser/frmtarvic.h"
#include "startup/maintarvic.h"
#include "pewriter/pe_writer.h"
#include "support/ordinary_user.h"
#include "support/test_env.h"

#include <QtTest>
#include <QtWidgets>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace tarvic;
using namespace tarvic::test;
using namespace tarvic::pewriter;
using namespace Qt::StringLiterals;

// A Windows program whose icon is of one colour, at a path of any bytes.
static bool program(const QByteArray &path, QColor colour)
{
    const QByteArray bytes = buildPe({.groups = {{.images = {dibIcon(32, 32, colour)}, .name = {}}}});
    QFile f;
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    return fd >= 0 && f.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle) && f.write(bytes) == bytes.size();
}

// A window on the folder drive E:, shown on the files it is given.
struct Chooser
{
    TestEnv env;
    QString disc = env.newFolder(u"disc"_s), drive = u"E:"_s;   // the window keeps a reference to the drive
    QPointer<frmTarvic> w;
    frmTarvicControls controls{env.paths()};
    Chooser() { env.mapDrive(u'e', disc); }
    ~Chooser() { delete w.data(); }
    bool open(const QStringList &files)
    {
        for (const QString &f : files)
            touch(disc + u'/' + f);
        w = new frmTarvic(drive, controls, env.paths(), env.starter, env.boxes);
        w->load();
        w->show();
        return QTest::qWaitForWindowActive(w);
    }
    QStringList listed() const
    {
        QStringList names;
        for (int i = 0; i < w->EXElist->count(); ++i)
            names << w->EXElist->item(i)->text();
        return names;
    }
    QColor icon() const { return w->EXEIcon->pixmap().toImage().pixelColor(8, 20); }
    bool closed() const { return w.isNull() || w->isUnloading(); }
};

class ChooserTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // Nothing hidden, no folder, no other file; a link only while it leads to a file on
    // the disc (which is untrusted); a named pipe neither listed nor stalling the
    // listing. At first nothing is chosen and Run is off.
    void onlyFilesOfTheDiscAreListed()
    {
        Chooser c;
        const QString otherDrive = c.env.newFolder(u"c"_s);
        touch(otherDrive + u"/x.exe"_s);
        touch(c.disc + u"2/evil.exe"_s);   // beside the disc, in a folder whose name begins with its
        for (const auto &[name, target] : {std::pair{u"outside"_s, otherDrive + u"/x.exe"_s}, {u"sibling"_s, c.disc + u"2/evil.exe"_s},
                                           {u"dangling"_s, c.disc + u"/gone.exe"_s}, {u"inside"_s, u"x.exe"_s}})
            QVERIFY(QFile::link(target, c.disc + u'/' + name + u".exe"_s));
        QCOMPARE(::mkfifo(QFile::encodeName(c.disc + u"/pipe.exe"_s).constData(), 0644), 0);
        QVERIFY(c.open({u"x.exe"_s, u".hidden.exe"_s, u"a.txt"_s, u"folder.exe/inner.exe"_s}));
        QCOMPARE(c.listed(), (QStringList{u"inside.exe"_s, u"x.exe"_s}));
        QVERIFY(c.w->EXElist->selectedItems().isEmpty() && c.w->EXEIcon->pixmap().isNull());
        QVERIFY(!c.w->Run->isEnabled() && !c.w->EOR->isEnabled());
    }

    // Names are bytes on a disc: "\\", "C:", ".." and bytes that are no UTF-8 are part
    // of the name, so each entry, on one line, shows the icon of and starts its own file
    // and no other, a link on the disc as itself. The list is by name without regard to
    // case, bytes deciding between names shown alike. Each selection enables Run.
    void eachEntryIsItsOwnFile()
    {
        Chooser c;
        const QByteArray disc = QFile::encodeName(c.disc);
        // What the Windows rules would find instead: drive C:'s x.exe, sub/evil.exe, a folder C: of the disc.
        const QString otherDrive = c.env.newFolder(u"c"_s);
        c.env.mapDrive(u'c', otherDrive);
        for (const QString &decoy : {otherDrive + u"/x.exe"_s, c.disc + u"/sub/evil.exe"_s, c.disc + u"/C:/x.exe"_s}) {
            makeFolder(QFileInfo(decoy).path());
            QVERIFY(program(QFile::encodeName(decoy), Qt::black));
        }
        const QList<std::pair<QByteArray, QColor>> listed = {
            {"a\xfe.exe", Qt::magenta}, {"a\xff.exe", Qt::cyan}, {"C:\\x.exe", Qt::green}, {"inside.exe", Qt::red},
            {"line\nbreak.exe", Qt::gray}, {"setup\\..\\..\\x.exe", Qt::yellow}, {"sub\\evil.exe", Qt::blue}, {"x.exe", Qt::red}};
        const auto removeListed = qScopeGuard([&] {   // names that are no UTF-8 are beyond QTemporaryDir
            for (const auto &entry : listed)
                ::unlink(disc + '/' + entry.first);
        });
        for (const auto &[name, colour] : listed)
            QVERIFY(name == "inside.exe" ? QFile::link(u"x.exe"_s, c.disc + u"/inside.exe"_s) : program(disc + '/' + name, colour));
        QVERIFY(c.open({}));
        QCOMPARE(c.listed(), (QStringList{u"a\uFFFD.exe"_s, u"a\uFFFD.exe"_s, u"C:\\x.exe"_s, u"inside.exe"_s, u"line\uFFFDbreak.exe"_s,
                                          u"setup\\..\\..\\x.exe"_s, u"sub\\evil.exe"_s, u"x.exe"_s}));
        for (int row = 0; row < listed.size(); ++row) {
            c.w->EXElist->setCurrentRow(row);
            QVERIFY(c.w->Run->isEnabled() && c.w->EOR->isEnabled());
            QCOMPARE(c.icon(), listed[row].second);
            c.w->Run->click();
            QCOMPARE(c.env.starter.started.value(row).program, disc + '/' + listed[row].first);
        }
        // Changed into a link off the disc after listing: the file is no longer there to run.
        QVERIFY(QFile::remove(c.disc + u"/x.exe"_s) && QFile::link(otherDrive + u"/x.exe"_s, c.disc + u"/x.exe"_s));
        c.w->Run->click();
        QCOMPARE(c.env.report().section(u" | "_s, 0, 0), u"Run Error (16): Could not run the program 'x.exe'"_s);
        QCOMPARE(c.env.starter.started.size(), listed.size());
    }

    // Keys go to the focused control, clicks to the list; Run starts the chosen file
    // minimised in the drive's root, Open drive the file manager on the drive where the
    // process is; a file gone before Run is a box. Rows list the actions in order:
    // keys, "click N", "double-click N", "remove NAME"; %E is the disc, %W the process's folder.
    void keysAndClicks_data()
    {
        QTest::addColumn<QStringList>("actions");
        QTest::addColumn<QString>("report");
        QTest::addColumn<bool>("closed");
        const QString a = u"[%E/a.exe] (2) in %E"_s, b = u"[%E/B SETUP\n.EXE] (2) in %E"_s;
        const auto row = [](const char *name, const QString &actions, const QString &report, bool closed) {
            QTest::newRow(name) << actions.split(u' ') << report << closed;
        };
        row("Esc", u"Esc"_s, {}, true);
        row("Enter at first: Cancel", u"Return"_s, {}, true);
        row("arrows select, Alt+R runs", u"Tab Tab Down Down Alt+R"_s, b, false);
        // Tabbed in, the first entry is marked but not chosen; each key chooses where it lands.
        row("Home after tabbing in", u"Tab Tab Home Alt+R"_s, a, false);
        row("PgUp after tabbing in", u"Tab Tab PgUp Alt+R"_s, a, false);
        row("End after tabbing in", u"Tab Tab End Alt+R"_s, b, false);
        row("PgDown after tabbing in", u"Tab Tab PgDown Alt+R"_s, b, false);
        row("End then Home", u"Tab Tab End Home Alt+R"_s, a, false);
        row("nothing runs before a selection, Exit on run stays off", u"Tab Tab Return Alt+R Alt+E click:0 Return"_s, a, false);
        row("each Enter after a click runs", u"click:0 Return Return"_s, a + u" | "_s + a, false);
        row("a double click only selects", u"click:1 double-click:1 Return"_s, b, false);
        row("Exit on run closes after the start", u"click:0 Alt+E Return"_s, a, true);
        row("a file gone: a box, the window stays", u"click:0 Alt+E remove:a.exe Return"_s,
            u"Run Error (16): Could not run the program 'a.exe'"_s, false);
        row("Open drive, then Cancel", u"Alt+O Alt+C"_s, u"explorer E: (1) in %W"_s, true);
    }

    void keysAndClicks()
    {
        QFETCH(QStringList, actions);
        QFETCH(QString, report);
        Chooser c;
        const QString elsewhere = c.env.newFolder(u"elsewhere"_s);
        QDir::setCurrent(elsewhere);
        QVERIFY(c.open({u"a.exe"_s, u"B SETUP\n.EXE"_s}));
        for (const QString &action : actions) {
            QVERIFY2(!c.closed(), qPrintable(u"the window is gone before "_s + action));
            const QString what = action.section(u':', 0, 0), arg = action.section(u':', 1);
            const QPoint at = arg.isEmpty() ? QPoint() : c.w->EXElist->visualItemRect(c.w->EXElist->item(arg.toInt())).center();
            if (what == u"click")
                QTest::mouseClick(c.w->EXElist->viewport(), Qt::LeftButton, {}, at);
            else if (what == u"double-click")
                QTest::mouseDClick(c.w->EXElist->viewport(), Qt::LeftButton, {}, at);
            else if (what == u"remove")
                QVERIFY(QFile::remove(c.disc + u'/' + arg));
            else
                QTest::keySequence(QApplication::focusWidget(), action);   // none: the active window
            if (action.startsWith(u"Alt"))
                QTest::qWait(250);   // an access key clicks with a short animation
        }
        QCOMPARE(c.env.report(), report.replace(u"%E"_s, c.disc).replace(u"%W"_s, elsewhere));
        QTEST(c.closed(), "closed");
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
