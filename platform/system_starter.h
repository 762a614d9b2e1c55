#pragma once

#include "platform/program_starter.h"

namespace tarvic {

class DrivePaths;

// Starts programs on this machine, never through a shell: the command line is
// split here and the program executed directly, detached so no zombie remains.
class SystemStarter final : public ProgramStarter
{
public:
    explicit SystemStarter(DrivePaths &paths);
    void start(const QString &commandLine, int windowStyle) override;

private:
    DrivePaths &m_paths;
};

} // namespace tarvic
