#pragma once
// The archive tree procedures shared by both programs, with a key index beside the tree so
// that filling a large tree is not quadratic. Keys are the node's relative path with "\".
// The tree also remembers the order its nodes were made in.

#include "qvr/package/Archives.h"
#include "qvr/platform/Result.h"

#include <QHash>
#include <QIcon>
#include <QSet>
#include <QString>
#include <QStringList>

class QTreeWidget;
class QTreeWidgetItem;

namespace shared_windows {

// The order in which keys were made; a key made again after its removal counts as new.
class NodeOrder {
public:
    void Clear();
    void Append(const QString& key); // ignored when the key is already listed
    void Remove(const QString& key);
    bool Contains(const QString& key) const { return m_pos.contains(key); }
    QStringList Keys() const;

private:
    qint64 m_next = 0;
    QHash<QString, qint64> m_pos;
};

class ArchiveTree {
public:
    // How file nodes are shown; each program fills in its own.
    struct Options {
        bool FileImages = true; // file nodes show the "File" image
        // Top-level files go directly after the node of this key, so later ones come before
        // earlier ones (first in the tree when that node is missing); "" appends them.
        QString TopFilesAfter;
    };
    static constexpr int KeyRole = Qt::UserRole + 1;   // QString key of a node
    static constexpr int ImageRole = Qt::UserRole + 2; // "Folder", "File" or "" (no image)

    ArchiveTree(QTreeWidget* tree, Options options);

    // EntryFailed naming the key when a node with the file's key exists; the tree keeps
    // whatever folder nodes were made before.
    qvr::Result AddFileNode(const qvr::sgFileInfo& entry, const QString& infoEntryName);
    void AddFolderNodes(const QString& path);
    bool NodeExists(const QString& key) const;
    QTreeWidgetItem* Node(const QString& key) const;
    // Removes node and its subtree from the tree; the archive is changed by the library
    // (Archives::RemoveEntries), in one rebuild.
    void RemoveNodeTree(QTreeWidgetItem* node);
    // Removes node and its subtree but for the nodes whose keys are in keep and the folders
    // above them.
    void RemoveNodeTreeExcept(QTreeWidgetItem* node, const QSet<QString>& keep);
    // Adds a node with an explicit key; parent nullptr for top level. after: insert after
    // this sibling instead of appending. nullptr when a node with the key exists.
    QTreeWidgetItem* AddNode(QTreeWidgetItem* parent, const QString& key, const QString& text,
                             const QString& image, QTreeWidgetItem* after = nullptr);
    void Clear();
    void ExpandAll();
    // Every node's key, in the order the nodes were made.
    QStringList KeysInOrder() const { return m_order.Keys(); }

    static QString Key(const QTreeWidgetItem* node);
    static bool IsFolder(const QTreeWidgetItem* node);
    // The part of the key before its last "\" ("" for a top-level node).
    static QString FolderPart(const QTreeWidgetItem* node);
    // The name of the entry a node stands for, as the package holds it (its text is as shown).
    static QString NamePart(const QTreeWidgetItem* node);

    QTreeWidget* Widget() const { return m_tree; }

private:
    bool RemoveExcept(QTreeWidgetItem* node, const QSet<QString>& keep);
    void Forget(QTreeWidgetItem* node);

    QTreeWidget* m_tree;
    Options m_options;
    QHash<QString, QTreeWidgetItem*> m_index;
    NodeOrder m_order;
    QHash<QString, QIcon> m_images; // drawn once per tree
};

} // namespace shared_windows
