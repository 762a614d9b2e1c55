// The drive services' readers: icons of Windows programs (made by the PE generator)
// and autorun.inf, on a mapped drive.
#include "components/file_icon.h"
#include "components/ini_tool.h"
#include "components/pe_icon.h"
#include "components/pellor.h"
#include "pewriter/pe_writer.h"
#include "support/ordinary_user.h"
#include "support/test_env.h"

#include <QtTest>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace tarvic::test {

using namespace tarvic::pewriter;

IconGroup group(const QList<IconImage> &images, const QString &name = {}) { return {images, name, 0}; }
QByteArray pe32(const QList<IconGroup> &groups, PeLayout *layout = nullptr) { return buildPe({false, true, groups}, layout); }
QByteArray pe64(const QList<IconGroup> &groups, PeLayout *layout = nullptr) { return buildPe({true, true, groups}, layout); }

// The colour of the image's body, if the notch at the top left is transparent (else
// the mask was lost).
QString colourOf(const std::optional<QImage> &image)
{
    if (!image)
        return u"none"_s;
    const QRgb body = image->pixel(image->width() * 3 / 4, image->height() * 3 / 4);
    const std::pair<Qt::GlobalColor, const char *> colours[] = {{Qt::red, "red"}, {Qt::green, "green"}, {Qt::blue, "blue"},
                                                                {Qt::yellow, "yellow"}, {Qt::magenta, "magenta"}, {Qt::cyan, "cyan"}};
    for (const auto &[colour, name] : colours)
        if (qAlpha(image->pixel(0, 0)) == 0 && body == QColor(colour).rgba())
            return QString::fromLatin1(name);
    return u"garbage"_s;
}

// Counts what the reader takes from the device.
struct CountingBuffer : QBuffer
{
    explicit CountingBuffer(QByteArray *bytes) : QBuffer(bytes) { open(QIODevice::ReadOnly | QIODevice::Unbuffered); }
    qint64 bytesRead = 0;
    qint64 readData(char *data, qint64 n) override { n = QBuffer::readData(data, n); bytesRead += n; return n; }
};

class ComponentsTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void iconOfAFile_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("colour");
        // Of the first group, the image nearest 32x32: a larger before an equally near
        // smaller one, then the most colours, then the first.
        const auto row = [](const char *name, const QByteArray &bytes, const QString &colour) { QTest::newRow(name) << bytes << colour; };
        row("32 listed last, 32 bits", pe32({group({dibIcon(48, 16, Qt::blue), dibIcon(16, 32, Qt::red), dibIcon(32, 32, Qt::green)})}), u"green"_s);
        row("most colours, 24 bits", pe64({group({dibIcon(32, 4, Qt::red), dibIcon(32, 24, Qt::magenta), dibIcon(32, 8, Qt::green)})}), u"magenta"_s);
        row("equal: the first, 1 bit", pe32({group({dibIcon(32, 1, Qt::red), dibIcon(32, 1, Qt::green)})}), u"red"_s);
        row("equally near: the larger, 4 bits", pe64({group({dibIcon(16, 32, Qt::red), dibIcon(48, 4, Qt::green)})}), u"green"_s);
        row("nearer smaller first, 16 bits", pe32({group({dibIcon(24, 16, Qt::red), dibIcon(48, 32, Qt::green)})}), u"red"_s);
        row("a worse first group, PNG", pe32({group({pngIcon(16, Qt::blue)}), group({dibIcon(32, 32, Qt::green)})}), u"blue"_s);
        row("named group first, PNG of 256", pe64({group({dibIcon(32, 32, Qt::red)}), group({pngIcon(256, Qt::blue)}, u"MAIN"_s)}), u"blue"_s);
        // A group keeps sizes in a byte: 1056 passes for 32, the decoder must refuse it.
        row("a PNG of 1056 that claims 32", pe32({group({pngIcon(1056, Qt::red), dibIcon(16, 32, Qt::blue)})}), u"blue"_s);
        // No program, no icon, or a hostile one: none, or the next image.
        row("no icon", buildPe(PeRecipe{}), u"none"_s);
        row("no resources", buildPe(PeRecipe{false, false, {}}), u"none"_s);
        row("a batch file", "@echo off\r\necho not a program\r\n", u"none"_s);
        row("an empty file", {}, u"none"_s);
        row("4000 broken images", pe32({group(QList<IconImage>(4000, {"broken", 32, 32, 32}))}), u"none"_s);
        PeLayout l;
        const QByteArray base = pe64({group({dibIcon(16, 8, Qt::red), dibIcon(32, 8, Qt::green), dibIcon(48, 32, Qt::blue)}),
                                      group({dibIcon(32, 32, Qt::yellow)})}, &l);
        const auto patched = [&](quint32 at, quint32 value) { QByteArray b = base; put32(b, at, value); return b; };
        // items[14]: the icon groups (RT_GROUP_ICON); items[3]: the images (RT_ICON), green second.
        row("MS-DOS program", patched(0x3c, 0x40), u"none"_s);
        row("e_lfanew past the end", patched(0x3c, 0xfffffff0u), u"none"_s);
        row("65535 sections", patched(l.peHeader + 6, 0xffff), u"none"_s);
        row("group type loops to the root", patched(l.types[14].entry + 4, 0x80000000u), u"none"_s);
        row("group of 4 GB", patched(l.items[14][0].dataEntry + 4, ~0u), u"none"_s);
        row("group claims 65535 images", patched(l.items[14][0].data + 2, 0xffff0001u), u"green"_s);
        row("best image's header broken: the next", patched(l.items[3][1].data + 4, 100000), u"blue"_s);
    }

    void iconOfAFile()
    {
        QFETCH(QByteArray, bytes);
        CountingBuffer buffer(&bytes);
        QTEST(colourOf(readPeIcon(buffer)), "colour");
        // However hostile, a file costs little: no directory is read once an image.
        QVERIFY2(buffer.bytesRead < 256 * 1024, qPrintable(QString::number(buffer.bytesRead)));

        // Cut short anywhere: the whole icon, another image or none; never garbage or
        // the chosen image in part. Damaged anywhere, each byte of the headers and
        // directories in turn and one more at random: no crash, no hang, no giant image.
        const std::optional<QImage> whole = readPeIconFromBytes(bytes);
        QRandomGenerator random(20261206);
        for (qsizetype n = 0; n < bytes.size(); n += n < 0x800 ? 1 : n / 64) {
            const std::optional<QImage> cut = readPeIconFromBytes(bytes.left(n));
            QVERIFY2(colourOf(cut) != u"garbage"_s, qPrintable(QString::number(n)));
            QVERIFY2(cut == whole || colourOf(cut) != colourOf(whole), qPrintable(QString::number(n)));
            QByteArray damaged = bytes;
            const char junk = char(random.bounded(256));
            damaged[n] = junk;
            damaged[random.bounded(int(bytes.size()))] = junk;
            QVERIFY2(readPeIconFromBytes(damaged).value_or(QImage()).width() <= 256, qPrintable(QString::number(n)));
        }
    }

    // Only a regular file that can be read counts, nothing may hang, nothing is kept.
    void onlyReadableRegularFilesAreRead()
    {
        TestEnv env;
        const QString disc = env.newFolder(u"disc"_s);
        const QByteArray d = QFile::encodeName(disc);
        touch(disc + u"/AutoRun.Inf"_s, "[AutoRun]\r\nOpen=setup.exe\r\n");
        touch(disc + u"/locked.inf"_s, "[autorun]\nopen=setup.exe\n");
        touch(disc + u"/locked.exe"_s, pe32({group({dibIcon(32, 32, Qt::red)})}));
        makeFolder(disc + u"/folder.inf"_s);
        QVERIFY(::chmod(d + "/locked.inf", 0) == 0 && ::chmod(d + "/locked.exe", 0) == 0 && ::mkfifo(d + "/fifo.inf", 0666) == 0);
        QVERIFY(::mkfifo(d + "/fifo.exe", 0666) == 0);
        env.mapDrive(u'E', disc);
        const OrdinaryUser asAnyone;
        if (!asAnyone.holds())
            QSKIP("root reads every file and cannot give that up here");
        INITool tool(env.paths());
        QCOMPARE(tool.ReadINIValue(u"autorun"_s, u"open"_s, u"e:/AUTORUN.INF"_s), u"setup.exe"_s);
        for (const char *file : {"E:\\missing.inf", "E:\\folder.inf", "E:\\fifo.inf", "E:\\locked.inf", "F:\\autorun.inf", "/dev/zero"})
            QVERIFY2(tool.ReadINIValue(u"autorun"_s, u"open"_s, QString::fromLatin1(file)) == IniNotFound, file);
        Pellor pellor(env.paths());
        for (const char *file : {"E:\\fifo.exe", "E:\\locked.exe", "E:\\folder.inf"})
            QVERIFY2(pellor.FileIcon(QString::fromLatin1(file)).toImage() == fallbackProgramIcon().toImage(), file);
        // A program with a 5 GB payload, as installers carry (sizes past 32 bits); one without an icon.
        QVERIFY(writePe(disc + u"/x.exe"_s, {false, true, {group({dibIcon(48, 32, Qt::red)})}}, 5ll << 30));
        touch(disc + u"/none.exe"_s, buildPe(PeRecipe{}));
        QCOMPARE(pellor.FileIcon(u"E:\\none.exe"_s).toImage(), fallbackProgramIcon().toImage());
        const QImage shown = pellor.FileIcon(u"E:\\x.exe"_s).toImage();
        QVERIFY(shown.size() == QSize(32, 32) && colourOf(shown) == u"red"_s);
        QVERIFY(QDir(disc).removeRecursively());   // the disc taken out
        QCOMPARE(pellor.FileIcon(u"E:\\x.exe"_s).toImage(), fallbackProgramIcon().toImage());
    }

    // Colours as the file holds them, pixel for pixel, in the reader's image and in the
    // chooser's picture: straight alpha where the image has alpha of its own, and where
    // its alpha bytes are all zero (as older tools wrote them) the AND mask decides.
    void coloursAreTheFilesOwn_data()
    {
        QTest::addColumn<QByteArray>("image");   // a 32x32 DIB of 32 bits
        QTest::addColumn<QImage>("expected");
        // Every alpha, with colours that a premultiplied picture could not keep.
        QImage straight(32, 32, QImage::Format_ARGB32);
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x)
                straight.setPixel(x, y, qRgba(x * 8 + 3, 255 - y * 8, (x * y) & 0xff, (y * 32 + x) & 0xff));
        QTest::newRow("partly transparent") << dibIcon(straight, 32).data << straight;
        const QImage picture = drawIconImage(32, QColor(0x12, 0x9a, 0xcd));
        QByteArray zeroAlpha = dibIcon(picture, 32).data;
        for (qsizetype at = 40 + 3; at < 40 + 32 * 32 * 4; at += 4)
            zeroAlpha[at] = 0;
        QImage masked = picture;
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x)
                masked.setPixel(x, y, qAlpha(picture.pixel(x, y)) < 128 ? picture.pixel(x, y) & 0xffffffu : picture.pixel(x, y) | 0xff000000u);
        QTest::newRow("alpha all zero") << zeroAlpha << masked;
    }

    void coloursAreTheFilesOwn()
    {
        QFETCH(QByteArray, image);
        QFETCH(QImage, expected);
        TestEnv env;
        const QString disc = env.newFolder(u"disc"_s);
        env.mapDrive(u'E', disc);
        touch(disc + u"/x.exe"_s, pe32({group({{image, 32, 32, 32}})}));
        const QImage read = readPeIcon(QFile::encodeName(disc + u"/x.exe"_s)).value_or(QImage());
        const QImage shown = Pellor(env.paths()).FileIcon(u"E:\\x.exe"_s).toImage();
        for (const QImage &got : {read, shown})
            QCOMPARE(got.convertToFormat(QImage::Format_ARGB32), expected.convertToFormat(QImage::Format_ARGB32));
    }
};

} // namespace tarvic::test

QTEST_MAIN(tarvic::test::ComponentsTest)
#include "test_components.moc"
