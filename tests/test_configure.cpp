// The configuration window: layout, keyboard, loading and saving through a real
// settings file, the pickers, and a save that fails without leaving half a file.
#include "configure/frmconfigure.h"
#include "configure/qt_pickers.h"
#include "platform/runtime_error.h"
#include "platform/untrapped.h"
#include "support/test_env.h"

#include <QComboBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QStyleOptionFrame>
#include <QtTest>
#include <csignal>
#include <sys/fsuid.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tarvic;
using namespace tarvic::test;

namespace {

// The keys in the order they are saved, and the boxes and buttons that hold them.
const QStringList SaveOrder = {Key::VideoDVD, Key::DVDSI, Key::AudioCD, Key::CDSI};
const QStringList Boxes = {QStringLiteral("txtEXE"), QStringLiteral("txtSI"), QStringLiteral("txtAudio"),
                           QStringLiteral("txtCDSI")};
const QStringList Buttons = {QStringLiteral("Browse1"), QStringLiteral("Browse2"), QStringLiteral("Browse3"),
                             QStringLiteral("Browse4")};
const QStringList Before = {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("d")};

// Passes everything on to the real store and notes the keys of every write.
struct RecordingSettings final : SettingsStore
{
    explicit RecordingSettings(SettingsStore &inner) : inner(inner) {}
    QString read(const QString &key) override { return inner.read(key); }
    void write(const QList<std::pair<QString, QString>> &values) override
    {
        writes << QStringList();
        for (const auto &kv : values)
            writes.last() << kv.first;
        inner.write(values);
    }
    SettingsStore &inner;
    QList<QStringList> writes;
};

QList<int> untrapped;   // numbers of the failures that reached the default report

enum SaveFailure { FileSizeLimit, FolderIsAFile, ReadOnlyFolder };

// One loaded window, on its own private settings file unless given another store.
struct Window
{
    explicit Window(SettingsStore *settings = nullptr, FilePicker *files = nullptr, FolderPicker *folders = nullptr)
        : store(settings ? *settings : env.settings()),
          w(new frmConfigure(store, files ? *files : env.filePicker, folders ? *folders : env.folderPicker))
    {
        w->load();
    }
    ~Window() { delete w.data(); }

    bool showActive()
    {
        w->show();
        return QTest::qWaitForWindowActive(w);
    }
    QWidget *widget(const QString &name) const { return w->findChild<QWidget *>(name); }
    QPushButton *button(const QString &name) const { return w->findChild<QPushButton *>(name); }
    QStringList texts() const
    {
        QStringList t;
        for (const QString &b : Boxes)
            t << w->findChild<QLineEdit *>(b)->text();
        return t;
    }
    void setTexts(const QStringList &t)
    {
        for (int i = 0; i < Boxes.size(); ++i)
            w->findChild<QLineEdit *>(Boxes[i])->setText(t[i]);
    }
    bool noPickerShown() const { return env.filePicker.titles.isEmpty() && env.folderPicker.prompts.isEmpty(); }

