// The chooser window: its layout in twips, the keyboard, the list of the disc's
// programs, the handlers, and the list that follows a disc put in late.
#include "chooser/caption_label.h"
#include "chooser/file_list_box.h"
#include "chooser/frmtarvic.h"
#include "platform/runtime_error.h"
#include "platform/untrapped.h"
#include "startup/maintarvic.h"
#include "support/test_env.h"

#if __has_include("support/pe/pe_writer.h")
#include "support/pe/pe_writer.h"
#define HAVE_PE_WRITER 1
#endif

#include <QCheckBox>
#include <QFontMetrics>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QtTest>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tarvic;
using namespace tarvic::test;
using namespace Qt::StringLiterals;

namespace {

// One window on a folder drive E: (unless told otherwise), loaded as the start-up loads it.
struct Chooser
{
    TestEnv env;
    QString drive = QStringLiteral("E:");
    QString disc;
    QPointer<frmTarvic> w;

    explicit Chooser(const QStringList &files = {QStringLiteral("setup.exe")})
    {
        disc = env.newFolder(QStringLiteral("disc"));
        for (const QString &f : files)
            touch(disc + QLatin1Char('/') + f);
        env.mapDrive(QLatin1Char('e'), disc);
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
    template<class T = QWidget>
    T *child(const char *name) const
    {
        return w->findChild<T *>(QLatin1String(name));
    }
    QStringList shownNames() const
    {
        QStringList names;
        for (int i = 0; i < w->EXElist->count(); ++i)
            names << w->EXElist->item(i)->text();
        return names;
    }
    QStringList started() const
    {
        QStringList s;
        for (const StartedProgram &p : env.starter.started)
            s << p.commandLine + QLatin1Char('|') + QString::number(p.windowStyle);
        return s;
    }
    void clickRow(int row, Qt::KeyboardModifiers mods = {}, bool twice = false)
    {
        QListWidget *list = w->EXElist;
        const QPoint at = list->visualItemRect(list->item(row)).center();
        if (twice)
            QTest::mouseDClick(list->viewport(), Qt::LeftButton, mods, at);
        else
            QTest::mouseClick(list->viewport(), Qt::LeftButton, mods, at);
    }
};

// Keys go where the keyboard would send them: to the focused control.
void press(QWidget *window, int key, Qt::KeyboardModifiers mods = {})
{
    QWidget *target = QApplication::focusWidget() ? QApplication::focusWidget() : window;
    QTest::keyClick(target, Qt::Key(key), mods);
    if (mods & Qt::AltModifier)
        QTest::qWait(250);   // an access key presses its button with a short animation
}

// Runs a little script: Tab, Backtab, Return, Escape, Down, Up, Alt+<letter>,
// click:N, ctrlclick:N, dblclick:N.
void play(Chooser &c, const QString &script)
{
    for (const QString &step : script.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (!c.w)
            QFAIL(qPrintable(QStringLiteral("the window is gone before '%1'").arg(step)));
        if (step.startsWith(QLatin1String("Alt+")))
            press(c.w, Qt::Key_A + (step.at(4).unicode() - u'A'), Qt::AltModifier);
        else if (step.startsWith(QLatin1String("click:")))
            c.clickRow(step.mid(6).toInt());
        else if (step.startsWith(QLatin1String("ctrlclick:")))
            c.clickRow(step.mid(10).toInt(), Qt::ControlModifier);
        else if (step.startsWith(QLatin1String("dblclick:")))
            c.clickRow(step.mid(9).toInt(), {}, true);
        else if (step == QLatin1String("Tab"))
            press(c.w, Qt::Key_Tab);
        else if (step == QLatin1String("Backtab"))
            press(c.w, Qt::Key_Backtab, Qt::ShiftModifier);
        else if (step == QLatin1String("Return"))
            press(c.w, Qt::Key_Return);
        else if (step == QLatin1String("Enter"))
            press(c.w, Qt::Key_Enter, Qt::KeypadModifier);
        else if (step == QLatin1String("Escape"))
            press(c.w, Qt::Key_Escape);
        else if (step == QLatin1String("Down"))
            press(c.w, Qt::Key_Down);
        else if (step == QLatin1String("Up"))
            press(c.w, Qt::Key_Up);
        else
            QFAIL(qPrintable(QStringLiteral("unknown step ") + step));
        QCoreApplication::processEvents();
    }
}

QString labelText(const QString &drive)
{
    return QStringLiteral("Autorun.inf on drive ") + drive + QStringLiteral(" does not exist or the file does not \r")
        + QStringLiteral("contain the correct information, choose a program to run\r from drive ") + drive
        + QStringLiteral(".");
}

} // namespace

class ChooserTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void layoutKeepsTheProportionsOfTheDesign_data();
    void layoutKeepsTheProportionsOfTheDesign();
    void labelBreaksAtEachCarriageReturn_data();
    void labelBreaksAtEachCarriageReturn();
    void stateAtLoad();
    void tabOrderAndButtonRoles();
    void keyboardAndMouse_data();
    void keyboardAndMouse();
    void iconFollowsTheSelection();
    void runStartsTheBareNameInTheDriveRoot_data();
    void runStartsTheBareNameInTheDriveRoot();
    void runErrorForAProgramNoLongerThere();
    void discTakenOutWhileTheWindowIsOpen();
    void openDriveStartsTheExplorer();
    void listShowsTheRootOfADiscPutInLate();
    void discPutInDuringTheDiscRequestIsListed();
    void listShowsOnlyVisiblePlainPrograms();
    void oddNamesStayOneEntryAndFindTheirFile();
    void unreadableRootIsAFailureOfTheHandler();
    void thousandsOfProgramsScroll();
};

