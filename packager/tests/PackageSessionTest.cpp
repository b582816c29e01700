// The package operations without any window.

#include "PackageSession.h"
#include "PackagerFixture.h"
#include "PackagerLogic.h"
#include "qvr/platform/FileUtils.h"
#include "qvr/platform/detail/TestHooks.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace shared_windows;

using packager::OpenStatus;
using packager::PackageSession;

namespace {

// A zip file with a folder entry and one stored member, "Textures/t.tga".
QByteArray SmallZip() {
    QByteArray zip;
    auto le16 = [&](int v) { zip.append(char(v & 0xff)).append(char((v >> 8) & 0xff)); };
    auto le32 = [&](int v) { le16(v & 0xffff), le16((v >> 16) & 0xffff); };
    const QByteArray folder = "Textures/", name = "Textures/t.tga", data = "0123456789";
    zip.append("PK\x03\x04", 4);
    le16(20), le16(0), le16(0), le16(0), le16(0), le32(0);
    le32(0), le32(0), le16(int(folder.size())), le16(0);
    zip.append(folder);
    zip.append("PK\x03\x04", 4);
    le16(20), le16(0), le16(0), le16(0), le16(0), le32(0);
    le32(int(data.size())), le32(int(data.size())), le16(int(name.size())), le16(0);
    zip.append(name).append(data);
    zip.append("PK\x01\x02", 4);
    zip.append(QByteArray(42, '\0'));
    return zip;
}

class SessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        QDir().mkpath(dir.filePath("work"));
        arc.TempFolder =
            QDir::toNativeSeparators(dir.filePath("work")).toStdString() + qvr::NativeSeparator();
        session = std::make_unique<PackageSession>(arc);
    }
    QString Path(const QString& name) const { return dir.filePath(name); }
    QString Write(const QString& name, const QByteArray& content) const {
        QFile f(Path(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
        return Path(name);
    }
    QStringList Keys() const {
        QStringList keys;
        for (const qvr::sgFileInfo& e : arc.ArchiveFiles)
            if (!arc.IsInfoEntry(e))
                keys << packager::EntryKey(e);
        return keys;
    }
    OpenStatus StatusOf(const QString& path) const {
        qvr::Archives read;
        read.TempFolder = arc.TempFolder;
        return packager::ReadPackage(read, path.toStdString());
    }

    QTemporaryDir dir;
    qvr::Archives arc;
    std::unique_ptr<PackageSession> session;
};

} // namespace

TEST_F(SessionTest, OpenTellsEveryKindOfFileApart) {
    ASSERT_TRUE(session->New(Path("Full.qvr")).Ok());
    ASSERT_TRUE(session->Add(Write("a.esp", "plug-in"), "a.esp", "").Ok());
    EXPECT_EQ(StatusOf(Path("Full.qvr")), OpenStatus::Complete);
    qvr::Archives bare;
    bare.TempFolder = arc.TempFolder;
    ASSERT_TRUE(bare.CreateArchive(Path("Empty.qvr").toStdString()));
    EXPECT_EQ(StatusOf(Path("Empty.qvr")), OpenStatus::Empty);
    // The header of an empty package but a directory position that points nowhere.
    EXPECT_EQ(StatusOf(Write("Cut.qvr", QByteArray("QVR1.0\x05\0\0\0", 10))), OpenStatus::Partial);
    EXPECT_EQ(StatusOf(Write("Notes.txt", "just text")), OpenStatus::NotArchive);
    EXPECT_EQ(StatusOf(Path("Missing.qvr")), OpenStatus::NotArchive);
    const QByteArray zip = SmallZip();
    EXPECT_EQ(StatusOf(Write("Mod.zip", zip)), OpenStatus::Zip);
}

TEST_F(SessionTest, NewAndOpenReplaceThePackageOnlyWhenTheyWork) {
    const qvr::Result made = session->New(Path("First"));
    ASSERT_TRUE(made.Ok()) << made.Message;
    EXPECT_TRUE(session->IsOpen());
    EXPECT_FALSE(session->ReadOnly());
    EXPECT_EQ(session->Title(), "First.qvr");
    EXPECT_EQ(arc.PluginInfo.PluginName(), "First.qvr");
    EXPECT_EQ(arc.PluginInfo.Version(), "1.0");

    // An existing file is never made over.
    const qvr::Result again = session->New(Path("First.qvr"));
    EXPECT_EQ(again.Code, qvr::Status::EntryFailed);
    EXPECT_NE(again.Message.find("already exists"), std::string::npos);

    const qvr::Result bad = session->Open(Write("Cut.qvr", QByteArray("QVR1.0\x05\0\0\0", 10)));
    EXPECT_EQ(bad.Code, qvr::Status::ArchiveUnusable);
    EXPECT_NE(bad.Message.find(" cannot be opened."), std::string::npos);
    const qvr::Result missing = session->Open(Path("Missing.qvr"));
    EXPECT_EQ(missing.Code, qvr::Status::ArchiveUnusable);
    EXPECT_EQ(session->Title(), "First.qvr");

    // A package without details opens, saying why they are shown empty.
    qvr::Archives bare;
    bare.TempFolder = arc.TempFolder;
    ASSERT_TRUE(bare.CreateArchive(Path("Bare.qvr").toStdString()));
    QString notice;
    ASSERT_TRUE(session->Open(Path("Bare.qvr"), &notice).Ok());
    EXPECT_EQ(session->Title(), "Bare.qvr");
    EXPECT_TRUE(notice.contains("holds no plug-in details")) << notice.toStdString();
    EXPECT_EQ(session->FileCount(), 0);
    ASSERT_TRUE(session->Open(Path("First.qvr"), &notice).Ok());
    EXPECT_TRUE(notice.isEmpty());
}

