#pragma once

#include <QByteArray>
#include <QImage>
#include <QPixmap>

namespace tarvic {

// The icon of the program file at a native path, 32x32: its own where it has one,
// else the fallback below. Never fails.
QPixmap programFileIcon(const QByteArray &native);

// The picture for programs without an icon of their own: the desktop theme's icon
// for executables, or a drawn program window where no theme has one. 32x32.
QPixmap fallbackProgramIcon();
// The drawn one alone, for comparisons.
QImage drawnProgramIcon();

} // namespace tarvic
