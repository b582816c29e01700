#pragma once
// The work files this process has made and not yet removed or put in place, so that an
// interrupt can remove them. Every work file is named by WorkFileName.

#include <string>

namespace qvr::detail {

// "~qvr-" + the plain characters of hint + "-" + process id + "-" + a counter + ".tmp".
std::string WorkFileName(const std::string& hint);
// Noted before the file or folder is made, so that an interrupt never misses it.
void RememberWorkFile(const std::string& path, bool folder = false);
// Once it is removed or has taken another file's place.
void ForgetWorkFile(const std::string& path);
// When removing it failed: no one owns it any more, so the next sweep for stale work files
// (RemoveStaleWorkFiles) removes it although this process is still running.
void AbandonWorkFile(const std::string& path);
// Whether this process gave up the work file of that name (without folder).
bool IsAbandonedWorkFile(const std::string& name);

} // namespace qvr::detail
