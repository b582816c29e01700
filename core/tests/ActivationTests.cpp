// What an install makes the game load, for both engines: the plug-ins and archives listed in
// Morrowind.ini or openmw.cfg in the install's own transaction, the load order valid after every
// step, and each file back byte for byte once everything is removed again.

#include "ReversibleSupport.h"
#include "qvr/games/Activation.h"
#include "qvr/games/LoadOrder.h"
#include "qvr/games/MorrowindIni.h"
#include "qvr/games/OpenMWInstall.h"
#include "qvr/games/SetupCheck.h"
#include "qvr/platform/Encoding.h"
#include "qvr/platform/FolderLock.h"
#include "qvr/platform/detail/TestHooks.h"
#include "qvrtest/Plugins.h"
#include "qvrtest/TempFolder.h"

#include <algorithm>
#include <chrono>

using namespace qvrtest;
namespace openmw = qvr::openmw;

namespace {

// Windows-1252 (0xE9 is an e with an accent), CR LF, a comment and lines the game ignores.
const std::string kIni = "[General]\r\n; the player's own note\r\nSubtitles=1\r\n\r\n"
                         "[Game Files]\r\nGameFile0=Morrowind.esm\r\nGameFile1=Caf\xE9.esp\r\n\r\n"
                         "[Archives]\r\nArchive 0=Morrowind.bsa\r\n\r\n[Movies]\r\nCompany Logo="
                         "bethesda logo.bik\r\n";

struct Member {
    std::string Path, Content, Date;
};

// Base.esm with its archive and scripts, Mid.esp needing it, Top.esp needing both. Mid is
// dated before its master, as happens when an author updates the master later.
const std::vector<std::pair<std::string, std::vector<Member>>>& Mods() {
    static const std::vector<std::pair<std::string, std::vector<Member>>> mods = {
        {"Base",
         {{"Base.esm", PluginNeeding({"Morrowind.esm"}, true), "6/1/2005 10:0:0"},
          {"Base.bsa", "BSA", "6/1/2005 10:0:0"},
          {"Base.omwscripts", "PLAYER: scripts/base.lua", "6/1/2005 10:0:0"},
          {"Meshes\\base.nif", "mesh", "2/3/2004 7:8:9"}}},
        {"Mid", {{"Mid.esp", PluginNeeding({"Morrowind.esm", "Base.esm"}), "3/1/2003 10:0:0"}}},
        {"Top", {{"Top.esp", PluginNeeding({"Base.esm", "Mid.esp"}), "4/1/2004 10:0:0"}}},
        {"Patch", {{"Patch.esp", PluginNeeding({"Top.esp"}), "1/1/2001 0:0:0"}}},
    };
    return mods;
}

int64_t TimeOf(const std::string& file) {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::file_clock::to_sys(fs::last_write_time(file)).time_since_epoch())
        .count();
}

// Only a master loading after a plug-in that needs it breaks the order: one not installed yet
// is missing, and says so elsewhere.
std::vector<qvr::MasterProblem> OutOfOrder(const qvr::SetupReport& report) {
    std::vector<qvr::MasterProblem> out;
    for (const qvr::MasterProblem& m : report.Masters)
        if (m.What == qvr::MasterProblem::Kind::LoadsAfter)
            out.push_back(m);
    return out;
}

class Activation : public Reversible {
protected:
    std::string Root() const { return dir + "/game"; }
    std::string DataFiles() const { return Root() + "/Data Files"; }
    std::string Ini() const { return Root() + "/Morrowind.ini"; }
    std::string Cfg() const { return dir + "/cfg/openmw.cfg"; }
    std::string ModsFolder() const { return dir + "/mods"; }
    std::string CfgText() const {
        return "# the player's settings\ndata=\"" + DataFiles() +
               "\"\ncontent=Morrowind.esm\ncontent=Caf\xC3\xA9.esp\n";
    }

