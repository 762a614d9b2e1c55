// Icons of Windows programs: which image is chosen, damaged and hostile files, and
// Pellor::FileIcon on a mapped drive. The programs are made by the PE generator.
#include "components/pe_icon.h"
#include "components/pellor.h"
#include "support/pe/pe_writer.h"
#include "support/test_env.h"

#include <QBuffer>
#include <QRandomGenerator>
#include <QtTest>
#include <sys/stat.h>

using namespace tarvic;
using namespace tarvic::test;

Q_DECLARE_METATYPE(tarvic::test::PeDamage)
Q_DECLARE_METATYPE(tarvic::PeIconReader::Status)

namespace {

const QMap<QString, QColor> &colours()
{
    static const QMap<QString, QColor> map{
        {QStringLiteral("red"), QColor(0xd0, 0x20, 0x20)},    {QStringLiteral("green"), QColor(0x20, 0xb0, 0x30)},
        {QStringLiteral("blue"), QColor(0x20, 0x40, 0xd0)},   {QStringLiteral("yellow"), QColor(0xe0, 0xd0, 0x10)},
        {QStringLiteral("purple"), QColor(0x90, 0x20, 0xa0)}, {QStringLiteral("grey"), QColor(0x80, 0x80, 0x80)},
    };
    return map;
}

// "32:8:green" is a 32x32 green DIB of 8 bits; "32:png:red" a PNG.
IconImage image(const QString &description)
{
    const QStringList p = description.split(QLatin1Char(':'));
    const QImage picture = drawIconImage(p[0].toInt(), colours().value(p[2]));
    return p[1] == QLatin1String("png") ? pngIcon(picture) : dibIcon(picture, p[1].toInt());
}

IconGroup group(const QString &images, const QString &name = {})
{
    IconGroup g;
    g.name = name;
    for (const QString &d : images.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        g.images << image(d);
    return g;
}

// The colour of the image's body, by the nearest of the test colours; the notch at
// the top left must be transparent and the body opaque, or the mask was lost.
QString colourOf(const QImage &img)
{
    if (img.isNull())
        return QStringLiteral("null");
    const QRgb body = img.pixel(img.width() * 3 / 4, img.height() * 3 / 4);
    if (qAlpha(img.pixel(0, 0)) != 0 || qAlpha(body) != 255)
        return QStringLiteral("bad mask");
    for (auto it = colours().cbegin(); it != colours().cend(); ++it) {
        const QColor c = it.value();
        if (std::abs(c.red() - qRed(body)) <= 8 && std::abs(c.green() - qGreen(body)) <= 8
            && std::abs(c.blue() - qBlue(body)) <= 8)
            return it.key();
    }
    return QStringLiteral("unknown colour");
}

QString colourOf(const std::optional<QImage> &img)
{
    return img ? colourOf(*img) : QStringLiteral("none");
}

// Counts what the reader takes from the device.
class CountingBuffer : public QBuffer
{
public:
    using QBuffer::QBuffer;
    qint64 bytesRead = 0;

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const qint64 n = QBuffer::readData(data, maxSize);
        bytesRead += std::max<qint64>(n, 0);
        return n;
    }
};

PeRecipe standardSpec(bool pe64)
{
    PeRecipe recipe;
    recipe.pe64 = pe64;
    recipe.groups << group(QStringLiteral("16:8:red 32:8:green 48:32:blue"))
                << group(QStringLiteral("32:32:yellow"));
    return recipe;
}

} // namespace

class PeIconTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void choosesTheImageNearest32_data();
    void choosesTheImageNearest32();
    void firstGroupInDirectoryOrderWins_data();
    void firstGroupInDirectoryOrderWins();
    void filesWithoutAnIconGiveNone_data();
    void filesWithoutAnIconGiveNone();
    void damagedProgramsGiveNoneOrASensibleImage_data();
    void damagedProgramsGiveNoneOrASensibleImage();
    void truncationAtAnyOffsetIsSafe_data();
    void truncationAtAnyOffsetIsSafe();
    void randomlyDamagedBytesAreSafe();
    void onlyHeadersDirectoryAndImageAreRead();
    void aGroupOfThousandsOfBrokenImagesIsGivenUpSoon();
    void fileIconThroughAMappedDrive_data();
    void fileIconThroughAMappedDrive();
    void fileIconOfARemovedDiscIsTheFallback();
    void bigSparseProgramStillGivesItsIcon();
};

void PeIconTest::choosesTheImageNearest32_data()
{
    QTest::addColumn<bool>("pe64");
    QTest::addColumn<QString>("images");
    QTest::addColumn<QString>("colour");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("bits");
    for (const bool pe64 : {false, true}) {
        const char *kind = pe64 ? "PE32+" : "PE32";
        const auto row = [&](const char *name) -> QTestData & { return QTest::addRow("%s: %s", kind, name) << pe64; };
        row("32 among 16, 32 and 48") << "16:32:red 32:32:green 48:32:blue" << "green" << 32 << 32;
        row("32 listed last") << "48:32:blue 16:32:red 32:8:green" << "green" << 32 << 8;
        row("most colours among the 32s") << "32:4:red 32:8:green 32:32:blue 32:24:yellow" << "blue" << 32 << 32;
        row("24 bits over 8") << "32:8:red 32:24:purple" << "purple" << 32 << 24;
        row("equal images: the first") << "32:8:red 32:8:green" << "red" << 32 << 8;
        row("equally near: the larger") << "16:32:red 48:32:green" << "green" << 48 << 32;
        row("nearer smaller over farther larger") << "24:32:red 48:32:green" << "red" << 24 << 32;
        row("one bit") << "32:1:grey" << "grey" << 32 << 1;
        row("four bits") << "32:4:yellow 64:32:blue" << "yellow" << 32 << 4;
        row("sixteen bits") << "32:16:purple" << "purple" << 32 << 16;
        row("PNG of 32") << "32:png:red 16:32:green" << "red" << 32 << 32;
        row("PNG of 256 against 16") << "256:png:red 16:8:green" << "green" << 16 << 8;
        row("PNG of 256 alone") << "256:png:blue" << "blue" << 256 << 32;
    }
}

void PeIconTest::choosesTheImageNearest32()
{
    QFETCH(bool, pe64);
    QFETCH(QString, images);
    QFETCH(QString, colour);
    QFETCH(int, size);
    QFETCH(int, bits);
    PeRecipe recipe;
    recipe.pe64 = pe64;
    recipe.groups << group(images);
    QByteArray bytes = buildPe(recipe);
    QBuffer buffer(&bytes);
    QVERIFY(buffer.open(QIODevice::ReadOnly));

    const std::optional<PeIconImage> chosen = choosePeIconImage(buffer);
    QVERIFY(chosen);
    QCOMPARE(chosen->entry.width, size);
    QCOMPARE(chosen->entry.height, size);
    QCOMPARE(chosen->entry.bitCount, bits);
    QCOMPARE(chosen->png, images.contains(QString::number(size) + QStringLiteral(":png")));

    const std::optional<QImage> decoded = readPeIcon(buffer);
    QVERIFY(decoded);
    QCOMPARE(decoded->size(), QSize(size, size));
    QCOMPARE(colourOf(decoded), colour);
    // The white dot in the middle survives every colour depth.
    QCOMPARE(decoded->pixel(size / 2, size / 2) | 0xff000000u, qRgb(255, 255, 255));
}

