#pragma once

#include <QFont>
#include <QRect>

namespace tarvic {

// Twips to pixels for a window's layout, one rule for every window. The layouts
// were drawn for the classic dialog font, whose line is 195 twips high and whose
// average character (the dialog base unit of Windows) is 90 twips wide: 13 by 6
// pixels at 15 twips a pixel. The real font gives the scale at which it matches
// both, its wider or taller side deciding, so texts fit across and down alike.
class Twips
{
public:
    explicit Twips(const QFont &font);
    explicit Twips(double pixelsPerTwip) : m_scale(pixelsPerTwip) {}

    int px(int twips) const;
    QRect rect(int left, int top, int width, int height) const;
    double pixelsPerTwip() const { return m_scale; }

private:
    double m_scale;
};

} // namespace tarvic
