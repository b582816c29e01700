// Installing with a record and taking back exactly what was written.

#include "ReversibleSupport.h"
#include "qvr/install/Engine.h"

#include "qvr/platform/FolderLock.h"
#include "qvr/platform/detail/TestHooks.h"

#include <chrono>
#include <thread>
#include <zlib.h>

using namespace qvrtest;
using qvr::FileFate;

namespace {

uint32_t Crc(const std::string& s) {
    return static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(s.data()), static_cast<uInt>(s.size())));
}

// The story of a player who loses the game's own file and breaks another plug-in.
TEST_F(Reversible, RemovingInAnyOrderGivesBackTheGamesFilesAndKeepsTheOtherPluginsOnes) {
    const Files original = {{"Morrowind.esm", "master"},
                            {"Meshes\\x.nif", "game's own x"},
                            {"Meshes\\other.nif", "another plug-in's file"}};
    Lay(Data(), original);
    std::string a = Pack("A", {{"Meshes\\x.nif", "A's x"}, {"Textures\\t.dds", "A's t"}});
    std::string b = Pack("B", {{"Textures\\t.dds", "B's t"}, {"b.esp", "B"}});
    ASSERT_TRUE(Install(a, true).Outcome.Ok());
    ASSERT_TRUE(Install(b, true).Outcome.Ok());
    EXPECT_EQ(ReadAll(Data() + "/Textures/t.dds"), "B's t");

    qvr::RemovalReport removed = qvr::RemoveByRecord(Data(), "A.qvr");
    ASSERT_TRUE(removed.Outcome.Ok()) << removed.Outcome.Message;
    EXPECT_EQ(ReadAll(Data() + "/Meshes/x.nif"), "game's own x");
    EXPECT_EQ(ReadAll(Data() + "/Textures/t.dds"), "B's t");
    EXPECT_EQ(removed.Count(FileFate::Restored), 1u);
    EXPECT_EQ(removed.Count(FileFate::Kept), 1u); // t.dds: B's now

    ASSERT_TRUE(qvr::RemoveByRecord(Data(), "b.qvr").Outcome.Ok());
    EXPECT_EQ(Snapshot(Data()), original);
    EXPECT_FALSE(fs::exists(Data() + "/Textures"));      // made by A, empty now
    EXPECT_FALSE(fs::exists(qvr::RecordFolder(Data()))); // nothing left behind
}

TEST_F(Reversible, RecordSaysWhatWasWrittenAndReadsBackAsWritten) {
    Lay(Data(), {{"Meshes\\x.nif", "old"}});
    std::string pack = Pack("Pack", {{"Meshes\\x.nif", "new x"}, {"Meshes\\y.nif", "y"}});
    qvr::Archives a;
    a.TempFolder = arc.TempFolder;
    ASSERT_TRUE(a.OpenArchive(pack));
    a.PluginInfo.PluginName("My Mod\nwith a line break");
    a.PluginInfo.Version("1.2");
    auto report = qvr::InstallRecorded(a, Data(), [](auto&, auto&) { return true; });
    ASSERT_TRUE(report.Outcome.Ok()) << report.Outcome.Message;
    ASSERT_EQ(report.Entries.size(), 3u);
    EXPECT_EQ(report.Entries[2].Outcome, qvr::EntryOutcome::InfoEntry);

    auto records = qvr::ListInstallRecords(Data());
    ASSERT_EQ(records.size(), 1u);
    const qvr::InstallRecord& r = records[0];
    EXPECT_EQ(r.Key, "pack.qvr");
    EXPECT_EQ(r.Archive, "Pack.qvr");
    EXPECT_EQ(r.Version, "1.2");
    EXPECT_EQ(r.State, qvr::RecordState::Installed);
    ASSERT_EQ(r.Files.size(), 2u);
    EXPECT_EQ(r.Files[0].Path, "Meshes\\x.nif");
    EXPECT_TRUE(r.Files[0].Replaced);
    EXPECT_EQ(r.Files[0].Size, 5);
    EXPECT_EQ(r.Files[0].Crc, Crc("new x")); // taken while inflating
    EXPECT_FALSE(r.Files[1].Replaced);
    EXPECT_EQ(ReadAll(qvr::RecordFolder(Data()) + "/backups/" + std::to_string(r.Sequence) +
                      "/Meshes/x.nif"),
              "old");

    // Plain text a person can read, one line per file; a name cannot break it into lines.
    std::string text = ReadAll(qvr::RecordFolder(Data()) + "/pack.qvr.ini");
    EXPECT_NE(text.find("name=My Mod with a line break\n"), std::string::npos) << text;
    EXPECT_NE(text.find("file=N 1 "), std::string::npos) << text;
    qvr::InstallRecord back;
    ASSERT_TRUE(qvr::ParseInstallRecord(text, back).Ok());
    EXPECT_EQ(qvr::FormatInstallRecord(back), text);
    qvr::InstallRecord saved; // by an editor that marks its text as UTF-8
    ASSERT_TRUE(qvr::ParseInstallRecord("\xEF\xBB\xBF" + text, saved).Ok());
    EXPECT_EQ(qvr::FormatInstallRecord(saved), text);
    EXPECT_FALSE(qvr::ParseInstallRecord("sequence=1\nstate=odd\n", back).Ok());

    // Found by key, archive name or plug-in name, in any letter case.
    EXPECT_TRUE(qvr::FindInstallRecord(Data(), "PACK.QVR"));
    EXPECT_TRUE(qvr::FindInstallRecord(Data(), "my mod with a line break"));
    EXPECT_FALSE(qvr::FindInstallRecord(Data(), "other"));
    // Nothing the game would read as content lies outside the hidden folder.
    EXPECT_EQ(Snapshot(Data()), (Files{{"Meshes\\x.nif", "new x"}, {"Meshes\\y.nif", "y"}}));
}

