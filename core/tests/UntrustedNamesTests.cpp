// Names from strangers: an archive's entries and file name, and the records beside a data folder,
// never reach the programs' own files or anything outside the target.

#include "ReversibleSupport.h"
#include "qvr/format/PathRules.h"
#include "qvr/install/InstallRecord.h"

#include <zlib.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace qvrtest;
using qvr::FileFate;

namespace {

// "a\\b" -> {"a", "b"}, empty levels kept.
std::vector<std::string> Levels(const std::string& path) {
    std::vector<std::string> out(1);
    for (char c : path) {
        if (c == '\\')
            out.emplace_back();
        else
            out.back().push_back(c);
    }
    return out;
}

std::string CrcText(const std::string& s) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%08x",
                  static_cast<unsigned>(crc32(0, reinterpret_cast<const Bytef*>(s.data()),
                                              static_cast<uInt>(s.size()))));
    return hex;
}

TEST(UntrustedNames, TheProgramsOwnNamesAreRefusedInAnyCaseAtAnyLevel) {
    const std::pair<const char*, const char*> refused[] = {
        {".qvr-installed", "victim.qvr.ini"},
        {".QVR-Installed\\backups\\1", "Morrowind.ini"},
        {"Meshes\\.qvr-installed", "x.nif"},
        {"", ".qvr-openmw"},
        {".Qvr-OpenMW", "mod.txt"},
        {"Meshes", "~qvr-add-42-1.tmp"},
        {"Meshes", "~QVR-x.tmp-journal"},
        {"", "Mod.qvr-journal"},
        {"", ".QVR-Lock"},
        {"", "QVR-IN~1"}, // what Windows may answer for .qvr-installed
        {"QVR-OP~2", "x.txt"},
        {"_QVR~GTZ", "zz.qvr.ini"}, // and what Wine answers
        {"Data", "MORR~ONA.ESM"},
        {"", "AB~~~K3Q"},
    };
    for (const auto& [path, name] : refused) {
        const qvr::Result r = qvr::IsSafeEntryPath(path, name);
        EXPECT_FALSE(r) << path << " + " << name;
        EXPECT_FALSE(r.Message.empty());
    }
    // Names that only look alike stay installable.
    for (const char* name : {"qvr-installed.txt", "a.qvr", "journal.qvr-journal.txt", "x~1y.dds",
                             "PROGRAM~1.TEXTURE", "ABCD~EFG.TEXT", "ABC~DEFG.dds"})
        EXPECT_TRUE(qvr::IsSafeEntryPath("Textures", name)) << name;
    EXPECT_FALSE(qvr::IsSafeRelativePath(""));
}

TEST(UntrustedNames, NamesMadeFromArchiveNamesArePlainAndPortable) {
    const std::pair<std::string, std::string> made[] = {
        {"My Mod", "My Mod"},
        {"", "_"},
        {".", "_"},
        {"..", "_"},
        {".qvr-openmw", "qvr-openmw"},
        {"~qvr-x", "_~qvr-x"},
        {"CON", "_CON"},
        {"a\ncontent=Injected.esp", "a_content=Injected.e"},
        {"esc\x1b]0;T\x07", "esc_]0;T_"},
        {"C1\xC2\x9B"
         "x",
         "C1_x"},
        {"bad\xFF utf8", "bad_ utf8"},
        {"a/b\\c:d*e?f\"g<h>i|j", "a_b_c_d_e_f_g_h_i_j"},
        {"  .trailing. ", "trailing"},
        {std::string(300, 'x'), std::string(20, 'x')},
        {std::string(19, 'x') + "\xC3\xA9", std::string(19, 'x')}, // not cut inside a letter
    };
    for (const auto& [from, to] : made)
        EXPECT_EQ(qvr::MakePlainName(from, 20), to);
    EXPECT_EQ(qvr::RecordKey("My Mod.QVR"), "my mod.qvr");
    EXPECT_EQ(qvr::RecordKey("backups"), "_backups");
    EXPECT_LT(qvr::RecordKey(std::string(255, 'n') + ".qvr").size(), 200u);
}

