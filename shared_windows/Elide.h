#pragma once
// Values that can be longer than their box (names, versions, lists from a package) are cut
// with an ellipsis rather than drawn in a smaller font; the whole text is the tooltip. Both
// show the text as it is, never as markup.

#include <QString>
#include <Qt>

class QLabel;

namespace shared_windows {

// Shows text on one line of label, elided to the label's width when it is wider.
void SetElided(QLabel* label, const QString& text, Qt::TextElideMode mode = Qt::ElideRight);
// Shows a word-wrapped text whose words may each be too wide for a line: such words are
// elided. The label keeps its width; its height is left to the caller (a scrolling box).
void SetWrappedElided(QLabel* label, const QString& text);
// The text given to SetElided or SetWrappedElided, whole; the label's text otherwise.
QString FullText(const QLabel* label);
// A stranger's text as a window shows it: every character that steers or reorders text (see
// qvr::SteersText) as U+FFFD, so that a name cannot draw itself as another; with
// keepLineBreaks, line breaks and tabs stay.
QString Displayable(const QString& text, bool keepLineBreaks = false);
// A tooltip that shows text as it is: a tooltip reads anything that looks like markup as
// markup, and names and paths come from strangers' packages.
QString PlainToolTip(const QString& text);

} // namespace shared_windows
