#include "pewriter/pe_writer.h"

#include <QBuffer>
#include <QFile>
#include <QPainter>
#include <algorithm>

namespace tarvic::pewriter {

namespace {

constexpr quint32 FileAlign = 0x200;
constexpr quint32 SectionAlign = 0x1000;
constexpr quint32 TextRva = 0x1000;
constexpr quint32 RsrcRva = 0x2000;
constexpr quint32 RsrcFile = 2 * FileAlign;
constexpr quint32 HighBit = 0x80000000u;   // in a directory entry: a name, or a subdirectory

quint32 alignUp(qsizetype v, quint32 a) { return quint32((v + a - 1) / a * a); }

// A little-endian field of 1, 2 or 4 bytes, at an offset from a base.
struct Field { quint32 at, value; int size = 4; };

void fill(QByteArray &bytes, quint32 base, std::initializer_list<Field> fields)
{
    for (const Field &f : fields)
        for (int i = 0; i < f.size; ++i)
            bytes[base + f.at + i] = char(f.value >> 8 * i);
}

// A resource, or a type of them (items: named ones first).
struct Res { QString name; quint32 id = 0; QByteArray data; QList<Res> items; };

// The resource section: the directories (with the names), then the data, as resource
// compilers store them. Offsets here are file offsets; the section's own pointers
// count from its start.
QByteArray buildResources(const QList<Res> &types, PeLayout &layout)
{
    QByteArray out(RsrcFile, '\0');
    const auto grow = [&](qsizetype n) {
        const quint32 at = quint32(out.size());
        out.append(alignUp(n, 8), '\0');
        return at;
    };
    const auto directory = [&](const QList<Res> &entries) {
        const auto named = quint32(
            std::count_if(entries.cbegin(), entries.cend(), [](const Res &e) { return !e.name.isEmpty(); }));
        const quint32 at = grow(16 + 8 * entries.size());
        fill(out, at, {{12, named, 2}, {14, quint32(entries.size()) - named, 2}});
        return at;
    };
    const auto nameOrId = [&](const Res &e) {   // a name is a counted UTF-16 string
        if (e.name.isEmpty())
            return e.id;
        const quint32 at = grow(2 + 2 * e.name.size());
        put16(out, at, quint16(e.name.size()));
        for (qsizetype i = 0; i < e.name.size(); ++i)
            put16(out, at + 2 + 2 * quint32(i), e.name.at(i).unicode());
        return HighBit | (at - RsrcFile);
    };
    const quint32 root = directory(types);
    for (qsizetype t = 0; t < types.size(); ++t) {
        const quint32 entry = root + 16 + 8 * quint32(t), dir = directory(types[t].items);
        fill(out, entry, {{0, nameOrId(types[t])}, {4, HighBit | (dir - RsrcFile)}});
        layout.types[types[t].id] = {entry, 0, 0, 0, 0};
        for (qsizetype i = 0; i < types[t].items.size(); ++i) {
            const Res &r = types[t].items[i];
            const PeLayout::Item item{dir + 16 + 8 * quint32(i), grow(24), grow(16), 0, quint32(r.data.size())};
            fill(out, item.entry, {{0, nameOrId(r)}, {4, HighBit | (item.languageDir - RsrcFile)}});
            // One language, English (United States), leads to the data entry.
            fill(out, item.languageDir, {{14, 1, 2}, {16, 0x409}, {20, item.dataEntry - RsrcFile}});
            layout.items[types[t].id] << item;
        }
    }
    // The data in reverse order of the types: icon groups before their images, so a file
    // cut short can hold a group and part of an image (linkers order data as they like).
    for (auto type = types.crbegin(); type != types.crend(); ++type)
        for (qsizetype i = 0; i < type->items.size(); ++i) {
            PeLayout::Item &item = layout.items[type->id][i];
            item.data = grow(item.size);
            out.replace(item.data, item.size, type->items[i].data);
            fill(out, item.dataEntry, {{0, RsrcRva + item.data - RsrcFile}, {4, item.size}});
        }
    return out.mid(RsrcFile);
}

} // namespace

void put16(QByteArray &bytes, quint32 at, quint16 value) { fill(bytes, at, {{0, value, 2}}); }
void put32(QByteArray &bytes, quint32 at, quint32 value) { fill(bytes, at, {{0, value}}); }

QImage drawIconImage(int size, QColor colour)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(colour);
    QPainter p(&image);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.fillRect(0, 0, std::max(4, size / 8), std::max(4, size / 8), Qt::transparent);
    p.fillRect(size / 2 - 1, size / 2 - 1, 2, 2, Qt::white);
    return image;
}

