// qvr create, add, remove and set-info run as a program: what they leave in the archive.

#include "ToolTestSupport.h"

#ifdef __linux__
#include <locale.h>
#endif

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

using namespace tooltest;

TEST_F(Tool, PackagesDoNotDependOnThreadsAndReadLikeTheLibrarysOwn) {
    MakePlugin("plugin");
    SetEnv("SOURCE_DATE_EPOCH", "1700000000");
    fs::create_directories(dir / "j1");
    fs::create_directories(dir / "j2");
    ASSERT_EQ(Run({"create", "-j", "1", P("j1/p.qvr"), P("plugin")}).Code, 0);
    // A second later, so that no date taken from the clock could go unnoticed.
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    ASSERT_EQ(Run({"-q", "create", "-j2", P("j2/p.qvr"), P("plugin")}).Code, 0);
    const std::string one = ReadAll(dir / "j1" / "p.qvr");
    EXPECT_EQ(ReadAll(dir / "j2" / "p.qvr"), one);

    // The same package built through the library's own calls, as the packager makes it.
    qvr::Archives made = Opened(P("j1/p.qvr"));
    qvr::sgPlugInfo info;
    ASSERT_TRUE(info.GetPluginData(made, "p.qvr"));
    EXPECT_EQ(info.PluginName(), "p.qvr");
    fs::create_directories(dir / "lib" / "tmp");
    qvr::Archives lib;
    lib.TempFolder = P("lib/tmp/");
    ASSERT_TRUE(lib.CreateArchive(P("lib/p.qvr")));
    ASSERT_TRUE(info.SavePluginData(lib, "p.qvr"));
    for (size_t i = 1; i < made.ArchiveFiles.size(); ++i) {
        const auto& e = made.ArchiveFiles[i];
        std::string rel = e.FilePath();
        for (char& c : rel)
            c = c == '\\' ? '/' : c;
        fs::path source = dir / "plugin" / fs::path(std::u8string(rel.begin(), rel.end())) /
                          fs::path(std::u8string(e.FileName().begin(), e.FileName().end()));
        std::string s = source.string();
        const qvr::Result added = lib.AddFileToArchive(s, e.FileName(), e.FilePath());
        ASSERT_TRUE(added) << added.Message;
    }
    qvr::Archives back = Opened(P("lib/p.qvr"));
    ASSERT_EQ(back.ArchiveFiles.size(), made.ArchiveFiles.size());
    for (size_t i = 0; i < made.ArchiveFiles.size(); ++i) {
        qvr::sgFileInfo a = made.ArchiveFiles[i], b = back.ArchiveFiles[i];
        // Only the moments of packing differ (and the info work file's own time).
        a.FileArchiveDate("");
        b.FileArchiveDate("");
        if (i == 0) {
            a.FileDate("");
            b.FileDate("");
        }
        EXPECT_EQ(a, b) << i;
    }
    const std::string theirs = ReadAll(dir / "lib" / "p.qvr");
    const size_t blocks = static_cast<size_t>(back.ArchiveFiles.back().FileOffset() +
                                              back.ArchiveFiles.back().FileCompressedSize() - 1);
    EXPECT_EQ(one.substr(0, blocks), theirs.substr(0, blocks));
}

