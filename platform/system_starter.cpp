#include "platform/system_starter.h"

#include "platform/runtime_error.h"

namespace tarvic {

SystemStarter::SystemStarter(DrivePaths &paths) : m_paths(paths) {}

void SystemStarter::start(const QString &, int)
{
    throw RuntimeError(Err::InvalidCall, QStringLiteral("Starting programs is not built yet"));
}

} // namespace tarvic
