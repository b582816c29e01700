// qvr run as a program on real folders: its output, its exit status and what it leaves on disk.

#include "qvr/Archives.h"
#include "qvr/FileUtils.h"
#include "qvr/modCompression.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#ifndef __linux__
#include "WineSkip.h"
#endif
#ifdef __linux__
#include <cerrno>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string Bytes(size_t n, unsigned seed, bool compressible = true) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = compressible && i % 5 ? static_cast<char>('a' + (i / 11) % 26)
                                     : static_cast<char>(rng() & 0xFF);
    return s;
}

std::string Le32(int32_t v) {
    std::string s(4, '\0');
    for (int k = 0; k < 4; ++k)
        s[k] = static_cast<char>((static_cast<uint32_t>(v) >> (8 * k)) & 0xFF);
    return s;
}

// An archive written byte by byte, so that it can hold what no writer of ours would produce.
std::string RawArchive(const std::vector<std::array<std::string, 3>>& entries) {
    std::string blocks, directory;
    int32_t offset = 11;
    for (const auto& [path, name, content] : entries) {
        std::vector<unsigned char> data(content.begin(), content.end());
        qvr::CompressBytes(data, 9);
        std::string block =
            Le32(static_cast<int32_t>(content.size())) + std::string(data.begin(), data.end());
        directory += Le32(offset) + Le32(static_cast<int32_t>(block.size())) + name + '\0' + path +
                     '\0' + "1/1/2000 0:0:0" + '\0' + std::to_string(content.size()) + '\0' +
                     "01/01/00 00:00:00" + '\0';
        blocks += block;
        offset += static_cast<int32_t>(block.size());
    }
    return "QVR1.0" + Le32(offset) + blocks + directory;
}

std::string Quote(const std::string& arg) {
#ifdef _WIN32
    return "\"" + arg + "\"";
#else
    std::string out = "'";
    for (char c : arg)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
#endif
}

void SetEnv(const char* name, const char* value) {
#ifdef _WIN32
    _putenv_s(name, value ? value : "");
#else
    if (value)
        setenv(name, value, 1);
    else
        unsetenv(name);
#endif
}

struct Result {
    int Code = -1;
    std::string Out, Err;
};

