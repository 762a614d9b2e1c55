#include "support/pe/pe_writer.h"

#include <QBuffer>
#include <QFile>
#include <QPainter>
#include <QtEndian>

namespace tarvic::test {

namespace {

constexpr quint32 FileAlign = 0x200;
constexpr quint32 SectionAlign = 0x1000;
constexpr quint32 TextRva = 0x1000;
constexpr quint32 RsrcRva = 0x2000;
constexpr quint32 RtIcon = 3;
constexpr quint32 RtRcData = 10;
constexpr quint32 RtGroupIcon = 14;

quint32 alignUp(quint32 v, quint32 a)
{
    return (v + a - 1) / a * a;
}

struct Res
{
    QString name;
    quint32 id = 0;
    QByteArray data;
};

struct Type
{
    QString name;
    quint32 id = 0;
    QList<Res> items;
};

void appendString(QByteArray &out, const QString &s)
{
    const qsizetype at = out.size();
    out.resize(at + 2 + 2 * s.size());
    put16(out, quint32(at), quint16(s.size()));
    for (qsizetype i = 0; i < s.size(); ++i)
        put16(out, quint32(at + 2 + 2 * i), s.at(i).unicode());
}

// The resource section: root, type directories, language directories, data entries,
// names, data; every offset kept in the layout.
QByteArray buildResources(const QList<Type> &types, quint16 language, quint32 rva, PeLayout &layout)
{
    quint32 size = 16 + 8 * quint32(types.size());
    QList<quint32> typeDir;
    for (const Type &t : types) {
        typeDir << size;
        size += 16 + 8 * quint32(t.items.size());
    }
    QList<QList<quint32>> langDir, dataEntry, dataAt, nameAt;
    for (const Type &t : types) {
        QList<quint32> l;
        for (qsizetype i = 0; i < t.items.size(); ++i) {
            l << size;
            size += 24;
        }
        langDir << l;
    }
    for (const Type &t : types) {
        QList<quint32> d;
        for (qsizetype i = 0; i < t.items.size(); ++i) {
            d << size;
            size += 16;
        }
        dataEntry << d;
    }
    // Names of types and of resources, in one string table.
    QByteArray strings;
    QList<quint32> typeNameAt;
    for (const Type &t : types) {
        typeNameAt << (size + quint32(strings.size()));
        if (!t.name.isEmpty())
            appendString(strings, t.name);
        QList<quint32> n;
        for (const Res &r : t.items) {
            n << (size + quint32(strings.size()));
            if (!r.name.isEmpty())
                appendString(strings, r.name);
        }
        nameAt << n;
    }
    size = alignUp(size + quint32(strings.size()), 8);
    for (const Type &t : types) {
        QList<quint32> a;
        for (const Res &r : t.items) {
            a << size;
            size = alignUp(size + quint32(r.data.size()), 8);
        }
        dataAt << a;
    }

    QByteArray out(size, '\0');
    const auto directory = [&](quint32 at, int named, int ids) {
        put16(out, at + 12, quint16(named));
        put16(out, at + 14, quint16(ids));
    };
    const auto countNamed = [](const auto &list) {
        int n = 0;
        for (const auto &x : list)
            n += !x.name.isEmpty();
        return n;
    };
    directory(0, countNamed(types), int(types.size()) - countNamed(types));
    for (qsizetype ti = 0; ti < types.size(); ++ti) {
        const Type &t = types[ti];
        const quint32 e = 16 + 8 * quint32(ti);
        put32(out, e, t.name.isEmpty() ? t.id : (0x80000000u | typeNameAt[ti]));
        put32(out, e + 4, 0x80000000u | typeDir[ti]);
        directory(typeDir[ti], countNamed(t.items), int(t.items.size()) - countNamed(t.items));
        layout.typeDirs[t.id] = typeDir[ti];
        for (qsizetype i = 0; i < t.items.size(); ++i) {
            const Res &r = t.items[i];
            const quint32 ie = typeDir[ti] + 16 + 8 * quint32(i);
            put32(out, ie, r.name.isEmpty() ? r.id : (0x80000000u | nameAt[ti][i]));
            put32(out, ie + 4, 0x80000000u | langDir[ti][i]);
            directory(langDir[ti][i], 0, 1);
            put32(out, langDir[ti][i] + 16, language);
            put32(out, langDir[ti][i] + 20, dataEntry[ti][i]);
            put32(out, dataEntry[ti][i], rva + dataAt[ti][i]);
            put32(out, dataEntry[ti][i] + 4, quint32(r.data.size()));
            out.replace(dataAt[ti][i], r.data.size(), r.data);
            layout.items[t.id].append({langDir[ti][i], dataEntry[ti][i], dataAt[ti][i], quint32(r.data.size())});
        }
    }
    const qsizetype stringsAt = typeNameAt.isEmpty() ? 0 : typeNameAt.first();
    out.replace(stringsAt, strings.size(), strings);
    return out;
}

void applyDamage(QByteArray &b, PeDamage damage, const PeLayout &l)
{
    const quint32 root = l.resourceFile;
    const auto firstGroup = [&]() { return l.items.value(RtGroupIcon).value(0); };
    const quint32 rsrcHeader = l.sectionTable + 40;
    switch (damage) {
    case PeDamage::None:
        break;
    case PeDamage::LfanewHuge:
        put32(b, 0x3c, 0xfffffff0u);
        break;
    case PeDamage::AbsurdSectionCount:
        put16(b, l.peHeader + 6, 0xffff);
        break;
    case PeDamage::ResourceRvaOutside:
        put32(b, l.optionalHeader + (b[l.optionalHeader] == 0x0b && b[l.optionalHeader + 1] == 0x02 ? 112 : 96) + 16,
              0x7ffff000u);
        break;
    case PeDamage::SectionPointerHuge:
        put32(b, rsrcHeader + 20, 0xfffffe00u);
        break;
    case PeDamage::SectionSizesHuge:
        put32(b, rsrcHeader + 8, 0xffffffffu);
        put32(b, rsrcHeader + 16, 0xffffffffu);
        break;
    case PeDamage::AbsurdRootCounts:
        put16(b, root + 12, 0xffff);
        put16(b, root + 14, 0xffff);
        break;
    case PeDamage::GroupTypeLoopsToRoot:
    case PeDamage::OverlappingDirectories: {
        // Find the root entry of the group type and point it elsewhere.
        const int n = qFromLittleEndian<quint16>(b.constData() + root + 12)
                      + qFromLittleEndian<quint16>(b.constData() + root + 14);
        for (int i = 0; i < n; ++i) {
            const quint32 e = root + 16 + 8 * quint32(i);
            if (qFromLittleEndian<quint32>(b.constData() + e) == RtGroupIcon)
                put32(b, e + 4, 0x80000000u | (damage == PeDamage::GroupTypeLoopsToRoot ? 0u : 8u));
        }
        break;
    }
    case PeDamage::GroupNameLoopsToRoot:
        put32(b, root + l.typeDirs.value(RtGroupIcon) + 16 + 4, 0x80000000u);
        break;
    case PeDamage::LanguageDirLoopsToItself:
        put32(b, root + firstGroup().languageDir + 20, 0x80000000u | firstGroup().languageDir);
        break;
    case PeDamage::GroupDataIsTheDirectory:
        put32(b, root + firstGroup().dataEntry, l.resourceRva);
        break;
    case PeDamage::AbsurdGroupCount:
        put16(b, root + firstGroup().data + 4, 0xffff);
        break;
    case PeDamage::GroupSizeHuge:
        put32(b, root + firstGroup().dataEntry + 4, 0xffffffffu);
        break;
    case PeDamage::IconSizesHuge:
        for (const PeLayout::Item &item : l.items.value(RtIcon))
            put32(b, root + item.dataEntry + 4, 0xffffffffu);
        break;
    case PeDamage::BestImageHeaderBroken: {
        const PeLayout::Item g = firstGroup();
        const int n = qFromLittleEndian<quint16>(b.constData() + root + g.data + 4);
        for (int i = 0; i < n; ++i) {
            const quint32 e = root + g.data + 6 + 14 * quint32(i);
            if (quint8(b[e]) != 32 || quint8(b[e + 1]) != 32)
                continue;
            const quint16 id = qFromLittleEndian<quint16>(b.constData() + e + 12);
            const PeLayout::Item icon = l.items.value(RtIcon).value(id - 1);
            put32(b, root + icon.data + 4, 100000);   // biWidth
        }
        break;
    }
    }
}

} // namespace

void put16(QByteArray &bytes, quint32 at, quint16 value)
{
    qToLittleEndian<quint16>(value, bytes.data() + at);
}

void put32(QByteArray &bytes, quint32 at, quint32 value)
{
    qToLittleEndian<quint32>(value, bytes.data() + at);
}

QImage drawIconImage(int size, QColor colour)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(colour);
    QPainter p(&image);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.fillRect(0, 0, 4, 4, Qt::transparent);
    p.fillRect(size / 2 - 1, size / 2 - 1, 2, 2, Qt::white);
    return image;
}

