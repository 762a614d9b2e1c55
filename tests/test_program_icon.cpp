// The program icon: linked in from the resource, its two hand-tuned images, the
// picture they show, larger sizes, and the icon without the svg plugin.
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

struct Census
{
    int green = 0;    // the drive's light
    int grey = 0;     // the drive's body and the disc's silver
    int colour = 0;   // the rainbow on the disc: saturated, neither green light nor grey
    int clear = 0;    // fully transparent: the icon has a shape, not a square
};

Census census(const QImage &source)
{
    const QImage image = source.convertToFormat(QImage::Format_ARGB32);
    Census c;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor px = image.pixelColor(x, y);
            if (px.alpha() == 0) {
                ++c.clear;
                continue;
            }
            if (px.alpha() < 200)
                continue;
            const int r = px.red(), g = px.green(), b = px.blue();
            const int spread = std::max({r, g, b}) - std::min({r, g, b});
            if (g >= 150 && g - r >= 60 && g - b >= 60)
                ++c.green;
            else if (spread <= 24 && g >= 90)
                ++c.grey;
            else if (spread >= 80)
                ++c.colour;
        }
    return c;
}

QString describe(const Census &c)
{
    return QStringLiteral("green %1, grey %2, colour %3, clear %4").arg(c.green).arg(c.grey).arg(c.colour).arg(c.clear);
}

} // namespace

class ProgramIconTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void offersExactlyTheTwoHandTunedSizes();
    void handTunedImagesAreUsedUnscaled_data();
    void handTunedImagesAreUsedUnscaled();
    void imagesShowDiscDriveAndGreenLight_data();
    void imagesShowDiscDriveAndGreenLight();
    void largerSizesAreDrawnFromTheSvg();
    void withoutTheSvgPluginThePngsStillServe();
};

void ProgramIconTest::offersExactlyTheTwoHandTunedSizes()
{
    const QIcon icon = programIcon();
    QVERIFY2(!icon.isNull(), "the icon resource is not linked in");
    QList<QSize> sizes = icon.availableSizes();
    std::sort(sizes.begin(), sizes.end(), [](QSize a, QSize b) { return a.width() < b.width(); });
    QCOMPARE(sizes, (QList<QSize>{QSize(16, 16), QSize(32, 32)}));
}

void ProgramIconTest::handTunedImagesAreUsedUnscaled_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<QString>("file");
    QTest::newRow("16") << 16 << ":/tarvic/tarvic-16.png";
    QTest::newRow("32") << 32 << ":/tarvic/tarvic-32.png";
}

void ProgramIconTest::handTunedImagesAreUsedUnscaled()
{
    QFETCH(int, size);
    QFETCH(QString, file);
    const QImage expected(file);
    QVERIFY2(!expected.isNull(), qPrintable(file + QStringLiteral(" is missing from the resource")));
    QCOMPARE(expected.size(), QSize(size, size));
    const QImage got = programIcon().pixmap(QSize(size, size)).toImage();
    QCOMPARE(got.size(), QSize(size, size));
    // Not drawn from the SVG nor scaled from the other image: the very pixels. A
    // pixmap holds them premultiplied, so that is the form compared.
    QCOMPARE(got.convertToFormat(QImage::Format_ARGB32_Premultiplied),
             expected.convertToFormat(QImage::Format_ARGB32_Premultiplied));
}

void ProgramIconTest::imagesShowDiscDriveAndGreenLight_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("minGreen");
    QTest::addColumn<int>("minGrey");
    QTest::newRow("16") << 16 << 2 << 20;
    QTest::newRow("32") << 32 << 4 << 80;
}

void ProgramIconTest::imagesShowDiscDriveAndGreenLight()
{
    QFETCH(int, size);
    QFETCH(int, minGreen);
    QFETCH(int, minGrey);
    const QImage image = programIcon().pixmap(QSize(size, size)).toImage();
    const Census c = census(image);
    QVERIFY2(c.green >= minGreen, qPrintable(describe(c)));
    QVERIFY2(c.grey >= minGrey, qPrintable(describe(c)));
    QVERIFY2(c.colour >= size / 4, qPrintable(describe(c)));   // the rainbow survives even at 16
    QVERIFY2(c.clear >= size, qPrintable(describe(c)));
    // The light sits low in the drive, the top corners are background.
    QCOMPARE(image.pixelColor(0, 0).alpha(), 0);
    QCOMPARE(image.pixelColor(size - 1, 0).alpha(), 0);
    QCOMPARE(image.pixelColor(size / 2, size * 7 / 8).alpha(), 255);
}

void ProgramIconTest::largerSizesAreDrawnFromTheSvg()
{
    QVERIFY2(QFile::exists(QStringLiteral(":/tarvic/tarvic.svg")), "tarvic.svg is missing from the resource");
    QVERIFY2(QImageReader(QStringLiteral(":/tarvic/tarvic.svg")).canRead(),
             "the svg image plugin (libqt6svg6) is not installed");
    const QIcon icon = programIcon();
    const QImage big = icon.pixmap(QSize(128, 128)).toImage();
    QCOMPARE(big.size(), QSize(128, 128));
    const Census c = census(big);
    QVERIFY2(c.green >= 30 && c.grey >= 1000 && c.colour >= 200, qPrintable(describe(c)));
    // Drawn, not blown up from 32 pixels: an upscaled image has runs of four equal
    // pixels everywhere; count the edges between neighbours along the middle row.
    const QImage scaled = icon.pixmap(QSize(32, 32)).toImage().scaled(128, 128);
    auto changes = [](const QImage &img) {
        int n = 0;
        for (int x = 1; x < img.width(); ++x)
            n += img.pixel(x, 40) != img.pixel(x - 1, 40);
        return n;
    };
    QVERIFY2(changes(big) > changes(scaled), qPrintable(QStringLiteral("%1 vs %2").arg(changes(big)).arg(changes(scaled))));
    // Asked twice, the same picture.
    QCOMPARE(icon.pixmap(QSize(128, 128)).toImage(), big);
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
    const QString out = QString::fromUtf8(child.readAllStandardOutput()).trimmed();
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(out, QStringLiteral("svg unreadable; sizes 16 32; 16 ok; 32 ok; 64 ok"));
}

// Runs in the child: no image plugin can be found, so the SVG cannot be read.
static int checkWithoutSvgPlugin()
{
    QStringList report;
    report << (QImageReader(QStringLiteral(":/tarvic/tarvic.svg")).canRead() ? QStringLiteral("svg readable")
                                                                               : QStringLiteral("svg unreadable"));
    const QIcon icon = programIcon();
    QStringList sizes;
    for (const QSize &s : icon.availableSizes())
        sizes << QString::number(s.width());
    report << QStringLiteral("sizes ") + sizes.join(QLatin1Char(' '));
    for (int size : {16, 32, 64}) {
        const QImage image = icon.pixmap(QSize(size, size)).toImage();
        const Census c = census(image);
        const bool ok = image.size() == QSize(size, size) && c.green > 0 && c.grey > 0;
        report << QStringLiteral("%1 %2").arg(size).arg(ok ? QStringLiteral("ok") : describe(c));
    }
    std::printf("%s\n", qPrintable(report.join(QStringLiteral("; "))));
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
