#include "LinkLabel.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QShortcut>

namespace installer {

LinkLabel::LinkLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
    setFocusPolicy(Qt::StrongFocus);
}

void LinkLabel::SetShortcut(const QKeySequence& key) {
    auto* shortcut = new QShortcut(key, parentWidget() ? parentWidget() : this);
    connect(shortcut, &QShortcut::activated, this, [this] {
        if (isVisible())
            emit clicked();
    });
    setToolTip(toolTip().isEmpty() ? key.toString(QKeySequence::NativeText) : toolTip());
}

void LinkLabel::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
    QLabel::mouseReleaseEvent(event);
}

void LinkLabel::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        emit clicked();
        return;
    default:
        QLabel::keyPressEvent(event);
    }
}

void LinkLabel::paintEvent(QPaintEvent* event) {
    QLabel::paintEvent(event);
    if (!hasFocus())
        return;
    // The keyboard's place, as a button shows it.
    QPainter p(this);
    QPen pen(palette().color(QPalette::WindowText));
    pen.setStyle(Qt::DotLine);
    p.setPen(pen);
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

} // namespace installer