TEST(UntrustedNames, SettingValuesThatCouldReadAsMoreThanOneValueAreRefused) {
    for (const std::string good :
         {"Mod.esp", "/home/a/mods/My Mod (2)", "C:\\Mods\\A & \"B\"", "Caf\xC3\xA9.esp"})
        EXPECT_TRUE(qvr::IsSafeSettingValue(good)) << good;
    for (const std::string bad :
         {"", "B.esp\nfallback-archive=Evil.bsa", "B.esp\r", "tab\tbed.esp", "=Evil.esp",
          "\"quoted.esp", "#comment.esp", ";comment.esp", "[Section]", " lead.esp", "trail.esp ",
          "esc\x1b[2J.esp", "c1\xC2\x85.esp", "not\xFFutf8.esp"}) {
        const qvr::Result r = qvr::IsSafeSettingValue(bad);
        EXPECT_FALSE(r) << bad;
        EXPECT_FALSE(r.Message.empty());
    }
}

class Untrusted : public Reversible {
protected:
    void SetUp() override {
        Reversible::SetUp();
        Lay(Data(), {{"Morrowind.esm", "master"}, {"Morrowind.ini", "the player's ini"}});
        Lay(Sentinel(), {{"victim.txt", kVictim}, {"sub\\deeper.txt", "more"}});
    }
    // A folder beside the data folder that nothing may touch.
    std::string Sentinel() const { return dir + "/sentinel"; }
    std::string RecordFile(const std::string& key) const {
        return qvr::RecordFolder(Data()) + "/" + key + ".ini";
    }
    qvr::InstallReport InstallAs(const std::string& pack, const std::string& plugin, bool overwrite,
                                 const qvr::TakeBackQuestion& takeBack = {}) {
        qvr::Archives a;
        a.TempFolder = arc.TempFolder;
        EXPECT_TRUE(Ok(a.OpenArchive(pack)));
        a.PluginInfo.PluginName(plugin);
        return qvr::InstallRecorded(
            a, Data(), [=](const auto&, const auto&) { return overwrite; }, {}, 0, takeBack);
    }
    static constexpr const char* kVictim = "victim\n";
};

// Findings 1 and 9: a package that carries a record or a backup of its own.
TEST_F(Untrusted, APackageCannotWriteRecordsOrBackups) {
    std::string pack = Pack("E", {{"E.esp", "plug-in"},
                                  {"Morrowind.ini", "the package's ini"},
                                  {".qvr-installed\\victim.qvr.ini", "state=installed\n"},
                                  {".QVR-INSTALLED\\backups\\1\\Morrowind.ini", "evil"}});
    qvr::InstallReport report = Install(pack, true);
    size_t refused = 0;
    for (const auto& e : report.Entries)
        refused += e.Outcome == qvr::EntryOutcome::Refused;
    EXPECT_EQ(refused, 2u);
    ASSERT_EQ(qvr::ListInstallRecords(Data()).size(), 1u);

    const qvr::RemovalReport removed = qvr::RemoveByRecord(Data(), "E.qvr");
    EXPECT_TRUE(removed.Outcome.Ok()) << removed.Outcome.Message;
    EXPECT_EQ(ReadAll(Data() + "/Morrowind.ini"), "the player's ini");
    EXPECT_FALSE(fs::exists(qvr::RecordFolder(Data())));
}