TEST_F(Reversible, ChangedFilesAreKeptAndTheirKeptCopiesAreNotLost) {
    Lay(Data(), {{"a.esp", "original a"}});
    std::string pack = Pack("P", {{"a.esp", "P's a"}, {"b.esp", "P's b"}, {"c.esp", "P's c"}});
    ASSERT_TRUE(Install(pack, true).Outcome.Ok());
    WriteAll(Data() + "/a.esp", "player's a");
    WriteAll(Data() + "/b.esp", "player's b");
    fs::remove(Data() + "/c.esp");

    // The dry run says what would happen and changes nothing.
    Files before = Snapshot(Data());
    qvr::RemovalReport plan = qvr::PlanRemoval(Data(), "p.qvr");
    EXPECT_EQ(plan.Count(FileFate::Kept), 2u);
    EXPECT_EQ(plan.Count(FileFate::Absent), 1u);
    EXPECT_EQ(Snapshot(Data()), before);
    EXPECT_EQ(qvr::ListInstallRecords(Data()).size(), 1u);

    qvr::RemovalReport removed = qvr::RemoveByRecord(Data(), "P.qvr");
    ASSERT_TRUE(removed.Outcome.Ok());
    EXPECT_EQ(Snapshot(Data()), (Files{{"a.esp", "player's a"}, {"b.esp", "player's b"}}));
    ASSERT_EQ(removed.Files.size(), 3u);
    EXPECT_EQ(removed.Files[0].Fate, FileFate::Kept);
    // The game's own a.esp waits where the message says.
    size_t at = removed.Files[0].Message.find("kept at ");
    ASSERT_NE(at, std::string::npos) << removed.Files[0].Message;
    EXPECT_EQ(ReadAll(removed.Files[0].Message.substr(at + 8)), "original a");
    EXPECT_TRUE(qvr::ListInstallRecords(Data()).empty());
}

