#include "ui/twips.h"

#include <QFontMetrics>
#include <algorithm>
#include <cmath>

namespace tarvic {

namespace {

constexpr double ReferenceLineTwips = 195.0;
constexpr double ReferenceCharTwips = 90.0;

double scaleFor(const QFont &font)
{
    const QFontMetricsF fm(font);
    // Windows' own measure of a dialog font's average character.
    const double average = (fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) / 26 + 1) / 2;
    return std::max(QFontMetrics(font).height() / ReferenceLineTwips, average / ReferenceCharTwips);
}

} // namespace

Twips::Twips(const QFont &font) : m_scale(scaleFor(font)) {}

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