    TestEnv env;
    RecordingSettings store;
    QPointer<frmConfigure> w;
};

void keyOn(QWidget *target, int key, int modifiers = 0)
{
    QTest::keyClick(target, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
}

// Runs `act` on the next modal dialog once it is up.
void whenModal(std::function<void(QFileDialog *)> act)
{
    QTimer::singleShot(0, qApp, [act] {
        auto *d = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        QVERIFY(d);
        act(d);
    });
}

void touchProgram(const QString &path)
{
    touch(path, "x");
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

} // namespace

class ConfigureTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { setUntrappedReaction([](const RuntimeError &e) { untrapped << e.number(); }); }
    void init() { untrapped.clear(); }

    void layoutFitsItsTextsWithoutOverlaps_data();
    void layoutFitsItsTextsWithoutOverlaps();
    void keysMoveTheFocusInOrder();
    void everyWayOfClosingSavesAllFourInOrder_data();
    void everyWayOfClosingSavesAllFourInOrder();
    void eachButtonPicksForItsOwnBoxOnly_data();
    void eachButtonPicksForItsOwnBoxOnly();
    void aFailedSaveKeepsTheOldFileWhole_data();
    void aFailedSaveKeepsTheOldFileWhole();
    void fileDialogListsProgramsThenEverything();
    void folderPickerHonoursItsOptions_data();
    void folderPickerHonoursItsOptions();
    void realPickersFillOnlyTheirBoxes();
};

void ConfigureTest::layoutFitsItsTextsWithoutOverlaps_data()
{
    QTest::addColumn<int>("pixelSize");   // 0: the default font
    QTest::addColumn<bool>("fontSetLater");
    QTest::newRow("default font") << 0 << false;
    QTest::newRow("small 11-pixel font") << 11 << false;
    QTest::newRow("large 20-pixel font") << 20 << false;
    QTest::newRow("font changed on the open window") << 20 << true;
}

void ConfigureTest::layoutFitsItsTextsWithoutOverlaps()
{
    QFETCH(int, pixelSize);
    QFETCH(bool, fontSetLater);
    const QFont appFont = QApplication::font();
    QFont font = appFont;
    if (pixelSize)
        font.setPixelSize(pixelSize);
    if (!fontSetLater)
        QApplication::setFont(font);
    Window win;
    QApplication::setFont(appFont);
    frmConfigure *w = win.w;
    if (fontSetLater)
        w->setFont(font);
    const QFontMetrics fm(w->font());
    QCOMPARE(w->minimumSize(), w->maximumSize());

    // One column read top to bottom, each box with its button at its right.
    const auto in = [&](const QString &n) { return QRect(win.widget(n)->mapTo(w, QPoint()), win.widget(n)->size()); };
    const QStringList column = {QStringLiteral("lblEXE"),  Boxes[0], QStringLiteral("lblSI"),   Boxes[1],
                                QStringLiteral("lblCDPlayer"), Boxes[2], QStringLiteral("lblCDSI"), Boxes[3],
                                QStringLiteral("Label1"),  QStringLiteral("cmdClose")};
    for (int i = 1; i < column.size(); ++i)
        QVERIFY2(in(column[i - 1]).bottom() < in(column[i]).top(), qPrintable(column[i]));
    for (int i = 0; i < 4; ++i) {
        const QRect box = in(Boxes[i]), button = in(Buttons[i]);
        QVERIFY2(button.left() > box.right() && button.top() <= box.center().y() && button.bottom() >= box.center().y(),
                 qPrintable(Buttons[i]));
    }
    // The window grows with the font: even margins right and below, as at the left.
    const int margin = win.widget(QStringLiteral("fraOpts"))->x();
    QVERIFY(std::abs(w->width() - in(QStringLiteral("fraOpts")).right() - 1 - margin) <= 1);
    QVERIFY(std::abs(w->height() - in(QStringLiteral("cmdClose")).bottom() - 1 - margin) <= 1);

    // No two controls of one container overlap, and each lies inside it.
    for (QWidget *container : {static_cast<QWidget *>(w), win.widget(QStringLiteral("fraOpts")),
                               win.widget(QStringLiteral("fraAudio"))}) {
        const QList<QWidget *> kids = container->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
        for (QWidget *a : kids) {
            QVERIFY2(container->rect().contains(a->geometry()), qPrintable(a->objectName()));
            for (QWidget *b : kids)
                QVERIFY2(a == b || !a->geometry().intersects(b->geometry()),
                         qPrintable(a->objectName() + QStringLiteral(" / ") + b->objectName()));
        }
    }

    // Every text fits: labels (the long one wrapped) and frame titles in full, a
    // line in each box, the button captions.
    for (auto *label : w->findChildren<QLabel *>()) {
        const QString text = QString(label->text()).remove(QLatin1Char('&'));
        const bool fits = label->wordWrap() ? label->heightForWidth(label->width()) <= label->height()
                                            : label->width() >= fm.horizontalAdvance(text) && label->height() >= fm.height();
        QVERIFY2(fits, qPrintable(label->objectName()));
    }
    for (auto *frame : w->findChildren<QGroupBox *>()) {
        QStyleOptionGroupBox opt;
        opt.initFrom(frame);
        opt.text = frame->title();
        opt.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
        const QRect title = frame->style()->subControlRect(QStyle::CC_GroupBox, &opt, QStyle::SC_GroupBoxLabel, frame);
        QVERIFY2(frame->rect().contains(title) && title.width() >= fm.horizontalAdvance(frame->title()),
                 qPrintable(frame->objectName()));
        for (auto *label : frame->findChildren<QLabel *>())
            QVERIFY2(label->y() >= title.bottom(), qPrintable(label->objectName()));
    }
    for (auto *box : w->findChildren<QLineEdit *>()) {
        QStyleOptionFrame opt;
        opt.initFrom(box);
        opt.rect = box->rect();
        opt.lineWidth = box->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &opt, box);
        const QRect text = box->style()->subElementRect(QStyle::SE_LineEditContents, &opt, box);
        QVERIFY2(text.height() >= fm.height(), qPrintable(box->objectName()));
    }
    for (auto *button : w->findChildren<QPushButton *>()) {
        const QString text = QString(button->text()).remove(QLatin1Char('&'));
        const int margin = button->style()->pixelMetric(QStyle::PM_ButtonMargin);
        QVERIFY2(button->width() >= fm.horizontalAdvance(text) + margin && button->height() >= fm.height() + 4,
                 qPrintable(button->objectName()));
    }
}

