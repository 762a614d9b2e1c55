#include "components/pe_icon.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QtEndian>
#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvic {

namespace {

constexpr quint32 RtIcon = 3;
constexpr quint32 RtGroupIcon = 14;
constexpr quint32 HighBit = 0x80000000u;
// An icon image is at most 256x256; a bigger PNG is no icon but a decompression bomb.
constexpr int MaxIconSide = 256;

quint16 u16(const QByteArray &b, qsizetype at)
{
    return qFromLittleEndian<quint16>(b.constData() + at);
}

quint32 u32(const QByteArray &b, qsizetype at)
{
    return qFromLittleEndian<quint32>(b.constData() + at);
}

qint32 s32(const QByteArray &b, qsizetype at)
{
    return qFromLittleEndian<qint32>(b.constData() + at);
}

int bitsForColours(int colours)
{
    int bits = 0;
    while ((1 << bits) < colours && bits < 8)
        ++bits;
    return bits;
}

bool isPng(const QByteArray &data)
{
    return data.startsWith(QByteArray::fromRawData("\x89PNG\r\n\x1a\n", 8));
}

struct Dib
{
    int width = 0;
    int height = 0;
    int bits = 0;
    qsizetype palette = 0;     // where the colour table begins
    int colours = 0;           // its entries
    qsizetype pixels = 0;      // where the colour bits begin
    qsizetype mask = 0;        // where the AND mask begins
    qsizetype xorStride = 0;
    qsizetype andStride = 0;
};

// Checks a DIB icon image: the header must describe a small bottom-up bitmap whose
// colour table, colour bits and AND mask lie wholly inside the data.
std::optional<Dib> plausibleDib(const QByteArray &d)
{
    if (d.size() < 40)
        return std::nullopt;
    const quint32 headerSize = u32(d, 0);
    const qint32 w = s32(d, 4);
    const qint32 h2 = s32(d, 8);
    const quint16 planes = u16(d, 12);
    const int bits = u16(d, 14);
    const quint32 compression = u32(d, 16);
    const quint32 clrUsed = u32(d, 32);
    if (headerSize < 40 || headerSize > quint32(d.size()) || planes != 1 || compression != 0)
        return std::nullopt;
    if (w < 1 || w > MaxIconSide || h2 < 2 || h2 > 2 * MaxIconSide || h2 % 2 != 0)
        return std::nullopt;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        return std::nullopt;
    Dib dib;
    dib.width = w;
    dib.height = h2 / 2;
    dib.bits = bits;
    if (bits <= 8)
        dib.colours = (clrUsed > 0 && clrUsed < (1u << bits)) ? int(clrUsed) : 1 << bits;
    dib.palette = qsizetype(headerSize);
    dib.xorStride = qsizetype((quint64(w) * bits + 31) / 32 * 4);
    dib.andStride = qsizetype((quint64(w) + 31) / 32 * 4);
    dib.pixels = dib.palette + 4 * dib.colours;
    dib.mask = dib.pixels + dib.xorStride * dib.height;
    if (quint64(dib.mask) + quint64(dib.andStride) * quint64(dib.height) > quint64(d.size()))
        return std::nullopt;
    return dib;
}

// The image with straight alpha, as the file holds its colours. A 32-bit image
// whose alpha bytes are all zero was written before icons had alpha: there, as on
// Windows, the AND mask says what is opaque, as for every image of fewer bits.
QImage decodeDib(const QByteArray &d, const Dib &dib)
{
    const auto *data = reinterpret_cast<const uchar *>(d.constData());
    QImage image(dib.width, dib.height, QImage::Format_ARGB32);
    bool alpha = false;
    for (int y = 0; y < dib.height; ++y) {
        const uchar *row = data + dib.pixels + qsizetype(dib.height - 1 - y) * dib.xorStride;   // bottom-up
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < dib.width; ++x) {
            switch (dib.bits) {
            case 32:
                line[x] = qRgba(row[4 * x + 2], row[4 * x + 1], row[4 * x], row[4 * x + 3]);
                alpha = alpha || row[4 * x + 3] != 0;
                break;
            case 24:
                line[x] = qRgb(row[3 * x + 2], row[3 * x + 1], row[3 * x]);
                break;
            case 16: {
                const int v = row[2 * x] | (row[2 * x + 1] << 8);
                const auto expand = [](int five) { return (five << 3) | (five >> 2); };
                line[x] = qRgb(expand((v >> 10) & 0x1f), expand((v >> 5) & 0x1f), expand(v & 0x1f));
                break;
            }
            default: {
                const int bit = x * dib.bits;
                const int index = (row[bit / 8] >> (8 - dib.bits - bit % 8)) & ((1 << dib.bits) - 1);
                // An index past a short colour table is black, as on Windows.
                line[x] = index < dib.colours ? (u32(d, dib.palette + 4 * index) | 0xff000000u) : qRgb(0, 0, 0);
                break;
            }
            }
        }
    }
    if (alpha)
        return image;
    for (int y = 0; y < dib.height; ++y) {
        const uchar *row = data + dib.mask + qsizetype(dib.height - 1 - y) * dib.andStride;
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < dib.width; ++x) {
            const bool transparent = row[x / 8] & (0x80 >> (x % 8));
            line[x] = transparent ? line[x] & 0x00ffffffu : line[x] | 0xff000000u;
        }
    }
    return image;
}

} // namespace

