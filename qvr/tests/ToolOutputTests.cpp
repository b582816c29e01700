// What qvr prints for people and for scripts: paths as the system writes them, times with no
// zone that is not known, JSON, the folders it finds, and help for a command mistyped.

#include "ToolTestSupport.h"

#include "qvrtest/ArchiveFixtures.h"
#include "qvrtest/ZipBuilder.h"

namespace {

using namespace tooltest;

// Fields of a JSON text, as `"key": value` pieces (enough for one-line values).
void ExpectFields(const std::string& json, const std::vector<std::string>& fields) {
    for (const std::string& field : fields)
        EXPECT_TRUE(Contains(json, field)) << field << "\n" << json;
#ifdef __linux__
    // Whole and well formed, as a script's parser takes it.
    const fs::path file = fs::temp_directory_path() / ("qvr-json-" + std::to_string(getpid()));
    WriteAll(file, json);
    EXPECT_EQ(std::system(("python3 -c 'import json,sys; json.load(open(sys.argv[1]))' " +
                           Quote(file.string()) + " 2>&1")
                              .c_str()),
              0)
        << json;
    fs::remove(file);
#endif
}

// Each command's -v output, question, dry run and refusal names a path inside the package
// with the system's separator, so that it can be pasted back into a command.
TEST_F(Tool, PathsInsideAPackageAreWrittenAsTheSystemWritesThem) {
    WriteAll(dir / "mod" / "Mod.esp", "plug-in");
    WriteAll(dir / "mod" / "Meshes" / "x" / "a.nif", "mesh");
    WriteAll(dir / "mod" / "Meshes" / "y" / fs::path(u8"\u65E5.nif"), "no Windows-1252 name");
    WriteAll(dir / "more" / "b.nif", "another mesh");
    WriteAll(dir / "other" / "a.nif", "another a.nif");
    WriteAll(dir / "data" / "Morrowind.esm", "TES3");
    ASSERT_EQ(Run({"-q", "create", P("mod.qvr"), P("mod")}).Code, 1);
    // A copy whose a.nif fails its check sum.
    std::string damaged = ReadAll(dir / "mod.qvr");
    const auto nif = Opened(P("mod.qvr")).FindEntry("a.nif", "Meshes\\x");
    ASSERT_TRUE(nif);
    damaged[static_cast<size_t>(nif->FileOffset() + nif->FileCompressedSize() - 2)] ^= 0x55;
    WriteAll(dir / "bad.qvr", damaged);
    struct Case {
        std::vector<std::string> Args;
        std::string Says;
    };
    const std::vector<Case> cases = {
        {{"create", P("again.qvr"), P("mod")}, "cannot be packed as " + Shown("Meshes/y/")},
        {{"-v", "install", P("mod.qvr"), P("data")}, "installed: " + Shown("Meshes/x/a.nif")},
        {{"uninstall", "--dry-run", P("mod.qvr"), P("data")},
         "would be removed: " + Shown("Meshes/x/a.nif")},
        {{"add", P("mod.qvr"), "--folder", "Meshes/x/a.nif", P("more/b.nif")},
         Shown("Meshes/x/a.nif") + " is a file, not a folder"},
        {{"add", P("mod.qvr"), "--folder", "Meshes\\x", P("other/a.nif")},
         "not added: the package already holds " + Shown("Meshes/x/a.nif")},
        {{"-v", "add", P("mod.qvr"), "--folder", "Meshes/z", P("more/b.nif")},
         "added: " + Shown("Meshes/z/b.nif")},
        {{"-v", "remove", P("mod.qvr"), "Meshes/z"}, "removed: " + Shown("Meshes/z/b.nif")},
        {{"remove", P("mod.qvr"), "Meshes/x/none.nif"},
         "holds no file or folder " + Shown("Meshes/x/none.nif")},
        {{"verify", P("bad.qvr")}, "entry " + Shown("Meshes/x/a.nif") + ": "},
    };
    for (const Case& c : cases) {
        const Result r = Run(c.Args);
        const std::string said = r.Out + r.Err;
        EXPECT_TRUE(Contains(said, c.Says)) << c.Args[0] << " " << c.Args[1] << ":\n" << said;
#ifndef _WIN32
        EXPECT_FALSE(Contains(said, "\\")) << c.Args[0] << " " << c.Args[1] << ":\n" << said;
#endif
    }
#ifdef __linux__
    // The question for a file that exists.
    WriteAll(dir / "data2" / "Meshes" / "x" / "a.nif", "the player's own");
    const Result r = RunOnTerminal({"install", P("mod.qvr"), P("data2")}, {{"Overwrite", "N"}});
    EXPECT_TRUE(Contains(r.Out, "Meshes/x/a.nif already exists in")) << r.Out;
#endif
}

// The time of adding is the packer's clock with no zone: whoever lists the package, wherever,
// sees the same time, which is not moved by the distance between two zones.
TEST_F(Tool, TheTimeOfAddingIsThePackersClockWhereverItIsListed) {
    WriteAll(dir / "mod" / "Mod.esp", "plug-in");
    const auto when = std::chrono::sys_seconds(std::chrono::seconds(1047045909));
    fs::last_write_time(dir / "mod" / "Mod.esp", std::chrono::file_clock::from_sys(when));
    SetEnv("SOURCE_DATE_EPOCH", "1047045909"); // 2003-03-07 14:05:09 UTC
    SetEnv("TZ", "America/New_York");
    ASSERT_EQ(Run({"create", P("mod.qvr"), P("mod")}).Code, 0);
    std::string seen;
    for (const char* zone : {"Asia/Tokyo", "America/New_York", "UTC"}) {
        SetEnv("TZ", zone);
        const Result r = Run({"list", P("mod.qvr")});
        EXPECT_EQ(r.Code, 0) << r.Err;
        EXPECT_TRUE(Contains(r.Out, "2003-03-07 14:05:09 +0000  2003-03-07 14:05:09     Mod.esp"))
            << zone << "\n"
            << r.Out;
        EXPECT_TRUE(Contains(Run({"list", "--json", P("mod.qvr")}).Out,
                             "\"added\": \"2003-03-07 14:05:09\""));
        if (!seen.empty()) {
            EXPECT_EQ(r.Out, seen) << zone;
        }
        seen = r.Out;
    }
    SetEnv("TZ", nullptr);
}

TEST_F(Tool, AMistypedCommandIsAnsweredWithTheNearestOne) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"instal", "install"}, {"lsit", "list"}, {"uninstal", "uninstall"}, {"INFO", "info"},
        {"veryfy", "verify"},  {"hlep", "help"}, {"frobnicate", ""},        {"ls", ""},
    };
    for (const auto& [typed, meant] : cases) {
        const Result r = Run({typed, "x"});
        EXPECT_EQ(r.Code, 2) << typed;
        EXPECT_TRUE(Contains(r.Err, "unknown command '" + typed + "'")) << r.Err;
        EXPECT_EQ(Contains(r.Err, "Did you mean"), !meant.empty()) << r.Err;
        if (!meant.empty()) {
            EXPECT_TRUE(Contains(r.Err, "Did you mean 'qvr " + meant + "'?")) << r.Err;
        }
        // A few lines, not the whole help.
        EXPECT_LE(std::count(r.Err.begin(), r.Err.end(), '\n'), 3) << r.Err;
    }
    EXPECT_TRUE(Contains(Run({"--help"}).Out, "\n  help ")); // listed with the others
    const Result help = Run({"help", "--help"});             // as each of them has its own
    EXPECT_EQ(help.Code, 0);
    EXPECT_TRUE(Contains(help.Out, "usage: qvr help")) << help.Out;
}

