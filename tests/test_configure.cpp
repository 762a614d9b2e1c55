// The configuration window: layout, keyboard, loading and saving through a real
// settings file, the pickers, and a save that fails without leaving half a file.
#include "configure/frmconfigure.h"
#include "configure/qt_pickers.h"
#include "platform/runtime_error.h"
#include "platform/untrapped.h"
#include "support/test_env.h"

#include <QClipboard>
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
#include <sys/resource.h>
#include <unistd.h>

using namespace tarvic;
using namespace tarvic::test;

namespace {

const QStringList SaveOrder = {Key::VideoDVD, Key::DVDSI, Key::AudioCD, Key::CDSI};
const QStringList Boxes = {QStringLiteral("txtEXE"), QStringLiteral("txtSI"), QStringLiteral("txtAudio"),
                           QStringLiteral("txtCDSI")};

// Passes everything on to the real store and notes the order of the keys.
struct RecordingSettings final : SettingsStore
{
    explicit RecordingSettings(SettingsStore &inner) : inner(inner) {}
    QString read(const QString &key) override
    {
        reads << key;
        return inner.read(key);
    }
    void write(const QList<std::pair<QString, QString>> &values) override
    {
        QStringList keys;
        for (const auto &[key, value] : values)
            keys << key;
        writes << keys;
        inner.write(values);
    }
    SettingsStore &inner;
    QStringList reads;
    QList<QStringList> writes;
};

QList<int> untrapped;

enum SaveFailure { FileSizeLimit, FolderIsAFile, ReadOnlyFolder };   // numbers of the failures that reached the default report

// One loaded window on a private settings file.
struct Window
{
    explicit Window(FilePicker *picker = nullptr, SettingsStore *settings = nullptr)
        : store(settings ? *settings : env.settings())
    {
        w = new frmConfigure(store, picker ? *picker : env.filePicker, env.folderPicker);
        w->load();
    }
    ~Window() { delete w.data(); }

    bool showActive()
    {
        w->show();
        return QTest::qWaitForWindowActive(w);
    }
    QLineEdit *box(const QString &name) const { return w->findChild<QLineEdit *>(name); }
    QWidget *widget(const QString &name) const
    {
        return name == w->objectName() ? w.data() : w->findChild<QWidget *>(name);
    }
    QStringList texts() const
    {
        QStringList t;
        for (const QString &b : Boxes)
            t << box(b)->text();
        return t;
    }
    void setTexts(const QStringList &t)
    {
        for (int i = 0; i < Boxes.size(); ++i)
            box(Boxes[i])->setText(t[i]);
    }
    QStringList stored() { return readAll(env.settings()); }
    static QStringList readAll(SettingsStore &s)
    {
        QStringList v;
        for (const QString &k : SaveOrder)
            v << s.read(k);
        return v;
    }

    TestEnv env;
    RecordingSettings store;
    QPointer<frmConfigure> w;
};

void keyOn(QWidget *target, int key, int modifiers = 0)
{
    QTest::keyClick(target, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
}

// Runs `act` on the next modal dialog once it is up.
void whenModal(std::function<void(QDialog *)> act)
{
    QTimer::singleShot(0, qApp, [act] {
        auto *d = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        QVERIFY(d);
        act(d);
    });
}

void makeExecutable(const QString &path, bool on)
{
    QFile::setPermissions(path, on ? QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ExeGroup
                                   : QFile::ReadOwner | QFile::WriteOwner);
}

} // namespace

class ConfigureTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();

    void layoutKeepsTheTableAndFitsItsTexts_data();
    void layoutKeepsTheTableAndFitsItsTexts();
    void tabOrderDefaultAndCancel();
    void everyWayOfClosingSavesAllFourInOrder_data();
    void everyWayOfClosingSavesAllFourInOrder();
    void enterOnABrowseButtonOpensOnlyItsPicker_data();
    void enterOnABrowseButtonOpensOnlyItsPicker();
    void accessKeysMoveTheFocusAndOpenNothing_data();
    void accessKeysMoveTheFocusAndOpenNothing();

