// The program icon: its two hand-tuned images, larger sizes drawn from the SVG,
// and the icon without the svg plugin.
#include "platform/program_icon.h"

#include <QApplication>
#include <QFile>
#include <QImageReader>
#include <QLibraryInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <cstdio>

using namespace tarvic;

namespace {

// Set in the child process that runs with no plugins but the platform ones.
const char *const WithoutSvgVariable = "TARVIC_TEST_ICON_WITHOUT_SVG";

// Empty when the image shows the icon's picture: a grey drive with its green light
// before a disc with a rainbow, in a shape on a clear background. Else what it has.
QByteArray pictureFaults(const QImage &source)
{
    const QImage image = source.convertToFormat(QImage::Format_ARGB32);
    int green = 0, grey = 0, colour = 0, clear = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor px = image.pixelColor(x, y);
            const int r = px.red(), g = px.green(), b = px.blue();
            const int spread = std::max({r, g, b}) - std::min({r, g, b});
            if (px.alpha() == 0)
                ++clear;
            else if (px.alpha() < 200)
                continue;
            else if (g >= 150 && g - r >= 60 && g - b >= 60)
                ++green;
            else if (spread <= 24 && g >= 90)
                ++grey;
            else if (spread >= 80)
                ++colour;
        }
    const int area = image.width() * image.height();
    if (area > 0 && green >= area / 128 && grey >= area / 12 && colour >= area / 64 && clear >= image.width())
        return {};
    return QStringLiteral("%1x%2: green %3, grey %4, colour %5, clear %6")
        .arg(image.width()).arg(image.height()).arg(green).arg(grey).arg(colour).arg(clear).toUtf8();
}

} // namespace

class ProgramIconTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void eachSizeComesFromItsOwnImage_data();
    void eachSizeComesFromItsOwnImage();
    void withoutTheSvgPluginThePngsStillServe();
};

void ProgramIconTest::eachSizeComesFromItsOwnImage_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<QString>("file");
    QTest::newRow("16, hand-tuned") << 16 << ":/tarvic/tarvic-16.png";
    QTest::newRow("32, hand-tuned") << 32 << ":/tarvic/tarvic-32.png";
    QTest::newRow("48, drawn") << 48 << ":/tarvic/tarvic.svg";
    QTest::newRow("128, drawn") << 128 << ":/tarvic/tarvic.svg";
}

void ProgramIconTest::eachSizeComesFromItsOwnImage()
{
    QFETCH(int, size);
    QFETCH(QString, file);
    const QIcon icon = programIcon();
    // What a window manager receives: exactly the two hand-tuned images.
    QList<QSize> sizes = icon.availableSizes();
    std::sort(sizes.begin(), sizes.end(), [](QSize a, QSize b) { return a.width() < b.width(); });
    QCOMPARE(sizes, (QList<QSize>{QSize(16, 16), QSize(32, 32)}));

    // The very pixels of that image at that size, not scaled from another size; in
    // the premultiplied form a pixmap holds them in.
    QImageReader reader(file);
    reader.setScaledSize(QSize(size, size));
    const QImage expected = reader.read();
    QVERIFY2(!expected.isNull(), qPrintable(file + QStringLiteral(": ") + reader.errorString() +
                                            QStringLiteral(" (an SVG needs the svg image plugin, libqt6svg6)")));
    icon.pixmap(QSize(2 * size, 2 * size));   // a size drawn before must not be handed back for this one
    const QImage image = icon.pixmap(QSize(size, size)).toImage();
    QCOMPARE(image.convertToFormat(QImage::Format_ARGB32_Premultiplied),
             expected.convertToFormat(QImage::Format_ARGB32_Premultiplied));
    QVERIFY2(pictureFaults(image).isEmpty(), pictureFaults(image));
}

void ProgramIconTest::withoutTheSvgPluginThePngsStillServe()
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(WithoutSvgVariable), QStringLiteral("1"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {});
    QVERIFY(child.waitForFinished(60000));
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.readAllStandardOutput().trimmed(), QByteArray("svg unreadable; sizes 16 32; 16 ok; 32 ok; 64 ok"));
}

// Runs in the child, where no image plugin can be found and the SVG cannot be read.
static int checkWithoutSvgPlugin()
{
    const QIcon icon = programIcon();
    std::printf("svg %s; sizes", QImageReader(QStringLiteral(":/tarvic/tarvic.svg")).canRead() ? "readable" : "unreadable");
    for (const QSize &s : icon.availableSizes())
        std::printf(" %d", s.width());
    for (int size : {16, 32, 64}) {
        const QImage image = icon.pixmap(QSize(size, size)).toImage();
        const bool ok = image.size() == QSize(size, size) && pictureFaults(image).isEmpty();
        std::printf("; %d %s", size, ok ? "ok" : pictureFaults(image).constData());
    }
    return 0;
}

int main(int argc, char *argv[])
{
    QTemporaryDir plugins;
    const bool withoutSvg = qEnvironmentVariableIsSet(WithoutSvgVariable);
    if (withoutSvg) {
        // Only the platform plugins stay reachable; the image and icon engine ones do not.
        QFile::link(QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/platforms"),
                    plugins.filePath(QStringLiteral("platforms")));
        QCoreApplication::setLibraryPaths({plugins.path()});
    }
    QApplication app(argc, argv);
    if (withoutSvg)
        return checkWithoutSvgPlugin();
    ProgramIconTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_program_icon.moc"
