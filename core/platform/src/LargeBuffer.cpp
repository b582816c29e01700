#include "qvr/platform/detail/LargeBuffer.h"

#include <cstdint>
#include <new>
#include <utility>

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace qvr::platform {

LargeBuffer::LargeBuffer(size_t n) {
#ifdef __linux__
    constexpr size_t kLargePage = size_t{2} << 20;
    if (n >= kLargePage) {
        // Whole large pages, aligned to their size: a 2 MB page must lie in one mapping.
        const size_t size = (n + kLargePage - 1) & ~(kLargePage - 1);
        void* raw = ::mmap(nullptr, size + kLargePage, PROT_READ | PROT_WRITE,
                           MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (raw == MAP_FAILED)
            throw std::bad_alloc();
        auto* start = static_cast<unsigned char*>(raw);
        const size_t lead =
            (kLargePage - reinterpret_cast<uintptr_t>(start) % kLargePage) % kLargePage;
        if (lead)
            (void)::munmap(start, lead);
        if (kLargePage - lead)
            (void)::munmap(start + lead + size, kLargePage - lead);
        m_data = start + lead;
        m_size = size;
        m_mapped = true;
        (void)::madvise(m_data, m_size, MADV_HUGEPAGE); // a hint: small pages work too
        return;
    }
#endif
    m_data = new unsigned char[n]; // uninitialised on purpose: it is written before read
    m_size = n;
}

LargeBuffer::~LargeBuffer() {
    Release();
}

LargeBuffer::LargeBuffer(LargeBuffer&& other) noexcept
    : m_data(std::exchange(other.m_data, nullptr)), m_size(std::exchange(other.m_size, 0)),
      m_mapped(std::exchange(other.m_mapped, false)) {}

LargeBuffer& LargeBuffer::operator=(LargeBuffer&& other) noexcept {
    if (this != &other) {
        Release();
        m_data = std::exchange(other.m_data, nullptr);
        m_size = std::exchange(other.m_size, 0);
        m_mapped = std::exchange(other.m_mapped, false);
    }
    return *this;
}

void LargeBuffer::Release() noexcept {
#ifdef __linux__
    if (m_mapped) {
        (void)::munmap(m_data, m_size);
        m_data = nullptr;
        return;
    }
#endif
    delete[] m_data;
    m_data = nullptr;
}

} // namespace qvr::platform
