// Installing an archive into a data folder and removing it again.

#include "TestSupport.h"
#include "qvr/format/detail/modCompression.h"
#include "qvr/install/Install.h"
#include "qvr/install/RecordedInstall.h"
#include "qvr/package/detail/Internal.h"
#include "qvrtest/HandMade.h"

#include <algorithm>
#include <map>

using namespace qvrtest;
using qvr::EntryOutcome;

namespace {

class Install : public ArchiveTest {
protected:
    // Opens an archive named pack.qvr holding entries plus its info entry.
    void OpenRaw(std::vector<RawEntry> entries) {
        entries.push_back({"", "pack.qvr.ifo", std::string(6, '\0')});
        WriteAll(Path("pack.qvr"), RawArchive(entries));
        ASSERT_TRUE(arc.OpenArchive(Path("pack.qvr")));
    }
    std::string Data(const std::string& rel = "") const {
        return rel.empty() ? dir + "/data" : dir + "/data/" + rel;
    }
    static qvr::OverwriteQuestion Always(bool answer, int* asked = nullptr) {
        return [=](const qvr::sgFileInfo&, const std::string&) {
            if (asked)
                ++*asked;
            return answer;
        };
    }
};

TEST_F(Install, EveryEntryLandsBelowItsFolderAndFoldersAreCreated) {
    OpenRaw({{"", "plugin.esp", "esp bytes"},
             {"Meshes\\armor\\deep", "x.nif", MixedBytes(3000, 1)},
             {"Textures", "x.nif", "same name, other folder"}});
    std::vector<std::pair<EntryOutcome, size_t>> steps;
    auto results = qvr::InstallArchive(arc, Data("new/level"), Always(false),
                                       [&](const qvr::EntryResult& r, size_t done, size_t count) {
                                           EXPECT_EQ(count, 4u);
                                           steps.emplace_back(r.Outcome, done);
                                       });
    ASSERT_EQ(results.size(), 4u);
    EXPECT_EQ(ReadAll(Data("new/level/plugin.esp")), "esp bytes");
    EXPECT_EQ(ReadAll(Data("new/level/Meshes/armor/deep/x.nif")), MixedBytes(3000, 1));
    EXPECT_EQ(ReadAll(Data("new/level/Textures/x.nif")), "same name, other folder");
    // The info entry is counted as a step but never written.
    ASSERT_EQ(steps.size(), 4u);
    EXPECT_EQ(steps[3].first, EntryOutcome::InfoEntry);
    EXPECT_EQ(steps[3].second, 4u);
    EXPECT_FALSE(fs::exists(Data("new/level/pack.qvr.ifo")));
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(results[i].Outcome, EntryOutcome::Installed) << results[i].Message;
    EXPECT_EQ(WorkFilesLeft(), 0u);
}

TEST_F(Install, InfoEntryIsRecognisedWhateverItsLetterCase) {
    WriteAll(Path("pack.qvr"),
             RawArchive({{"", "PACK.QVR.IFO", std::string(6, '\0')}, {"", "a.esp", "a"}}));
    ASSERT_TRUE(arc.OpenArchive(Path("pack.qvr")));
    auto results = qvr::InstallArchive(arc, Data(), {});
    EXPECT_EQ(results[0].Outcome, EntryOutcome::InfoEntry);
    EXPECT_FALSE(fs::exists(Data("PACK.QVR.IFO")));
    EXPECT_EQ(results[1].Outcome, EntryOutcome::Installed);
}

// A package renamed after packing, even one with two candidates, never installs one.
TEST_F(Install, NoInformationEntryIsWrittenIntoTheDataFolder) {
    WriteAll(Path("pack 1.1.qvr"),
             RawArchive({{"", "Pack.qvr.ifo", std::string(6, '\0')}, {"", "a.esp", "a"}}));
    ASSERT_TRUE(arc.OpenArchive(Path("pack 1.1.qvr")));
    auto results = qvr::InstallArchive(arc, Data(), {});
    EXPECT_EQ(results[0].Outcome, EntryOutcome::InfoEntry);
    EXPECT_EQ(results[1].Outcome, EntryOutcome::Installed);
    WriteAll(Path("pack 2.qvr"), RawArchive({{"", "a.qvr.ifo", std::string(6, '\0')},
                                             {"", "b.qvr.ifo", std::string(6, '\0')}}));
    ASSERT_TRUE(arc.OpenArchive(Path("pack 2.qvr")));
    results = qvr::InstallArchive(arc, Data(), {});
    for (const auto& r : results)
        EXPECT_EQ(r.Outcome, EntryOutcome::InfoEntry) << r.Entry.FileName();
    EXPECT_FALSE(fs::exists(Data("Pack.qvr.ifo")));
    EXPECT_FALSE(fs::exists(Data("a.qvr.ifo")));
    EXPECT_FALSE(fs::exists(Data("b.qvr.ifo")));
}

TEST_F(Install, ExistingFilesFollowTheAnswerAndEmptyOnesAreReplacedUnasked) {
    OpenRaw({{"", "keep.esp", "new keep"},
             {"", "replace.esp", "new replace"},
             {"", "empty.esp", "new empty"}});
    WriteAll(Data("keep.esp"), "old keep");
    WriteAll(Data("replace.esp"), "old replace");
    WriteAll(Data("empty.esp"), "");
    std::vector<std::string> asked;
    auto results =
        qvr::InstallArchive(arc, Data(), [&](const qvr::sgFileInfo& e, const std::string& target) {
            asked.push_back(e.FileName());
            EXPECT_TRUE(fs::exists(target));
            return e.FileName() == "replace.esp";
        });
    EXPECT_EQ(asked, (std::vector<std::string>{"keep.esp", "replace.esp"}));
    EXPECT_EQ(ReadAll(Data("keep.esp")), "old keep");
    EXPECT_EQ(results[0].Outcome, EntryOutcome::Skipped);
    EXPECT_NE(results[0].Message.find("keep.esp"), std::string::npos);
    EXPECT_EQ(ReadAll(Data("replace.esp")), "new replace");
    EXPECT_EQ(ReadAll(Data("empty.esp")), "new empty");

    // Without anyone to ask, existing files are kept.
    WriteAll(Data("keep.esp"), "old keep");
    auto again = qvr::InstallFile(arc, arc.ArchiveFiles[0], Data(), {});
    EXPECT_EQ(again.Outcome, EntryOutcome::Skipped);
    EXPECT_EQ(ReadAll(Data("keep.esp")), "old keep");
}

#ifndef _WIN32
TEST_F(Install, ExistingFoldersAndFilesUnderAnotherLetterCaseAreReused) {
    OpenRaw({{"MESHES\\Armor", "X.nif", "new"}, {"Meshes\\armor", "y.nif", "y"}});
    fs::create_directories(Data("meshes/ARMOR"));
    WriteAll(Data("meshes/ARMOR/x.NIF"), "old");
    WriteAll(Data("Morrowind.ESM"), "");
    EXPECT_TRUE(qvr::HasMorrowindEsm(Data())); // as a game folder is found: an empty one counts
    WriteAll(Data("Morrowind.ESM"), "master");
    EXPECT_EQ(qvr::FindCaseInsensitive(Data(), "MESHES"), Data("meshes"));
    EXPECT_EQ(qvr::FindCaseInsensitive(Data(), "nothing"), "");

    std::string askedFor;
    auto results =
        qvr::InstallArchive(arc, Data(), [&](const qvr::sgFileInfo&, const std::string& target) {
            askedFor = target;
            return true;
        });
    EXPECT_EQ(askedFor, Data("meshes/ARMOR/x.NIF"));
    EXPECT_EQ(ReadAll(Data("meshes/ARMOR/x.NIF")), "new");
    EXPECT_EQ(ReadAll(Data("meshes/ARMOR/y.nif")), "y");
    // No second spelling of any folder or file was made.
    size_t top = 0;
    for (auto& e : fs::directory_iterator(Data()))
        (void)e, ++top;
    EXPECT_EQ(top, 2u); // meshes and Morrowind.ESM
    EXPECT_FALSE(fs::exists(Data("meshes/ARMOR/X.nif")));

    // Removal finds them the same way.
    auto removed = qvr::RemoveInstalledFiles(arc, Data());
    EXPECT_EQ(removed[0].Outcome, EntryOutcome::Installed);
    EXPECT_EQ(removed[1].Outcome, EntryOutcome::Installed);
    EXPECT_FALSE(fs::exists(Data("meshes/ARMOR/x.NIF")));
    EXPECT_TRUE(fs::is_directory(Data("meshes/ARMOR")));
}
#endif

#ifndef _WIN32
// Folders are listed once and answered from the listing: the exact spelling still wins over
// another spelling of the same name, and the same one of several is taken every time.
TEST_F(Install, ANameSpeltTwoWaysResolvesToTheExactOneElseTheSameOne) {
    fs::create_directories(Data("Meshes"));
    fs::create_directories(Data("meshes"));
    const struct {
        const char* Asked;
        const char* Found; // "" for none
    } cases[] = {{"meshes", "meshes"},
                 {"Meshes", "Meshes"},
                 {"MESHES", "Meshes"},
                 {"mEsHeS", "Meshes"},
                 {"textures", ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Asked);
        EXPECT_EQ(qvr::FindCaseInsensitive(Data(), c.Asked),
                  *c.Found ? Data(c.Found) : std::string());
    }
    EXPECT_EQ(qvr::FindCaseInsensitive(Data("absent"), "meshes"), "");
}
#endif

TEST_F(Install, EntriesThatWouldLeaveTheDataFolderAreRefusedAndTheRestGoOn) {
    OpenRaw({{"..\\..", "evil.esp", "evil"},
             {"Meshes\\..\\..", "evil2.esp", "evil"},
             {"", "..", "evil"},
             {"C:\\Windows", "evil3.esp", "evil"},
             {"Meshes/../..", "evil.esp", "evil"},
             {"", "../evil.esp", "evil"},
             {"", "good.esp", "good"}});
    WriteAll(Path("evil.esp"), "precious");
    auto results = qvr::InstallArchive(arc, Data(), Always(true));
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(results[i].Outcome, EntryOutcome::Refused) << i;
        EXPECT_NE(results[i].Message.find(results[i].Entry.FileName()), std::string::npos)
            << results[i].Message;
        EXPECT_EQ(results[i].Target, "");
    }
    EXPECT_EQ(results[6].Outcome, EntryOutcome::Installed);
    EXPECT_EQ(ReadAll(Path("evil.esp")), "precious");
    EXPECT_FALSE(fs::exists(Path("evil2.esp")));
    EXPECT_FALSE(fs::exists(fs::path(dir).parent_path() / "evil.esp"));
    std::string target;
    const qvr::Result refused = qvr::TargetPath(Data(), results[0].Entry, target);
    EXPECT_FALSE(refused);
    EXPECT_FALSE(refused.Message.empty());
    EXPECT_EQ(target, "");

