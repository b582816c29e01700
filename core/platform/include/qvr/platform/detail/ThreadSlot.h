#pragma once
// State kept per thread (buffers, compressors) and freed when its thread ends. Not a
// thread_local object with a destructor: MinGW's runtime runs those after the thread's own
// storage is gone, and the freeing crashed under Wine.

namespace qvr::platform {

class ThreadSlot {
public:
    using Make = void* (*)();
    using Free = void (*)(void*);
    // One slot for the life of the program (a function's static); Make is called once per
    // thread, on its first Get, and Free with that value when the thread ends.
    ThreadSlot(Make make, Free free);
    ThreadSlot(const ThreadSlot&) = delete;
    ThreadSlot& operator=(const ThreadSlot&) = delete;

    void* Get(); // this thread's value; nullptr when none could be made

private:
    Make m_make;
    Free m_free;
    unsigned long m_key = 0;
};

} // namespace qvr::platform