IconImage dibIcon(const QImage &picture, int bitCount)
{
    const QImage src = picture.convertToFormat(QImage::Format_ARGB32);
    const int w = src.width();
    const int h = src.height();
    QList<QRgb> palette;
    for (int y = 0; bitCount <= 8 && y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (qAlpha(src.pixel(x, y)) >= 128 && !palette.contains(src.pixel(x, y) | 0xff000000u))
                palette << (src.pixel(x, y) | 0xff000000u);
    if (bitCount <= 8)
        palette.resize(1 << bitCount, qRgb(0, 0, 0));
    // Qt's formats of the same memory layout as the DIB's rows; indices for palettes.
    const QImage pixels = bitCount <= 8 ? src.convertToFormat(QImage::Format_Indexed8, palette)
                          : src.convertToFormat(bitCount == 16   ? QImage::Format_RGB555
                                                : bitCount == 24 ? QImage::Format_BGR888
                                                                 : QImage::Format_ARGB32);
    const int xorStride = (w * bitCount + 31) / 32 * 4;
    const int andStride = (w + 31) / 32 * 4;
    QByteArray d(40 + 4 * palette.size() + (xorStride + andStride) * h, '\0');
    // BITMAPINFOHEADER: its size, width, height of colour bits and mask, planes, bits, image size.
    fill(d, 0, {{0, 40}, {4, quint32(w)}, {8, quint32(2 * h)}, {12, 1, 2}, {14, quint32(bitCount), 2},
                {20, quint32((xorStride + andStride) * h)}});
    for (qsizetype i = 0; i < palette.size(); ++i)
        put32(d, 40 + 4 * quint32(i), palette[i] & 0xffffffu);   // blue, green, red, 0
    uchar *bits = reinterpret_cast<uchar *>(d.data()) + 40 + 4 * palette.size();
    uchar *mask = bits + xorStride * h;
    for (int y = 0; y < h; ++y) {
        const int row = h - 1 - y;   // bottom-up
        if (bitCount > 8)
            std::copy_n(pixels.constScanLine(y), w * bitCount / 8, bits + row * xorStride);
        for (int x = 0; x < w; ++x) {
            if (bitCount <= 8)
                bits[row * xorStride + x * bitCount / 8] |=
                    uchar(pixels.pixelIndex(x, y) << (8 - bitCount - x * bitCount % 8));
            if (qAlpha(src.pixel(x, y)) < 128)
                mask[row * andStride + x / 8] |= uchar(0x80 >> (x % 8));
        }
    }
    return {d, w, h, bitCount};
}

IconImage pngIcon(const QImage &picture)
{
    QByteArray d;
    QBuffer buffer(&d);   // opened by the writer
    picture.convertToFormat(QImage::Format_ARGB32).save(&buffer, "PNG");
    return {d, picture.width(), picture.height(), 32};
}

IconImage dibIcon(int size, int bitCount, QColor colour) { return dibIcon(drawIconImage(size, colour), bitCount); }
IconImage pngIcon(int size, QColor colour) { return pngIcon(drawIconImage(size, colour)); }

QByteArray buildPe(const PeRecipe &recipe, PeLayout *layoutOut)
{
    PeLayout layout;
    Res icons{QString(), 3, {}, {}};     // RT_ICON
    Res groups{QString(), 14, {}, {}};   // RT_GROUP_ICON
    for (const IconGroup &g : recipe.groups) {
        // The group: type 1 (icons), the count, then an entry for each image.
        QByteArray dir(6 + 14 * g.images.size(), '\0');
        fill(dir, 0, {{2, 1, 2}, {4, quint32(g.images.size()), 2}});
        for (qsizetype i = 0; i < g.images.size(); ++i) {
            const IconImage &img = g.images[i];
            const quint32 id = quint32(icons.items.size() + 1);
            // Width, height, colours, planes, bits, size and the RT_ICON id.
            fill(dir, 6 + 14 * quint32(i), {{0, quint32(img.width) & 0xff, 1}, {1, quint32(img.height) & 0xff, 1},
                                            {2, img.bitCount < 8 ? 1u << img.bitCount : 0u, 1}, {4, 1, 2},
                                            {6, quint32(img.bitCount), 2}, {8, quint32(img.data.size())}, {12, id, 2}});
            icons.items.append({QString(), id, img.data, {}});
        }
        groups.items.append({g.name, g.name.isEmpty() ? (g.id ? g.id : quint32(groups.items.size() + 1)) : 0, dir, {}});
    }
    std::stable_partition(groups.items.begin(), groups.items.end(), [](const Res &r) { return !r.name.isEmpty(); });
    // As resource compilers store them: named types first, then the numbered ones in order.
    QList<Res> types{{QStringLiteral("TARVIC"), 0, {}, {{QString(), 1, "sample data", {}}}}};
    if (!icons.items.isEmpty())
        types << icons;
    types << Res{QString(), 10, {}, {{QStringLiteral("README"), 0, "not an icon", {}}}};   // RT_RCDATA
    if (!groups.items.isEmpty())
        types << groups;
    const QByteArray rsrc = recipe.resources ? buildResources(types, layout) : QByteArray();

    const bool pe64 = recipe.pe64;
    const quint32 w = pe64 ? 8 : 4;   // the size of ImageBase and of the stack and heap sizes
    const quint32 dirs = 76 + 4 * w;  // NumberOfRvaAndSizes
    const quint32 optSize = pe64 ? 240 : 224;
    const quint32 rsrcRaw = alignUp(rsrc.size(), FileAlign);
    const quint32 pe = layout.peHeader = 0x80;
    const quint32 o = layout.optionalHeader = pe + 24;
    layout.dataDirectories = o + dirs;
    layout.sectionTable = o + optSize;
    layout.resourceFile = RsrcFile;
    layout.resourceRva = RsrcRva;

    QByteArray b(RsrcFile + rsrcRaw, '\0');
    b.replace(0, 2, "MZ");
    put32(b, 0x3c, pe);
    b.replace(0x40, 36, "This program cannot be run in DOS.\r\n");
    b.replace(pe, 4, QByteArray("PE\0\0", 4));
    // Machine (x86-64 or i386), sections, optional header size, characteristics.
    fill(b, pe, {{4, pe64 ? 0x8664u : 0x14cu, 2}, {6, recipe.resources ? 2u : 1u, 2}, {20, optSize, 2},
                 {22, pe64 ? 0x22u : 0x102u, 2}});
    // Magic, linker version, code and data sizes, entry point, base of code, ImageBase
    // (0x140000000, or BaseOfData and 0x400000), alignments, operating system and
    // subsystem versions, image and header sizes, Windows GUI, NX and terminal-server
    // aware, stack and heap (reserve, commit), 16 data directories, the third the resources.
    fill(b, o, {{0, pe64 ? 0x20bu : 0x10bu, 2}, {2, 14, 1}, {4, FileAlign}, {8, rsrcRaw}, {16, TextRva},
                {20, TextRva}, {24, pe64 ? 0x40000000u : RsrcRva}, {28, pe64 ? 1u : 0x400000u}, {32, SectionAlign},
                {36, FileAlign}, {40, 6, 2}, {48, 6, 2}, {56, RsrcRva + alignUp(rsrc.size(), SectionAlign)},
                {60, FileAlign}, {68, 2, 2}, {70, 0x8100, 2}, {72, 0x100000}, {72 + w, 0x1000}, {72 + 2 * w, 0x100000},
                {72 + 3 * w, 0x1000}, {dirs, 16}, {dirs + 20, recipe.resources ? RsrcRva : 0},
                {dirs + 24, quint32(rsrc.size())}});
    // Each section: name, VirtualSize, VirtualAddress, SizeOfRawData, PointerToRawData, flags.
    b.replace(layout.sectionTable, 5, ".text");
    fill(b, layout.sectionTable, {{8, 3}, {12, TextRva}, {16, FileAlign}, {20, FileAlign}, {36, 0x60000020u}});
    b.replace(FileAlign, 3, QByteArray("\x31\xc0\xc3", 3));   // xor eax, eax; ret
    if (recipe.resources) {
        b.replace(layout.sectionTable + 40, 5, ".rsrc");
        fill(b, layout.sectionTable + 40,
             {{8, quint32(rsrc.size())}, {12, RsrcRva}, {16, rsrcRaw}, {20, RsrcFile}, {36, 0x40000040u}});
        b.replace(RsrcFile, rsrc.size(), rsrc);
    }
    if (layoutOut)
        *layoutOut = layout;
    return b;
}

bool writePe(const QString &path, const PeRecipe &recipe, qint64 totalSize)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const QByteArray bytes = buildPe(recipe);
    if (f.write(bytes) != bytes.size())
        return false;
    // ftruncate past the end: the payload takes no disc space.
    return totalSize <= bytes.size() || f.resize(totalSize);
}

} // namespace tarvic::pewriter