void PeIconTest::firstGroupInDirectoryOrderWins_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("firstName");
    QTest::addColumn<QString>("second");
    QTest::addColumn<QString>("secondName");
    QTest::addColumn<QString>("colour");
    QTest::newRow("two numbered groups") << "32:32:red" << "" << "32:32:green" << "" << "red";
    QTest::newRow("named before numbered") << "32:32:red" << "" << "32:32:green" << "MAINICON" << "green";
    QTest::newRow("named in stored order") << "32:32:red" << "ZED" << "32:32:green" << "ALPHA" << "red";
    QTest::newRow("a worse first group still wins") << "16:4:blue" << "" << "32:32:green" << "" << "blue";
}

void PeIconTest::firstGroupInDirectoryOrderWins()
{
    QFETCH(QString, first);
    QFETCH(QString, firstName);
    QFETCH(QString, second);
    QFETCH(QString, secondName);
    QFETCH(QString, colour);
    PeRecipe recipe;
    recipe.groups << group(first, firstName) << group(second, secondName);
    QCOMPARE(colourOf(readPeIconFromBytes(buildPe(recipe))), colour);
}

void PeIconTest::filesWithoutAnIconGiveNone_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<PeIconReader::Status>("status");
    PeRecipe noIcon;
    QTest::newRow("resources without an icon") << buildPe(noIcon) << PeIconReader::Status::NoIconGroup;
    noIcon.pe64 = true;
    QTest::newRow("PE32+ without an icon") << buildPe(noIcon) << PeIconReader::Status::NoIconGroup;
    noIcon.resources = false;
    QTest::newRow("no resources at all") << buildPe(noIcon) << PeIconReader::Status::NoResources;
    PeRecipe emptyGroup;
    emptyGroup.groups << IconGroup{};
    QTest::newRow("an empty group") << buildPe(emptyGroup) << PeIconReader::Status::NoIconGroup;
    QTest::newRow("empty file") << QByteArray() << PeIconReader::Status::NotProgram;
    QTest::newRow("text file") << QByteArray("@echo off\r\necho not a program\r\n").repeated(4)
                               << PeIconReader::Status::NotProgram;
    QTest::newRow("shell script") << QByteArray("#!/bin/sh\nexit 0\n") << PeIconReader::Status::NotProgram;
    QByteArray dos = buildPe(standardSpec(false));
    put32(dos, 0x3c, 0x40);   // an MS-DOS program: the "PE" signature is missing
    QTest::newRow("MS-DOS program") << dos << PeIconReader::Status::NotProgram;
    QByteArray rom = buildPe(standardSpec(false));
    put16(rom, 0x98, 0x107);  // ROM image magic
    QTest::newRow("unknown optional header") << rom << PeIconReader::Status::NotProgram;
    QByteArray fewDirs = buildPe(standardSpec(true));
    put32(fewDirs, 0x98 + 108, 2);
    QTest::newRow("only two data directories") << fewDirs << PeIconReader::Status::NoResources;
}

void PeIconTest::filesWithoutAnIconGiveNone()
{
    QFETCH(QByteArray, bytes);
    QFETCH(PeIconReader::Status, status);
    QBuffer buffer(&bytes);
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    PeIconReader reader(buffer);
    QVERIFY(reader.firstGroup().isEmpty());
    QCOMPARE(reader.status(), status);
    QVERIFY(!readPeIcon(buffer));
}

