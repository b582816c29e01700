// Finding the game's data folder over fake home folders.

#include "TestSupport.h"
#include "WineSkip.h"
#include "qvr/games/GameFolders.h"

using namespace qvrtest;
using qvr::GameFolderSource;

namespace {

class GameFoldersTest : public ArchiveTest {
protected:
    void SetUp() override {
        ArchiveTest::SetUp();
        env.Home = Path("home");
        fs::create_directories(env.Home);
    }
    // A data folder holding the master file under the given name.
    std::string Game(const std::string& folder, const std::string& esm = "Morrowind.esm") {
        WriteAll(folder + "/" + esm, "TES3");
        return folder;
    }
    std::string Home(const std::string& rest) const { return env.Home + "/" + rest; }
    std::vector<std::pair<std::string, GameFolderSource>> Found() const {
        std::vector<std::pair<std::string, GameFolderSource>> out;
        for (const auto& f : qvr::FindGameFolders(env))
            out.emplace_back(fs::weakly_canonical(f.Folder).string(), f.Source);
        return out;
    }
    static std::string Canon(const std::string& p) { return fs::weakly_canonical(p).string(); }
    // As Steam's .vdf files and JSON write a path: with each "\" doubled.
    static std::string Escaped(const std::string& path) {
        std::string out;
        for (char c : path)
            out += c == '\\' ? std::string("\\\\") : std::string(1, c);
        return out;
    }
    // As openmw.cfg quotes a path: "&" and '"' escaped with "&".
    static std::string OpenMWQuoted(const std::string& path) {
        std::string out = "\"";
        for (char c : path)
            out += c == '&' || c == '"' ? std::string("&") + c : std::string(1, c);
        return out + "\"";
    }

    qvr::HostEnvironment env;
};

TEST_F(GameFoldersTest, SteamDefaultAndEveryLibraryOfLibraryFoldersVdf) {
    const std::string steam = Home(".local/share/Steam");
    Game(steam + "/steamapps/common/Morrowind/Data Files");
    Game(Path("lib1/steamapps/common/Morrowind/Data Files"));
    Game(Path("lib 2/steamapps/common/Morrowind/Data Files"));
    fs::create_directories(Path("lib3/steamapps/common")); // a library without the game
    WriteAll(steam + "/steamapps/libraryfolders.vdf",
             "\"libraryfolders\"\n{\n"
             "\t\"0\"\n\t{\n\t\t\"path\"\t\t\"" +
                 Escaped(steam) +
                 "\"\n\t\t\"label\"\t\t\"\"\n\t}\n"
                 "\t\"1\"\n\t{\n\t\t\"path\"\t\t\"" +
                 Escaped(Path("lib1")) +
                 "\"\n\t}\n"
                 "\t\"2\"\n\t{\n\t\t\"path\"\t\t\"" +
                 Escaped(Path("lib3")) +
                 "\"\n\t}\n"
                 "\t\"3\"\n\t{\n\t\t\"path\"\t\t\"" +
                 Escaped(Path("lib 2")) +
                 "\"\n\t\t\"apps\"\n\t\t{\n"
                 "\t\t\t\"22320\"\t\t\"123\"\n\t\t}\n\t}\n}\n");

    auto found = Found();
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(found[0], std::make_pair(Canon(steam + "/steamapps/common/Morrowind/Data Files"),
                                       GameFolderSource::Steam));
    EXPECT_EQ(found[1].first, Canon(Path("lib1/steamapps/common/Morrowind/Data Files")));
    EXPECT_EQ(found[1].second, GameFolderSource::SteamLibrary);
    EXPECT_EQ(found[2].first, Canon(Path("lib 2/steamapps/common/Morrowind/Data Files")));
}

TEST_F(GameFoldersTest, SteamReachedThroughALinkIsListedOnce) {
    QVR_SKIP_ON_WINE("Wine cannot make symbolic links to folders");
    const std::string steam = Home(".local/share/Steam");
    Game(steam + "/steamapps/common/Morrowind/Data Files");
    // ~/.steam/steam is usually a link to the same folder: it must not list the game twice.
    fs::create_directories(Home(".steam"));
    fs::create_directory_symlink(steam, Home(".steam/steam"));
    auto found = Found();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].second, GameFolderSource::Steam);
}

