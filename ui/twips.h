#pragma once

#include <QFont>
#include <QRect>

namespace tarvic {

// Twips to pixels for a window's layout. The layouts were drawn for a font whose
// line is 195 twips high; one scale taken from the real font's line height keeps
// their proportions and lets every text fit (a 13-pixel line gives 15 twips a pixel).
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
