// The configuration window on a real settings file, with scripted and real pickers.
#include "configure/frmconfigure.h"
#include "configure/qt_pickers.h"
#include "platform/runtime_error.h"
#include "support/test_env.h"
#include "ui/untrapped.h"

#include <QtTest>
#include <QtWidgets>

using namespace tarvic;
using namespace tarvic::test;
using namespace Qt::StringLiterals;

static QStringList untrapped;   // "number: description" of the failures that reached the error report
static const QStringList Before = {u"a"_s, u"b"_s, u"c"_s, u"d"_s};

// A loaded window on its own $XDG_CONFIG_HOME/Halvane.ini or on the store given;
// it counts the writes it passes on.
struct Window final : SettingsStore {
    explicit Window(SettingsStore *settings = nullptr, FilePicker *files = nullptr, FolderPicker *folders = nullptr)
        : real(settings ? *settings : env.settings()),
          w(new frmConfigure(*this, files ? *files : env.filePicker, folders ? *folders : env.folderPicker)) { w->load(); }
    ~Window() override { delete w.data(); }
    QString read(const QString &key) override { return real.read(key); }
    void write(const QList<std::pair<QString, std::optional<QString>>> &values) override { ++writes, real.write(values); }
    bool showActive() { return w->show(), QTest::qWaitForWindowActive(w); }
    QList<QLineEdit *> boxes() const { return {w->txtEXE, w->txtSI, w->txtAudio, w->txtCDSI}; }
    QPushButton *button(int i) const { return QList{w->Browse1, w->Browse2, w->Browse3, w->Browse4}[i]; }
    QStringList texts() const { QStringList t; for (QLineEdit *box : boxes()) t << box->text(); return t; }
    TestEnv env;
    SettingsStore &real;
    QPointer<frmConfigure> w;
    int writes = 0;
};

// Types the text as a user would: ASCII key by key, else as an input method commits it.
static void type(QLineEdit *box, const QString &text)
{
    QInputMethodEvent commit;
    commit.setCommitString(text);
    if (std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x7f; }))
        QTest::keyClicks(box, text);
    else
        QApplication::sendEvent(box, &commit);
}

class ConfigureTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { setUntrappedReaction([](const RuntimeError &e) { untrapped << u"%1: %2"_s.arg(e.number()).arg(e.description()); }); }
    void init() { untrapped.clear(); }

    // Every way of closing saves the four boxes, as typed (key by key or by an input
    // method), in one write, and the next run's window shows them again.
    void everyWayOfClosingSavesWhatWasTyped_data()
    {
        QTest::addColumn<int>("how");   // a key pressed in the last box; 0 clicks Exit, -1 closes the window
        QTest::addColumn<QString>("value");
        QTest::addColumn<QByteArray>("written");   // the value as the file holds it
        QTest::newRow("Exit; blanks, quotes and signs") << 0 << u" \"C:\\x y.exe\" ;=#[x] "_s << "\" \"C:\\x y.exe\" ;=#[x] \""_ba;
        QTest::newRow("window closed; beyond ascii") << -1 << u"/home/\u00e9l\u00e8ve/\u64ad\u653e\u5668 \U0001F4BF.exe"_s
                                                     << "/home/\xc3\xa9l\xc3\xa8ve/\xe6\x92\xad\xe6\x94\xbe\xe5\x99\xa8 \xf0\x9f\x92\xbf.exe"_ba;
        QTest::newRow("Enter in a box; empty") << int(Qt::Key_Return) << QString() << QByteArray();
        QTest::newRow("Esc") << int(Qt::Key_Escape) << u"/usr/bin/vlc"_s << "/usr/bin/vlc"_ba;
    }
    void everyWayOfClosingSavesWhatWasTyped()
    {
        QFETCH(int, how);
        QFETCH(QString, value);
        QFETCH(QByteArray, written);
        TestEnv env;
        env.settings().write({{Key::VideoDVD, u"old"_s}, {Key::DVDSI, u"old"_s}, {Key::AudioCD, u"old"_s}, {Key::CDSI, u"old"_s}});
        Window win(&env.settings());
        QVERIFY(win.showActive());
        const QStringList typed = {value, QString(), u"/cd"_s, u"/music"_s};   // the empty one replaces "old" too
        for (int i = 0; i < 4; ++i)
            win.boxes()[i]->clear(), type(win.boxes()[i], typed[i]);
        QCOMPARE(win.texts(), typed);
        if (how == 0)
            win.w->cmdClose->click();
        else if (how < 0)
            win.w->close();
        else
            QTest::keyClick(win.w->txtCDSI, Qt::Key(how));
        QVERIFY(!win.w->isVisible() && win.writes == 1 && untrapped.isEmpty());
        QCOMPARE(bytesOf(env.settings().filePath()), "[Tarvic]\nVideoDVD=" + written + "\nDVDSI=\nAudioCD=/cd\nCDSI=/music\n");
        QCOMPARE(Window(&env.settings()).texts(), typed);
    }

    // Two windows open on one file, then a hand edit: each saves only the box changed
    // in it, every other key as the file holds it at that save.
    void twoWindowsAndAHandEditKeepEachOthersChanges()
    {
        TestEnv env;
        const QString file = env.settingsPath();   // each window's own environment moves XDG_CONFIG_HOME
        touch(file, "[Tarvic]\nVideoDVD=/old/dvd\nAudioCD=/old/cd\n");
        Window a(&env.settings()), b(&env.settings());
        QVERIFY(a.showActive() && b.showActive());
        touch(file, "; edited by hand\n[Tarvic]\nVideoDVD=/hand/dvd\nAudioCD=/old/cd\nCDSI=/hand/cd si\n");
        a.w->txtEXE->setText(u"/a/dvd"_s);
        a.w->cmdClose->click();
        b.w->txtAudio->setText(u"/b/cd"_s);
        QTest::keyClick(b.w->txtAudio, Qt::Key_Escape);
        QCOMPARE(bytesOf(file), "; edited by hand\n[Tarvic]\nVideoDVD=/a/dvd\nAudioCD=/b/cd\nCDSI=/hand/cd si\nDVDSI=\n"_ba);
        QVERIFY(a.writes == 1 && b.writes == 1 && untrapped.isEmpty());
    }

    // Tab walks the boxes and buttons row by row, labels and frames passed over, and
    // round again; Shift+Tab walks back. Each label's access key reaches its own box
    // and opens no picker.
    void tabOrderAndAccessKeys()
    {
        Window win;
        QVERIFY(win.showActive());
        const QStringList order = {u"txtEXE"_s, u"Browse1"_s, u"txtSI"_s, u"Browse2"_s, u"txtAudio"_s,
                                   u"Browse3"_s, u"txtCDSI"_s, u"Browse4"_s, u"cmdClose"_s, u"txtEXE"_s};
        const auto walk = [](Qt::KeyboardModifiers modifiers) {
            QStringList seen{QApplication::focusWidget()->objectName()};
            for (int i = 1; i < 10; ++i) {
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, modifiers);
                seen << QApplication::focusWidget()->objectName();
            }
            return seen;
        };
        QCOMPARE(walk(Qt::NoModifier), order);
        QCOMPARE(walk(Qt::ShiftModifier), QStringList(order.rbegin(), order.rend()));
        QStringList reached;
        for (const char *keys : {"Alt+I", "Alt+S", "Alt+C", "Alt+D"}) {
            QTest::keySequence(win.w, QKeySequence(QLatin1String(keys)));
            reached << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(reached, (QStringList{u"txtCDSI"_s, u"txtSI"_s, u"txtAudio"_s, u"txtEXE"_s}));
        QVERIFY(win.env.filePicker.titles.isEmpty() && win.env.folderPicker.prompts.isEmpty() && win.w->isVisible());
    }

    // What the store refuses reaches the error report, and the old file stays whole.
    void aFailedSaveSaysWhyAndKeepsTheOldFileWhole()
    {
        Window win;
        const QString folder = win.env.configHome(), file = folder + u"/Halvane.ini"_s;
        const QByteArray bytes = "[Tarvic]\nVideoDVD=/old/dvd\nDVDSI=/old/dvd si\nAudioCD=\nCDSI=/old/cd si\n";
        touch(file, bytes);
        win.w->txtEXE->setText(u"/new/dvd"_s);
        QGuiApplication::clipboard()->setText(u"/new\n/other"_s);
        win.w->txtSI->clear();
        win.w->txtSI->paste();
        QCOMPARE(win.w->txtSI->text(), u"/new\n/other"_s);
        win.w->cmdClose->click();
        QCOMPARE(untrapped, QStringList{u"75: Path/File access error: the settings file "_s + file
                                        + u" cannot be written: the value of DVDSI holds a line break, which a settings file cannot hold"_s});
        QCOMPARE(bytesOf(file), bytes);
        QCOMPARE(listing(folder), (QStringList{u"Halvane.ini"_s, u"tarvic"_s}));
    }

    // The real pickers, opened by Enter on their buttons, fill only their own boxes: a
    // file is no folder, a cancel keeps the box, a program picker opens on the last pick.
    void realPickersFillTheirOwnBoxes()
    {
        QTemporaryDir dir;
        const QString player = dir.filePath(u"player.exe"_s), folder = dir.filePath(u"start in"_s);
        touch(player);
        makeFolder(folder);
        QtFilePicker files;
        QtFolderPicker folders;
        Window win(nullptr, &files, &folders);
        for (int i = 0; i < 4; ++i)
            win.boxes()[i]->setText(Before[i]);
        QString openedOn;
        QStringList titles;
        const auto pick = [&](int button, const QString &path) {   // no path: Cancel
            QTimer::singleShot(0, qApp, [&openedOn, &titles, path] {
                auto *d = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
                openedOn = d->selectedFiles().value(0);
                titles << d->windowTitle();
                d->selectFile(path);
                static_cast<QDialog *>(d)->done(path.isEmpty() ? QDialog::Rejected : QDialog::Accepted);
            });
            QTest::keyClick(win.button(button), Qt::Key_Return);
        };
        pick(0, player);
        pick(1, player);
        pick(3, folder);
        pick(2, QString());
        QCOMPARE(win.texts(), (QStringList{player, Before[1], Before[2], folder}));
        QCOMPARE(openedOn, player);
        QCOMPARE(titles, (QStringList{u"Choose a DVD Video Player Application"_s, u"Choose a folder for the DVD Video player application:"_s,
                                      u"Choose a folder for the CD Audio player application:"_s, u"Choose a CD Audio Player Application"_s}));
        QVERIFY(win.writes == 0 && untrapped.isEmpty());
        QCOMPARE(listing(win.env.configHome()), QStringList{u"tarvic"_s});   // the dialogs keep no history there
    }

    // The program picker lists executables and *.exe in any case, and folders to move
    // through; not only the selected one, which a file model shows whatever its filter.
    void theProgramPickerListsPrograms()
    {
        const TestEnv env;   // a dialog's history, if it were kept, lands in its own folder
        QTemporaryDir dir;
        for (const char *name : {"SETUP.EXE", "tool.exe", "setup.exe.txt", "notes", "player.exe", "vlc", "start in/x"})
            touch(dir.filePath(QLatin1String(name)), "x");
        QFile::setPermissions(dir.filePath(u"vlc"_s), QFile::ReadOwner | QFile::ExeOwner);
        const auto dialog = QtFilePicker().makeDialog();
        dialog->selectFile(dir.filePath(u"player.exe"_s));
        dialog->show();
        QAbstractProxyModel *proxy = dialog->proxyModel();
        const auto listed = [&] {
            // Looked up afresh: the model's indexes change as it fills.
            const QModelIndex root = proxy->mapFromSource(static_cast<QFileSystemModel *>(proxy->sourceModel())->index(dir.path()));
            QStringList names;
            for (int r = 0; r < proxy->rowCount(root); ++r)
                names << proxy->index(r, 0, root).data().toString();
            return names.sort(), names;
        };
        QTRY_COMPARE(listed(), (QStringList{u"SETUP.EXE"_s, u"player.exe"_s, u"start in"_s, u"tool.exe"_s, u"vlc"_s}));
    }
};

QTEST_MAIN(ConfigureTest)
#include "test_configure.moc"
