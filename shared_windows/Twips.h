#pragma once
// Window geometry is designed in twips: 1 pixel = 15 twips at 96 dots per inch. Qt's
// device-independent pixels take care of other screens.

#include <QRect>

class QWidget;

namespace shared_windows {

constexpr int Tw(int twips) {
    return (twips * 2 + 15) / 30; // to the nearest pixel
}
inline QRect TwRect(int left, int top, int width, int height) {
    return QRect(Tw(left), Tw(top), Tw(width), Tw(height));
}
// A box given in twips, in pixels.
inline QRect TwRect(const QRect& twips) {
    return TwRect(twips.x(), twips.y(), twips.width(), twips.height());
}

// The smallest font FitText may give: 8 points, the smallest that can be read; every window
// is laid out to keep its texts at or above it.
constexpr double kReadablePoints = 8.0;

// Shrinks the font of a label, button or check box (never below minPoints) until its text
// fits the widget's present size, so that no caption is clipped whatever fonts the system has.
void FitText(QWidget* widget, double minPoints = kReadablePoints);
// FitText for every label, button and check box below parent.
void FitAllTexts(QWidget* parent, double minPoints = kReadablePoints);
// Whether the widget's text fits its present size with its present font.
bool TextFits(const QWidget* widget);

} // namespace shared_windows