    void loadingReadsTheFourKeysInOrder();
    void openingAndClosingAtOnceWritesMissingKeysEmpty();
    void eachButtonFillsOnlyItsOwnBox_data();
    void eachButtonFillsOnlyItsOwnBox();
    void aCancelledPickChangesNothing_data();
    void aCancelledPickChangesNothing();
    void valuesRoundTripAsTyped_data();
    void valuesRoundTripAsTyped();
    void pastedLineBreaksAreKept();

    void aFailedSaveKeepsTheOldFileWhole_data();
    void aFailedSaveKeepsTheOldFileWhole();

    void applicationFilterShowsPrograms_data();
    void applicationFilterShowsPrograms();
    void fileDialogListsProgramsThenEverything();
    void fileDialogKeepsItsLastFileForTheOtherButton();
    void folderPickerHonoursItsOptions_data();
    void folderPickerHonoursItsOptions();
    void folderPickerOnTheScreen();
};

void ConfigureTest::initTestCase()
{
    setUntrappedReaction([](const RuntimeError &e) { untrapped << e.number(); });
}

void ConfigureTest::init()
{
    untrapped.clear();
}

// ---- layout

void ConfigureTest::layoutKeepsTheTableAndFitsItsTexts_data()
{
    QTest::addColumn<int>("pixelSize");
    QTest::addColumn<bool>("fontSetLater");
    QTest::newRow("default font") << 0 << false;
    QTest::newRow("small 11-pixel font") << 11 << false;
    QTest::newRow("large 20-pixel font") << 20 << false;
    QTest::newRow("font changed on the open window") << 20 << true;
}

void ConfigureTest::layoutKeepsTheTableAndFitsItsTexts()
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
    const double s = fm.height() / 195.0;   // a line of text is 195 twips
    const auto near = [](int a, double b) { return std::abs(a - b) <= 1.01; };

    QVERIFY(near(w->width(), 4695 * s));
    QVERIFY(near(w->height(), 4215 * s));
    QCOMPARE(w->minimumSize(), w->maximumSize());
    QCOMPARE(w->windowTitle(), QStringLiteral("Program Configuration"));

    struct Place
    {
        const char *name, *container;
        int left, top, width, height;
        bool sizesToText;
    };
    const Place places[] = {
        {"lblEXE", "fraOpts", 120, 240, 1410, 195, true},       {"txtEXE", "fraOpts", 120, 480, 3735, 285, false},
        {"Browse1", "fraOpts", 3960, 360, 375, 375, false},     {"lblSI", "fraOpts", 120, 840, 540, 195, true},
        {"txtSI", "fraOpts", 120, 1080, 3735, 285, false},      {"Browse2", "fraOpts", 3960, 960, 375, 375, false},
        {"lblCDPlayer", "fraAudio", 120, 240, 1305, 195, true}, {"txtAudio", "fraAudio", 120, 480, 3735, 285, false},
        {"Browse3", "fraAudio", 3960, 360, 375, 375, false},    {"lblCDSI", "fraAudio", 120, 840, 540, 195, true},
        {"txtCDSI", "fraAudio", 120, 1080, 3735, 285, false},   {"Browse4", "fraAudio", 3960, 960, 375, 375, false},
        {"cmdClose", "frmConfigure", 1680, 3720, 1215, 375, false},
        {"fraOpts", "frmConfigure", 120, 120, 4455, 1455, false},
        {"fraAudio", "frmConfigure", 120, 1680, 4455, 1455, false},
        {"Label1", "frmConfigure", 120, 3240, 4500, 435, false},
    };
    for (const Place &p : places) {
        QWidget *c = win.widget(QLatin1String(p.name));
        QVERIFY2(c, p.name);
        QCOMPARE(c->parentWidget()->objectName(), QLatin1String(p.container));
        const QRect g = c->geometry();
        QVERIFY2(near(g.x(), p.left * s) && near(g.y(), p.top * s), p.name);
        if (p.sizesToText) {
            QCOMPARE(g.size(), c->sizeHint());
        } else {
            QVERIFY2(near(g.width(), p.width * s) && near(g.height(), p.height * s), p.name);
        }
        // Placed from the frame's outer corner: the frame's place plus its own.
        if (auto *frame = qobject_cast<QGroupBox *>(c->parentWidget())) {
            const QPoint inWindow = c->mapTo(w, QPoint(0, 0));
            QVERIFY2(near(inWindow.x(), frame->x() + p.left * s) && near(inWindow.y(), frame->y() + p.top * s), p.name);
            QVERIFY2(frame->rect().contains(g), p.name);
        }
    }
    QVERIFY(near(win.box(QStringLiteral("txtEXE"))->mapTo(w, QPoint(0, 0)).y(), 600 * s));

    // No two controls of one container overlap, and each lies inside the window.
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

    // Every text fits: labels and frame titles in full, a line in each box, the
    // button captions, and the long label on exactly two lines.
    for (auto *label : w->findChildren<QLabel *>()) {
        if (label->wordWrap())
            continue;
        const QString text = QString(label->text()).remove(QLatin1Char('&'));
        QVERIFY2(label->width() >= fm.horizontalAdvance(text) && label->height() >= fm.height(),
                 qPrintable(label->objectName()));
    }
    for (auto *frame : w->findChildren<QGroupBox *>()) {
        QStyleOptionGroupBox opt;
        opt.initFrom(frame);
        opt.text = frame->title();
        opt.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
        const QRect title = frame->style()->subControlRect(QStyle::CC_GroupBox, &opt, QStyle::SC_GroupBoxLabel, frame);
        QVERIFY(title.width() >= fm.horizontalAdvance(frame->title()));
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
    auto *Label1 = w->findChild<QLabel *>(QStringLiteral("Label1"));
    QVERIFY(Label1->wordWrap());
    const int needed = Label1->heightForWidth(Label1->width());
    QVERIFY(needed <= Label1->height());
    QVERIFY(needed >= 2 * fm.lineSpacing() - 1);
}