TEST_F(Reversible, InstallingAgainUpdatesTheRecordAndTakesBackWhatTheNewVersionLacks) {
    Lay(Data(), {{"shared.nif", "game's"}});
    std::string v1 = Pack("Mod", {{"shared.nif", "v1 shared"}, {"old.esp", "v1 only"}});
    ASSERT_TRUE(Install(v1, true).Outcome.Ok());
    std::string v2 = Pack("Mod", {{"shared.nif", "v2 shared"}, {"new.esp", "v2 only"}});
    int asked = 0;
    auto report = Install(v2, [&](auto&, auto&) { return ++asked, false; });
    ASSERT_TRUE(report.Outcome.Ok()) << report.Outcome.Message;
    EXPECT_EQ(asked, 0); // replacing shared.nif was answered at the first install
    ASSERT_TRUE(report.Earlier);
    EXPECT_EQ(Snapshot(Data()), (Files{{"shared.nif", "v2 shared"}, {"new.esp", "v2 only"}}));
    ASSERT_EQ(qvr::ListInstallRecords(Data()).size(), 1u);
    ASSERT_TRUE(qvr::RemoveByRecord(Data(), "mod.qvr").Outcome.Ok());
    EXPECT_EQ(Snapshot(Data()), (Files{{"shared.nif", "game's"}}));
}

TEST_F(Reversible, SkippedFilesAreNotThePluginsAndDamagedOnesPutTheOldFileBack) {
    Lay(Data(), {{"keep.esp", "mine"}, {"bad.esp", "old bad"}});
    std::string pack =
        Pack("P", {{"keep.esp", "theirs"}, {"bad.esp", MixedBytes(5000, 3)}, {"ok.esp", "ok"}});
    // Spoil bad.esp's stream (entries are in name order: bad.esp comes first).
    std::string bytes = ReadAll(pack);
    bytes[11 + 4 + 30] ^= 0x55;
    WriteAll(pack, bytes);
    auto report =
        Install(pack, [](const qvr::sgFileInfo& e, auto&) { return e.FileName() != "keep.esp"; });
    EXPECT_EQ(report.Entries[0].Outcome, qvr::EntryOutcome::Failed);
    EXPECT_EQ(report.Entries[1].Outcome, qvr::EntryOutcome::Skipped);
    EXPECT_EQ(report.Entries[2].Outcome, qvr::EntryOutcome::Installed);
    EXPECT_EQ(ReadAll(Data() + "/bad.esp"), "old bad");
    auto records = qvr::ListInstallRecords(Data());
    ASSERT_EQ(records.size(), 1u);
    ASSERT_EQ(records[0].Files.size(), 1u);
    EXPECT_EQ(records[0].Files[0].Path, "ok.esp");
    ASSERT_TRUE(qvr::RemoveByRecord(Data(), "p.qvr").Outcome.Ok());
    EXPECT_EQ(Snapshot(Data()), (Files{{"keep.esp", "mine"}, {"bad.esp", "old bad"}}));
}

// A cancel from the progress window takes the install back whole.
TEST_F(Reversible, AStoppedInstallIsRolledBackWhole) {
    Lay(Data(), {{"a.esp", "old a"}});
    std::string pack = Pack("P", {{"a.esp", "new a"}, {"b.esp", "b"}, {"c.esp", "c"}});
    qvr::Archives a;
    a.TempFolder = arc.TempFolder;
    ASSERT_TRUE(a.OpenArchive(pack));
    auto report = qvr::InstallRecorded(
        a, Data(), [](auto&, auto&) { return true; },
        [](const qvr::EntryResult&, size_t done, size_t) { return done < 2; });
    EXPECT_FALSE(report.Outcome.Ok());
    EXPECT_TRUE(report.Cancelled);
    EXPECT_NE(report.Outcome.Message.find("nothing was installed"), std::string::npos);
    for (const qvr::EntryResult& r : report.Entries)
        EXPECT_NE(r.Outcome, qvr::EntryOutcome::Installed) << r.Target;
    // The files written were taken back with the install: none failed of itself.
    const auto failed = std::count_if(report.Entries.begin(), report.Entries.end(), [](auto& r) {
        return r.Outcome == qvr::EntryOutcome::Failed;
    });

    EXPECT_GT(report.WrittenThenTakenBack, 0u);
    EXPECT_EQ(report.WrittenThenTakenBack, static_cast<size_t>(failed));
    EXPECT_EQ(Snapshot(Data()), (Files{{"a.esp", "old a"}}));
    EXPECT_FALSE(fs::exists(qvr::RecordFolder(Data())));
}

