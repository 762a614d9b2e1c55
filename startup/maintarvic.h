#pragma once

#include "startup/forms.h"
#include "startup/services.h"

#include <QString>

namespace tarvic {

class RuntimeError;

// The start-up procedure: reads the argument text, checks the drive, waits for a
// disc and starts what belongs to it, or hands over to one of the windows.
class mainTarvic
{
public:
    explicit mainTarvic(Services &services);

    // The drive being handled: "D:" for no argument, else the first two characters
    // of the upper-cased argument text. Empty in configuration mode.
    QString TargetDrive;

    void Main(const QString &argumentText);

    Forms &forms() { return m_forms; }

    // The first two characters of the upper-cased text, a character being a whole
    // code point; "D:" for the empty text.
    static QString targetDriveFor(const QString &argumentText);
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