TEST(LibraryFoldersVdf, ReadsBothLayoutsAndEscapes) {
    EXPECT_EQ(qvr::ParseLibraryFolders("\"LibraryFolders\"\n{\n\t\"TimeNextStatsReport\"\t\"1\"\n"
                                       "\t\"1\"\t\t\"D:\\\\Games\\\\Steam\"\n}\n"),
              (std::vector<std::string>{"D:\\Games\\Steam"}));
    EXPECT_EQ(qvr::ParseLibraryFolders("\"libraryfolders\" { \"0\" { \"path\" \"/a\" } "
                                       "// comment \"path\" \"/no\"\n \"1\" { \"path\" \"/b\" } }"),
              (std::vector<std::string>{"/a", "/b"}));
    // A library lists the games it holds under "apps", by number, with their sizes: those are
    // no libraries (Morrowind's own number among them).
    EXPECT_EQ(qvr::ParseLibraryFolders("\"libraryfolders\"\n{\n\t\"0\"\n\t{\n\t\t\"path\"\t\t"
                                       "\"/home/p/.local/share/Steam\"\n\t\t\"apps\"\n\t\t{\n"
                                       "\t\t\t\"22320\"\t\t\"1234567\"\n\t\t}\n\t}\n}\n"),
              (std::vector<std::string>{"/home/p/.local/share/Steam"}));
}

TEST_F(GameFoldersTest, FlatpakSteam) {
    Game(Home(".var/app/com.valvesoftware.Steam/.local/share/Steam/steamapps/common/Morrowind/"
              "Data Files"));
    auto found = Found();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].second, GameFolderSource::FlatpakSteam);
}

TEST_F(GameFoldersTest, LetterCaseOfTheMasterAndOfTheFoldersDoesNotMatter) {
    Game(Home(".local/share/Steam/SteamApps/common/morrowind/Data files"), "MORROWIND.esm");
    Game(Home("Games/Heroic/Prefixes/default/Morrowind/drive_c/gog games/MORROWIND/data files"),
         "morrowind.ESM");
    auto found = Found();
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].second, GameFolderSource::Steam);
    EXPECT_EQ(found[1].second, GameFolderSource::Heroic);
}

TEST_F(GameFoldersTest, HeroicAndLutrisPrefixesInGogAndSteamLayouts) {
    Game(Home("Games/Heroic/Prefixes/default/Morrowind/drive_c/Program Files (x86)/GOG Galaxy/"
              "Games/Morrowind/Data Files"));
    Game(Path("elsewhere/Morrowind GOTY/Data Files")); // a GOG install Heroic recorded
    WriteAll(Home(".config/heroic/gog_store/installed.json"),
             "{\"installed\": [{\"appName\": \"1\", \"install_path\": \"" +
                 Escaped(Path("elsewhere/Morrowind GOTY")) + "\"}]}");
    Game(Home("Games/morrowind/drive_c/Program Files (x86)/Steam/steamapps/common/Morrowind/"
              "Data Files"));
    Game(Path("prefixes/mw/drive_c/GOG Games/Morrowind/Data Files"));
    WriteAll(Home(".config/lutris/games/morrowind-1.yml"),
             "game:\n  exe: x.exe\n  prefix: '" + Path("prefixes/mw") + "'\n");

    auto found = Found();
    ASSERT_EQ(found.size(), 4u);
    EXPECT_EQ(found[0].first, Canon(Path("elsewhere/Morrowind GOTY/Data Files")));
    EXPECT_EQ(found[0].second, GameFolderSource::Heroic);
    EXPECT_EQ(found[1].second, GameFolderSource::Heroic);
    EXPECT_EQ(found[2].first, Canon(Path("prefixes/mw/drive_c/GOG Games/Morrowind/Data Files")));
    EXPECT_EQ(found[2].second, GameFolderSource::Lutris);
    EXPECT_EQ(found[3].second, GameFolderSource::Lutris);
}

