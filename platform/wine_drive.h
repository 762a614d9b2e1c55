#pragma once

#include <QByteArray>
#include <QChar>
#include <QString>
#include <optional>

namespace tarvic {

// A drive of ours as a CD-ROM drive of the Wine prefix that `wine` will use
// ($WINEPREFIX, else ~/.wine), so a Windows program on a disc runs from the disc's
// own letter, sees a CD-ROM drive with the disc's label and finds "\autorun.inf".
//
// The letter is defined through Wine's mount manager by a small Windows helper
// (winedrive/) started with wine, the request winecfg sends, so a running Wine
// sees it at once. The letters Tarvic made are recorded per prefix in
// ${XDG_STATE_HOME:-~/.local/state}/tarvic/wine-drives; a letter the user or Wine
// made is never changed.

// The prefix's letter for the disc whose root is the Unix folder `root`, lower
// case: where letters lead to the root already, the lowest of them when Tarvic
// made it and none otherwise (Wine takes the lowest anyway); else `own` when it is
// free or Tarvic's; else the first free letter from D:.
std::optional<QChar> chooseWineLetter(const QByteArray &prefix, const QByteArray &root, QChar own);

// Defines the letter for the drive `own` (the drive map's letter) on its root, with
// its block device where it has one (never an image file), and records it;
// waits for the helper. Does nothing where there is no prefix yet, no wine, no
// helper for the prefix, or the helper fails: the program then starts as it
// would without. Never throws.
void defineWineDrive(QChar own, const QByteArray &root, const QByteArray &device, const QByteArray &wine);

// The block device mounted on this folder ("/dev/loop0"), or empty where the folder
// is no mount point of a block device.
QByteArray blockDeviceOf(const QByteArray &root);

// The prefix `wine` will use, and the state file of the letters Tarvic made.
QByteArray winePrefix();
QString wineDrivesRecord();

} // namespace tarvic
