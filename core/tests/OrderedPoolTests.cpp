// The worker pool that packing, verifying and installing share: results in order, never
// further ahead than asked, and nothing left behind when the caller stops early.

#include "qvr/platform/OrderedPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

namespace {

using Pool = qvr::OrderedPool<size_t>;

struct Bounds {
    unsigned Threads;
    size_t Window;
    int64_t MaxWeight; // each job k weighs k % 5 + 1
};

class OrderedPoolBounds : public testing::TestWithParam<Bounds> {};

TEST_P(OrderedPoolBounds, GivesEachResultInOrderWithinItsBounds) {
    const Bounds b = GetParam();
    constexpr size_t kJobs = 300;
    auto weightOf = [](size_t k) { return int64_t(k % 5 + 1); };
    // Counted before each Take: the pool may start job j only once Take has been asked for
    // every job more than Window before j, and only while the jobs from there to j weigh
    // no more than the bound.
    std::atomic<size_t> asked{0};
    std::atomic<int> tooFar{0}, tooHeavy{0};
    Pool pool(kJobs, b.Threads, {b.Window, b.MaxWeight, weightOf}, [&](size_t j) {
        const size_t from = asked.load();
        if (j >= from + b.Window)
            ++tooFar;
        int64_t weight = 0;
        for (size_t i = from; i <= j; ++i)
            weight += weightOf(i);
        if (j > from && weight > b.MaxWeight)
            ++tooHeavy;
        std::this_thread::sleep_for(std::chrono::microseconds(j % 7 * 20));
        return j * 3;
    });
    for (size_t k = 0; k < kJobs; ++k) {
        asked = k + 1;
        ASSERT_EQ(pool.Take(k), k * 3);
    }
    EXPECT_EQ(tooFar.load(), 0);
    EXPECT_EQ(tooHeavy.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(Bounds, OrderedPoolBounds,
                         testing::Values(Bounds{1, 4, 1000}, Bounds{2, 4, 1000},
                                         Bounds{4, 16, 1000}, Bounds{3, 64, 7},
                                         Bounds{2, 1, 1000}));

// A caller that takes what is ready in a row and holds it a while: what it holds counts
// against the window until it lets go, and it always gets every result, in order, even where
// the weight lets fewer jobs run than the caller would gladly take at once.
struct Held {
    size_t Window;
    int64_t MaxWeight;
};
class OrderedPoolHeld : public testing::TestWithParam<Held> {};

TEST_P(OrderedPoolHeld, ResultsHeldAfterTakingCountUntilReleased) {
    constexpr size_t kJobs = 203;
    const Held held = GetParam();
    std::atomic<size_t> released{0};
    std::atomic<int> tooFar{0};
    qvr::OrderedPool<size_t>::Limits limits;
    limits.Window = held.Window;
    limits.MaxWeight = held.MaxWeight;
    limits.Weight = [](size_t) { return int64_t{1}; };
    limits.HeldAfterTake = true;
    Pool pool(kJobs, 3, limits, [&](size_t j) {
        if (j >= released.load() + held.Window)
            ++tooFar;
        std::this_thread::sleep_for(std::chrono::microseconds(j % 5 * 30));
        return j;
    });
    for (size_t k = 0; k < kJobs;) {
        const std::vector<size_t> run = pool.TakeRun(k, 16);
        ASSERT_FALSE(run.empty());
        for (size_t i = 0; i < run.size(); ++i)
            ASSERT_EQ(run[i], k + i);
        const size_t end = k + run.size();
        std::this_thread::sleep_for(std::chrono::microseconds(100));
        released = end; // before the pool may start anything more
        pool.Release(end);
        k = end;
    }
    EXPECT_EQ(tooFar.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(Limits, OrderedPoolHeld,
                         testing::Values(Held{4, 1000}, Held{16, 1000}, Held{16, 2}));

TEST(OrderedPool, ResultsNeverTakenAreDiscardedWhenTheCallerStops) {
    std::atomic<size_t> made{0}, discarded{0};
    {
        Pool pool(
            100, 3, {.Window = 8},
            [&](size_t k) {
                ++made;
                return k;
            },
            [&](size_t&) { ++discarded; });
        for (size_t k = 0; k < 5; ++k)
            pool.Take(k);
    }
    EXPECT_EQ(made.load(), 5 + discarded.load()) << "a result was neither taken nor discarded";
    EXPECT_LT(made.load(), 100u) << "the workers ran on after the caller stopped";
}

} // namespace
