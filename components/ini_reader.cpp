#include "components/ini_tool.h"

namespace tarvic {

// Placeholder until the reader lands.
QString readIniValue(const QString &, const QString &, const QByteArray &)
{
    return IniNotFound;
}

} // namespace tarvic
