#include "ArchiveTree.h"

#include "Artwork.h"

#include <QTreeWidget>
#include <QTreeWidgetItem>

#include <stdexcept>

namespace {

const QString kFolder = QStringLiteral("Folder");
const QString kFile = QStringLiteral("File");
const QString kRoot = QStringLiteral("<root>");
const QChar kSep = QLatin1Char('\\');

QString AfterLastSeparator(const QString& path) {
    return path.mid(path.lastIndexOf(kSep) + 1);
}

} // namespace

ArchiveTree::ArchiveTree(QTreeWidget* tree, Variant variant) : m_tree(tree), m_variant(variant) {}

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
        throw std::runtime_error("A node with the key \"" + key.toStdString() +
                                 "\" is already in the tree");
    auto* item = new QTreeWidgetItem(QStringList{text});
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

void ArchiveTree::AddFileNode(const qvr::sgFileInfo& entry, const QString& infoEntryName) {
    const QString name = QString::fromStdString(entry.FileName());
    const QString folder = QString::fromStdString(entry.FilePath());
    if (name.toLower() == infoEntryName.toLower())
        return;
    const QString image = m_variant == Variant::Installer ? kFile : QString();
    if (!folder.isEmpty()) {
        AddFolderNodes(folder);
        AddNode(Node(folder), folder + kSep + name, name, image);
    } else if (m_variant == Variant::Installer) {
        AddNode(nullptr, name, name, image);
    } else {
        // Directly after the root node, so later top-level files come before earlier ones.
        QTreeWidgetItem* root = Node(kRoot);
        if (root && !root->parent()) {
            AddNode(nullptr, name, name, image, root);
        } else {
            AddNode(nullptr, name, name, image);
            m_tree->insertTopLevelItem(0,
                                       m_tree->takeTopLevelItem(m_tree->topLevelItemCount() - 1));
        }
    }
}

void ArchiveTree::RemoveNodeTree(QTreeWidgetItem* node, bool removeFiles, qvr::Archives* arc) {
    if (!node)
        return;
    // Children first, each with its own entry; a file node that came to carry the contents of
    // a folder of the same name takes them along too.
    while (node->childCount() > 0)
        RemoveNodeTree(node->child(0), removeFiles, arc);
    if (removeFiles && arc && !IsFolder(node) && Key(node) != kRoot)
        arc->RemoveEntry(node->text(0).toStdString(), FolderPart(node).toStdString());
    m_index.remove(Key(node));
    delete node;
}

void ArchiveTree::Clear() {
    m_tree->clear();
    m_index.clear();
}

void ArchiveTree::ExpandAll() {
    m_tree->expandAll();
}