class Tool : public ::testing::Test {
protected:
    void SetUp() override {
        static std::atomic<int> counter{0};
        dir = fs::temp_directory_path() /
              ("qvr-tool-" +
               std::to_string(std::chrono::steady_clock::now().time_since_epoch().count() %
                              1000000007) +
               "-" + std::to_string(counter++));
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override {
        SetEnv("SOURCE_DATE_EPOCH", nullptr);
        std::error_code ec;
        fs::remove_all(dir, ec);
    }

    // Runs qvr with no terminal on standard input.
    Result Run(const std::vector<std::string>& args) {
        std::string command = Quote(QVR_EXE);
        for (const auto& a : args)
            command += " " + Quote(a);
        const fs::path out = dir / "stdout.txt", err = dir / "stderr.txt";
#ifdef _WIN32
        command = "\"" + command + " > " + Quote(out.string()) + " 2> " + Quote(err.string()) +
                  " < NUL\"";
#else
        command += " > " + Quote(out.string()) + " 2> " + Quote(err.string()) + " < /dev/null";
#endif
#ifdef _WIN32
        // The narrow form would pass the arguments through the ANSI code page.
        int status =
            _wsystem(fs::path(std::u8string(command.begin(), command.end())).wstring().c_str());
#else
        int status = std::system(command.c_str());
#endif
        Result r;
#ifdef _WIN32
        r.Code = status;
#else
        r.Code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
        r.Out = ReadAll(out);
        r.Err = ReadAll(err);
#ifdef _WIN32
        // Text written on Windows ends its lines in CR LF; compare the lines themselves.
        for (std::string* text : {&r.Out, &r.Err})
            for (size_t at; (at = text->find("\r\n")) != std::string::npos;)
                text->erase(at, 1);
#endif
        return r;
    }

#ifdef __linux__
    // Runs qvr on a terminal of its own, answering each time the output so far shows the
    // next expected prompt text. Returns everything the terminal showed.
    Result RunOnTerminal(const std::vector<std::string>& args,
                         const std::vector<std::pair<std::string, std::string>>& dialogue) {
        int master = -1;
        pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
        if (pid == 0) {
            std::vector<char*> argv;
            std::string exe = QVR_EXE;
            argv.push_back(exe.data());
            std::vector<std::string> copy = args;
            for (auto& a : copy)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(exe.c_str(), argv.data());
            _exit(127);
        }
        Result r;
        size_t step = 0, answeredAt = 0;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        for (;;) {
            pollfd p{master, POLLIN, 0};
            if (std::chrono::steady_clock::now() > deadline || poll(&p, 1, 200) < 0)
                break;
            if (p.revents & (POLLIN | POLLHUP)) {
                char buf[4096];
                ssize_t n = read(master, buf, sizeof buf);
                if (n <= 0)
                    break; // the program has ended
                r.Out.append(buf, static_cast<size_t>(n));
            }
            if (step < dialogue.size() &&
                r.Out.find(dialogue[step].first, answeredAt) != std::string::npos) {
                answeredAt = r.Out.size();
                std::string line = dialogue[step++].second + "\n";
                (void)!write(master, line.data(), line.size());
            }
        }
        close(master);
        int status = 0;
        waitpid(pid, &status, 0);
        r.Code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return r;
    }
#endif

    std::string P(const std::string& rel) const {
#ifdef _WIN32
        // UTF-8 both ways: the narrow forms would go through the ANSI code page.
        auto u8 = (dir / std::u8string(rel.begin(), rel.end())).u8string();
        return std::string(u8.begin(), u8.end());
#else
        return (dir / rel).string();
#endif
    }

    // A plug-in folder laid out like the data folder.
    std::map<std::string, std::string> MakePlugin(const std::string& rel) {
        std::map<std::string, std::string> files = {
            {"Mod.esp", Bytes(50000, 1)},
            {"Meshes/Armor/x.nif", Bytes(7000, 2)},
            {"Textures/x.nif", Bytes(300, 3)},
            {"Sound/Fx/a b.wav", Bytes(12000, 4)},
            {"Textures/big.dds", Bytes(2'500'000, 5, false)},
            {"BookArt/\xC3\xBC.tga", Bytes(900, 6)},
        };
        for (const auto& [name, content] : files)
            WriteAll(dir / rel / fs::path(std::u8string(name.begin(), name.end())), content);
        return files;
    }

    static qvr::Archives Opened(const std::string& path) {
        qvr::Archives arc;
        arc.OpenArchive(path);
        return arc;
    }

    fs::path dir;
};

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST_F(Tool, PackListShowInstallVerifyAndUninstallAPlugin) {
    auto files = MakePlugin("plugin");
    WriteAll(dir / "notes.txt", "First line\nSecond line\n");
    Result r = Run({"create", P("mod.qvr"), "--name", "My Mod", "--authors", "A & B",
                    "--notes-file", P("notes.txt"), P("plugin")});
    ASSERT_EQ(r.Code, 0) << r.Err;

    r = Run({"list", P("mod.qvr")});
    EXPECT_EQ(r.Code, 0) << r.Err;
    for (const char* shown : {"mod.qvr.ifo", "Meshes\\Armor\\x.nif", "Textures\\x.nif",
                              "Sound\\Fx\\a b.wav", "BookArt\\\xC3\xBC.tga", "7 entries"})
        EXPECT_TRUE(Contains(r.Out, shown)) << shown << "\n" << r.Out;

    r = Run({"info", P("mod.qvr")});
    EXPECT_EQ(r.Code, 0) << r.Err;
    for (const char* shown : {"My Mod", "1.0", "A & B", "First line\nSecond line"})
        EXPECT_TRUE(Contains(r.Out, shown)) << shown << "\n" << r.Out;

    // The library sees the package as the packager leaves one: info entry first, notes in CR LF.
    qvr::Archives arc = Opened(P("mod.qvr"));
    ASSERT_EQ(arc.ArchiveFiles.size(), 7u);
    EXPECT_TRUE(arc.IsInfoEntry(arc.ArchiveFiles[0]));
    qvr::sgPlugInfo info;
    ASSERT_TRUE(info.GetPluginData(arc, "mod.qvr"));
    EXPECT_EQ(info.Notes(), "First line\r\nSecond line\r\n");
    EXPECT_EQ(info.Version(), "1.0");

    r = Run({"verify", P("mod.qvr")});
    EXPECT_EQ(r.Code, 0) << r.Out << r.Err;

    // A folder that was there before the install stays after the removal (those the install
    // made go again when empty).
    fs::create_directories(dir / "Data Files" / "Sound" / "Fx");
    r = Run({"install", P("mod.qvr"), P("Data Files")});
    ASSERT_EQ(r.Code, 0) << r.Err;
    for (const auto& [name, content] : files)
        EXPECT_EQ(ReadAll(dir / "Data Files" / fs::path(std::u8string(name.begin(), name.end()))),
                  content)
            << name;
    EXPECT_FALSE(fs::exists(dir / "Data Files" / "mod.qvr.ifo"));

    // Without a terminal, removal needs --yes and deletes nothing until given it.
    r = Run({"uninstall", P("mod.qvr"), P("Data Files")});
    EXPECT_EQ(r.Code, 2);
    EXPECT_TRUE(Contains(r.Err, "--yes"));
    EXPECT_TRUE(Contains(r.Err, P("mod.qvr"))) << r.Err; // which archive, which folder
    EXPECT_TRUE(Contains(r.Err, P("Data Files"))) << r.Err;
    EXPECT_TRUE(fs::exists(dir / "Data Files" / "Mod.esp"));

    WriteAll(dir / "Data Files" / "Meshes" / "Armor" / "theirs.nif", "not ours");
    r = Run({"uninstall", "--yes", P("mod.qvr"), P("Data Files")});
    EXPECT_EQ(r.Code, 0) << r.Err;
    size_t left = 0;
    for (auto& e : fs::recursive_directory_iterator(dir / "Data Files"))
        left += e.is_regular_file() ? 1 : 0;
    EXPECT_EQ(left, 1u);
    EXPECT_TRUE(fs::is_directory(dir / "Data Files" / "Sound" / "Fx"));
}

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
        ASSERT_TRUE(lib.AddFileToArchive(s, e.FileName(), e.FilePath())) << lib.LastError;
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
    EXPECT_TRUE(Contains(r.Err, "Nothing\\here.nif")) << r.Err;
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
    r = Run({"uninstall", "--yes", P("evil.qvr"), P("game/Data Files")});
    EXPECT_EQ(r.Code, 1);
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
                                               {"verify", P("ctl.qvr")},
                                               {"-v", "install", P("ctl.qvr"), P("ctl data")}}) {
        r = Run(args);
        for (const std::string* text : {&r.Out, &r.Err}) {
            EXPECT_EQ(text->find_first_of("\x1B\x07"), std::string::npos) << args[0] << *text;
            EXPECT_EQ(text->find("\xC2\x9B"), std::string::npos) << args[0] << *text;
        }
        EXPECT_NE((r.Out + r.Err).find("?"), std::string::npos) << args[0] << r.Out << r.Err;
    }
    EXPECT_TRUE(Contains(Run({"info", P("ctl.qvr")}).Out, "line one\n")); // line breaks stay
}

