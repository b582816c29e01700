#include "qvr/format/PathRules.h"

#include <algorithm>
#include <vector>

namespace qvr {

namespace {

bool Fail(std::string* why, const std::string& text) {
    if (why)
        *why = text;
    return false;
}

std::string Upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 32);
    return s;
}

bool IsDeviceName(const std::string& level) {
    // Windows reserves these names with any extension, and ignores trailing blanks before it.
    std::string base = Upper(level.substr(0, level.find('.')));
    while (!base.empty() && base.back() == ' ')
        base.pop_back();
    static const char* const kNames[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* name : kNames)
        if (base == name)
            return true;
    if (base.size() == 4 && (base.starts_with("COM") || base.starts_with("LPT")) &&
        base[3] >= '1' && base[3] <= '9')
        return true;
    // Windows takes the superscript digits one, two and three for devices as well.
    if (base.size() == 5 && (base.starts_with("COM") || base.starts_with("LPT")) &&
        (base.ends_with("\xC2\xB9") || base.ends_with("\xC2\xB2") || base.ends_with("\xC2\xB3")))
        return true;
    return false;
}

bool CheckLevel(const std::string& level, const std::string& whole, std::string* why) {
    if (level.empty())
        return Fail(why, "\"" + whole + "\" has an empty folder level");
    if (level == "." || level == "..")
        return Fail(why, "\"" + whole + "\" uses the level \"" + level + "\"");
    for (char c : level) {
        auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F)
            return Fail(why, "\"" + whole + "\" holds a control character");
        if (std::string_view("/:<>\"|?*").find(c) != std::string_view::npos)
            return Fail(why, "\"" + whole + "\" holds the character \"" + std::string(1, c) +
                                 "\", which no file name may hold");
    }
    if (level.back() == '.' || level.back() == ' ')
        return Fail(why, "\"" + whole + "\" has a level that ends in a dot or a blank");
    if (IsDeviceName(level))
        return Fail(why, "\"" + whole + "\" uses the device name \"" + level + "\"");
    return true;
}

std::vector<std::string> SplitLevels(const std::string& path) {
    std::vector<std::string> levels;
    size_t start = 0;
    while (true) {
        size_t end = path.find('\\', start);
        levels.push_back(path.substr(start, end == std::string::npos ? end : end - start));
        if (end == std::string::npos)
            return levels;
        start = end + 1;
    }
}

} // namespace

bool IsSafeFolderPath(const std::string& FilePath, std::string* why) {
    if (FilePath.empty())
        return true;
    for (const std::string& level : SplitLevels(FilePath))
        if (!CheckLevel(level, FilePath, why))
            return false;
    return true;
}

bool IsSafeEntryPath(const std::string& FilePath, const std::string& FileName, std::string* why) {
    if (FileName.empty())
        return Fail(why, "The file name is empty");
    if (FileName.find('\\') != std::string::npos)
        return Fail(why, "The file name \"" + FileName + "\" holds a \"\\\"");
    if (!CheckLevel(FileName, FileName, why))
        return false;
    return IsSafeFolderPath(FilePath, why);
}

std::string ToArchivePath(const std::string& anyPath) {
    std::string out;
    for (char c : anyPath) {
        if (c == '/' || c == '\\') {
            if (!out.empty() && out.back() != '\\')
                out += '\\';
        } else {
            out += c;
        }
    }
    if (!out.empty() && out.back() == '\\')
        out.pop_back();
    return out;
}

} // namespace qvr
