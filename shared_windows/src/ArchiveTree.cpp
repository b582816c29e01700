#include "ArchiveTree.h"

#include "Artwork.h"
#include "Elide.h"

#include <QTreeWidget>
#include <QTreeWidgetItem>

#include <algorithm>

namespace shared_windows {

namespace {

const QString kFolder = QStringLiteral("Folder");
const QString kFile = QStringLiteral("File");
const QChar kSep = QLatin1Char('\\');

QString AfterLastSeparator(const QString& path) {
    return path.mid(path.lastIndexOf(kSep) + 1);
}

} // namespace

void NodeOrder::Clear() {
    m_pos.clear();
}

void NodeOrder::Append(const QString& key) {
    if (!m_pos.contains(key))
        m_pos.insert(key, m_next++);
}

void NodeOrder::Remove(const QString& key) {
    m_pos.remove(key);
}

QStringList NodeOrder::Keys() const {
    std::vector<std::pair<qint64, QString>> items;
    items.reserve(m_pos.size());
    for (auto it = m_pos.cbegin(); it != m_pos.cend(); ++it)
        items.emplace_back(it.value(), it.key());
    std::sort(items.begin(), items.end());
    QStringList keys;
    for (const auto& item : items)
        keys << item.second;
    return keys;
}

ArchiveTree::ArchiveTree(QTreeWidget* tree, Options options)
    : m_tree(tree), m_options(std::move(options)) {}

QString ArchiveTree::Key(const QTreeWidgetItem* node) {
    return node ? node->data(0, KeyRole).toString() : QString();
}

bool ArchiveTree::IsFolder(const QTreeWidgetItem* node) {
    return node && node->data(0, ImageRole).toString() == kFolder;
}

QString ArchiveTree::FolderPart(const QTreeWidgetItem* node) {
    const QString key = Key(node);
    const qsizetype cut = key.lastIndexOf(kSep);
    return cut < 0 ? QString() : key.left(cut);
}

QString ArchiveTree::NamePart(const QTreeWidgetItem* node) {
    return AfterLastSeparator(Key(node));
}

bool ArchiveTree::NodeExists(const QString& key) const {
    return m_index.contains(key);
}

QTreeWidgetItem* ArchiveTree::Node(const QString& key) const {
    return m_index.value(key, nullptr);
}

QTreeWidgetItem* ArchiveTree::AddNode(QTreeWidgetItem* parent, const QString& key,
                                      const QString& text, const QString& image,
                                      QTreeWidgetItem* after) {
    if (m_index.contains(key))
        return nullptr;
    auto* item = new QTreeWidgetItem(QStringList{Displayable(text)}); // names from a package
    item->setData(0, KeyRole, key);
    item->setData(0, ImageRole, image);
    if (!image.isEmpty()) {
        auto cached = m_images.find(image);
        if (cached == m_images.end())
            cached = m_images.insert(image, Artwork::TreeImage(image));
        item->setIcon(0, *cached);
    }
    if (parent) {
        if (after && after->parent() == parent)
            parent->insertChild(parent->indexOfChild(after) + 1, item);
        else
            parent->addChild(item);
    } else {
        if (after && !after->parent())
            m_tree->insertTopLevelItem(m_tree->indexOfTopLevelItem(after) + 1, item);
        else
            m_tree->addTopLevelItem(item);
    }
    m_index.insert(key, item);
    m_order.Append(key);
    return item;
}

void ArchiveTree::AddFolderNodes(const QString& path) {
    QString parent;
    auto ensure = [&](const QString& prefix) {
        if (!NodeExists(prefix)) {
            if (parent.isEmpty())
                AddNode(nullptr, prefix, prefix, kFolder);
            else
                AddNode(Node(parent), prefix, AfterLastSeparator(prefix), kFolder);
        }
        parent = prefix;
    };
    for (qsizetype i = path.indexOf(kSep); i >= 0; i = path.indexOf(kSep, i + 1))
        ensure(path.left(i));
    ensure(path);
}

qvr::Result ArchiveTree::AddFileNode(const qvr::sgFileInfo& entry, const QString& infoEntryName) {
    const QString name = QString::fromStdString(entry.FileName());
    const QString folder = QString::fromStdString(entry.FilePath());
    if (name.toLower() == infoEntryName.toLower())
        return qvr::Result::Success();
    const QString image = m_options.FileImages ? kFile : QString();
    const QString key = folder.isEmpty() ? name : folder + kSep + name;
    QTreeWidgetItem* made = nullptr;
    if (!folder.isEmpty()) {
        AddFolderNodes(folder);
        made = AddNode(Node(folder), key, name, image);
    } else if (m_options.TopFilesAfter.isEmpty()) {
        made = AddNode(nullptr, name, name, image);
    } else {
        QTreeWidgetItem* anchor = Node(m_options.TopFilesAfter);
        if (anchor && !anchor->parent()) {
            made = AddNode(nullptr, name, name, image, anchor);
        } else {
            made = AddNode(nullptr, name, name, image);
            if (made)
                m_tree->insertTopLevelItem(
                    0, m_tree->takeTopLevelItem(m_tree->topLevelItemCount() - 1));
        }
    }
    if (!made)
        return qvr::Result::EntryFailure("A node with the key \"" + key.toStdString() +
                                         "\" is already in the tree");
    return qvr::Result::Success();
}

void ArchiveTree::RemoveNodeTree(QTreeWidgetItem* node) {
    if (!node)
        return;
    // Children first; a file node that came to carry the contents of a folder of the same name
    // takes them along too.
    while (node->childCount() > 0)
        RemoveNodeTree(node->child(0));
    Forget(node);
}

void ArchiveTree::Forget(QTreeWidgetItem* node) {
    m_index.remove(Key(node));
    m_order.Remove(Key(node));
    delete node;
}

void ArchiveTree::RemoveNodeTreeExcept(QTreeWidgetItem* node, const QSet<QString>& keep) {
    if (node)
        RemoveExcept(node, keep);
}

bool ArchiveTree::RemoveExcept(QTreeWidgetItem* node, const QSet<QString>& keep) {
    QList<QTreeWidgetItem*> children;
    for (int i = 0; i < node->childCount(); ++i)
        children << node->child(i);
    bool emptied = true;
    for (QTreeWidgetItem* child : children)
        emptied = RemoveExcept(child, keep) && emptied;
    if (!emptied || keep.contains(Key(node)))
        return false;
    Forget(node);
    return true;
}

void ArchiveTree::Clear() {
    m_tree->clear();
    m_index.clear();
    m_order.Clear();
}

void ArchiveTree::ExpandAll() {
    m_tree->expandAll();
}

} // namespace shared_windows
