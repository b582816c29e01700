// An install or a removal killed before any one of its file operations, then run again,
// must end exactly as an uninterrupted run, with no kept copy lost.

#ifndef _WIN32

#include "ReversibleSupport.h"
#include "qvr/install/detail/InstallFiles.h"

#include <functional>
#include <sys/wait.h>
#include <unistd.h>

using namespace qvrtest;

namespace {

struct Listing {
    std::string Key;
    std::vector<std::string> Files;
    bool operator==(const Listing&) const = default;
};

std::vector<Listing> Records(const std::string& data) {
    std::vector<Listing> out;
    for (const auto& r : qvr::ListInstallRecords(data)) {
        Listing l{r.Key, {}};
        for (const auto& f : r.Files)
            l.Files.push_back(f.Path + (f.Replaced ? " R" : " N") + std::to_string(f.Crc));
        out.push_back(l);
        EXPECT_EQ(r.State, qvr::RecordState::Installed) << r.Key;
    }
    return out;
}

// Runs command in a child process that is killed before its k-th file operation.
void KilledAt(int64_t k, const std::function<void()>& command) {
    std::fflush(nullptr);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        qvr::testhooks::KillAtStep = k;
        command();
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "k = " << k;
}

class Kill : public Reversible {
protected:
    const Files original = {{"Morrowind.esm", "master"},
                            {"Meshes\\x.nif", "game's x"},
                            {"Textures\\t.dds", "game's t"}};

    // The stack both commands start from: A over the game's files, B over A.
    void Prepare(const std::string& data) {
        Lay(data, original);
        ASSERT_TRUE(Install(a, true, data).Outcome.Ok());
        ASSERT_TRUE(Install(b, true, data).Outcome.Ok());
    }

    void SetUp() override {
        Reversible::SetUp();
        a = Pack("A",
                 {{"Meshes\\x.nif", "A's x"}, {"Meshes\\new\\a.nif", "A's own"}, {"a.esp", "A"}});
        b = Pack("B", {{"Meshes\\x.nif", "B's x"}, {"Textures\\t.dds", "B's t"}, {"b.esp", "B"}});
        c = Pack("C", {{"Textures\\t.dds", "C's t"},
                       {"Meshes\\new\\c.nif", "C's own"},
                       {"Sound\\c.wav", "C's sound"},
                       {"a.esp", "C's a"}});
    }

    // For every k: a child runs command on a fresh copy of the stack and is killed before its
    // k-th file operation; the same command then runs to the end.
    void EveryKill(const std::function<bool(const std::string&)>& command) {
        const std::string reference = Path("reference");
        Prepare(reference);
        const int64_t before = qvr::testhooks::StepsTaken.load();
        ASSERT_TRUE(command(reference));
        const int64_t steps = qvr::testhooks::StepsTaken.load() - before;
        ASSERT_GT(steps, 3);
        const Files expected = Snapshot(reference);
        const std::vector<Listing> records = Records(reference);

        for (int64_t k = 0; k < steps; ++k) {
            const std::string data = Path("run" + std::to_string(k));
            Prepare(data);
            std::fflush(nullptr);
            pid_t child = fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                qvr::testhooks::KillAtStep = k;
                command(data);
                _exit(0);
            }
            int status = 0;
            ASSERT_EQ(waitpid(child, &status, 0), child);
            ASSERT_TRUE(WIFSIGNALED(status)) << "k = " << k << " of " << steps;
            ASSERT_TRUE(command(data)) << "k = " << k;
            ASSERT_EQ(Snapshot(data), expected) << "k = " << k;
            ASSERT_EQ(Records(data), records) << "k = " << k;
            // No kept copy was lost: taking everything back gives the game's files.
            while (!qvr::ListInstallRecords(data).empty()) {
                auto last = qvr::ListInstallRecords(data).back();
                ASSERT_TRUE(qvr::RemoveByRecord(data, last.Key).Outcome.Ok()) << "k = " << k;
            }
            ASSERT_EQ(Snapshot(data), original) << "k = " << k;
            EXPECT_FALSE(fs::exists(qvr::RecordFolder(data))) << "k = " << k;
        }
    }

    std::string a, b, c;
};

TEST_F(Kill, InstallKilledAtAnyFileOperationCompletesWhenRunAgain) {
    EveryKill([&](const std::string& data) { return Install(c, true, data).Outcome.Ok(); });
}

TEST_F(Kill, RemovalFromTheMiddleKilledAtAnyFileOperationCompletesWhenRunAgain) {
    EveryKill(
        [&](const std::string& data) { return qvr::RemoveByRecord(data, "a.qvr").Outcome.Ok(); });
}

