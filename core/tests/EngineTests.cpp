// The install engine as one transaction per install and removal, on both targets: one program
// at a time in a target, and whatever a kill or a failed operation leaves is completed or
// rolled back by the next command there, openmw.cfg's lines included.

#include "ReversibleSupport.h"
#include "qvr/games/Activation.h"
#include "qvr/games/OpenMWInstall.h"
#include "qvr/install/Engine.h"
#include "qvr/platform/FolderLock.h"
#include "qvr/platform/detail/TestHooks.h"

#include <atomic>
#include <cstdio>
#include <functional>
#include <thread>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace qvrtest;
namespace openmw = qvr::openmw;

namespace {

// Work files and record texts that a run left anywhere below root.
[[maybe_unused]] int Leftovers(const std::string& root) {
    int n = 0;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        n += name.starts_with("~qvr-") || name.ends_with(".new");
    }
    return n;
}

struct Records {
    std::vector<std::string> Keys;
    bool operator==(const Records&) const = default;
};

[[maybe_unused]] Records RecordsOf(const std::string& root) {
    Records out;
    for (const qvr::InstallRecord& r : qvr::ListInstallRecords(root)) {
        out.Keys.push_back(r.Key + (r.State == qvr::RecordState::Installed ? "" : " unfinished"));
        // What each says of the copy it keeps: a removal of it restores only that.
        for (const qvr::RecordedFile& f : r.Files)
            if (f.BackupKnown)
                out.Keys.push_back("  keeps " + f.Path + " of crc " + std::to_string(f.BackupCrc));
    }
    return out;
}

class Engine : public Reversible {
protected:
    // An install whose every step may be made to fail, the opening of the archive included.
    bool TryInstall(const std::string& pack, const std::string& data) {
        qvr::Archives arc2;
        arc2.TempFolder = arc.TempFolder;
        return arc2.OpenArchive(pack).Ok() && qvr::InstallRecorded(arc2, data, kYes).Outcome.Ok();
    }
    const Files original = {{"Morrowind.esm", "master"},
                            {"Meshes\\x.nif", "game's x"},
                            {"Textures\\y.dds", "game's y"}};

    void SetUp() override {
        Reversible::SetUp();
        // Two of the game's files replaced by both: removing A hands two kept copies on to B.
        a = Pack("A", {{"Meshes\\x.nif", "A's x"},
                       {"Meshes\\a\\a.nif", "A's own"},
                       {"Textures\\y.dds", "A's y"},
                       {"A.esp", "A"}});
        b = Pack("B", {{"Meshes\\x.nif", "B's x"},
                       {"Textures\\b.dds", "B's t"},
                       {"Textures\\y.dds", "B's y"},
                       {"B.esp", "B"}});
        // Two versions of one archive: the second changes, keeps, drops and adds files and
        // plug-ins.
        u1 = Path("packs/u1/U.qvr");
        WriteAll(u1, PackBytes("U.qvr", {{"Meshes\\x.nif", "U1's x"},
                                         {"Meshes\\u\\old.nif", "U1's own"},
                                         {"Textures\\y.dds", "U's y"},
                                         {"U.esp", "U1"},
                                         {"UOld.esp", "old"}}));
        u2 = Path("packs/u2/U.qvr");
        WriteAll(u2, PackBytes("U.qvr", {{"Meshes\\x.nif", "U2's x"},
                                         {"Meshes\\u2\\n.nif", "U2's own"},
                                         {"Textures\\y.dds", "U's y"},
                                         {"U.esp", "U2"},
                                         {"UNew.esp", "new"}}));
    }
    std::string a, b, u1, u2;
};

// The state of a target as a player would compare it: every file, the configuration, the
// records.
struct State {
    Files Tree;
    std::string Config;
    Records Recorded;
    bool operator==(const State&) const = default;
};

struct Scenario {
    const char* Name;
    std::function<void(const std::string& root)> Prepare;     // the state before
    std::function<bool(const std::string& root)> Command;     // the install or the removal
    std::function<void(const std::string& root)> NextCommand; // of either program, there
    std::function<State(const std::string& root)> Look;
    // An install that a failed file left partly done is recorded as such: this takes it back,
    // answering whether it found it.
    std::function<bool(const std::string& root)> TakeBack = {};
    // What taking it back gives, when not the state before: made as Prepare makes that.
    std::function<void(const std::string& root)> TakenBackTo = {};
};

