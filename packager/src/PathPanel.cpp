#include "PathPanel.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOption>

namespace packager {

PathPanel::PathPanel(QWidget* parent) : QLabel(parent) {
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void PathPanel::SetPath(const QString& note, const QString& path) {
    m_note = note;
    m_path = path;
    setText(note + path);
    setToolTip(path);
    update();
}

QString PathPanel::ShownText() const {
    const QFontMetrics fm(font());
    const int room =
        std::max(0, contentsRect().width() - 2 * margin() - fm.horizontalAdvance(m_note));
    if (fm.horizontalAdvance(m_path) <= room)
        return m_note + m_path;
    // The file's name is what tells packages apart: the folders give way first.
    const qsizetype cut =
        std::max(m_path.lastIndexOf(QLatin1Char('/')), m_path.lastIndexOf(QLatin1Char('\\')));
    const QString name = m_path.mid(cut + 1);
    const int nameWidth = fm.horizontalAdvance(name);
    if (cut > 0 && nameWidth + fm.horizontalAdvance(QStringLiteral("M\u2026")) <= room)
        return m_note + fm.elidedText(m_path.left(cut + 1), Qt::ElideMiddle, room - nameWidth) +
               name;
    return m_note + fm.elidedText(m_path, Qt::ElideMiddle, room);
}

QSize PathPanel::minimumSizeHint() const {
    // However long the path, the panel never pushes the status bar wider than the window.
    const QFontMetrics fm(font());
    return {fm.horizontalAdvance(m_note) + fm.horizontalAdvance(QStringLiteral("M...M")) +
                2 * frameWidth(),
            QLabel::minimumSizeHint().height()};
}

void PathPanel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    drawFrame(&p);
    p.setPen(palette().color(foregroundRole()));
    p.drawText(contentsRect().adjusted(margin(), 0, -margin(), 0), Qt::AlignLeft | Qt::AlignVCenter,
               ShownText());
}

} // namespace packager
