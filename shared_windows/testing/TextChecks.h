#pragma once
// What a reader would find wrong with the texts of a window: text cut off by its box (word
// wrap taken into account) or drawn under a control that lies on top of it, text below 8 points,
// a caption touching the text beside it, buttons of one row in different font sizes.

#include <QRect>
#include <QString>
#include <QStringList>

class QLabel;
class QWidget;

namespace shared_windows {

// One line per fault found in window and the widgets below it, each naming the widget by its
// object name; empty when every text can be read. Hidden widgets are not looked at.
QStringList TextProblems(QWidget* window);

// The box, in the label's own coordinates, that its text is drawn in (its size the text's
// size, placed by the label's alignment).
QRect DrawnTextRect(const QLabel* label);

// The smallest font a text may have, in points.
constexpr double kMinReadablePoints = 8.0;

} // namespace shared_windows
