#include "ui/twips.h"

#include <QFontMetrics>
#include <cmath>

namespace tarvic {

namespace {
constexpr double ReferenceLineTwips = 195.0;
}

Twips::Twips(const QFont &font) : m_scale(QFontMetrics(font).height() / ReferenceLineTwips) {}

int Twips::px(int twips) const
{
    return int(std::lround(twips * m_scale));
}

QRect Twips::rect(int left, int top, int width, int height) const
{
    // Edges are scaled, not sizes, so neighbours that touch in twips touch in pixels.
    const int l = px(left), t = px(top);
    return QRect(l, t, px(left + width) - l, px(top + height) - t);
}

} // namespace tarvic
