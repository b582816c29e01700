#pragma once
// The show commands for archives other than QVR packages, and the layout that info shows.

#include "Command.h"

#include <string>
#include <vector>

namespace qvrtool {

// Whether path is read through the core's sources rather than as a package: anything but a
// QVR package, where this build reads other archives.
bool ReadAsSource(const std::string& path);
int ListSource(const ParsedArgs& a, const Context& ctx, const std::string& path);
int InfoSource(const ParsedArgs& a, const Context& ctx, const std::string& path);
int VerifySource(const ParsedArgs& a, const Context& ctx, const std::string& path);
// The data root, options or ambiguity found among the members, as info fields.
void PrintLayout(const std::vector<std::string>& paths);
// The same for the package at path (nothing when it cannot be read as a source).
void PrintPackageLayout(const std::string& path);
// The layout as one JSON object ("null" when the package cannot be read as a source).
std::string LayoutJson(const std::vector<std::string>& paths);
std::string PackageLayoutJson(const std::string& path);
// Ends install with a message that says so when path is an archive this build reads but cannot
// install yet (zip, 7z, rar, tar).
void RefuseNotYetInstallable(const std::string& path);
void PrintField(const std::string& label, const std::string& value);

} // namespace qvrtool