TEST_F(SessionTest, AddRefusesTakenPlacesAndKeepsThePackageWhole) {
    ASSERT_TRUE(session->New(Path("P.qvr")).Ok());
    const QString source = Write("Armor.nif", QByteArray(500, 'a'));
    ASSERT_TRUE(session->Add(source, "Armor.nif", "Meshes").Ok());
    EXPECT_EQ(session->CanAdd("armor.NIF", "Meshes").Code, qvr::Status::EntryFailed);
    EXPECT_TRUE(session->CanAdd("Armor.nif", "").Ok());
    EXPECT_EQ(session->Add(source, "P.QVR.ifo", "").Code, qvr::Status::EntryFailed);

    const qvr::Result unreadable = session->Add(Path("nothing.nif"), "nothing.nif", "Meshes");
    EXPECT_EQ(unreadable.Code, qvr::Status::EntryFailed);
    EXPECT_NE(unreadable.Message.find("could not be added"), std::string::npos);
    EXPECT_EQ(Keys(), QStringList({"Meshes\\Armor.nif"}));
    EXPECT_EQ(session->FileCount(), 1);
    EXPECT_EQ(session->FileSize(), qvr::FileLength(arc.CurrentArchive).value_or(-1));
}

TEST_F(SessionTest, RemoveSubtreeTakesEverythingBelowAndKeepsWhatFails) {
    ASSERT_TRUE(session->New(Path("P.qvr")).Ok());
    const QString source = Write("x.bin", QByteArray(300, 'x'));
    for (const QString key :
         {"a.esp", "Meshes\\m.nif", "Meshes\\Armor\\h.nif", "Meshes2\\n.nif", "Textures\\t.dds"})
        ASSERT_TRUE(session->Add(source, packager::LastLevel(key), packager::FolderPart(key)).Ok());

    ASSERT_TRUE(session->RemoveSubtree("Meshes").Ok());
    EXPECT_EQ(Keys(), QStringList({"a.esp", "Meshes2\\n.nif", "Textures\\t.dds"}));
    ASSERT_TRUE(session->RemoveSubtree("a.esp").Ok());
    EXPECT_EQ(Keys(), QStringList({"Meshes2\\n.nif", "Textures\\t.dds"}));

    QSet<QString> kept;
    qvr::testhooks::FailNextReplace = true;
    const qvr::Result failed = session->RemoveSubtree("Meshes2", &kept);
    EXPECT_EQ(failed.Code, qvr::Status::EntryFailed);
    EXPECT_NE(failed.Message.find("Meshes2\\n.nif"), std::string::npos);
    EXPECT_EQ(kept, QSet<QString>({"Meshes2\\n.nif"}));
    EXPECT_EQ(Keys(), QStringList({"Meshes2\\n.nif", "Textures\\t.dds"}));
    // The info entry is no file of the package and stays.
    EXPECT_TRUE(arc.FindEntry(arc.InfoEntryName(), ""));
}

TEST_F(SessionTest, DetailsAreWrittenAndReadBack) {
    ASSERT_TRUE(session->New(Path("P.qvr")).Ok());
    qvr::sgPlugInfo info = arc.PluginInfo;
    info.Authors("Anne\r\nBob");
    info.Version("2.0");
    ASSERT_TRUE(session->UpdateDetails(info).Ok());

    qvr::Archives other;
    PackageSession reader(other);
    ASSERT_TRUE(reader.Open(Path("P.qvr")).Ok());
    EXPECT_EQ(other.PluginInfo.Authors(), "Anne\r\nBob");
    EXPECT_EQ(other.PluginInfo.Version(), "2.0");
}

TEST_F(SessionTest, AZipFileOpensReadOnlyAndTakesNoChanges) {
    const QByteArray zip = SmallZip();
    const QString path = Write("Mod.zip", zip);
    ASSERT_TRUE(session->Open(path).Ok());
    EXPECT_TRUE(session->ReadOnly());
    EXPECT_EQ(session->Add(Write("a.esp", "x"), "a.esp", "").Code, qvr::Status::ArchiveUnusable);
    EXPECT_EQ(session->RemoveSubtree("a.esp").Code, qvr::Status::ArchiveUnusable);
    EXPECT_EQ(session->UpdateDetails(arc.PluginInfo).Code, qvr::Status::ArchiveUnusable);
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), zip);
}
