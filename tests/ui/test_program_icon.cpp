// The program's own icon, also where the SVG image plugin is not installed.
#include "ui/program_icon.h"

#include <QtTest>
#include <QtWidgets>

using namespace tarvic;

class ProgramIconTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void everyOfferedSizeShowsAPicture()
    {
        const bool noPlugins = qEnvironmentVariableIsSet("TARVIC_TEST_NO_PLUGINS");
        if (noPlugins)
            QCoreApplication::setLibraryPaths({});
        QCOMPARE(QImageReader(QStringLiteral(":/tarvic/tarvic.svg")).canRead(), !noPlugins);   // the svg plugin is libqt6svg6
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
            QCOMPARE(QProcess::execute(QCoreApplication::applicationFilePath(), {}), 0);
    }
};

QTEST_MAIN(ProgramIconTest)
#include "test_program_icon.moc"