    void SetUp() override {
        Reversible::SetUp();
        for (const auto& [name, members] : Mods()) {
            std::vector<RawEntry> entries;
            std::vector<std::string> dates;
            for (const Member& m : members) {
                const size_t cut = m.Path.rfind('\\');
                entries.push_back({cut == std::string::npos ? "" : m.Path.substr(0, cut),
                                   m.Path.substr(cut == std::string::npos ? 0 : cut + 1),
                                   m.Content});
                dates.push_back(m.Date);
            }
            entries.push_back({"", name + ".ifo", std::string(6, '\0')});
            WriteAll(Path("packs/" + name + ".qvr"), RawArchive(entries, 6, dates));
        }
    }
    void Lay() {
        fs::remove_all(Root());
        fs::remove_all(dir + "/cfg");
        fs::remove_all(ModsFolder());
        qvrtest::Lay(DataFiles(), {{"Morrowind.esm", PluginNeeding({}, true)},
                                   {"Caf\xC3\xA9.esp", PluginNeeding({"Morrowind.esm"})}});
        // The game's own files are older than any plug-in made for them.
        const auto old = std::chrono::file_clock::from_sys(
            std::chrono::system_clock::from_time_t(1020211200)); // 1 May 2002
        for (const auto& f : fs::directory_iterator(DataFiles()))
            fs::last_write_time(f.path(), old);
        WriteAll(Ini(), kIni);
        WriteAll(Cfg(), CfgText());
    }
    std::string PackOf(const std::string& name) { return Path("packs/" + name + ".qvr"); }
    bool Open(qvr::Archives& a, const std::string& name) {
        a.TempFolder = arc.TempFolder;
        return a.OpenArchive(PackOf(name)).Ok();
    }
    bool InstallData(const std::string& name, bool activate, qvr::Activation& told) {
        qvr::Archives a;
        return Open(a, name) &&
               qvr::InstallIntoDataFolder(a, DataFiles(), activate, kYes, {}, {}, told)
                   .Outcome.Ok();
    }
    bool RemoveData(const std::string& name) {
        return qvr::RemoveFromDataFolder(DataFiles(), name + ".qvr").Outcome.Ok();
    }
    bool InstallOpenMW(const std::string& name) {
        qvr::Archives a;
        openmw::ListReport listed;
        return Open(a, name) &&
               openmw::Install(a, openmw::TargetFor(PackOf(name), Cfg(), ModsFolder()), kYes, {},
                               {}, listed)
                   .Outcome.Ok();
    }
    bool RemoveOpenMW(const std::string& name) {
        const auto found = openmw::FindInstall(ModsFolder(), PackOf(name));
        return found && openmw::UninstallRecorded(ModsFolder(), *found).Outcome.Ok();
    }
};

// Every order of Base, Mid and Top.
std::vector<std::vector<std::string>> Orders() {
    std::vector<std::string> names{"Base", "Mid", "Top"};
    std::vector<std::vector<std::string>> out;
    do
        out.push_back(names);
    while (std::next_permutation(names.begin(), names.end()));
    return out;
}

TEST_F(Activation, AnyOrderOfInstallsAndRemovalsKeepsTheOrderAndGivesMorrowindIniBack) {
    for (const auto& installs : Orders())
        for (const auto& removals : Orders()) {
            const std::string round = installs[0] + installs[1] + installs[2] + " then " +
                                      removals[0] + removals[1] + removals[2];
            Lay();
            const Files before = Snapshot(DataFiles());
            for (const std::string& name : installs) {
                qvr::Activation told;
                ASSERT_TRUE(InstallData(name, true, told)) << round << ": " << name;
                EXPECT_TRUE(told.Problems.empty()) << round;
                const auto listed =
                    qvr::mwini::ReadList(ReadAll(Ini()), qvr::mwini::List::GameFiles);
                EXPECT_EQ(std::count(listed.begin(), listed.end(),
                                     name == "Base" ? "Base.esm" : name + ".esp"),
                          1)
                    << round;
                EXPECT_EQ(OutOfOrder(qvr::CheckDataFolder(DataFiles())).size(), 0u)
                    << round << ": after installing " << name;
            }
            for (const std::string& name : removals) {
                ASSERT_TRUE(RemoveData(name)) << round << ": " << name;
                EXPECT_EQ(OutOfOrder(qvr::CheckDataFolder(DataFiles())).size(), 0u)
                    << round << ": after removing " << name;
            }
            EXPECT_EQ(ReadAll(Ini()), kIni) << round;
            EXPECT_EQ(Snapshot(DataFiles()), before) << round;
        }
}