void ChooserTest::init()
{
    setUntrappedReaction([](const RuntimeError &e) {
        QFAIL(qPrintable(QStringLiteral("untrapped failure %1: %2").arg(e.number()).arg(e.description())));
    });
}

void ChooserTest::cleanup()
{
    setUntrappedReaction({});
}

void ChooserTest::layoutKeepsTheProportionsOfTheDesign_data()
{
    QTest::addColumn<int>("pixelSize");
    QTest::newRow("11-pixel font, near the design") << 11;
    QTest::newRow("large font") << 22;
    QTest::newRow("small font") << 8;
}

void ChooserTest::layoutKeepsTheProportionsOfTheDesign()
{
    QFETCH(int, pixelSize);
    Chooser c;
    frmTarvic &w = c.load();
    QFont font = w.font();
    font.setPixelSize(pixelSize);
    w.setFont(font);
    QVERIFY(c.showActive());
    QVERIFY(!w.windowIcon().isNull());

    const double s = w.pixelsPerTwip();
    // One scale: at least the line height of the font (195 twips a line).
    QVERIFY2(s * 195 >= QFontMetrics(font).height() - 0.5, qPrintable(QString::number(s)));

    // The client area is fixed.
    QCOMPARE(w.size(), QSize(qRound(4680 * s), qRound(3360 * s)));
    QCOMPARE(w.minimumSize(), w.maximumSize());

    struct Expect
    {
        const char *name;
        int left, top, width, height;
    };
    // The check box is 1215 wide in the design, 15 twips into the list; it stops at the list.
    const Expect table[] = {{"Run", 120, 840, 1095, 375},  {"Cancel", 120, 1320, 1095, 375},
                            {"OD", 120, 1800, 1095, 375},  {"EOR", 120, 2280, 1200, 255},
                            {"EXElist", 1320, 840, 3255, 2430}, {"EXEIcon", 360, 2640, 495, 495}};
    for (const Expect &e : table) {
        const QRect g = c.child(e.name)->geometry();
        const auto near = [](int actual, double expected) { return std::abs(actual - expected) <= 1.0; };
        QVERIFY2(near(g.x(), e.left * s) && near(g.y(), e.top * s) && near(g.width(), e.width * s)
                     && near(g.height(), e.height * s),
                 qPrintable(QStringLiteral("%1 at %2,%3 %4x%5, scale %6")
                                .arg(QLatin1String(e.name))
                                .arg(g.x())
                                .arg(g.y())
                                .arg(g.width())
                                .arg(g.height())
                                .arg(s)));
    }

    // No caption is cut: each box holds what its control asks for.
    for (const char *name : {"Run", "Cancel", "OD", "EOR"}) {
        QWidget *widget = c.child(name);
        QVERIFY2(widget->width() >= widget->sizeHint().width() && widget->height() >= widget->sizeHint().height(),
                 name);
    }
    // The label takes the size of its three lines from its corner at 120,120, above Run.
    QLabel *label = c.child<QLabel>("lblNoINF");
    QCOMPARE(label->pos(), QPoint(qRound(120 * s), qRound(120 * s)));
    QCOMPARE(label->size(), label->sizeHint());
    const QFontMetrics fm(label->font());
    QVERIFY(label->height() >= 3 * fm.height());
    QVERIFY(label->width() >= fm.horizontalAdvance(
                QStringLiteral("contain the correct information, choose a program to run")));
    QVERIFY(label->geometry().bottom() < c.child("Run")->y());
    QVERIFY(label->geometry().right() < w.width());

    // Nothing overlaps, and everything lies in the client area.
    const QList<QWidget *> all = {label, c.child("Run"), c.child("Cancel"), c.child("OD"),
                                   c.child("EOR"), c.child("EXElist"), c.child("EXEIcon")};
    for (int i = 0; i < all.size(); ++i) {
        QVERIFY2(w.rect().contains(all[i]->geometry()), qPrintable(all[i]->objectName()));
        for (int j = i + 1; j < all.size(); ++j)
            QVERIFY2(!all[i]->geometry().intersects(all[j]->geometry()),
                     qPrintable(all[i]->objectName() + QLatin1String(" and ") + all[j]->objectName()));
    }
}