// An install a crash cut short is taken back by the next run, which names it: its player
// would otherwise take it for installed.
TEST_F(Reversible, AnInstallCutShortIsTakenBackAndNamedByTheNextRun) {
    for (const bool nextInstalls : {true, false}) {
        Lay(Data(), {{"a.esp", "old a"}});
        ASSERT_TRUE(Install(Pack("Cut", {{"a.esp", "new a"}, {"b.esp", "b"}}), true).Outcome.Ok());
        ASSERT_TRUE(Install(Pack("Other", {{"o.esp", "o"}}), true).Outcome.Ok());
        const std::string record = qvr::RecordFolder(Data()) + "/cut.qvr.ini";
        std::string text = ReadAll(record);
        text.replace(text.find("state=installed"), 15, "state=installing");
        WriteAll(record, text);
        const std::vector<std::string> told =
            nextInstalls ? Install(Pack("Next", {{"n.esp", "n"}}), true).TakenBack
                         : qvr::RemoveByRecord(Data(), "other.qvr").TakenBack;
        EXPECT_EQ(told, std::vector<std::string>{"Cut.qvr"}) << nextInstalls;
        EXPECT_EQ(ReadAll(Data() + "/a.esp"), "old a") << nextInstalls;
        EXPECT_FALSE(fs::exists(Data() + "/b.esp")) << nextInstalls;
        fs::remove_all(Data());
    }
}

// The files of an install reach the disk in the kernel's time; a restart of the system before
// they did leaves them empty, and the next command must not leave such an install in place.
TEST_F(Reversible, AnInstallWhoseFilesARestartEmptiedIsTakenBackByTheNextRun) {
    if (qvr::BootId().empty())
        GTEST_SKIP() << "the system cannot tell its runs apart: every install flushes first";
    struct Row {
        const char* name;
        bool restart;
        // "emptied": lost its bytes before the commit; "edited": after it; "copied": edited,
        // then the folder copied with the record last, so its file is the newer one
        const char* change;
        bool stays;
    };
    const Row rows[] = {{"no restart", false, "", true},
                        {"restart, every file whole", true, "", true},
                        {"restart, a file emptied", true, "emptied", false},
                        {"restart, a file the player edited since", true, "edited", true},
                        {"restart, edited, the folder copied since", true, "copied", true}};
    const Files original = {{"Morrowind.esm", "master"}, {"Meshes\\x.nif", "game's x"}};
    const Files mod = {{"Meshes\\x.nif", "mod's x"}, {"mod.esp", "mod"}};
    for (const Row& row : rows) {
        Lay(Data(), original);
        ASSERT_TRUE(Install(Pack("Mod", mod), true).Outcome.Ok()) << row.name;
        const std::string record = qvr::RecordFolder(Data()) + "/mod.qvr.ini";
        Files expected = original;
        const std::string change = row.change;
        if (change == "emptied") {
            WriteAll(Data() + "/mod.esp", "");
            // the record committed after the file's last change
            const std::string text = ReadAll(record);
            const size_t at = text.find("written=");
            ASSERT_NE(at, std::string::npos);
            WriteAll(record, text.substr(0, at) +
                                 "written=" + std::to_string(qvr::StatusClockNow()) +
                                 text.substr(text.find('\n', at)));
        } else if (change == "edited" || change == "copied") {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            WriteAll(Data() + "/mod.esp", "the player's");
            if (change == "copied")
                WriteAll(record, ReadAll(record));
        }
        qvr::testhooks::RebootCount = row.restart ? 1 : 0;
        const qvr::InstallReport next = Install(Pack("Next", {{"n.esp", "n"}}), true);
        qvr::testhooks::RebootCount = 0;
        EXPECT_TRUE(next.Outcome.Ok()) << row.name << ": " << next.Outcome.Message;
        if (row.stays) {
            expected = mod;
            expected["Morrowind.esm"] = "master";
            if (change != "")
                expected["mod.esp"] = "the player's";
            EXPECT_TRUE(next.TakenBack.empty()) << row.name;
        } else {
            EXPECT_EQ(next.TakenBack, std::vector<std::string>{"Mod.qvr"}) << row.name;
        }
        expected["n.esp"] = "n";
        EXPECT_EQ(Snapshot(Data()), expected) << row.name;
        const std::optional<qvr::InstallRecord> kept = qvr::FindInstallRecord(Data(), "Mod.qvr");
        EXPECT_EQ(kept.has_value(), row.stays) << row.name;
        if (kept) {
            EXPECT_EQ(kept->WrittenInBoot, "") << row.name << ": known to be on the disk now";
        }
        fs::remove_all(Data());
    }
}

