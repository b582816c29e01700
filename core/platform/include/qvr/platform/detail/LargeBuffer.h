#pragma once
// Memory for a buffer a thread fills again and again (a member inflated whole, the blocks read
// for it). One of 2 MB or more is backed by 2 MB pages where the system allows it (Linux):
// filling it then costs a fault per 2 MB, not one per 4 kB, and on a virtual machine each fault
// costs microseconds (an install of 800 members of up to 8 MB: 7,000 faults, 780 with them).

#include <cstddef>

namespace qvr::platform {

class LargeBuffer {
public:
    LargeBuffer() = default;
    // At least n bytes, uninitialised; throws std::bad_alloc.
    explicit LargeBuffer(size_t n);
    ~LargeBuffer();
    LargeBuffer(LargeBuffer&& other) noexcept;
    LargeBuffer& operator=(LargeBuffer&& other) noexcept;
    LargeBuffer(const LargeBuffer&) = delete;
    LargeBuffer& operator=(const LargeBuffer&) = delete;

    unsigned char* Data() const { return m_data; }
    size_t Size() const { return m_size; }

private:
    void Release() noexcept;

    unsigned char* m_data = nullptr;
    size_t m_size = 0;
    bool m_mapped = false;
};

} // namespace qvr::platform
