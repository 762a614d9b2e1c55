#include "watch/drive_media.h"

#include "platform/devices/sys_block.h"

#include <QFileInfo>
#include <sys/stat.h>

namespace tarvic {

namespace {

bool namesDevice(const QByteArray &target, const BlockDevice &block)
{
    if (target == block.device || block.symlinks.contains(target))
        return true;
    struct stat st {};
    return block.number != 0 && ::stat(target.constData(), &st) == 0 && S_ISBLK(st.st_mode)
        && quint64(st.st_rdev) == block.number;
}

} // namespace

Medium mediumOf(const BlockDevice &block, const std::optional<DriveMedia> &drive)
{
    if (block.backingFile) {
        if (block.backingFile->isEmpty() || block.size == 0)
            return {};
        return {Medium::In, "image:" + *block.backingFile, QStringLiteral("image"), true};
    }
    if (drive && !drive->mediaAvailable)
        return {};
    if (drive && drive->optical) {
        if (drive->opticalBlank)
            return {Medium::Blank, "blank", QStringLiteral("blank disc"), true};
        const bool audio = drive->audioTracks > 0 && drive->dataTracks == 0;
        return {Medium::In, "disc", audio ? QStringLiteral("audio CD") : QStringLiteral("disc"), true};
    }
    if (block.size == 0)
        return {};
    return {Medium::In, "medium", QStringLiteral("medium")};
}

std::optional<QChar> letterOf(const QList<DriveEntry> &entries, const BlockDevice &block, const QString &sysBlock)
{
    const QString loop = QFileInfo(QFile::decodeName(block.device)).fileName();
    for (const DriveEntry &e : entries) {
        if (e.kind != DriveEntry::Device || e.target.isEmpty())
            continue;
        const bool image = block.backingFile && !block.backingFile->isEmpty()
                        && loopShowingImage(loop, inspectNode(e.target), sysBlock);
        if (image || namesDevice(e.target, block))
            return e.letter;
    }
    return std::nullopt;
}

} // namespace tarvic