TEST_F(Activation, AnyOrderOfInstallsAndRemovalsKeepsTheOrderAndGivesOpenMWCfgBack) {
    for (const auto& installs : Orders())
        for (const auto& removals : Orders()) {
            const std::string round = installs[0] + installs[1] + installs[2] + " then " +
                                      removals[0] + removals[1] + removals[2];
            Lay();
            for (const std::string& name : installs) {
                ASSERT_TRUE(InstallOpenMW(name)) << round << ": " << name;
                EXPECT_EQ(OutOfOrder(qvr::CheckOpenMW(Cfg())).size(), 0u)
                    << round << ": after installing " << name << "\n"
                    << ReadAll(Cfg());
            }
            const std::string cfg = ReadAll(Cfg());
            EXPECT_NE(cfg.find("\nfallback-archive=Base.bsa\n"), std::string::npos) << round;
            EXPECT_NE(cfg.find("\ncontent=Base.omwscripts\n"), std::string::npos) << round;
            for (const std::string& name : removals) {
                ASSERT_TRUE(RemoveOpenMW(name)) << round << ": " << name;
                EXPECT_EQ(OutOfOrder(qvr::CheckOpenMW(Cfg())).size(), 0u)
                    << round << ": after removing " << name;
            }
            EXPECT_EQ(ReadAll(Cfg()), CfgText()) << round;
        }
}

TEST_F(Activation, FilesKeepTheArchivesTimeAndAPluginLoadsAfterItsNewerMaster) {
    Lay();
    qvr::Activation told;
    for (const char* name : {"Base", "Mid", "Top", "Patch"})
        ASSERT_TRUE(InstallData(name, true, told)) << name;
    EXPECT_EQ(TimeOf(DataFiles() + "/Meshes/base.nif"), qvr::ArchiveFileTime("2/3/2004 7:8:9"));
    EXPECT_EQ(TimeOf(DataFiles() + "/Base.esm"), qvr::ArchiveFileTime("6/1/2005 10:0:0"));
    // A master file loads first whatever its time: its plug-ins keep theirs.
    EXPECT_EQ(TimeOf(DataFiles() + "/Mid.esp"), qvr::ArchiveFileTime("3/1/2003 10:0:0"));
    // Dated in the archive before its master: moved after it.
    EXPECT_GT(TimeOf(DataFiles() + "/Patch.esp"), TimeOf(DataFiles() + "/Top.esp"));
    EXPECT_EQ(OutOfOrder(qvr::CheckDataFolder(DataFiles())).size(), 0u);
}

