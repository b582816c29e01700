#include "ListFormat.h"

#include "qvr/platform/Encoding.h"

#include "Terminal.h"

#include "qvr/install/Install.h"

#include <cstdio>
#include <ctime>
#include <iomanip>
#include <locale>
#include <map>
#include <optional>
#include <sstream>
#include <vector>

namespace qvrtool {

namespace {

// The whole numbers in text, in order; false when anything but digits and the given
// separators stands in it.
bool Numbers(const std::string& text, const std::string& separators, std::vector<int>& out) {
    out.clear();
    bool inNumber = false;
    for (char c : text) {
        if (c >= '0' && c <= '9') {
            if (!inNumber)
                out.push_back(0);
            if (out.back() > 100000)
                return false;
            out.back() = out.back() * 10 + (c - '0');
            inNumber = true;
        } else if (separators.find(c) != std::string::npos) {
            inNumber = false;
        } else {
            return false;
        }
    }
    return true;
}

bool Plausible(const std::tm& tm) {
    return tm.tm_mon >= 0 && tm.tm_mon < 12 && tm.tm_mday >= 1 && tm.tm_mday <= 31 &&
           tm.tm_hour >= 0 && tm.tm_hour < 24 && tm.tm_min >= 0 && tm.tm_min < 60 &&
           tm.tm_sec >= 0 && tm.tm_sec <= 60;
}

// "2003-03-07 14:05:09", followed by the zone when one is known.
std::string Format(const std::tm& tm, const char* zone = nullptr) {
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d%s%s", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, zone ? " " : "",
                  zone ? zone : "");
    return text;
}

bool ParseWith(const std::string& text, const std::locale& loc, const char* format, std::tm& tm) {
    std::istringstream in(text);
    in.imbue(loc);
    tm = std::tm{};
    in >> std::get_time(&tm, format);
    if (in.fail())
        return false;
    in >> std::ws;
    return in.eof() && Plausible(tm);
}

} // namespace

std::string IsoFileDate(const std::string& stored) {
    std::vector<int> n;
    if (!Numbers(stored, "/ :", n) || n.size() != 6)
        return stored;
    std::tm tm{};
    tm.tm_mon = n[0] - 1;
    tm.tm_mday = n[1];
    tm.tm_year = n[2] - 1900;
    tm.tm_hour = n[3];
    tm.tm_min = n[4];
    tm.tm_sec = n[5];
    return Plausible(tm) ? Format(tm, "+0000") : stored;
}

// The user's locale, made once: loading it costs more than listing an entry.
const std::locale* UserLocale() {
    static const std::optional<std::locale> user = []() -> std::optional<std::locale> {
        try {
            return std::locale("");
        } catch (const std::exception&) {
            return std::nullopt;
        }
    }();
    return user ? &*user : nullptr;
}

namespace {

std::string ParseAddedDate(const std::string& stored) {
    std::tm tm{};
    bool parsed = false;
    // The user's own format first (the one this machine's packer writes), then the format
    // written when there is none.
    if (const std::locale* user = UserLocale())
        parsed = ParseWith(stored, *user, "%x %X", tm);
    if (!parsed)
        parsed = ParseWith(stored, std::locale::classic(), "%m/%d/%y %H:%M:%S", tm);
    if (!parsed)
        return stored;
    if (tm.tm_year < 0)
        tm.tm_year += 100; // two-digit years read as 19xx
    if (tm.tm_year < 70)
        tm.tm_year += 100;
    return Format(tm);
}

} // namespace

std::string IsoAddedDate(const std::string& stored) {
    // One package's entries were mostly added at the same moment: each text is read once
    // (reading it through the user's locale costs more than listing the entry).
    static thread_local std::map<std::string, std::string> seen;
    auto known = seen.find(stored);
    if (known != seen.end())
        return known->second;
    if (seen.size() > 4096)
        seen.clear();
    return seen.emplace(stored, ParseAddedDate(stored)).first->second;
}

std::string SlashPath(const qvr::sgFileInfo& e) {
    std::string path = qvr::EntryDisplayPath(e);
    for (char& c : path)
        if (c == '\\')
            c = '/';
    return path;
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    const auto escaped = [&](char32_t unit) {
        char esc[16];
        std::snprintf(esc, sizeof esc, "\\u%04x", static_cast<unsigned>(unit));
        out += esc;
    };
    for (size_t i = 0; i < text.size();) {
        const size_t at = i;
        char32_t cp = 0;
        if (!qvr::NextCodePoint(text, i, cp)) { // a byte of another encoding: JSON is UTF-8
            out += "\xEF\xBF\xBD";
            ++i;
        } else if (cp == '"' || cp == '\\') {
            out += '\\';
            out += static_cast<char>(cp);
        } else if (cp == '\n' || cp == '\r' || cp == '\t') {
            out += cp == '\n' ? "\\n" : cp == '\r' ? "\\r" : "\\t";
        } else if (qvr::SteersText(cp)) {
            // Escaped as any terminal control or mark that reorders text on screen (0x9B is
            // CSI to many terminals), whatever prints the JSON.
            if (cp > 0xFFFF) {
                escaped(0xD800 + ((cp - 0x10000) >> 10));
                escaped(0xDC00 + ((cp - 0x10000) & 0x3FF));
            } else {
                escaped(cp);
            }
        } else {
            out.append(text, at, i - at);
        }
    }
    return out + "\"";
}

std::string JsonList(const std::vector<std::string>& items) {
    std::string out = "[";
    for (size_t i = 0; i < items.size(); ++i)
        out += (i ? ", " : "") + JsonString(items[i]);
    return out + "]";
}

std::string EntryJson(const qvr::sgFileInfo& e, bool infoEntry) {
    std::string folder = e.FilePath();
    for (char& c : folder)
        if (c == '\\')
            c = '/';
    return "{\"path\": " + JsonString(SlashPath(e)) + ", \"name\": " + JsonString(e.FileName()) +
           ", \"folder\": " + JsonString(folder) + ", \"size\": " + std::to_string(e.FileSize()) +
           ", \"compressed\": " + std::to_string(e.FileCompressedSize()) +
           ", \"offset\": " + std::to_string(e.FileOffset()) +
           ", \"modified\": " + JsonString(IsoFileDate(e.FileDate())) +
           ", \"added\": " + JsonString(IsoAddedDate(e.FileArchiveDate())) +
           ", \"modified_recorded\": " + JsonString(e.FileDate()) +
           ", \"added_recorded\": " + JsonString(e.FileArchiveDate()) +
           ", \"information\": " + (infoEntry ? "true" : "false") + "}";
}

} // namespace qvrtool
