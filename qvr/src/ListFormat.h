#pragma once
// How `qvr list` shows an entry: dates in ISO 8601, paths as people write them here, and JSON
// for scripts (whose paths take "/" on every system).

#include "qvr/format/sgFileInfo.h"

#include <string>
#include <vector>

namespace qvrtool {

// "3/7/2003 14:5:9" (the file's time in UTC, as entries record it) as
// "2003-03-07 14:05:09 +0000"; text that is not such a date is returned as it is.
std::string IsoFileDate(const std::string& stored);
// The time of adding, recorded as the packer's local time in its short date and long time
// format, as "2026-12-07 14:05:09". Without a zone: the package does not record the packer's,
// and the reader's own would move the time by the distance between the two; text that cannot
// be read as a date is returned as it is.
std::string IsoAddedDate(const std::string& stored);
// The entry's folder and name joined by "/", as JSON gives paths.
std::string SlashPath(const qvr::sgFileInfo& e);
// text as a JSON string literal, quotes included.
std::string JsonString(const std::string& text);
// The texts as a JSON array of strings on one line.
std::string JsonList(const std::vector<std::string>& items);
// One JSON object with every field of the entry.
std::string EntryJson(const qvr::sgFileInfo& e, bool infoEntry);

} // namespace qvrtool
