#pragma once
// A label that acts as a link: it reports a left click, and it can be reached with the
// keyboard like a button: by Tab (Enter or Space then click it) and by its shortcut.

#include <QKeySequence>
#include <QLabel>

namespace installer {

class LinkLabel : public QLabel {
    Q_OBJECT
public:
    explicit LinkLabel(const QString& text, QWidget* parent = nullptr);

    // A key that clicks the link from anywhere in its window while the link is shown.
    void SetShortcut(const QKeySequence& key);

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
};

} // namespace installer
