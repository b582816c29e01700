#include "qvr/format/PathRules.h"

#include "qvr/platform/Encoding.h"
#include "qvr/platform/FileUtils.h"

#include <algorithm>
#include <string_view>
#include <vector>

namespace qvr {

namespace {

bool Fail(std::string* why, const std::string& text) {
    if (why)
        *why = text;
    return false;
}

char UpperAscii(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
}

// ASCII letters compared without their case; every other byte as it is.
bool SameUpper(std::string_view text, std::string_view upper) {
    return text.size() == upper.size() &&
           std::equal(text.begin(), text.end(), upper.begin(),
                      [](char a, char b) { return UpperAscii(a) == b; });
}

bool IsDeviceName(std::string_view level) {
    // Windows reserves these names with any extension, and ignores trailing blanks before it.
    std::string_view base = level.substr(0, level.find('.'));
    while (!base.empty() && base.back() == ' ')
        base.remove_suffix(1);
    static constexpr std::string_view kNames[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (std::string_view name : kNames)
        if (SameUpper(base, name))
            return true;
    const bool comOrLpt = base.size() >= 4 && (SameUpper(base.substr(0, 3), "COM") ||
                                               SameUpper(base.substr(0, 3), "LPT"));
    if (comOrLpt && base.size() == 4 && base[3] >= '1' && base[3] <= '9')
        return true;
    // Windows takes the superscript digits one, two and three for devices as well.
    if (comOrLpt && base.size() == 5 &&
        (base.ends_with("\xC2\xB9") || base.ends_with("\xC2\xB2") || base.ends_with("\xC2\xB3")))
        return true;
    return false;
}

// "QVR-IN~1" or "PROGRA~2.TXT": Windows answers such a name with the file whose short name it
// is, so an entry could reach a folder it does not name (a record folder among them).
bool IsShortAlias(std::string_view level) {
    const size_t tilde = level.find('~');
    if (tilde == std::string_view::npos || tilde == 0 || tilde > 6)
        return false;
    const size_t dot = level.find('.', tilde);
    const std::string_view base = level.substr(0, dot);
    if (base.size() > 8 || base.size() == tilde + 1 ||
        base.find_first_not_of("0123456789", tilde + 1) != std::string_view::npos ||
        base[tilde + 1] == '0')
        return false;
    return dot == std::string_view::npos ||
           (level.size() - dot - 1 <= 3 && level.find('.', dot + 1) == std::string_view::npos);
}

// Wine's short names: up to four letters of the name, "~" up to the fifth place, three letters
// of a hash, up to three of the extension ("_QVR~GTZ", "MORR~ONA.ESM", "AB~~~K3Q").
bool IsHashedShortAlias(std::string_view level) {
    const size_t dot = level.find('.');
    const std::string_view base = level.substr(0, dot);
    if (base.size() != 8 || base[4] != '~' || base.find_first_not_of('~', base.find('~')) != 5)
        return false;
    const auto letterOrDigit = [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    };
    return std::all_of(base.begin() + 5, base.end(), letterOrDigit) &&
           (dot == std::string_view::npos ||
            (level.size() - dot - 1 <= 3 && level.find('.', dot + 1) == std::string_view::npos));
}

bool IsAsciiOwnName(std::string_view level) {
    const auto lowered = [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
    };
    const auto same = [&](std::string_view part, std::string_view own) {
        return part.size() == own.size() &&
               std::equal(part.begin(), part.end(), own.begin(),
                          [&](char a, char b) { return lowered(a) == b; });
    };
    const std::string_view journal = ".qvr-journal";
    return same(level, kRecordFolderName) || same(level, kOpenMWRecordFolderName) ||
           same(level, kLockFileName) || (level.size() >= 5 && same(level.substr(0, 5), "~qvr-")) ||
           (level.size() >= journal.size() &&
            same(level.substr(level.size() - journal.size()), journal));
}

// The checks answer without making a string unless they refuse: every entry of every archive
// passes through them, several times.
bool CheckLevel(std::string_view level, std::string_view whole, std::string* why) {
    const auto quoted = [&] { return "\"" + std::string(whole) + "\""; };
    const auto named = [&] { return std::string(level); };
    if (level.empty())
        return Fail(why, quoted() + " has an empty folder level");
    if (level == "." || level == "..")
        return Fail(why, quoted() + " uses the level \"" + named() + "\"");
    for (size_t i = 0; i < level.size(); ++i) {
        const char c = level[i];
        auto b = static_cast<unsigned char>(c);
        // C0 and DEL, and C1 (U+0080 to U+009F, "\xC2\x80" to "\xC2\x9F" in UTF-8).
        if (b < 0x20 || b == 0x7F ||
            (b == 0xC2 && i + 1 < level.size() && static_cast<unsigned char>(level[i + 1]) < 0xA0))
            return Fail(why, quoted() + " holds a control character");
        if (std::string_view("/:<>\"|?*").find(c) != std::string_view::npos)
            return Fail(why, quoted() + " holds the character \"" + std::string(1, c) +
                                 "\", which no file name may hold");
    }
    if (level.back() == '.' || level.back() == ' ')
        return Fail(why, quoted() + " has a level that ends in a dot or a blank");
    if (IsDeviceName(level))
        return Fail(why, quoted() + " uses the device name \"" + named() + "\"");
    if (IsShortAlias(level) || IsHashedShortAlias(level))
        return Fail(why, quoted() + " uses \"" + named() +
                             "\", which Windows can read as the short name of another file");
    if (IsOwnName(level))
        return Fail(why, quoted() + " uses the name \"" + named() +
                             "\", which the programs keep for their own records");
    return true;
}

bool SafeRelative(const std::string& path, std::string* why) {
    if (path.empty())
        return Fail(why, "The path is empty");
    for (size_t start = 0;;) {
        const size_t end = path.find('\\', start);
        const std::string_view level = std::string_view(path).substr(
            start, end == std::string::npos ? std::string_view::npos : end - start);
        if (!CheckLevel(level, path, why))
            return false;
        if (end == std::string::npos)
            return true;
        start = end + 1;
    }
}

} // namespace

bool IsOwnName(std::string_view level) {
    // Folding never moves a letter into ASCII or out of it, so ASCII is compared as it is.
    if (std::all_of(level.begin(), level.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return IsAsciiOwnName(level);
    const std::string name = LowerText(std::string(level));
    return name == kRecordFolderName || name == kOpenMWRecordFolderName || name == kLockFileName ||
           name.starts_with("~qvr-") || name.ends_with(".qvr-journal");
}

namespace {

bool SafeFolder(const std::string& FilePath, std::string* why) {
    return FilePath.empty() || SafeRelative(FilePath, why);
}

bool SafeEntry(const std::string& FilePath, const std::string& FileName, std::string* why) {
    if (FileName.empty())
        return Fail(why, "The file name is empty");
    if (FileName.find('\\') != std::string::npos)
        return Fail(why, "The file name \"" + FileName + "\" holds a \"\\\"");
    if (!CheckLevel(FileName, FileName, why))
        return false;
    return SafeFolder(FilePath, why);
}

bool SafeSettingValue(const std::string& value, std::string* why);

// The private checks answer bool and say why through a pointer, so that the refusal's words
// are only made when asked for; the public edge answers a Result.
Result Verdict(bool safe, std::string why) {
    return safe ? Result::Success() : Result::EntryFailure(std::move(why));
}

} // namespace

Result IsSafeRelativePath(const std::string& path) {
    std::string why;
    const bool safe = SafeRelative(path, &why);
    return Verdict(safe, std::move(why));
}

Result IsSafeFolderPath(const std::string& FilePath) {
    std::string why;
    const bool safe = SafeFolder(FilePath, &why);
    return Verdict(safe, std::move(why));
}

Result IsSafeEntryPath(const std::string& FilePath, const std::string& FileName) {
    std::string why;
    const bool safe = SafeEntry(FilePath, FileName, &why);
    return Verdict(safe, std::move(why));
}

Result IsSafeSettingValue(const std::string& value) {
    std::string why;
    const bool safe = SafeSettingValue(value, &why);
    return Verdict(safe, std::move(why));
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

namespace {

// The length of the UTF-8 character at text[i], or 0 when there is none (a stray or cut-short
// byte, an overlong form, a surrogate).
size_t CharLength(const std::string& text, size_t i) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b < 0x80)
        return 1;
    const size_t n = (b >= 0xF0 && b <= 0xF4)  ? 4
                     : (b >= 0xE0 && b < 0xF0) ? 3
                     : (b >= 0xC2 && b < 0xE0) ? 2
                                               : 0;
    if (n == 0 || i + n > text.size())
        return 0;
    for (size_t k = 1; k < n; ++k)
        if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
            return 0;
    const auto second = static_cast<unsigned char>(text[i + 1]);
    if ((b == 0xE0 && second < 0xA0) || (b == 0xED && second >= 0xA0) ||
        (b == 0xF0 && second < 0x90) || (b == 0xF4 && second >= 0x90))
        return 0;
    return n;
}

// C0, DEL and C1 (U+0080 to U+009F), the characters a terminal or a settings file acts on.
bool IsControl(const std::string& text, size_t i, size_t length) {
    const auto b = static_cast<unsigned char>(text[i]);
    return (length == 1 && (b < 0x20 || b == 0x7F)) ||
           (length == 2 && b == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0);
}

void TrimBlanksAndDots(std::string& name) {
    while (!name.empty() && (name.back() == ' ' || name.back() == '.'))
        name.pop_back();
    const size_t first = name.find_first_not_of(" .");
    name.erase(0, first == std::string::npos ? name.size() : first);
}

} // namespace

std::string MakePlainName(const std::string& text, size_t maxBytes) {
    std::string name;
    for (size_t i = 0; i < text.size();) {
        size_t n = CharLength(text, i);
        if (n == 0 || IsControl(text, i, n) ||
            (n == 1 && std::string_view("/\\:*?\"<>|").find(text[i]) != std::string_view::npos))
            name += '_';
        else
            name.append(text, i, n);
        i += n == 0 ? 1 : n;
    }
    TrimBlanksAndDots(name);
    if (name.size() > maxBytes) {
        size_t cut = maxBytes;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
            --cut; // not inside a character
        name.resize(cut);
        TrimBlanksAndDots(name);
    }
    if (name.empty() || !CheckLevel(name, name, nullptr))
        name = "_" + name;
    return name;
}

namespace {

bool SafeSettingValue(const std::string& value, std::string* why) {
    const std::string shown = "\"" + value + "\"";
    if (value.empty())
        return Fail(why, "The value is empty");
    for (size_t i = 0; i < value.size();) {
        const size_t n = CharLength(value, i);
        if (n == 0)
            return Fail(why, shown + " is not UTF-8 text");
        if (IsControl(value, i, n))
            return Fail(why, shown + " holds a line break or another control character");
        i += n;
    }
    if (value.front() == ' ' || value.back() == ' ')
        return Fail(why, shown + " begins or ends with a blank");
    if (std::string_view("\"=#;[").find(value.front()) != std::string_view::npos)
        return Fail(why, shown + " begins with \"" + value.substr(0, 1) +
                             "\", which the settings file would read as more than a name");
    return true;
}

} // namespace

std::string ShownEntryPath(const std::string& storedPath) {
    std::string shown = storedPath;
    const char separator = NativeSeparator()[0];
    std::replace(shown.begin(), shown.end(), '\\', separator);
    return shown;
}

std::string ShownEntryPath(const std::string& folder, const std::string& name) {
    return ShownEntryPath(folder.empty() ? name : folder + "\\" + name);
}

} // namespace qvr