void ConfigureTest::keysMoveTheFocusInOrder()
{
    Window win;
    QVERIFY(win.showActive());
    QCOMPARE(QApplication::focusWidget(), win.widget(Boxes[0]));
    const QStringList order = {Boxes[0], Buttons[0], Boxes[1], Buttons[1], Boxes[2],
                               Buttons[2], Boxes[3], Buttons[3], QStringLiteral("cmdClose")};
    // Tab goes round once, Shift+Tab back round.
    for (int i = 1; i <= order.size(); ++i) {
        keyOn(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), order[i % order.size()]);
    }
    for (int i = order.size() - 1; i >= 0; --i) {
        keyOn(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(QApplication::focusWidget()->objectName(), order[i]);
    }

    // Each label's access key moves to its box, from a button as from another box.
    win.widget(Buttons[3])->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), win.widget(Buttons[3]));
    for (const auto &[key, box] : {std::pair{Qt::Key_I, 3}, {Qt::Key_C, 2}, {Qt::Key_S, 1}, {Qt::Key_D, 0}}) {
        keyOn(QApplication::focusWidget(), key, Qt::AltModifier);
        QCOMPARE(QApplication::focusWidget(), win.widget(Boxes[box]));
    }
    QVERIFY(win.noPickerShown() && !win.w->isUnloading());
}

void ConfigureTest::everyWayOfClosingSavesAllFourInOrder_data()
{
    // Each way of closing comes with a value that a settings file could garble.
    QTest::addColumn<QString>("focusOn");   // "a>b": b has the focus after a had it
    QTest::addColumn<int>("key");           // 0: click cmdClose or, on the window, its close control
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("value");
    QTest::newRow("click on Exit; empty") << "cmdClose" << 0 << 0 << QString();
    QTest::newRow("close control; blanks at both ends") << "" << 0 << 0 << "  /opt/my player/play  ";
    QTest::newRow("Enter in the first box; INI syntax")
        << "txtEXE" << int(Qt::Key_Return) << 0 << "[Tarvic] #x ;y play; rm x, y --opt=a=b = %HOME% %1 %%";
    QTest::newRow("keypad Enter in the last box; quotes and backslashes")
        << "txtCDSI" << int(Qt::Key_Enter) << int(Qt::KeypadModifier) << "\"C:\\My Player\\p.exe\" 'x' \" \\\\srv\\s\\";
    QTest::newRow("Enter on Exit; like a QSettings variant")
        << "cmdClose" << int(Qt::Key_Return) << 0 << "@Variant(\\0\\0) @ByteArray(x)";
    QTest::newRow("Esc in a box; Unicode and control characters")
        << "txtSI" << int(Qt::Key_Escape) << 0
        << QStringLiteral("/home/\u00e9l\u00e8ve/\u64ad\u653e\u5668/\U0001F4BF \u202Eevil a\tb\x01" "c");
    QTest::newRow("Esc on a ... button; line breaks set by the program")
        << "Browse3" << int(Qt::Key_Escape) << 0 << "first\nsecond\r\nthird\r";
    QTest::newRow("Alt+E from a box; 100 KB")
        << "txtAudio" << int(Qt::Key_E) << int(Qt::AltModifier) << QString(100 * 1024, QLatin1Char('x')).append(u'\u00e9');
    QTest::newRow("Alt+E from a ... button") << "Browse4" << int(Qt::Key_E) << int(Qt::AltModifier) << "/usr/bin/vlc -f";
    QTest::newRow("Enter in a box after a ... button had the focus")
        << "Browse2>txtAudio" << int(Qt::Key_Return) << 0 << " C:\\Audio ";
}