PeIconReader::PeIconReader(QIODevice &device) : m_device(device) {}

bool PeIconReader::readAt(quint64 offset, quint64 length, QByteArray &out)
{
    if (m_size < 0 || offset > quint64(m_size) || length > quint64(m_size) - offset)
        return false;
    if (!m_device.seek(qint64(offset)))
        return false;
    out = m_device.read(qint64(length));
    return quint64(out.size()) == length;
}

bool PeIconReader::readRva(quint32 rva, quint64 length, QByteArray &out)
{
    for (const Section &s : std::as_const(m_sections)) {
        if (rva < s.va)
            continue;
        const quint64 within = quint64(rva) - s.va;
        if (within < s.extent && length <= s.extent - within)
            return readAt(quint64(s.raw) + within, length, out);
    }
    return false;
}

bool PeIconReader::loadHeaders()
{
    if (m_loaded)
        return m_headersOk;
    m_loaded = true;
    m_size = m_device.size();
    if (m_device.isSequential() || !m_device.isReadable())
        return false;

    QByteArray dos;
    if (!readAt(0, 64, dos) || !dos.startsWith("MZ"))
        return false;
    const quint32 peAt = u32(dos, 0x3c);
    QByteArray coff;
    if (!readAt(peAt, 24, coff))
        return false;
    if (!coff.startsWith(QByteArray("PE\0\0", 4)))
        return false;
    const quint16 sectionCount = u16(coff, 6);
    const quint16 optionalSize = u16(coff, 20);
    QByteArray opt;
    if (!readAt(quint64(peAt) + 24, optionalSize, opt) || opt.size() < 2)
        return false;

    qsizetype countAt, dirsAt;
    switch (u16(opt, 0)) {
    case 0x10b: countAt = 92; dirsAt = 96; break;    // PE32
    case 0x20b: countAt = 108; dirsAt = 112; break;  // PE32+
    default: return false;
    }
    if (opt.size() < countAt + 4)
        return false;
    const quint32 dirCount = u32(opt, countAt);
    if (dirCount <= 2)
        return false;
    if (opt.size() < dirsAt + 3 * 8)
        return false;
    m_resourceRva = u32(opt, dirsAt + 2 * 8);
    if (m_resourceRva == 0)
        return false;

    if (sectionCount == 0 || sectionCount > MaxSections)
        return false;
    QByteArray table;
    if (!readAt(quint64(peAt) + 24 + optionalSize, quint64(sectionCount) * 40, table))
        return false;
    for (int i = 0; i < sectionCount; ++i) {
        const qsizetype at = qsizetype(i) * 40;
        const quint32 virtualSize = u32(table, at + 8);
        const quint32 rawSize = u32(table, at + 16);
        // Raw bytes past the section's virtual size are not part of the loaded image.
        const quint32 extent = virtualSize ? std::min(virtualSize, rawSize) : rawSize;
        m_sections.append({u32(table, at + 12), extent, u32(table, at + 20)});
    }
    m_headersOk = true;
    return true;
}

