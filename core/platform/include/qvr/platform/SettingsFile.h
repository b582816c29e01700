#pragma once
// The installer's settings file (qvrinst.ini), read by the installer and by qvr alike: sections
// of key=value lines. Lines are written with CR LF; reading takes CR LF or LF. Texts are written
// as UTF-8 and read as UTF-8, or as Windows-1252 when the bytes are not UTF-8 (a file from an
// older installer). A key matches a line that starts with it, in any letter case.

#include "qvr/platform/Result.h"

#include <string>

namespace qvr {

// The key's value in the first section of that name, "" when the section or the key is not
// there. Fails when the file cannot be read.
[[nodiscard]] Result ReadSetting(const std::string& path, const std::string& section,
                                 const std::string& key, std::string& value);
// Sets the key as the last line of its section, creating the file, the section or the key as
// needed; every other line keeps its place. The whole file takes its new content in one step,
// so a failure leaves it as it was.
[[nodiscard]] Result WriteSetting(const std::string& path, const std::string& section,
                                  const std::string& key, const std::string& value);
// A missing or empty settings file is made, holding the one line "[Settings]".
[[nodiscard]] Result CreateSettingsFile(const std::string& path);

} // namespace qvr
