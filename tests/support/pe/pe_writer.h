#pragma once

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QList>
#include <QMap>
#include <QString>

namespace tarvic::test {

// One image of an icon: the bytes of the RT_ICON resource and what the group says
// of it. The group's fields may be set to lie about the image.
struct IconImage
{
    QByteArray data;     // a DIB (BITMAPINFOHEADER, palette, colour bits, AND mask) or a PNG
    int width = 0;       // 1..256 (256 is stored as 0)
    int height = 0;
    int bitCount = 0;
    int colourCount = 0; // 0 for 8 bits and more
    quint16 id = 0;      // 0: the next free id
};

// A square picture of one colour with a transparent 4x4 notch at the top left and a
// white dot in the middle, so a test can tell images apart by colour and see the mask.
QImage drawIconImage(int size, QColor colour);
// The picture as a DIB icon image of 1, 4, 8, 16, 24 or 32 bits per pixel (palettes
// are made from the picture's own colours).
IconImage dibIcon(const QImage &picture, int bitCount);
// The picture as a PNG icon image (32 bits).
IconImage pngIcon(const QImage &picture);

struct IconGroup
{
    QList<IconImage> images;
    QString name;        // non-empty: a named resource, stored before the numbered ones
    quint16 id = 0;      // 0: the next free id
};

// Damage done to the program after it is built; one at a time.
enum class PeDamage {
    None,
    LfanewHuge,                 // e_lfanew far past the end of the file
    AbsurdSectionCount,         // 65535 sections
    ResourceRvaOutside,         // the resource directory lies in no section
    SectionPointerHuge,         // .rsrc's raw data pointer near 4 GB
    SectionSizesHuge,           // .rsrc's raw and virtual sizes near 4 GB
    AbsurdRootCounts,           // 65535 named and 65535 id entries at the root
    GroupTypeLoopsToRoot,       // RT_GROUP_ICON's directory is the root itself
    GroupNameLoopsToRoot,       // the first group's language directory is the root
    LanguageDirLoopsToItself,   // the first group's language entry points back at its directory
    OverlappingDirectories,     // the group type's directory starts inside the root directory
    GroupDataIsTheDirectory,    // the first group's data entry points at the root directory
    AbsurdGroupCount,           // the first group claims 65535 images
    GroupSizeHuge,              // the first group's data entry size is 0xFFFFFFFF
    IconSizesHuge,              // every RT_ICON data entry size is 0xFFFFFFFF
    BestImageHeaderBroken,      // the DIB header of the first group's 32x32 images is garbage
};

struct PeRecipe
{
    bool pe64 = false;
    bool resources = true;           // false: no resource directory at all
    QList<IconGroup> groups;         // empty: resources without any icon
    quint16 language = 0x409;
    PeDamage damage = PeDamage::None;
};

// Where the builder put things, for tests that patch bytes themselves. Offsets
// inside the resource section are relative to its start (the root directory).
struct PeLayout
{
    quint32 peHeader = 0;
    quint32 optionalHeader = 0;
    quint32 sectionTable = 0;
    quint32 resourceFile = 0;        // file offset of the root directory
    quint32 resourceRva = 0;
    struct Item
    {
        quint32 languageDir = 0;
        quint32 dataEntry = 0;
        quint32 data = 0;
        quint32 size = 0;
    };
    QMap<quint32, quint32> typeDirs;        // by type id
    QMap<quint32, QList<Item>> items;       // by type id, in stored order
};

// A valid Windows program (PE32 or PE32+) with a .text section that returns at once
// and a .rsrc section holding the icon groups.
QByteArray buildPe(const PeRecipe &recipe, PeLayout *layout = nullptr);
// Writes the program; a totalSize beyond its length adds a sparse payload after it
// (as installers append their archives). False when the file cannot be written.
bool writePe(const QString &path, const PeRecipe &recipe, qint64 totalSize = 0);

// Little-endian patches for damage of one's own.
void put16(QByteArray &bytes, quint32 at, quint16 value);
void put32(QByteArray &bytes, quint32 at, quint32 value);

} // namespace tarvic::test
