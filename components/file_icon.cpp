#include "components/pellor.h"

#include <QIcon>

namespace tarvic {

QPixmap Pellor::FileIcon(const QString &)
{
    // The desktop's icon for programs; its own drawing where no theme is installed.
    QIcon icon = QIcon::fromTheme(QStringLiteral("application-x-executable"));
    if (icon.isNull())
        icon = QIcon(QStringLiteral(":/qt-project.org/styles/commonstyle/images/file-32.png"));
    return icon.pixmap(32, 32);
}

} // namespace tarvic