void ConfigureTest::tabOrderDefaultAndCancel()
{
    Window win;
    QVERIFY(win.showActive());
    QCOMPARE(QApplication::focusWidget(), win.widget(QStringLiteral("txtEXE")));
    const QStringList order = {QStringLiteral("txtEXE"), QStringLiteral("Browse1"), QStringLiteral("txtSI"),
                               QStringLiteral("Browse2"), QStringLiteral("txtAudio"), QStringLiteral("Browse3"),
                               QStringLiteral("txtCDSI"), QStringLiteral("Browse4"), QStringLiteral("cmdClose")};
    QStringList forward, backward;
    for (int i = 0; i < order.size(); ++i) {
        keyOn(QApplication::focusWidget(), Qt::Key_Tab);
        forward << QApplication::focusWidget()->objectName();
    }
    for (int i = 0; i < order.size(); ++i) {
        keyOn(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
        backward.prepend(QApplication::focusWidget()->objectName());
    }
    QCOMPARE(forward, order.mid(1) << order.first());
    QCOMPARE(backward, order);

    auto *cmdClose = win.w->findChild<QPushButton *>(QStringLiteral("cmdClose"));
    QVERIFY(cmdClose->isDefault());
    QCOMPARE(cmdClose->text(), QStringLiteral("&Exit"));
    for (QWidget *c : win.w->findChildren<QWidget *>())
        if (qobject_cast<QLabel *>(c) || qobject_cast<QGroupBox *>(c))
            QVERIFY2(c->focusPolicy() == Qt::NoFocus, qPrintable(c->objectName()));
}

// ---- keyboard and closing

void ConfigureTest::everyWayOfClosingSavesAllFourInOrder_data()
{
    QTest::addColumn<QString>("focusOn");
    QTest::addColumn<int>("key");        // 0: click cmdClose or, on the window, its close control
    QTest::addColumn<int>("modifiers");
    QTest::newRow("click on Exit") << "cmdClose" << 0 << 0;
    QTest::newRow("close control") << "frmConfigure" << 0 << 0;
    QTest::newRow("Enter in the first box") << "txtEXE" << int(Qt::Key_Return) << 0;
    QTest::newRow("keypad Enter in the last box") << "txtCDSI" << int(Qt::Key_Enter) << int(Qt::KeypadModifier);
    QTest::newRow("Enter on Exit") << "cmdClose" << int(Qt::Key_Return) << 0;
    QTest::newRow("Esc in a box") << "txtSI" << int(Qt::Key_Escape) << 0;
    QTest::newRow("Esc on a ... button") << "Browse3" << int(Qt::Key_Escape) << 0;
    QTest::newRow("Alt+E from a box") << "txtAudio" << int(Qt::Key_E) << int(Qt::AltModifier);
    QTest::newRow("Alt+E from a ... button") << "Browse4" << int(Qt::Key_E) << int(Qt::AltModifier);
    QTest::newRow("Enter in a box after a ... button had the focus") << "Browse2>txtAudio" << int(Qt::Key_Return) << 0;
}

void ConfigureTest::everyWayOfClosingSavesAllFourInOrder()
{
    QFETCH(QString, focusOn);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    Window win;
    win.env.settings().write({{Key::VideoDVD, QStringLiteral("old")}, {Key::CDSI, QStringLiteral("old")}});
    QVERIFY(win.showActive());
    const QStringList typed = {QStringLiteral("/usr/bin/vlc --fullscreen"), QString(), QStringLiteral(" C:\\Audio "),
                               QStringLiteral("/tmp/does not exist")};
    win.setTexts(typed);

    QWidget *target = nullptr;
    for (const QString &name : focusOn.split(QLatin1Char('>'))) {
        target = win.widget(name);
        target->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), target);
    }
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
    QCOMPARE(win.stored(), typed);
    QVERIFY(win.env.filePicker.titles.isEmpty() && win.env.folderPicker.prompts.isEmpty());
    QVERIFY(untrapped.isEmpty());
}

