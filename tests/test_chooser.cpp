// The chooser window: its layout, the keyboard and mouse, the list of the disc's
// programs, the handlers, and the list that follows a disc put in late.
#include "chooser/caption_label.h"
#include "chooser/file_list_box.h"
#include "chooser/frmtarvic.h"
#include "platform/runtime_error.h"
#include "platform/untrapped.h"
#include "startup/maintarvic.h"
#include "support/pe/pe_writer.h"
#include "support/test_env.h"

#include <QCheckBox>
#include <QFontMetrics>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QtTest>
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace tarvic;
using namespace tarvic::test;
using namespace Qt::StringLiterals;

namespace {

// One window on a folder drive E: (unless told otherwise), loaded as the start-up loads it.
struct Chooser
{
    TestEnv env;
    QString drive;
    QString disc;
    QPointer<frmTarvic> w;

    explicit Chooser(const QStringList &files = {u"setup.exe"_s}, QChar letter = u'e')
    {
        disc = env.newFolder(u"disc"_s);
        for (const QString &f : files)
            touch(disc + u'/' + f);
        env.mapDrive(letter, disc);
        drive = QString(letter.toUpper()) + u':';
    }
    ~Chooser() { delete w.data(); }

    frmTarvic &load()
    {
        w = new frmTarvic(drive, env.paths(), env.starter, env.boxes);
        w->load();
        return *w;
    }
    bool showActive()
    {
        w->show();
        return QTest::qWaitForWindowActive(w);
    }
    bool closed() const { return w.isNull() || w->isUnloading(); }
    QStringList shownNames() const
    {
        QStringList names;
        for (int i = 0; i < w->EXElist->count(); ++i)
            names << w->EXElist->item(i)->text();
        return names;
    }
    // Each start as "command line|window style".
    QStringList started() const
    {
        QStringList s;
        for (const StartedProgram &p : env.starter.started)
            s << p.commandLine + u'|' + QString::number(p.windowStyle);
        return s;
    }
    void clickRow(int row, Qt::KeyboardModifiers mods = {}, bool twice = false)
    {
        const QPoint at = w->EXElist->visualItemRect(w->EXElist->item(row)).center();
        twice ? QTest::mouseDClick(w->EXElist->viewport(), Qt::LeftButton, mods, at)
              : QTest::mouseClick(w->EXElist->viewport(), Qt::LeftButton, mods, at);
    }
};

// Plays steps such as "Tab", "Shift+Backtab", "Alt+R", "Num+Enter", "click:0",
// "ctrlclick:0", "dblclick:0", "close". Keys go to the focused control, as the keyboard
// sends them; `focus` collects the focused control's name after each step.
void play(Chooser &c, const QString &script, QStringList *focus = nullptr)
{
    for (const QString &step : script.split(u' ', Qt::SkipEmptyParts)) {
        if (!c.w)
            QFAIL(qPrintable(u"the window is gone before '%1'"_s.arg(step)));
        const QStringList click = step.split(u':');
        if (step == u"close") {
            c.w->close();   // the window's own close control
        } else if (click.size() == 2) {
            c.clickRow(click[1].toInt(), click[0] == u"ctrlclick" ? Qt::ControlModifier : Qt::NoModifier,
                       click[0] == u"dblclick");
        } else {
            const QKeySequence key(step);
            QVERIFY2(key.count() == 1, qPrintable(step));
            QWidget *target = QApplication::focusWidget() ? QApplication::focusWidget() : c.w.data();
            QTest::keySequence(target, key);
            if (key[0].keyboardModifiers() & Qt::AltModifier)
                QTest::qWait(250);   // an access key presses its button with a short animation
        }
        QCoreApplication::processEvents();
        if (focus)
            *focus << (QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString());
    }
}

// Every control lies in the client area and none covers another.
void expectTidy(frmTarvic &w)
{
    const QList<QWidget *> all = {w.lblNoINF, w.Run, w.Cancel, w.OD, w.EOR, w.EXElist, w.EXEIcon};
    for (int i = 0; i < all.size(); ++i) {
        QVERIFY2(w.rect().contains(all[i]->geometry()), qPrintable(all[i]->objectName()));
        for (int j = i + 1; j < all.size(); ++j)
            QVERIFY2(!all[i]->geometry().intersects(all[j]->geometry()),
                     qPrintable(all[i]->objectName() + u" and "_s + all[j]->objectName()));
    }
}

void writeIconProgram(const QString &path, QColor colour)
{
    QVERIFY(writePe(path, PeRecipe{false, true, {IconGroup{{dibIcon(drawIconImage(32, colour), 32)}, {}, 0}}}));
}

// Root reads every folder; with these capabilities lowered (for the calling thread
// only) it meets permissions like anyone. False where they cannot be changed.
bool lowerDacOverride(bool lower)
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct caps[2]{};
    if (::syscall(SYS_capget, &header, caps) != 0)
        return false;
    const __u32 dac = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);
    caps[0].effective = lower ? caps[0].effective & ~dac : caps[0].effective | (caps[0].permitted & dac);
    return ::syscall(SYS_capset, &header, caps) == 0;
}

} // namespace

class ChooserTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void firstShowing_data();
    void firstShowing();
    void keyboardAndMouse_data();
    void keyboardAndMouse();
    void iconFollowsTheSelection();
    void programOrDiscGoneWhileTheWindowIsOpen();
    void discPutInDuringTheDiscRequestIsListedAndRuns();
    void listShowsOnlyVisiblePlainPrograms();
    void oddNamesStayOneEntryAndFindTheirFile();
    void unreadableRootIsAFailureOfTheHandler();
    void thousandsOfProgramsScroll();
};

void ChooserTest::init()
{
    setUntrappedReaction([](const RuntimeError &e) {
        QFAIL(qPrintable(u"untrapped failure %1: %2"_s.arg(e.number()).arg(e.description())));
    });
}

void ChooserTest::cleanup()
{
    setUntrappedReaction({});
}

void ChooserTest::firstShowing_data()
{
    QTest::addColumn<int>("pixelSize");
    QTest::addColumn<QChar>("letter");
    QTest::newRow("11-pixel font, D:") << 11 << QChar(u'd');
    QTest::newRow("large font") << 22 << QChar(u'e');
    QTest::newRow("small font") << 8 << QChar(u'e');
}

void ChooserTest::firstShowing()
{
    QFETCH(int, pixelSize);
    QFETCH(QChar, letter);
    Chooser c({u"setup.exe"_s}, letter);
    frmTarvic &w = c.load();
    QCOMPARE(w.windowTitle(), u"Tarvic"_s);
    QCOMPARE(c.shownNames(), QStringList{u"setup.exe"_s});
    QVERIFY(w.EXElist->selectedItems().isEmpty() && w.EXEIcon->pixmap().isNull());
    QVERIFY(!w.Run->isEnabled() && !w.EOR->isEnabled() && !w.EOR->isChecked());
    QVERIFY(w.OD->isEnabled() && w.Cancel->isEnabled());

    QFont font = w.font();
    font.setPixelSize(pixelSize);
    w.setFont(font);
    QVERIFY(c.showActive());
    QVERIFY(!w.windowIcon().isNull());
    QCOMPARE(w.minimumSize(), w.maximumSize());
    for (QWidget *widget : QList<QWidget *>{w.Run, w.Cancel, w.OD, w.EOR})
        QVERIFY2(widget->width() >= widget->sizeHint().width() && widget->height() >= widget->sizeHint().height(),
                 qPrintable(widget->objectName()));
    // The caption keeps its carriage returns, and each one breaks the line on screen.
    QCOMPARE(w.lblNoINF->text(), u"Autorun.inf on drive %1 does not exist or the file does not \r"
                                 u"contain the correct information, choose a program to run\r from drive %1."_s
                                     .arg(c.drive));
    const QFontMetrics fm(w.lblNoINF->font());
    QCOMPARE(w.lblNoINF->size(), w.lblNoINF->sizeHint());
    QVERIFY(w.lblNoINF->height() >= 3 * fm.height() && w.lblNoINF->height() < 4 * fm.height());
    QVERIFY(w.lblNoINF->width() >= fm.horizontalAdvance(u"contain the correct information, choose a program to run"_s));
    expectTidy(w);

    // Cancel has the focus at first, since Run is disabled; Tab passes over what is
    // disabled and over the label and the picture.
    QCOMPARE(QApplication::focusWidget(), w.Cancel);
    QStringList trail;
    play(c, u"Tab Tab Tab Tab"_s, &trail);
    QCOMPARE(trail, (QStringList{u"OD"_s, u"EXElist"_s, u"Cancel"_s, u"OD"_s}));
    // After a selection every control is in the round, backwards as well.
    trail.clear();
    play(c, u"click:0 Shift+Backtab Shift+Backtab Shift+Backtab Shift+Backtab Shift+Backtab"_s, &trail);
    QCOMPARE(trail, (QStringList{u"EXElist"_s, u"EOR"_s, u"OD"_s, u"Cancel"_s, u"Run"_s, u"EXElist"_s}));
    QVERIFY(c.env.starter.started.isEmpty());
}

