#pragma once
// Work files are the files and folders the library makes while it changes something. They are
// all named "~qvr-HINT-PID-N.tmp", so that those of a process that ended without removing them
// (killed, or the power went) can be found and removed by the next command.

#include "qvr/platform/Result.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qvr {

// Whether name (without folder) is a work file's name; sets pid to the process that made it.
bool IsWorkFileName(const std::string& name, uint32_t& pid);
// The work files in folder (with below, also in its sub-folders) whose process is no longer
// running: regular files of a work file's name, and folders of exactly the names MakeWorkFolder
// gives. Links are never followed, and no folder of a work file's name is gone through.
std::vector<std::string> FindStaleWorkFiles(const std::string& folder, bool below = false);
// Removes those; answers the ones removed.
std::vector<std::string> RemoveStaleWorkFiles(const std::string& folder, bool below = false);
// For an interrupt: removes every work file of this process that is still there and ends the
// process with code. No thread can make another work file meanwhile.
[[noreturn]] void RemoveWorkFilesAndExit(int code);

// Makes a folder of this process's own in parent ("" for the temporary folder) and sets made to
// its path; hint is one of "batch", "import", "readme", "spool" and "unpack", which the sweep
// knows. It is a work file: an interrupt removes it with everything in it, and so does the
// next sweep for stale work files once this process has ended.
[[nodiscard]] Result MakeWorkFolder(const std::string& parent, const std::string& hint,
                                    std::string& made);
// Removes such a folder with everything in it; one that cannot be removed is left to the
// next sweep.
void RemoveWorkFolder(const std::string& path);
// Whether the process of that number may still be running (true when that cannot be told).
bool ProcessMayBeRunning(uint32_t pid);

} // namespace qvr