void ConfigureTest::enterOnABrowseButtonOpensOnlyItsPicker_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("title");
    QTest::addColumn<bool>("folder");
    QTest::newRow("Browse1") << "Browse1" << "Choose a DVD Video Player Application" << false;
    QTest::newRow("Browse2") << "Browse2" << "Choose a folder for the DVD Video player application:" << true;
    QTest::newRow("Browse3") << "Browse3" << "Choose a CD Audio Player Application" << false;
    QTest::newRow("Browse4") << "Browse4" << "Choose a folder for the CD Audio player application:" << true;
}

void ConfigureTest::enterOnABrowseButtonOpensOnlyItsPicker()
{
    QFETCH(QString, button);
    QFETCH(QString, title);
    QFETCH(bool, folder);
    Window win;
    QVERIFY(win.showActive());
    QWidget *b = win.widget(button);
    b->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), b);
    keyOn(b, Qt::Key_Return);

    const QStringList shown = folder ? win.env.folderPicker.prompts : win.env.filePicker.titles;
    const QStringList other = folder ? win.env.filePicker.titles : win.env.folderPicker.prompts;
    QCOMPARE(shown, QStringList{title});
    QVERIFY(other.isEmpty());
    QVERIFY(win.w->isVisible() && !win.w->isUnloading());
    QVERIFY(win.store.writes.isEmpty());
}

void ConfigureTest::accessKeysMoveTheFocusAndOpenNothing_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("box");
    QTest::newRow("Alt+D") << int(Qt::Key_D) << "txtEXE";
    QTest::newRow("Alt+S") << int(Qt::Key_S) << "txtSI";
    QTest::newRow("Alt+C") << int(Qt::Key_C) << "txtAudio";
    QTest::newRow("Alt+I") << int(Qt::Key_I) << "txtCDSI";
}