TEST_F(Activation, MorrowindIniIsLeftAsThePlayerHasIt) {
    const std::string listedByPlayer = "[Game Files]\r\nGameFile0=Morrowind.esm\r\nGameFile1=mid"
                                       ".esp\r\n";
    const std::string gap = "[Game Files]\r\nGameFile0=Morrowind.esm\r\nGameFile2=X.esp\r\n";
    const std::string noNewline = "[Game Files]\r\nGameFile0=Morrowind.esm";
    struct Case {
        const char* Name;
        std::string Ini; // "" for none
        bool Activate;
        bool Reinstall;
        bool Listed; // Mid.esp is listed while it is installed
        bool Problem;
        int ReadOnly = 0; // made read-only by the player: 1 before the install, 2 after it
    } cases[] = {
        {"not asked to", kIni, false, false, false, false},
        {"listed by the player already", listedByPlayer, true, false, true, false},
        {"a list the game stops reading", gap, true, false, false, true},
        {"the same archive installed again", kIni, true, true, true, false},
        {"a last line without a line end", noNewline, true, false, true, false},
        {"no Morrowind.ini", "", true, false, false, false},
        {"no [Game Files] yet", "[General]\r\nSubtitles=1\r\n", true, false, true, false},
        {"read-only", kIni, true, false, false, true, 1},
        {"read-only, the same archive installed again", kIni, true, true, true, false, 2},
    };
    const auto readOnly = [&](bool on) {
        fs::permissions(Ini(), fs::perms::owner_write | fs::perms::group_write,
                        on ? fs::perm_options::remove : fs::perm_options::add);
    };
    for (const Case& c : cases) {
        Lay();
        fs::remove(Ini());
        if (!c.Ini.empty())
            WriteAll(Ini(), c.Ini);
        if (c.ReadOnly == 1)
            readOnly(true);
        qvr::Activation told;
        ASSERT_TRUE(InstallData("Mid", c.Activate, told)) << c.Name;
        if (c.ReadOnly == 2)
            readOnly(true);
        if (c.Reinstall) {
            ASSERT_TRUE(InstallData("Mid", c.Activate, told)) << c.Name;
        }
        if (c.ReadOnly == 2) { // its line cannot go: the removal stops before anything else does
            EXPECT_FALSE(RemoveData("Mid")) << c.Name;
            EXPECT_TRUE(qvr::FindInstallRecord(DataFiles(), "Mid.qvr")->State ==
                        qvr::RecordState::Installed)
                << c.Name;
        }
        if (c.ReadOnly)
            readOnly(false); // as the player would to remove it
        const std::string during = c.Ini.empty() ? "" : ReadAll(Ini());
        const auto list = qvr::mwini::ReadList(during, qvr::mwini::List::GameFiles);
        EXPECT_EQ(
            std::count_if(list.begin(), list.end(),
                          [](const std::string& n) { return qvr::LowerText(n) == "mid.esp"; }),
            c.Listed ? 1 : 0)
            << c.Name;
        EXPECT_EQ(!told.Problems.empty(), c.Problem) << c.Name;
        EXPECT_TRUE(fs::exists(DataFiles() + "/Mid.esp")) << c.Name;
        ASSERT_TRUE(RemoveData("Mid")) << c.Name;
        EXPECT_EQ(c.Ini.empty() ? "" : ReadAll(Ini()), c.Ini) << c.Name;
        EXPECT_EQ(fs::exists(Ini()), !c.Ini.empty()) << c.Name;
    }
}

// Two archives with a plug-in of one name: the line enabling it goes with the last copy.
TEST_F(Activation, APlugInBothInstallsHoldStaysEnabledUntilTheLastGoes) {
    for (const char* name : {"C", "D"})
        WriteAll(PackOf(name), RawArchive({{"", "Common.esp", PluginNeeding({"Morrowind.esm"})},
                                           {"", name + std::string(".esp"), "x"},
                                           {"", name + std::string(".ifo"), std::string(6, 0)}}));
    for (const bool firstGoesFirst : {true, false}) {
        Lay();
        qvr::Activation told;
        ASSERT_TRUE(InstallData("C", true, told));
        ASSERT_TRUE(InstallData("D", true, told));
        ASSERT_TRUE(RemoveData(firstGoesFirst ? "C" : "D"));
        const auto listed = qvr::mwini::ReadList(ReadAll(Ini()), qvr::mwini::List::GameFiles);
        EXPECT_EQ(std::count(listed.begin(), listed.end(), "Common.esp"), 1) << firstGoesFirst;
        ASSERT_TRUE(RemoveData(firstGoesFirst ? "D" : "C"));
        EXPECT_EQ(ReadAll(Ini()), kIni) << firstGoesFirst;

        // For OpenMW each has its own folder, and the content= line goes with the last too.
        ASSERT_TRUE(InstallOpenMW("C") && InstallOpenMW("D"));
        ASSERT_TRUE(RemoveOpenMW(firstGoesFirst ? "C" : "D"));
        EXPECT_NE(ReadAll(Cfg()).find("\ncontent=Common.esp\n"), std::string::npos)
            << firstGoesFirst;
        ASSERT_TRUE(RemoveOpenMW(firstGoesFirst ? "D" : "C"));
        EXPECT_EQ(ReadAll(Cfg()), CfgText()) << firstGoesFirst;
    }
}

