// qvr's recorded installs and removals, its choice of data folder, and the OpenMW target, run
// as a program over fake home folders.

#include "qvrtest/Bytes.h"
#include "qvrtest/HandMade.h"
#include "qvrtest/TempFolder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#ifdef __linux__
#include <sys/wait.h>

namespace fs = std::filesystem;

namespace {

using qvrtest::Contains;
using qvrtest::ReadAll;
using qvrtest::WriteAll;

// Every file below a folder with its bytes, and every folder (as an empty value marker).
std::map<std::string, std::string> Snapshot(const fs::path& root) {
    std::map<std::string, std::string> out;
    for (auto& e : fs::recursive_directory_iterator(root))
        out[fs::relative(e.path(), root).generic_string()] =
            e.is_directory() ? std::string("<folder>") : "=" + ReadAll(e.path());
    return out;
}

// A package written byte by byte: {folder, name, content} per entry.
std::string Package(const std::vector<qvrtest::RawEntry>& entries) {
    return qvrtest::RawArchive(entries);
}

struct RunResult {
    int Code = -1;
    std::string Out, Err;
};

class RecordTool : public ::testing::Test {
protected:
    void SetUp() override {
        dir = folder.Path();
        fs::create_directories(dir / "home");
        for (const char* name :
             {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "OPENMW_CONFIG", "OPENMW_CONFIG_DIR"}) {
            const char* v = std::getenv(name);
            if (v)
                saved[name] = v;
            unsetenv(name);
        }
        setenv("HOME", (dir / "home").c_str(), 1);
    }
    void TearDown() override {
        for (const char* name :
             {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "OPENMW_CONFIG", "OPENMW_CONFIG_DIR"})
            unsetenv(name);
        for (const auto& [name, value] : saved)
            setenv(name.c_str(), value.c_str(), 1);
    }

    RunResult Run(const std::vector<std::string>& args) {
        auto quote = [](const std::string& a) {
            std::string out = "'";
            for (char c : a)
                out += c == '\'' ? std::string("'\\''") : std::string(1, c);
            return out + "'";
        };
        std::string command = quote(QVR_EXE);
        for (const auto& a : args)
            command += " " + quote(a);
        const fs::path out = dir / "stdout.txt", err = dir / "stderr.txt";
        command += " > " + quote(out.string()) + " 2> " + quote(err.string()) + " < /dev/null";
        const int status = std::system(command.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadAll(out), ReadAll(err)};
    }

    std::string P(const std::string& rel) const { return (dir / rel).string(); }

    // Packs files (path below the data folder -> bytes) into name.qvr.
    void Pack(const std::string& name, const std::map<std::string, std::string>& files,
              const std::vector<std::string>& extra = {}) {
        for (const auto& [path, bytes] : files)
            WriteAll(dir / ("src-" + name) / path, bytes);
        std::vector<std::string> args = {"-q", "create", P(name + ".qvr"), "--name", name};
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back(P("src-" + name));
        RunResult r = Run(args);
        ASSERT_EQ(r.Code, 0) << r.Err;
    }

