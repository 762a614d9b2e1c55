#pragma once

#include <QString>

// udisks2's names on the system bus, for the mounters and tarvic-watch alike.
namespace tarvic::Udisks {

inline const QString Service = QStringLiteral("org.freedesktop.UDisks2");
inline const QString Root = QStringLiteral("/org/freedesktop/UDisks2");
inline const QString Manager = QStringLiteral("/org/freedesktop/UDisks2/Manager");

inline const QString Block = QStringLiteral("org.freedesktop.UDisks2.Block");
inline const QString Drive = QStringLiteral("org.freedesktop.UDisks2.Drive");
inline const QString Filesystem = QStringLiteral("org.freedesktop.UDisks2.Filesystem");
inline const QString Loop = QStringLiteral("org.freedesktop.UDisks2.Loop");
inline const QString ManagerInterface = QStringLiteral("org.freedesktop.UDisks2.Manager");

} // namespace tarvic::Udisks