void ChooserTest::keyboardAndMouse_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QStringList>("started");
    QTest::addColumn<bool>("open");      // the window is still loaded
    QTest::addColumn<bool>("enabled");   // Run and EOR, when it is

    // Run starts the bare name, blanks unquoted, minimised; Open drive a normal window.
    const QString a = u"a.exe|2"_s, b = u"B SETUP.EXE|2"_s, explorer = u"explorer E:|1"_s;
    QTest::newRow("Enter right after showing presses Cancel") << "Return" << QStringList{} << false << false;
    QTest::newRow("keypad Enter likewise") << "Num+Enter" << QStringList{} << false << false;
    QTest::newRow("Esc") << "Esc" << QStringList{} << false << false;
    QTest::newRow("Esc from the list after a selection") << "click:0 Esc" << QStringList{} << false << true;
    QTest::newRow("Alt+C") << "Alt+C" << QStringList{} << false << false;
    QTest::newRow("Alt+O, then the close control") << "Alt+O close" << QStringList{explorer} << false << false;
    QTest::newRow("Alt+R, Alt+E before a selection") << "Alt+R Alt+E" << QStringList{} << true << false;
    QTest::newRow("Enter in the list before a selection") << "Tab Tab Return" << QStringList{} << true << false;
    QTest::newRow("Enter on Open drive") << "Tab Return" << QStringList{explorer} << true << false;
    QTest::newRow("a click selects, each Enter runs") << "click:0 Return Return" << QStringList{a, a} << true << true;
    QTest::newRow("a double click only selects") << "dblclick:0" << QStringList{} << true << true;
    QTest::newRow("the first arrow selects the marked entry, the next moves on")
        << "Tab Tab Down Return Down Return" << QStringList{a, b} << true << true;
    QTest::newRow("Ctrl+click keeps the entry selected") << "click:0 ctrlclick:0 Return" << QStringList{a} << true
                                                         << true;
    QTest::newRow("Alt+R after a selection") << "click:1 Alt+R" << QStringList{b} << true << true;
    QTest::newRow("Alt+E ticks: Enter runs and closes") << "click:0 Alt+E Return" << QStringList{a} << false << true;
    QTest::newRow("Alt+E twice unticks") << "click:0 Alt+E Alt+E Return" << QStringList{a} << true << true;
    QTest::newRow("Enter on a focused Cancel after a selection")
        << "click:0 Shift+Backtab Shift+Backtab Shift+Backtab Return" << QStringList{} << false << true;
}

void ChooserTest::keyboardAndMouse()
{
    QFETCH(QString, script);
    QFETCH(QStringList, started);
    QFETCH(bool, open);
    QFETCH(bool, enabled);

    Chooser c({u"a.exe"_s, u"B SETUP.EXE"_s});
    c.load();
    // The process's current folder lies elsewhere until Run changes to the drive.
    QDir::setCurrent(c.env.newFolder(u"elsewhere"_s));
    QVERIFY(c.showActive());
    play(c, script);
    QCOMPARE(c.started(), started);
    for (const StartedProgram &p : c.env.starter.started)
        if (p.windowStyle == WindowStyle::Minimised)
            QCOMPARE(QDir(p.workingDirectory).canonicalPath(), QDir(c.disc).canonicalPath());
    QCOMPARE(!c.closed(), open);
    if (open) {
        QCOMPARE(c.w->Run->isEnabled(), enabled);
        QCOMPARE(c.w->EOR->isEnabled(), enabled);
    }
    QVERIFY(c.env.boxes.shown.isEmpty());
}

void ChooserTest::iconFollowsTheSelection()
{
    Chooser c(QStringList{});
    writeIconProgram(c.disc + u"/red.exe"_s, Qt::red);
    writeIconProgram(c.disc + u"/blue.exe"_s, Qt::blue);
    frmTarvic &w = c.load();
    QVERIFY(c.showActive());
    for (int row : {0, 1, 0}) {
        c.clickRow(row);
        const QPixmap shown = w.EXEIcon->pixmap();
        QCOMPARE(shown.toImage().pixelColor(8, 20), QColor(row == 0 ? Qt::blue : Qt::red));
        // Unscaled, and clear of the other controls.
        QCOMPARE(w.EXEIcon->size(), shown.deviceIndependentSize().toSize());
        expectTidy(w);
    }
}

