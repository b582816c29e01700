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
    // Files or folders from a file manager were dropped on node (nullptr: below every node).
    void FilesDropped(QTreeWidgetItem* node, const QStringList& paths);
    // The Delete key was pressed in the tree.
    void DeletePressed();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    bool m_leftDown = false;
    QTreeWidgetItem* m_pressedNode = nullptr;
};

} // namespace packager
