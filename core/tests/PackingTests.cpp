// Packing: what a folder on disk becomes, which files a package takes, how a package starts.

#include "TestSupport.h"
#include "WineSkip.h"
#include "qvr/format/PathRules.h"
#include "qvr/package/EntryIndex.h"
#include "qvr/package/Packing.h"

#include <algorithm>

using namespace qvrtest;

namespace {

class Packing : public ArchiveTest {
protected:
    std::vector<std::string> Keys(const std::vector<qvr::BatchFile>& files) const {
        std::vector<std::string> keys;
        for (const auto& f : files)
            keys.push_back(f.FilePath.empty() ? f.FileName : f.FilePath + "\\" + f.FileName);
        return keys;
    }
    // The problems of one kind, each as the name of what it is about below the test's folder.
    std::vector<std::string> Named(const qvr::Gathered& g, qvr::PackProblemKind kind) const {
        std::vector<std::string> names;
        for (const auto& p : g.Problems)
            if (p.Kind == kind)
                names.push_back(fs::path(p.Source).lexically_relative(dir).generic_string());
        return names;
    }
};

TEST_F(Packing, CheckFilesKeepsOnePlacePerFileAndNothingBelowAFile) {
    ASSERT_TRUE(arc.CreateArchive(Path("P.qvr")));
    for (const std::string key : {"Meshes\\a.nif", "Tower.esp", "Textures\\x\\y.dds"}) {
        const size_t cut = key.rfind('\\');
        const std::string folder = cut == std::string::npos ? "" : key.substr(0, cut);
        const std::string name = key.substr(cut == std::string::npos ? 0 : cut + 1);
        ASSERT_TRUE(Ok(arc.AddFileToArchive(Source(name, "bytes"), name, folder)));
    }
    struct Case {
        std::string folder, name;
        bool plain, withReplace; // taken without and with allowReplace
        std::string why;         // part of the message when refused
    };
    const std::vector<Case> cases = {
        {"Meshes", "b.nif", true, true, ""},
        {"MESHES", "A.NIF", false, true, "already holds " + qvr::ShownEntryPath("MESHES\\A.NIF")},
        {"Tower.esp", "t.tga", false, false, "Tower.esp is a file"},
        {"tower.esp\\deeper", "t.tga", false, false, "tower.esp is a file"},
        {"Textures", "X", false, false, "holds a folder"},
        {"", "p.QVR.ifo", false, false, "information entry"},
        {"", "Other.qvr.IFO", false, false, "information entry"},
        {"Docs", "Other.qvr.ifo", true, true, ""},
        {".QVR-installed", "r.ini", false, false, ".QVR-installed"},
        {"Meshes", "~qvr-batch-1-1.tmp", false, false, "~qvr-batch-1-1.tmp"},
        {"", "Data.QVR-Journal", false, false, "Data.QVR-Journal"},
        {"Meshes", std::string(255, 'n'), false, false, "254 bytes"},
        {"Meshes", "a\x01.nif", false, false, "control character"},
        {"Meshes", "\xE5\xA1\x94.nif", false, false, "Windows-1252"},
    };
    for (const bool replace : {false, true}) {
        std::vector<qvr::BatchFile> files;
        for (const Case& c : cases)
            files.push_back({"src:" + c.name, c.name, c.folder});
        std::vector<qvr::PackProblem> problems;
        const qvr::CheckedFiles out = qvr::CheckFiles(arc, "P.qvr.ifo", files, replace, problems);
        size_t taken = 0, refused = 0;
        for (const Case& c : cases) {
            const bool expected = replace ? c.withReplace : c.plain;
            const bool got = taken < out.Files.size() && out.Files[taken].FileName == c.name &&
                             out.Files[taken].FilePath == c.folder;
            EXPECT_EQ(got, expected) << c.folder << "\\" << c.name << " replace=" << replace;
            if (got) {
                EXPECT_EQ(out.Replaces[taken], !c.why.empty()) << c.name;
                ++taken;
            } else if (refused < problems.size()) {
                EXPECT_NE(problems[refused].Message.find(c.why), std::string::npos)
                    << problems[refused].Message;
                EXPECT_EQ(problems[refused].Source, "src:" + c.name);
                ++refused;
            }
        }
        EXPECT_EQ(taken + refused, cases.size());
    }

    // Within one batch: one file per place, and nothing below a file given earlier.
    std::vector<qvr::PackProblem> problems;
    const qvr::CheckedFiles out = qvr::CheckFiles(arc, "P.qvr.ifo",
                                                  {{"1", "n.nif", "New"},
                                                   {"2", "N.NIF", "new"},
                                                   {"3", "f", "New"},
                                                   {"4", "g.nif", "New\\f"},
                                                   {"5", "New", ""}},
                                                  true, problems);
    EXPECT_EQ(Keys(out.Files), std::vector<std::string>({"New\\n.nif", "New\\f"}));
    ASSERT_EQ(problems.size(), 3u);
    EXPECT_NE(problems[0].Message.find("another file given"), std::string::npos);
    // Paths in messages are written as the system writes them.
    EXPECT_NE(problems[1].Message.find(qvr::ShownEntryPath("New\\f") + " is a file"),
              std::string::npos);
    EXPECT_NE(problems[2].Message.find("holds a folder New"), std::string::npos);
}

TEST_F(Packing, AFolderIsGatheredInOneOrderWhateverTheDiskLists) {
    for (const std::string name : {"Mod/a/b.nif", "Mod/a.b/c.nif", "Mod/a/Z/d.nif", "Mod/top.esp",
                                   "Mod/B.esp", "Mod/a/C.nif"})
        WriteAll(Path(name), "x");
    qvr::Gathered g;
    qvr::GatherFolder(Path("Mod"), "Data", {}, "", g);
    EXPECT_TRUE(g.Problems.empty());
    // Folder by folder, their texts ignoring letter case, then names within a folder.
    EXPECT_EQ(Keys(g.Files), std::vector<std::string>({"Data\\B.esp", "Data\\top.esp",
                                                       "Data\\a\\b.nif", "Data\\a\\C.nif",
                                                       "Data\\a.b\\c.nif", "Data\\a\\Z\\d.nif"}));
}

TEST_F(Packing, LinksOutsideTheFolderAreRefusedUnlessFollowed) {
    QVR_SKIP_ON_WINE("Wine cannot make symbolic links");
    WriteAll(Path("Mod/Meshes/real.nif"), "real");
    WriteAll(Path("secret/key"), "private");
    WriteAll(Path("elsewhere/t.dds"), "texture");
    WriteAll(Path("Mod/.qvr-installed/planted.ini"), "x");
    fs::create_symlink(Path("Mod/Meshes/real.nif"), Path("Mod/Meshes/inside.nif"));
    fs::create_symlink(Path("secret/key"), Path("Mod/Meshes/key.nif"));
    fs::create_symlink(Path("elsewhere"), Path("Mod/Textures"));
    fs::create_directory_symlink(Path("Mod/Meshes"), Path("Mod/Copy"));
    fs::create_directory_symlink(Path("Mod"), Path("Mod/Meshes/up"));
    fs::create_symlink(Path("nowhere"), Path("Mod/dangling.esp"));
    const std::string archive = Path("Mod/Mod.qvr");
    WriteAll(archive, "the package being written");

    for (const bool follow : {false, true}) {
        qvr::Gathered g;
        qvr::PackOptions options;
        options.FollowLinks = follow;
        qvr::GatherFolder(Path("Mod"), "", options, archive, g);
        std::vector<std::string> expected = {"Copy\\inside.nif", "Copy\\real.nif",
                                             "Meshes\\inside.nif", "Meshes\\real.nif"};
        if (follow)
            expected = {"Copy\\inside.nif",   "Copy\\key.nif",   "Copy\\real.nif",
                        "Meshes\\inside.nif", "Meshes\\key.nif", "Meshes\\real.nif",
                        "Textures\\t.dds"};
        EXPECT_EQ(Keys(g.Files), expected) << "follow=" << follow;
        std::vector<std::string> outside = Named(g, qvr::PackProblemKind::LinkOutside);
        std::sort(outside.begin(), outside.end());
        EXPECT_EQ(outside, follow
                               ? std::vector<std::string>()
                               : std::vector<std::string>(
                                     {"Mod/Copy/key.nif", "Mod/Meshes/key.nif", "Mod/Textures"}));
        std::vector<std::string> loops = Named(g, qvr::PackProblemKind::LeftOut);
        std::sort(loops.begin(), loops.end());
        EXPECT_EQ(loops, std::vector<std::string>({"Mod/Copy/up", "Mod/Meshes/up"}));
        EXPECT_EQ(Named(g, qvr::PackProblemKind::Refused),
                  std::vector<std::string>({"Mod/.qvr-installed"}));
        EXPECT_EQ(Named(g, qvr::PackProblemKind::Unreadable),
                  std::vector<std::string>({"Mod/dangling.esp"}));
    }
}

TEST_F(Packing, AFolderThatCannotBeReadIsNamedAndTheRestGathered) {
    WriteAll(Path("Mod/a.esp"), "a");
    WriteAll(Path("Mod/Meshes/m.nif"), "m");
    WriteAll(Path("Mod/Sound/s.wav"), "s");
    // The walk opens Mod, then its folders in the disk's order: make the second open fail.
    qvr::Gathered g;
    qvr::testhooks::ArmFault(2, qvr::testhooks::FaultMode::Once);
    qvr::GatherFolder(Path("Mod"), "", {}, "", g);
    qvr::testhooks::ArmFault(0, qvr::testhooks::FaultMode::Once);
    ASSERT_EQ(g.Problems.size(), 1u);
    EXPECT_TRUE(g.Has(qvr::PackProblemKind::Unreadable));
    const std::string lost = fs::path(g.Problems[0].Source).filename().string();
    EXPECT_TRUE(lost == "Meshes" || lost == "Sound") << g.Problems[0].Message;
    EXPECT_NE(g.Problems[0].Message.find("cannot be read"), std::string::npos);
    EXPECT_EQ(g.Files.size(), 2u);
}

TEST_F(Packing, AStartedPackageHoldsItsDetailsWithThePinnedDates) {
    qvr::PackDates dates;
    dates.Today = "01/02/70";
    dates.ArchiveDate = "01/02/70 10:17:36";
    dates.Pinned = true;
    dates.Epoch = 123456;
    ASSERT_TRUE(arc.CreateArchive(Path("Tower.qvr")));
    const qvr::sgPlugInfo info = qvr::NewPackageInfo("Tower.qvr", dates);
    ASSERT_TRUE(Ok(qvr::StartPackage(arc, "Tower.qvr", info, dates)));
    ASSERT_EQ(arc.ArchiveFiles.size(), 1u);
    EXPECT_EQ(arc.ArchiveFiles[0].FileName(), "Tower.qvr.ifo");
    EXPECT_EQ(arc.ArchiveFiles[0].FileArchiveDate(), dates.ArchiveDate);
    EXPECT_NE(arc.ArchiveFiles[0].FileDate().find("1970"), std::string::npos)
        << arc.ArchiveFiles[0].FileDate();
    qvr::sgPlugInfo read;
    ASSERT_TRUE(Ok(read.GetPluginData(arc, "Tower.qvr")));
    EXPECT_EQ(read.PluginName(), "Tower.qvr");
    EXPECT_EQ(read.Version(), "1.0");
    EXPECT_EQ(read.LastUpdated(), "01/02/70");
    EXPECT_EQ(WorkFilesLeft(), 0u);

    EXPECT_EQ(qvr::InfoEntryNameProblem("Tower.qvr"), "");
    EXPECT_NE(qvr::InfoEntryNameProblem(std::string(251, 'a')).find("254"), std::string::npos);
    EXPECT_NE(qvr::InfoEntryNameProblem("\xE5\xA1\x94.qvr").find("Windows-1252"),
              std::string::npos);
}

} // namespace

