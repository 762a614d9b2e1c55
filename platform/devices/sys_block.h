#pragma once

#include "platform/devices/device_node.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>
#include <sys/types.h>

namespace tarvic {

// A sysfs attribute, trimmed; empty when it cannot be read.
QByteArray readSysFile(const QString &path);

// The partitions of a whole disk, as device nodes, for advice.
QStringList partitionsOf(const QString &sysBlock, dev_t number);

// A loop device that shows a disc image: its node and device number.
struct LoopDevice
{
    QByteArray node;
    dev_t number = 0;
};

// Whether the loop device `name` ("loop3", under sysBlock) is the disc of the image
// file: it shows the whole file (from offset 0, no size limit), that very file (its
// device and inode, by whatever path it was attached), not one deleted since.
// tarvic and tarvic-watch both decide by this alone.
std::optional<LoopDevice> loopShowingImage(const QString &name, const NodeInfo &image,
                                           const QString &sysBlock = QStringLiteral("/sys/block"));

// The loop device that is the image's disc, whoever attached it; nullopt when none.
std::optional<LoopDevice> loopDeviceOf(const NodeInfo &image, const QString &sysBlock = QStringLiteral("/sys/block"));

} // namespace tarvic
