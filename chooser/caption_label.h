#pragma once

#include <QLabel>

namespace tarvic {

// A label in the classic manner: its caption keeps carriage returns as they were
// given (text() returns them unchanged) and each one breaks the line on screen.
// Its size hint is the size of its text, so adjustSize() makes it fit exactly.
class CaptionLabel : public QLabel
{
    Q_OBJECT
public:
    explicit CaptionLabel(const QString &text, QWidget *parent = nullptr);

    // The caption as drawn: CR LF, CR and LF each one line break.
    static QString displayText(const QString &caption);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    static constexpr int TextFlags = Qt::AlignLeft | Qt::AlignTop | Qt::TextIncludeTrailingSpaces;
};

} // namespace tarvic
