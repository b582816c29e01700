// qvr install and uninstall run as a program: what they do to the data folder, and what they ask.

#include "ToolTestSupport.h"

namespace {

using namespace tooltest;

TEST_F(Tool, InstallWithoutATerminalKeepsExistingFilesAndSaysWhich) {
    auto files = MakePlugin("plugin");
    ASSERT_EQ(Run({"create", P("m.qvr"), P("plugin")}).Code, 0);
    ASSERT_EQ(Run({"-q", "install", P("m.qvr"), P("data")}).Code, 0);
    WriteAll(dir / "data" / "Mod.esp", "changed by the player");
    WriteAll(dir / "data" / "Textures" / "x.nif", "");
    Result r = Run({"install", P("m.qvr"), P("data")});
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_TRUE(Contains(r.Err, "Mod.esp")) << r.Err;
    EXPECT_EQ(ReadAll(dir / "data" / "Mod.esp"), "changed by the player");
    EXPECT_EQ(ReadAll(dir / "data" / "Textures" / "x.nif"), files["Textures/x.nif"]);

    EXPECT_EQ(Run({"install", "--skip-existing", P("m.qvr"), P("data")}).Code, 0);
    EXPECT_EQ(ReadAll(dir / "data" / "Mod.esp"), "changed by the player");
    EXPECT_EQ(Run({"install", "--overwrite", P("m.qvr"), P("data")}).Code, 0);
    EXPECT_EQ(ReadAll(dir / "data" / "Mod.esp"), files["Mod.esp"]);
    EXPECT_EQ(Run({"install", "--overwrite", "--skip-existing", P("m.qvr"), P("data")}).Code, 2);
}

#ifndef _WIN32
// Refused before a file is looked at: the reason alone, no tally of files nobody counted.
TEST_F(Tool, AnInstallRefusedWholeSaysOnlyWhy) {
    MakePlugin("plugin");
    ASSERT_EQ(Run({"create", P("m.qvr"), P("plugin")}).Code, 0);
    fs::create_directories(dir / "data" / "Meshes");
    fs::create_directories(dir / "elsewhere");
    fs::create_directory_symlink(dir / "elsewhere", dir / "data" / ".qvr-installed");
    const Result r = Run({"install", P("m.qvr"), P("data")});
    EXPECT_EQ(r.Code, 1);
    EXPECT_FALSE(Contains(r.Out, " of ")) << r.Out;
    EXPECT_FALSE(Contains(r.Err, "kept")) << r.Err;
    EXPECT_TRUE(Contains(r.Err, "nothing was installed")) << r.Err;
}
#endif

TEST_F(Tool, HostileEntriesAreRefusedOneByOneAndNothingOutsideIsTouched) {
    WriteAll(dir / "evil.qvr", RawArchive({{"", "evil.qvr.ifo", std::string(6, '\0')},
                                           {"..\\..", "evil.esp", "evil"},
                                           {"Meshes", "ok.nif", "ok"}}));
    Result r = Run({"install", P("evil.qvr"), P("game/Data Files")});
    EXPECT_EQ(r.Code, 1);
    EXPECT_TRUE(Contains(r.Err, "..\\..\\evil.esp")) << r.Err;
    EXPECT_EQ(ReadAll(dir / "game" / "Data Files" / "Meshes" / "ok.nif"), "ok");
    EXPECT_FALSE(fs::exists(dir / "evil.esp"));
    EXPECT_FALSE(fs::exists(dir / "game" / "evil.esp"));

    r = Run({"verify", P("evil.qvr")});
    EXPECT_EQ(r.Code, 1);
    EXPECT_TRUE(Contains(r.Out, "outside the data folder")) << r.Out;

    WriteAll(dir / "evil.esp", "precious");
    // The record holds what was installed: its removal is whole, whatever the package refused.
    r = Run({"uninstall", "--yes", P("evil.qvr"), P("game/Data Files")});
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(ReadAll(dir / "evil.esp"), "precious");
    EXPECT_FALSE(fs::exists(dir / "game" / "Data Files" / "Meshes" / "ok.nif"));

    // Names and information that carry terminal control sequences are never passed on raw.
    const std::string esc = "\x1B]0;owned\x07\x1B[2J\x9B";
    WriteAll(dir / "ctl.qvr", RawArchive({{"", "ctl.qvr.ifo",
                                           "Name" + esc + '\0' + "1" + '\0' + '\0' + '\0' + '\0' +
                                               "line one\r\nline" + esc + '\0'},
                                          {"", "a" + esc + ".esp", "x"},
                                          {"Meshes" + esc, "b.nif", "y"}}));
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"list", P("ctl.qvr")},
                                               {"info", P("ctl.qvr")},
                                               {"list", "--json", P("ctl.qvr")},
                                               {"verify", P("ctl.qvr")},
                                               {"-v", "install", P("ctl.qvr"), P("ctl data")}}) {
        r = Run(args);
        for (const std::string* text : {&r.Out, &r.Err}) {
            EXPECT_EQ(text->find_first_of("\x1B\x07"), std::string::npos) << args[0] << *text;
            EXPECT_EQ(text->find("\xC2\x9B"), std::string::npos) << args[0] << *text;
        }
        if (args[1] != "--json") {
            EXPECT_NE((r.Out + r.Err).find("?"), std::string::npos) << args[0] << r.Out << r.Err;
        }
    }
    EXPECT_TRUE(Contains(Run({"info", P("ctl.qvr")}).Out, "line one\n")); // line breaks stay
}