void PeIconTest::damagedProgramsGiveNoneOrASensibleImage_data()
{
    using S = PeIconReader::Status;
    QTest::addColumn<bool>("pe64");
    QTest::addColumn<PeDamage>("damage");
    QTest::addColumn<PeIconReader::Status>("status");
    QTest::addColumn<QString>("colour");
    for (const bool pe64 : {false, true}) {
        const char *kind = pe64 ? "PE32+" : "PE32";
        const auto row = [&](const char *name, PeDamage d) -> QTestData & { return QTest::addRow("%s: %s", kind, name) << pe64 << d; };
        row("undamaged", PeDamage::None) << S::Ok << "green";
        row("e_lfanew past the end", PeDamage::LfanewHuge) << S::Damaged << "none";
        row("65535 sections", PeDamage::AbsurdSectionCount) << S::Damaged << "none";
        row("resources in no section", PeDamage::ResourceRvaOutside) << S::Damaged << "none";
        row("section data near 4 GB", PeDamage::SectionPointerHuge) << S::Damaged << "none";
        // Sizes that claim more than the file has: what is there is still read.
        row("section sizes of 4 GB", PeDamage::SectionSizesHuge) << S::Ok << "green";
        row("65535 + 65535 root entries", PeDamage::AbsurdRootCounts) << S::Damaged << "none";
        row("group type loops to the root", PeDamage::GroupTypeLoopsToRoot) << S::Damaged << "none";
        row("group name loops to the root", PeDamage::GroupNameLoopsToRoot) << S::Damaged << "none";
        row("language directory loops to itself", PeDamage::LanguageDirLoopsToItself) << S::Damaged << "none";
        row("directories overlap", PeDamage::OverlappingDirectories) << S::Damaged << "none";
        row("group data is the directory", PeDamage::GroupDataIsTheDirectory) << S::Damaged << "none";
        row("group claims 65535 images", PeDamage::AbsurdGroupCount) << S::Ok << "green";
        row("group size of 4 GB", PeDamage::GroupSizeHuge) << S::Damaged << "none";
        row("every image 4 GB", PeDamage::IconSizesHuge) << S::Ok << "none";
        // The broken best image is passed over for the next best (48 before 16).
        row("best image's header broken", PeDamage::BestImageHeaderBroken) << S::Ok << "blue";
    }
}

void PeIconTest::damagedProgramsGiveNoneOrASensibleImage()
{
    QFETCH(bool, pe64);
    QFETCH(PeDamage, damage);
    QFETCH(PeIconReader::Status, status);
    QFETCH(QString, colour);
    PeRecipe recipe = standardSpec(pe64);
    recipe.damage = damage;
    QByteArray bytes = buildPe(recipe);
    QBuffer buffer(&bytes);
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    PeIconReader reader(buffer);
    const QList<PeIconEntry> entries = reader.firstGroup();
    QCOMPARE(reader.status(), status);
    QCOMPARE(entries.isEmpty(), status != PeIconReader::Status::Ok);
    QCOMPARE(colourOf(readPeIcon(buffer)), colour);
}

void PeIconTest::truncationAtAnyOffsetIsSafe_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("colour");
    PeRecipe dib = standardSpec(false);
    QTest::newRow("PE32 with DIB images") << buildPe(dib) << "green";
    PeRecipe png;
    png.pe64 = true;
    png.groups << group(QStringLiteral("16:png:red 32:png:green 48:png:blue"), QStringLiteral("APP"));
    QTest::newRow("PE32+ with PNG images") << buildPe(png) << "green";
}

void PeIconTest::truncationAtAnyOffsetIsSafe()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, colour);
    QByteArray whole = bytes;
    QBuffer full(&whole);
    QVERIFY(full.open(QIODevice::ReadOnly));
    const std::optional<PeIconImage> chosen = choosePeIconImage(full);
    QVERIFY(chosen);
    const qsizetype chosenEnd = bytes.indexOf(chosen->data) + chosen->data.size();

    QSet<QString> seen;
    for (qsizetype n = 0; n < bytes.size(); n += (n < 0x600 ? 1 : 5)) {
        const QString got = colourOf(readPeIconFromBytes(bytes.left(n)));
        // Without the whole chosen image, another image or none; never garbage.
        QVERIFY2(got == QLatin1String("none") || got == QLatin1String("red") || got == QLatin1String("blue")
                     || (got == colour && n >= chosenEnd),
                 qPrintable(QStringLiteral("cut at %1: %2").arg(n).arg(got)));
        seen << got;
    }
    QVERIFY(seen.contains(QStringLiteral("none")));
    QCOMPARE(colourOf(readPeIconFromBytes(bytes)), colour);
}

