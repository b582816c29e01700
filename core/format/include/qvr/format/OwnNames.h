#pragma once
// The names the programs keep for themselves inside a game's folder: no package may hold them.

#include <string>

namespace qvr {

// Whether one level of a path (a folder or a file name) is, in any letter case, the install
// record folder ".qvr-installed", OpenMW's record folder ".qvr-openmw", a work file
// "~qvr-*.tmp" or a journal "*-journal".
bool IsProgramOwnName(const std::string& level);
// The first level of FilePath ("" or levels joined by "\") and FileName that is such a name,
// or "" when none is.
std::string ProgramOwnLevel(const std::string& FilePath, const std::string& FileName);

} // namespace qvr