bool PeIconReader::readDirectory(quint32 offset, QList<DirEntry> &entries)
{
    entries.clear();
    const quint64 at = quint64(m_resourceRva) + offset;
    if (at + 16 > 0xffffffffull)
        return false;
    QByteArray head;
    if (!readRva(quint32(at), 16, head))
        return false;
    const quint64 count = quint64(u16(head, 12)) + u16(head, 14);
    QByteArray raw;
    if (count && !readRva(quint32(at + 16), count * 8, raw))
        return false;
    entries.reserve(qsizetype(count));
    for (quint64 i = 0; i < count; ++i) {
        const quint32 name = u32(raw, qsizetype(i * 8));
        const quint32 data = u32(raw, qsizetype(i * 8 + 4));
        entries.append({(name & HighBit) != 0, name & ~HighBit, (data & HighBit) != 0, data & ~HighBit});
    }
    return true;
}

bool PeIconReader::leafOf(const DirEntry &nameEntry, std::optional<quint32> language, quint32 &rva,
                          quint32 &size, quint32 *languageFound)
{
    // Level two must lead to a language directory; a pointer back to the root is a loop.
    if (!nameEntry.subdir || nameEntry.offset == 0)
        return false;
    QList<DirEntry> languages;
    if (!readDirectory(nameEntry.offset, languages) || languages.isEmpty())
        return false;
    const DirEntry *chosen = &languages.first();
    if (language) {
        for (const DirEntry &e : std::as_const(languages)) {
            if (!e.named && e.nameOrId == *language) {
                chosen = &e;
                break;
            }
        }
    }
    // The third level is the last: anything but a data entry here is damage.
    if (chosen->subdir)
        return false;
    QByteArray entry;
    const quint64 at = quint64(m_resourceRva) + chosen->offset;
    if (at > 0xffffffffull || !readRva(quint32(at), 16, entry))
        return false;
    rva = u32(entry, 0);
    size = u32(entry, 4);
    if (languageFound)
        *languageFound = chosen->named ? 0 : chosen->nameOrId;
    return true;
}

QList<PeIconEntry> PeIconReader::firstGroup()
{
    if (!loadHeaders())
        return {};
    if (!readDirectory(0, m_types))
        return {};
    const auto type = std::find_if(m_types.cbegin(), m_types.cend(),
                                   [](const DirEntry &e) { return !e.named && e.nameOrId == RtGroupIcon; });
    if (type == m_types.cend())
        return {};
    QList<DirEntry> names;
    if (!type->subdir || type->offset == 0 || !readDirectory(type->offset, names))
        return {};
    if (names.isEmpty())
        return {};
    if (names.first().offset == type->offset)
        return {};
    quint32 rva = 0, size = 0, language = 0;
    QByteArray group;
    if (!leafOf(names.first(), std::nullopt, rva, size, &language) || size < 6
        || size > MaxImageBytes || !readRva(rva, size, group))
        return {};
    m_groupLanguage = language;
    if (u16(group, 2) != 1)
        return {};
    const int declared = u16(group, 4);
    if (declared == 0)
        return {};
    // A count larger than the data holds: the entries that are there still count.
    const int count = std::min<qsizetype>(declared, (group.size() - 6) / 14);
    if (count == 0)
        return {};
    QList<PeIconEntry> entries;
    for (int i = 0; i < count; ++i) {
        const qsizetype at = 6 + qsizetype(i) * 14;
        PeIconEntry e;
        e.width = quint8(group[at]) ? quint8(group[at]) : 256;
        e.height = quint8(group[at + 1]) ? quint8(group[at + 1]) : 256;
        const int colours = quint8(group[at + 2]);
        e.bitCount = u16(group, at + 6);
        if (e.bitCount == 0 && colours > 0)
            e.bitCount = bitsForColours(colours);
        e.id = u16(group, at + 12);
        e.index = i;
        entries.append(e);
    }
    return entries;
}

