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
using namespace Qt::StringLiterals;
using Status = tarvic::PeIconReader::Status;

Q_DECLARE_METATYPE(tarvic::PeIconReader::Status)

namespace {

const QMap<QString, QColor> &colours()
{
    static const QMap<QString, QColor> map{
        {u"red"_s, QColor(0xd0, 0x20, 0x20)},    {u"green"_s, QColor(0x20, 0xb0, 0x30)},
        {u"blue"_s, QColor(0x20, 0x40, 0xd0)},   {u"yellow"_s, QColor(0xe0, 0xd0, 0x10)},
        {u"purple"_s, QColor(0x90, 0x20, 0xa0)}, {u"grey"_s, QColor(0x80, 0x80, 0x80)},
    };
    return map;
}

// "16:8:red 32:png:green | MAIN 32:32:blue": icon groups split by '|', each of a
// name (optional) and images: "16:8:red" a 16x16 red DIB of 8 bits, "32:png:green" a PNG.
PeRecipe recipe(const QString &groups, bool pe64 = false, PeDamage damage = PeDamage::None)
{
    PeRecipe r;
    r.pe64 = pe64;
    r.damage = damage;
    for (const QString &g : groups.split(QLatin1Char('|'), Qt::SkipEmptyParts)) {
        IconGroup group;
        for (const QString &d : g.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            const QStringList p = d.split(QLatin1Char(':'));
            if (p.size() < 3) {
                group.name = d;
                continue;
            }
            const QImage picture = drawIconImage(p[0].toInt(), colours().value(p[2]));
            group.images << (p[1] == u"png"_s ? pngIcon(picture) : dibIcon(picture, p[1].toInt()));
        }
        r.groups << group;
    }
    return r;
}

// The best 32x32 is green; 48 blue and 16 red come next.
PeRecipe standard(bool pe64, PeDamage damage = PeDamage::None)
{
    return recipe(u"16:8:red 32:8:green 48:32:blue | 32:32:yellow"_s, pe64, damage);
}

// The colour of the image's body, by the nearest of the test colours; the notch at
// the top left must be transparent and the body opaque, or the mask was lost.
QString colourOf(const std::optional<QImage> &img)
{
    if (!img)
        return u"none"_s;
    if (img->isNull())
        return u"null"_s;
    const QRgb body = img->pixel(img->width() * 3 / 4, img->height() * 3 / 4);
    if (qAlpha(img->pixel(0, 0)) != 0 || qAlpha(body) != 255)
        return u"bad mask"_s;
    for (auto it = colours().cbegin(); it != colours().cend(); ++it) {
        const QColor c = it.value();
        if (std::abs(c.red() - qRed(body)) <= 8 && std::abs(c.green() - qGreen(body)) <= 8
            && std::abs(c.blue() - qBlue(body)) <= 8)
            return it.key();
    }
    return u"unknown colour"_s;
}

// Counts what the reader takes from the device.
struct CountingBuffer : QBuffer
{
    using QBuffer::QBuffer;
    qint64 bytesRead = 0;
    qint64 readData(char *data, qint64 maxSize) override
    {
        const qint64 n = QBuffer::readData(data, maxSize);
        bytesRead += std::max<qint64>(n, 0);
        return n;
    }
};

} // namespace

class PeIconTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void choosesTheFirstGroupsImageNearest32_data()
    {
        QTest::addColumn<bool>("pe64");
        QTest::addColumn<QString>("groups");
        QTest::addColumn<QString>("colour");
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("bits");
        for (const bool pe64 : {false, true}) {
            const auto row = [&](const char *name) -> QTestData & {
                return QTest::addRow("%s: %s", pe64 ? "PE32+" : "PE32", name) << pe64;
            };
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
            // The first group in directory order, however good the others are.
            row("two numbered groups") << "32:32:red | 32:32:green" << "red" << 32 << 32;
            row("named before numbered") << "32:32:red | MAINICON 32:32:green" << "green" << 32 << 32;
            row("named in stored order") << "ZED 32:32:red | ALPHA 32:32:green" << "red" << 32 << 32;
            row("a worse first group still wins") << "16:4:blue | 32:32:green" << "blue" << 16 << 4;
        }
    }

    void choosesTheFirstGroupsImageNearest32()
    {
        QFETCH(bool, pe64);
        QFETCH(QString, groups);
        QFETCH(int, size);
        QByteArray bytes = buildPe(recipe(groups, pe64));
        CountingBuffer buffer(&bytes);
        QVERIFY(buffer.open(QIODevice::ReadOnly | QIODevice::Unbuffered));

        const std::optional<PeIconImage> chosen = choosePeIconImage(buffer);
        QVERIFY(chosen);
        QCOMPARE(QSize(chosen->entry.width, chosen->entry.height), QSize(size, size));
        QTEST(chosen->entry.bitCount, "bits");
        QCOMPARE(chosen->png, groups.contains(QString::number(size) + u":png"_s));

        buffer.bytesRead = 0;
        const std::optional<QImage> decoded = readPeIcon(buffer);
        QVERIFY(decoded);
        // Only the headers, the resource directory and the chosen image are read.
        QVERIFY2(buffer.bytesRead < chosen->data.size() + 2048, qPrintable(QString::number(buffer.bytesRead)));
        QCOMPARE(decoded->size(), QSize(size, size));
        QTEST(colourOf(decoded), "colour");
        // The white dot in the middle survives every colour depth.
        QCOMPARE(decoded->pixel(size / 2, size / 2) | 0xff000000u, qRgb(255, 255, 255));
    }

    void noIconOrDamagedGivesNoneOrASensibleImage_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<Status>("status");
        QTest::addColumn<QString>("colour");

        QTest::newRow("resources without an icon") << buildPe(PeRecipe{}) << Status::NoIconGroup << "none";
        PeRecipe noResources;
        noResources.resources = false;
        QTest::newRow("no resources at all") << buildPe(noResources) << Status::NoResources << "none";
        PeRecipe emptyGroup;
        emptyGroup.groups << IconGroup{};
        QTest::newRow("an empty group") << buildPe(emptyGroup) << Status::NoIconGroup << "none";
        QTest::newRow("a batch file")
            << QByteArray("@echo off\r\necho not a program\r\n").repeated(4) << Status::NotProgram << "none";
        QByteArray dos = buildPe(standard(false));
        put32(dos, 0x3c, 0x40);   // an MS-DOS program: the "PE" signature is missing
        QTest::newRow("MS-DOS program") << dos << Status::NotProgram << "none";
        QByteArray rom = buildPe(standard(false));
        put16(rom, 0x98, 0x107);  // ROM image magic
        QTest::newRow("unknown optional header") << rom << Status::NotProgram << "none";
        QByteArray fewDirs = buildPe(standard(true));
        put32(fewDirs, 0x98 + 108, 2);
        QTest::newRow("only two data directories") << fewDirs << Status::NoResources << "none";

        for (const bool pe64 : {false, true}) {
            const auto row = [&](const char *name, PeDamage d) -> QTestData & {
                return QTest::addRow("%s: %s", pe64 ? "PE32+" : "PE32", name) << buildPe(standard(pe64, d));
            };
            row("undamaged", PeDamage::None) << Status::Ok << "green";
            row("e_lfanew past the end", PeDamage::LfanewHuge) << Status::Damaged << "none";
            row("65535 sections", PeDamage::AbsurdSectionCount) << Status::Damaged << "none";
            row("resources in no section", PeDamage::ResourceRvaOutside) << Status::Damaged << "none";
            row("section data near 4 GB", PeDamage::SectionPointerHuge) << Status::Damaged << "none";
            // Sizes that claim more than the file has: what is there is still read.
            row("section sizes of 4 GB", PeDamage::SectionSizesHuge) << Status::Ok << "green";
            row("65535 + 65535 root entries", PeDamage::AbsurdRootCounts) << Status::Damaged << "none";
            row("group type loops to the root", PeDamage::GroupTypeLoopsToRoot) << Status::Damaged << "none";
            row("group name loops to the root", PeDamage::GroupNameLoopsToRoot) << Status::Damaged << "none";
            row("language directory loops to itself", PeDamage::LanguageDirLoopsToItself) << Status::Damaged << "none";
            row("directories overlap", PeDamage::OverlappingDirectories) << Status::Damaged << "none";
            row("group data is the directory", PeDamage::GroupDataIsTheDirectory) << Status::Damaged << "none";
            row("group claims 65535 images", PeDamage::AbsurdGroupCount) << Status::Ok << "green";
            row("group size of 4 GB", PeDamage::GroupSizeHuge) << Status::Damaged << "none";
            row("every image 4 GB", PeDamage::IconSizesHuge) << Status::Ok << "none";
            // The broken best image is passed over for the next best (48 before 16).
            row("best image's header broken", PeDamage::BestImageHeaderBroken) << Status::Ok << "blue";
        }
        QTest::newRow("4000 images, every one 4 GB")
            << buildPe(recipe(u"32:1:red "_s.repeated(4000), false, PeDamage::IconSizesHuge)) << Status::Ok << "none";
    }

    void noIconOrDamagedGivesNoneOrASensibleImage()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(Status, status);
        CountingBuffer buffer(&bytes);
        QVERIFY(buffer.open(QIODevice::ReadOnly | QIODevice::Unbuffered));
        PeIconReader reader(buffer);
        QCOMPARE(reader.firstGroup().isEmpty(), status != Status::Ok);
        QCOMPARE(reader.status(), status);
        buffer.bytesRead = 0;
        QTEST(colourOf(readPeIcon(buffer)), "colour");
        // However hostile, a file costs little: the directory of 4000 images (32 KB) is
        // read once, not once an image.
        QVERIFY2(buffer.bytesRead < 256 * 1024, qPrintable(QString::number(buffer.bytesRead)));
    }

    void truncationAtAnyOffsetIsSafe_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addRow("PE32 with DIB images") << buildPe(standard(false));
        QTest::addRow("PE32+ with PNG images") << buildPe(recipe(u"APP 16:png:red 32:png:green 48:png:blue"_s, true));
    }

    void truncationAtAnyOffsetIsSafe()
    {
        QFETCH(QByteArray, bytes);
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
            QVERIFY2(got == u"none"_s || got == u"red"_s || got == u"blue"_s || (got == u"green"_s && n >= chosenEnd),
                     qPrintable(u"cut at %1: %2"_s.arg(n).arg(got)));
            seen << got;
        }
        QVERIFY(seen.contains(u"none"_s));
        QCOMPARE(colourOf(readPeIconFromBytes(bytes)), u"green"_s);
    }

    void randomlyDamagedBytesAreSafe()
    {
        const QByteArray original = buildPe(standard(true));
        QRandomGenerator random(20261206);
        int images = 0;
        for (int round = 0; round < 3000; ++round) {
            QByteArray bytes = original;
            // Hit the headers and the resource directory mostly: that is where the checks are.
            const int flips = 1 + int(random.bounded(6));
            for (int i = 0; i < flips; ++i)
                bytes[int(random.bounded(round % 2 ? 0x800 : int(bytes.size())))] = char(random.bounded(256));
            if (const std::optional<QImage> img = readPeIconFromBytes(bytes)) {
                ++images;
                QVERIFY(!img->isNull() && img->width() <= 256 && img->height() <= 256);
            }
        }
        QVERIFY(images > 0);   // most damage misses what matters
    }

    void bigSparseProgramStillGivesItsIcon()
    {
        // A 5 GB program (sizes past 32 bits) with the resources at the start.
        QTemporaryDir dir;
        const QString path = dir.filePath(u"huge.exe"_s);
        if (!writePe(path, standard(true), 5ll << 30))
            QSKIP("the file system takes no sparse file of 5 GB");
        QCOMPARE(QFileInfo(path).size(), 5ll << 30);
        QCOMPARE(colourOf(readPeIcon(path)), u"green"_s);
    }

    void fileIconThroughAMappedDrive_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("colour");   // "fallback": the program icon of the desktop
        QTest::newRow("a program's own icon") << "E:\\setup.exe" << "green";
        QTest::newRow("names match without regard to case") << "e:\\SETUP.EXE" << "green";
        QTest::newRow("a name with blanks") << "E:\\Install Me.exe" << "purple";
        QTest::newRow("a 48 image is scaled to 32") << "E:\\big.exe" << "blue";
        QTest::newRow("a program without an icon") << "E:\\noicon.exe" << "fallback";
        QTest::newRow("an empty file") << "E:\\empty.exe" << "fallback";
        QTest::newRow("a folder") << "E:\\folder.exe" << "fallback";
        QTest::newRow("a pipe") << "E:\\pipe.exe" << "fallback";
        QTest::newRow("a missing file") << "E:\\gone.exe" << "fallback";
        QTest::newRow("an unmapped drive") << "F:\\setup.exe" << "fallback";
    }

    void fileIconThroughAMappedDrive()
    {
        QFETCH(QString, path);
        QFETCH(QString, colour);
        TestEnv env;
        const QString disc = env.newFolder(u"disc"_s);
        QVERIFY(writePe(disc + u"/setup.exe"_s, recipe(u"16:8:red 32:8:green"_s)));
        QVERIFY(writePe(disc + u"/Install Me.exe"_s, recipe(u"32:32:purple"_s, true)));
        QVERIFY(writePe(disc + u"/big.exe"_s, recipe(u"48:32:blue"_s)));
        QVERIFY(writePe(disc + u"/noicon.exe"_s, PeRecipe{}));
        touch(disc + u"/empty.exe"_s);
        makeFolder(disc + u"/folder.exe"_s);
        QCOMPARE(::mkfifo(QFile::encodeName(disc + u"/pipe.exe"_s).constData(), 0644), 0);
        env.mapDrive(QLatin1Char('E'), disc);

        Pellor pellor(env.paths());
        const QPixmap icon = pellor.FileIcon(path);
        QCOMPARE(icon.size(), QSize(32, 32));
        if (colour == u"fallback"_s)
            QCOMPARE(icon.toImage(), fallbackProgramIcon().toImage());
        else
            QCOMPARE(colourOf(icon.toImage()), colour);

        // Nothing is kept: once the disc is out, every program has the fallback.
        QVERIFY(QDir(disc).removeRecursively());
        QCOMPARE(pellor.FileIcon(path).toImage(), fallbackProgramIcon().toImage());
    }
};

QTEST_MAIN(PeIconTest)
#include "test_pe_icon.moc"