TEST_F(Tool, CreateNeverReplacesAFileUnlessForcedAndNeverPacksItself) {
    MakePlugin("plugin");
    WriteAll(dir / "mod.qvr", "precious");
    Result r = Run({"create", P("mod.qvr"), P("plugin")});
    EXPECT_EQ(r.Code, 2);
    EXPECT_TRUE(Contains(r.Err, "mod.qvr")) << r.Err;
    EXPECT_TRUE(Contains(r.Err, "--force")) << r.Err;
    EXPECT_EQ(ReadAll(dir / "mod.qvr"), "precious");

    EXPECT_EQ(Run({"create", "--force", P("mod.qvr"), P("plugin")}).Code, 0);
    EXPECT_EQ(Opened(P("mod.qvr")).ArchiveFiles.size(), 7u);

    r = Run({"create", P("other.qvr"), P("no such folder")});
    EXPECT_EQ(r.Code, 2);
    EXPECT_TRUE(Contains(r.Err, "no such folder")) << r.Err;
    EXPECT_FALSE(fs::exists(dir / "other.qvr"));

    // An archive written inside the folder it packs does not end up inside itself.
    WriteAll(dir / "plugin" / "self.qvr", "old");
    EXPECT_EQ(Run({"create", "-f", P("plugin/self.qvr"), P("plugin")}).Code, 0);
    EXPECT_EQ(Opened(P("plugin/self.qvr")).ArchiveFiles.size(), 7u);
    // And no work file is left beside it.
    for (auto& e : fs::directory_iterator(dir))
        EXPECT_EQ(e.path().filename().string().find(".part"), std::string::npos) << e.path();
    for (auto& e : fs::directory_iterator(dir / "plugin"))
        EXPECT_EQ(e.path().filename().string().find(".part"), std::string::npos) << e.path();
    for (auto& e : fs::recursive_directory_iterator(dir))
        EXPECT_EQ(e.path().filename().string().find("~qvr-"), std::string::npos) << e.path();
}

#ifndef _WIN32
// Standard output sent into the folder it packs: that file is left out as a package named there
// is, and the package written through it is whole.
TEST_F(Tool, CreateToStandardOutputInsideTheFolderLeavesThatFileOut) {
    MakePlugin("plugin");
    const std::string command = Quote(QVR_EXE) + " create - " + Quote(P("plugin")) + " > " +
                                Quote(P("plugin/out.qvr")) + " 2> " + Quote(P("err.txt"));
    const int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << ReadAll(dir / "err.txt");
    EXPECT_EQ(Opened(P("plugin/out.qvr")).ArchiveFiles.size(), 7u);
}
#endif

TEST_F(Tool, AddAndRemoveChangeOnlyWhatTheyName) {
    WriteAll(dir / "base" / "Mod.esp", "esp");
    ASSERT_EQ(Run({"create", P("m.qvr"), P("base")}).Code, 0);
    WriteAll(dir / "a.nif", "aaa");
    WriteAll(dir / "b.nif", "bbb");
    WriteAll(dir / "extra" / "deep" / "c.dds", "ccc");
    Result r = Run({"add", P("m.qvr"), "--folder", "Meshes/sub", P("a.nif"), P("b.nif")});
    ASSERT_EQ(r.Code, 0) << r.Err;
    ASSERT_EQ(Run({"add", P("m.qvr"), "--folder", "Textures", P("extra")}).Code, 0);
    r = Run({"add", P("m.qvr"), "--folder", "meshes\\SUB", P("a.nif")});
    EXPECT_EQ(r.Code, 1);
    EXPECT_TRUE(Contains(r.Err, "already holds")) << r.Err;

    qvr::Archives arc = Opened(P("m.qvr"));
    std::vector<std::string> paths;
    for (const auto& e : arc.ArchiveFiles)
        paths.push_back(e.FilePath() + "|" + e.FileName());
    EXPECT_EQ(paths,
              (std::vector<std::string>{"|m.qvr.ifo", "|Mod.esp", "Meshes\\sub|a.nif",
                                        "Meshes\\sub|b.nif", "Textures\\extra\\deep|c.dds"}));

    // The library's own removal, one entry at a time, gives the very same bytes.
    fs::create_directories(dir / "lib");
    fs::copy_file(dir / "m.qvr", dir / "lib" / "m.qvr");
    qvr::Archives lib = Opened(P("lib/m.qvr"));
    ASSERT_TRUE(lib.RemoveEntry("a.nif", "Meshes\\sub"));
    ASSERT_TRUE(lib.RemoveEntry("b.nif", "Meshes\\sub"));
    r = Run({"remove", P("m.qvr"), "meshes/Sub"});
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(ReadAll(dir / "m.qvr"), ReadAll(dir / "lib" / "m.qvr"));
    r = Run({"remove", P("m.qvr"), "Nothing\\here.nif", "m.qvr.ifo"});
    EXPECT_EQ(r.Code, 1);
    EXPECT_TRUE(Contains(r.Err, Shown("Nothing/here.nif"))) << r.Err;
    EXPECT_TRUE(Contains(r.Err, "set-info")) << r.Err;
    EXPECT_EQ(Run({"remove", P("m.qvr"), "Textures/extra/deep/c.dds"}).Code, 0);

    arc = Opened(P("m.qvr"));
    ASSERT_EQ(arc.ArchiveFiles.size(), 2u);
    EXPECT_EQ(arc.ArchiveFiles[1].FileName(), "Mod.esp");
    EXPECT_EQ(Run({"verify", P("m.qvr")}).Code, 0);
    ASSERT_TRUE(arc.ExtractEntry(arc.ArchiveFiles[1], P("out.esp"), false));
    EXPECT_EQ(ReadAll(dir / "out.esp"), "esp");

    // A folder given as "." or ".." is added below its real name.
    r = Run({"add", P("m.qvr"), "--folder", "Textures", P("extra/deep/.")});
    EXPECT_EQ(r.Code, 0) << r.Err;
    r = Run({"add", P("m.qvr"), "--folder", "Sound", P("extra/deep/..")});
    EXPECT_EQ(r.Code, 0) << r.Err;
    arc = Opened(P("m.qvr"));
    ASSERT_EQ(arc.ArchiveFiles.size(), 4u);
    EXPECT_EQ(arc.ArchiveFiles[2].FilePath(), "Textures\\deep");
    EXPECT_EQ(arc.ArchiveFiles[3].FilePath(), "Sound\\extra\\deep");
}

