#pragma once
// Small builders for the installer's windows: controls placed in twips and named as the
// program's code names them.

#include "LinkLabel.h"
#include "Twips.h"

#include <QColor>
#include <QFont>
#include <QLabel>
#include <QPushButton>

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

// A value from the archive: a long one gets a smaller font (and the whole text as its tip)
// rather than being cut off.
inline void SetValue(QLabel* label, const QString& text) {
    label->setFont(label->property("baseFont").value<QFont>());
    label->setText(text);
    label->setToolTip(TextFits(label) ? QString() : text);
    FitText(label);
}

} // namespace installer::Ui
