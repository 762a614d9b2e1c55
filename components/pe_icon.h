#pragma once

#include <QByteArray>
#include <QImage>
#include <QIODevice>
#include <QList>
#include <QPixmap>
#include <QString>
#include <optional>

namespace tarvic {

// One image of an icon group, as the group describes it.
struct PeIconEntry
{
    int width = 0;      // 1..256
    int height = 0;
    int bitCount = 0;   // colour depth as recorded; 0 when the group does not say
    quint16 id = 0;     // the RT_ICON resource that holds the image
    int index = 0;      // place in the group
};

// Reads the icon of a Windows program (PE32 or PE32+) the way the desktop shows it:
// the first icon group of the resource directory, and of that group the image
// nearest 32x32. Only the headers, the resource directory and the chosen image are
// read, each checked against the device's size first, so a damaged or hostile file
// costs little and is never trusted.
class PeIconReader
{
public:
    // The device must be open, readable and random-access.
    explicit PeIconReader(QIODevice &device);

    // The entries of the first icon group, in group order. Empty when there is none.
    QList<PeIconEntry> firstGroup();
    // The bytes of the RT_ICON resource `id`, preferring the group's language;
    // none when it is missing, out of bounds or larger than the cap.
    std::optional<QByteArray> iconData(quint16 id);


    // Best first: nearest 32x32 (a larger image before an equally near smaller one),
    // then most colours, then the earlier place in the group.
    static QList<PeIconEntry> ranked(QList<PeIconEntry> entries);

    static constexpr qint64 MaxImageBytes = 1 << 20;
    static constexpr int MaxSections = 1024;
    // Images tried before giving up on a group whose best images are all damaged.
    static constexpr qsizetype MaxTries = 8;

private:
    struct Section { quint32 va, extent, raw; };
    struct DirEntry { bool named; quint32 nameOrId; bool subdir; quint32 offset; };

    bool readAt(quint64 offset, quint64 length, QByteArray &out);
    bool readRva(quint32 rva, quint64 length, QByteArray &out);
    bool loadHeaders();
    bool readDirectory(quint32 offset, QList<DirEntry> &entries);
    // The data entry found by descending from a directory entry of level 2 to the
    // language level; fills rva and size.
    bool leafOf(const DirEntry &nameEntry, std::optional<quint32> language, quint32 &rva,
                quint32 &size, quint32 *languageFound);

    QIODevice &m_device;
    qint64 m_size = 0;
    bool m_loaded = false;
    bool m_headersOk = false;
    quint32 m_resourceRva = 0;
    QList<Section> m_sections;
    QList<DirEntry> m_types;
    std::optional<quint32> m_groupLanguage;
    bool m_iconDirRead = false;
    quint32 m_iconDir = 0;
    QList<DirEntry> m_iconIds;
};

// The program's icon image: the best-ranked entry that decodes (of the first
// MaxTries). None for anything that is not a program with a readable icon.
std::optional<QImage> readPeIcon(QIODevice &device);
std::optional<QImage> readPeIcon(const QByteArray &nativePath);
std::optional<QImage> readPeIconFromBytes(const QByteArray &bytes);

} // namespace tarvic