void ConfigureTest::everyWayOfClosingSavesAllFourInOrder()
{
    QFETCH(QString, focusOn);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QString, value);
    Window win;
    const QString old = QStringLiteral("old");
    win.env.settings().write({{Key::VideoDVD, old}, {Key::DVDSI, old}, {Key::AudioCD, old}, {Key::CDSI, old}});
    QVERIFY(win.showActive());
    // A different text in each box but the second, emptied: it must overwrite its old value too.
    const QStringList typed = {value, QString(), QLatin1Char('3') + value, value + QLatin1Char('4')};
    win.setTexts(typed);

    QWidget *target = win.w;
    for (const QString &name : focusOn.split(QLatin1Char('>'), Qt::SkipEmptyParts)) {
        target = win.widget(name);
        target->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), target);
    }
    QVERIFY2(win.store.writes.isEmpty(), "nothing is written before the window closes");
    QSignalSpy unloaded(win.w.data(), &Form::unloaded);
    if (key)
        keyOn(target, key, modifiers);
    else if (target == win.w)
        win.w->close();
    else
        static_cast<QPushButton *>(target)->click();

    QTRY_COMPARE(unloaded.count(), 1);   // an access key presses the button after a short show
    QVERIFY(!win.w || win.w->isHidden());
    QCOMPARE(win.store.writes, QList<QStringList>{SaveOrder});
    for (int i = 0; i < SaveOrder.size(); ++i)
        QCOMPARE(win.env.settings().read(SaveOrder[i]), typed[i]);
    QVERIFY(win.noPickerShown());
    QVERIFY(untrapped.isEmpty());

    // The next window loads each into its own box.
    QCOMPARE(Window(&win.env.settings()).texts(), typed);
}

void ConfigureTest::eachButtonPicksForItsOwnBoxOnly_data()
{
    QTest::addColumn<int>("box");   // index into Boxes and Buttons
    QTest::addColumn<QString>("title");
    QTest::newRow("Browse1, txtEXE") << 0 << "Choose a DVD Video Player Application";
    QTest::newRow("Browse2, txtSI") << 1 << "Choose a folder for the DVD Video player application:";
    QTest::newRow("Browse3, txtAudio") << 2 << "Choose a CD Audio Player Application";
    QTest::newRow("Browse4, txtCDSI") << 3 << "Choose a folder for the CD Audio player application:";
}

void ConfigureTest::eachButtonPicksForItsOwnBoxOnly()
{
    QFETCH(int, box);
    QFETCH(QString, title);
    const bool folder = box % 2;
    Window win;
    QVERIFY(win.showActive());
    win.setTexts(Before);
    const QStringList &shown = folder ? win.env.folderPicker.prompts : win.env.filePicker.titles;
    const QStringList &other = folder ? win.env.filePicker.titles : win.env.folderPicker.prompts;

    // Enter on the button opens its own picker; the pick is cancelled, which changes
    // nothing and does not bring back the picker's earlier file.
    win.env.filePicker.fileName = QStringLiteral("/an/earlier/pick");
    QPushButton *button = win.button(Buttons[box]);
    button->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), button);
    keyOn(button, Qt::Key_Return);
    QCOMPARE(shown, QStringList{title});
    QVERIFY(other.isEmpty());
    QCOMPARE(win.texts(), Before);
    QVERIFY(win.w->isVisible() && !win.w->isUnloading());

    // A pick goes into its own box as the picker gave it: no slash added or removed, nothing checked.
    const QString picked = folder ? QStringLiteral("/no such folder/") : QStringLiteral("/opt/Player X/play.EXE");
    win.env.filePicker.answers = {picked};
    win.env.folderPicker.answers = {picked};
    button->click();
    QStringList expected = Before;
    expected[box] = picked;
    QCOMPARE(win.texts(), expected);
    if (folder)
        QCOMPARE(win.env.folderPicker.options, (QList<short>{17, 17}));   // real folders only, with an edit box
    QVERIFY(win.store.writes.isEmpty() && untrapped.isEmpty());
}