TEST_F(Tool, DamagedAndForeignFilesGiveClearErrorsAndExitCodes) {
    WriteAll(dir / "base" / "Mod.esp", Bytes(40000, 9));
    WriteAll(dir / "base" / "Meshes" / "x.nif", Bytes(4000, 8));
    ASSERT_EQ(Run({"create", P("good.qvr"), P("base")}).Code, 0);
    const std::string good = ReadAll(dir / "good.qvr");
    qvr::Archives arc = Opened(P("good.qvr"));

    // A spoilt byte inside one block: verify names the entry, install fails just that entry.
    std::string spoilt = good;
    spoilt[arc.ArchiveFiles[1].FileOffset() - 1 + 40] ^= 0x5A;
    WriteAll(dir / "spoilt.qvr", spoilt);
    Result r = Run({"verify", P("spoilt.qvr")});
    EXPECT_EQ(r.Code, 1);
    EXPECT_TRUE(Contains(r.Out, "Mod.esp")) << r.Out;
    EXPECT_FALSE(Contains(r.Out, "x.nif")) << r.Out;
    r = Run({"install", P("spoilt.qvr"), P("data")});
    EXPECT_EQ(r.Code, 1);
    EXPECT_TRUE(Contains(r.Err, "Mod.esp")) << r.Err;
    EXPECT_FALSE(fs::exists(dir / "data" / "Mod.esp"));
    EXPECT_TRUE(fs::exists(dir / "data" / "Meshes" / "x.nif"));

    // A directory cut short: verify reports it, the others refuse to act on it.
    WriteAll(dir / "cut.qvr", good.substr(0, good.size() - 30));
    r = Run({"verify", P("cut.qvr")});
    EXPECT_EQ(r.Code, 1);
    EXPECT_TRUE(Contains(r.Out, "problem")) << r.Out;
    r = Run({"install", P("cut.qvr"), P("data2")});
    EXPECT_EQ(r.Code, 2);
    EXPECT_TRUE(Contains(r.Err, "cut.qvr")) << r.Err;
    EXPECT_FALSE(fs::exists(dir / "data2"));
    EXPECT_EQ(Run({"add", P("cut.qvr"), P("base/Mod.esp")}).Code, 2);
    EXPECT_EQ(ReadAll(dir / "cut.qvr"), good.substr(0, good.size() - 30));

    // A block that inflates far past its recorded size is given up as soon as it passes it.
    {
        std::vector<unsigned char> zeros(1 << 20, 0);
        qvr::CompressBytes(zeros, 9);
        const std::string block = Le32(10) + std::string(zeros.begin(), zeros.end());
        const std::string record = Le32(11) + Le32(static_cast<int32_t>(block.size())) +
                                   std::string("bomb.esp\0\0", 10) + "1/1/2000 0:0:0" + '\0' +
                                   "10" + '\0' + "x" + '\0';
        WriteAll(dir / "bomb.qvr",
                 "QVR1.0" + Le32(11 + static_cast<int32_t>(block.size())) + block + record);
        r = Run({"verify", P("bomb.qvr")});
        EXPECT_EQ(r.Code, 1);
        EXPECT_TRUE(Contains(r.Out, "bomb.esp: it decompresses to more than the 10 bytes"))
            << r.Out;
    }

    // A damaged information entry is called damaged, not missing, and can be written anew.
    {
        std::string raw = RawArchive(
            {{"", "inf.qvr.ifo", std::string("Name\0V1\0\0\0\0\0", 13)}, {"", "a.esp", "a"}});
        raw[10 + 4 + 6] ^= 0x5A;
        WriteAll(dir / "inf.qvr", raw);
        r = Run({"info", P("inf.qvr")});
        EXPECT_EQ(r.Code, 1);
        EXPECT_TRUE(Contains(r.Err, "cannot be read")) << r.Err;
        EXPECT_FALSE(Contains(r.Err, "holds no plug-in information")) << r.Err;
        r = Run({"set-info", P("inf.qvr"), "--version", "2"});
        EXPECT_EQ(r.Code, 0) << r.Err;
        EXPECT_TRUE(Contains(r.Err, "cannot be read")) << r.Err;
        EXPECT_EQ(Run({"verify", P("inf.qvr")}).Code, 0);
    }

    // Not an archive, or no file at all.
    WriteAll(dir / "text.qvr", "just some text");
    for (const char* cmd : {"list", "info", "verify"}) {
        r = Run({cmd, P("text.qvr")});
        EXPECT_EQ(r.Code, 2) << cmd;
        EXPECT_TRUE(Contains(r.Err, "text.qvr")) << cmd << r.Err;
        EXPECT_EQ(Run({cmd, P("missing.qvr")}).Code, 2) << cmd;
    }

    // A plain zip file is listed but never installed.
    std::string zip = "PK\x03\x04" + std::string("\x14\x00", 2) + std::string(8, '\0') + Le32(0) +
                      Le32(3) + Le32(3) + std::string("\x0F\x00\x00\x00", 4) + "Textures/ab.dds" +
                      "abc" + "PK\x01\x02" + std::string(40, '\0');
    WriteAll(dir / "plain.zip", zip);
    r = Run({"list", P("plain.zip")});
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_TRUE(Contains(r.Out, "Textures\\ab.dds")) << r.Out;
    r = Run({"install", P("plain.zip"), P("data3")});
    EXPECT_EQ(r.Code, 2);
    EXPECT_TRUE(Contains(r.Err, "zip")) << r.Err;
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

    r = RunOnTerminal({"uninstall", P("m.qvr"), P("data")}, {{"Continue? [Y/n]", "n"}});
    EXPECT_EQ(r.Code, 0) << r.Out;
    EXPECT_TRUE(fs::exists(dir / "data" / "Mod.esp"));
    // Yes is the default answer.
    r = RunOnTerminal({"uninstall", P("m.qvr"), P("data")}, {{"Continue? [Y/n]", ""}});
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

TEST_F(Tool, UsageErrorsExplainThemselves) {
    EXPECT_EQ(Run({}).Code, 2);
    Result r = Run({"frobnicate"});
    EXPECT_EQ(r.Code, 2);
    EXPECT_TRUE(Contains(r.Err, "frobnicate"));
    r = Run({"list", "--bogus", "x.qvr"});
    EXPECT_EQ(r.Code, 2);
    EXPECT_TRUE(Contains(r.Err, "--bogus"));
    EXPECT_EQ(Run({"create", "-j", "0", P("x.qvr"), P(".")}).Code, 2);
    EXPECT_EQ(Run({"-qj0", "list", P("x.qvr")}).Code, 2);
    r = Run({"-qx", "list", P("x.qvr")});
    EXPECT_EQ(r.Code, 2);
    EXPECT_TRUE(Contains(r.Err, "unknown option -x")) << r.Err;
    EXPECT_EQ(Run({"install", P("x.qvr")}).Code, 2);

    // A place that cannot be written is named once, plainly, before any work is done.
    WriteAll(dir / "plugin" / "a.esp", "a");
    WriteAll(dir / "plugin" / "Meshes" / "b.nif", "b");
    r = Run({"create", P("no folder/m.qvr"), P("plugin")});
    EXPECT_EQ(r.Code, 2);
    EXPECT_TRUE(Contains(r.Err, P("no folder/m.qvr") + ": cannot be written: there is no folder"))
        << r.Err;
    // The information entry is named after the archive, so the name must fit Windows-1252.
    r = Run({"create", P("\xE6\x97\xA5\xE6\x9C\xAC.qvr"), P("plugin")});
    EXPECT_EQ(r.Code, 2);
    EXPECT_TRUE(Contains(r.Err, "\xE6\x97\xA5\xE6\x9C\xAC.qvr.ifo would hold characters")) << r.Err;
    EXPECT_EQ(std::count(r.Err.begin(), r.Err.end(), '\n'), 1) << r.Err;
#ifdef __linux__
    r = Run({"create", P("x\xE9.qvr"), P("plugin")}); // a name in a legacy encoding
    EXPECT_EQ(r.Code, 2);
    EXPECT_TRUE(Contains(r.Err, "not valid UTF-8")) << r.Err;
#endif
    for (const std::string& nameless : {std::string(), P("out") + "/"}) {
        r = Run({"create", nameless, P("plugin")});
        EXPECT_EQ(r.Code, 2) << nameless;
        EXPECT_TRUE(Contains(r.Err, "must name a file")) << r.Err;
    }
    ASSERT_EQ(Run({"create", P("m.qvr"), P("plugin")}).Code, 0);
    r = Run({"-qv", "verify", P("m.qvr")}); // flags grouped before the command too
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(r.Out, "");
    WriteAll(dir / "a file", "x");
    r = Run({"install", P("m.qvr"), P("a file/Data Files")});
    EXPECT_EQ(r.Code, 2);
    EXPECT_TRUE(Contains(r.Err, P("a file/Data Files") + ": cannot be created")) << r.Err;
    EXPECT_EQ(std::count(r.Err.begin(), r.Err.end(), '\n'), 2) << r.Err; // the note and the error

    r = Run({"--help"});
    EXPECT_EQ(r.Code, 0);
    for (const char* cmd : {"list", "info", "create", "add", "remove", "set-info", "install",
                            "uninstall", "verify"}) {
        EXPECT_TRUE(Contains(r.Out, cmd)) << cmd;
        Result help = Run({cmd, "--help"});
        EXPECT_EQ(help.Code, 0) << cmd;
        EXPECT_TRUE(Contains(help.Out, std::string("usage: qvr ") + cmd)) << cmd;
    }
}

} // namespace
