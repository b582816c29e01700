#include "PackageTree.h"

#include <QHeaderView>
#include <QKeyEvent>
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
    QTreeWidget::mousePressEvent(event);
}

void PackageTree::keyPressEvent(QKeyEvent* event) {
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

} // namespace packager
