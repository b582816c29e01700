// Every file operation of a change made to fail once, to fail for good from there on, or to
// end the process, and every write of a package's change cut short as a full disk cuts it
// (with the disk staying full or not): afterwards the package holds exactly its old or its new
// entries, and the data folder the old or the complete new file for each target.

#include "TestSupport.h"
#include "qvr/package/detail/Internal.h"
#include "qvr/package/detail/Journal.h"

#include "qvr/install/Install.h"
#include "qvr/package/BatchAdd.h"
#include "qvr/platform/TempFile.h"
#include "qvr/platform/WorkFiles.h"

#include <cstdio>
#include <functional>
#include <map>
#include <optional>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace qvr;
using namespace qvrtest;

namespace {

using Contents = std::map<std::string, std::string>;

struct Counts {
    long Tried = 0, Writes = 0, Checked = 0, Lost = 0, Left = 0, Journals = 0;
};
Counts& Total() {
    static Counts total;
    return total;
}

class PrintCounts : public ::testing::Environment {
public:
    void TearDown() override {
        const Counts& t = Total();
        if (t.Tried == 0)
            return;
        std::printf("fault injection: operations tried %ld (writes cut short %ld), states "
                    "checked %ld, packages lost: %ld, journals left: %ld, work files left: %ld\n",
                    t.Tried, t.Writes, t.Checked, t.Lost, t.Journals, t.Left);
    }
};
[[maybe_unused]] ::testing::Environment* const printer =
    ::testing::AddGlobalTestEnvironment(new PrintCounts);

class FaultInjection : public ArchiveTest {
protected:
    void SetUp() override {
        ArchiveTest::SetUp();
        path = Path("pkg.qvr");
        data = Path("Data Files");
        ASSERT_TRUE(arc.CreateArchive(path));
        for (auto [name, bytes] :
             {std::pair{"a.esp", MixedBytes(900, 1)}, std::pair{"b.nif", RandomBytes(700, 2)}})
            ASSERT_TRUE(arc.AddFileToArchive(Source(name, bytes), name, ""));
        arc.PluginInfo.PluginName("Old name");
        ASSERT_TRUE(arc.PluginInfo.SavePluginData(arc, "pkg.qvr"));
        original = ReadAll(path);
        oldHeld = Held();
    }
    void TearDown() override {
        testhooks::ArmFault(0, testhooks::FaultMode::Once);
        testhooks::ArmWriteFault(0, testhooks::WriteFault::Short);
        ArchiveTest::TearDown();
    }

