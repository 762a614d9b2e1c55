#include "components/ini_tool.h"

namespace tarvic {

INITool::INITool(DrivePaths &paths) : m_paths(paths) {}

QString INITool::ReadINIValue(const QString &section, const QString &key, const QString &file)
{
    const Resolved r = m_paths.resolve(file);
    if (!r.found || r.folder || r.virtualFile)
        return IniNotFound;
    return readIniValue(section, key, r.native);
}

} // namespace tarvic