void ChooserTest::labelBreaksAtEachCarriageReturn_data()
{
    QTest::addColumn<QString>("drive");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("D:") << "D:"
                        << QStringList{u"Autorun.inf on drive D: does not exist or the file does not "_s,
                                       u"contain the correct information, choose a program to run"_s,
                                       u" from drive D:."_s};
    QTest::newRow("E:") << "E:"
                        << QStringList{u"Autorun.inf on drive E: does not exist or the file does not "_s,
                                       u"contain the correct information, choose a program to run"_s,
                                       u" from drive E:."_s};
}

void ChooserTest::labelBreaksAtEachCarriageReturn()
{
    QFETCH(QString, drive);
    QFETCH(QStringList, lines);
    Chooser c;
    c.env.mapDrive(drive.at(0), c.disc);
    c.drive = drive;
    frmTarvic &w = c.load();
    // The caption stays as it was given, carriage returns and all...
    QCOMPARE(w.lblNoINF->text(), labelText(drive));
    // ...and is drawn as three lines.
    QCOMPARE(CaptionLabel::displayText(w.lblNoINF->text()).split(QLatin1Char('\n')), lines);
    QVERIFY(c.showActive());
    const QFontMetrics fm(w.lblNoINF->font());
    QVERIFY(w.lblNoINF->height() >= 3 * fm.height() && w.lblNoINF->height() < 4 * fm.height());
}

void ChooserTest::stateAtLoad()
{
    Chooser c({QStringLiteral("a.exe"), QStringLiteral("b.exe")});
    frmTarvic &w = c.load();
    QCOMPARE(w.windowTitle(), QStringLiteral("Tarvic"));
    QVERIFY(!w.Run->isEnabled());
    QVERIFY(!w.EOR->isEnabled());
    QVERIFY(!w.EOR->isChecked());
    QVERIFY(w.OD->isEnabled() && w.Cancel->isEnabled());
    QCOMPARE(w.EXElist->selectedItems().size(), 0);
    QVERIFY(w.EXEIcon->pixmap().isNull());
    QCOMPARE(c.shownNames(), (QStringList{u"a.exe"_s, u"b.exe"_s}));
    QVERIFY(c.env.starter.started.isEmpty());
}

