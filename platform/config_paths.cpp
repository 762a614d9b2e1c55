#include "platform/config_paths.h"

#include <QDir>

namespace tarvic {

QString configHome()
{
    const QString xdg = qEnvironmentVariable("XDG_CONFIG_HOME");
    // The XDG rules say a relative value is to be ignored.
    if (!xdg.isEmpty() && QDir::isAbsolutePath(xdg))
        return QDir::cleanPath(xdg);
    return QDir::cleanPath(QDir::homePath() + QStringLiteral("/.config"));
}

QString driveMapFolder()
{
    return configHome() + QStringLiteral("/tarvic/drives");
}

QString settingsFile()
{
    return configHome() + QStringLiteral("/Halvane.ini");
}

} // namespace tarvic
