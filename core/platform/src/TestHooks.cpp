#include "qvr/platform/detail/TestHooks.h"

// Only the library's test variant holds the hooks; elsewhere this file is empty.
#ifdef QVR_TEST_HOOKS

#include "qvr/platform/detail/ArchiveError.h"

#include <csignal>
#include <cstdlib>
#include <string>

namespace qvr::testhooks {

std::atomic<int64_t> WriteBudget{-1};
std::atomic<bool> FailNextReplace{false};

std::atomic<int64_t> OperationCount{0};
std::atomic<int64_t> LockWaitMs{DefaultLockWaitMs};
std::atomic<int64_t> KillAtStep{-1};
std::atomic<int64_t> StepsTaken{0};
std::atomic<int64_t> WriteCount{0};
std::atomic<int64_t> RebootCount{0};
namespace {
std::atomic<int64_t> faultAt{0};
std::atomic<int> faultMode{0};
std::atomic<int64_t> writeFaultAt{0};
std::atomic<int> writeFaultKind{0};
} // namespace

void ArmWriteFault(int64_t k, WriteFault kind) {
    writeFaultAt.store(0);
    WriteCount.store(0);
    writeFaultKind.store(static_cast<int>(kind));
    writeFaultAt.store(k);
}

void ArmFault(int64_t k, FaultMode mode) {
    faultAt.store(0);
    OperationCount.store(0);
    faultMode.store(static_cast<int>(mode));
    faultAt.store(k);
}

// A work file's name: deleting one makes no room to speak of.
bool IsWorkFile(const std::string& path) {
    const size_t cut = path.find_last_of("/\\");
    return path.compare(cut == std::string::npos ? 0 : cut + 1, 5, "~qvr-") == 0;
}

void Operation(Op op, const char* path) {
    if (op == Op::Delete &&
        static_cast<WriteFault>(writeFaultKind.load()) == WriteFault::DiskFullUntilDelete &&
        !IsWorkFile(path))
        writeFaultAt.store(0);
    const int64_t n = ++OperationCount;
    const int64_t at = faultAt.load();
    if (at <= 0 || n < at)
        return;
    const auto mode = static_cast<FaultMode>(faultMode.load());
    if (mode == FaultMode::Exit)
        std::_Exit(137);
    if (mode == FaultMode::Once && n != at)
        return;
    static const char* const names[] = {"open",   "read",   "write", "flush",
                                        "rename", "delete", "lock"};
    throw ArchiveError(std::string("Cannot ") + names[static_cast<int>(op)] + " " + path +
                       ": input/output error (injected)");
}

size_t AllowWrite(size_t n, bool& fail) {
    fail = false;
    const int64_t count = ++WriteCount;
    const int64_t at = writeFaultAt.load();
    if (at > 0 && count >= at) {
        if (count == at) {
            fail = true;
            return n / 2; // at most n - 1: it comes up short
        }
        if (static_cast<WriteFault>(writeFaultKind.load()) != WriteFault::Short) {
            fail = true;
            return 0;
        }
    }
    int64_t budget = WriteBudget.load();
    if (budget < 0)
        return n;
    if (static_cast<uint64_t>(budget) >= n) {
        WriteBudget.store(budget - static_cast<int64_t>(n));
        return n;
    }
    WriteBudget.store(-1);
    fail = true;
    return static_cast<size_t>(budget);
}

bool ReplaceMustFail() {
    return FailNextReplace.exchange(false);
}

void Step() {
    ++StepsTaken;
    const int64_t left = KillAtStep.load();
    if (left < 0)
        return;
    if (left == 0) {
#ifdef _WIN32
        std::_Exit(137);
#else
        std::raise(SIGKILL);
#endif
    }
    KillAtStep.store(left - 1);
}

} // namespace qvr::testhooks

#endif // QVR_TEST_HOOKS