[[maybe_unused]] std::string Describe(const State& state) {
    std::string out = "\nrecords:";
    for (const std::string& k : state.Recorded.Keys)
        out += " [" + k + "]";
    out += "\nfiles:";
    for (const auto& [path, content] : state.Tree)
        out += " " + path + "=" + content.substr(0, 12);
    return out + "\nconfig: " + state.Config;
}

#ifndef _WIN32
// For every operation k of the command: once the process ends there (killed), once the
// operation fails; then the next command runs. Each target must be as before or as after, with
// no work file left. Prints the counts.
void Sweep(const Scenario& s, const std::function<std::string(const std::string&)>& folder) {
    // A folder of its own for every run of every scenario.
    const auto fresh = [&](const std::string& run) { return folder(s.Name + ("/" + run)); };
    const std::string reference = fresh("reference");
    s.Prepare(reference);
    const State before = s.Look(reference);
    const int64_t steps0 = qvr::testhooks::StepsTaken.load();
    qvr::testhooks::ArmFault(0, qvr::testhooks::FaultMode::Once);
    const int64_t ops0 = qvr::testhooks::OperationCount.load();
    ASSERT_TRUE(s.Command(reference)) << s.Name;
    const int64_t steps = qvr::testhooks::StepsTaken.load() - steps0;
    const int64_t ops = qvr::testhooks::OperationCount.load() - ops0;
    const State after = s.Look(reference);
    ASSERT_NE(before, after) << s.Name;
    State base = before;
    if (s.TakenBackTo) {
        const std::string root = fresh("base");
        s.TakenBackTo(root);
        base = s.Look(root);
    }
    int asBefore = 0, asAfter = 0, partial = 0, neither = 0, left = 0, runs = 0;
    // Only a failed file leaves an install partly done; a kill leaves it as before or after.
    auto judge = [&](const std::string& root, const std::string& what, bool killed) {
        s.NextCommand(root);
        const State now = s.Look(root);
        asBefore += now == before;
        asAfter += now == after;
        if (now != before && now != after && s.TakeBack && !killed) {
            const bool found = s.TakeBack(root);
            const bool whole = found && s.Look(root) == base;
            partial += whole;
            neither += !whole;
            EXPECT_TRUE(whole) << s.Name << ": " << what << Describe(s.Look(root));
        } else if (now != before && now != after) {
            ++neither;
            ADD_FAILURE() << s.Name << ": " << what << Describe(now);
        }
        const int l = Leftovers(root);
        left += l;
        EXPECT_EQ(l, 0) << s.Name << ": " << what;
        ++runs;
    };
    for (int64_t k = 0; k < steps; ++k) {
        const std::string root = fresh("kill" + std::to_string(k));
        s.Prepare(root);
        std::fflush(nullptr);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            qvr::testhooks::KillAtStep = k;
            s.Command(root);
            _exit(0);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << s.Name << " k = " << k;
        judge(root, "killed at step " + std::to_string(k), true);
    }
    for (int64_t k = 1; k <= ops; ++k) {
        const std::string root = fresh("fail" + std::to_string(k));
        s.Prepare(root);
        qvr::testhooks::ArmFault(k, qvr::testhooks::FaultMode::Once);
        s.Command(root);
        qvr::testhooks::ArmFault(0, qvr::testhooks::FaultMode::Once);
        judge(root, "operation " + std::to_string(k) + " failed", false);
    }
    std::printf("[ sweep    ] %s: %d runs (%lld kills, %lld failed operations): %d as before, %d "
                "as after, %d partly installed as recorded (taken back whole), %d neither, %d "
                "work files left\n",
                s.Name, runs, static_cast<long long>(steps), static_cast<long long>(ops), asBefore,
                asAfter, partial, neither, left);
}
#endif

} // namespace

