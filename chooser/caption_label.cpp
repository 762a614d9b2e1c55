#include "chooser/caption_label.h"

#include <QPainter>
#include <QStyle>

namespace tarvic {

CaptionLabel::CaptionLabel(const QString &text, QWidget *parent) : QLabel(text, parent)
{
    setTextFormat(Qt::PlainText);
    setFocusPolicy(Qt::NoFocus);
}

QString CaptionLabel::displayText(const QString &caption)
{
    QString shown = caption;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return shown;
}

QSize CaptionLabel::sizeHint() const
{
    const QMargins m = contentsMargins();
    return fontMetrics().size(TextFlags, displayText(text())).grownBy(m);
}

QSize CaptionLabel::minimumSizeHint() const
{
    return sizeHint();
}

void CaptionLabel::paintEvent(QPaintEvent *)
{
    // Drawn here because QLabel shows a carriage return as a blank.
    QPainter painter(this);
    style()->drawItemText(&painter, contentsRect(), TextFlags, palette(), isEnabled(), displayText(text()),
                          foregroundRole());
}

} // namespace tarvic
