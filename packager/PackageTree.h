#pragma once
// The package tree control: no editing in place, and the right button selects a node and asks
// for the pop-up menu without counting as a click on the node.

#include <QTreeWidget>

namespace packager {

class PackageTree : public QTreeWidget {
    Q_OBJECT
public:
    explicit PackageTree(QWidget* parent = nullptr);

signals:
    // A node was chosen with the left button or the keyboard.
    void NodeClick(QTreeWidgetItem* node);
    // The right button went down at pos (viewport coordinates) over node (or nullptr), or the
    // menu key was pressed.
    void MenuRequested(QTreeWidgetItem* node, const QPoint& pos);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    bool m_leftDown = false;
    QTreeWidgetItem* m_pressedNode = nullptr;
};

} // namespace packager