// The index answers as Archives::FindEntry does, for every way a name may be spelt.
TEST(EntryIndex, FindsWhatFindEntryFinds) {
    auto entry = [](const std::string& folder, const std::string& name, int size) {
        qvr::sgFileInfo e;
        e.FilePath(folder);
        e.FileName(name);
        e.FileSize(size);
        return e;
    };
    const std::vector<qvr::sgFileInfo> list = {
        entry("Meshes", "Rock.nif", 1),
        entry("MESHES", "rock.NIF", 2),
        entry("a\\b", "c", 3),
        entry("", "Tower.esp", 4),
        entry("Textures", "\xC3\x89t\xC3\xA9.dds", 5),
    };
    const qvr::EntryIndex index(list);
    struct Case {
        std::string folder, name;
        int size; // of the entry found; 0 for none
    } cases[] = {
        {"meshes", "rock.nif", 1}, // the first of two that fold alike
        {"Meshes", "Rock.nif", 1},
        {"a\\b", "C", 3},
        {"a", "b\\c", 0}, // the same text, split otherwise
        {"", "tower.ESP", 4},
        {"Tower.esp", "", 0},
        {"textures", "\xC3\xA9T\xC3\x89.DDS", 5},
        {"Meshes", "Rock.ni", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder + " | " + c.name);
        const qvr::sgFileInfo* found = index.Find(c.name, c.folder);
        EXPECT_EQ(found ? found->FileSize() : 0, c.size);
    }
}