// Findings 2 and 8: records with paths that leave the data folder, planted by an older
// version's install or edited by hand, as deletions and as restores.
TEST_F(Untrusted, PlantedRecordsTouchNothingOutsideTheDataFolder) {
    const std::string victim = Sentinel() + "/victim.txt";
    std::vector<std::string> paths = {
        "..\\sentinel\\victim.txt",      victim,   "C:\\sentinel\\victim.txt",
        "\\\\server\\share\\victim.txt", "CON",    "Meshes\\nul.txt",
        ".qvr-installed\\other.ini",     "a\\\\b", "Meshes\\.\\..\\..\\sentinel\\victim.txt"};
#ifndef _WIN32
    fs::create_directory_symlink(Sentinel(), Data() + "/link");
    paths.push_back("link\\victim.txt");
    paths.push_back("link\\sub\\deeper.txt");
#endif
    const Files sentinel = Snapshot(Sentinel());
    const Files data = Snapshot(Data());
    for (const std::string& path : paths)
        for (const char* flag : {"N", "R"}) {
            SCOPED_TRACE(path + " " + flag);
            const std::string bytes = path.ends_with("deeper.txt") ? "more" : kVictim;
            WriteAll(RecordFile("victim.qvr"),
                     "archive=victim.qvr\nname=Victim\nsequence=5\nstate=installed\nfile=" +
                         std::string(flag) + " " + std::to_string(bytes.size()) + " " +
                         CrcText(bytes) + " " + path + "\n");
            // The kept copy a restore would put back, where an unchecked restore looks for it.
            fs::path backup = fs::path(qvr::RecordFolder(Data())) / "backups" / "5";
            for (const std::string& level : Levels(path))
                backup /= level;
            backup = backup.lexically_normal();
            if (fs::path(backup).string().rfind(Data(), 0) == 0)
                WriteAll(backup.string(), "evil");

            std::vector<std::string> problems;
            qvr::ListInstallRecords(Data(), &problems);
            const qvr::RemovalReport removed = qvr::RemoveByRecord(Data(), "Victim");
            EXPECT_TRUE(!problems.empty() || removed.Count(FileFate::Kept) == 1)
                << "neither refused nor kept";
            EXPECT_EQ(Snapshot(Sentinel()), sentinel);
            EXPECT_EQ(Snapshot(Data()), data);
            fs::remove_all(qvr::RecordFolder(Data()));
        }
}

TEST_F(Untrusted, APlantedStepCannotDeleteThroughAnotherInstallsBackups) {
    WriteAll(RecordFile("victim.qvr"),
             "archive=victim.qvr\nname=Victim\nsequence=5\nstate=removing\n"
             "file=N 4 00000000 Meshes\\x.nif\nstep=drop Meshes\\x.nif\n"
             "later=1\\..\\..\\..\\..\\sentinel\\victim.txt\n");
    const Files sentinel = Snapshot(Sentinel());
    std::vector<std::string> problems;
    qvr::ListInstallRecords(Data(), &problems);
    EXPECT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find("victim.qvr.ini"), std::string::npos) << problems[0];
    EXPECT_TRUE(qvr::CompletePendingWork(Data()).Ok());
    EXPECT_EQ(Snapshot(Sentinel()), sentinel);
}

// Finding 9, the other half: a kept copy changed since is not put back.
TEST_F(Untrusted, ABackupIsRestoredOnlyWhenItIsWhatTheInstallKept) {
    ASSERT_TRUE(Install(Pack("M", {{"Morrowind.ini", "mod's ini"}}), true).Outcome.Ok());
    const auto records = qvr::ListInstallRecords(Data());
    ASSERT_EQ(records.size(), 1u);
    ASSERT_TRUE(records[0].Files[0].BackupKnown);
    const std::string backup = qvr::RecordFolder(Data()) + "/backups/" +
                               std::to_string(records[0].Sequence) + "/Morrowind.ini";
    WriteAll(backup, "swapped in");
    const qvr::RemovalReport removed = qvr::RemoveByRecord(Data(), "m.qvr");
    EXPECT_EQ(removed.Count(FileFate::Kept), 1u);
    EXPECT_EQ(ReadAll(Data() + "/Morrowind.ini"), "mod's ini");
    EXPECT_EQ(ReadAll(backup), "swapped in"); // left where the message says, not lost
}

