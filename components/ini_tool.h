#pragma once

#include "profile/ini_reader.h"
#include "platform/drive_paths.h"

#include <QByteArray>
#include <QString>

namespace tarvic {

// The INI reader of the program: finds a file named in drive notation (E:\autorun.inf)
// through the drive map and reads it by the profile rules (readIniValue).
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