// OpenMW's mods folder given as Morrowind's data folder: each engine's commands keep to their
// own installs there, and no install for the other engine joins them.
TEST_F(Activation, EachGameEnginesInstallsInOneFolderStayItsOwn) {
    Lay();
    qvr::Archives a;
    openmw::ListReport listed;
    ASSERT_TRUE(Open(a, "Mid"));
    ASSERT_TRUE(openmw::Install(a, openmw::TargetFor(PackOf("Mid"), Cfg(), DataFiles()), kYes, {},
                                {}, listed)
                    .Outcome.Ok());
    const Files before = Snapshot(Root());
    qvr::Activation told;
    EXPECT_FALSE(InstallData("Mid", true, told));
    EXPECT_FALSE(InstallData("Top", true, told));
    EXPECT_FALSE(RemoveData("Mid"));
    EXPECT_EQ(Snapshot(Root()), before);
    const auto found = openmw::FindInstall(DataFiles(), PackOf("Mid"));
    ASSERT_TRUE(found);
    EXPECT_TRUE(openmw::UninstallRecorded(DataFiles(), *found).Outcome.Ok());
    EXPECT_EQ(ReadAll(Cfg()), CfgText());
    EXPECT_EQ(ReadAll(Ini()), kIni);
}

TEST_F(Activation, ARecordedEditNamingAnythingElseIsRefusedWhole) {
    Lay();
    const qvr::MorrowindIniEditor editor(DataFiles());
    const qvr::ConfigEdit edits[] = {
        {"openmw.cfg", Ini(), {"GameFile=A.esp"}, {}},
        {qvr::kMorrowindIniKind, Root() + "/other.ini", {"GameFile=A.esp"}, {}},
        {qvr::kMorrowindIniKind, Ini(), {"GameFile=A.esp", "GameFile=..\\x.esp"}, {}},
        {qvr::kMorrowindIniKind, Ini(), {"GameFile=A.bsa"}, {}},
        {qvr::kMorrowindIniKind, Ini(), {"Archive=A.esp"}, {}},
        {qvr::kMorrowindIniKind, Ini(), {"GameFile=A.esp\r\n[General]"}, {}},
        {qvr::kMorrowindIniKind, Ini(), {"Screenshot Enable=1"}, {}},
    };
    for (const qvr::ConfigEdit& e : edits) {
        EXPECT_FALSE(editor.Apply(e, false).Ok()) << e.Add[0];
        EXPECT_EQ(ReadAll(Ini()), kIni) << e.Add[0];
    }
}

#ifndef _WIN32
// openmw.cfg as a link to the player's own copy: the install locks the folder of the file it
// edits, which a program given the real path locks too.
TEST_F(Activation, AnInstallThroughALinkedOpenMWCfgLocksTheFileItEdits) {
    Lay();
    fs::create_directories(dir + "/dotfiles");
    fs::rename(Cfg(), dir + "/dotfiles/openmw.cfg");
    fs::create_symlink(dir + "/dotfiles/openmw.cfg", Cfg());
    qvr::FolderLock held;
    ASSERT_TRUE(held.Take(dir + "/dotfiles").Ok());
    const int64_t wait = qvr::testhooks::LockWaitMs.exchange(30);
    EXPECT_FALSE(InstallOpenMW("Mid"));
    EXPECT_EQ(ReadAll(Cfg()), CfgText());
    held.Release();
    EXPECT_TRUE(InstallOpenMW("Mid"));
    qvr::testhooks::LockWaitMs = wait;
    EXPECT_TRUE(fs::is_symlink(Cfg()));
}
#endif