void ConfigureTest::aFailedSaveKeepsTheOldFileWhole_data()
{
    QTest::addColumn<int>("how");
    QTest::newRow("file size limit") << int(FileSizeLimit);
    QTest::newRow("folder blocked by a file") << int(FolderIsAFile);
    QTest::newRow("read-only folder") << int(ReadOnlyFolder);
}

void ConfigureTest::aFailedSaveKeepsTheOldFileWhole()
{
    QFETCH(int, how);
    QTemporaryDir home;
    const QString folder = home.filePath(QStringLiteral("settings"));
    makeFolder(folder);
    // For FolderIsAFile a file stands where the settings file's folder would be made.
    const QString onDisk = folder + (how == FolderIsAFile ? QStringLiteral("/blocked") : QStringLiteral("/Halvane.ini"));
    const QByteArray bytes = "[Tarvic]\nVideoDVD=/old/dvd\nDVDSI=/old/dvd si\nAudioCD=\nCDSI=/old/cd si\n";
    touch(onDisk, bytes);
    HalvaneSettings settings(how == FolderIsAFile ? onDisk + QStringLiteral("/Halvane.ini") : onDisk);
    {
        Window win(&settings);
        const QString big(8192, QLatin1Char('n'));   // past the size limit set below
        win.setTexts({big + QLatin1Char('1'), big + QLatin1Char('2'), big + QLatin1Char('3'), big + QLatin1Char('4')});
        rlimit saved{};
        ::getrlimit(RLIMIT_FSIZE, &saved);
        const auto savedSignal = std::signal(SIGXFSZ, SIG_IGN);
        if (how == FileSizeLimit) {
            // Limits hold for root too: a write past 4 KB fails with EFBIG.
            rlimit small = saved;
            small.rlim_cur = 4096;
            QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
        }
        if (how == ReadOnlyFolder) {
            // Root writes into read-only folders, so it saves as an ordinary owner would.
            const uid_t owner = ::geteuid() ? ::geteuid() : 65534;
            QVERIFY(::chmod(qPrintable(home.path()), 0711) == 0 && ::chown(qPrintable(folder), owner, -1) == 0 &&
                    ::chown(qPrintable(onDisk), owner, -1) == 0 && ::chmod(qPrintable(folder), 0500) == 0);
            ::setfsuid(owner);
        }
        win.button(QStringLiteral("cmdClose"))->click();
        ::setfsuid(::geteuid());
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, savedSignal);
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(untrapped, QList<int>{Err::PathFileAccess});
    }
    QFile f(onDisk);
    QVERIFY(f.open(QIODevice::ReadOnly));
    // The bytes themselves: QSettings keeps a failed write's values in its
    // in-process cache, so a read in this process would not tell.
    QCOMPARE(f.readAll(), bytes);
    QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System),
             QStringList{QFileInfo(f).fileName()});   // no temporary or lock file left behind
}