void ChooserTest::programOrDiscGoneWhileTheWindowIsOpen()
{
    Chooser c({u"gone 'soon'.exe"_s, u"stays.exe"_s});
    frmTarvic &w = c.load();
    QVERIFY(c.showActive());
    c.clickRow(0);
    w.EOR->click();
    QVERIFY(QFile::remove(c.disc + u"/gone 'soon'.exe"_s));
    w.Run->click();
    QCOMPARE(c.env.boxes.shown.size(), 1);
    QCOMPARE(c.env.boxes.shown[0].text, u"Could not run the program 'gone 'soon'.exe'"_s);
    QCOMPARE(c.env.boxes.shown[0].flags, 16);
    QCOMPARE(c.env.boxes.shown[0].title, u"Run Error"_s);
    // The window, its selection and the tick stay; the user may choose again.
    QVERIFY(!c.closed());
    QCOMPARE(w.EXElist->selectedFileName(), u"gone 'soon'.exe"_s);
    QVERIFY(w.EOR->isChecked());

    // The disc taken out (an empty folder drive holds no disc): selecting still shows
    // some picture; Run cannot change to the drive and gives the default report.
    QVERIFY(QDir(c.disc).removeRecursively());
    makeFolder(c.disc);
    QList<int> reported;
    setUntrappedReaction([&reported](const RuntimeError &e) { reported << e.number(); });
    c.clickRow(1);
    QVERIFY(reported.isEmpty());
    QVERIFY(!w.EXEIcon->pixmap().isNull());
    w.Run->click();
    QCOMPARE(reported, QList<int>{Err::DiskNotReady});
    // Back in, a start that fails although the file exists goes the same way...
    touch(c.disc + u"/stays.exe"_s);
    c.env.starter.failWith = [](const QString &) { throw RuntimeError(Err::InvalidCall, u"no program"_s); };
    w.Run->click();
    QCOMPARE(reported, (QList<int>{Err::DiskNotReady, Err::InvalidCall}));
    QVERIFY(c.env.starter.started.isEmpty() && !c.closed());
    // ...and one that works still exits on run.
    c.env.starter.failWith = nullptr;
    w.Run->click();
    QCOMPARE(c.started(), QStringList{u"stays.exe|2"_s});
    QVERIFY(c.closed());
    QCOMPARE(c.env.boxes.shown.size(), 1);
}

void ChooserTest::discPutInDuringTheDiscRequestIsListedAndRuns()
{
    Chooser c(QStringList{});
    // At load the list shows the folder the program started in, with a program of its own.
    const QString start = c.env.newFolder(u"start"_s);
    touch(start + u"/stale.exe"_s);
    QDir::setCurrent(start);
    // The user puts the disc in while the "Disc Request" box is up, then presses Retry.
    c.env.boxes.answers = {Mb::Retry};
    c.env.boxes.whileShown = [&c](const ShownBox &) {
        touch(c.disc + u"/install.exe"_s);
        touch(c.disc + u"/readme.txt"_s);
    };
    mainTarvic program(c.env.services());
    program.Main(u"e:"_s);
    QCOMPARE(c.env.boxes.shown.size(), 1);
    QCOMPARE(c.env.boxes.shown[0].title, u"Disc Request"_s);
    QVERIFY(program.forms().isTarvicLoaded());
    c.w = &program.forms().frmTarvic();
    QVERIFY(c.w->isVisible());
    QCOMPARE(c.shownNames(), QStringList{u"install.exe"_s});
    // And Run finds what the list shows, in the drive's root.
    c.w->EXElist->setCurrentRow(0);
    c.w->Run->click();
    QCOMPARE(c.started(), QStringList{u"install.exe|2"_s});
    QCOMPARE(QDir(c.env.starter.started[0].workingDirectory).canonicalPath(), QDir(c.disc).canonicalPath());
    program.forms().unloadTarvic();
}

void ChooserTest::listShowsOnlyVisiblePlainPrograms()
{
    Chooser c({u"b.Exe"_s, u"A.EXE"_s, u"c.exe"_s, u".hidden.exe"_s, u"notes.txt"_s, u"c.exe.txt"_s, u"exe"_s,
               u"zed.exe"_s, u"Zed.exe"_s, u"_under.exe"_s, u"sub/inner.exe"_s});
    const QString outside = c.env.newFolder(u"outside"_s);
    touch(outside + u"/evil.exe"_s);
    makeFolder(c.disc + u"/folder.exe"_s);
    const auto link = [&](const QString &target, const QString &name) {
        QCOMPARE(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(c.disc + u'/' + name).constData()),
                 0);
    };
    link(u"A.EXE"_s, u"linked.exe"_s);
    link(u"sub/inner.exe"_s, u"deeper.exe"_s);
    link(outside + u"/evil.exe"_s, u"leaves.exe"_s);
    link(u"missing.exe"_s, u"dangling.exe"_s);
    link(u"sub"_s, u"tofolder.exe"_s);
    QCOMPARE(::mkfifo(QFile::encodeName(c.disc + u"/pipe.exe"_s).constData(), 0600), 0);

    frmTarvic &w = c.load();
    // Sorted without regard to case; names equal but for case in byte order.
    QCOMPARE(c.shownNames(), (QStringList{u"_under.exe"_s, u"A.EXE"_s, u"b.Exe"_s, u"c.exe"_s, u"deeper.exe"_s,
                                          u"linked.exe"_s, u"Zed.exe"_s, u"zed.exe"_s}));
    for (const QString &name : c.shownNames())
        QVERIFY2(w.Pellor.FileExists(u"E:\\"_s + name), qPrintable(name));
}

