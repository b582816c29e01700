#include "PathPanel.h"

#include "Elide.h"

#include <QFontMetrics>

namespace packager {

PathPanel::PathPanel(QWidget* parent) : QLabel(parent) {
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setTextFormat(Qt::PlainText);
}

void PathPanel::SetPath(const QString& note, const QString& path) {
    m_note = note;
    m_path = path;
    setToolTip(shared_windows::PlainToolTip(path));
    ShowFitting();
}

QString PathPanel::FullText() const {
    return m_note + m_path;
}

void PathPanel::ShowFitting() {
    const QString shown = ShownText();
    if (shown != text())
        setText(shown);
}

void PathPanel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    ShowFitting();
}

QString PathPanel::ShownText() const {
    const QFontMetrics fm(font());
    // QLabel sets left-aligned text in by half an "x" when it has a frame and no indent of
    // its own.
    int indentBy = indent();
    if (indentBy < 0)
        indentBy = frameWidth() > 0 ? fm.horizontalAdvance(QLatin1Char('x')) / 2 : 0;
    const int width = std::max(0, contentsRect().width() - 2 * margin() - indentBy);
    auto drawnWidth = [&fm](const QString& text) {
        return fm.boundingRect(QRect(0, 0, 100000, 1000), Qt::AlignLeft, text).width();
    };
    if (drawnWidth(m_note + m_path) <= width)
        return m_note + m_path;
    // The file's name is what tells packages apart: the folders give way first.
    const qsizetype cut =
        std::max(m_path.lastIndexOf(QLatin1Char('/')), m_path.lastIndexOf(QLatin1Char('\\')));
    const QString name = m_path.mid(cut + 1);
    const int nameWidth = fm.horizontalAdvance(name);
    // Pieces measured apart can come to a pixel or two more together: shorten until the
    // whole fits.
    QString shown;
    for (int room = width - fm.horizontalAdvance(m_note); room >= 0; room -= 2) {
        if (cut > 0 && nameWidth + fm.horizontalAdvance(QStringLiteral("M\u2026")) <= room)
            shown = m_note +
                    fm.elidedText(m_path.left(cut + 1), Qt::ElideMiddle, room - nameWidth) + name;
        else
            shown = m_note + fm.elidedText(m_path, Qt::ElideMiddle, room);
        if (drawnWidth(shown) <= width)
            break;
    }
    return shown;
}

QSize PathPanel::minimumSizeHint() const {
    // However long the path, the panel never pushes the status bar wider than the window.
    const QFontMetrics fm(font());
    return {fm.horizontalAdvance(m_note) + fm.horizontalAdvance(QStringLiteral("M...M")) +
                2 * frameWidth(),
            QLabel::minimumSizeHint().height()};
}

} // namespace packager