void ChooserTest::tabOrderAndButtonRoles()
{
    Chooser c({QStringLiteral("a.exe"), QStringLiteral("b.exe")});
    frmTarvic &w = c.load();
    // The chain of the design: Run, Cancel, OD, EOR, EXElist; label and image take no focus.
    QStringList chain;
    for (QWidget *x = w.Run; chain.size() < 5; x = x->nextInFocusChain())
        if (x->focusPolicy() & Qt::TabFocus)
            chain << x->objectName();
    QCOMPARE(chain, (QStringList{u"Run"_s, u"Cancel"_s, u"OD"_s, u"EOR"_s, u"EXElist"_s}));
    QCOMPARE(w.lblNoINF->focusPolicy(), Qt::NoFocus);
    QCOMPARE(w.EXEIcon->focusPolicy(), Qt::NoFocus);
    QVERIFY(w.Run->isDefault());
    QVERIFY(w.Cancel->autoDefault() && w.OD->autoDefault());

    // First showing: Cancel has the focus, since Run is disabled; Tab skips what is disabled.
    QVERIFY(c.showActive());
    QCOMPARE(QApplication::focusWidget(), w.Cancel);
    QStringList visited;
    for (int i = 0; i < 4; ++i) {
        press(&w, Qt::Key_Tab);
        visited << QApplication::focusWidget()->objectName();
    }
    QCOMPARE(visited, (QStringList{u"OD"_s, u"EXElist"_s, u"Cancel"_s, u"OD"_s}));

    // After a selection every control is in the round, backwards as well.
    c.clickRow(0);
    QVERIFY(w.Run->isEnabled());
    visited.clear();
    for (int i = 0; i < 5; ++i) {
        press(&w, Qt::Key_Backtab, Qt::ShiftModifier);
        visited << QApplication::focusWidget()->objectName();
    }
    QCOMPARE(visited, (QStringList{u"EOR"_s, u"OD"_s, u"Cancel"_s, u"Run"_s, u"EXElist"_s}));
}

void ChooserTest::keyboardAndMouse_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QStringList>("started");
    QTest::addColumn<bool>("open");      // the window is still loaded
    QTest::addColumn<bool>("enabled");   // Run and EOR, when it is
    QTest::addColumn<bool>("ticked");

    const QString run = QStringLiteral("a.exe|2"), explorer = QStringLiteral("explorer E:|1");
    QTest::newRow("Enter right after showing presses Cancel") << "Return" << QStringList{} << false << false << false;
    QTest::newRow("keypad Enter likewise") << "Enter" << QStringList{} << false << false << false;
    QTest::newRow("Esc") << "Escape" << QStringList{} << false << false << false;
    QTest::newRow("Esc from the list") << "Tab Tab Escape" << QStringList{} << false << false << false;
    QTest::newRow("Esc after a selection") << "click:0 Escape" << QStringList{} << false << true << false;
    QTest::newRow("Alt+C") << "Alt+C" << QStringList{} << false << false << false;
    QTest::newRow("Alt+O") << "Alt+O" << QStringList{explorer} << true << false << false;
    QTest::newRow("Alt+R before a selection") << "Alt+R" << QStringList{} << true << false << false;
    QTest::newRow("Alt+E before a selection") << "Alt+E" << QStringList{} << true << false << false;
    QTest::newRow("Enter in the list before a selection") << "Tab Tab Return" << QStringList{} << true << false
                                                          << false;
    QTest::newRow("Enter on Open drive") << "Tab Return" << QStringList{explorer} << true << false << false;
    QTest::newRow("a click selects, Enter runs") << "click:0 Return" << QStringList{run} << true << true << false;
    QTest::newRow("a double click only selects") << "dblclick:0" << QStringList{} << true << true << false;
    QTest::newRow("arrow keys select, first the marked entry") << "Tab Tab Down Return" << QStringList{run} << true
                                                               << true << false;
    QTest::newRow("arrow keys move on") << "Tab Tab Down Down Return" << QStringList{u"b.exe|2"_s} << true << true
                                        << false;
    QTest::newRow("Ctrl+click keeps the entry selected") << "click:0 ctrlclick:0 Return" << QStringList{run} << true
                                                         << true << false;
    QTest::newRow("Alt+E ticks after a selection") << "click:0 Alt+E" << QStringList{} << true << true << true;
    QTest::newRow("Alt+E twice unticks") << "click:0 Alt+E Alt+E" << QStringList{} << true << true << false;
    QTest::newRow("Alt+R after a selection") << "click:1 Alt+R" << QStringList{u"b.exe|2"_s} << true << true << false;
    QTest::newRow("Enter on the ticked check box runs and closes") << "click:0 Alt+E Return" << QStringList{run}
                                                                   << false << true << true;
    QTest::newRow("Enter on a focused Cancel after a selection") << "click:0 Backtab Backtab Backtab Return"
                                                                 << QStringList{} << false << true << false;
    QTest::newRow("Run twice starts twice") << "click:0 Return Return" << QStringList{run, run} << true << true
                                            << false;
}

