#pragma once
// Jobs done on worker threads a bounded way ahead of a caller who takes their results in
// order: packing compresses the files that come next while the one at hand is appended,
// verifying inflates the blocks that come next, installing inflates the members that come
// next. One pool for all three, so each says only what a job is and how far ahead to go.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <limits>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace qvr {

template <class T> class OrderedPool {
public:
    struct Limits {
        size_t Window = 1; // how many jobs may be started and not yet taken
        // What the jobs started and not yet taken may weigh together (bytes held on disk or
        // in memory); the next job to take always starts, whatever it weighs. Weight is asked
        // once per job, under the pool's lock, when that job is next to start.
        int64_t MaxWeight = std::numeric_limits<int64_t>::max();
        std::function<int64_t(size_t)> Weight = {};
        // When set, a job taken still counts against Window and MaxWeight until Release says
        // its result is done with: for a caller that holds several results at once.
        bool HeldAfterTake = false;
    };

    // With fewer than two threads nothing runs ahead: Take(k) does job k on the caller's
    // thread. Results never taken are handed to discard when the pool goes.
    OrderedPool(size_t count, unsigned threads, Limits limits, std::function<T(size_t)> work,
                std::function<void(T&)> discard = {})
        : m_limits(std::move(limits)), m_work(std::move(work)), m_discard(std::move(discard)),
          m_done(count), m_weights(count, -1) {
        if (threads < 2)
            return;
        for (unsigned t = 0; t < threads && t < count; ++t)
            m_threads.emplace_back([this] { Run(); });
    }
    ~OrderedPool() {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_room.notify_all();
        for (std::thread& t : m_threads)
            t.join();
        if (m_discard)
            for (std::optional<T>& d : m_done)
                if (d)
                    m_discard(*d);
    }
    OrderedPool(const OrderedPool&) = delete;
    OrderedPool& operator=(const OrderedPool&) = delete;

    // Job k's result, waiting for it; each job is taken once, in order.
    T Take(size_t k) {
        if (m_threads.empty())
            return m_work(k);
        std::unique_lock lock(m_mutex);
        Await(lock, k, 1);
        T out = std::move(*m_done[k]);
        m_done[k].reset();
        Taken(lock, k + 1);
        return out;
    }

    // Jobs before `end`, taken, no longer count against the limits (with HeldAfterTake).
    void Release(size_t end) {
        {
            std::lock_guard lock(m_mutex);
            ReleaseLocked(end);
        }
        m_room.notify_all();
    }

    // Job k's result, waiting for it, and those of the jobs after it that are done already,
    // up to `most` in all, taken in one go: for a caller who handles whatever is ready at once.
    std::vector<T> TakeRun(size_t k, size_t most) {
        std::vector<T> run;
        if (m_threads.empty()) {
            run.push_back(m_work(k));
            return run;
        }
        std::unique_lock lock(m_mutex);
        // Woken for a few at once, not for each: the threads go on with the rest of the
        // look-ahead meanwhile.
        most = std::max<size_t>(most, 1);
        Await(lock, k, std::min(most, std::max<size_t>(1, m_limits.Window / 4)));
        for (size_t j = k; j < m_done.size() && run.size() < most && m_done[j]; ++j) {
            run.push_back(std::move(*m_done[j]));
            m_done[j].reset();
        }
        Taken(lock, k + run.size());
        return run;
    }

private:
    // Results before `end` were taken: unless they are held, they make room for more jobs.
    void Taken(std::unique_lock<std::mutex>& lock, size_t end) {
        if (m_limits.HeldAfterTake)
            return;
        ReleaseLocked(end);
        lock.unlock();
        m_room.notify_all();
    }
    // Waits until job k is done and `want` results lie ready from it, or no job is running
    // to add to them.
    void Await(std::unique_lock<std::mutex>& lock, size_t k, size_t want) {
        m_awaited = k;
        m_want = want;
        m_ready.wait(lock, [&] { return RunReady(); });
        m_awaited = kNone;
    }
    bool RunReady() const {
        if (m_awaited == kNone || !m_done[m_awaited])
            return false;
        size_t run = 0;
        for (size_t j = m_awaited; j < m_done.size() && m_done[j] && run < m_want; ++j)
            ++run;
        return run >= m_want || m_running == 0;
    }
    bool MayStart() {
        if (m_stop || m_next >= m_done.size())
            return true;
        if (m_next == m_released) // the next to take always goes
            return true;
        if (m_next >= m_released + m_limits.Window)
            return false;
        return m_weight + WeightOf(m_next) <= m_limits.MaxWeight;
    }
    void ReleaseLocked(size_t end) {
        for (; m_released < end && m_released < m_done.size(); ++m_released)
            m_weight -= std::max<int64_t>(m_weights[m_released], 0);
    }
    int64_t WeightOf(size_t k) {
        if (m_weights[k] < 0)
            m_weights[k] = m_limits.Weight ? std::max<int64_t>(0, m_limits.Weight(k)) : 0;
        return m_weights[k];
    }
    void Run() {
        for (;;) {
            size_t k;
            {
                std::unique_lock lock(m_mutex);
                m_room.wait(lock, [&] { return MayStart(); });
                if (m_stop || m_next >= m_done.size())
                    return;
                k = m_next++;
                m_weight += WeightOf(k);
                ++m_running;
            }
            T result = m_work(k);
            bool awaited;
            {
                std::lock_guard lock(m_mutex);
                m_done[k] = std::move(result);
                --m_running;
                awaited = RunReady();
            }
            if (awaited)
                m_ready.notify_all();
        }
    }

    const Limits m_limits;
    const std::function<T(size_t)> m_work;
    const std::function<void(T&)> m_discard;
    std::vector<std::optional<T>> m_done;
    std::vector<int64_t> m_weights;
    int64_t m_weight = 0;
    size_t m_next = 0, m_released = 0;
    bool m_stop = false;
    // The caller waits for results, the threads for room to start another job, and each is
    // woken only for what it waits for: packing 10,000 small files woke a thread 12,600
    // times when every change woke everyone, 2,900 now.
    static constexpr size_t kNone = std::numeric_limits<size_t>::max();
    size_t m_awaited = kNone, m_want = 1, m_running = 0;
    std::mutex m_mutex;
    std::condition_variable m_ready, m_room;
    std::vector<std::thread> m_threads;
};

} // namespace qvr
