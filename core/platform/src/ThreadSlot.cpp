#include "qvr/platform/detail/ThreadSlot.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <pthread.h>
#endif

namespace qvr::platform {
namespace {

// What a thread's key holds: its value and how to free it.
struct Held {
    void* Value;
    ThreadSlot::Free FreeIt;
};

#ifdef _WIN32
void WINAPI Release(void* held) {
#else
void Release(void* held) {
#endif
    if (!held)
        return;
    auto* h = static_cast<Held*>(held);
    h->FreeIt(h->Value);
    delete h;
}

} // namespace

ThreadSlot::ThreadSlot(Make make, Free free) : m_make(make), m_free(free) {
#ifdef _WIN32
    m_key = FlsAlloc(&Release);
#else
    pthread_key_t key{};
    if (pthread_key_create(&key, &Release) == 0)
        m_key = static_cast<unsigned long>(key) + 1; // 0 stays "none"
#endif
}

void* ThreadSlot::Get() {
#ifdef _WIN32
    if (m_key == FLS_OUT_OF_INDEXES)
        return nullptr;
    if (auto* h = static_cast<Held*>(FlsGetValue(m_key)))
        return h->Value;
#else
    if (m_key == 0)
        return nullptr;
    const auto key = static_cast<pthread_key_t>(m_key - 1);
    if (auto* h = static_cast<Held*>(pthread_getspecific(key)))
        return h->Value;
#endif
    void* value = m_make();
    if (!value)
        return nullptr;
    auto* h = new Held{value, m_free};
#ifdef _WIN32
    FlsSetValue(m_key, h);
#else
    pthread_setspecific(key, h);
#endif
    return value;
}

} // namespace qvr::platform
