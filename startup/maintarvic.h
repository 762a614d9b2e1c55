#pragma once

#include "startup/forms.h"
#include "startup/services.h"

#include <QString>

// From the command line to a started program:
//   main.cpp                 wires the real services and hands the argument text to Main
//   mainTarvic::Main         "/c" -> frmConfigure; else TargetDrive, then the drive's status
//   Pellor (components/)     status, file and folder questions in drive notation
//   DrivePaths (platform/)   drive notation -> a native path inside the drive's root
//   Drives, DriveMap         which letter is which folder, device or image; disc or none
//   platform/devices/        device status, track files, mounting through udisks2
//   SettingsStore (settings/) the players and start-in folders, read at each use
//   INITool (components/)    open= of the disc's autorun.inf, by the Windows profile rules
//   frmTarvic (chooser/)     the disc's programs when nothing else is started
//   SystemStarter (platform/) splits the command line, finds the program, starts it
namespace tarvic {

class Drives;
class RuntimeError;

// The start-up procedure: reads the argument text, checks the drive, waits for a
// disc and starts what belongs to it, or hands over to one of the windows.
class mainTarvic
{
public:
    explicit mainTarvic(Services &services);

    // The drive being handled: "D:" for no argument, the letter of a medium's drive
    // for a medium's folder or device, else the first two characters of the
    // upper-cased argument text. Empty in configuration mode.
    QString TargetDrive;

    void Main(const QString &argumentText);

    Forms &forms() { return m_forms; }

    // The first two characters of the upper-cased text, a character being a whole
    // code point; "D:" for the empty text.
    static QString targetDriveFor(const QString &argumentText);
    // The same, with a medium's folder, file URI or device node given its drive's
    // letter; throws RuntimeError for a medium that cannot be handled.
    static QString targetDriveFor(const QString &argumentText, Drives &drives);
    static QString usageText(const QString &drive);
    static QString errorText(const RuntimeError &error);

private:
    struct Media;
    void dispatch();
    void playerStart(const Media &media);
    void errorHandler(const RuntimeError &error);

    Services &m_services;
    Forms m_forms;
};

} // namespace tarvic
