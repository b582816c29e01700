#pragma once
// The parts of the user's surroundings that finding the game and OpenMW's files depend on,
// passed in as values so that the same routines run over a fake home folder in the tests.

#include <map>
#include <string>

namespace qvr {

struct HostEnvironment {
    std::string Home;                             // UTF-8; "" when unknown
    std::map<std::string, std::string> Variables; // the environment variables that matter
    std::string Documents; // Windows' Documents folder; "" for Home\Documents

    // A variable's value, or "" when unset.
    std::string Get(const std::string& name) const;
};

// The running user's home folder and environment.
HostEnvironment CurrentHostEnvironment();

// Whether this Windows program runs under Wine (false elsewhere): the tests skip what Wine
// does not do as Windows does.
bool RunningUnderWine();

// Lets the C library read the local time zone once for the whole run: without TZ it looks at
// /etc/localtime again for every date it converts, and reading a zip archive converts two for
// each member. The zone stays the system's. Called by each program before its threads start.
void ReadTimeZoneOnce();
// Asks the system to back the program's memory with large pages where it can (Linux): each
// new small page costs a fault, and a listing of many files touches thousands. Called first
// thing in main, with the megabytes the program's lists and, for a window program, its
// toolkit's own start take.
void PreferLargePages(size_t megabytes = 16);
// The same for the memory of the calling thread, which the C library takes from a heap of
// the thread's own: a thread that reads a large package's list would otherwise fault on every
// new small page. Called first thing on such a thread, after PreferLargePages.
void PreferLargePagesOnThisThread();

} // namespace qvr