// Issue 19, finding 5: a re-download saved under another name.
TEST_F(Untrusted, ARenamedCopyFindsTheRecordAndRestoresWhatItReplaced) {
    Lay(Data(), {{"Textures\\game.dds", "the game's texture"}});
    const std::string first = Pack("Mod 2", {{"Textures\\game.dds", "mod's"}, {"Mod.esp", "m"}});
    ASSERT_TRUE(InstallAs(first, "Mod", true).Outcome.Ok());
    const std::string copy = Path("packs/Mod.qvr");
    fs::copy_file(first, copy);
    qvr::Archives a;
    a.TempFolder = arc.TempFolder;
    ASSERT_TRUE(Ok(a.OpenArchive(copy)));
    a.PluginInfo.PluginName("Mod");
    const qvr::RemovalReport removed = qvr::RemovePlugin(a, Data());
    EXPECT_TRUE(removed.ByRecord);
    EXPECT_EQ(ReadAll(Data() + "/Textures/game.dds"), "the game's texture");
    EXPECT_TRUE(qvr::ListInstallRecords(Data()).empty());
}

TEST_F(Untrusted, RemovalByContentKeepsAFileWhoseOriginalARecordKeeps) {
    Lay(Data(), {{"Textures\\game.dds", "the game's texture"}});
    ASSERT_TRUE(Install(Pack("Other", {{"Textures\\game.dds", "same bytes"}}), true).Outcome.Ok());
    qvr::Archives a;
    a.TempFolder = arc.TempFolder;
    ASSERT_TRUE(Ok(a.OpenArchive(Pack("Unrelated", {{"Textures\\game.dds", "same bytes"}}))));
    // While that record cannot be read, nothing is removed by content at all.
    const std::string record = qvr::RecordFolder(Data()) + "/other.qvr.ini";
    const std::string text = ReadAll(record);
    WriteAll(record, "a line no record holds\n" + text);
    EXPECT_FALSE(qvr::RemovePlugin(a, Data()).Outcome.Ok());
    EXPECT_EQ(ReadAll(Data() + "/Textures/game.dds"), "same bytes");
    WriteAll(record, text);
    const qvr::RemovalReport removed = qvr::RemovePlugin(a, Data());
    EXPECT_FALSE(removed.ByRecord);
    EXPECT_EQ(removed.Count(FileFate::Kept), 1u);
    EXPECT_EQ(ReadAll(Data() + "/Textures/game.dds"), "same bytes");
    ASSERT_TRUE(qvr::RemoveByRecord(Data(), "other.qvr").Outcome.Ok());
    EXPECT_EQ(ReadAll(Data() + "/Textures/game.dds"), "the game's texture");
}

// Finding 8: a stranger's package that reuses an installed plug-in's name.
TEST_F(Untrusted, AnotherArchiveOfTheSamePlugInIsTakenBackOnlyWhenThePlayerSaysSo) {
    ASSERT_TRUE(InstallAs(Pack("Real", {{"Real.esp", "real"}}), "Other Mod", false).Outcome.Ok());
    std::vector<std::string> asked;
    auto answer = [&](bool yes) {
        return [&asked, yes](const qvr::InstallRecord& r) {
            asked.push_back(r.Archive);
            return yes;
        };
    };
    const std::string stranger = Pack("Stranger", {{"Evil.esp", "evil"}});
    qvr::InstallReport report = InstallAs(stranger, "Other Mod", false, answer(false));
    EXPECT_EQ(asked, std::vector<std::string>{"Real.qvr"});
    EXPECT_FALSE(report.Earlier);
    EXPECT_EQ(ReadAll(Data() + "/Real.esp"), "real");
    EXPECT_EQ(qvr::ListInstallRecords(Data()).size(), 2u);

    // The same archive again is an update: taken back without a question.
    report = InstallAs(stranger, "Other Mod", false, answer(false));
    EXPECT_EQ(asked.size(), 1u);
    ASSERT_TRUE(report.Earlier);
    EXPECT_EQ(qvr::ListInstallRecords(Data()).size(), 2u);

    report = InstallAs(Pack("Third", {{"Third.esp", "3"}}), "Other Mod", false, answer(true));
    ASSERT_TRUE(report.Earlier);
    EXPECT_EQ(asked.back(), "Real.qvr");
    EXPECT_FALSE(fs::exists(Data() + "/Real.esp"));
    EXPECT_EQ(ReadAll(Data() + "/Evil.esp"), "evil");
}