IconImage dibIcon(const QImage &picture, int bitCount)
{
    const QImage src = picture.convertToFormat(QImage::Format_ARGB32);
    const int w = src.width();
    const int h = src.height();
    QList<QRgb> palette;
    if (bitCount <= 8) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const QRgb c = src.pixel(x, y) | 0xff000000u;
                if (qAlpha(src.pixel(x, y)) >= 128 && !palette.contains(c) && palette.size() < (1 << bitCount))
                    palette << c;
            }
        while (palette.size() < (1 << bitCount))
            palette << qRgb(0, 0, 0);
    }
    const auto nearest = [&](QRgb c) {
        int best = 0;
        long bestDistance = -1;
        for (int i = 0; i < palette.size(); ++i) {
            const long d = long(qRed(c) - qRed(palette[i])) * (qRed(c) - qRed(palette[i]))
                           + long(qGreen(c) - qGreen(palette[i])) * (qGreen(c) - qGreen(palette[i]))
                           + long(qBlue(c) - qBlue(palette[i])) * (qBlue(c) - qBlue(palette[i]));
            if (bestDistance < 0 || d < bestDistance) {
                best = i;
                bestDistance = d;
            }
        }
        return best;
    };

    const int xorStride = (w * bitCount + 31) / 32 * 4;
    const int andStride = (w + 31) / 32 * 4;
    QByteArray d(40 + 4 * palette.size() + (xorStride + andStride) * h, '\0');
    put32(d, 0, 40);
    put32(d, 4, quint32(w));
    put32(d, 8, quint32(2 * h));
    put16(d, 12, 1);
    put16(d, 14, quint16(bitCount));
    put32(d, 20, quint32((xorStride + andStride) * h));
    for (int i = 0; i < palette.size(); ++i) {
        d[40 + 4 * i] = char(qBlue(palette[i]));
        d[41 + 4 * i] = char(qGreen(palette[i]));
        d[42 + 4 * i] = char(qRed(palette[i]));
    }
    const int bits = 40 + 4 * int(palette.size());
    const int mask = bits + xorStride * h;
    for (int y = 0; y < h; ++y) {
        const int row = h - 1 - y;   // bottom-up
        uchar *x0 = reinterpret_cast<uchar *>(d.data()) + bits + row * xorStride;
        uchar *m0 = reinterpret_cast<uchar *>(d.data()) + mask + row * andStride;
        for (int x = 0; x < w; ++x) {
            const QRgb c = src.pixel(x, y);
            const bool transparent = qAlpha(c) < 128;
            if (transparent)
                m0[x / 8] |= uchar(0x80 >> (x % 8));
            switch (bitCount) {
            case 1: case 4: case 8: {
                const int index = transparent ? 0 : nearest(c);
                const int shift = 8 - bitCount - (x * bitCount) % 8;
                x0[x * bitCount / 8] |= uchar(index << shift);
                break;
            }
            case 16: {
                const quint16 v = transparent ? 0 : quint16(((qRed(c) >> 3) << 10) | ((qGreen(c) >> 3) << 5) | (qBlue(c) >> 3));
                x0[2 * x] = uchar(v & 0xff);
                x0[2 * x + 1] = uchar(v >> 8);
                break;
            }
            case 24:
                x0[3 * x] = uchar(qBlue(c));
                x0[3 * x + 1] = uchar(qGreen(c));
                x0[3 * x + 2] = uchar(qRed(c));
                break;
            case 32:
                x0[4 * x] = uchar(qBlue(c));
                x0[4 * x + 1] = uchar(qGreen(c));
                x0[4 * x + 2] = uchar(qRed(c));
                x0[4 * x + 3] = uchar(qAlpha(c));
                break;
            }
        }
    }
    return {d, w, h, bitCount, bitCount < 8 ? (1 << bitCount) : 0, 0};
}

