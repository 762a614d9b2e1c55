#pragma once

#include <QByteArray>
#include <QByteArrayView>

namespace tarvic {

// What the first bytes of a medium or an image hold.
struct DiscFormat
{
    enum Kind { Unknown, FileSystem, PartitionTable };
    Kind kind = Unknown;
    const char *name = "";   // "ISO 9660", "ext2/3/4", "MBR", "GPT", ...
};

// How many bytes from the start identifyFormat wants to see.
constexpr qsizetype FormatProbeLength = 68 * 1024;

// By the signatures of the file systems a disc or a stick commonly holds; a file
// system wins over a partition table, so a hybrid ISO is an ISO.
DiscFormat identifyFormat(QByteArrayView head);

// The file systems identifyFormat knows, for messages.
const char *knownFileSystems();

} // namespace tarvic