TEST_F(Reversible, WithoutARecordOnlyFilesHoldingTheArchivesContentAreDeleted) {
    std::string pack =
        Pack("P", {{"same.esp", "P's"}, {"changed.esp", "P's"}, {"Meshes\\m.nif", "m"}});
    Lay(Data(), {{"same.esp", "P's"}, {"changed.esp", "P's, edited"}, {"Meshes\\m.nif", "m"}});
    qvr::Archives a;
    a.TempFolder = arc.TempFolder;
    ASSERT_TRUE(a.OpenArchive(pack));
    qvr::RemovalReport removed = qvr::RemovePlugin(a, Data());
    EXPECT_FALSE(removed.ByRecord);
    EXPECT_EQ(removed.Count(FileFate::Removed), 2u);
    EXPECT_EQ(removed.Count(FileFate::Kept), 1u);
    EXPECT_EQ(Snapshot(Data()), (Files{{"changed.esp", "P's, edited"}}));
    EXPECT_EQ(WorkFilesLeft(), 0u);

    // With a record, the same call removes by it.
    ASSERT_TRUE(Install(pack, true).Outcome.Ok());
    removed = qvr::RemovePlugin(a, Data());
    EXPECT_TRUE(removed.ByRecord);
    EXPECT_EQ(Snapshot(Data()), (Files{{"changed.esp", "P's, edited"}}));
}

} // namespace

namespace {

// A disk full from some write of the install on. Until a file is deleted: from every write
// on. For good: from its first file on, where nothing it deletes makes room, as on a disk
// that had room only for its record. Either what was written is installed and recorded so,
// or nothing is left of it: never an install left half-done for a later run to finish.
TEST_F(Reversible, AnInstallOnADiskThatFillsIsWholeOrTakenBack) {
    using qvr::testhooks::WriteFault;
    const Files original = {{"Morrowind.esm", "master"}, {"Meshes\\x.nif", "game's x"}};
    const std::string pack = Pack(
        "Full",
        {{"Meshes\\x.nif", "full's x"}, {"a.esp", "a"}, {"Textures\\t.dds", MixedBytes(3000, 1)}});
    Lay(Path("count"), original);
    qvr::testhooks::ArmWriteFault(0, WriteFault::Short);
    ASSERT_TRUE(Install(pack, true, Path("count")).Outcome.Ok());
    const int64_t writes = qvr::testhooks::WriteCount.load();
    std::vector<std::pair<int64_t, WriteFault>> fills = {{1, WriteFault::DiskFull},
                                                         {2, WriteFault::DiskFull}};
    for (int64_t k = 2; k <= writes; ++k) // the first write is the record's intent
        fills.push_back({k, WriteFault::DiskFullUntilDelete});
    for (const auto& [k, kind] : fills) {
        fs::remove_all(Data());
        Lay(Data(), original);
        qvr::testhooks::ArmWriteFault(k, kind);
        const qvr::InstallReport report = Install(pack, true);
        qvr::testhooks::ArmWriteFault(0, WriteFault::Short);
        const std::vector<qvr::InstallRecord> records = qvr::ListInstallRecords(Data());
        if (records.empty()) {
            EXPECT_EQ(Snapshot(Data()), original) << k << report.Outcome.Message;
            EXPECT_FALSE(fs::exists(qvr::RecordFolder(Data()))) << k;
        } else
            EXPECT_EQ(records.front().State, qvr::RecordState::Installed)
                << k << report.Outcome.Message;
    }
}

// A disk that fills as the install commits stays full: its rollback must still find room for
// its plan, or the files stay and every later run stops at the same place.
TEST_F(Reversible, AnInstallStoppedByAFullDiskIsTakenBackWhileTheDiskIsStillFull) {
    const Files original = {{"Morrowind.esm", "master"}, {"Meshes\\x.nif", "game's x"}};
    const std::string pack = Pack(
        "Full",
        {{"Meshes\\x.nif", "full's x"}, {"a.esp", "a"}, {"Textures\\t.dds", MixedBytes(3000, 1)}});
    // The writes of the same install elsewhere: the last one is the commit's.
    Lay(Path("count"), original);
    qvr::testhooks::ArmWriteFault(0, qvr::testhooks::WriteFault::Short);
    ASSERT_TRUE(Install(pack, true, Path("count")).Outcome.Ok());
    const int64_t writes = qvr::testhooks::WriteCount.load();

    Lay(Data(), original);
    qvr::testhooks::ArmWriteFault(writes, qvr::testhooks::WriteFault::DiskFullUntilDelete);
    const qvr::InstallReport report = Install(pack, true);
    qvr::testhooks::ArmWriteFault(0, qvr::testhooks::WriteFault::Short);
    EXPECT_FALSE(report.Outcome.Ok());
    EXPECT_NE(report.Outcome.Message.find("nothing was installed"), std::string::npos)
        << report.Outcome.Message;
    EXPECT_EQ(Snapshot(Data()), original);
    EXPECT_TRUE(qvr::ListInstallRecords(Data()).empty());
    // The files it wrote and took back are told as not installed, not as existing files kept.
    for (const qvr::EntryResult& r : report.Entries) {
        if (r.Outcome != qvr::EntryOutcome::InfoEntry) {
            EXPECT_EQ(r.Outcome, qvr::EntryOutcome::Failed) << r.Entry.FileName() << r.Message;
        }
    }
}

} // namespace

