#include "platform/devices/disc_format.h"

namespace tarvic {

namespace {

bool has(QByteArrayView head, qsizetype offset, QByteArrayView magic)
{
    return head.size() >= offset + magic.size() && head.sliced(offset, magic.size()) == magic;
}

} // namespace

const char *knownFileSystems()
{
    return "ISO 9660, UDF, ext2/3/4, FAT, exFAT, NTFS, HFS+, SquashFS, EROFS, XFS, Btrfs, F2FS";
}

DiscFormat identifyFormat(QByteArrayView head)
{
    // The volume descriptors of ISO 9660 and UDF start at 32 KiB, one per 2 KiB sector.
    for (qsizetype sector = 0; sector < 4; ++sector) {
        const qsizetype at = 0x8001 + sector * 2048;
        if (has(head, at, "CD001"))
            return {DiscFormat::FileSystem, "ISO 9660"};
        if (has(head, at, "BEA01") || has(head, at, "NSR02") || has(head, at, "NSR03"))
            return {DiscFormat::FileSystem, "UDF"};
    }
    static const struct
    {
        qsizetype offset;
        QByteArrayView magic;
        const char *name;
    } signatures[] = {
        {1080, QByteArrayView("\x53\xef", 2), "ext2/3/4"},
        {0, "hsqs", "SquashFS"},
        {1024, QByteArrayView("\xe2\xe1\xf5\xe0", 4), "EROFS"},
        {1024, QByteArrayView("\x10\x20\xf5\xf2", 4), "F2FS"},
        {0, "XFSB", "XFS"},
        {0x10040, "_BHRfS_M", "Btrfs"},
        {3, "NTFS    ", "NTFS"},
        {3, "EXFAT   ", "exFAT"},
        {1024, "H+", "HFS+"},
        {1024, "HX", "HFS+"},
        {54, "FAT12   ", "FAT"},
        {54, "FAT16   ", "FAT"},
        {54, "FAT     ", "FAT"},
        {82, "FAT32   ", "FAT"},
    };
    for (const auto &s : signatures)
        if (has(head, s.offset, s.magic))
            return {DiscFormat::FileSystem, s.name};

    if (has(head, 512, "EFI PART"))
        return {DiscFormat::PartitionTable, "GPT"};
    if (has(head, 510, QByteArrayView("\x55\xaa", 2))) {
        for (int i = 0; i < 4; ++i)
            if (head[446 + i * 16 + 4] != 0)   // a partition type
                return {DiscFormat::PartitionTable, "MBR"};
    }
    return {};
}

} // namespace tarvic