// "Été.esp" and "été.esp" are one file to the game on Windows, as "Ærø" and "æRØ" are.
TEST_F(Tool, NamesThatDifferInTheCaseOfAccentedLettersAreOneName) {
    auto U8 = [&](const std::string& rel) {
        return dir / fs::path(std::u8string(rel.begin(), rel.end()));
    };
    WriteAll(U8("plugin/\xC3\x89t\xC3\xA9.esp"), "upper");
    WriteAll(U8("plugin/\xC3\xA9t\xC3\xA9.esp"), "lower");
    WriteAll(U8("plugin/Meshes/\xC3\x86r\xC3\xB8.nif"), "mesh");
    Result r = Run({"create", P("m.qvr"), P("plugin")});
#ifdef _WIN32
    // The Windows file system holds the two spellings as one file: nothing to refuse.
    EXPECT_EQ(r.Code, 0) << r.Err;
#else
    EXPECT_EQ(r.Code, 1) << r.Err;
    EXPECT_TRUE(Contains(r.Err, "not added")) << r.Err;
#endif
    EXPECT_EQ(Opened(P("m.qvr")).ArchiveFiles.size(), 3u);

    WriteAll(U8("other/\xC3\xA6R\xC3\x98.nif"), "another mesh");
    r = Run({"add", P("m.qvr"), "--folder", "MESHES", P("other/\xC3\xA6R\xC3\x98.nif")});
    EXPECT_EQ(r.Code, 1) << r.Err;
    EXPECT_EQ(Opened(P("m.qvr")).ArchiveFiles.size(), 3u);

    r = Run({"remove", P("m.qvr"), "\xC3\x89T\xC3\x89.ESP", "meshes/\xC3\xA6R\xC3\x98.NIF"});
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(Opened(P("m.qvr")).ArchiveFiles.size(), 1u);

    // An archive that holds both spellings (stored in Windows-1252) fails verification.
    WriteAll(dir / "two.qvr", RawArchive({{"", "two.qvr.ifo", std::string(6, '\0')},
                                          {"", "\xC9t\xE9.esp", "upper"},
                                          {"", "\xE9t\xE9.esp", "lower"}}));
    r = Run({"verify", P("two.qvr")});
    EXPECT_EQ(r.Code, 1) << r.Out;
    EXPECT_TRUE(Contains(r.Out, "more than once")) << r.Out;
}