    // Removal refuses them too: the file outside stays.
    auto removed = qvr::RemoveInstalledFiles(arc, Data());
    EXPECT_EQ(removed[0].Outcome, EntryOutcome::Refused);
    EXPECT_EQ(ReadAll(Path("evil.esp")), "precious");
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(removed[i].Outcome, EntryOutcome::Refused) << i;
    EXPECT_EQ(removed[6].Outcome, EntryOutcome::Installed);
}

TEST_F(Install, FailuresNameTheEntryAndDoNotStopTheOthers) {
    OpenRaw({{"Meshes", "x.nif", "x"}, {"", "folder.esp", "f"}, {"", "ok.esp", "ok"}});
    WriteAll(Data("Meshes"), "a file where a folder belongs");
    fs::create_directories(Data("folder.esp"));
    auto results = qvr::InstallArchive(arc, Data(), Always(true));
    EXPECT_EQ(results[0].Outcome, EntryOutcome::Failed);
    EXPECT_NE(results[0].Message.find("Meshes\\x.nif"), std::string::npos) << results[0].Message;
    EXPECT_EQ(results[1].Outcome, EntryOutcome::Failed);
    EXPECT_NE(results[1].Message.find("folder.esp"), std::string::npos);
    EXPECT_EQ(results[2].Outcome, EntryOutcome::Installed);
    EXPECT_EQ(ReadAll(Data("Meshes")), "a file where a folder belongs");

    // A zip file is listed only; nothing is written from it.
    qvr::detail::ArchivesAccess::Zip(arc) = true;
    auto zip = qvr::InstallFile(arc, arc.ArchiveFiles[2], Data("z"), Always(true));
    EXPECT_EQ(zip.Outcome, EntryOutcome::Failed);
    EXPECT_FALSE(fs::exists(Data("z/ok.esp")));
}

