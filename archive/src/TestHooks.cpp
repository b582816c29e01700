#include "TestHooks.h"

namespace qvr::testhooks {

std::atomic<int64_t> WriteBudget{-1};
std::atomic<bool> FailNextReplace{false};

size_t AllowWrite(size_t n, bool& fail) {
    fail = false;
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

} // namespace qvr::testhooks