TEST_F(GameFoldersTest, OpenMWConfigChainWithConfigLinesAndQuotedPaths) {
#ifdef _WIN32
    const std::string gameFolder = Path("Mw & Co/Data Files"); // '"' cannot be in a name there
#else
    const std::string gameFolder = Path("Mw & \"Co\"/Data Files");
#endif
    const std::string game = Game(gameFolder);
    const std::string extra = Game(Path("second/Data Files"));
    fs::create_directories(Path("mods/NoMaster")); // an ordinary mod folder: not the game
    WriteAll(Path("first/openmw.cfg"),
             "# first\nconfig=../chained\ndata=\"" + Path("mods/NoMaster") + "\"\n");
    WriteAll(Path("chained/openmw.cfg"), "data=" + OpenMWQuoted(gameFolder) + "\r\nconfig=\"" +
                                             Path("first") + "\"\r\ncontent=Morrowind.esm\r\n");
    WriteAll(Home(".var/app/org.openmw.OpenMW/config/openmw/openmw.cfg"),
             "data=\"" + extra + "\"\n");
    env.Variables["OPENMW_CONFIG"] = Path("first/openmw.cfg");

    auto found = Found();
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0], std::make_pair(Canon(game), GameFolderSource::OpenMW));
    EXPECT_EQ(found[1], std::make_pair(Canon(extra), GameFolderSource::OpenMW));
}

TEST_F(GameFoldersTest, OpenMWUserConfigFolderAndItsDirectoryVariable) {
    const std::string a = Game(Path("a/Data Files"));
    const std::string b = Game(Path("b/Data Files"));
    WriteAll(Home(".config/openmw/openmw.cfg"), "data=" + a + "\n");
    WriteAll(Path("cfgdir/openmw.cfg"), "data=\"" + b + "\"\n");
    env.Variables["OPENMW_CONFIG_DIR"] = Path("cfgdir");
    auto found = Found();
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].first, Canon(b));
    EXPECT_EQ(found[1].first, Canon(a));
}

TEST_F(GameFoldersTest, FoldersWithoutTheMasterAreIgnored) {
    fs::create_directories(Home(".local/share/Steam/steamapps/common/Morrowind/Data Files"));
    WriteAll(Home(".local/share/Steam/steamapps/common/Morrowind/Data Files/Tribunal.esm"), "x");
    // A folder named like the master is not the master.
    fs::create_directories(Home(".wine/drive_c/GOG Games/Morrowind/Data Files/Morrowind.esm"));
    // A plug-in's own folder that an OpenMW install made is no game, whatever it holds.
    Game(Path("mods/Evil"));
    fs::create_directories(Path("mods/Evil/.qvr-installed"));
    fs::create_directories(Path("mods/.qvr-openmw"));
    // Today's layout: the records lie in the mods folder; an option's folder is below the mod's.
    Game(Path("mods2/Evil2"));
    Game(Path("mods2/Evil2/01 Option"));
    WriteAll(Path("mods2/.qvr-installed/evil2.qvr.ini"),
             "archive=Evil2.qvr\nname=Evil2\nsequence=1\nstate=installed\nfolder=Evil2\n");
    WriteAll(Home(".config/openmw/openmw.cfg"),
             "data=" + Path("nowhere") + "\ndata=" + Path("mods/Evil") + "\ndata=" +
                 Path("mods2/Evil2/") + "\ndata=\"" + Path("mods2/Evil2/01 Option") + "\"\n");
    EXPECT_TRUE(Found().empty());
    EXPECT_FALSE(qvr::HoldsMorrowindEsm(Path("nowhere")));
}

TEST_F(GameFoldersTest, EmptyHomeFindsNothingAndDoesNotLookInTheCurrentFolder) {
    env.Home.clear();
    EXPECT_TRUE(qvr::FindGameFolders(env).empty());
}

} // namespace
