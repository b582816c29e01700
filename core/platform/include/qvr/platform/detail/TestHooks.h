#pragma once
// Ways for the tests to make a file operation fail, or the process end, at a chosen moment.
// They exist only in the library's test variant (qvr_archive_testing, built with
// QVR_TEST_HOOKS); in the shipped library every hook below is an empty inline function, so
// nothing a program ships can be made to fail on purpose.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>

namespace qvr::testhooks {

// The library's file operations, counted so that a test can make the k-th one go wrong.
enum class Op { Open, Read, Write, Flush, Rename, Delete, Lock };
enum class FaultMode {
    Once,    // the k-th operation fails, the later ones work
    ForGood, // the k-th and every later operation fail
    Exit,    // the process ends at the k-th operation, as if killed
};

// A write that fails as a full disk makes it fail.
enum class WriteFault {
    Short,    // the k-th write puts down part of its bytes and fails; the later ones work
    DiskFull, // so does the k-th, and every later write fails without writing anything
    // As DiskFull, until a file is deleted that is not one of the programs' work files ("~qvr-"
    // names): room made again.
    DiskFullUntilDelete,
};

// How long a program waits for another one's lock on an archive.
inline constexpr int64_t DefaultLockWaitMs = 5000;

#ifdef QVR_TEST_HOOKS

// Bytes that may still be written before a write fails; negative means no limit. The write
// that crosses the limit writes what fits, fails, and disarms the hook, so that recovery can
// write again.
extern std::atomic<int64_t> WriteBudget;
// When set, the next replacing rename fails (and the flag clears).
extern std::atomic<bool> FailNextReplace;
// Operations counted since the last ArmFault (or since the start).
extern std::atomic<int64_t> OperationCount;
// Makes operation k (1-based, counted from now) go wrong; 0 disarms.
void ArmFault(int64_t k, FaultMode mode);
// Writes counted since the last ArmWriteFault (or since the start).
extern std::atomic<int64_t> WriteCount;
// Makes write k (1-based, counted from now) fail as a full disk does; 0 disarms.
void ArmWriteFault(int64_t k, WriteFault kind);
// The lock wait, in milliseconds; tests shorten it.
extern std::atomic<int64_t> LockWaitMs;
// Steps of the reversible install still allowed before the process kills itself; negative
// means no limit.
extern std::atomic<int64_t> KillAtStep;
// Steps of the reversible install taken since the program started.
extern std::atomic<int64_t> StepsTaken;

// Restarts of the system a test pretends have happened since the program started: each one
// gives another BootId, so that what was written before looks written in an earlier run.
extern std::atomic<int64_t> RebootCount;
inline int64_t Reboots() {
    return RebootCount.load();
}

// Called before every file operation; throws ArchiveError when this one is to fail.
void Operation(Op op, const char* path);
// Called by every write: how many of n bytes may be written; sets `fail` when the write must
// fail after them (see WriteBudget and ArmWriteFault).
size_t AllowWrite(size_t n, bool& fail);
// Called before every replacing rename: true when it must fail.
bool ReplaceMustFail();
// Called before every change of the reversible install (see KillAtStep).
void Step();
inline std::chrono::milliseconds LockWait() {
    return std::chrono::milliseconds(LockWaitMs.load());
}

#else

inline void Operation(Op, const char*) {}
inline size_t AllowWrite(size_t n, bool& fail) {
    fail = false;
    return n;
}
inline bool ReplaceMustFail() {
    return false;
}
inline void Step() {}
inline int64_t Reboots() {
    return 0;
}
inline std::chrono::milliseconds LockWait() {
    return std::chrono::milliseconds(DefaultLockWaitMs);
}

#endif

} // namespace qvr::testhooks
