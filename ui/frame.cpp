#include "ui/frame.h"

#include <QPainter>
#include <QStyle>
#include <qdrawutil.h>

namespace tarvic {

Frame::Frame(const QString &caption, QWidget *parent) : QGroupBox(caption, parent) {}

QRect Frame::captionRect() const
{
    // Indented by half a line, with a blank of a quarter line on either side of the
    // text where the border is left out.
    const QFontMetrics fm = fontMetrics();
    const int blank = fm.height() / 4;
    const QSize text = fm.size(Qt::TextShowMnemonic | Qt::TextSingleLine, title());
    return QRect(fm.height() / 2, 0, std::min(text.width() + 2 * blank, width() - fm.height()), fm.height());
}

void Frame::paintEvent(QPaintEvent *)
{
    // The etched border of the classic frame, drawn here: styles draw a group box's
    // border below its title, whatever rectangle they are given.
    QPainter painter(this);
    const QRect caption = captionRect();
    painter.save();
    painter.setClipRegion(QRegion(rect()).subtracted(caption));
    qDrawShadeRect(&painter, rect().adjusted(0, caption.height() / 2, 0, 0), palette(), true, 1, 0);
    painter.restore();
    const int blank = caption.height() / 4;
    style()->drawItemText(&painter, caption.adjusted(blank, 0, -blank, 0),
                          Qt::AlignLeft | Qt::AlignVCenter | Qt::TextShowMnemonic, palette(), isEnabled(), title(),
                          QPalette::WindowText);
}

} // namespace tarvic
