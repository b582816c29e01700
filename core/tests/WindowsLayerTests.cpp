// What only Windows does: UTF-16 names, files that are read-only or held open, device names,
// and paths longer than MAX_PATH. Built into the Windows test program only.

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "TestSupport.h"
#include "WineSkip.h"
#include "qvr/format/detail/modCompression.h"
#include "qvr/install/Install.h"
#include "qvr/install/RecordedInstall.h"
#include "qvrtest/HandMade.h"

using namespace qvrtest;
using qvr::EntryOutcome;

namespace {

std::string ReadWide(const std::wstring& path) {
    std::ifstream in(fs::path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class WindowsLayer : public ArchiveTest {
protected:
    void OpenRaw(std::vector<RawEntry> entries) {
        entries.push_back({"", "pack.qvr.ifo", std::string(6, '\0')});
        WriteAll(Path("pack.qvr"), RawArchive(entries));
        ASSERT_TRUE(arc.OpenArchive(Path("pack.qvr")));
    }
    std::wstring Wide(const std::string& utf8) const {
        return fs::path(std::u8string(utf8.begin(), utf8.end())).wstring();
    }
    static bool Yes(const qvr::sgFileInfo&, const std::string&) { return true; }
};

TEST_F(WindowsLayer, Windows1252NamesBecomeTheirUtf16LettersInAnyDataFolder) {
    // "Été €.esp" in "Textures\Zoë", installed below a folder whose name Windows-1252 lacks.
    OpenRaw({{"Textures\\Zo\xEB", "\xC9t\xE9 \x80.esp", "accented"}});
    const std::string data = dir + "\\D\xC3\xA1ta \xE2\x9C\x93 \xF0\x9F\x90\x89";
    auto results = qvr::InstallArchive(arc, data, Yes);
    ASSERT_EQ(results[0].Outcome, EntryOutcome::Installed) << results[0].Message;
    const std::wstring expected = Wide(data) + L"\\Textures\\Zo\u00EB\\\u00C9t\u00E9 \u20AC.esp";
    EXPECT_EQ(ReadWide(expected), "accented");
    EXPECT_EQ(fs::path(expected), fs::path(Wide(results[0].Target)));

    results = qvr::RemoveInstalledFiles(arc, data);
    EXPECT_EQ(results[0].Outcome, EntryOutcome::Installed) << results[0].Message;
    EXPECT_FALSE(fs::exists(fs::path(expected)));
}

TEST_F(WindowsLayer, ReadOnlyFileIsNeitherReplacedNorDeletedAndSaysWhy) {
    OpenRaw({{"Meshes", "rock.nif", "new"}});
    WriteAll(dir + "/data/Meshes/rock.nif", "old");
    const std::wstring target = Wide(dir + "/data/Meshes/rock.nif");
    ASSERT_TRUE(::SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_READONLY));

    auto results = qvr::InstallArchive(arc, dir + "/data", Yes);
    EXPECT_EQ(results[0].Outcome, EntryOutcome::Failed);
    EXPECT_NE(results[0].Message.find("read-only"), std::string::npos) << results[0].Message;
    EXPECT_EQ(ReadWide(target), "old");

    // Removal only deletes a file that is the member's own; this one is, and is read-only.
    ::SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
    WriteAll(dir + "/data/Meshes/rock.nif", "new");
    ASSERT_TRUE(::SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_READONLY));
    results = qvr::RemoveInstalledFiles(arc, dir + "/data");
    EXPECT_EQ(results[0].Outcome, EntryOutcome::Failed);
    EXPECT_FALSE(results[0].Message.empty());
    EXPECT_EQ(ReadWide(target), "new");
    EXPECT_EQ(WorkFilesLeft(), 0u);
    ::SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
    for (auto& e : fs::directory_iterator(dir + "/data/Meshes"))
        EXPECT_EQ(e.path().filename(), fs::path("rock.nif")) << "a work file was left behind";
}

TEST_F(WindowsLayer, FileHeldOpenWithoutSharingIsKeptAndSaysWhy) {
    OpenRaw({{"", "plugin.esp", "new"}});
    WriteAll(dir + "/data/plugin.esp", "old");
    const std::wstring target = Wide(dir + "/data/plugin.esp");
    // Sharing modes belong to the handle, so this process stands in for the game holding it.
    HANDLE held = ::CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    auto results = qvr::InstallArchive(arc, dir + "/data", Yes);
    ::CloseHandle(held);
    EXPECT_EQ(results[0].Outcome, EntryOutcome::Failed);
    EXPECT_NE(results[0].Message.find("in use"), std::string::npos) << results[0].Message;
    EXPECT_EQ(ReadWide(target), "old");
}

TEST_F(WindowsLayer, DeviceNamesAndTrailingDotsOrBlanksNeverReachTheDisk) {
    OpenRaw({{"", "CON.esp", "a"},
             {"Meshes\\aux", "x.nif", "b"},
             {"", "name.", "c"},
             {"Textures ", "y.dds", "d"},
             {"", "com1", "e"}});
    auto results = qvr::InstallArchive(arc, dir + "/data", Yes);
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(results[i].Outcome, EntryOutcome::Refused) << i << " " << results[i].Message;
        EXPECT_FALSE(results[i].Message.empty());
    }
    // Windows would have dropped the dot and blank: "name" and "Textures" must not appear.
    std::error_code ec;
    for (auto& e : fs::recursive_directory_iterator(dir + "/data", ec))
        ADD_FAILURE() << "written: " << e.path().string();
}