void ChooserTest::keyboardAndMouse()
{
    QFETCH(QString, script);
    QFETCH(QStringList, started);
    QFETCH(bool, open);
    QFETCH(bool, enabled);
    QFETCH(bool, ticked);

    Chooser c({QStringLiteral("a.exe"), QStringLiteral("b.exe")});
    c.load();
    QVERIFY(c.showActive());
    play(c, script);
    QCOMPARE(c.started(), started);
    QCOMPARE(c.w && !c.w->isUnloading(), open);
    if (open) {
        QCOMPARE(c.w->Run->isEnabled(), enabled);
        QCOMPARE(c.w->EOR->isEnabled(), enabled);
        QCOMPARE(c.w->EOR->isChecked(), ticked);
    }
    QVERIFY(c.env.boxes.shown.isEmpty());
}

void ChooserTest::iconFollowsTheSelection()
{
    Chooser c(QStringList{});
#ifdef HAVE_PE_WRITER
    QVERIFY(writePe(c.disc + QStringLiteral("/red.exe"), PeRecipe{false, true, {IconGroup{{dibIcon(drawIconImage(32, Qt::red), 32)}, {}, 0}}}));
    QVERIFY(writePe(c.disc + QStringLiteral("/blue.exe"), PeRecipe{false, true, {IconGroup{{dibIcon(drawIconImage(32, Qt::blue), 32)}, {}, 0}}}));
#else
    touch(c.disc + QStringLiteral("/blue.exe"));
    touch(c.disc + QStringLiteral("/red.exe"));
#endif
    frmTarvic &w = c.load();
    QVERIFY(c.showActive());
    const double s = w.pixelsPerTwip();
    const QPoint corner(qRound(360 * s), qRound(2640 * s));

    QStringList names;
    for (int row : {0, 1, 0}) {
        c.clickRow(row);
        const QString name = w.EXElist->selectedFileName();
        names << name;
        const QPixmap shown = w.EXEIcon->pixmap();
        QVERIFY(!shown.isNull());
        // Unscaled, at its corner, and the box as large as the picture.
        QCOMPARE(w.EXEIcon->geometry(), QRect(corner, shown.deviceIndependentSize().toSize()));
        QCOMPARE(shown.toImage(), w.Pellor.FileIcon(QStringLiteral("E:\\") + name).toImage());
#ifdef HAVE_PE_WRITER
        const QColor middle = shown.toImage().pixelColor(8, 20);
        QCOMPARE(middle, QColor(name == QLatin1String("red.exe") ? Qt::red : Qt::blue));
#endif
    }
    QCOMPARE(names, (QStringList{u"blue.exe"_s, u"red.exe"_s, u"blue.exe"_s}));
    QVERIFY(c.env.starter.started.isEmpty());
}

void ChooserTest::runStartsTheBareNameInTheDriveRoot_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("exitOnRun");
    QTest::newRow("exit on run") << "setup.exe" << true;
    QTest::newRow("stay open") << "setup.exe" << false;
    QTest::newRow("blanks, no quotes") << "my setup program.exe" << false;
    QTest::newRow("upper case") << "SETUP.EXE" << true;
}

void ChooserTest::runStartsTheBareNameInTheDriveRoot()
{
    QFETCH(QString, name);
    QFETCH(bool, exitOnRun);
    Chooser c({name, QStringLiteral("sub/deep.exe")});
    frmTarvic &w = c.load();
    // The drive's own current folder lies elsewhere until Run changes to the drive.
    QDir::setCurrent(c.env.newFolder(QStringLiteral("elsewhere")));
    QVERIFY(c.showActive());
    c.clickRow(0);
    QCOMPARE(w.EXElist->selectedFileName(), name);
    if (exitOnRun)
        w.EOR->click();
    w.Run->click();
    QCOMPARE(c.started(), QStringList{name + QStringLiteral("|2")});
    QCOMPARE(QDir(c.env.starter.started[0].workingDirectory).canonicalPath(), QDir(c.disc).canonicalPath());
    QCOMPARE(c.w.isNull() || c.w->isUnloading(), exitOnRun);
    QVERIFY(c.env.boxes.shown.isEmpty());
}