// An openmw.cfg the install may not edit is found out before any file is written, and a
// removal stops before anything is changed.
TEST_F(Activation, AnOpenMWCfgThatCannotBeEditedStopsBeforeAnyChange) {
    Lay();
    const std::string other = dir + "/cfg/my.cfg";
    WriteAll(other, CfgText());
    qvr::Archives a;
    openmw::ListReport listed;
    ASSERT_TRUE(Open(a, "Mid"));
    EXPECT_FALSE(openmw::Install(a, openmw::TargetFor(PackOf("Mid"), other, ModsFolder()), kYes, {},
                                 {}, listed)
                     .Outcome.Ok());
    const fs::perms rw = fs::status(Cfg()).permissions();
    fs::permissions(Cfg(), fs::perms::owner_read | fs::perms::group_read);
    EXPECT_FALSE(InstallOpenMW("Mid"));
    EXPECT_FALSE(fs::exists(ModsFolder() + "/Mid"));
    fs::permissions(Cfg(), rw);
    ASSERT_TRUE(InstallOpenMW("Mid"));
    const std::string installed = ReadAll(Cfg());
    fs::permissions(Cfg(), fs::perms::owner_read);
    EXPECT_FALSE(RemoveOpenMW("Mid"));
    EXPECT_EQ(ReadAll(Cfg()), installed);
    fs::permissions(Cfg(), rw);
    EXPECT_TRUE(RemoveOpenMW("Mid"));
    EXPECT_EQ(ReadAll(Cfg()), CfgText());
    EXPECT_EQ(ReadAll(other), CfgText());
}

// A record's remove= lines are no install's: taking an edit back only takes its own lines out,
// and makes no file where there was none.
TEST_F(Activation, TakingAnEditBackPutsNoLineIn) {
    Lay();
    const qvr::MorrowindIniEditor ini(DataFiles());
    const openmw::ConfigLines cfg;
    const std::string elsewhere = dir + "/elsewhere/openmw.cfg";
    const qvr::ConfigEdit edits[] = {
        {qvr::kMorrowindIniKind, Ini(), {}, {"GameFile=Evil.esp", "Archive=Evil.bsa"}},
        {"openmw.cfg", Cfg(), {}, {"data=" + dir + "/attacker", "content=Evil.esp"}},
        {"openmw.cfg", elsewhere, {"content=Evil.esp"}, {"content=Evil.esp"}},
    };
    for (const qvr::ConfigEdit& e : edits) {
        const qvr::ConfigEditor& editor =
            e.Kind == "openmw.cfg" ? static_cast<const qvr::ConfigEditor&>(cfg) : ini;
        EXPECT_TRUE(editor.Apply(e, true).Ok()) << e.File;
        EXPECT_EQ(ReadAll(Ini()), kIni);
        EXPECT_EQ(ReadAll(Cfg()), CfgText());
        EXPECT_FALSE(fs::exists(fs::path(elsewhere).parent_path()));
    }
}

// "Data Files" typed inside the game's folder: the Morrowind.ini beside it is found all the same.
TEST(MorrowindIniBeside, ADataFolderGivenRelativeFindsTheFileAboveIt) {
    qvrtest::TempFolder game{"qvr-ini-beside"};
    WriteAll(game.Path() / "Morrowind.ini", kIni);
    fs::create_directories(game.Path() / "Data Files");
    const fs::path was = fs::current_path();
    fs::current_path(game.Path());
    const std::optional<std::string> found = qvr::MorrowindIniBeside("Data Files");
    fs::current_path(was);
    ASSERT_TRUE(found);
    EXPECT_TRUE(fs::equivalent(*found, game.Path() / "Morrowind.ini")) << *found;
}

} // namespace