// A package prepared ahead (as the installer does while its window is made) installs through
// the Archives it was moved into; one prepared before the package was read again, changed by
// another program, is not used, even with as many entries.
TEST_F(Reversible, APackagePreparedAheadIsUsedOnlyForTheEntriesItWasMadeFrom) {
    const Files first = {{"Meshes\\a.nif", "A's a"}, {"a.esp", "A's plug-in"}};
    const Files second = {{"Meshes\\b.nif", "B's b"}, {"b.esp", "B's plug-in"}};
    for (const bool changed : {false, true}) {
        SCOPED_TRACE(changed ? "changed and read again since" : "prepared, then moved");
        fs::remove_all(Data());
        const std::string pack = Pack("A", first);
        qvr::Archives read;
        read.TempFolder = arc.TempFolder;
        ASSERT_TRUE(read.OpenArchive(pack));
        qvr::PreparedPackage prepared = qvr::PreparePackage(read);
        qvr::Archives open = std::move(read);
        if (changed) {
            ASSERT_EQ(Pack("A", second), pack);
            ASSERT_TRUE(open.OpenArchive(pack));
        }
        const qvr::InstallReport report =
            qvr::InstallRecorded(open, qvr::InstallTarget{Data(), {}, nullptr, {}}, kYes, {}, {},
                                 {}, {}, std::move(prepared));
        ASSERT_TRUE(report.Outcome.Ok()) << report.Outcome.Message;
        EXPECT_EQ(Snapshot(Data()), changed ? second : first);
    }
}

// Entries the package's own listing refuses are told as refused, with its reason: two names that
// differ only in letter case are one file on the game's system, and neither is installed (the
// second was reported as a player's file kept, the first as installed).
TEST_F(Reversible, EntriesThePackageRefusesAreToldWithTheReason) {
    const std::string pack = Pack("Twins", {{"Q.esp", "one"}, {"q.ESP", "two"}, {"ok.esp", "k"}});
    const qvr::InstallReport report = Install(pack, true);
    ASSERT_TRUE(report.Outcome.Ok()) << report.Outcome.Message;
    EXPECT_EQ(Snapshot(Data()), (Files{{"ok.esp", "k"}}));
    size_t refused = 0;
    for (const qvr::EntryResult& r : report.Entries)
        if (r.Outcome == qvr::EntryOutcome::Refused) {
            ++refused;
            EXPECT_NE(r.Message.find("letter case"), std::string::npos) << r.Message;
        }
    EXPECT_EQ(refused, 2u);
}
