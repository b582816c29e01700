// Editing openmw.cfg: our lines in, our lines out, everything else untouched.

#include "TestSupport.h"
#include "qvr/games/OpenMWConfig.h"

using namespace qvrtest;
namespace openmw = qvr::openmw;

namespace {

// Samples as players' files look: comments, quoted Windows and Linux paths with & and ",
// non-ASCII letters, CR LF, duplicates, no line end at the end.
const std::vector<std::string> kSamples = {
    "",
    "# OpenMW\n",
    "data=\"/home/ana/Games/Morrowind/Data Files\"\ncontent=Morrowind.esm\ncontent=Tribunal.esm\n",
    "# Windows, CR LF\r\ndata=\"C:\\Games\\Morrowind\\Data Files\"\r\n"
    "data=\"D:\\Mods\\Tom && Jerry &\"Deluxe&\"\"\r\ncontent=Morrowind.esm\r\n"
    "content=Bloodmoon.esm\r\nfallback=LightAttenuation_UseConstant,0\r\n",
    "fallback=Weather_Clear_Cloud_Texture,Tx_Sky_Clear.dds\n"
    "data=\"/home/jörg/Spiele/Morrowind/Data Files\"\n"
    "data=\"/home/jörg/Spiele/Morrowind/Data Files\"\n"
    "content=Morrowind.esm\ncontent=Morrowind.esm\n# trailing comment\ncontent=Tribunal.esm",
    "encoding=win1252\n\n   data = /unquoted/path\n#content=Disabled.esp\n",
};

TEST(OpenMWQuoting, EscapesBothWaysAsOpenMWDoes) {
    EXPECT_EQ(openmw::Quote("C:\\A & B \"C\""), "\"C:\\A && B &\"C&\"\"");
    EXPECT_EQ(openmw::Unquote(openmw::Quote("C:\\A & B \"C\" Ä")), "C:\\A & B \"C\" Ä");
    EXPECT_EQ(openmw::Unquote("\"/a b\" ignored"), "/a b");
    EXPECT_EQ(openmw::Unquote("  /plain path  "), "/plain path");
}

TEST(OpenMWConfigEdit, AddThenRemoveGivesTheOriginalByteForByte) {
    const openmw::ModLines mod{"/home/jörg/.local/share/openmw/mods/Tom & \"Jerry\"",
                               {"TomJerry.esp", "TomJerry - Patch.esp"}};
    for (const auto& sample : kSamples) {
        SCOPED_TRACE(sample);
        auto config = openmw::Config::Parse(sample);
        EXPECT_EQ(config.Bytes(), sample);
        auto added = config.AddMod(mod);
        EXPECT_EQ(added.DataFolder, mod.DataFolder);
        EXPECT_EQ(added.Content, mod.Content);
        auto folders = config.Values("data");
        ASSERT_FALSE(folders.empty());
        EXPECT_EQ(folders.back(), mod.DataFolder); // after every existing data= line
        auto content = config.Values("content");
        ASSERT_GE(content.size(), 2u);
        EXPECT_EQ(content.back(), "TomJerry - Patch.esp");
        // Reparsing the written text reads the same lines.
        EXPECT_EQ(openmw::Config::Parse(config.Bytes()).Values("data"), folders);
        EXPECT_EQ(config.RemoveMod(added), 3u);
        EXPECT_EQ(config.Bytes(), sample);
    }
}

TEST(OpenMWConfigEdit, NewLinesGoBehindTheirKindInTheFilesLineEnds) {
    auto config = openmw::Config::Parse(kSamples[3]);
    config.AddMod({"C:\\Mods\\New", {"New.esp"}});
    EXPECT_EQ(config.Bytes(), "# Windows, CR LF\r\ndata=\"C:\\Games\\Morrowind\\Data Files\"\r\n"
                              "data=\"D:\\Mods\\Tom && Jerry &\"Deluxe&\"\"\r\n"
                              "data=\"C:\\Mods\\New\"\r\ncontent=Morrowind.esm\r\n"
                              "content=Bloodmoon.esm\r\ncontent=New.esp\r\n"
                              "fallback=LightAttenuation_UseConstant,0\r\n");
}

TEST(OpenMWConfigEdit, RemovingTheFirstOfTwoModsLeavesTheSecondsLines) {
    for (const auto& sample : kSamples) {
        SCOPED_TRACE(sample);
        auto config = openmw::Config::Parse(sample);
        auto first = config.AddMod({"/mods/First", {"First.esp"}});
        auto second = config.AddMod({"/mods/Second", {"Second.esm", "Second.esp"}});
        config.RemoveMod(first);
        auto expected = openmw::Config::Parse(sample);
        expected.AddMod({"/mods/Second", {"Second.esm", "Second.esp"}});
        EXPECT_EQ(config.Bytes(), expected.Bytes());
        config.RemoveMod(second);
        EXPECT_EQ(config.Bytes(), sample);
    }
}

TEST(OpenMWConfigEdit, LinesAlreadyThereAreNotAddedTwiceNorReportedAsOurs) {
    auto config = openmw::Config::Parse(kSamples[2]);
    auto added = config.AddMod({"/home/ana/Games/Morrowind/Data Files", {"tribunal.ESM", "X.esp"}});
    EXPECT_TRUE(added.DataFolder.empty());
    EXPECT_EQ(added.Content, std::vector<std::string>{"X.esp"});
    config.RemoveMod(added);
    EXPECT_EQ(config.Bytes(), kSamples[2]);
}

// The player may respell a folder's line: it is still the one the install added.
TEST(OpenMWConfigEdit, AFolderIsTheSameHoweverItsLineSpellsIt) {
    for (const char* spelt : {"data=\"/mods/Tower/\"\n", "data=/mods/./Tower\n"}) {
        auto config = openmw::Config::Parse(std::string("content=Morrowind.esm\n") + spelt);
        EXPECT_TRUE(config.AddMod({"/mods/Tower", {}}).DataFolder.empty()) << spelt;
        EXPECT_EQ(config.RemoveMod({"/mods/Tower", {}}), 1u) << spelt;
        EXPECT_EQ(config.Bytes(), "content=Morrowind.esm\n");
        EXPECT_EQ(openmw::Config::Parse("data=/mods/Tower2\n").RemoveMod({"/mods/Tower", {}}), 0u);
    }
}

class OpenMWConfigFile : public ArchiveTest {};

TEST_F(OpenMWConfigFile, UpdateKeepsThePreviousVersionAndLeavesNoTemporaryFile) {
    const std::string cfg = Path("openmw/openmw.cfg");
    WriteAll(cfg, kSamples[3]);
    const qvr::Result updated = openmw::Update(cfg, [](openmw::Config& c) {
        c.AddMod({"C:\\Mods\\A", {"A.esp"}});
    });
    ASSERT_TRUE(updated) << updated.Message;
    EXPECT_EQ(ReadAll(openmw::BackupPath(cfg)), kSamples[3]);
    EXPECT_EQ(openmw::Config::Parse(ReadAll(cfg)).Values("content").back(), "A.esp");
    size_t files = 0;
    for (auto& e : fs::directory_iterator(Path("openmw")))
        (void)e, ++files;
    EXPECT_EQ(files, 2u); // openmw.cfg and openmw.cfg.bak

    ASSERT_TRUE(openmw::Update(cfg, [](openmw::Config& c) {
        c.RemoveMod({"C:\\Mods\\A", {"A.esp"}});
    }));
    EXPECT_EQ(ReadAll(cfg), kSamples[3]);
}

TEST_F(OpenMWConfigFile, AMissingFileIsCreatedAndAnUnchangedOneNotWritten) {
    const std::string cfg = Path("fresh/openmw.cfg");
    ASSERT_TRUE(openmw::Update(cfg, [](openmw::Config& c) { c.AddMod({"/m/A", {"A.esp"}}); }));
    EXPECT_EQ(ReadAll(cfg), "data=\"/m/A\"\ncontent=A.esp\n");
    EXPECT_FALSE(fs::exists(openmw::BackupPath(cfg)));
    ASSERT_TRUE(openmw::Update(cfg, [](openmw::Config&) {}));
    EXPECT_FALSE(fs::exists(openmw::BackupPath(cfg)));
}

TEST_F(OpenMWConfigFile, AFileChangedMeanwhileIsNotOverwritten) {
    const std::string cfg = Path("openmw.cfg");
    WriteAll(cfg, kSamples[2]);
    const qvr::Result updated = openmw::Update(cfg, [&](openmw::Config& c) {
        WriteAll(cfg, "content=ByTheLauncher.esp\n"); // another program writes meanwhile
        c.AddMod({"/m/A", {"A.esp"}});
    });
    EXPECT_FALSE(updated);
    EXPECT_NE(updated.Message.find("changed"), std::string::npos);
    EXPECT_EQ(ReadAll(cfg), "content=ByTheLauncher.esp\n");
}

TEST(OpenMWFolders, DefaultsFollowTheHomeAndXdgFolders) {
    qvr::HostEnvironment env;
    env.Home = "/home/ana";
#ifndef _WIN32
    EXPECT_EQ(openmw::DefaultModsFolder(env), "/home/ana/.local/share/openmw/mods");
    EXPECT_EQ(openmw::UserConfigFolder(env), "/home/ana/.config/openmw");
    env.Variables["XDG_DATA_HOME"] = "/data";
    env.Variables["OPENMW_CONFIG_DIR"] = "/cfg";
    EXPECT_EQ(openmw::DefaultModsFolder(env), "/data/openmw/mods");
    EXPECT_EQ(openmw::UserConfigFolder(env), "/cfg");
    // Relative XDG folders are ignored; without a HOME no folder is known, never one below the
    // current folder.
    env.Variables = {{"XDG_DATA_HOME", "rel"}, {"XDG_CONFIG_HOME", "rel"}};
    EXPECT_EQ(openmw::DefaultModsFolder(env), "/home/ana/.local/share/openmw/mods");
    EXPECT_EQ(openmw::UserConfigFolder(env), "/home/ana/.config/openmw");
    env.Home.clear();
    EXPECT_EQ(openmw::DefaultModsFolder(env), "");
    EXPECT_EQ(openmw::UserConfigFolder(env), "");
    EXPECT_FALSE(openmw::FindUserConfig(env));
#endif
}

} // namespace