void ChooserTest::runErrorForAProgramNoLongerThere()
{
    Chooser c({QStringLiteral("gone 'soon'.exe"), QStringLiteral("stays.exe")});
    frmTarvic &w = c.load();
    QVERIFY(c.showActive());
    c.clickRow(0);
    w.EOR->click();
    QVERIFY(QFile::remove(c.disc + QStringLiteral("/gone 'soon'.exe")));
    w.Run->click();
    QCOMPARE(c.env.boxes.shown.size(), 1);
    QCOMPARE(c.env.boxes.shown[0].text, QStringLiteral("Could not run the program 'gone 'soon'.exe'"));
    QCOMPARE(c.env.boxes.shown[0].flags, 16);
    QCOMPARE(c.env.boxes.shown[0].title, QStringLiteral("Run Error"));
    QVERIFY(c.env.starter.started.isEmpty());
    // The window, its selection and the tick stay; the user may choose again.
    QVERIFY(c.w && !w.isUnloading());
    QCOMPARE(w.EXElist->selectedFileName(), QStringLiteral("gone 'soon'.exe"));
    QVERIFY(w.EOR->isChecked());
    c.clickRow(1);
    w.Run->click();
    QCOMPARE(c.started(), QStringList{QStringLiteral("stays.exe|2")});
}

void ChooserTest::discTakenOutWhileTheWindowIsOpen()
{
    Chooser c({QStringLiteral("a.exe"), QStringLiteral("b.exe")});
    frmTarvic &w = c.load();
    QVERIFY(c.showActive());
    c.clickRow(0);
    // An empty folder drive is a drive without a disc.
    QVERIFY(QDir(c.disc).removeRecursively());
    makeFolder(c.disc);
    QList<int> reported;
    setUntrappedReaction([&reported](const RuntimeError &e) { reported << e.number(); });
    // Selecting still works and shows some picture.
    c.clickRow(1);
    QVERIFY(reported.isEmpty());
    QVERIFY(!w.EXEIcon->pixmap().isNull());
    // Run cannot change to the drive: the default report, nothing started, no box.
    w.Run->click();
    QCOMPARE(reported, QList<int>{Err::DiskNotReady});
    QVERIFY(c.env.starter.started.isEmpty());
    QVERIFY(c.env.boxes.shown.isEmpty());

    // A start that fails although the file exists goes the same way.
    reported.clear();
    touch(c.disc + QStringLiteral("/b.exe"));
    c.env.starter.failWith = [](const QString &) { throw RuntimeError(Err::InvalidCall, QStringLiteral("no program")); };
    w.EOR->click();
    w.Run->click();
    QCOMPARE(reported, QList<int>{Err::InvalidCall});
    QVERIFY(c.w && !w.isUnloading());
}

void ChooserTest::openDriveStartsTheExplorer()
{
    Chooser c;
    c.env.mapDrive(QLatin1Char('d'), c.disc);
    c.drive = QStringLiteral("D:");
    frmTarvic &w = c.load();
    QVERIFY(c.showActive());
    w.OD->click();
    w.OD->click();
    QCOMPARE(c.started(), (QStringList{u"explorer D:|1"_s, u"explorer D:|1"_s}));
    QVERIFY(c.w && !w.isUnloading());
    // The window's own close control unloads it and starts nothing.
    w.close();
    QVERIFY(c.w.isNull() || c.w->isUnloading());
    QCOMPARE(c.started().size(), 2);
    QVERIFY(c.env.boxes.shown.isEmpty());
}