void ConfigureTest::accessKeysMoveTheFocusAndOpenNothing()
{
    QFETCH(int, key);
    QFETCH(QString, box);
    Window win;
    QVERIFY(win.showActive());
    QWidget *start = win.widget(QStringLiteral("Browse4"));
    start->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), start);
    keyOn(start, key, Qt::AltModifier);
    QCOMPARE(QApplication::focusWidget(), win.widget(box));
    QVERIFY(win.env.filePicker.titles.isEmpty() && win.env.folderPicker.prompts.isEmpty());
    QVERIFY(!win.w->isUnloading());
}

// ---- loading, picking, saving

void ConfigureTest::loadingReadsTheFourKeysInOrder()
{
    TestEnv env;
    env.settings().write({{Key::CDSI, QStringLiteral("/music")},
                          {Key::AudioCD, QStringLiteral("/usr/bin/cdplay")},
                          {Key::VideoDVD, QStringLiteral("/usr/bin/vlc")},
                          {Key::DVDSI, QStringLiteral("/video")}});
    RecordingSettings store(env.settings());
    Window win(nullptr, &store);
    QCOMPARE(store.reads, SaveOrder);
    QCOMPARE(win.texts(), (QStringList{QStringLiteral("/usr/bin/vlc"), QStringLiteral("/video"),
                                       QStringLiteral("/usr/bin/cdplay"), QStringLiteral("/music")}));
}

void ConfigureTest::openingAndClosingAtOnceWritesMissingKeysEmpty()
{
    Window win;
    QCOMPARE(win.texts(), QStringList(4));
    QVERIFY(!QFile::exists(win.env.settingsPath()));
    win.w->close();
    QSettings file(win.env.settingsPath(), QSettings::IniFormat);
    for (const QString &key : SaveOrder) {
        QVERIFY2(file.contains(QStringLiteral("Tarvic/") + key), qPrintable(key));
        QCOMPARE(file.value(QStringLiteral("Tarvic/") + key).toString(), QString());
    }
}

void ConfigureTest::eachButtonFillsOnlyItsOwnBox_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("box");   // index into Boxes
    QTest::addColumn<QString>("title");
    QTest::newRow("Browse1 fills txtEXE") << "Browse1" << 0 << "Choose a DVD Video Player Application";
    QTest::newRow("Browse2 fills txtSI") << "Browse2" << 1 << "Choose a folder for the DVD Video player application:";
    QTest::newRow("Browse3 fills txtAudio") << "Browse3" << 2 << "Choose a CD Audio Player Application";
    QTest::newRow("Browse4 fills txtCDSI") << "Browse4" << 3 << "Choose a folder for the CD Audio player application:";
}

void ConfigureTest::eachButtonFillsOnlyItsOwnBox()
{
    QFETCH(QString, button);
    QFETCH(int, box);
    QFETCH(QString, title);
    Window win;
    const QStringList before = {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("d")};
    win.setTexts(before);
    // Picked as the picker gives it: no slash added or removed, nothing checked.
    const QString picked = box % 2 ? QStringLiteral("/no such folder/") : QStringLiteral("/opt/Player X/play.EXE");
    win.env.filePicker.answers = {picked};
    win.env.folderPicker.answers = {picked};
    static_cast<QPushButton *>(win.widget(button))->click();

    QStringList expected = before;
    expected[box] = picked;
    QCOMPARE(win.texts(), expected);
    if (box % 2) {
        QCOMPARE(win.env.folderPicker.prompts, QStringList{title});
        QCOMPARE(win.env.folderPicker.options, QList<short>{17});
    } else {
        QCOMPARE(win.env.filePicker.titles, QStringList{title});
    }
    QVERIFY(untrapped.isEmpty());
}

void ConfigureTest::aCancelledPickChangesNothing_data()
{
    QTest::addColumn<QString>("button");
    QTest::newRow("program, Browse1") << "Browse1";
    QTest::newRow("folder, Browse2") << "Browse2";
    QTest::newRow("program, Browse3") << "Browse3";
    QTest::newRow("folder, Browse4") << "Browse4";
}