void PeIconTest::randomlyDamagedBytesAreSafe()
{
    const QByteArray original = buildPe(standardSpec(true));
    QRandomGenerator random(20261206);
    int images = 0;
    for (int round = 0; round < 3000; ++round) {
        QByteArray bytes = original;
        // Hit the headers and the resource directory mostly: that is where the checks are.
        const int flips = 1 + int(random.bounded(6));
        for (int i = 0; i < flips; ++i) {
            const int at = int(random.bounded(round % 2 ? 0x800 : int(bytes.size())));
            bytes[at] = char(random.bounded(256));
        }
        const std::optional<QImage> img = readPeIconFromBytes(bytes);
        if (img) {
            ++images;
            QVERIFY(!img->isNull());
            QVERIFY(img->width() <= 256 && img->height() <= 256);
        }
    }
    QVERIFY(images > 0);   // most damage misses what matters
}

void PeIconTest::onlyHeadersDirectoryAndImageAreRead()
{
    PeRecipe recipe;
    recipe.groups << group(QStringLiteral("16:8:red 32:32:green 48:32:blue 256:png:yellow"));
    QByteArray small = buildPe(recipe);
    QByteArray big = small + QByteArray(16 << 20, 'x');   // an installer's payload
    qint64 readSmall = 0;
    for (QByteArray *bytes : {&small, &big}) {
        CountingBuffer buffer(bytes);
        QVERIFY(buffer.open(QIODevice::ReadOnly | QIODevice::Unbuffered));
        QCOMPARE(colourOf(readPeIcon(buffer)), QStringLiteral("green"));
        // The 32x32 image of 32 bits is 4 KiB; headers and directory add a little.
        QVERIFY2(buffer.bytesRead < 4096 + 2048, qPrintable(QString::number(buffer.bytesRead)));
        if (bytes == &small)
            readSmall = buffer.bytesRead;
        else
            QCOMPARE(buffer.bytesRead, readSmall);
    }
}

void PeIconTest::aGroupOfThousandsOfBrokenImagesIsGivenUpSoon()
{
    PeRecipe recipe;
    IconGroup many;
    const IconImage tiny = dibIcon(drawIconImage(32, Qt::red), 1);
    for (int i = 0; i < 4000; ++i)
        many.images << tiny;
    recipe.groups << many;
    recipe.damage = PeDamage::IconSizesHuge;
    QByteArray bytes = buildPe(recipe);
    CountingBuffer buffer(&bytes);
    QVERIFY(buffer.open(QIODevice::ReadOnly | QIODevice::Unbuffered));
    QVERIFY(!readPeIcon(buffer));
    // The image directory (32 KB) once, not once for every one of the 4000 entries.
    QVERIFY2(buffer.bytesRead < 256 * 1024, qPrintable(QString::number(buffer.bytesRead)));
}

void PeIconTest::fileIconThroughAMappedDrive_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("colour");   // "fallback": the program icon of the desktop
    QTest::newRow("a program's own icon") << "E:\\setup.exe" << "green";
    QTest::newRow("names match without regard to case") << "e:\\SETUP.EXE" << "green";
    QTest::newRow("a name with blanks") << "E:\\Install Me.exe" << "purple";
    QTest::newRow("a 48 image is scaled to 32") << "E:\\big.exe" << "blue";
    QTest::newRow("a PNG icon") << "E:\\tools.EXE" << "yellow";
    QTest::newRow("a program without an icon") << "E:\\noicon.exe" << "fallback";
    QTest::newRow("a damaged program") << "E:\\broken.exe" << "fallback";
    QTest::newRow("a script") << "E:\\hello.exe" << "fallback";
    QTest::newRow("an empty file") << "E:\\empty.exe" << "fallback";
    QTest::newRow("a folder") << "E:\\folder.exe" << "fallback";
    QTest::newRow("a pipe") << "E:\\pipe.exe" << "fallback";
    QTest::newRow("a missing file") << "E:\\gone.exe" << "fallback";
    QTest::newRow("an unmapped drive") << "F:\\setup.exe" << "fallback";
}