IconImage pngIcon(const QImage &picture)
{
    QByteArray d;
    QBuffer buffer(&d);
    buffer.open(QIODevice::WriteOnly);
    picture.convertToFormat(QImage::Format_ARGB32).save(&buffer, "PNG");
    return {d, picture.width(), picture.height(), 32, 0, 0};
}

QByteArray buildPe(const PeRecipe &recipe, PeLayout *layoutOut)
{
    PeLayout layout;
    // Resource types: one named type first (as resource compilers store them),
    // then the numbered ones in ascending order.
    QList<Type> types;
    Type icons{QString(), RtIcon, {}};
    Type groups{QString(), RtGroupIcon, {}};
    quint16 nextIcon = 1;
    quint16 nextGroup = 1;
    for (const IconGroup &g : recipe.groups) {
        QByteArray dir(6 + 14 * g.images.size(), '\0');
        put16(dir, 2, 1);
        put16(dir, 4, quint16(g.images.size()));
        for (qsizetype i = 0; i < g.images.size(); ++i) {
            const IconImage &img = g.images[i];
            const quint16 id = img.id ? img.id : nextIcon;
            nextIcon = std::max<quint16>(nextIcon, id + 1);
            const quint32 e = 6 + 14 * quint32(i);
            dir[e] = char(img.width & 0xff);
            dir[e + 1] = char(img.height & 0xff);
            dir[e + 2] = char(img.colourCount & 0xff);
            put16(dir, e + 4, 1);
            put16(dir, e + 6, quint16(img.bitCount));
            put32(dir, e + 8, quint32(img.data.size()));
            put16(dir, e + 12, id);
            icons.items.append({QString(), id, img.data});
        }
        const quint16 gid = g.id ? g.id : nextGroup;
        nextGroup = std::max<quint16>(nextGroup, gid + 1);
        groups.items.append({g.name, g.name.isEmpty() ? gid : 0u, dir});
    }
    std::stable_sort(groups.items.begin(), groups.items.end(),
                     [](const Res &a, const Res &b) { return !a.name.isEmpty() && b.name.isEmpty(); });
    types.append({QStringLiteral("TARVIC"), 0, {{QString(), 1, QByteArrayLiteral("sample data")}}});
    if (!icons.items.isEmpty())
        types.append(icons);
    types.append({QString(), RtRcData, {{QStringLiteral("README"), 0, QByteArrayLiteral("not an icon")}}});
    if (!groups.items.isEmpty())
        types.append(groups);

    const QByteArray rsrc = recipe.resources ? buildResources(types, recipe.language, RsrcRva, layout) : QByteArray();
    const quint32 sectionCount = recipe.resources ? 2 : 1;
    const quint32 optSize = recipe.pe64 ? 240 : 224;
    layout.peHeader = 0x80;
    layout.optionalHeader = layout.peHeader + 24;
    layout.sectionTable = layout.optionalHeader + optSize;
    const quint32 textFile = FileAlign;
    const quint32 rsrcFile = 2 * FileAlign;
    const quint32 rsrcRaw = alignUp(quint32(rsrc.size()), FileAlign);
    layout.resourceFile = rsrcFile;
    layout.resourceRva = RsrcRva;
    const quint32 imageSize = RsrcRva + alignUp(std::max<quint32>(quint32(rsrc.size()), 1), SectionAlign);

    QByteArray b(rsrcFile + rsrcRaw, '\0');
    b[0] = 'M';
    b[1] = 'Z';
    put32(b, 0x3c, layout.peHeader);
    b.replace(0x40, 36, QByteArrayLiteral("This program cannot be run in DOS.\r\n"));

    const quint32 pe = layout.peHeader;
    b.replace(pe, 4, QByteArray("PE\0\0", 4));
    put16(b, pe + 4, recipe.pe64 ? 0x8664 : 0x14c);
    put16(b, pe + 6, quint16(sectionCount));
    put16(b, pe + 20, quint16(optSize));
    put16(b, pe + 22, recipe.pe64 ? 0x0022 : 0x0102);

    const quint32 o = layout.optionalHeader;
    put16(b, o, recipe.pe64 ? 0x20b : 0x10b);
    b[o + 2] = 14;
    put32(b, o + 4, FileAlign);                 // SizeOfCode
    put32(b, o + 8, rsrcRaw);                   // SizeOfInitializedData
    put32(b, o + 16, TextRva);                  // AddressOfEntryPoint
    put32(b, o + 20, TextRva);                  // BaseOfCode
    if (recipe.pe64) {
        put32(b, o + 24, 0x40000000u);
        put32(b, o + 28, 0x1);                  // ImageBase 0x140000000
    } else {
        put32(b, o + 24, RsrcRva);              // BaseOfData
        put32(b, o + 28, 0x400000);
    }
    put32(b, o + 32, SectionAlign);
    put32(b, o + 36, FileAlign);
    put16(b, o + 40, 6);
    put16(b, o + 48, 6);
    put32(b, o + 56, imageSize);
    put32(b, o + 60, FileAlign);                // SizeOfHeaders
    put16(b, o + 68, 2);                        // Windows GUI
    put16(b, o + 70, 0x8100);                   // NX compatible, terminal-server aware
    const quint32 sizes = o + 72;
    const int word = recipe.pe64 ? 8 : 4;
    put32(b, sizes, 0x100000);
    put32(b, sizes + word, 0x1000);
    put32(b, sizes + 2 * word, 0x100000);
    put32(b, sizes + 3 * word, 0x1000);
    const quint32 countAt = sizes + 4 * word + 4;
    put32(b, countAt, 16);
    if (recipe.resources) {
        put32(b, countAt + 4 + 2 * 8, RsrcRva);
        put32(b, countAt + 4 + 2 * 8 + 4, quint32(rsrc.size()));
    }

    const auto section = [&](int i, const char *name, quint32 vsize, quint32 va, quint32 raw, quint32 ptr,
                             quint32 flags) {
        const quint32 s = layout.sectionTable + 40 * quint32(i);
        b.replace(s, qsizetype(qstrlen(name)), name);
        put32(b, s + 8, vsize);
        put32(b, s + 12, va);
        put32(b, s + 16, raw);
        put32(b, s + 20, ptr);
        put32(b, s + 36, flags);
    };
    section(0, ".text", 3, TextRva, FileAlign, textFile, 0x60000020u);
    b.replace(textFile, 3, QByteArray("\x31\xc0\xc3", 3));   // xor eax, eax; ret
    if (recipe.resources) {
        section(1, ".rsrc", quint32(rsrc.size()), RsrcRva, rsrcRaw, rsrcFile, 0x40000040u);
        b.replace(rsrcFile, rsrc.size(), rsrc);
        applyDamage(b, recipe.damage, layout);
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

} // namespace tarvic::test
