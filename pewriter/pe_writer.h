#pragma once

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QList>
#include <QMap>
#include <QString>

namespace tarvic::pewriter {

// One image of an icon: the bytes of the RT_ICON resource and what the group says of it.
struct IconImage
{
    QByteArray data;   // a DIB (BITMAPINFOHEADER, palette, colour bits, AND mask) or a PNG
    int width = 0;     // 1..256 (256 is stored as 0)
    int height = 0;
    int bitCount = 0;
};

// A square picture of one colour with a transparent notch at the top left (an eighth
// of the side, at least 4x4, so it survives scaling to 32) and a white dot in the
// middle, so a test can tell images apart by colour and see the mask.
QImage drawIconImage(int size, QColor colour);
// The picture as a DIB icon image of 1, 4, 8, 16, 24 or 32 bits per pixel (palettes
// are made from the picture's own colours).
IconImage dibIcon(const QImage &picture, int bitCount);
// The picture as a PNG icon image (32 bits).
IconImage pngIcon(const QImage &picture);
// drawIconImage's picture of that size and colour, as a DIB or a PNG.
IconImage dibIcon(int size, int bitCount, QColor colour);
IconImage pngIcon(int size, QColor colour);

struct IconGroup
{
    QList<IconImage> images;
    QString name;      // non-empty: a named resource, stored before the numbered ones
    quint16 id = 0;    // 0: numbered by its place among the groups
};

struct PeRecipe
{
    bool pe64 = false;
    bool resources = true;     // false: no resource directory at all
    QList<IconGroup> groups;   // empty: resources without any icon
};

// Where the builder put things (file offsets), for tests that damage bytes themselves.
struct PeLayout
{
    quint32 peHeader = 0;
    quint32 optionalHeader = 0;
    quint32 dataDirectories = 0;   // NumberOfRvaAndSizes; the directories follow it
    quint32 sectionTable = 0;      // .text, then .rsrc
    quint32 resourceFile = 0;      // the root directory
    quint32 resourceRva = 0;
    // entry: what leads to it (for a type, its entry in the root; that alone is set).
    struct Item { quint32 entry = 0, languageDir = 0, dataEntry = 0, data = 0, size = 0; };
    QMap<quint32, Item> types;              // by type id
    QMap<quint32, QList<Item>> items;       // by type id, in stored order
};

// A valid Windows program (PE32 or PE32+) with a .text section that returns at once
// and a .rsrc section holding the icon groups (RT_GROUP_ICON 14, RT_ICON 3).
QByteArray buildPe(const PeRecipe &recipe, PeLayout *layout = nullptr);
// Writes the program; a totalSize beyond its length adds a sparse payload after it
// (as installers append their archives). False when the file cannot be written.
bool writePe(const QString &path, const PeRecipe &recipe, qint64 totalSize = 0);

// Little-endian patches for damage of one's own.
void put16(QByteArray &bytes, quint32 at, quint16 value);
void put32(QByteArray &bytes, quint32 at, quint32 value);

} // namespace tarvic::pewriter