TEST_F(Kill, ReinstallKilledAtAnyFileOperationCompletesWhenRunAgain) {
    EveryKill([&](const std::string& data) { return Install(a, true, data).Outcome.Ok(); });
}

// Its removal after a kill counts as removed only the files the install had written, and says
// the install was taken back.
TEST_F(Kill, ARemovalOfAnInstallCutShortCountsOnlyTheFilesThatWereThere) {
    const std::string reference = Path("reference");
    Prepare(reference);
    const int64_t before = qvr::testhooks::StepsTaken.load();
    ASSERT_TRUE(Install(c, true, reference).Outcome.Ok());
    const int64_t steps = qvr::testhooks::StepsTaken.load() - before;
    for (int64_t k = 0; k < steps; ++k) {
        const std::string data = Path("cut" + std::to_string(k));
        Prepare(data);
        KilledAt(k, [&] { (void)Install(c, true, data); });
        size_t present = 0; // C's files that replace nothing
        for (const char* own : {"/Meshes/new/c.nif", "/Sound/c.wav"})
            present += fs::exists(data + own);
        const auto record = qvr::FindInstallRecord(data, "c.qvr");
        const bool cut = record && record->State == qvr::RecordState::Installing;
        const qvr::RemovalReport removed = qvr::RemoveByRecord(data, "c.qvr");
        if (removed.Outcome.Ok()) {
            EXPECT_LE(removed.Count(FileFate::Removed), present) << "k = " << k;
            // Said as what it was: an install taken back, not a plug-in removed.
            EXPECT_EQ(removed.TakenBack, std::vector<std::string>(cut, "C.qvr")) << "k = " << k;
        }
    }
}

// An update cut short is taken back by the next command, which says the version before stays.
TEST_F(Kill, AnUpdateCutShortIsToldAsOneWhoseEarlierVersionStays) {
    const std::string a2 = Path("packs/v2/A.qvr");
    WriteAll(a2, qvrtest::PackBytes("A.qvr", {{"Meshes\\x.nif", "A2's x"}, {"a.esp", "A2"}}));
    const std::string reference = Path("update-reference");
    Prepare(reference);
    const int64_t before = qvr::testhooks::StepsTaken.load();
    ASSERT_TRUE(Install(a2, true, reference).Outcome.Ok());
    const int64_t steps = qvr::testhooks::StepsTaken.load() - before;
    for (int64_t k = 0; k < steps; ++k) {
        const std::string data = Path("update" + std::to_string(k));
        Prepare(data);
        KilledAt(k, [&] { (void)Install(a2, true, data); });
        bool cut = false;
        for (const auto& r : qvr::ListInstallRecords(data))
            cut = cut || r.State == qvr::RecordState::Installing;
        const qvr::InstallReport next = Install(c, true, data);
        ASSERT_TRUE(next.Outcome.Ok()) << "k = " << k;
        EXPECT_TRUE(next.TakenBack.empty()) << "k = " << k;
        EXPECT_EQ(next.UpdatesTakenBack, std::vector<std::string>(cut, "A.qvr")) << "k = " << k;
        EXPECT_EQ(qvr::ListInstallRecords(data).size(), 3u) << "k = " << k;
    }
}

// Removing the plug-in after an update killed anywhere removes it whole, whichever version the
// kill left, under the name the player knows.
TEST_F(Kill, AnUpdateKilledAnywhereIsRemovedWholeByName) {
    const std::string a2 = Path("packs/v2/A.qvr");
    WriteAll(a2, qvrtest::PackBytes("A.qvr", {{"Meshes\\x.nif", "A2's x"}, {"a.esp", "A2"}}));
    const std::string reference = Path("removed-reference");
    Prepare(reference);
    ASSERT_TRUE(qvr::RemoveByRecord(reference, "A.qvr").Outcome.Ok());
    const Files expected = Snapshot(reference);
    Prepare(Path("count"));
    const int64_t start = qvr::testhooks::StepsTaken.load();
    ASSERT_TRUE(Install(a2, true, Path("count")).Outcome.Ok());
    const int64_t steps = qvr::testhooks::StepsTaken.load() - start;
    for (int64_t k = 0; k < steps; ++k) {
        const std::string data = Path("killed-update" + std::to_string(k));
        Prepare(data);
        KilledAt(k, [&] { (void)Install(a2, true, data); });
        ASSERT_TRUE(qvr::RemoveByRecord(data, "A.qvr").Outcome.Ok()) << "k = " << k;
        EXPECT_EQ(Snapshot(data), expected) << "k = " << k;
        ASSERT_EQ(qvr::ListInstallRecords(data).size(), 1u) << "k = " << k;
        EXPECT_EQ(qvr::ListInstallRecords(data)[0].Key, "b.qvr") << "k = " << k;
    }
}

} // namespace

#endif
