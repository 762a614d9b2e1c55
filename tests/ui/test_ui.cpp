// Both windows as a user sees them, at several fonts, and the program's own icon,
// also where the SVG image plugin is not installed.
#include "chooser/file_list_box.h"
#include "chooser/frmtarvic.h"
#include "configure/frmconfigure.h"
#include "support/test_env.h"
#include "ui/program_icon.h"

#include <QtTest>
#include <QtWidgets>

using namespace tarvic;
using namespace tarvic::test;
using namespace Qt::StringLiterals;

namespace {

// Whether a control shows all of its text: a button's or a check box's within the
// room its style leaves for it, a wrapping label in its height, any other label at
// its size; a text box or a list at least one line high.
bool fitsItsText(QWidget *w)
{
    if (auto *button = qobject_cast<QAbstractButton *>(w)) {
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        const bool box = qobject_cast<QCheckBox *>(w);
        const QRect room = w->style()->subElementRect(box ? QStyle::SE_CheckBoxContents : QStyle::SE_PushButtonContents, &option, w);
        const QSize text = w->fontMetrics().size(Qt::TextShowMnemonic, button->text());
        return room.width() >= text.width() + (box ? 0 : 4) && room.height() >= text.height();
    }
    if (const auto *label = qobject_cast<QLabel *>(w); label && label->wordWrap())
        return label->heightForWidth(w->width()) <= w->height();
    if (qobject_cast<QLineEdit *>(w) || qobject_cast<QListWidget *>(w))
        return w->height() >= w->minimumSizeHint().height();
    if (auto *frame = qobject_cast<QGroupBox *>(w))
        return w->width() > frame->fontMetrics().horizontalAdvance(frame->title()) + 2 * frame->fontMetrics().height();
    return w->size().expandedTo(w->sizeHint()) == w->size();
}

// Each control inside its parent, fitting its text, over no other; then the same inside frames.
QStringList layoutFaults(QWidget *parent)
{
    QStringList faults;
    const QWidgetList children = parent->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
    for (QWidget *a : children) {
        if (!a->isVisibleTo(parent) || a->geometry().isEmpty())
            continue;
        if (!fitsItsText(a))
            faults << a->objectName() + u" does not fit its text"_s;
        if (!parent->rect().contains(a->geometry()))
            faults << a->objectName() + u" reaches out of "_s + parent->objectName();
        for (QWidget *b : children)
            if (a < b && b->isVisibleTo(parent) && a->geometry().intersects(b->geometry()))
                faults << a->objectName() + u" over "_s + b->objectName();
        if (qobject_cast<QGroupBox *>(a))
            faults << layoutFaults(a);
    }
    return faults;
}

// Drawn without its controls, a frame must leave each control's place (and a pixel
// around it) one plain colour: no caption, no line runs through it.
QStringList captionFaults(QGroupBox *frame)
{
    QStringList faults;
    const QWidgetList inside = frame->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
    for (QWidget *w : inside)
        w->hide();
    const QImage drawn = frame->grab().toImage();
    for (QWidget *w : inside) {
        w->show();
        const QRect place = w->geometry().adjusted(-1, -1, 1, 1);
        const QImage under = drawn.copy(QRect(place.topLeft() * drawn.devicePixelRatio(), place.bottomRight() * drawn.devicePixelRatio()));
        QImage plain = under;
        plain.fill(QColor::fromRgba(under.pixel(0, 0)));
        if (under != plain)
            faults << frame->objectName() + u" draws under "_s + w->objectName();
    }
    return faults;
}

} // namespace

class UiTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void bothWindowsAtOneScale_data()
    {
        QTest::addColumn<QFont>("font");
        const QFont standard = QApplication::font();
        QTest::newRow("the desktop's") << standard;
        for (int pixels : {8, 11, 16, 24, 36}) {
            QFont f = standard;
            f.setPixelSize(pixels);
            QTest::addRow("%d pixels", pixels) << f;
        }
        QTest::newRow("18 points") << QFont(standard.family(), 18);
        QTest::newRow("a serif face") << QFont(u"Serif"_s, 10);
    }

    // Set on open windows, as a desktop's font change would come: both lay out again.
    void bothWindowsAtOneScale()
    {
        QFETCH(QFont, font);
        TestEnv env;
        const QString drive = u"E:"_s, disc = env.newFolder(u"disc"_s);
        env.mapDrive(u'e', disc);
        touch(disc + u"/setup with a long name.exe"_s);
        frmTarvicControls controls(env.paths());
        frmTarvic chooser(drive, controls, env.paths(), env.starter, env.boxes);
        frmConfigure configure(env.settings(), env.filePicker, env.folderPicker);
        for (Form *form : std::initializer_list<Form *>{&chooser, &configure}) {
            form->load();
            form->show();
        }
        chooser.EXElist->setCurrentRow(0);   // the icon shows
        chooser.setFont(font);
        configure.setFont(font);

        // The client areas are 4680 x 3360 and 4695 x 4215 twips: one scale gives both.
        const double scale = configure.width() / 4695.0;
        QVERIFY2(std::abs(configure.height() - 4215 * scale) <= 1 && std::abs(chooser.width() - 4680 * scale) <= 1
                     && std::abs(chooser.height() - 3360 * scale) <= 1,
                 qPrintable(u"%1x%2 and %3x%4"_s.arg(chooser.width()).arg(chooser.height()).arg(configure.width()).arg(configure.height())));
        // The layout's own line of text, 195 twips, holds a line of the font, and its
        // average character, 90 twips, the font's (Windows' measure); one of them
        // exactly, or the windows would be larger than the font needs.
        const QFontMetricsF fm(font);
        const double line = QFontMetrics(font).height(),
                     average = (fm.horizontalAdvance(u"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"_s) / 26 + 1) / 2;
        QVERIFY(195 * scale >= line - 1 && 90 * scale >= average - 1);
        QVERIFY2(195 * scale <= line + 1 || 90 * scale <= average + 1, qPrintable(u"%1 px a line, %2 an average character, %3 px a twip"_s.arg(line).arg(average).arg(scale)));

        QStringList faults = layoutFaults(&chooser) + layoutFaults(&configure);
        for (QGroupBox *frame : {configure.fraOpts, configure.fraAudio})
            faults << captionFaults(frame);
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(u"; "_s)));
    }

    void everyOfferedSizeOfTheProgramIconShowsAPicture()
    {
        const bool noPlugins = qEnvironmentVariableIsSet("TARVIC_TEST_NO_PLUGINS");
        if (noPlugins)
            QCoreApplication::setLibraryPaths({});
        QCOMPARE(QImageReader(u":/tarvic/tarvic.svg"_s).canRead(), !noPlugins);   // the svg plugin is libqt6svg6
        const QIcon icon = programIcon();
        QList<QSize> sizes = icon.availableSizes();
        QVERIFY(!sizes.isEmpty());
        for (const QSize size : sizes << QSize(128, 128)) {   // 128: drawn from the SVG, or scaled up without it
            const QImage image = icon.pixmap(size).toImage();
            QSet<QRgb> colours;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    colours << (qAlpha(image.pixel(x, y)) ? image.pixel(x, y) : 0);
            QVERIFY2(image.size() == size && colours.contains(0) && colours.size() >= 8, qPrintable(QString::number(size.width())));
        }
        qputenv("TARVIC_TEST_NO_PLUGINS", "1");
        if (!noPlugins)   // the same again in a run that finds no plugins
            QCOMPARE(QProcess::execute(QCoreApplication::applicationFilePath(), {u"everyOfferedSizeOfTheProgramIconShowsAPicture"_s}), 0);
    }
};

QTEST_MAIN(UiTest)
#include "test_ui.moc"