void ConfigureTest::aCancelledPickChangesNothing()
{
    QFETCH(QString, button);
    Window win;
    const QStringList before = {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("d")};
    win.setTexts(before);
    win.env.filePicker.fileName = QStringLiteral("/an/earlier/pick");   // a cancel must not bring it back
    static_cast<QPushButton *>(win.widget(button))->click();
    QCOMPARE(win.env.filePicker.titles.size() + win.env.folderPicker.prompts.size(), 1);
    QCOMPARE(win.texts(), before);
    QVERIFY2(untrapped.isEmpty(), "the cancel of the open-file dialog is trapped quietly");
    QVERIFY(!win.w->isUnloading());
}

void ConfigureTest::valuesRoundTripAsTyped_data()
{
    QTest::addColumn<QString>("value");
    QTest::newRow("empty") << QString();
    QTest::newRow("blanks at both ends") << "  /opt/my player/play  ";
    QTest::newRow("percent signs") << "%HOME%/bin/play %1 %%";
    QTest::newRow("semicolons and commas") << "play; rm -rf x, y";
    QTest::newRow("backslashes") << "C:\\Program Files\\Player\\play.exe \\\\server\\share\\";
    QTest::newRow("equals signs") << "play --opt=a=b =";
    QTest::newRow("quotes") << "\"C:\\My Player\\p.exe\" 'x' \"";
    QTest::newRow("like a QSettings variant") << "@Variant(\\0\\0) @ByteArray(x)";
    QTest::newRow("section and comment marks") << "[Tarvic] #x ;y";
    QTest::newRow("Unicode") << QStringLiteral("/home/\u00e9l\u00e8ve/\u64ad\u653e\u5668/\U0001F4BF \u202Eevil");
    QTest::newRow("control characters") << QStringLiteral("a\tb\x01" "c");
    QTest::newRow("line breaks set by the program") << "first\nsecond\r\nthird\r";
    QTest::newRow("100 KB") << QString(100 * 1024, QLatin1Char('x')).replace(77, 3, QStringLiteral("; \u00e9"));
}

void ConfigureTest::valuesRoundTripAsTyped()
{
    QFETCH(QString, value);
    TestEnv env;
    const QStringList values = {value, value + QLatin1Char('2'), QLatin1Char('3') + value, value};
    {
        Window win(nullptr, &env.settings());
        win.setTexts(values);
        QCOMPARE(win.texts(), values);   // the box keeps it whole
        win.w->close();
        QVERIFY(untrapped.isEmpty());
    }
    QCOMPARE(Window::readAll(env.settings()), values);
    Window again(nullptr, &env.settings());
    QCOMPARE(again.texts(), values);
}

void ConfigureTest::pastedLineBreaksAreKept()
{
    // Typing cannot put a line break into a box (Enter closes the window); a paste
    // can, and the box then holds and saves it as it came.
    Window win;
    const QString clip = QStringLiteral("/opt/a\nb\r\nc");
    QGuiApplication::clipboard()->setText(clip);
    if (QGuiApplication::clipboard()->text() != clip)
        QSKIP("this platform has no clipboard");
    auto *box = win.box(QStringLiteral("txtAudio"));
    box->paste();
    QCOMPARE(box->text(), clip);
    win.w->close();
    QCOMPARE(win.stored().at(2), clip);
}

// ---- a save that fails

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
    if (how == ReadOnlyFolder && ::geteuid() == 0)
        QSKIP("root writes into read-only folders");
    TestEnv env;
    const QString folder = env.newFolder(QStringLiteral("settings"));
    // Where the settings file would go is a file, so its folder cannot be made.
    const QString blocker = folder + QStringLiteral("/blocked");
    const QString path = how == FolderIsAFile ? blocker + QStringLiteral("/Halvane.ini")
                                              : folder + QStringLiteral("/Halvane.ini");
    const QByteArray bytes = "[Tarvic]\nVideoDVD=/old/dvd\nDVDSI=/old/dvd si\nAudioCD=\nCDSI=/old/cd si\n";
    touch(how == FolderIsAFile ? blocker : path, bytes);
    const QStringList old = how == FolderIsAFile ? QStringList(4)
                                                 : QStringList{QStringLiteral("/old/dvd"), QStringLiteral("/old/dvd si"),
                                                               QString(), QStringLiteral("/old/cd si")};
    HalvaneSettings settings(path);
    {
        Window win(nullptr, &settings);
        QCOMPARE(win.texts(), old);
        // Large enough to pass any limit set below.
        const QString big(8192, QLatin1Char('n'));
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
        if (how == ReadOnlyFolder)
            QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
        static_cast<QPushButton *>(win.widget(QStringLiteral("cmdClose")))->click();
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, savedSignal);
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(untrapped, QList<int>{Err::PathFileAccess});
    }
    QFile f(how == FolderIsAFile ? blocker : path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    // The bytes themselves: QSettings keeps a failed write's values in its
    // in-process cache, so a read in this process would not tell.
    QCOMPARE(f.readAll(), bytes);
    QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System),
             QStringList{QFileInfo(f).fileName()});   // no temporary or lock file left behind
}

