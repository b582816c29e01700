#include "ArchiveTree.h"

#include "qvr/package/Archives.h"

#include <QTreeWidget>
#include <gtest/gtest.h>

using namespace shared_windows;

namespace {

qvr::sgFileInfo Entry(const std::string& folder, const std::string& name) {
    qvr::sgFileInfo e;
    e.FilePath(folder);
    e.FileName(name);
    return e;
}

QStringList Keys(const QTreeWidgetItem* parent, const QTreeWidget& tree) {
    QStringList keys;
    const int n = parent ? parent->childCount() : tree.topLevelItemCount();
    for (int i = 0; i < n; ++i)
        keys << ArchiveTree::Key(parent ? parent->child(i) : tree.topLevelItem(i));
    return keys;
}

// The two programs' ways of showing files.
ArchiveTree::Options InstallerLook() {
    return {true, QString()};
}
ArchiveTree::Options PackagerLook() {
    return {false, QStringLiteral("<root>")};
}

} // namespace

TEST(ArchiveTree, BuildsOneFolderNodePerPathLevel) {
    QTreeWidget w;
    ArchiveTree t(&w, InstallerLook());
    EXPECT_TRUE(t.AddFileNode(Entry("Meshes\\Armor", "helm.nif"), "Pack.qvr.ifo"));
    EXPECT_TRUE(t.AddFileNode(Entry("Meshes\\Armor", "boots.nif"), "Pack.qvr.ifo"));
    EXPECT_TRUE(t.AddFileNode(Entry("", "plugin.esp"), "Pack.qvr.ifo"));
    EXPECT_TRUE(t.AddFileNode(Entry("", "PACK.QVR.IFO"), "Pack.qvr.ifo"));
    EXPECT_TRUE(t.AddFileNode(Entry("Textures", "a.dds"), "Pack.qvr.ifo"));

    EXPECT_EQ(Keys(nullptr, w), QStringList({"Meshes", "plugin.esp", "Textures"}));
    QTreeWidgetItem* armor = t.Node("Meshes\\Armor");
    ASSERT_NE(armor, nullptr);
    EXPECT_EQ(armor->text(0), "Armor");
    EXPECT_EQ(armor->parent(), t.Node("Meshes"));
    EXPECT_TRUE(ArchiveTree::IsFolder(armor));
    EXPECT_EQ(Keys(armor, w), QStringList({"Meshes\\Armor\\helm.nif", "Meshes\\Armor\\boots.nif"}));
    QTreeWidgetItem* helm = t.Node("Meshes\\Armor\\helm.nif");
    EXPECT_EQ(helm->text(0), "helm.nif");
    EXPECT_EQ(helm->data(0, ArchiveTree::ImageRole).toString(), "File");
    EXPECT_FALSE(ArchiveTree::IsFolder(helm));
    EXPECT_EQ(ArchiveTree::FolderPart(helm), "Meshes\\Armor");
    EXPECT_EQ(ArchiveTree::FolderPart(t.Node("plugin.esp")), "");

    // Existing levels are reused.
    t.AddFolderNodes("Meshes\\a\\b");
    EXPECT_EQ(t.Node("Meshes\\a")->text(0), "a");
    EXPECT_EQ(t.Node("Meshes\\a")->parent(), t.Node("Meshes"));
    EXPECT_EQ(t.Node("Meshes\\a\\b")->parent(), t.Node("Meshes\\a"));
    EXPECT_EQ(w.topLevelItemCount(), 3);

    EXPECT_TRUE(t.NodeExists("Meshes"));
    EXPECT_FALSE(t.NodeExists("meshes"));
    EXPECT_FALSE(t.NodeExists("Pack.qvr.ifo"));

    t.Clear();
    EXPECT_EQ(w.topLevelItemCount(), 0);
    EXPECT_FALSE(t.NodeExists("Meshes"));
}

TEST(ArchiveTree, ATakenKeyFailsNamingItAndKeepsWhatCameBefore) {
    QTreeWidget w;
    ArchiveTree t(&w, InstallerLook());
    EXPECT_TRUE(t.AddFileNode(Entry("Meshes", "x.nif"), "p.qvr.ifo"));
    const qvr::Result taken = t.AddFileNode(Entry("Meshes", "x.nif"), "p.qvr.ifo");
    EXPECT_EQ(taken.Code, qvr::Status::EntryFailed);
    EXPECT_NE(taken.Message.find("Meshes\\x.nif"), std::string::npos);
    EXPECT_TRUE(t.NodeExists("Meshes\\x.nif"));
    EXPECT_EQ(t.Node("Meshes")->childCount(), 1);

    // A file named like a folder node already in the tree fails too.
    EXPECT_FALSE(t.AddFileNode(Entry("", "Meshes"), "p.qvr.ifo").Ok());
    // The other order: the file node is taken as the parent of the folder's contents.
    EXPECT_TRUE(t.AddFileNode(Entry("", "Icons"), "p.qvr.ifo"));
    EXPECT_TRUE(t.AddFileNode(Entry("Icons", "i.dds"), "p.qvr.ifo"));
    EXPECT_EQ(t.Node("Icons\\i.dds")->parent(), t.Node("Icons"));
}

