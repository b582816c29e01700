#pragma once
// Ways for the tests to make a write or a rename fail at a chosen moment. The library only
// consults them; nothing else sets them.

#include <atomic>
#include <cstdint>

namespace qvr::testhooks {

// Bytes that may still be written before a write fails; negative means no limit. The write
// that crosses the limit writes what fits, fails, and disarms the hook, so that recovery can
// write again.
extern std::atomic<int64_t> WriteBudget;
// When set, the next replacing rename fails (and the flag clears).
extern std::atomic<bool> FailNextReplace;

// The library's file operations, counted so that a test can make the k-th one go wrong.
enum class Op { Open, Read, Write, Flush, Rename, Delete, Lock };
enum class FaultMode {
    Once,    // the k-th operation fails, the later ones work
    ForGood, // the k-th and every later operation fail
    Exit,    // the process ends at the k-th operation, as if killed
};
// Operations counted since the last ArmFault (or since the start).
extern std::atomic<int64_t> OperationCount;
// Makes operation k (1-based, counted from now) go wrong; 0 disarms.
void ArmFault(int64_t k, FaultMode mode);
// Called before every file operation; throws ArchiveError when this one is to fail.
void Operation(Op op, const char* path);

// How long a program waits for another one's lock on an archive, in milliseconds.
extern std::atomic<int64_t> LockWaitMs;

// Called by every write: how many of n bytes may be written; sets `fail` when the write must
// fail after them.
size_t AllowWrite(size_t n, bool& fail);
// Called before every replacing rename: true when it must fail.
bool ReplaceMustFail();

} // namespace qvr::testhooks