TEST_F(Install, DamagedEntryFailsAndLeavesTheExistingFileWhole) {
    OpenRaw({{"", "a.esp", MixedBytes(5000, 2)}, {"", "b.esp", "b"}});
    // Spoil the first block's stream.
    std::string bytes = ReadAll(Path("pack.qvr"));
    bytes[11 + 4 + 20] ^= 0x55;
    WriteAll(Path("pack.qvr"), bytes);
    WriteAll(Data("a.esp"), "old a");
    auto results = qvr::InstallArchive(arc, Data(), Always(true));
    EXPECT_EQ(results[0].Outcome, EntryOutcome::Failed);
    EXPECT_EQ(ReadAll(Data("a.esp")), "old a");
    EXPECT_EQ(results[1].Outcome, EntryOutcome::Installed);
}

TEST_F(Install, RemovalDeletesListedFilesOnlyAndKeepsFoldersAndEmptyFiles) {
    OpenRaw({{"", "plugin.esp", "p"},
             {"Meshes", "x.nif", "x"},
             {"Meshes", "empty.nif", "e"},
             {"Meshes", "absent.nif", "a"}});
    qvr::InstallArchive(arc, Data(), Always(true));
    WriteAll(Data("Meshes/empty.nif"), "");
    fs::remove(Data("Meshes/absent.nif"));
    WriteAll(Data("Meshes/other.nif"), "someone else's");
    WriteAll(Data("pack.qvr.ifo"), "not ours to touch");

    std::vector<size_t> progress;
    auto results =
        qvr::RemoveInstalledFiles(arc, Data(), [&](const qvr::EntryResult&, size_t done, size_t) {
            progress.push_back(done);
        });
    EXPECT_EQ(progress, (std::vector<size_t>{1, 2, 3, 4, 5}));
    EXPECT_EQ(results[0].Outcome, EntryOutcome::Installed);
    EXPECT_EQ(results[1].Outcome, EntryOutcome::Installed);
    EXPECT_EQ(results[2].Outcome, EntryOutcome::Skipped);
    EXPECT_EQ(results[3].Outcome, EntryOutcome::Skipped);
    EXPECT_EQ(results[4].Outcome, EntryOutcome::InfoEntry);
    EXPECT_FALSE(fs::exists(Data("plugin.esp")));
    EXPECT_FALSE(fs::exists(Data("Meshes/x.nif")));
    EXPECT_TRUE(fs::exists(Data("Meshes/empty.nif")));
    EXPECT_EQ(ReadAll(Data("Meshes/other.nif")), "someone else's");
    EXPECT_EQ(ReadAll(Data("pack.qvr.ifo")), "not ours to touch");
    EXPECT_TRUE(fs::is_directory(Data("Meshes")));
}

