// The configuration window on a real settings file: closing saves, loading fills,
// the pickers fill their own boxes, a failed save keeps the old file whole.
#include "configure/frmconfigure.h"
#include "configure/qt_pickers.h"
#include "platform/runtime_error.h"
#include "support/test_env.h"
#include "ui/untrapped.h"

#include <QtTest>
#include <QtWidgets>
#include <sys/fsuid.h>
#include <unistd.h>

using namespace tarvic;
using namespace tarvic::test;
using namespace Qt::StringLiterals;

static QList<int> untrapped;   // numbers of the failures that reached the error report
static const QStringList Before = {u"a"_s, u"b"_s, u"c"_s, u"d"_s};

// A loaded window on its own $XDG_CONFIG_HOME/Halvane.ini or on the store given;
// it counts the writes it passes on.
struct Window final : SettingsStore {
    explicit Window(SettingsStore *settings = nullptr, FilePicker *files = nullptr, FolderPicker *folders = nullptr)
        : real(settings ? *settings : env.settings()),
          w(new frmConfigure(*this, files ? *files : env.filePicker, folders ? *folders : env.folderPicker)) { w->load(); }
    ~Window() override { delete w.data(); }
    QString read(const QString &key) override { return real.read(key); }
    void write(const QList<std::pair<QString, QString>> &values) override { ++writes, real.write(values); }
    bool showActive() { return w->show(), QTest::qWaitForWindowActive(w); }
    QList<QLineEdit *> boxes() const { return {w->txtEXE, w->txtSI, w->txtAudio, w->txtCDSI}; }
    QPushButton *button(int i) const { return QList{w->Browse1, w->Browse2, w->Browse3, w->Browse4}[i]; }
    QStringList texts() const { QStringList t; for (QLineEdit *box : boxes()) t << box->text(); return t; }
    void setTexts(const QStringList &t) { for (int i = 0; i < 4; ++i) boxes()[i]->setText(t[i]); }
    TestEnv env;
    SettingsStore &real;
    QPointer<frmConfigure> w;
    int writes = 0;
};

class ConfigureTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { setUntrappedReaction([](const RuntimeError &e) { untrapped << e.number(); }); }
    void init() { untrapped.clear(); }

    void everyWayOfClosingSavesAllFour_data()
    {
        QTest::addColumn<int>("how");   // a key pressed in the last box; 0 clicks Exit, -1 closes the window
        QTest::addColumn<QString>("value");
        QTest::newRow("Exit; INI syntax") << 0 << u"[Tarvic] ;x #y a=b, c \"q\" %HOME% @Variant(\\0) \\\\srv\\s\\"_s;
        QTest::newRow("window closed; blanks at both ends") << -1 << u"  /opt/my player/play  "_s;
        QTest::newRow("Enter in a box; Unicode") << int(Qt::Key_Return) << u"/home/\u00e9l\u00e8ve/\u64ad\U0001F4BF\u202E\ta\x01"_s;
        QTest::newRow("Esc; line breaks") << int(Qt::Key_Escape) << u"first\nsecond\r\nthird\r"_s;
    }
    void everyWayOfClosingSavesAllFour()
    {
        QFETCH(int, how);
        QFETCH(QString, value);
        Window win;
        win.real.write({{Key::VideoDVD, u"old"_s}, {Key::DVDSI, u"old"_s}, {Key::AudioCD, u"old"_s}, {Key::CDSI, u"old"_s}});
        QVERIFY(win.showActive());
        const QStringList typed = {value, QString(), u"3"_s + value, value + u"4"_s};   // the empty one replaces "old" too
        win.setTexts(typed);
        how > 0 ? QTest::keyClick(win.w->txtCDSI, Qt::Key(how)) : how < 0 ? void(win.w->close()) : win.w->cmdClose->click();
        QVERIFY(!win.w->isVisible() && win.writes == 1 && untrapped.isEmpty());
        // Read from the disk under another name, past QSettings' cache of the file.
        const QString link = win.env.configHome() + u"/again.ini"_s;
        QVERIFY(QFile::link(win.env.configHome() + u"/Halvane.ini"_s, link)
                && QSettings(link, QSettings::IniFormat).childGroups() == QStringList{u"Tarvic"_s});
        HalvaneSettings fromDisk(link);
        QCOMPARE(Window(&fromDisk).texts(), typed);
    }

    void eachButtonFillsOnlyItsOwnBox()
    {
        const QStringList titles = {u"Choose a DVD Video Player Application"_s, u"Choose a folder for the DVD Video player application:"_s,
                                    u"Choose a CD Audio Player Application"_s, u"Choose a folder for the CD Audio player application:"_s};
        Window win;
        QVERIFY(win.showActive());
        win.setTexts(Before);
        QStringList expected = Before;
        for (int box = 0; box < 4; ++box) {
            // Enter on the button opens its picker; a cancel changes nothing, even with
            // an earlier pick on record, and the window stays.
            win.env.filePicker.titles = win.env.folderPicker.prompts = {};
            QTest::keyClick(win.button(box), Qt::Key_Return);
            QCOMPARE(win.env.filePicker.titles + win.env.folderPicker.prompts, QStringList{titles[box]});
            QVERIFY(win.texts() == expected && win.w->isVisible() && !win.w->isUnloading());
            expected[box] = box % 2 ? u"/no such folder/"_s : u"/opt/Player X/play.EXE"_s;
            (box % 2 ? win.env.folderPicker.answers : win.env.filePicker.answers) = QStringList{expected[box]};
            win.button(box)->click();
            QCOMPARE(win.texts(), expected);
        }
        QVERIFY(win.writes == 0 && untrapped.isEmpty());
    }

    void aFailedSaveKeepsTheOldFileWhole()
    {
        Window win;
        const QString folder = win.env.configHome(), file = folder + u"/Halvane.ini"_s;
        const QByteArray bytes = "[Tarvic]\nVideoDVD=/old/dvd\nDVDSI=/old/dvd si\nAudioCD=\nCDSI=/old/cd si\n";
        touch(file, bytes);
        // Root writes into read-only folders, so the save runs as an ordinary owner would.
        const uid_t owner = ::geteuid() ? ::geteuid() : 65534;
        QVERIFY(::chown(qPrintable(folder), owner, -1) == 0 && ::chown(qPrintable(file), owner, -1) == 0
                && QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
        ::setfsuid(owner);
        win.w->cmdClose->click();
        ::setfsuid(::geteuid());
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(untrapped, QList<int>{Err::PathFileAccess});
        QFile f(file);   // the bytes: QSettings would answer from its cache
        QVERIFY(f.open(QIODevice::ReadOnly) && f.readAll() == bytes);
    }

    void realPickersFillTheirBoxesAndListPrograms()
    {
        QTemporaryDir dir;
        for (const char *name : {"SETUP.EXE", "tool.exe", "setup.exe.txt", "notes", "player.exe", "vlc", "start in/x"})
            touch(dir.filePath(QLatin1String(name)), "x");
        const QString player = dir.filePath(u"player.exe"_s), folder = dir.filePath(u"start in"_s);
        QFile::setPermissions(dir.filePath(u"vlc"_s), QFile::ReadOwner | QFile::ExeOwner);
        QtFilePicker files;
        QtFolderPicker folders;
        Window win(nullptr, &files, &folders);
        win.setTexts(Before);
        QString openedOn;
        const auto pick = [&](int button, const QString &path) {   // no path: Cancel
            QTimer::singleShot(0, qApp, [&openedOn, path] {
                auto *d = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
                openedOn = d->selectedFiles().value(0);
                d->selectFile(path);
                static_cast<QDialog *>(d)->done(path.isEmpty() ? QDialog::Rejected : QDialog::Accepted);
            });
            win.button(button)->click();
        };
        pick(0, player);
        pick(1, player);   // a file is no folder
        pick(3, folder);
        pick(2, QString());   // opens on the last file of the other program button
        QCOMPARE(win.texts(), (QStringList{player, Before[1], Before[2], folder}));
        QCOMPARE(openedOn, player);
        // Programs: executables and *.exe in any case, and folders to move through. Not
        // only the selected one, which a file model shows whatever its filter.
        const auto dialog = files.makeDialog();
        dialog->show();
        QAbstractProxyModel *proxy = dialog->proxyModel();
        const QModelIndex root = proxy->mapFromSource(static_cast<QFileSystemModel *>(proxy->sourceModel())->index(dir.path()));
        const auto listed = [&] {
            QStringList names;
            for (int r = 0; r < proxy->rowCount(root); ++r)
                names << proxy->index(r, 0, root).data().toString();
            return names.sort(), names;
        };
        QTRY_COMPARE(listed(), (QStringList{u"SETUP.EXE"_s, u"player.exe"_s, u"start in"_s, u"tool.exe"_s, u"vlc"_s}));
        QVERIFY(untrapped.isEmpty());
    }

    void textsFitWithoutOverlapsAtALargeFont()
    {
        Window win;
        win.w->setFont(QFont(QString(), 18));   // set on the open window: the controls move and grow
        const QFontMetrics fm(win.w->font());
        for (QWidget *parent : QList<QWidget *>{win.w, win.w->fraOpts, win.w->fraAudio})
            for (QWidget *a : parent->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
                const auto *label = qobject_cast<QLabel *>(a);
                const QString text = QString(a->property("title").toString() + a->property("text").toString()).remove(u'&');
                const bool fits = label && label->wordWrap() ? label->heightForWidth(a->width()) <= a->height()
                                                             : qobject_cast<QLineEdit *>(a) || a->width() >= fm.horizontalAdvance(text);
                QVERIFY2(fits && a->height() >= fm.height() && parent->rect().contains(a->geometry()), qPrintable(a->objectName()));
                for (QWidget *b : parent->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
                    QVERIFY2(a == b || !a->geometry().intersects(b->geometry()), qPrintable(a->objectName() + b->objectName()));
            }
    }
};

QTEST_MAIN(ConfigureTest)
#include "test_configure.moc"
