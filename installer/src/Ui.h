#pragma once
// Small builders for the installer's windows: controls placed in twips and named as the
// program's code names them.

#include "Elide.h"
#include "LinkLabel.h"
#include "Twips.h"

#include <QColor>
#include <QCoreApplication>
#include <QEvent>
#include <QFont>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>

#include <cmath>

namespace installer::Ui {

using namespace shared_windows;

inline QFont Font(double points, bool bold = false) {
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setStyleHint(QFont::SansSerif);
    f.setPointSizeF(points);
    f.setBold(bold);
    return f;
}

inline QString TextStyle(const QColor& colour) {
    return QStringLiteral("color: %1; background: transparent;").arg(colour.name());
}

template <typename Label = QLabel>
Label* MakeLabel(QWidget* parent, const QString& name, const QString& text, const QRect& rect,
                 const QFont& font, const QString& style) {
    auto* label = new Label(text, parent);
    label->setObjectName(name);
    // Names, paths and lists from a package are shown as they are, never as markup.
    label->setTextFormat(Qt::PlainText);
    label->setGeometry(rect);
    label->setFont(font);
    label->setProperty("baseFont", font);
    label->setStyleSheet(style);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

inline QPushButton* MakeButton(QWidget* parent, const QString& name, const QString& text,
                               const QRect& rect, const QFont& font) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(name);
    button->setGeometry(rect);
    button->setFont(font);
    button->setAutoDefault(false);
    return button;
}

// A value from the archive on one line: a long one is cut with an ellipsis (paths in the
// middle, so that their end stays in view), with the whole text as its tip.
inline void SetValue(QLabel* label, const QString& text, Qt::TextElideMode mode = Qt::ElideRight) {
    SetElided(label, text, mode);
}

// The box of a list: it can keep its last pixels free, so that it shows whole lines only.
class ListBox : public QScrollArea {
public:
    using QScrollArea::QScrollArea;
    void SetBottomMargin(int pixels) { setViewportMargins(0, 0, 0, pixels); }
};

// A value of several lines (authors, required modules) in a box that scrolls when the lines
// do not fit. The label is made inside the box; the box takes rect and style. The box takes
// the keyboard's focus only while it scrolls, and shows it then.
inline QLabel* MakeListLabel(QWidget* parent, const QString& name, const QRect& rect,
                             const QFont& font, const QString& boxStyle, const QColor& colour) {
    auto* box = new ListBox(parent);
    box->setObjectName(name + QStringLiteral("Box"));
    box->setGeometry(rect);
    box->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    box->setWidgetResizable(false);
    box->setFrameShape(QFrame::NoFrame);
    box->setFocusPolicy(Qt::NoFocus);
    box->setStyleSheet(QStringLiteral("QScrollArea#%1 { %2 } QScrollArea#%1:focus { border: 1px "
                                      "dotted %3; }")
                           .arg(box->objectName(), boxStyle, colour.name()));
    box->viewport()->setAutoFillBackground(false);
    box->viewport()->setStyleSheet(QStringLiteral("background: transparent;"));
    auto* label = new QLabel(box);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
    label->setProperty("baseFont", font);
    // In a framed box the text keeps off the frame, as the one-line values do.
    label->setStyleSheet(TextStyle(colour) +
                         (boxStyle.isEmpty() ? QString() : QStringLiteral("padding-left: 2px;")));
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    box->setWidget(label);
    label->resize(box->viewport()->size());
    return label;
}

// The pixels at the bottom of a box of height that would show only part of a line of label.
// Measured on the label itself (its text is put back): a line's advance need not be the font's
// line spacing, and the label keeps some pixels above its first line and below its last.
inline int PartLine(QLabel* label, int height) {
    const QString shown = label->text();
    label->setText(QStringLiteral("x"));
    const int one = label->heightForWidth(label->width());
    label->setText(QStringLiteral("x\nx\nx\nx\nx\nx\nx\nx\nx\nx\nx"));
    const double line = (label->heightForWidth(label->width()) - one) / 10.0;
    label->setText(shown);
    if (line <= 0)
        return 0;
    const int top = static_cast<int>((one - line) / 2);
    const int whole = static_cast<int>((height - top) / line);
    return std::max(0, height - static_cast<int>(std::ceil(top + whole * line)));
}

// Fills a label made by MakeListLabel: as wide as its box, as high as its lines need; the
// box scrolls when that is more than it shows.
inline void SetList(QLabel* label, const QString& text) {
    auto* box = static_cast<ListBox*>(label->parentWidget()->parentWidget());
    box->SetBottomMargin(0);
    const QSize room = box->contentsRect().size();
    label->resize(room.width(), label->height());
    SetWrappedElided(label, text);
    int height = label->heightForWidth(room.width());
    if (height > room.height()) {
        // The scroll bar takes its width from the lines.
        const int width = room.width() - box->verticalScrollBar()->sizeHint().width();
        label->resize(width, label->height());
        SetWrappedElided(label, text);
        // No line cut in half at the bottom: the box shows as many whole lines as fit.
        box->SetBottomMargin(PartLine(label, room.height()));
        height = label->heightForWidth(width);
        label->resize(width, height);
        // Set rather than left to the box, so that the bar is there at once.
        box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        box->setFocusPolicy(Qt::TabFocus);
    } else {
        label->resize(room.width(), room.height());
        box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        box->setFocusPolicy(Qt::NoFocus);
    }
    // The box lays out its bars at once, not when the event loop next runs.
    QEvent relayout(QEvent::LayoutRequest);
    QCoreApplication::sendEvent(box, &relayout);
    box->verticalScrollBar()->setValue(0);
}

} // namespace installer::Ui
