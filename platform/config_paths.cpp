#include "platform/config_paths.h"

#include <QDir>
#include <QFile>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace tarvic {

namespace {

QString absoluteOrNothing(const QString &path)
{
    return !path.isEmpty() && QDir::isAbsolutePath(path) ? QDir::cleanPath(path) : QString();
}

} // namespace

QString homeFolder()
{
    if (const QString home = absoluteOrNothing(qEnvironmentVariable("HOME")); !home.isEmpty())
        return home;
    // Without a usable HOME, as a login would set it, the password database says
    // where the home is; Qt would answer the root of the file system.
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
    struct passwd entry;
    struct passwd *found = nullptr;
    while (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == ERANGE && buffer.size() < (1u << 20))
        buffer.resize(buffer.size() * 2);
    return found && found->pw_dir ? absoluteOrNothing(QFile::decodeName(found->pw_dir)) : QString();
}

QString configHome()
{
    // The XDG rules say a relative value is to be ignored.
    if (const QString xdg = absoluteOrNothing(qEnvironmentVariable("XDG_CONFIG_HOME")); !xdg.isEmpty())
        return xdg;
    const QString home = homeFolder();
    return home.isEmpty() ? QString() : QDir::cleanPath(home + QStringLiteral("/.config"));
}

QString driveMapFolder()
{
    const QString home = configHome();
    return home.isEmpty() ? QString() : home + QStringLiteral("/tarvic/drives");
}

QString settingsFile()
{
    const QString home = configHome();
    return home.isEmpty() ? QString() : home + QStringLiteral("/Halvane.ini");
}

} // namespace tarvic
