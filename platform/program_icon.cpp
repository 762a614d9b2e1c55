#include "platform/program_icon.h"

#include <QFile>

namespace tarvic {

QIcon programIcon()
{
    QIcon icon;
    for (const char *file : {":/tarvic/tarvic-16.png", ":/tarvic/tarvic-32.png", ":/tarvic/tarvic.svg"})
        if (QFile::exists(QLatin1String(file)))
            icon.addFile(QLatin1String(file));
    return icon;
}

} // namespace tarvic