// Finding 7: archive names that fold to one record key.
TEST_F(Untrusted, ArchivesWhoseNamesFoldAlikeKeepRecordsOfTheirOwn) {
    ASSERT_TRUE(Install(Pack("OtherMod", {{"OtherMod.esp", "real"}}), false).Outcome.Ok());
    const qvr::InstallReport second = Install(Pack("othermod", {{"Stranger.esp", "s"}}), false);
    ASSERT_TRUE(second.Outcome.Ok()) << second.Outcome.Message;
    EXPECT_FALSE(second.Earlier);
    const auto records = qvr::ListInstallRecords(Data());
    ASSERT_EQ(records.size(), 2u);
    EXPECT_NE(records[0].Key, records[1].Key);
    ASSERT_TRUE(qvr::RemoveByRecord(Data(), records[1].Key).Outcome.Ok());
    EXPECT_EQ(ReadAll(Data() + "/OtherMod.esp"), "real");
    ASSERT_TRUE(qvr::RemoveByRecord(Data(), "OtherMod.qvr").Outcome.Ok());
    EXPECT_FALSE(fs::exists(Data() + "/OtherMod.esp"));
}

// Finding 14: a name as long as file systems allow.
TEST_F(Untrusted, AnArchiveNameOfTheLongestLengthInstallsAndIsRemoved) {
    const std::string name(251, 'n');
    const std::string pack = Path("packs/" + name + ".qvr");
    WriteAll(pack, RawArchive({{"", "Long.esp", "l"}}));
    ASSERT_TRUE(Install(pack, false).Outcome.Ok());
    EXPECT_EQ(ReadAll(Data() + "/Long.esp"), "l");
    ASSERT_TRUE(qvr::RemoveByRecord(Data(), name + ".qvr").Outcome.Ok());
    EXPECT_FALSE(fs::exists(qvr::RecordFolder(Data())));
}

#ifndef _WIN32
// The player's own setup is followed: a folder link to another disk.
TEST_F(Untrusted, RemovalRestoresThroughAFolderLinkThePlayerMade) {
    Lay(dir + "/other disk", {{"t.dds", "the player's texture"}});
    fs::create_directory_symlink(dir + "/other disk", Data() + "/Textures");
    ASSERT_TRUE(
        Install(Pack("T", {{"Textures\\t.dds", "mod's"}, {"Textures\\Mod\\n.dds", "n"}}), true)
            .Outcome.Ok());
    EXPECT_EQ(ReadAll(dir + "/other disk/t.dds"), "mod's");
    const qvr::RemovalReport removed = qvr::RemoveByRecord(Data(), "t.qvr");
    EXPECT_TRUE(removed.Outcome.Ok()) << removed.Outcome.Message;
    EXPECT_EQ(removed.Count(FileFate::Restored), 1u);
    EXPECT_EQ(ReadAll(dir + "/other disk/t.dds"), "the player's texture");
    EXPECT_FALSE(fs::exists(dir + "/other disk/Mod")); // the install made it
    EXPECT_TRUE(fs::is_symlink(Data() + "/Textures"));
}

