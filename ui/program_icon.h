#pragma once

#include <QIcon>

namespace tarvic {

// The program's own icon (a disc behind a disc drive), for both windows.
QIcon programIcon();

} // namespace tarvic
