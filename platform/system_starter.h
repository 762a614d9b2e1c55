#pragma once

#include "platform/program_starter.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>
#include <utility>

namespace tarvic {

class DrivePaths;

// Starts the program argv[0] (a path) with the arguments that follow, detached and
// in a session of its own: default signals, stdin from /dev/null (or from the
// descriptor `input`), none of our descriptors but stdout and stderr (however high
// they lie), our environment with the "NAME=value" entries of `environment` put in
// place of those of the same name. Returns once it runs; throws RuntimeError with the
// system's reason when it cannot start.
void spawnDetached(const QList<QByteArray> &argv, const QList<QByteArray> &environment = {}, int input = -1);

// Runs argv[0] the same way but with stdout and stderr on /dev/null, and waits for
// it: its exit status, or -1 when it could not start, was killed, or ran longer
// than timeoutMs (then it is killed).
int runQuietly(const QList<QByteArray> &argv, int timeoutMs);

// Starts programs on this machine, never through a shell: the command line is
// split here and the program executed directly, detached so no zombie remains.
//
// A command line that as a whole names an existing file starts that file without
// arguments, so a path with blanks needs no quotes. Otherwise it is split as on
// Windows (platform/command_line.h); drive paths are translated, and a bare program
// name is looked for in the current folder and then on PATH.
//
// A Windows program (a file that begins with "MZ") runs under wine: window style 2
// as "wine start /min /unix <program> <args>", style 1 as "wine <program> <args>"
// so wine hands the arguments over untouched. Other programs ignore the style.
// A Windows program on a drive first makes that drive a CD-ROM drive of the Wine
// prefix (platform/wine_drive.h).
//
// "explorer <drive or folder>" (also "explorer.exe", any case) opens the folder
// with xdg-open; a drive designator alone ("explorer D:") means the drive's root,
// and nothing after the name means the current folder. On a drive without a disc
// it opens the drive's folder, where it has one, and otherwise starts nothing.
//
// Failures throw RuntimeError: 53 file not found, 70 permission denied, 5 anything
// else that keeps the program from starting (a data file that is not marked
// executable among them; the system's reason in brackets); for explorer also 68
// (no such drive) and 76 (no such folder on a disc that is in).
class SystemStarter final : public ProgramStarter
{
public:
    explicit SystemStarter(DrivePaths &paths);
    void start(const QString &commandLine, int windowStyle) override;
    void startProgram(const QByteArray &program, int windowStyle) override;

private:
    std::pair<QByteArray, std::optional<QChar>> programPath(const QString &word);
    void openFolder(const QString &target);
    void launch(const QByteArray &program, const QStringList &arguments, int windowStyle, std::optional<QChar> drive);

    DrivePaths &m_paths;
};

} // namespace tarvic
