#pragma once
// How `qvr list` shows an entry: dates in ISO 8601, paths with "/", and JSON for scripts.

#include "qvr/format/sgFileInfo.h"

#include <string>

namespace qvrtool {

// "3/7/2003 14:5:9" (the file's time in UTC, as entries record it) as
// "2003-03-07 14:05:09 +0000"; text that is not such a date is returned as it is.
std::string IsoFileDate(const std::string& stored);
// The time of adding, recorded as local time in the packer's short date and long time
// format, as "2026-12-07 14:05:09 +0100" with the local zone; text that cannot be read as
// a date is returned as it is.
std::string IsoAddedDate(const std::string& stored);
// The entry's folder and name joined by "/".
std::string SlashPath(const qvr::sgFileInfo& e);
// text as a JSON string literal, quotes included.
std::string JsonString(const std::string& text);
// One JSON object with every field of the entry.
std::string EntryJson(const qvr::sgFileInfo& e, bool infoEntry);

} // namespace qvrtool
