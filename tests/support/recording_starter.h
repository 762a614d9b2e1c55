#pragma once

#include "platform/program_starter.h"
#include "platform/runtime_error.h"

#include <QDir>
#include <QList>
#include <QString>

namespace tarvic::test {

struct StartedProgram
{
    QString commandLine;
    QByteArray program;         // the file, for a start of one file
    int windowStyle;
    QString workingDirectory;   // the process's, at the moment of the start
};

// Starts nothing; records what would have been started and where.
struct RecordingStarter final : ProgramStarter
{
    QList<StartedProgram> started;
    void start(const QString &commandLine, int windowStyle) override
    {
        started << StartedProgram{commandLine, {}, windowStyle, QDir::currentPath()};
    }
    void startProgram(const QByteArray &program, int windowStyle) override
    {
        started << StartedProgram{{}, program, windowStyle, QDir::currentPath()};
    }
};

} // namespace tarvic::test