void ChooserTest::oddNamesStayOneEntryAndFindTheirFile()
{
    const QByteArray invalid("bad\xff\xfe name.exe");
    Chooser c({u"line\nbreak.exe"_s, u"tab\there.exe"_s, u"\u202Etxt.exe"_s, u"\u00e9t\u00e9.exe"_s,
               u"say \"hi\".exe"_s});
    // No QString stands for these bytes; make the file by its raw name (counted below).
    const QByteArray rawPath = QFile::encodeName(c.disc) + '/' + invalid;
    ::close(::open(rawPath.constData(), O_CREAT | O_WRONLY, 0644));
    // QTemporaryDir cannot remove what it cannot name.
    const auto removeRaw = qScopeGuard([&] { ::unlink(rawPath.constData()); });
    frmTarvic &w = c.load();
    QVERIFY(c.showActive());
    QCOMPARE(w.EXElist->count(), 6);
    for (int row = 0; row < w.EXElist->count(); ++row) {
        const QString shown = w.EXElist->item(row)->text();
        // One line each, nothing that turns the text round.
        QVERIFY2(!shown.contains(u'\n') && !shown.contains(u'\t') && !shown.contains(QChar(0x202E)),
                 qPrintable(shown));
        c.clickRow(row);
        const QString name = w.EXElist->selectedFileName();
        QCOMPARE(FileListBox::displayName(name), shown);
        w.Run->click();
        QCOMPARE(c.env.starter.started.value(row).commandLine, name);
    }
    QVERIFY(c.env.boxes.shown.isEmpty());
}

void ChooserTest::unreadableRootIsAFailureOfTheHandler()
{
    Chooser c({u"a.exe"_s});
    QVERIFY(QFile::setPermissions(c.disc, QFileDevice::WriteOwner));
    const auto restore = qScopeGuard([&] {
        QFile::setPermissions(c.disc, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    });
    const bool lowered = lowerDacOverride(true);
    const auto raise = qScopeGuard([] { lowerDacOverride(false); });
    if (::geteuid() == 0 && !lowered)
        QSKIP("root reads every folder and cannot give that up here");
    const auto failure = [](const auto &f) {
        try {
            f();
        } catch (const RuntimeError &e) {
            return e.number();
        }
        return 0;
    };
    QCOMPARE(failure([&] { c.load(); }), Err::PermissionDenied);
    // The list's own reading says the same, for a root that no drive check looked at.
    QCOMPARE(failure([&] { FileListBox::programsIn(QFile::encodeName(c.disc)); }), Err::PermissionDenied);
}

void ChooserTest::thousandsOfProgramsScroll()
{
    QStringList expected{u"a rather long name of a program that is wider than the list could ever be.exe"_s};
    for (int i = 0; i < 3000; ++i)
        expected << u"prog%1.exe"_s.arg(i, 5, 10, QLatin1Char('0'));
    Chooser c(expected);
    frmTarvic &w = c.load();
    QVERIFY(c.showActive());
    QCOMPARE(c.shownNames(), expected);
    QVERIFY(w.EXElist->verticalScrollBar()->isVisible());
    QVERIFY(!w.EXElist->horizontalScrollBar()->isVisible());
    // The last entry can be reached and chosen.
    w.EXElist->setFocus();
    play(c, u"End"_s);
    QCOMPARE(w.EXElist->selectedFileName(), expected.last());
    QVERIFY(w.Run->isEnabled());
    // The window keeps the layout of one with a single program.
    Chooser one;
    one.load();
    QVERIFY(one.showActive());
    QCOMPARE(w.EXElist->geometry(), one.w->EXElist->geometry());
    QCOMPARE(w.size(), one.w->size());
}

QTEST_MAIN(ChooserTest)
#include "test_chooser.moc"