void ChooserTest::listShowsTheRootOfADiscPutInLate()
{
    Chooser c(QStringList{});
    const QString start = c.env.newFolder(QStringLiteral("start"));
    touch(start + QStringLiteral("/stale.exe"));
    QDir::setCurrent(start);
    frmTarvic &w = c.load();
    // No disc at load: the list keeps the folder the program started in.
    QCOMPARE(c.shownNames(), QStringList{QStringLiteral("stale.exe")});
    touch(c.disc + QStringLiteral("/setup.exe"));
    touch(c.disc + QStringLiteral("/Autorun.exe"));
    QVERIFY(c.showActive());
    QCOMPARE(c.shownNames(), (QStringList{u"Autorun.exe"_s, u"setup.exe"_s}));
    QCOMPARE(w.listFolder(), QFile::encodeName(c.disc));
    // And Run finds what the list shows.
    c.clickRow(1);
    w.Run->click();
    QCOMPARE(c.started(), QStringList{QStringLiteral("setup.exe|2")});
    QVERIFY(c.env.boxes.shown.isEmpty());
}

void ChooserTest::discPutInDuringTheDiscRequestIsListed()
{
    TestEnv env;
    const QString disc = env.newFolder(QStringLiteral("disc"));
    env.mapDrive(QLatin1Char('e'), disc);
    const QString start = env.newFolder(QStringLiteral("start"));
    touch(start + QStringLiteral("/stale.exe"));
    QDir::setCurrent(start);
    // The user puts the disc in while the "Disc Request" box is up, then presses Retry.
    env.boxes.answers = {Mb::Retry};
    env.boxes.whileShown = [&disc](const ShownBox &) {
        touch(disc + QStringLiteral("/install.exe"));
        touch(disc + QStringLiteral("/readme.txt"));
    };
    mainTarvic program(env.services());
    program.Main(QStringLiteral("e:"));
    QCOMPARE(env.boxes.shown.size(), 1);
    QCOMPARE(env.boxes.shown[0].title, QStringLiteral("Disc Request"));
    QVERIFY(program.forms().isTarvicLoaded());
    frmTarvic &w = program.forms().frmTarvic();
    QVERIFY(w.isVisible());
    QCOMPARE(w.EXElist->count(), 1);
    QCOMPARE(w.EXElist->item(0)->text(), QStringLiteral("install.exe"));
    program.forms().unloadTarvic();
}

void ChooserTest::listShowsOnlyVisiblePlainPrograms()
{
    Chooser c({QStringLiteral("b.Exe"), QStringLiteral("A.EXE"), QStringLiteral("c.exe"), QStringLiteral(".hidden.exe"),
               QStringLiteral("notes.txt"), QStringLiteral("c.exe.txt"), QStringLiteral("exe"),
               QStringLiteral("zed.exe"), QStringLiteral("Zed.exe"), QStringLiteral("_under.exe"),
               QStringLiteral("sub/inner.exe")});
    const QString outside = c.env.newFolder(QStringLiteral("outside"));
    touch(outside + QStringLiteral("/evil.exe"));
    makeFolder(c.disc + QStringLiteral("/folder.exe"));
    const auto link = [&](const QString &target, const QString &name) {
        QCOMPARE(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(c.disc + QLatin1Char('/') + name).constData()), 0);
    };
    link(QStringLiteral("A.EXE"), QStringLiteral("linked.exe"));
    link(QStringLiteral("sub/inner.exe"), QStringLiteral("deeper.exe"));
    link(outside + QStringLiteral("/evil.exe"), QStringLiteral("leaves.exe"));
    link(QStringLiteral("missing.exe"), QStringLiteral("dangling.exe"));
    link(QStringLiteral("sub"), QStringLiteral("tofolder.exe"));
    QCOMPARE(::mkfifo(QFile::encodeName(c.disc + QStringLiteral("/pipe.exe")).constData(), 0600), 0);

    frmTarvic &w = c.load();
    // Sorted without regard to case; names equal but for case in byte order.
    QCOMPARE(c.shownNames(), (QStringList{u"_under.exe"_s, u"A.EXE"_s, u"b.Exe"_s, u"c.exe"_s, u"deeper.exe"_s, u"linked.exe"_s,
                                          u"Zed.exe"_s, u"zed.exe"_s}));
    QCOMPARE(w.EXElist->selectionMode(), QAbstractItemView::SingleSelection);
    for (int i = 0; i < w.EXElist->count(); ++i)
        QVERIFY(w.Pellor.FileExists(QStringLiteral("E:\\") + w.EXElist->item(i)->text()));
}

