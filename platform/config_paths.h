#pragma once

#include <QString>

namespace tarvic {

// ${XDG_CONFIG_HOME:-$HOME/.config}, read afresh at each call so tests can point it elsewhere.
QString configHome();
// The drive map folder: configHome()/tarvic/drives.
QString driveMapFolder();
// The per-user settings file: configHome()/Halvane.ini.
QString settingsFile();

} // namespace tarvic