// ---- the pickers on the screen

void ConfigureTest::applicationFilterShowsPrograms_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("executable");
    QTest::addColumn<bool>("shown");
    QTest::newRow("executable without extension") << "vlc" << true << true;
    QTest::newRow("non-executable .EXE") << "SETUP.EXE" << false << true;
    QTest::newRow("non-executable .exe") << "setup.exe" << false << true;
    QTest::newRow("plain text file") << "readme.txt" << false << false;
    QTest::newRow("non-executable without extension") << "notes" << false << false;
    QTest::newRow(".exe not at the end") << "setup.exe.txt" << false << false;
    QTest::newRow("folder") << "folder/" << false << true;
}

void ConfigureTest::applicationFilterShowsPrograms()
{
    QFETCH(QString, name);
    QFETCH(bool, executable);
    QFETCH(bool, shown);
    QTemporaryDir dir;
    const QString path = dir.filePath(name);
    if (name.endsWith(QLatin1Char('/'))) {
        makeFolder(path);
    } else {
        touch(path, "x");
        makeExecutable(path, executable);
    }
    QCOMPARE(ProgramFilterProxy::isProgramEntry(QFileInfo(path)), shown);
}

void ConfigureTest::fileDialogListsProgramsThenEverything()
{
    QTemporaryDir dir;
    for (const char *n : {"vlc", "SETUP.EXE", "readme.txt", "notes"}) {
        touch(dir.filePath(QLatin1String(n)), "x");
        makeExecutable(dir.filePath(QLatin1String(n)), qstrcmp(n, "vlc") == 0);
    }
    makeFolder(dir.filePath(QStringLiteral("sub")));
    QtFilePicker picker;
    picker.setDialogTitle(QStringLiteral("Pick"));
    const auto dialog = picker.makeDialog();
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Pick"));
    QCOMPARE(dialog->nameFilters(), (QStringList{QStringLiteral("Application (*.exe)"), QStringLiteral("All files (*.*)")}));
    QCOMPARE(dialog->selectedNameFilter(), QStringLiteral("Application (*.exe)"));
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
    const QStringList programs = {QStringLiteral("SETUP.EXE"), QStringLiteral("sub"), QStringLiteral("vlc")};
    QTRY_COMPARE(listed(), programs);

    // The user picks the second filter in the box.
    auto *combo = dialog->findChild<QComboBox *>(QStringLiteral("fileTypeCombo"));
    QVERIFY(combo);
    combo->setFocus();
    keyOn(combo, Qt::Key_Down);
    QCOMPARE(dialog->selectedNameFilter(), QStringLiteral("All files (*.*)"));
    QTRY_COMPARE(listed(), (QStringList{QStringLiteral("SETUP.EXE"), QStringLiteral("notes"),
                                        QStringLiteral("readme.txt"), QStringLiteral("sub"), QStringLiteral("vlc")}));
    keyOn(combo, Qt::Key_Up);
    QTRY_COMPARE(listed(), programs);
}