void PeIconTest::fileIconThroughAMappedDrive()
{
    QFETCH(QString, path);
    QFETCH(QString, colour);
    TestEnv env;
    const QString disc = env.newFolder(QStringLiteral("disc"));
    PeRecipe setup;
    setup.groups << group(QStringLiteral("16:8:red 32:8:green"));
    PeRecipe blanks;
    blanks.pe64 = true;
    blanks.groups << group(QStringLiteral("32:32:purple"));
    PeRecipe big;
    big.groups << group(QStringLiteral("48:32:blue"));
    PeRecipe tools;
    tools.groups << group(QStringLiteral("32:png:yellow"));
    PeRecipe broken = standardSpec(false);
    broken.damage = PeDamage::GroupNameLoopsToRoot;
    QVERIFY(writePe(disc + QStringLiteral("/setup.exe"), setup));
    QVERIFY(writePe(disc + QStringLiteral("/Install Me.exe"), blanks));
    QVERIFY(writePe(disc + QStringLiteral("/big.exe"), big));
    QVERIFY(writePe(disc + QStringLiteral("/tools.EXE"), tools));
    QVERIFY(writePe(disc + QStringLiteral("/noicon.exe"), PeRecipe{}));
    QVERIFY(writePe(disc + QStringLiteral("/broken.exe"), broken));
    touch(disc + QStringLiteral("/hello.exe"), "#!/bin/sh\necho hello\n");
    touch(disc + QStringLiteral("/empty.exe"));
    makeFolder(disc + QStringLiteral("/folder.exe"));
    QCOMPARE(::mkfifo(QFile::encodeName(disc + QStringLiteral("/pipe.exe")).constData(), 0644), 0);
    env.mapDrive(QLatin1Char('E'), disc);

    Pellor pellor(env.paths());
    const QPixmap icon = pellor.FileIcon(path);
    QVERIFY(!icon.isNull());
    if (colour == QLatin1String("fallback")) {
        QCOMPARE(icon.toImage(), fallbackProgramIcon().toImage());
    } else {
        QCOMPARE(icon.size(), QSize(32, 32));
        QCOMPARE(colourOf(icon.toImage()), colour);
    }
}

void PeIconTest::fileIconOfARemovedDiscIsTheFallback()
{
    TestEnv env;
    const QString disc = env.newFolder(QStringLiteral("disc"));
    PeRecipe setup;
    setup.groups << group(QStringLiteral("32:32:green"));
    QVERIFY(writePe(disc + QStringLiteral("/setup.exe"), setup));
    env.mapDrive(QLatin1Char('E'), disc);
    Pellor pellor(env.paths());
    QCOMPARE(colourOf(pellor.FileIcon(QStringLiteral("E:\\setup.exe")).toImage()), QStringLiteral("green"));
    QVERIFY(QDir(disc).removeRecursively());
    const QPixmap after = pellor.FileIcon(QStringLiteral("E:\\setup.exe"));
    QCOMPARE(after.toImage(), fallbackProgramIcon().toImage());
    QCOMPARE(after.size(), QSize(32, 32));
}

void PeIconTest::bigSparseProgramStillGivesItsIcon()
{
    // A 5 GB program (sizes past 32 bits) with the resources at the start.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("huge.exe"));
    PeRecipe recipe = standardSpec(true);
    if (!writePe(path, recipe, 5ll << 30))
        QSKIP("the file system takes no sparse file of 5 GB");
    QCOMPARE(QFileInfo(path).size(), 5ll << 30);
    QCOMPARE(colourOf(readPeIcon(path)), QStringLiteral("green"));
}

QTEST_MAIN(PeIconTest)
#include "test_pe_icon.moc"