#ifdef __linux__
TEST_F(Tool, OnATerminalInstallAsksPerFileAndUninstallAsksFirst) {
    auto files = MakePlugin("plugin");
    ASSERT_EQ(Run({"create", P("m.qvr"), P("plugin")}).Code, 0);
    ASSERT_EQ(Run({"-q", "install", P("m.qvr"), P("data")}).Code, 0);
    for (const char* name : {"Mod.esp", "Meshes/Armor/x.nif", "Textures/x.nif"})
        WriteAll(dir / "data" / name, "mine");

    // Nonsense is asked again; "y" replaces one file; "N" keeps this one and every later one.
    Result r =
        RunOnTerminal({"install", P("m.qvr"), P("data")},
                      {{"Overwrite it?", "what"}, {"Overwrite it?", "y"}, {"Overwrite it?", "N"}});
    EXPECT_EQ(r.Code, 0) << r.Out;
    EXPECT_TRUE(Contains(r.Out, "Mod.esp already exists")) << r.Out;
    EXPECT_EQ(ReadAll(dir / "data" / "Mod.esp"), files["Mod.esp"]);
    EXPECT_EQ(ReadAll(dir / "data" / "Meshes" / "Armor" / "x.nif"), "mine");
    EXPECT_EQ(ReadAll(dir / "data" / "Textures" / "x.nif"), "mine");

    r = RunOnTerminal({"uninstall", P("m.qvr"), P("data")}, {{"[y/N]", "n"}});
    EXPECT_EQ(r.Code, 0) << r.Out;
    EXPECT_TRUE(fs::exists(dir / "data" / "Mod.esp"));
    // The question names the folder and how many files; No is the default answer.
    r = RunOnTerminal({"uninstall", P("m.qvr"), P("data")}, {{"[y/N]", ""}});
    EXPECT_EQ(r.Code, 0) << r.Out;
    EXPECT_TRUE(Contains(r.Out, "Delete 6 files of " + P("m.qvr") + " from " + P("data") + "?"))
        << r.Out;
    EXPECT_TRUE(fs::exists(dir / "data" / "Mod.esp"));
    r = RunOnTerminal({"uninstall", P("m.qvr"), P("data")}, {{"[y/N]", "y"}});
    EXPECT_EQ(r.Code, 0) << r.Out;
    // The file the second install replaced is the player's again.
    EXPECT_EQ(ReadAll(dir / "data" / "Mod.esp"), "mine");
    EXPECT_FALSE(fs::exists(dir / "data" / "Sound" / "Fx" / "a b.wav"));
}
#else
TEST_F(Tool, OnATerminalInstallAsksPerFileAndUninstallAsksFirst) {
    QVR_SKIP_ON_WINE("qvr.exe needs a console of its own to ask on, and this test drives one "
                     "through a Linux pseudo-terminal only");
    GTEST_SKIP() << "the console dialogue is driven through a Linux pseudo-terminal only";
}
#endif

} // namespace