void ConfigureTest::fileDialogKeepsItsLastFileForTheOtherButton()
{
    QTemporaryDir dir;
    const QString player = dir.filePath(QStringLiteral("player"));
    touch(player, "x");
    makeExecutable(player, true);
    QtFilePicker picker;
    Window win(&picker);
    win.setTexts({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("d")});

    QString title1;
    whenModal([&](QDialog *d) {
        title1 = d->windowTitle();
        static_cast<QFileDialog *>(d)->selectFile(player);
        d->accept();
    });
    static_cast<QPushButton *>(win.widget(QStringLiteral("Browse1")))->click();
    QCOMPARE(title1, QStringLiteral("Choose a DVD Video Player Application"));
    QCOMPARE(win.box(QStringLiteral("txtEXE"))->text(), player);

    QString title3;
    QStringList opensOn;
    whenModal([&](QDialog *d) {
        title3 = d->windowTitle();
        opensOn = static_cast<QFileDialog *>(d)->selectedFiles();
        d->reject();
    });
    static_cast<QPushButton *>(win.widget(QStringLiteral("Browse3")))->click();
    QCOMPARE(title3, QStringLiteral("Choose a CD Audio Player Application"));
    QCOMPARE(opensOn, QStringList{player});
    QCOMPARE(win.box(QStringLiteral("txtAudio"))->text(), QStringLiteral("c"));   // cancelled
    QVERIFY(untrapped.isEmpty());

    whenModal([](QDialog *d) { d->reject(); });
    try {
        picker.ShowOpen();
        QFAIL("a cancel returned normally");
    } catch (const RuntimeError &e) {
        QCOMPARE(e.number(), 32755);
        QCOMPARE(e.description(), QStringLiteral("Cancel was selected."));
    }
    QCOMPARE(picker.FileName(), player);
}

void ConfigureTest::folderPickerHonoursItsOptions_data()
{
    QTest::addColumn<int>("options");
    QTest::addColumn<QString>("chosen");   // "<dir>" is a real folder
    QTest::addColumn<QString>("result");
    QTest::addColumn<bool>("editBox");
    QTest::newRow("17, a real folder") << 17 << "<dir>" << "<dir>" << true;
    QTest::newRow("17, no such folder") << 17 << "/no/such/folder" << "" << true;
    QTest::newRow("16, no such folder") << 16 << "/no/such/folder" << "/no/such/folder" << true;
    QTest::newRow("1, without the edit box") << 1 << "<dir>" << "<dir>" << false;
    QTest::newRow("17, nothing chosen") << 17 << "" << "" << true;
}

void ConfigureTest::folderPickerHonoursItsOptions()
{
    QFETCH(int, options);
    QFETCH(QString, chosen);
    QFETCH(QString, result);
    QFETCH(bool, editBox);
    QTemporaryDir dir;
    chosen.replace(QStringLiteral("<dir>"), dir.path());
    result.replace(QStringLiteral("<dir>"), dir.path());
    QCOMPARE(QtFolderPicker::result(chosen, short(options)), result);

    QtFolderPicker picker;
    const auto dialog = picker.makeDialog(QStringLiteral("Choose a folder:"), short(options));
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Choose a folder:"));
    QCOMPARE(dialog->fileMode(), QFileDialog::Directory);
    auto *edit = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    QVERIFY(edit);
    QCOMPARE(edit->isVisibleTo(dialog.get()), editBox);
}

void ConfigureTest::folderPickerOnTheScreen()
{
    QTemporaryDir dir;
    const QString sub = dir.filePath(QStringLiteral("start in"));
    makeFolder(sub);
    QtFolderPicker picker;
    whenModal([&](QDialog *d) {
        static_cast<QFileDialog *>(d)->setDirectory(sub);
        static_cast<QFileDialog *>(d)->selectFile(sub);
        d->accept();
    });
    QCOMPARE(picker.BrowseForFolder(QStringLiteral("Where?"), 17), sub);
    whenModal([](QDialog *d) { d->reject(); });
    QCOMPARE(picker.BrowseForFolder(QStringLiteral("Where?"), 17), QString());
}

QTEST_MAIN(ConfigureTest)
#include "test_configure.moc"