// Through a link to a folder on another file system, the player's file goes to the backups and
// back by copy: with its time, and no half copy left (a kill between copy and rename).
TEST_F(Untrusted, AFileKeptFromAnotherDiskComesBackWithItsTime) {
    struct stat here {
    }, there{};
    const std::string other = "/dev/shm/qvr-other-disk-" + std::to_string(::getpid());
    if (::stat(dir.c_str(), &here) != 0 || ::stat("/dev/shm", &there) != 0 ||
        here.st_dev == there.st_dev)
        GTEST_SKIP() << "no second file system at /dev/shm";
    Lay(other, {{"t.dds", "the player's texture"}});
    const auto old = fs::last_write_time(other + "/t.dds") - std::chrono::hours(24 * 365 * 20);
    fs::last_write_time(other + "/t.dds", old);
    fs::create_directory_symlink(other, Data() + "/Textures");
    ASSERT_TRUE(Install(Pack("T", {{"Textures\\t.dds", "mod's"}}), true).Outcome.Ok());
    WriteAll(qvr::RecordFolder(Data()) + "/backups/1/Textures/t.dds.part", "cut short");
    EXPECT_TRUE(qvr::RemoveByRecord(Data(), "t.qvr").Outcome.Ok());
    EXPECT_EQ(ReadAll(other + "/t.dds"), "the player's texture");
    EXPECT_EQ(fs::last_write_time(other + "/t.dds"), old);
    EXPECT_FALSE(fs::exists(qvr::RecordFolder(Data())));
    fs::remove_all(other);
}

// A file link is the player's too (a plug-in on a card not mounted now): never replaced.
TEST_F(Untrusted, AFileLinkThePlayerMadeIsKeptAsItIs) {
    Lay(dir + "/card", {{"Good.esp", "the player's"}});
    fs::create_symlink("../card/Good.esp", Data() + "/Good.esp");
    fs::create_symlink("../unmounted/Other.esp", Data() + "/Other.esp");
    const std::string pack =
        Pack("L", {{"Good.esp", "mod's"}, {"Other.esp", "mod's"}, {"New.esp", "n"}});
    for (const bool overwrite : {false, true}) {
        const qvr::InstallReport report = Install(pack, overwrite);
        EXPECT_TRUE(report.Outcome.Ok()) << report.Outcome.Message;
        ASSERT_TRUE(qvr::RemoveByRecord(Data(), "l.qvr").Outcome.Ok());
        EXPECT_EQ(fs::read_symlink(Data() + "/Good.esp"), "../card/Good.esp");
        EXPECT_EQ(fs::read_symlink(Data() + "/Other.esp"), "../unmounted/Other.esp");
        EXPECT_EQ(ReadAll(dir + "/card/Good.esp"), "the player's");
    }
}

// Issue 19, finding 7: only folders the install made go, and never a link.
TEST_F(Untrusted, RemovalTakesOutOnlyTheFoldersItsInstallMade) {
    fs::create_directories(Data() + "/Meshes");
    fs::create_directories(dir + "/elsewhere");
    fs::create_directory_symlink(dir + "/elsewhere", Data() + "/Icons");
    ASSERT_TRUE(Install(Pack("F", {{"Meshes\\Mod\\a.nif", "a"}, {"Icons\\Mod\\i.dds", "i"}}), false)
                    .Outcome.Ok());
    ASSERT_TRUE(qvr::RemoveByRecord(Data(), "f.qvr").Outcome.Ok());
    EXPECT_TRUE(fs::is_directory(fs::symlink_status(Data() + "/Meshes")));
    EXPECT_FALSE(fs::exists(Data() + "/Meshes/Mod"));
    EXPECT_TRUE(fs::is_symlink(Data() + "/Icons"));
    EXPECT_TRUE(fs::is_directory(dir + "/elsewhere"));
    EXPECT_FALSE(fs::exists(dir + "/elsewhere/Mod"));
}

TEST_F(Untrusted, ARecordFolderThatIsALinkIsNeitherWrittenNorRemovedThrough) {
    fs::create_directory_symlink(Sentinel(), qvr::RecordFolder(Data()));
    const Files sentinel = Snapshot(Sentinel());
    const qvr::InstallReport report = Install(Pack("L", {{"Morrowind.ini", "mod's"}}), true);
    EXPECT_FALSE(report.Outcome.Ok());
    EXPECT_EQ(ReadAll(Data() + "/Morrowind.ini"), "the player's ini");
    EXPECT_EQ(Snapshot(Sentinel()), sentinel);
}
#endif

} // namespace