TEST_F(Tool, InfoAsJsonHoldsWhatInfoShows) {
    WriteAll(dir / "mod" / "Mod.esp", "plug-in");
    WriteAll(dir / "mod" / "Meshes" / "a.nif", "mesh");
    WriteAll(dir / "notes.txt", "First line\nsecond \"quoted\"\n");
    ASSERT_EQ(Run({"-q", "create", P("mod.qvr"), "--name", "My Mod", "--authors", "Ann, Bo",
                   "--notes-file", P("notes.txt"), P("mod")})
                  .Code,
              0);
    Result r = Run({"info", "--json", P("mod.qvr")});
    EXPECT_EQ(r.Code, 0) << r.Err;
    ExpectFields(r.Out, {"\"kind\": \"qvr\"", "\"name\": \"My Mod\"", "\"version\": \"1.0\"",
                         "\"authors\": \"Ann, Bo\"", "\"files\": 2",
                         "\"notes\": \"First line\\nsecond \\\"quoted\\\"\\n\"",
                         "\"layout\": {\"kind\": \"root\", \"root\": \"\"",
                         "{\"path\": \"Mod.esp\", \"error\": "});
#ifdef __linux__
    // A CR alone is a character of the text, not half a line break.
    ASSERT_EQ(Run({"-q", "set-info", P("mod.qvr"), "--authors", "Ann,\rBo"}).Code, 0);
    ExpectFields(Run({"info", "--json", P("mod.qvr")}).Out, {"\"authors\": \"Ann,\\rBo\""});
    ASSERT_TRUE(qvrtest::MakeZip(dir / "wrapped.zip",
                                 {{"Wrap/Data Files/W.esp", "w"}, {"Wrap/readme.txt", "read me"}}));
    r = Run({"info", "--json", P("wrapped.zip")});
    EXPECT_EQ(r.Code, 0) << r.Err;
    ExpectFields(r.Out, {"\"kind\": \"zip\"", "\"files\": 2", "\"refused\": []",
                         "\"root\": \"Wrap/Data Files\"", "\"left_out\": [\"Wrap/readme.txt\"]"});
#endif
}