TEST_F(Tool, SetInfoChangesTheGivenFieldsInOneInfoEntry) {
    WriteAll(dir / "base" / "Mod.esp", "esp");
    ASSERT_EQ(Run({"create", P("m.qvr"), "--authors", "Ann", P("base")}).Code, 0);
    WriteAll(dir / "n.txt", "one\ntwo");
    Result r = Run({"set-info", P("m.qvr"), "--version", "2.0", "--notes-file", P("n.txt")});
    ASSERT_EQ(r.Code, 0) << r.Err;
    qvr::Archives arc = Opened(P("m.qvr"));
    ASSERT_EQ(arc.ArchiveFiles.size(), 2u);
    EXPECT_TRUE(arc.IsInfoEntry(arc.ArchiveFiles[1]));
    qvr::sgPlugInfo info;
    ASSERT_TRUE(info.GetPluginData(arc, "m.qvr"));
    EXPECT_EQ(info.Version(), "2.0");
    EXPECT_EQ(info.Authors(), "Ann");
    EXPECT_EQ(info.PluginName(), "m.qvr");
    EXPECT_EQ(info.Notes(), "one\r\ntwo");

    EXPECT_EQ(Run({"set-info", P("m.qvr")}).Code, 2);
    r = Run({"set-info", P("m.qvr"), "--name", "\xE5\x90\x8D"});
    EXPECT_EQ(r.Code, 2);
    EXPECT_TRUE(Contains(r.Err, "Windows-1252")) << r.Err;
    EXPECT_EQ(Run({"info", P("m.qvr")}).Out.find("2.0") != std::string::npos, true);
}

// A package renamed by version keeps its details for every command, never installs its
// information entry, and set-info renames that entry after the file.
TEST_F(Tool, RenamedPackageKeepsItsDetails) {
    WriteAll(dir / "base" / "Mod.esp", "esp");
    ASSERT_EQ(Run({"create", P("Mod.qvr"), "--version", "1.1", P("base")}).Code, 0);
    fs::copy_file(dir / "Mod.qvr", dir / "Mod 1.1.qvr");
    Result r = Run({"info", P("Mod 1.1.qvr")});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_TRUE(Contains(r.Out, "1.1")) << r.Out;
    const size_t files = r.Out.find("Files:");
    ASSERT_NE(files, std::string::npos) << r.Out;
    EXPECT_EQ(r.Out.substr(r.Out.find_first_not_of(' ', files + 6), 2), "1\n") << r.Out;
    EXPECT_EQ(Run({"verify", P("Mod 1.1.qvr")}).Code, 0);
    r = Run({"install", P("Mod 1.1.qvr"), P("data")});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_TRUE(fs::exists(dir / "data" / "Mod.esp"));
    EXPECT_FALSE(fs::exists(dir / "data" / "Mod.qvr.ifo"));

    r = Run({"set-info", P("Mod 1.1.qvr"), "--version", "1.2"});
    ASSERT_EQ(r.Code, 0) << r.Err;
    qvr::Archives arc = Opened(P("Mod 1.1.qvr"));
    ASSERT_EQ(arc.ArchiveFiles.size(), 2u);
    EXPECT_EQ(arc.ArchiveFiles[1].FileName(), "Mod 1.1.qvr.ifo");
    qvr::sgPlugInfo info;
    ASSERT_TRUE(info.GetPluginData(arc, "Mod 1.1.qvr"));
    EXPECT_EQ(info.Version(), "1.2");

    // Two candidates, as another packer may write them (add refuses the second): none is the
    // information, and info says why.
    WriteAll(dir / "Other.qvr.ifo", std::string(6, '\0'));
    r = Run({"add", P("Mod.qvr"), P("Other.qvr.ifo")});
    EXPECT_EQ(r.Code, 1);
    EXPECT_TRUE(Contains(r.Err, "information entry")) << r.Err;
    qvr::Archives mod = Opened(P("Mod.qvr"));
    ASSERT_TRUE(mod.AddFileToArchive(P("Other.qvr.ifo"), "Other.qvr.ifo", ""));
    fs::copy_file(dir / "Mod.qvr", dir / "Both.qvr");
    r = Run({"info", P("Both.qvr")});
    EXPECT_EQ(r.Code, 1);
    EXPECT_TRUE(Contains(r.Err, "none named after itself")) << r.Err;
}

