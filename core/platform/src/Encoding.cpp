#include "qvr/platform/Encoding.h"

#include <algorithm>
#include <cstdint>

namespace qvr {

namespace {

// Code points of the bytes 0x80..0x9F. The five bytes Windows-1252 leaves undefined map to
// the C1 controls of the same value, so that every byte survives a round trip.
const char32_t kHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

int ToCp1252(char32_t cp) {
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF))
        return static_cast<int>(cp);
    for (int k = 0; k < 32; ++k)
        if (kHigh[k] == cp)
            return 0x80 + k;
    return -1;
}

char32_t FoldCase(char32_t cp) {
    if (cp >= 'A' && cp <= 'Z')
        return cp + 32;
    if (cp >= 0xC0 && cp <= 0xDE && cp != 0xD7)
        return cp + 32;
    switch (cp) {
    case 0x0160:
        return 0x0161; // S with caron
    case 0x0152:
        return 0x0153; // OE
    case 0x017D:
        return 0x017E; // Z with caron
    case 0x0178:
        return 0x00FF; // Y with diaeresis
    default:
        return cp;
    }
}

} // namespace

bool SteersText(char32_t cp) {
    return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0x061C || cp == 0x200E ||
           cp == 0x200F || (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069);
}

bool NextCodePoint(const std::string& s, size_t& i, char32_t& cp) {
    auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    unsigned char b0 = byte(i);
    size_t len;
    if (b0 < 0x80) {
        cp = b0;
        len = 1;
    } else if (b0 >= 0xC2 && b0 <= 0xDF) {
        cp = b0 & 0x1F;
        len = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        cp = b0 & 0x0F;
        len = 3;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        cp = b0 & 0x07;
        len = 4;
    } else {
        return false;
    }
    if (i + len > s.size())
        return false;
    for (size_t k = 1; k < len; ++k) {
        unsigned char b = byte(i + k);
        if ((b & 0xC0) != 0x80)
            return false;
        cp = (cp << 6) | (b & 0x3F);
    }
    if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
        return false;
    i += len;
    return true;
}

std::optional<std::string> Utf8ToCp1252(const std::string& utf8) {
    std::string out;
    out.reserve(utf8.size());
    size_t i = 0;
    while (i < utf8.size()) {
        char32_t cp;
        if (!NextCodePoint(utf8, i, cp))
            return std::nullopt;
        int b = ToCp1252(cp);
        if (b < 0)
            return std::nullopt;
        out += static_cast<char>(b);
    }
    return out;
}

std::string Cp1252ToUtf8(const std::string& cp1252) {
    // Nearly every name is ASCII, which reads the same in both.
    if (std::all_of(cp1252.begin(), cp1252.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return cp1252;
    std::string out;
    out.reserve(cp1252.size());
    for (char c : cp1252) {
        auto b = static_cast<unsigned char>(c);
        AppendUtf8(out, b >= 0x80 && b < 0xA0 ? kHigh[b - 0x80] : b);
    }
    return out;
}

namespace {
constexpr char32_t kCp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF,
    0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
    0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4,
    0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};
} // namespace

std::string Cp437ToUtf8(const std::string& cp437) {
    std::string out;
    out.reserve(cp437.size());
    for (char c : cp437) {
        auto b = static_cast<unsigned char>(c);
        AppendUtf8(out, b >= 0x80 ? kCp437High[b - 0x80] : b);
    }
    return out;
}

bool IsValidUtf8(const std::string& text) {
    size_t i = 0;
    char32_t cp;
    while (i < text.size())
        if (!NextCodePoint(text, i, cp))
            return false;
    return true;
}

namespace {

bool IsAscii(unsigned char c) {
    return c < 0x80;
}

char FoldAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

} // namespace

std::string LowerText(const std::string& text) {
    // Most names are ASCII: folded byte by byte, without decoding (the fold below never maps a
    // character outside ASCII into it, nor one inside out of it).
    if (std::all_of(text.begin(), text.end(), [](char c) { return IsAscii(c); })) {
        std::string out = text;
        for (char& c : out)
            c = FoldAscii(c);
        return out;
    }
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        char32_t cp;
        size_t start = i;
        if (!NextCodePoint(text, i, cp)) {
            // Not UTF-8: keep the rest as it is, folding only ASCII letters.
            for (size_t k = start; k < text.size(); ++k) {
                char c = text[k];
                out += (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
            }
            return out;
        }
        AppendUtf8(out, FoldCase(cp));
    }
    return out;
}

bool SameTextIgnoreCase(const std::string& a, const std::string& b) {
    if (a.size() == b.size() && a == b)
        return true;
    // Compared in place while both are ASCII, which settles nearly every pair: folding keeps
    // ASCII and the rest apart, so an ASCII byte against any other, or one text ending before
    // the other, can never fold alike.
    size_t k = 0;
    for (; k < a.size() && k < b.size(); ++k) {
        const unsigned char x = static_cast<unsigned char>(a[k]);
        const unsigned char y = static_cast<unsigned char>(b[k]);
        if (!IsAscii(x) || !IsAscii(y))
            break;
        if (FoldAscii(a[k]) != FoldAscii(b[k]))
            return false;
    }
    if (k == a.size() || k == b.size())
        return a.size() == b.size();
    return LowerText(a) == LowerText(b);
}

std::string ToCrLf(const std::string& text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            out += "\r\n";
            if (i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else if (text[i] == '\n') {
            out += "\r\n";
        } else {
            out += text[i];
        }
    }
    return out;
}

} // namespace qvr