// As Info-ZIP writes a zip when it packs from a pipe (or with -fz): zip64 end records in
// front of the end record, with ordinary values. They are no data in front of the zip.
TEST_F(Tool, AZipWithZip64RecordsOfOrdinaryValuesListsItsEntries) {
    qvrtest::BuiltZip zip = qvrtest::BuildZip({{"Mod.esp", "plug-in"}, {"Meshes/m.nif", "mesh"}});
    const size_t eocd = zip.bytes.rfind("PK\x05\x06");
    const std::string cd = zip.bytes.substr(eocd + 12, 8); // its size and offset, 32 bits each
    auto le32 = [&](size_t at) {
        uint64_t v = 0;
        for (int k = 3; k >= 0; --k)
            v = v << 8 | static_cast<unsigned char>(cd[at + k]);
        return v;
    };
    zip.bytes.insert(eocd, "PK\x06\x06" + qvrtest::Le64(44) + std::string(12, '\0') +
                               qvrtest::Le64(2) + qvrtest::Le64(2) + qvrtest::Le64(le32(0)) +
                               qvrtest::Le64(le32(4)) + "PK\x06\x07" + std::string(4, '\0') +
                               qvrtest::Le64(eocd) + qvrtest::Le32(1));
    WriteAll(dir / "built.zip", zip.bytes);
    std::vector<std::string> zips = {"built.zip"};
#ifdef __linux__
    WriteAll(dir / "Mod.esp", "plug-in");
    const std::string in = "cd " + Quote(dir.string()) + " && ";
    ASSERT_EQ(std::system((in + "cat Mod.esp | zip -q - - > piped.zip").c_str()), 0);
    ASSERT_EQ(std::system((in + "zip -q -fz forced.zip Mod.esp").c_str()), 0);
    zips.insert(zips.end(), {"piped.zip", "forced.zip"});
#endif
    for (const std::string& name : zips) {
        const Result r = Run({"list", P(name)});
        EXPECT_EQ(r.Code, 0) << name << r.Err;
        EXPECT_TRUE(Contains(r.Out, name == "piped.zip" ? "  -\n" : "Mod.esp")) << r.Out;
        qvr::Archives arc;
        EXPECT_EQ(arc.Open(P(name)).Kind, qvr::OpenKind::Zip) << name;
        ASSERT_EQ(arc.ArchiveFiles.size(), name == "built.zip" ? 2u : 1u) << name;
        // The offset is that of the member's data in the file.
        if (name == "built.zip") {
            EXPECT_EQ(arc.ArchiveFiles[0].FileOffset(),
                      static_cast<int32_t>(zip.dataOffsets[0] + 1));
        }
    }
}

