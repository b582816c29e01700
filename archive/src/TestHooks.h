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

// Called by every write: how many of n bytes may be written; sets `fail` when the write must
// fail after them.
size_t AllowWrite(size_t n, bool& fail);
// Called before every replacing rename: true when it must fail.
bool ReplaceMustFail();

} // namespace qvr::testhooks
