#pragma once

#include "platform/drive_paths.h"

#include <QByteArray>
#include <QString>

namespace tarvic {

// The text returned when a profile file has no such entry.
inline const QString IniNotFound = QStringLiteral("[NOT FOUND]");

// Reads one value of a profile file the way Windows reads autorun.inf. `file` is a
// native path; the reader never throws and reads at most a bounded prefix.
QString readIniValue(const QString &section, const QString &key, const QByteArray &file);

// The INI reader of the program: paths in drive notation.
class INITool
{
public:
    explicit INITool(DrivePaths &paths);
    // The entry's value, or exactly "[NOT FOUND]" when there is no such entry or
    // no readable file.
    QString ReadINIValue(const QString &section, const QString &key, const QString &file);

private:
    DrivePaths &m_paths;
};

} // namespace tarvic