#ifdef __linux__
// Commands that find the game's folders, over a home folder of the test's own.
class Finding : public Tool {
protected:
    void SetUp() override {
        Tool::SetUp();
        for (const char* name : kVariables) {
            if (const char* v = std::getenv(name))
                saved[name] = v;
            unsetenv(name);
        }
        setenv("HOME", (dir / "home").c_str(), 1);
    }
    void TearDown() override {
        for (const char* name : kVariables)
            unsetenv(name);
        for (const auto& [name, value] : saved)
            setenv(name.c_str(), value.c_str(), 1);
        Tool::TearDown();
    }
    // A data folder holding the game's master, as its path.
    std::string Game(const std::string& rel) {
        WriteAll(dir / rel / "Morrowind.esm", "TES3");
        return P(rel);
    }
    void Remember(const std::string& folder) {
        WriteAll(dir / "home/.config/QVRInstaller/qvrinst.ini",
                 "[Settings]\r\nTESLocation=" + folder + "\r\n");
    }

    static constexpr const char* kVariables[] = {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME",
                                                 "OPENMW_CONFIG", "OPENMW_CONFIG_DIR"};
    std::map<std::string, std::string> saved;
};

TEST_F(Finding, SeveralFoldersFoundAreListedOneALine) {
    const std::string steam = Game("home/.steam/steam/steamapps/common/Morrowind/Data Files");
    const std::string openmw = Game("games/Morrowind Data");
    WriteAll(dir / "home/.config/openmw/openmw.cfg", "data=\"" + openmw + "\"\n");
    WriteAll(dir / "mod" / "Mod.esp", "plug-in");
    ASSERT_EQ(Run({"-q", "create", P("mod.qvr"), P("mod")}).Code, 0);
    for (const char* command : {"install", "uninstall", "installed", "check"}) {
        const std::string name = command;
        const Result r = name == "installed" || name == "check" ? Run({command})
                         : name == "install"                    ? Run({command, P("mod.qvr")})
                                             : Run({command, "--yes", P("mod.qvr")});
        EXPECT_EQ(r.Code, 2) << command;
        EXPECT_TRUE(Contains(r.Err, "pass one of them:\n  " + steam + "\n  " + openmw + "\n"))
            << command << "\n"
            << r.Err;
        EXPECT_FALSE(Contains(r.Err, "?")) << r.Err;
    }
}

// The installer reads a settings file an older installer wrote in Windows-1252, and qvr reads
// it as the installer does: the folder it names is the one used, not its raw bytes.
TEST_F(Finding, ASettingsFileInWindows1252NamesTheSameFolder) {
    const std::string data = Game("Spiele/M\xC3\xBCnchen");
    WriteAll(dir / "home/.config/QVRInstaller/qvrinst.ini",
             "[Settings]\r\nTESLocation=" + P("Spiele/M\xFCnchen") + "\r\n");
    const Result r = Run({"installed"});
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_TRUE(Contains(r.Err, "using " + data + ", the data folder QVRInstaller remembers"))
        << r.Err;
}

// One folder both remembered and found is one folder: listed once, with every place it was
// found through; an entry under a Steam library's "apps" is no library.
TEST_F(Finding, WhereListsEachFolderOnceWithEveryPlaceItWasFoundThrough) {
    const std::string steam = Game("home/.steam/steam/steamapps/common/Morrowind/Data Files");
    Remember(steam + "/");
    // Steam lists the games a library holds by number, with their sizes.
    WriteAll(dir / "home/.steam/steam/steamapps/libraryfolders.vdf",
             "\"libraryfolders\"\n{\n\t\"0\"\n\t{\n\t\t\"path\"\t\t\"" + P("home/.steam/steam") +
                 "\"\n\t\t\"apps\"\n\t\t{\n\t\t\t\"22320\"\t\t\"1024\"\n\t\t}\n\t}\n}\n");
    // Were the size taken for a library, it would name this folder (relative to where qvr
    // runs).
    Game("1024/steamapps/common/Morrowind/Data Files");
    const fs::path before = fs::current_path();
    fs::current_path(dir);
    Result r = Run({"where"});
    Result json = Run({"where", "--json"});
    fs::current_path(before);
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(r.Out, steam + "/\n    remembered by QVRInstaller\n    Steam: " +
                         P("home/.steam/steam") + "\n");
    EXPECT_EQ(json.Code, 0) << json.Err;
    ExpectFields(json.Out, {"\"folder\": \"" + steam + "/\"",
                            "{\"source\": \"remembered by QVRInstaller\", \"origin\": \"\"}",
                            "{\"source\": \"Steam\", \"origin\": \"" + P("home/.steam/steam")});
    EXPECT_EQ(std::count(json.Out.begin(), json.Out.end(), '\n'), 3) << json.Out; // [ {..} ]

    // None found: an empty list, and the exit status that says so.
    fs::remove_all(dir / "home");
    json = Run({"where", "--json"});
    EXPECT_EQ(json.Code, 1);
    EXPECT_EQ(json.Out, "[]\n");
}

