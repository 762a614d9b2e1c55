#include "components/file_icon.h"

#include "components/pe_icon.h"

#include <QFile>
#include <QIcon>
#include <QPainter>

namespace tarvic {

QImage drawnProgramIcon()
{
    // A small program window: frame, blue title bar, white client area.
    QImage image(32, 32, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setPen(QColor(0x30, 0x30, 0x30));
    p.setBrush(Qt::white);
    p.drawRect(2, 4, 27, 23);
    p.fillRect(3, 5, 26, 5, QColor(0x1c, 0x5c, 0xb8));
    p.fillRect(24, 6, 3, 3, QColor(0xe0, 0xe0, 0xe0));
    p.fillRect(6, 14, 12, 2, QColor(0x90, 0x90, 0x90));
    p.fillRect(6, 19, 18, 2, QColor(0x90, 0x90, 0x90));
    return image;
}

QPixmap fallbackProgramIcon()
{
    const QIcon icon = QIcon::fromTheme(QStringLiteral("application-x-executable"));
    if (!icon.isNull()) {
        const QPixmap themed = icon.pixmap(32, 32);
        if (!themed.isNull())
            return themed;
    }
    return QPixmap::fromImage(drawnProgramIcon());
}

QPixmap programFileIcon(const QByteArray &native)
{
    const std::optional<QImage> image = readPeIcon(native);
    if (!image)
        return fallbackProgramIcon();
    // Kept with straight alpha: a premultiplied picture would change the colours of
    // partly transparent pixels.
    if (image->size() == QSize(32, 32))
        return QPixmap::fromImage(*image, Qt::NoFormatConversion);
    return QPixmap::fromImage(image->scaled(32, 32, Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

} // namespace tarvic
