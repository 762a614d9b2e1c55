#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace tarvic {

// The machine's optical drives as device nodes (/dev/sr0, ...), in the kernel's
// order: the block devices of SCSI type 5 (TYPE_ROM) and those named sr*.
QList<QByteArray> listOpticalDrives(const QString &sysRoot = QStringLiteral("/sys/class/block"));

} // namespace tarvic