TEST_F(Finding, InstalledAsJsonListsEveryRecordedInstall) {
    const std::string data = Game("data");
    Remember(data);
    WriteAll(dir / "mod" / "Mod.esp", "plug-in");
    WriteAll(dir / "mod" / "Meshes" / "m.nif", "mesh");
    ASSERT_EQ(Run({"-q", "create", P("mod.qvr"), "--name", "My \"Mod\"", P("mod")}).Code, 0);
    Result r = Run({"installed", "--json"});
    EXPECT_EQ(r.Code, 0) << r.Err;
    ExpectFields(r.Out, {"\"data_folder\": \"" + data + "\"", "\"installs\": []"});
    ASSERT_EQ(Run({"-q", "install", P("mod.qvr")}).Code, 0);
    r = Run({"installed", "--json"});
    EXPECT_EQ(r.Code, 0) << r.Err;
    ExpectFields(r.Out, {"{\"name\": \"My \\\"Mod\\\"\", \"version\": \"1.0\", \"files\": 2, "
                         "\"installed_utc\": \"",
                         "\"archive\": \"mod.qvr\", \"interrupted\": false}"});
}

// create - names its package after the file standard output goes to (its information entry
// carries that name), else after the folder, and never reports the temporary path it built in.
TEST_F(Tool, CreateToStandardOutputNamesThePackageForWhereItGoes) {
    WriteAll(dir / "My Mod" / "Mod.esp", "plug-in");
    fs::create_directories(dir / "tmp");
    // qvr with its arguments, then what the shell does with its standard output.
    auto shell = [&](const std::string& args, const std::string& output) {
        const std::string command = "cd " + Quote(dir.string()) + " && TMPDIR=" + Quote(P("tmp")) +
                                    " " + Quote(QVR_EXE) + " " + args + " 2> err.txt " + output;
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    ASSERT_EQ(shell("create - 'My Mod'", "> saved.qvr"), 0);
    std::string err = ReadAll(dir / "err.txt");
    EXPECT_EQ(err, "Created saved.qvr (standard output): 1 file, 7 bytes packed into " +
                       std::to_string(fs::file_size(dir / "saved.qvr")) + "\n");
    Result r = Run({"info", P("saved.qvr")});
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_TRUE(Contains(r.Out, "Name:          saved.qvr\n")) << r.Out;

    ASSERT_EQ(shell("create - 'My Mod'", "| cat > piped.qvr"), 0);
    err = ReadAll(dir / "err.txt");
    EXPECT_TRUE(Contains(err, "named My Mod.qvr")) << err;
    EXPECT_TRUE(Contains(err, "Created My Mod.qvr (standard output)")) << err;
    EXPECT_FALSE(Contains(err, P("tmp"))) << err;
    fs::rename(dir / "piped.qvr", dir / "My Mod.qvr");
    EXPECT_EQ(Run({"verify", P("My Mod.qvr")}).Code, 0);
    EXPECT_TRUE(Contains(Run({"info", P("My Mod.qvr")}).Out, "Name:          My Mod.qvr\n"));
    // Made only once standard output has taken it.
    EXPECT_NE(shell("create - 'My Mod'", "> /dev/full"), 0);
    err = ReadAll(dir / "err.txt");
    EXPECT_FALSE(Contains(err, "Created")) << err;
    EXPECT_TRUE(Contains(err, "could not be written")) << err;
    EXPECT_TRUE(fs::is_empty(dir / "tmp"));
}
#endif

} // namespace