TEST(ArchiveTree, PackagerPutsTopLevelFilesRightAfterTheRoot) {
    QTreeWidget w;
    ArchiveTree t(&w, PackagerLook());
    t.AddNode(nullptr, "<root>", "<root>", "");
    t.AddNode(nullptr, "BookArt", "BookArt", "Folder");
    EXPECT_TRUE(t.AddFileNode(Entry("", "first.esp"), "p.qvr.ifo"));
    EXPECT_TRUE(t.AddFileNode(Entry("", "second.esp"), "p.qvr.ifo"));
    EXPECT_TRUE(t.AddFileNode(Entry("BookArt", "b.tga"), "p.qvr.ifo"));
    EXPECT_TRUE(t.AddFileNode(Entry("", "P.QVR.ifo"), "p.qvr.ifo"));
    EXPECT_EQ(Keys(nullptr, w), QStringList({"<root>", "second.esp", "first.esp", "BookArt"}));
    EXPECT_EQ(t.Node("BookArt\\b.tga")->data(0, ArchiveTree::ImageRole).toString(), "");
    EXPECT_TRUE(t.Node("first.esp")->icon(0).isNull());
    EXPECT_FALSE(t.Node("BookArt")->icon(0).isNull());
}

TEST(ArchiveTree, RemovingASubtreeRemovesEveryNodeBelowIt) {
    QTreeWidget w;
    ArchiveTree t(&w, InstallerLook());
    const std::pair<std::string, std::string> entries[] = {{"Meshes\\Armor", "helm.nif"},
                                                           {"Meshes\\Armor\\Deep", "d.nif"},
                                                           {"Meshes", "m.nif"},
                                                           {"Textures", "t.dds"},
                                                           {"", "plugin.esp"}};
    for (const auto& [folder, name] : entries)
        ASSERT_TRUE(t.AddFileNode(Entry(folder, name), "p.qvr.ifo"));

    t.RemoveNodeTree(t.Node("Meshes\\Armor\\helm.nif"));
    EXPECT_FALSE(t.NodeExists("Meshes\\Armor\\helm.nif"));
    EXPECT_TRUE(t.NodeExists("Meshes\\Armor"));
    t.RemoveNodeTree(t.Node("Meshes"));
    EXPECT_FALSE(t.NodeExists("Meshes"));
    EXPECT_FALSE(t.NodeExists("Meshes\\Armor\\Deep\\d.nif"));
    EXPECT_TRUE(t.NodeExists("Textures\\t.dds"));
    t.RemoveNodeTree(t.Node("Textures"));
    t.RemoveNodeTree(t.Node("plugin.esp"));
    EXPECT_EQ(w.topLevelItemCount(), 0);
    // The nodes' keys are free again.
    t.AddFolderNodes("Meshes");
    EXPECT_TRUE(t.NodeExists("Meshes"));
}

TEST(ArchiveTree, NodeOrderKeepsCreationOrder) {
    NodeOrder order;
    order.Append("<root>");
    order.Append("Meshes");
    order.Append("a.esp");
    order.Append("Meshes"); // already there: keeps its place
    EXPECT_EQ(order.Keys(), QStringList({"<root>", "Meshes", "a.esp"}));
    order.Remove("Meshes");
    order.Append("Meshes"); // made again: now the newest
    EXPECT_EQ(order.Keys(), QStringList({"<root>", "a.esp", "Meshes"}));
    order.Clear();
    EXPECT_TRUE(order.Keys().isEmpty());
}

TEST(ArchiveTree, KeepsTheOrderNodesWereMadeInAndRemovesAroundWhatStays) {
    QTreeWidget w;
    ArchiveTree t(&w, PackagerLook());
    t.AddNode(nullptr, "<root>", "<root>", "");
    t.AddNode(nullptr, "Meshes", "Meshes", "Folder");
    EXPECT_EQ(t.AddNode(nullptr, "Meshes", "Meshes", "Folder"), nullptr);
    ASSERT_TRUE(t.AddFileNode(Entry("Meshes\\Armor", "helm.nif"), "p.qvr.ifo").Ok());
    ASSERT_TRUE(t.AddFileNode(Entry("Meshes\\Armor", "boots.nif"), "p.qvr.ifo").Ok());
    ASSERT_TRUE(t.AddFileNode(Entry("Meshes", "m.nif"), "p.qvr.ifo").Ok());
    ASSERT_TRUE(t.AddFileNode(Entry("", "a.esp"), "p.qvr.ifo").Ok());
    EXPECT_EQ(t.KeysInOrder(),
              QStringList({"<root>", "Meshes", "Meshes\\Armor", "Meshes\\Armor\\helm.nif",
                           "Meshes\\Armor\\boots.nif", "Meshes\\m.nif", "a.esp"}));

    // What stays keeps the folders above it; everything else below the node goes.
    t.RemoveNodeTreeExcept(t.Node("Meshes"), {"Meshes\\Armor\\boots.nif"});
    EXPECT_EQ(t.KeysInOrder(), QStringList({"<root>", "Meshes", "Meshes\\Armor",
                                            "Meshes\\Armor\\boots.nif", "a.esp"}));
    EXPECT_EQ(t.Node("Meshes")->childCount(), 1);
    t.RemoveNodeTreeExcept(t.Node("Meshes"), {});
    EXPECT_FALSE(t.NodeExists("Meshes"));
    t.AddFolderNodes("Meshes");
    EXPECT_EQ(t.KeysInOrder().last(), "Meshes");
    t.Clear();
    EXPECT_TRUE(t.KeysInOrder().isEmpty());
}

// A name that steers text is shown with a replacement character; the node still names the
// entry as the package holds it.
TEST(ArchiveTree, ANameThatSteersTextIsShownReplacedAndKeptWhole) {
    QTreeWidget w;
    ArchiveTree t(&w, InstallerLook());
    const std::string name = "x\x1b[2J.esp";
    EXPECT_TRUE(t.AddFileNode(Entry("Meshes", name), "Pack.qvr.ifo"));
    QTreeWidgetItem* node = t.Node(QString::fromStdString("Meshes\\" + name));
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->text(0), QString("x") + QChar(0xFFFD) + "[2J.esp");
    EXPECT_EQ(ArchiveTree::NamePart(node).toStdString(), name);
}