TEST_F(Tool, AddReplaceSwapsEntriesThatExistAndOnlyWithIt) {
    WriteAll(dir / "base" / "Mod.esp", "esp");
    WriteAll(dir / "base" / "Meshes" / "a.nif", "old mesh");
    ASSERT_EQ(Run({"create", P("m.qvr"), P("base")}).Code, 0);
    WriteAll(dir / "new" / "A.NIF", "new mesh");
    WriteAll(dir / "new" / "b.nif", "another");

    // Without --replace a name the archive holds stays an error, and nothing changes.
    const std::string before = ReadAll(dir / "m.qvr");
    Result r = Run({"add", P("m.qvr"), "--folder", "meshes", P("new/A.NIF")});
    EXPECT_EQ(r.Code, 1);
    EXPECT_TRUE(Contains(r.Err, "already holds")) << r.Err;
    EXPECT_EQ(ReadAll(dir / "m.qvr"), before);

    r = Run({"add", P("m.qvr"), "--replace", "--folder", "Meshes", P("new/A.NIF"), P("new/b.nif")});
    EXPECT_EQ(r.Code, 0) << r.Err;
    qvr::Archives arc = Opened(P("m.qvr"));
    std::vector<std::string> paths;
    for (const auto& e : arc.ArchiveFiles)
        paths.push_back(e.FilePath() + "|" + e.FileName());
    EXPECT_EQ(paths,
              (std::vector<std::string>{"|m.qvr.ifo", "|Mod.esp", "Meshes|A.NIF", "Meshes|b.nif"}));
    ASSERT_TRUE(arc.ExtractEntry(arc.ArchiveFiles[2], P("out.nif"), false));
    EXPECT_EQ(ReadAll(dir / "out.nif"), "new mesh");
    // The replaced block is gone, not left behind as dead bytes.
    EXPECT_EQ(Run({"verify", P("m.qvr")}).Code, 0);
    int64_t blocks = 0;
    for (const auto& e : arc.ArchiveFiles)
        blocks += e.FileCompressedSize();
    EXPECT_LT(static_cast<int64_t>(fs::file_size(dir / "m.qvr")), 11 + blocks + 400);

    // The information entry is still set-info's alone; a name given twice is still refused.
    WriteAll(dir / "m.qvr.ifo", "not information");
    r = Run({"add", P("m.qvr"), "-r", P("m.qvr.ifo"), P("new/b.nif"), P("new/b.nif")});
    EXPECT_EQ(r.Code, 1);
    EXPECT_TRUE(Contains(r.Err, "m.qvr.ifo")) << r.Err;
    EXPECT_TRUE(Contains(r.Err, "b.nif: not added")) << r.Err;
    EXPECT_EQ(Opened(P("m.qvr")).ArchiveFiles.size(), 5u);
}

