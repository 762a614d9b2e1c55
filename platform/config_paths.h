#pragma once

#include <QString>

namespace tarvic {

// Where the user's files are, by the XDG base directory rules, read afresh at each
// call so tests can point them elsewhere. Each is empty when the user has no home
// folder at all.

// $HOME when it is an absolute path, else the home folder of the password database.
QString homeFolder();
// $XDG_CONFIG_HOME when it is an absolute path, else homeFolder()/.config.
QString configHome();
// The drive map folder: configHome()/tarvic/drives.
QString driveMapFolder();
// The per-user settings file: configHome()/Halvane.ini.
QString settingsFile();

} // namespace tarvic