    qvrtest::TempFolder folder{"qvr-rec"};
    fs::path dir;
    std::map<std::string, std::string> saved;
};

TEST_F(RecordTool, RemovingPluginsInAnyOrderPutsTheGamesFilesBack) {
    const fs::path data = dir / "Data Files";
    WriteAll(data / "Morrowind.esm", "TES3 master");
    WriteAll(data / "Meshes" / "x.nif", "the game's own mesh");
    WriteAll(data / "Other.esp", "another plug-in");
    const auto original = Snapshot(data);
    Pack("A", {{"A.esp", "A plug-in"}, {"Meshes/x.nif", "A's mesh"}, {"Textures/t.dds", "A's"}});
    Pack("B", {{"B.esp", "B plug-in"}, {"Textures/t.dds", "B's texture"}});

    // 1-3: A overwrites the game's mesh, B replaces A's texture.
    RunResult r = Run({"install", "--overwrite", P("A.qvr"), data.string()});
    ASSERT_EQ(r.Code, 0) << r.Err;
    r = Run({"install", "--overwrite", P("B.qvr"), data.string()});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(ReadAll(data / "Meshes" / "x.nif"), "A's mesh");
    EXPECT_EQ(ReadAll(data / "Textures" / "t.dds"), "B's texture");

    r = Run({"installed", data.string()});
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_TRUE(Contains(r.Out, "A ") && Contains(r.Out, "B ") && Contains(r.Out, "A.qvr"))
        << r.Out;
    EXPECT_TRUE(Contains(r.Out, "2 plug-ins")) << r.Out;

    // A dry run says what would happen and changes nothing.
    const auto installed = Snapshot(data);
    r = Run({"uninstall", "--dry-run", P("A.qvr"), data.string()});
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_TRUE(Contains(r.Out, "would be restored: Meshes/x.nif")) << r.Out;
    EXPECT_TRUE(Contains(r.Out, "would be removed: A.esp")) << r.Out;
    EXPECT_EQ(Snapshot(data), installed);

    // 4: removing A gives the game its mesh back and leaves B's texture alone.
    r = Run({"uninstall", "--yes", P("A.qvr"), data.string()});
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(ReadAll(data / "Meshes" / "x.nif"), "the game's own mesh");
    EXPECT_EQ(ReadAll(data / "Textures" / "t.dds"), "B's texture");
    EXPECT_FALSE(fs::exists(data / "A.esp"));
    EXPECT_TRUE(Contains(r.Out, "1 restored")) << r.Out;

    // B by its recorded name, its archive gone: the folder is the original, byte for byte.
    fs::remove(dir / "B.qvr");
    r = Run({"uninstall", "--yes", "B", data.string()});
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(Snapshot(data), original);

    r = Run({"uninstall", "--yes", "B", data.string()});
    EXPECT_EQ(r.Code, 2);
    EXPECT_TRUE(Contains(r.Err, "no install of it is recorded")) << r.Err;
}

TEST_F(RecordTool, FilesChangedSinceTheInstallAreKeptAndNamed) {
    const fs::path data = dir / "data";
    WriteAll(data / "Morrowind.esm", "TES3");
    Pack("A", {{"A.esp", "A plug-in"}, {"Meshes/m.nif", "A's mesh"}});
    ASSERT_EQ(Run({"-q", "install", P("A.qvr"), data.string()}).Code, 0);
    WriteAll(data / "Meshes" / "m.nif", "edited by the player");
    RunResult r = Run({"uninstall", "--yes", "a", data.string()});
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(ReadAll(data / "Meshes" / "m.nif"), "edited by the player");
    EXPECT_FALSE(fs::exists(data / "A.esp"));
    EXPECT_TRUE(Contains(r.Err, "kept: Meshes/m.nif")) << r.Err;
    EXPECT_TRUE(Contains(r.Out, "1 kept")) << r.Out;

    // Without a record a file goes only when it still holds the archive's content.
    ASSERT_EQ(Run({"-q", "install", "--overwrite", P("A.qvr"), data.string()}).Code, 0);
    fs::remove_all(data / ".qvr-installed");
    WriteAll(data / "A.esp", "changed");
    r = Run({"uninstall", "--yes", P("A.qvr"), data.string()});
    EXPECT_EQ(ReadAll(data / "A.esp"), "changed");
    EXPECT_FALSE(fs::exists(data / "Meshes" / "m.nif"));
    EXPECT_TRUE(Contains(r.Out, "no install record")) << r.Out;
}

// A stranger's package may carry an installed plug-in's name: that name alone picks neither.
TEST_F(RecordTool, ANameTwoInstallsShareIsNotTakenForEither) {
    const fs::path data = dir / "data";
    WriteAll(data / "Morrowind.esm", "TES3");
    for (const char* archive : {"Real", "Other"}) {
        WriteAll(dir / archive / (std::string(archive) + ".esp"), archive);
        ASSERT_EQ(
            Run({"-q", "create", P(std::string(archive) + ".qvr"), "--name", "Same", P(archive)})
                .Code,
            0);
        ASSERT_EQ(Run({"-q", "install", P(std::string(archive) + ".qvr"), data.string()}).Code, 0);
    }
    RunResult r = Run({"uninstall", "--yes", "Same", data.string()});
    EXPECT_EQ(r.Code, 2);
    EXPECT_TRUE(Contains(r.Err, "Real.qvr") && Contains(r.Err, "Other.qvr")) << r.Err;
    EXPECT_TRUE(fs::exists(data / "Real.esp") && fs::exists(data / "Other.esp"));
    r = Run({"uninstall", "--yes", "Other.qvr", data.string()}); // by its archive it goes
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_TRUE(fs::exists(data / "Real.esp"));
    EXPECT_FALSE(fs::exists(data / "Other.esp"));
}

TEST_F(RecordTool, WithoutADataFolderTheRememberedOrTheOnlyOneFoundIsUsed) {
    Pack("A", {{"A.esp", "A plug-in"}});
    // Nothing remembered, nothing found: say what to pass.
    RunResult r = Run({"install", P("A.qvr")});
    EXPECT_EQ(r.Code, 2);
    EXPECT_TRUE(Contains(r.Err, "DATA_FOLDER")) << r.Err;
    EXPECT_EQ(Run({"where"}).Code, 1);

    // Steam's folder is the only one found.
    const fs::path steam = dir / "home/.steam/steam/steamapps/common/Morrowind/Data Files";
    WriteAll(steam / "morrowind.ESM", "TES3");
    r = Run({"where"});
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_TRUE(Contains(r.Out, steam.string())) << r.Out;
    r = Run({"install", P("A.qvr")});
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(ReadAll(steam / "A.esp"), "A plug-in");

    // The folder QVRInstaller remembers comes first.
    const fs::path chosen = dir / "chosen";
    WriteAll(chosen / "Morrowind.esm", "TES3");
    WriteAll(dir / "home/.config/QVRInstaller/qvrinst.ini",
             "[Settings]\r\nTESLocation=" + chosen.string() + "\r\n");
    r = Run({"where"});
    EXPECT_TRUE(Contains(r.Out, chosen.string() + "\n    remembered by QVRInstaller")) << r.Out;
    ASSERT_EQ(Run({"install", P("A.qvr")}).Code, 0);
    EXPECT_EQ(ReadAll(chosen / "A.esp"), "A plug-in");
    ASSERT_EQ(Run({"uninstall", "--yes", "A"}).Code, 0);
    EXPECT_FALSE(fs::exists(chosen / "A.esp"));
    EXPECT_TRUE(fs::exists(steam / "A.esp"));
}

TEST_F(RecordTool, OpenMWInstallAndRemovalTouchOnlyTheirOwnLines) {
    const std::string cfgText = "# my settings\r\n"
                                "data=\"/games/Morrowind/Data Files\"\r\n"
                                "data=\"/mods/Caf&&e &\"quoted&\"\"\r\n"
                                "fallback-archive=Morrowind.bsa\r\n"
                                "content=Morrowind.esm\r\n"
                                "content=Tribunal.esm\r\n"
                                "\r\n"
                                "# the end\r\n";
    const fs::path cfg = dir / "home/.config/openmw/openmw.cfg";
    WriteAll(cfg, cfgText);
    Pack("MyMod", {{"MyMod.esp", "mine"}, {"Meshes/m.nif", "mesh"}},
         {"--depends", "Morrowind.esm, Bloodmoon.esm"});
    Pack("Other", {{"Other.omwaddon", "other"}});
    const fs::path mods = dir / "home/.local/share/openmw/mods";

    RunResult r = Run({"install", "--openmw", P("MyMod.qvr")});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(ReadAll(mods / "MyMod" / "MyMod.esp"), "mine");
    EXPECT_TRUE(Contains(r.Err, "Bloodmoon.esm")) << r.Err; // the missing master
    EXPECT_FALSE(Contains(r.Err, "Tribunal.esm")) << r.Err;
    std::string now = ReadAll(cfg);
    EXPECT_TRUE(Contains(now, "content=Tribunal.esm\r\ncontent=MyMod.esp\r\n")) << now;
    EXPECT_TRUE(Contains(now, "data=\"" + (mods / "MyMod").string() + "\"\r\n")) << now;
    const std::string withMine = now;

    // Installed again: updated in place, no line twice.
    ASSERT_EQ(Run({"install", "--openmw", P("MyMod.qvr")}).Code, 0);
    EXPECT_EQ(ReadAll(cfg), withMine);

    ASSERT_EQ(Run({"install", "--openmw", P("Other.qvr")}).Code, 0);
    r = Run({"installed", "--openmw"});
    EXPECT_TRUE(Contains(r.Out, "MyMod.qvr") && Contains(r.Out, "Other.qvr")) << r.Out << r.Err;
    ASSERT_EQ(Run({"uninstall", "--openmw", "--yes", P("MyMod.qvr")}).Code, 0);
    now = ReadAll(cfg);
    EXPECT_FALSE(Contains(now, "MyMod")) << now;
    EXPECT_TRUE(Contains(now, "content=Other.omwaddon\r\n")) << now;
    EXPECT_TRUE(Contains(now, "data=\"" + (mods / "Other").string() + "\"\r\n")) << now;
    EXPECT_FALSE(fs::exists(mods / "MyMod"));

    // By the recorded name; the file is the original again, byte for byte.
    r = Run({"uninstall", "--openmw", "--yes", "Other"});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(ReadAll(cfg), cfgText);
    EXPECT_FALSE(fs::exists(mods / "Other"));
}

// Findings 12 to 14: the targets chosen for the player are the ones the game reads, a folder
// that is gone is never made anew, and uninstall --openmw asks as uninstall does.
TEST_F(RecordTool, TheTargetChosenForThePlayerIsOneTheGameReads) {
    Pack("A", {{"A.esp", "A plug-in"}});
    const fs::path gone = dir / "unmounted/Data Files";
    WriteAll(dir / "home/.config/QVRInstaller/qvrinst.ini",
             "[Settings]\r\nTESLocation=" + gone.string() + "\r\n");
    RunResult r = Run({"install", P("A.qvr")});
    EXPECT_EQ(r.Code, 2);
    EXPECT_TRUE(Contains(r.Err, "does not exist")) << r.Err;
    EXPECT_FALSE(fs::exists(dir / "unmounted"));
    r = Run({"install", P("A.qvr"), P("typed")}); // typed: made, and said so
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_TRUE(Contains(r.Err, "it was created")) << r.Err;

    const fs::path mine = dir / "home/.config/openmw/openmw.cfg";
    r = Run({"install", "--openmw", P("A.qvr")});
    EXPECT_EQ(r.Code, 2);
    EXPECT_TRUE(Contains(r.Err, "no openmw.cfg")) << r.Err;
    EXPECT_FALSE(fs::exists(mine));
    const fs::path flatpak = dir / "home/.var/app/org.openmw.OpenMW/config/openmw/openmw.cfg";
    WriteAll(flatpak, "content=Morrowind.esm\n");
    ASSERT_EQ(Run({"install", "--openmw", P("A.qvr")}).Code, 0);
    EXPECT_TRUE(Contains(ReadAll(flatpak), "content=A.esp")) << ReadAll(flatpak);
    EXPECT_FALSE(fs::exists(mine));

    r = Run({"uninstall", "--openmw", "A"});
    EXPECT_EQ(r.Code, 2);
    EXPECT_TRUE(Contains(r.Err, "--yes")) << r.Err;
    EXPECT_TRUE(Contains(ReadAll(flatpak), "content=A.esp"));
    r = Run({"uninstall", "--openmw", "--yes", "A"});
    ASSERT_EQ(r.Code, 0);
    EXPECT_TRUE(Contains(r.Out, "out of " + flatpak.string())) << r.Out;
    EXPECT_EQ(ReadAll(flatpak), "content=Morrowind.esm\n");
    EXPECT_FALSE(fs::exists(mine));

    // Its openmw.cfg gone meanwhile: no line is said to be taken out of it.
    ASSERT_EQ(Run({"install", "--openmw", P("A.qvr")}).Code, 0);
    fs::remove(flatpak);
    r = Run({"uninstall", "--openmw", "--yes", "A"});
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_TRUE(Contains(r.Out, "No line was taken out")) << r.Out;
    EXPECT_FALSE(fs::exists(flatpak));
}

// Finding 10: names from strangers reach the terminal without control characters, whichever
// command prints them.
TEST_F(RecordTool, EscapeSequencesInNamesNeverReachTheTerminal) {
    const std::string esc = "esc\x1b]0;TITLE\x07\x1b[2J";
    const fs::path data = dir / ("Data " + esc);
    WriteAll(data / "Morrowind.esm", "TES3");
    WriteAll(dir / "home/.config/openmw/openmw.cfg", "data=\"" + data.string() + "\"\n");
    const std::string archive = P(esc + ".qvr");
    WriteAll(archive, Package({{"", "Mod" + esc + ".esp", "m"}, {"Meshes", "x.nif", "x"}}));
    const std::vector<std::vector<std::string>> commands = {
        {"list", archive},
        {"info", archive},
        {"verify", archive},
        {"where"},
        {"install", archive, data.string()},
        {"installed", data.string()},
        {"uninstall", "--dry-run", archive, data.string()},
        {"uninstall", "--yes", archive, data.string()},
        {"install", "--openmw", archive},
        {"uninstall", "--openmw", "--yes", archive},
    };
    for (const auto& args : commands) {
        const RunResult r = Run(args);
        EXPECT_EQ(r.Out.find_first_of("\x1b\x07"), std::string::npos) << args[0] << ": " << r.Out;
        EXPECT_EQ(r.Err.find_first_of("\x1b\x07"), std::string::npos) << args[0] << ": " << r.Err;
    }
}

// Findings 1 and 2 from the command line: the entry is refused and named, the planted record
// is named and used for nothing.
TEST_F(RecordTool, ARecordCarriedByAPackageIsRefusedAndOnePlantedIsNotUsed) {
    const fs::path data = dir / "data";
    WriteAll(data / "Morrowind.esm", "TES3");
    WriteAll(dir / "victim.txt", "victim\n");
    const std::string planted = "archive=victim.qvr\nname=Victim\nsequence=5\nstate=installed\n"
                                "file=N 7 706052f0 ..\\victim.txt\n";
    WriteAll(dir / "E.qvr",
             Package({{"", "E.esp", "e"}, {".qvr-installed", "victim.qvr.ini", planted}}));
    RunResult r = Run({"install", P("E.qvr"), data.string()});
    EXPECT_EQ(r.Code, 1);
    EXPECT_TRUE(Contains(r.Err, ".qvr-installed\\victim.qvr.ini: refused")) << r.Err;
    EXPECT_FALSE(fs::exists(data / ".qvr-installed" / "victim.qvr.ini"));

    WriteAll(data / ".qvr-installed" / "victim.qvr.ini", planted); // as an older version left it
    r = Run({"installed", data.string()});
    EXPECT_EQ(r.Code, 1);
    EXPECT_TRUE(Contains(r.Err, "victim.qvr.ini is not used")) << r.Err;
    EXPECT_FALSE(Contains(r.Out, "Victim")) << r.Out;
    r = Run({"uninstall", "--yes", "Victim", data.string()});
    EXPECT_EQ(r.Code, 2);
    EXPECT_EQ(ReadAll(dir / "victim.txt"), "victim\n");
}

} // namespace
#endif