#ifndef _WIN32 // links as a player's Linux disk has them
TEST_F(Tool, PackingRefusesLinksOutOwnNamesAndKeepsTheOldPackageWhenASourceIsUnread) {
    WriteAll(dir / "mod" / "Meshes" / "a.nif", "mesh");
    WriteAll(dir / "private" / "id_rsa", "PRIVATE KEY");
    fs::create_symlink(dir / "private" / "id_rsa", dir / "mod" / "Meshes" / "key.nif");
    fs::create_directory_symlink(dir / "private", dir / "mod" / "Textures");
    WriteAll(dir / "mod" / ".QVR-INSTALLED" / "victim.qvr.ini", "plug-in=Victim");
    WriteAll(dir / "mod" / "Meshes" / "~qvr-x-1-1.tmp", "work");

    // Refused and named: links out of the folder (file and folder), the programs' own names.
    Result r = Run({"create", P("m.qvr"), P("mod")});
    EXPECT_EQ(r.Code, 1);
    for (const char* named : {"key.nif", "Textures", ".QVR-INSTALLED", "~qvr-x-1-1.tmp"})
        EXPECT_TRUE(Contains(r.Err, named)) << named << "\n" << r.Err;
    EXPECT_TRUE(Contains(r.Err, "outside the folder being packed")) << r.Err;
    std::vector<std::string> keys;
    const qvr::Archives packed = Opened(P("m.qvr"));
    for (const auto& e : packed.ArchiveFiles)
        keys.push_back(e.FilePath() + "|" + e.FileName());
    EXPECT_EQ(keys, (std::vector<std::string>{"|m.qvr.ifo", "Meshes|a.nif"}));
    r = Run({"add", P("m.qvr"), "--folder", ".qvr-openmw", P("mod/Meshes/a.nif")});
    EXPECT_EQ(r.Code, 2); // a folder no package may hold, named on the command line
    EXPECT_TRUE(Contains(r.Err, ".qvr-openmw")) << r.Err;

    // Asked to, the links are followed.
    fs::remove_all(dir / "mod" / ".QVR-INSTALLED");
    fs::remove(dir / "mod" / "Meshes" / "~qvr-x-1-1.tmp");
    r = Run({"create", "-f", "--follow-links", P("m.qvr"), P("mod")});
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(Opened(P("m.qvr")).ArchiveFiles.size(), 4u);

    // A source that cannot be read (here a link that leads nowhere; a folder without read
    // permission is reported alike) is named with its reason, and -f keeps the old package.
    const std::string before = ReadAll(dir / "m.qvr");
    fs::create_symlink(dir / "nowhere", dir / "mod" / "Meshes" / "gone.nif");
    r = Run({"create", "-f", "--follow-links", P("m.qvr"), P("mod")});
    EXPECT_EQ(r.Code, 1);
    EXPECT_TRUE(Contains(r.Err, "gone.nif")) << r.Err;
    EXPECT_TRUE(Contains(r.Err, "left as it was")) << r.Err;
    EXPECT_EQ(ReadAll(dir / "m.qvr"), before);
    fs::remove(dir / "mod" / "Meshes" / "gone.nif");
    fs::create_directories(dir / "mod" / "Locked");
    WriteAll(dir / "mod" / "Locked" / "l.nif", "locked");
    fs::permissions(dir / "mod" / "Locked", fs::perms::none);
    if (::geteuid() != 0) { // root reads it all the same
        r = Run({"create", "-f", P("m.qvr"), P("mod")});
        EXPECT_EQ(r.Code, 1);
        EXPECT_TRUE(Contains(r.Err, "Locked: cannot be read")) << r.Err;
        EXPECT_EQ(ReadAll(dir / "m.qvr"), before);
    }
    fs::permissions(dir / "mod" / "Locked", fs::perms::owner_all);
}
#endif

