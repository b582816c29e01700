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
// against the window until it lets go, and it always gets every result, in order.
TEST(OrderedPool, ResultsHeldAfterTakingCountUntilReleased) {
    constexpr size_t kJobs = 200, kWindow = 4;
    std::atomic<size_t> released{0};
    std::atomic<int> tooFar{0};
    qvr::OrderedPool<size_t>::Limits limits;
    limits.Window = kWindow;
    limits.HeldAfterTake = true;
    Pool pool(kJobs, 3, limits, [&](size_t j) {
        if (j >= released.load() + kWindow)
            ++tooFar;
        std::this_thread::sleep_for(std::chrono::microseconds(j % 5 * 30));
        return j;
    });
    for (size_t k = 0; k < kJobs;) {
        size_t end = k + 1;
        while (pool.Ready(end))
            ++end;
        for (size_t i = k; i < end; ++i)
            ASSERT_EQ(pool.Take(i), i);
        std::this_thread::sleep_for(std::chrono::microseconds(100));
        released = end; // before the pool may start anything more
        pool.Release(end);
        k = end;
    }
    EXPECT_EQ(tooFar.load(), 0);
}

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