void ConfigureTest::fileDialogListsProgramsThenEverything()
{
    QTemporaryDir dir;
    for (const char *n : {"SETUP.EXE", "tool.exe", "setup.exe.txt", "notes"})
        touch(dir.filePath(QLatin1String(n)), "x");
    touchProgram(dir.filePath(QStringLiteral("vlc")));
    makeFolder(dir.filePath(QStringLiteral("sub")));
    QtFilePicker picker;
    const auto dialog = picker.makeDialog();
    const QStringList filters = {QStringLiteral("Application (*.exe)"), QStringLiteral("All files (*.*)")};
    QCOMPARE(dialog->nameFilters(), filters);
    QCOMPARE(dialog->selectedNameFilter(), filters[0]);
    dialog->setDirectory(dir.path());
    dialog->show();

    auto *proxy = qobject_cast<ProgramFilterProxy *>(dialog->proxyModel());
    QVERIFY(proxy);
    auto *files = qobject_cast<QFileSystemModel *>(proxy->sourceModel());
    const auto listed = [&] {
        QStringList names;
        const QModelIndex root = proxy->mapFromSource(files->index(dir.path()));
        for (int r = 0; r < proxy->rowCount(root); ++r)
            names << proxy->index(r, 0, root).data().toString();
        names.sort();
        return names;
    };
    // Folders, executable files and *.exe in any case; not a name with .exe inside.
    const QStringList programs = {QStringLiteral("SETUP.EXE"), QStringLiteral("sub"), QStringLiteral("tool.exe"),
                                  QStringLiteral("vlc")};
    QTRY_COMPARE(listed(), programs);

    // The user picks the second filter in the box, then the first again.
    auto *combo = dialog->findChild<QComboBox *>(QStringLiteral("fileTypeCombo"));
    QVERIFY(combo);
    combo->setFocus();
    keyOn(combo, Qt::Key_Down);
    QTRY_COMPARE(listed(), (QStringList{QStringLiteral("SETUP.EXE"), QStringLiteral("notes"), QStringLiteral("setup.exe.txt"),
                                        QStringLiteral("sub"), QStringLiteral("tool.exe"), QStringLiteral("vlc")}));
    keyOn(combo, Qt::Key_Up);
    QTRY_COMPARE(listed(), programs);
}

void ConfigureTest::folderPickerHonoursItsOptions_data()
{
    QTest::addColumn<int>("options");
    QTest::addColumn<QString>("chosen");   // "<dir>" is a real folder
    QTest::addColumn<QString>("result");
    QTest::newRow("17, a real folder") << 17 << "<dir>" << "<dir>";
    QTest::newRow("17, no such folder") << 17 << "/no/such/folder" << "";
    QTest::newRow("16, no such folder") << 16 << "/no/such/folder" << "/no/such/folder";
    QTest::newRow("1, without the edit box") << 1 << "<dir>" << "<dir>";
    QTest::newRow("17, nothing chosen") << 17 << "" << "";
}

void ConfigureTest::folderPickerHonoursItsOptions()
{
    QFETCH(int, options);
    QFETCH(QString, chosen);
    QFETCH(QString, result);
    QTemporaryDir dir;
    chosen.replace(QStringLiteral("<dir>"), dir.path());
    result.replace(QStringLiteral("<dir>"), dir.path());
    QCOMPARE(QtFolderPicker::result(chosen, short(options)), result);

    const auto dialog = QtFolderPicker().makeDialog(QStringLiteral("Choose a folder:"), short(options));
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Choose a folder:"));
    QCOMPARE(dialog->fileMode(), QFileDialog::Directory);
    auto *edit = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    QVERIFY(edit);
    QCOMPARE(edit->isVisibleTo(dialog.get()), bool(options & 16));
}

void ConfigureTest::realPickersFillOnlyTheirBoxes()
{
    QTemporaryDir dir;
    const QString player = dir.filePath(QStringLiteral("player")), folder = dir.filePath(QStringLiteral("start in"));
    touchProgram(player);
    makeFolder(folder);
    QtFilePicker files;
    QtFolderPicker folders;
    Window win(nullptr, &files, &folders);
    win.setTexts(Before);
    for (const QString &path : {player, folder}) {
        whenModal([path](QFileDialog *d) {
            d->setDirectory(QFileInfo(path).path());
            d->selectFile(path);
            static_cast<QDialog *>(d)->accept();
        });
        win.button(Buttons[path == player ? 0 : 1])->click();
    }
    const QStringList picked = {player, folder, Before[2], Before[3]};
    QCOMPARE(win.texts(), picked);

    // Cancelled picks change nothing. The file dialog came with its new title and
    // opened on the file chosen last.
    QString title;
    QStringList opensOn;
    whenModal([&](QFileDialog *d) {
        title = d->windowTitle();
        opensOn = d->selectedFiles();
        d->reject();
    });
    win.button(Buttons[2])->click();
    whenModal([](QFileDialog *d) { d->reject(); });
    win.button(Buttons[3])->click();
    QCOMPARE(win.texts(), picked);
    QCOMPARE(title, QStringLiteral("Choose a CD Audio Player Application"));
    QCOMPARE(opensOn, QStringList{player});
    QCOMPARE(files.FileName(), player);
    QVERIFY(untrapped.isEmpty());
}

QTEST_MAIN(ConfigureTest)
#include "test_configure.moc"
