#pragma once

#include <QGroupBox>

namespace tarvic {

// A frame in the classic manner: its caption stands on the top line of its border,
// so the frame's first line of text begins right under the caption, as the layouts
// expect. (Styles that draw a group box's title above the border push that border
// into the controls placed below the caption.) Controls inside are placed from the
// frame's outer corner.
class Frame : public QGroupBox
{
    Q_OBJECT
public:
    explicit Frame(const QString &caption, QWidget *parent = nullptr);

    // Where the caption is drawn, in the frame's coordinates.
    QRect captionRect() const;

protected:
    void paintEvent(QPaintEvent *event) override;
};

} // namespace tarvic