void ChooserTest::oddNamesStayOneEntryAndFindTheirFile()
{
    const QByteArray invalid("bad\xff\xfe name.exe");
    Chooser c({QStringLiteral("line\nbreak.exe"), QStringLiteral("tab\there.exe"),
               QStringLiteral("\u202Etxt.exe"), QStringLiteral("\u00e9t\u00e9.exe"),
               QStringLiteral("say \"hi\".exe")});
    {
        // No QString stands for these bytes; make the file by its raw name.
        const int fd = ::open((QFile::encodeName(c.disc) + '/' + invalid).constData(), O_CREAT | O_WRONLY, 0644);
        QVERIFY(fd >= 0);
        ::close(fd);
    }
    // QTemporaryDir cannot remove what it cannot name.
    const auto removeRaw = qScopeGuard([&] { ::unlink((QFile::encodeName(c.disc) + '/' + invalid).constData()); });
    frmTarvic &w = c.load();
    QVERIFY(c.showActive());
    QCOMPARE(w.EXElist->count(), 6);
    for (int row = 0; row < w.EXElist->count(); ++row) {
        const QString shown = w.EXElist->item(row)->text();
        // One line each, nothing that turns the text round.
        QVERIFY2(!shown.contains(QLatin1Char('\n')) && !shown.contains(QLatin1Char('\t'))
                     && !shown.contains(QChar(0x202E)),
                 qPrintable(shown));
        QVERIFY(shown.endsWith(QLatin1String(".exe")));
        c.clickRow(row);
        const QString name = w.EXElist->selectedFileName();
        QCOMPARE(FileListBox::displayName(name), shown);
        QVERIFY2(w.Pellor.FileExists(QStringLiteral("E:\\") + name), qPrintable(name));
        w.Run->click();
        QCOMPARE(c.env.starter.started.last().commandLine, name);
    }
    QCOMPARE(c.env.starter.started.size(), 6);
    QVERIFY(c.env.boxes.shown.isEmpty());
}

void ChooserTest::unreadableRootIsAFailureOfTheHandler()
{
    if (::geteuid() == 0)
        QSKIP("root reads every folder");
    Chooser c({QStringLiteral("a.exe")});
    QVERIFY(QFile::setPermissions(c.disc, QFileDevice::WriteOwner));
    QPointer<frmTarvic> w = new frmTarvic(c.drive, c.env.paths(), c.env.starter, c.env.boxes);
    c.w = w;
    bool failed = false;
    try {
        w->load();
    } catch (const RuntimeError &e) {
        failed = true;
        QCOMPARE(e.number(), Err::PermissionDenied);
    }
    QFile::setPermissions(c.disc, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QVERIFY(failed);
}

void ChooserTest::thousandsOfProgramsScroll()
{
    Chooser c(QStringList{});
    QStringList expected;
    for (int i = 0; i < 3000; ++i) {
        const QString name = QStringLiteral("prog%1.exe").arg(i, 5, 10, QLatin1Char('0'));
        touch(c.disc + QLatin1Char('/') + name);
        expected << name;
    }
    touch(c.disc + QStringLiteral("/a rather long name of a program that is wider than the list could ever be.exe"));
    expected.prepend(QStringLiteral("a rather long name of a program that is wider than the list could ever be.exe"));
    // The layout of a window with a single program, for comparison.
    QRect before;
    QSize window;
    {
        Chooser one({QStringLiteral("one.exe")});
        one.load();
        QVERIFY(one.showActive());
        before = one.w->EXElist->geometry();
        window = one.w->size();
    }
    frmTarvic &w = c.load();
    QVERIFY(c.showActive());
    QCOMPARE(c.shownNames(), expected);
    QVERIFY(w.EXElist->verticalScrollBar()->isVisible());
    QVERIFY(!w.EXElist->horizontalScrollBar()->isVisible());
    QCOMPARE(w.EXElist->geometry(), before);
    QCOMPARE(w.size(), window);
    // The last entry can be reached and chosen.
    w.EXElist->setFocus();
    press(&w, Qt::Key_End);
    QCOMPARE(w.EXElist->selectedFileName(), expected.last());
    QVERIFY(w.Run->isEnabled());
}

QTEST_MAIN(ChooserTest)
#include "test_chooser.moc"