std::optional<QByteArray> PeIconReader::iconData(quint16 id)
{
    if (!m_headersOk || m_types.isEmpty())
        return std::nullopt;
    // The image directory is read once: a group may name thousands of images.
    if (!m_iconDirRead) {
        m_iconDirRead = true;
        const auto type = std::find_if(m_types.cbegin(), m_types.cend(),
                                       [](const DirEntry &e) { return !e.named && e.nameOrId == RtIcon; });
        if (type == m_types.cend() || !type->subdir || type->offset == 0
            || !readDirectory(type->offset, m_iconIds))
            m_iconIds.clear();
        m_iconDir = type == m_types.cend() ? 0 : type->offset;
    }
    const auto entry = std::find_if(m_iconIds.cbegin(), m_iconIds.cend(),
                                    [id](const DirEntry &e) { return !e.named && e.nameOrId == id; });
    if (entry == m_iconIds.cend() || entry->offset == m_iconDir)
        return std::nullopt;
    quint32 rva = 0, size = 0;
    QByteArray data;
    if (!leafOf(*entry, m_groupLanguage, rva, size, nullptr) || size == 0 || size > MaxImageBytes
        || !readRva(rva, size, data))
        return std::nullopt;
    return data;
}

QList<PeIconEntry> PeIconReader::ranked(QList<PeIconEntry> entries)
{
    const auto key = [](const PeIconEntry &e) {
        const int distance = std::abs(e.width - 32) + std::abs(e.height - 32);
        const int smaller = e.width < 32 || e.height < 32;   // scaling down looks better than up
        return std::make_tuple(distance, smaller, -e.bitCount, e.index);
    };
    std::stable_sort(entries.begin(), entries.end(),
                     [&](const PeIconEntry &a, const PeIconEntry &b) { return key(a) < key(b); });
    return entries;
}

namespace {

// One image (a DIB, or a PNG), with straight alpha; none when damaged.
std::optional<QImage> decodeIconImage(const QByteArray &image)
{
    if (isPng(image)) {
        QBuffer buffer;
        buffer.setData(image);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer, "png");
        const QSize size = reader.size();
        if (!size.isValid() || size.width() > MaxIconSide || size.height() > MaxIconSide)
            return std::nullopt;
        const QImage decoded = reader.read();
        if (decoded.isNull() || decoded.size() != size)
            return std::nullopt;
        return decoded.convertToFormat(QImage::Format_ARGB32);
    }

    const std::optional<Dib> dib = plausibleDib(image);
    if (!dib)
        return std::nullopt;
    return decodeDib(image, *dib);
}

} // namespace

std::optional<QImage> readPeIcon(QIODevice &device)
{
    PeIconReader reader(device);
    const QList<PeIconEntry> ranked = PeIconReader::ranked(reader.firstGroup());
    for (const PeIconEntry &e : ranked.first(std::min<qsizetype>(ranked.size(), PeIconReader::MaxTries))) {
        const std::optional<QByteArray> data = reader.iconData(e.id);
        if (!data)
            continue;
        if (std::optional<QImage> decoded = decodeIconImage(*data))
            return decoded;
    }
    return std::nullopt;
}

std::optional<QImage> readPeIcon(const QByteArray &nativePath)
{
    // Only a regular file is read: a FIFO or a device on a disc would block or never end.
    const int fd = ::open(nativePath.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    QFile file;
    // Unbuffered: each header is one small read, with no read-ahead.
    if (!file.open(fd, QIODevice::ReadOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return std::nullopt;
    }
    return readPeIcon(file);
}

std::optional<QImage> readPeIconFromBytes(const QByteArray &bytes)
{
    QByteArray copy = bytes;
    QBuffer buffer(&copy);
    if (!buffer.open(QIODevice::ReadOnly))
        return std::nullopt;
    return readPeIcon(buffer);
}

} // namespace tarvic