// Members inflated ahead on other threads give what one thread gives: the same files, and the
// same outcome and message for every entry, damaged, refused and blocked ones in the middle
// included, in archive order.
TEST_F(Install, ThreadsInstallExactlyWhatOneThreadInstalls) {
    std::vector<RawEntry> entries;
    for (int k = 0; k < 40; ++k)
        entries.push_back({k % 3 ? "Meshes\\m" + std::to_string(k % 5) : "",
                           "f" + std::to_string(k) + ".nif",
                           MixedBytes(k % 7 == 0 ? 300000 : 1000 + 97 * k, k)});
    entries[9] = {"..\\..", "escape.esp", "outside"};
    entries[21] = {"Blocked", "b.nif", "b"};
    OpenRaw(entries);
    // Spoil the stream of entry 14's block.
    std::string bytes = ReadAll(Path("pack.qvr"));
    bytes[static_cast<size_t>(arc.ArchiveFiles[14].FileOffset()) + 4 + 30] ^= 0x5A;
    WriteAll(Path("pack.qvr"), bytes);

    std::vector<std::vector<std::string>> said;
    for (unsigned threads : {1u, 3u}) {
        const std::string data = Path("data" + std::to_string(threads));
        WriteAll(data + "/Blocked", "a file where a folder belongs");
        ASSERT_TRUE(arc.OpenArchive(Path("pack.qvr")));
        std::vector<size_t> order;
        qvr::InstallReport report = qvr::InstallRecorded(
            arc, data, Always(true),
            [&](const qvr::EntryResult&, size_t done, size_t) {
                order.push_back(done);
                return true;
            },
            threads);
        EXPECT_TRUE(report.Outcome.Ok()) << report.Outcome.Message;
        std::vector<std::string> lines;
        for (size_t k = 0; k < report.Entries.size(); ++k) {
            std::string message = report.Entries[k].Message;
            for (size_t at; (at = message.find(data)) != std::string::npos;)
                message.replace(at, data.size(), "DATA");
            lines.push_back(std::to_string(static_cast<int>(report.Entries[k].Outcome)) + " " +
                            message);
            EXPECT_EQ(order[k], k + 1);
        }
        said.push_back(lines);
        for (size_t k = 0; k < entries.size(); ++k) {
            std::string file = data + "/" + entries[k].Path + "/" + entries[k].Name;
            std::replace(file.begin(), file.end(), '\\', '/');
            if (k == 9 || k == 14 || k == 21)
                EXPECT_FALSE(fs::exists(file)) << file;
            else
                EXPECT_TRUE(ReadAll(file) == entries[k].Content) << file;
        }
    }
    EXPECT_EQ(said[0], said[1]);
    EXPECT_EQ(said[0][9][0], '2');  // refused
    EXPECT_EQ(said[0][14][0], '3'); // damaged
    EXPECT_EQ(said[0][21][0], '3'); // a file stands where its folder belongs
    EXPECT_EQ(WorkFilesLeft(), 0u);
}

// Workers inflating two files of one new folder at once: the second must not try to write
// into the folder before the first has made it.
TEST_F(Install, ThreadsMakeEachNewFolderBeforeWritingIntoIt) {
    std::vector<RawEntry> entries;
    for (int k = 0; k < 120; ++k)
        entries.push_back({"Meshes\\f" + std::to_string(k / 2) + "\\deep",
                           "m" + std::to_string(k) + ".nif", MixedBytes(2000 + k, k)});
    OpenRaw(entries);
    for (int round = 0; round < 5; ++round) {
        const std::string data = Path("data" + std::to_string(round));
        ASSERT_TRUE(arc.OpenArchive(Path("pack.qvr")));
        qvr::InstallReport report = qvr::InstallRecorded(arc, data, Always(true), {}, 3);
        ASSERT_TRUE(report.Outcome.Ok()) << report.Outcome.Message;
        for (const qvr::EntryResult& e : report.Entries)
            if (e.Outcome != qvr::EntryOutcome::InfoEntry) {
                ASSERT_EQ(e.Outcome, qvr::EntryOutcome::Installed) << e.Message;
            }
    }
}

} // namespace
