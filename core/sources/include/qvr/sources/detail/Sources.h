#pragma once
// The sources behind Open: each opens one kind of archive. Private to this layer and its tests.

#include "qvr/sources/Source.h"

#include <string>

namespace qvr::sources::detail {

// A QVR package (the caller has seen its magic). name: the archive's file name.
Opened OpenQvr(const std::string& path, const std::string& name);
// Any other archive, through libarchive where the build has it; a zip's plain members are read
// straight from the file unless readZipDirectly is false.
Opened OpenOther(const std::string& path, const std::string& name, bool readZipDirectly = true);
// Why the archive at path cannot be read whole: one volume of several (a split zip, 7z or rar),
// a 7z whose writer had not finished, or a zip cut short; "" otherwise.
std::string VolumeProblem(const std::string& path);

// An archive whose file ends before its contents do, as a stopped download leaves it.
inline constexpr const char* kCutShort =
    "is cut short: the file ends before the archive does (was its download finished?)";

} // namespace qvr::sources::detail
