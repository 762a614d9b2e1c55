#pragma once

#include <QByteArray>
#include <QString>

namespace tarvic {

// Window styles of a started program.
namespace WindowStyle {
constexpr int Normal = 1;     // normal window with focus
constexpr int Minimised = 2;  // minimised window with focus
}

// Starts programs and opens folders for the drive services, as Windows' Shell would.
class ProgramStarter
{
public:
    virtual ~ProgramStarter() = default;
    // Starts the command line and returns at once; the program inherits the
    // current directory. Throws RuntimeError, with the system's reason, when the
    // start fails.
    virtual void start(const QString &commandLine, int windowStyle) = 0;
    // Starts exactly the file at this native path, without arguments, the same way:
    // the path is taken as it stands (no splitting, no drive letters, no search), so
    // a file whose name holds "\", ":" or a blank is started as itself.
    virtual void startProgram(const QByteArray &program, int windowStyle) = 0;
};

} // namespace tarvic