#ifdef __linux__
// A reproducible package has the same bytes whatever the packer's locale, and qvr list reads
// its dates under any locale.
TEST_F(Tool, PinnedPackagesAreAlikeUnderEveryLocale) {
    WriteAll(dir / "m" / "Meshes" / "a.nif", "x");
    SetEnv("SOURCE_DATE_EPOCH", "1577934245"); // 2020-01-02 03:04:05 UTC
    std::string first;
    for (const char* name : {"C", "de_DE.UTF-8", "en_US.UTF-8", "en_GB.UTF-8", "ja_JP.UTF-8"}) {
        const locale_t there = newlocale(LC_ALL_MASK, name, static_cast<locale_t>(0));
        if (!there)
            continue; // not generated on this machine
        freelocale(there);
        SetEnv("LC_ALL", name);
        fs::remove(dir / "r.qvr");
        const Result made = Run({"-q", "create", P("r.qvr"), P("m")});
        const Result listed = Run({"-q", "list", P("r.qvr")});
        SetEnv("LC_ALL", nullptr);
        ASSERT_EQ(made.Code, 0) << name << made.Err;
        if (first.empty())
            first = ReadAll(dir / "r.qvr");
        EXPECT_EQ(ReadAll(dir / "r.qvr"), first) << name;
        // Both entries, each added at the pinned moment.
        size_t added = 0;
        for (size_t at = 0;
             (at = listed.Out.find("+0000  2020-01-02 03:04:05 ", at)) != std::string::npos; ++at)
            ++added;
        EXPECT_EQ(added, 2u) << name << "\n" << listed.Out;
    }
}
#endif

// A SOURCE_DATE_EPOCH that cannot be used stops every writer before it writes anything.
TEST_F(Tool, UnusableSourceDateEpochIsRefused) {
    MakePlugin("plugin");
    ASSERT_EQ(Run({"create", P("p.qvr"), P("plugin")}).Code, 0);
    const std::string before = ReadAll(dir / "p.qvr");
    WriteAll(dir / "new.esp", "n");
    for (const char* value : {"1e9", "99999999999"}) {
        SetEnv("SOURCE_DATE_EPOCH", value);
        const std::vector<std::vector<std::string>> commands = {
            {"create", P("q.qvr"), P("plugin")},
            {"add", P("p.qvr"), P("new.esp")},
            {"set-info", P("p.qvr"), "--version", "9"},
        };
        for (const auto& command : commands) {
            const Result r = Run(command);
            EXPECT_EQ(r.Code, 2) << value << " " << command[0];
            EXPECT_TRUE(Contains(r.Err, "SOURCE_DATE_EPOCH")) << r.Err;
        }
        EXPECT_FALSE(fs::exists(dir / "q.qvr")) << value;
        EXPECT_EQ(ReadAll(dir / "p.qvr"), before) << value;
    }
}

// Two adds to one package at once end as the two run one after the other would.
TEST_F(Tool, AddsAtOnceToOnePackageBothGoIn) {
    for (unsigned i = 0; i < 10; ++i) {
        WriteAll(dir / "A" / ("a" + std::to_string(i) + ".nif"), Bytes(3000, i, false));
        WriteAll(dir / "B" / ("b" + std::to_string(i) + ".nif"), Bytes(3000, 100 + i, false));
    }
    ASSERT_EQ(Run({"-q", "create", P("p.qvr"), P("A")}).Code, 0);
    struct Beside : Tool { // the second program's output in a folder of its own
        void TestBody() override {}
        using Tool::dir;
        using Tool::Run;
    } other;
    other.dir = dir / "other";
    fs::create_directories(other.dir);
    Result a, b;
    std::thread first, second;
    {
        // A reader holds the package while both start, so that neither gets to it before the
        // other has started too.
        qvr::Archives reader;
        ASSERT_TRUE(reader.Open(P("p.qvr")).Usable());
        qvr::ReadingScope reading(reader);
        ASSERT_TRUE(reading.Outcome());
        first = std::thread([&] { a = Run({"-q", "add", P("p.qvr"), P("A")}); });
        second = std::thread([&] { b = other.Run({"-q", "add", P("p.qvr"), P("B")}); });
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    }
    first.join();
    second.join();
    EXPECT_EQ(a.Code, 0) << a.Err;
    EXPECT_EQ(b.Code, 0) << b.Err;
    // 11 from create (the information and A's files), then 10 from each add: A's files go in
    // again, under a folder A.
    EXPECT_EQ(Opened(P("p.qvr")).ArchiveFiles.size(), 31u);
}

} // namespace