TEST_F(Engine, ASecondHolderOfTheTargetLockWaitsThenHearsTheFolderIsInUse) {
    const fs::path folder = Path("locked");
    fs::create_directories(folder);
    qvr::FolderLock first;
    ASSERT_TRUE(first.Take(folder.string()).Ok());
    const int64_t wait = qvr::testhooks::LockWaitMs.exchange(30);
    qvr::FolderLock second;
    const qvr::Result refused = second.Take(folder.string());
    EXPECT_FALSE(refused.Ok());
    EXPECT_NE(refused.Message.find("in use by another program"), std::string::npos);
#ifndef _WIN32
    // Another process is kept out the same way, until the first lets go.
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        qvr::FolderLock other;
        _exit(other.Take(folder.string()).Ok() ? 1 : 0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
#endif
    first.Release();
    EXPECT_TRUE(second.Take(folder.string()).Ok());
    qvr::testhooks::LockWaitMs = wait;
    second.Release();
}

// Finding 4: two installs, or an install and a removal, at once in one data folder; after
// both are removed the folder is as it was, byte for byte.
TEST_F(Engine, TwoProgramsAtOnceInOneDataFolderLoseNothing) {
    struct Pair {
        const char* Name;
        bool BInstalledFirst;
    };
    const Pair pairs[] = {{"two installs", false}, {"an install and a removal", true}};
    // In memory where the system offers it: the rounds are about the lock, not the disk's
    // flushes, and stay a few seconds.
    std::error_code ec;
    const bool shm = fs::is_directory("/dev/shm", ec);
    const qvrtest::TempFolder memory(shm ? "qvr-engine" : "qvr-engine-disk");
    const fs::path base = shm ? fs::path("/dev/shm") / memory.Path().filename() : memory.Path();
    for (const Pair& pair : pairs) {
        for (int round = 0; round < 150; ++round) {
            const std::string data = (base / std::to_string(round)).string();
            Lay(data, original);
            if (pair.BInstalledFirst) {
                ASSERT_TRUE(Install(b, true, data).Outcome.Ok());
            }
            std::atomic<bool> okA = false, okB = false;
            std::thread ta([&] { okA = Install(a, true, data).Outcome.Ok(); });
            std::thread tb([&] {
                okB = pair.BInstalledFirst ? qvr::RemoveByRecord(data, "B.qvr").Outcome.Ok()
                                           : Install(b, true, data).Outcome.Ok();
            });
            ta.join();
            tb.join();
            ASSERT_TRUE(okA && okB) << pair.Name << ", round " << round;
            for (const char* key : {"a.qvr", "b.qvr"})
                if (qvr::FindInstallRecord(data, key)) {
                    ASSERT_TRUE(qvr::RemoveByRecord(data, key).Outcome.Ok());
                }
            ASSERT_EQ(Snapshot(data), original) << pair.Name << ", round " << round;
            ASSERT_FALSE(fs::exists(qvr::RecordFolder(data))) << pair.Name << ", round " << round;
            fs::remove_all(data);
        }
    }
    fs::remove_all(base, ec);
}

// An update asks before it replaces a file of the earlier version the player changed since,
// and never writes over a record it cannot read.
TEST_F(Engine, AnUpdateAsksAboutChangedFilesAndKeepsARecordItCannotRead) {
    Lay(Data(), original);
    ASSERT_TRUE(Install(u1, true).Outcome.Ok());
    WriteAll(Data() + "/Meshes/x.nif", "player's x");
    std::vector<std::string> asked;
    const auto no = [&](const qvr::sgFileInfo& e, const std::string&) {
        asked.push_back(e.FileName());
        return false;
    };
    ASSERT_TRUE(Install(u2, no).Outcome.Ok());
    EXPECT_EQ(asked, std::vector<std::string>{"x.nif"});
    EXPECT_EQ(ReadAll(Data() + "/Meshes/x.nif"), "player's x");

    const std::string record = qvr::RecordFile(Data(), "u.qvr");
    std::string damaged = ReadAll(record);
    damaged.replace(damaged.find("state=installed"), 15, "state=installd");
    WriteAll(record, damaged);
    ASSERT_TRUE(Install(u1, true).Outcome.Ok());
    EXPECT_EQ(ReadAll(record), damaged);
}

// Finding 15: what killed runs leave (an empty record folder, a record text never renamed) is
// swept by the next command there.
TEST_F(Engine, TheNextCommandSweepsAnEmptyRecordFolderAndStrayTexts) {
    Lay(Data(), original);
    fs::create_directories(fs::path(qvr::RecordFolder(Data())) / "backups" / "3" / "Meshes");
    WriteAll(qvr::RecordFolder(Data()) + "/a.qvr.ini.new", "half a record");
    ASSERT_TRUE(qvr::CompletePendingWork(Data()).Ok());
    EXPECT_FALSE(fs::exists(qvr::RecordFolder(Data())));
    EXPECT_EQ(Snapshot(Data()), original);
}

#ifndef _WIN32
TEST_F(Engine, EveryKillAndFailureLeavesEachTargetAsBeforeOrAsAfter) {
    auto fresh = [&](const std::string& name) { return Path("sweep/" + name); };
    const Scenario data[] = {
        {"data folder install", [&](const std::string& root) { Lay(root + "/data", original); },
         [&](const std::string& root) { return TryInstall(b, root + "/data"); },
         [&](const std::string& root) { (void)qvr::CompletePendingWork(root + "/data"); },
         [&](const std::string& root) {
             return State{Snapshot(root + "/data"), {}, RecordsOf(root + "/data")};
         },
         [&](const std::string& root) {
             return qvr::RemoveByRecord(root + "/data", "b.qvr").Outcome.Ok();
         }},
        {"data folder removal",
         [&](const std::string& root) {
             Lay(root + "/data", original);
             ASSERT_TRUE(Install(a, true, root + "/data").Outcome.Ok());
             ASSERT_TRUE(Install(b, true, root + "/data").Outcome.Ok());
         },
         [&](const std::string& root) {
             return qvr::RemoveByRecord(root + "/data", "a.qvr").Outcome.Ok();
         },
         [&](const std::string& root) { (void)qvr::CompletePendingWork(root + "/data"); },
         [&](const std::string& root) {
             return State{Snapshot(root + "/data"), {}, RecordsOf(root + "/data")};
         }},
        // A new version over the earlier one, another plug-in over both files they share.
        {"data folder update",
         [&](const std::string& root) {
             Lay(root + "/data", original);
             ASSERT_TRUE(Install(u1, true, root + "/data").Outcome.Ok());
             ASSERT_TRUE(Install(b, true, root + "/data").Outcome.Ok());
         },
         [&](const std::string& root) { return TryInstall(u2, root + "/data"); },
         [&](const std::string& root) { (void)qvr::CompletePendingWork(root + "/data"); },
         [&](const std::string& root) {
             return State{Snapshot(root + "/data"), {}, RecordsOf(root + "/data")};
         },
         [&](const std::string& root) {
             return qvr::RemoveByRecord(root + "/data", "u.qvr").Outcome.Ok();
         },
         [&](const std::string& root) {
             Lay(root + "/data", original);
             ASSERT_TRUE(Install(b, true, root + "/data").Outcome.Ok());
         }},
    };
    for (const Scenario& s : data)
        Sweep(s, fresh);
}

// The Morrowind.ini beside the data folder is edited in the same transaction as the files.
TEST_F(Engine, EveryKillAndFailureLeavesFilesAndMorrowindIniAsBeforeOrAsAfter) {
    auto fresh = [&](const std::string& name) { return Path("ini/" + name); };
    const std::string ini = "[Game Files]\r\nGameFile0=Morrowind.esm\r\n; mine\r\n";
    auto prepare = [&](const std::string& root) {
        Lay(root + "/data", original);
        WriteAll(root + "/Morrowind.ini", ini);
    };
    auto install = [&](const std::string& pack, const std::string& root) {
        qvr::Archives arc2;
        arc2.TempFolder = arc.TempFolder;
        qvr::Activation told;
        return arc2.OpenArchive(pack).Ok() &&
               qvr::InstallIntoDataFolder(arc2, root + "/data", true, kYes, {}, {}, told)
                   .Outcome.Ok();
    };
    auto next = [&](const std::string& root) {
        const qvr::MorrowindIniEditor editor(root + "/data");
        (void)qvr::CompletePendingWork(qvr::DataFolderTarget(root + "/data", editor));
    };
    auto look = [&](const std::string& root) {
        return State{Snapshot(root + "/data"), ReadAll(root + "/Morrowind.ini"),
                     RecordsOf(root + "/data")};
    };
    const Scenario scenarios[] = {
        {"data folder install with Morrowind.ini", prepare,
         [&](const std::string& root) { return install(b, root); }, next, look,
         [&](const std::string& root) {
             return qvr::RemoveFromDataFolder(root + "/data", "b.qvr").Outcome.Ok();
         }},
        {"data folder removal with Morrowind.ini",
         [&](const std::string& root) {
             prepare(root);
             ASSERT_TRUE(install(a, root));
             ASSERT_TRUE(install(b, root));
         },
         [&](const std::string& root) {
             return qvr::RemoveFromDataFolder(root + "/data", "a.qvr").Outcome.Ok();
         },
         next, look},
        {"data folder update with Morrowind.ini",
         [&](const std::string& root) {
             prepare(root);
             ASSERT_TRUE(install(u1, root));
             ASSERT_TRUE(install(b, root));
         },
         [&](const std::string& root) { return install(u2, root); }, next, look,
         [&](const std::string& root) {
             return qvr::RemoveFromDataFolder(root + "/data", "u.qvr").Outcome.Ok();
         },
         [&](const std::string& root) {
             prepare(root);
             ASSERT_TRUE(install(b, root));
         }},
    };
    for (const Scenario& s : scenarios)
        Sweep(s, fresh);
}

namespace {

class OpenMWEngine : public Engine {
protected:
    static std::string Cfg(const std::string& root) { return root + "/cfg/openmw.cfg"; }
    static std::string Mods(const std::string& root) { return root + "/mods"; }
    bool InstallFor(const std::string& pack, const std::string& root) {
        qvr::Archives arc2;
        arc2.TempFolder = arc.TempFolder;
        if (!arc2.OpenArchive(pack).Ok())
            return false;
        openmw::ListReport listed;
        const openmw::Target where = openmw::TargetFor(pack, Cfg(root), Mods(root));
        return openmw::Install(arc2, where, kYes, {}, {}, listed).Outcome.Ok();
    }
    bool RemoveFor(const std::string& pack, const std::string& root) {
        const auto found = openmw::FindInstall(Mods(root), pack);
        return found && openmw::Uninstall(Cfg(root), Mods(root), *found).Outcome.Ok();
    }
    // The next command of either program: here, the recovery every command runs first.
    static void Next(const std::string& root) {
        const openmw::ConfigLines editor;
        openmw::Target where{Cfg(root), Mods(root), Mods(root) + "/x", "", false};
        qvr::InstallTarget target = openmw::EngineTarget(where, editor);
        (void)qvr::CompletePendingWork(target);
    }
    // The configuration names folders below root: compared with root's name taken out.
    static State Look(const std::string& root) {
        std::string cfg = ReadAll(Cfg(root));
        for (size_t at; (at = cfg.find(root)) != std::string::npos;)
            cfg.replace(at, root.size(), "ROOT");
        return State{Snapshot(Mods(root)), cfg, RecordsOf(Mods(root))};
    }
};

const std::string kConfig = "data=\"/games/Morrowind/Data Files\"\ncontent=Morrowind.esm\n";

} // namespace

// Finding 3: the files and the lines of an OpenMW install or removal go together or not at all.
TEST_F(OpenMWEngine, EveryKillAndFailureLeavesFilesAndLinesAsBeforeOrAsAfter) {
    auto fresh = [&](const std::string& name) { return Path("omw/" + name); };
    const Scenario scenarios[] = {
        {"OpenMW install", [&](const std::string& root) { WriteAll(Cfg(root), kConfig); },
         [&](const std::string& root) { return InstallFor(b, root); }, Next, Look,
         [&](const std::string& root) { return RemoveFor(b, root); }},
        {"OpenMW removal",
         [&](const std::string& root) {
             WriteAll(Cfg(root), kConfig);
             ASSERT_TRUE(InstallFor(a, root));
             ASSERT_TRUE(InstallFor(b, root));
         },
         [&](const std::string& root) { return RemoveFor(a, root); }, Next, Look},
        {"OpenMW update",
         [&](const std::string& root) {
             WriteAll(Cfg(root), kConfig);
             ASSERT_TRUE(InstallFor(u1, root));
             ASSERT_TRUE(InstallFor(b, root));
         },
         [&](const std::string& root) { return InstallFor(u2, root); }, Next, Look,
         [&](const std::string& root) { return RemoveFor(u2, root); },
         [&](const std::string& root) {
             WriteAll(Cfg(root), kConfig);
             ASSERT_TRUE(InstallFor(b, root));
         }},
    };
    for (const Scenario& s : scenarios)
        Sweep(s, fresh);
}

// Finding 3 as found: a failure of openmw.cfg's write leaves no files and no lines.
TEST_F(OpenMWEngine, AnInstallWhoseLinesCannotBeWrittenLeavesNothing) {
    const std::string root = Path("fail");
    WriteAll(Cfg(root), kConfig);
    fs::create_directories(Cfg(root) + ".bak/x"); // the copy of before cannot be made
    EXPECT_FALSE(InstallFor(a, root));
    EXPECT_EQ(ReadAll(Cfg(root)), kConfig);
    EXPECT_TRUE(Snapshot(Mods(root)).empty());
    EXPECT_TRUE(qvr::ListInstallRecords(Mods(root)).empty());
}

// The same archive installed again keeps its lines where they were (the load order), and
// drops those of plug-ins it no longer has.
TEST_F(OpenMWEngine, AReinstallKeepsItsLinesInPlace) {
    const std::string root = Path("again");
    WriteAll(Cfg(root), kConfig);
    ASSERT_TRUE(InstallFor(a, root));
    ASSERT_TRUE(InstallFor(b, root));
    const State both = Look(root);
    ASSERT_TRUE(InstallFor(a, root));
    EXPECT_EQ(Look(root).Config, both.Config);
    EXPECT_EQ(Look(root).Tree, both.Tree);
    const std::string v2 = Pack("A", {{"Meshes\\x.nif", "A's x"}, {"A2.esp", "A"}});
    ASSERT_TRUE(InstallFor(v2, root));
    const std::string cfg = ReadAll(Cfg(root));
    EXPECT_EQ(cfg.find("content=A.esp"), std::string::npos) << cfg;
    EXPECT_LT(cfg.find("content=B.esp"), cfg.find("content=A2.esp")) << cfg;
    ASSERT_TRUE(RemoveFor(v2, root));
    ASSERT_TRUE(RemoveFor(b, root));
    EXPECT_EQ(ReadAll(Cfg(root)), kConfig);
}

// Installs made by the version before (a list of lines beside a record in the plug-in's
// folder) are still found and removed, lines first.
TEST_F(OpenMWEngine, AnInstallOfTheVersionBeforeIsRemoved) {
    const std::string root = Path("old");
    const std::string folder = Mods(root) + "/A";
    WriteAll(Cfg(root),
             "content=Morrowind.esm\ndata=" + openmw::Quote(folder) + "\ncontent=A.esp\n");
    ASSERT_TRUE(Install(a, true, folder).Outcome.Ok());
    WriteAll(Mods(root) + "/.qvr-openmw/a.qvr.txt",
             "folder=" + folder + "\nmade=1\ndata=" + folder + "\ncontent=A.esp\n");
    ASSERT_TRUE(RemoveFor(a, root));
    EXPECT_EQ(ReadAll(Cfg(root)), "content=Morrowind.esm\n");
    EXPECT_FALSE(fs::exists(folder));
}

#endif

#if !defined(_WIN32) && !defined(__APPLE__)
// Finding 12: the openmw.cfg OpenMW reads is the one written, Flatpak's too.
TEST_F(Engine, TheOpenMWCfgDiscoveryFindsFirstIsWrittenAndNoneIsMadeUnlessNamed) {
    const fs::path home = Path("home");
    const std::string flatpak =
        (home / ".var/app/org.openmw.OpenMW/config/openmw/openmw.cfg").string();
    const std::string own = (home / ".config/openmw/openmw.cfg").string();
    qvr::HostEnvironment env;
    env.Home = home.string();
    EXPECT_FALSE(openmw::ConfigToEdit(env));
    WriteAll(flatpak, "");
    EXPECT_EQ(openmw::ConfigToEdit(env).value_or(""), flatpak);
    WriteAll(own, "");
    EXPECT_EQ(openmw::ConfigToEdit(env).value_or(""), own);
}
#endif
