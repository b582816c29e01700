#pragma once
// The archive tree procedures shared by both programs, with a key index beside the tree so
// that filling a large tree is not quadratic. Keys are the node's relative path with "\".

#include "qvr/Archives.h"

#include <QHash>
#include <QIcon>
#include <QString>

class QTreeWidget;
class QTreeWidgetItem;

class ArchiveTree {
public:
    enum class Variant { Installer, Packager };
    static constexpr int KeyRole = Qt::UserRole + 1;   // QString key of a node
    static constexpr int ImageRole = Qt::UserRole + 2; // "Folder", "File" or "" (no image)

    ArchiveTree(QTreeWidget* tree, Variant variant);

    // Throws std::runtime_error naming the key when a node with the file's key exists.
    void AddFileNode(const qvr::sgFileInfo& entry, const QString& infoEntryName);
    void AddFolderNodes(const QString& path);
    bool NodeExists(const QString& key) const;
    QTreeWidgetItem* Node(const QString& key) const;
    // Removes node and its subtree; with removeFiles the entries of its file nodes are
    // removed from the open archive (arc must then be given).
    void RemoveNodeTree(QTreeWidgetItem* node, bool removeFiles, qvr::Archives* arc = nullptr);
    // Adds a node with an explicit key; parent nullptr for top level. after: insert after
    // this sibling instead of appending. Throws when the key exists.
    QTreeWidgetItem* AddNode(QTreeWidgetItem* parent, const QString& key, const QString& text,
                             const QString& image, QTreeWidgetItem* after = nullptr);
    void Clear();
    void ExpandAll();

    static QString Key(const QTreeWidgetItem* node);
    static bool IsFolder(const QTreeWidgetItem* node);
    // The part of the key before its last "\" ("" for a top-level node).
    static QString FolderPart(const QTreeWidgetItem* node);

    QTreeWidget* Widget() const { return m_tree; }

private:
    QTreeWidget* m_tree;
    Variant m_variant;
    QHash<QString, QTreeWidgetItem*> m_index;
    QHash<QString, QIcon> m_images; // drawn once per tree
};