    Contents Held() {
        Archives reader;
        reader.TempFolder = arc.TempFolder;
        if (const OpenStatus opened = reader.Open(path); !opened.Usable())
            return {{"<unreadable>", opened.Message}};
        Contents held;
        for (const sgFileInfo& e : reader.ArchiveFiles) {
            const std::string out = Path("out.bin");
            held[e.FileName()] = reader.ExtractEntry(e, out, true) ? ReadAll(out) : "<broken>";
            fs::remove(out);
        }
        return held;
    }
    Contents DataFolder() {
        Contents files;
        if (fs::exists(data))
            for (auto& e : fs::recursive_directory_iterator(data))
                if (e.is_regular_file())
                    files[e.path().filename().string()] = ReadAll(e.path().string());
        return files;
    }
    void Restore() {
        fs::remove(journal::PathFor(path));
        WriteAll(path, original);
        fs::remove_all(data);
        fs::create_directories(data);
        WriteAll(data + "/a.esp", "an older a.esp");
        ASSERT_EQ(arc.Open(path).Kind, OpenKind::Complete);
    }
    // Files beside the package, in the work folder and in the data folder that no one asked
    // for, once the next command has run: it opens the package (which rolls back an
    // interrupted append) and removes the work files no running program owns, as qvr does.
    void CountLeftovers(Counts& c, const std::string& where) {
        {
            Archives next;
            next.TempFolder = arc.TempFolder;
            next.Open(path);
        }
        RemoveStaleWorkFiles(dir);
        RemoveStaleWorkFiles(arc.TempFolder);
        RemoveStaleWorkFiles(data, true);
        c.Journals += fs::exists(journal::PathFor(path));
        std::vector<fs::path> left;
        for (auto& e : fs::directory_iterator(dir))
            if (e.is_regular_file() && e.path().filename() != "pkg.qvr")
                left.push_back(e.path());
        for (auto& e : fs::directory_iterator(dir + "/tmp"))
            left.push_back(e.path());
        if (fs::exists(data))
            for (auto& e : fs::recursive_directory_iterator(data))
                if (e.is_regular_file() && e.path().filename() != "a.esp" &&
                    e.path().filename() != "b.nif")
                    left.push_back(e.path());
        for (const fs::path& p : left) {
            ADD_FAILURE() << where << ": " << p.filename().string() << " was left behind";
            ++c.Left;
            fs::remove_all(p);
        }
    }
    bool OneOf(const Contents& held, const Contents& a, const Contents& b) {
        return held == a || held == b;
    }
    // Runs op at every fault, in every mode, and checks what is left. With cutWrites, also cuts
    // each of its writes short, once and for good.
    void Everywhere(const char* name, const std::function<void()>& op) {
        Restore();
        testhooks::ArmFault(std::numeric_limits<int64_t>::max(), testhooks::FaultMode::Once);
        testhooks::ArmWriteFault(std::numeric_limits<int64_t>::max(), testhooks::WriteFault::Short);
        op();
        const int64_t n = testhooks::OperationCount.load();
        const int64_t w = testhooks::WriteCount.load();
        testhooks::ArmFault(0, testhooks::FaultMode::Once);
        testhooks::ArmWriteFault(0, testhooks::WriteFault::Short);
        const Contents newHeld = Held();
        const Contents newData = DataFolder();
        Restore();
        const Contents oldData = DataFolder();
        ASSERT_GT(n, 0);
        Counts c;
        auto check = [&](int64_t k, int64_t of, const char* mode) {
            ++c.Checked;
            const Contents held = Held();
            if (!OneOf(held, oldHeld, newHeld) && !(claimed && held == *claimed)) {
                ++c.Lost;
                ADD_FAILURE() << name << ", " << mode << " at " << k << " of " << of
                              << ": the package holds neither its old nor its new entries";
            }
            for (auto& [file, bytes] : DataFolder()) {
                if (file != "a.esp" && file != "b.nif")
                    continue;
                const bool oldOne = oldData.count(file) && oldData.at(file) == bytes;
                const bool newOne = newData.count(file) && newData.at(file) == bytes;
                EXPECT_TRUE(oldOne || newOne) << name << ", " << mode << " at " << k << ": " << file
                                              << " is neither the old nor the new file";
            }
            CountLeftovers(c,
                           std::string(name) + ", " + mode + " at operation " + std::to_string(k));
        };
        for (auto mode : {testhooks::FaultMode::Once, testhooks::FaultMode::ForGood}) {
            for (int64_t k = 1; k <= n; ++k) {
                Restore();
                claimed.reset();
                testhooks::ArmFault(k, mode);
                op();
                testhooks::ArmFault(0, testhooks::FaultMode::Once);
                ++c.Tried;
                check(k, n,
                      mode == testhooks::FaultMode::Once ? "failing once" : "failing for good");
            }
        }
        for (auto kind : {testhooks::WriteFault::Short, testhooks::WriteFault::DiskFull}) {
            for (int64_t k = 1; cutWrites && k <= w; ++k) {
                Restore();
                claimed.reset();
                testhooks::ArmWriteFault(k, kind);
                op();
                testhooks::ArmWriteFault(0, kind);
                ++c.Tried;
                ++c.Writes;
                check(k, w,
                      kind == testhooks::WriteFault::Short ? "write cut short"
                                                           : "disk full from write");
            }
        }
#ifndef _WIN32
        for (int64_t k = 1; k <= n; ++k) {
            Restore();
            const pid_t child = fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                testhooks::ArmFault(k, testhooks::FaultMode::Exit);
                op();
                _exit(0);
            }
            int status = 0;
            waitpid(child, &status, 0);
            ++c.Tried;
            check(k, n, "killed");
        }
#endif
        std::printf("fault injection (%s): operations tried %ld (writes cut short %ld), states "
                    "checked %ld, packages lost: %ld, journals left: %ld, work files left: %ld\n",
                    name, c.Tried, c.Writes, c.Checked, c.Lost, c.Journals, c.Left);
        EXPECT_EQ(c.Lost, 0);
        EXPECT_EQ(c.Journals, 0);
        EXPECT_EQ(c.Left, 0);
        Counts& t = Total();
        t.Tried += c.Tried;
        t.Writes += c.Writes;
        t.Checked += c.Checked;
        t.Lost += c.Lost;
        t.Left += c.Left;
        t.Journals += c.Journals;
    }

    std::string path, data, original;
    Contents oldHeld;
    bool cutWrites = false; // a change of the package: its writes are cut short as well
    // What an operation that reports each file on its own said it did, when it said so.
    std::optional<Contents> claimed;
};

