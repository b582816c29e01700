#pragma once
// A label that acts as a link: it reports a left click.

#include <QLabel>

namespace installer {

class LinkLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

} // namespace installer