// Windows finds a file in any letter case: an entry spelt otherwise replaces it, and the
// removal gives it back under the name it had.
TEST_F(WindowsLayer, AReplacedFileComesBackUnderItsOwnName) {
    const std::string data = dir + "\\data";
    WriteAll(data + "/Morrowind.esm", "master");
    WriteAll(data + "/Textures/a.dds", "old");
    OpenRaw({{"", "MORROWIND.ESM", "new master"}, {"TEXTURES", "A.DDS", "new"}});
    const qvr::InstallReport report = qvr::InstallRecorded(arc, data, Yes);
    ASSERT_TRUE(report.Outcome.Ok()) << report.Outcome.Message;
    EXPECT_EQ(ReadAll(data + "/Textures/a.dds"), "new");
    ASSERT_TRUE(qvr::RemoveByRecord(data, "pack.qvr").Outcome.Ok());
    std::vector<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(data))
        if (e.path().filename() != ".qvr-installed" &&
            e.path().parent_path().filename() != ".qvr-installed")
            names.push_back(fs::relative(e.path(), data).generic_string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Morrowind.esm", "Textures", "Textures/a.dds"}));
    EXPECT_EQ(ReadAll(data + "/Morrowind.esm"), "master");
}

TEST_F(WindowsLayer, PathsLongerThanMaxPathWork) {
    // A data folder that is itself longer than MAX_PATH: every path below it carries the
    // long-path prefix.
    std::string data = dir;
    while (data.size() < 300)
        data += "\\Data Files level";
    OpenRaw({{"Meshes\\Deep", "rock.nif", "long"}, {"", "plugin.esp", "top"}});
    auto results = qvr::InstallArchive(arc, data, Yes);
    ASSERT_EQ(results[0].Outcome, EntryOutcome::Installed) << results[0].Message;
    ASSERT_EQ(results[1].Outcome, EntryOutcome::Installed) << results[1].Message;
    EXPECT_EQ(results[0].Target, data + "\\Meshes\\Deep\\rock.nif");
    EXPECT_EQ(ReadWide(L"\\\\?\\" + Wide(results[0].Target)), "long");
    EXPECT_TRUE(qvr::FileExists(results[1].Target));

    results = qvr::RemoveInstalledFiles(arc, data);
    EXPECT_EQ(results[0].Outcome, EntryOutcome::Installed) << results[0].Message;
    EXPECT_FALSE(qvr::FileExists(data + "\\Meshes\\Deep\\rock.nif"));
}

TEST_F(WindowsLayer, ArchiveFolderLongerThanMaxPathCanBeWrittenAndRead) {
    std::string folder = dir;
    while (folder.size() < 300)
        folder += "\\Packages level";
    fs::create_directories(fs::path(L"\\\\?\\" + Wide(folder)));
    const std::string pack = folder + "\\pack.qvr";
    ASSERT_TRUE(Ok(arc.CreateArchive(pack)));
    ASSERT_TRUE(Ok(arc.AddFileToArchive(Source("a.esp", "content"), "a.esp", "")));
    qvr::Archives other;
    other.TempFolder = arc.TempFolder;
    ASSERT_TRUE(Ok(other.OpenArchive(pack)));
    ASSERT_EQ(other.ArchiveFiles.size(), 1u);
    EXPECT_TRUE(other.ExtractEntry(other.ArchiveFiles[0], folder + "\\out.esp", true));
    EXPECT_EQ(ReadWide(L"\\\\?\\" + Wide(folder + "\\out.esp")), "content");
}

} // namespace

#endif
