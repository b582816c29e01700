#include "PackageTree.h"

#include <QDragEnterEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>

namespace packager {

PackageTree::PackageTree(QWidget* parent) : QTreeWidget(parent) {
    setHeaderHidden(true);
    setColumnCount(1);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setContextMenuPolicy(Qt::PreventContextMenu);
    setSortingEnabled(false);
    setRootIsDecorated(true);
    header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    header()->setStretchLastSection(false);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DropOnly);
    connect(this, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem* node, int) { emit NodeClick(node); });
}

void PackageTree::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton) {
        const QPoint pos = event->position().toPoint();
        QTreeWidgetItem* node = itemAt(pos);
        if (node) {
            // Selected, but without the click handling: details and Remove stay as they were.
            const QSignalBlocker quiet(this);
            setCurrentItem(node);
        }
        emit MenuRequested(node, pos);
        event->accept();
        return;
    }
    if (event->button() == Qt::LeftButton) {
        m_leftDown = true;
        m_pressedNode = itemAt(event->position().toPoint());
    }
    QTreeWidget::mousePressEvent(event);
}

void PackageTree::mouseReleaseEvent(QMouseEvent* event) {
    const bool left = event->button() == Qt::LeftButton && m_leftDown;
    QTreeWidgetItem* pressed = m_pressedNode;
    if (event->button() == Qt::LeftButton) {
        m_leftDown = false;
        m_pressedNode = nullptr;
    }
    QTreeWidget::mouseReleaseEvent(event);
    // Released on the node it went down on, the view reports a click itself. Dragged across
    // the tree, the selection follows the pointer, and the node it ends on counts as clicked:
    // otherwise Remove and File Details would still describe the node left behind.
    if (left && itemAt(event->position().toPoint()) != pressed && currentItem())
        emit NodeClick(currentItem());
}

void PackageTree::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Delete && event->modifiers() == Qt::NoModifier) {
        emit DeletePressed();
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Menu) {
        QTreeWidgetItem* node = currentItem();
        const QRect r = node ? visualItemRect(node) : QRect();
        emit MenuRequested(node, node ? r.center() : QPoint(0, 0));
        event->accept();
        return;
    }
    QTreeWidgetItem* before = currentItem();
    QTreeWidget::keyPressEvent(event);
    QTreeWidgetItem* after = currentItem();
    if (after && after != before)
        emit NodeClick(after);
}

namespace {

// The local files of a drop from a file manager; empty for anything else.
QStringList DroppedFiles(const QMimeData* data) {
    QStringList paths;
    if (!data || !data->hasUrls())
        return paths;
    for (const QUrl& url : data->urls()) {
        if (!url.isLocalFile())
            return {};
        paths << url.toLocalFile();
    }
    return paths;
}

} // namespace

void PackageTree::dragEnterEvent(QDragEnterEvent* event) {
    if (DroppedFiles(event->mimeData()).isEmpty())
        event->ignore();
    else
        event->acceptProposedAction();
}

void PackageTree::dragMoveEvent(QDragMoveEvent* event) {
    if (DroppedFiles(event->mimeData()).isEmpty()) {
        event->ignore();
        return;
    }
    // The node under the pointer shows where the files go.
    if (QTreeWidgetItem* node = itemAt(event->position().toPoint())) {
        const QSignalBlocker quiet(this);
        setCurrentItem(node);
    }
    event->acceptProposedAction();
}

void PackageTree::dropEvent(QDropEvent* event) {
    const QStringList paths = DroppedFiles(event->mimeData());
    if (paths.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    emit FilesDropped(itemAt(event->position().toPoint()), paths);
}

} // namespace packager