// A new package built beside the old one and put in its place only when every file went in,
// as qvr create --force does.
TEST_F(FaultInjection, CreateOverAnExistingPackage) {
    const std::vector<BatchFile> files = {{Source("c.dds", MixedBytes(3000, 3)), "c.dds", ""},
                                          {Source("d.dds", RandomBytes(2000, 4)), "d.dds", ""}};
    BatchOptions options;
    options.Jobs = 1;
    cutWrites = true;
    Everywhere("create over an existing package", [&] {
        try {
            TempFile work;
            if (!TempFile::Beside(path, work))
                return;
            Archives fresh;
            fresh.TempFolder = arc.TempFolder;
            if (!fresh.CreateArchive(work.Path()))
                return;
            for (const BatchResult& r : AddFilesToArchive(fresh, files, options, {}))
                if (!r.Added)
                    return;
            (void)work.ReplaceInto(path);
        } catch (const std::exception&) {
            // reported by the command; the old package must still be there
        }
    });
}

TEST_F(FaultInjection, Add) {
    const std::string src = Source("c.dds", MixedBytes(3000, 3));
    cutWrites = true;
    Everywhere("add", [&] { (void)arc.AddFileToArchive(src, "c.dds", "Textures"); });
}

TEST_F(FaultInjection, AddOfSeveralFiles) {
    const std::vector<BatchFile> files = {{Source("c.dds", MixedBytes(3000, 3)), "c.dds", ""},
                                          {Source("d.dds", RandomBytes(2000, 4)), "d.dds", ""},
                                          {Source("e.dds", MixedBytes(100, 5)), "e.dds", ""}};
    BatchOptions options;
    options.Jobs = 1;
    cutWrites = true;
    Everywhere("add of several files", [&] {
        // A file that cannot be read is reported and left out; the others go in together.
        const auto results = AddFilesToArchive(arc, files, options, {});
        claimed = oldHeld;
        for (const BatchResult& r : results)
            if (r.Added)
                (*claimed)[r.File.FileName] = ReadAll(r.File.Source);
    });
}

// As qvr add --replace: a.esp replaced, c.dds new, all in one change.
TEST_F(FaultInjection, AddReplacingEntries) {
    const std::vector<BatchFile> files = {{Source("a.esp", RandomBytes(2500, 6)), "a.esp", ""},
                                          {Source("c.dds", MixedBytes(3000, 3)), "c.dds", ""}};
    BatchOptions options;
    options.Jobs = 1;
    cutWrites = true;
    Everywhere("add replacing entries", [&] {
        std::vector<BatchResult> results;
        (void)ReplaceFilesInArchive(arc, files, results, options, {});
        claimed = oldHeld;
        for (const BatchResult& r : results)
            if (r.Added)
                (*claimed)[r.File.FileName] = ReadAll(r.File.Source);
    });
}

TEST_F(FaultInjection, Remove) {
    cutWrites = true;
    Everywhere("remove", [&] { (void)arc.RemoveEntries({0}); });
}

TEST_F(FaultInjection, InformationUpdate) {
    cutWrites = true;
    Everywhere("information update", [&] {
        arc.PluginInfo.PluginName("New name");
        (void)arc.PluginInfo.SavePluginData(arc, "pkg.qvr");
    });
}

// As qvr set-info: the information entry written anew in place of the old one.
TEST_F(FaultInjection, InformationReplaced) {
    cutWrites = true;
    Everywhere("information replaced", [&] {
        arc.PluginInfo.PluginName("New name");
        (void)arc.PluginInfo.UpdatePluginData(arc, "pkg.qvr");
    });
}

// A package renamed after packing keeps its information under its old name: the update
// writes the new entry and drops the old one in one change.
TEST_F(FaultInjection, InformationReplacedInARenamedPackage) {
    ASSERT_TRUE(Ok(arc.RemoveEntry("pkg.qvr.ifo", "")));
    sgPlugInfo old;
    old.PluginName("Old name");
    std::string record;
    ASSERT_TRUE(Ok(old.ToRecord(record)));
    ASSERT_TRUE(Ok(arc.AddFileToArchive(Source("old.qvr.ifo", record), "old.qvr.ifo", "")));
    original = ReadAll(path);
    oldHeld = Held();
    cutWrites = true;
    Everywhere("information replaced in a renamed package", [&] {
        arc.PluginInfo.PluginName("New name");
        (void)arc.PluginInfo.UpdatePluginData(arc, "pkg.qvr");
    });
}

TEST_F(FaultInjection, Install) {
    Everywhere("install", [&] {
        InstallArchive(arc, data, [](const sgFileInfo&, const std::string&) { return true; }, {});
    });
}

} // namespace
