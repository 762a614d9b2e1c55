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

// The device number of the loop device `name` (under sysBlock) when it holds the whole
// image, the same file (device and inode), not one removed since.
std::optional<dev_t> loopHolding(DeviceNode &node, const QString &sysBlock, const QString &name, const NodeInfo &image);

// The loop device that holds a whole image (by the backing file's device and
// inode, whoever attached it): its node and device number; nullopt when none.
struct LoopDevice
{
    QByteArray node;
    dev_t number = 0;
};
std::optional<LoopDevice> loopDeviceOf(DeviceNode &node, const NodeInfo &image,
                                       const QString &sysBlockPath = QStringLiteral("/sys/block"));

} // namespace tarvic
