#include "qvr/sources/Readme.h"

#include "qvr/platform/Encoding.h"
#include "qvr/platform/WorkFiles.h"
#include "qvr/platform/detail/platform.h"

#include <algorithm>
#include <fstream>

namespace qvr::sources {

namespace {

std::string FileName(const std::string& path) {
    const size_t cut = path.rfind('/');
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

bool IsText(const std::string& lowerName) {
    const size_t dot = lowerName.rfind('.');
    if (dot == std::string::npos)
        return true;
    const std::string ext = lowerName.substr(dot);
    return ext == ".txt" || ext == ".md";
}

bool NamesReadme(std::string lowerName) {
    std::erase_if(lowerName, [](char c) { return c == ' ' || c == '_' || c == '-' || c == '.'; });
    return lowerName.find("readme") != std::string::npos;
}

size_t Depth(const std::string& path) {
    return static_cast<size_t>(std::count(path.begin(), path.end(), '/'));
}

std::string Cleaned(std::string text) {
    if (!IsValidUtf8(text))
        text = Cp1252ToUtf8(text);
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\r') {
            if (i + 1 == text.size() || text[i + 1] != '\n')
                out += '\n';
        } else if (c >= 0x20 || c == '\n' || c == '\t') {
            out += static_cast<char>(c);
        }
    }
    if (out.starts_with("\xEF\xBB\xBF")) // a byte-order mark
        out.erase(0, 3);
    return out;
}

} // namespace

std::optional<size_t> FindReadme(const std::vector<std::string>& paths) {
    std::optional<size_t> best, onlyText;
    size_t texts = 0;
    for (size_t i = 0; i < paths.size(); ++i) {
        const std::string name = LowerText(FileName(paths[i]));
        if (!IsText(name))
            continue;
        if (name.ends_with(".txt") && ++texts == 1)
            onlyText = i;
        if (NamesReadme(name) && (!best || Depth(paths[i]) < Depth(paths[*best])))
            best = i;
    }
    if (best)
        return best;
    return texts == 1 ? onlyText : std::nullopt;
}

std::optional<size_t> FindReadme(const Source& source) {
    std::vector<std::string> paths;
    for (const Member& m : source.Members())
        paths.push_back(m.Path);
    return FindReadme(paths);
}

bool QuickToRead(const Source& source, size_t member) {
    // A few tenths of a second of LZMA here.
    constexpr int64_t kQuick = int64_t{8} << 20;
    return source.DecodedBefore(member) <= kQuick;
}

std::optional<std::string> ReadmeText(Source& source, size_t member, size_t maxBytes) {
    std::optional<std::string> text;
    try {
        std::string folder;
        if (!MakeWorkFolder("", "readme", folder))
            return std::nullopt;
        const std::string file =
            platform::FromNative(platform::ToNative(folder) / platform::ToNative("readme"));
        bool written = false;
        (void)source.Extract({{member, file, false, {}}}, [&](const Done& d) {
            written = static_cast<bool>(d.Outcome);
            return true;
        });
        if (written) {
            std::ifstream in(platform::ToNative(file), std::ios::binary);
            std::string bytes(maxBytes, '\0');
            in.read(bytes.data(), static_cast<std::streamsize>(maxBytes));
            bytes.resize(static_cast<size_t>(in.gcount()));
            const bool cut = in.peek() != std::char_traits<char>::eof();
            // A character cut in two at the end would make the whole text look like no UTF-8.
            if (cut) {
                size_t back = 0;
                while (back < 3 && back < bytes.size() &&
                       (static_cast<unsigned char>(bytes[bytes.size() - 1 - back]) & 0xC0) == 0x80)
                    ++back;
                if (back < bytes.size() &&
                    static_cast<unsigned char>(bytes[bytes.size() - 1 - back]) >= 0xC0)
                    bytes.resize(bytes.size() - 1 - back);
            }
            text = Cleaned(bytes);
            if (cut)
                *text += "\n\n(The rest of the file is not shown.)";
        }
        RemoveWorkFolder(folder);
    } catch (const std::exception&) {
        return std::nullopt; // no read-me is shown rather than the install stopped
    }
    return text;
}

} // namespace qvr::sources
