#pragma once

#include "platform/program_starter.h"
#include "platform/runtime_error.h"

#include <QDir>
#include <QList>
#include <QString>
#include <functional>

namespace tarvic::test {

struct StartedProgram
{
    QString commandLine;
    int windowStyle;
    QString workingDirectory;   // the process's, at the moment of the start
};

// Starts nothing; records what would have been started and where.
struct RecordingStarter final : ProgramStarter
{
    QList<StartedProgram> started;
    std::function<void(const QString &)> failWith;   // set to make a start throw
    void start(const QString &commandLine, int windowStyle) override
    {
        if (failWith)
            failWith(commandLine);
        started << StartedProgram{commandLine, windowStyle, QDir::currentPath()};
    }
};

} // namespace tarvic::test
