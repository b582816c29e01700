#include "qvr/platform/SettingsFile.h"

#include "qvr/platform/Encoding.h"
#include "qvr/platform/FileUtils.h"
#include "qvr/platform/TempFile.h"
#include "qvr/platform/detail/platform.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace qvr {

namespace {

using Lines = std::vector<std::string>;

Result ReadLines(const std::string& path, Lines& lines) {
    std::ifstream in(platform::ToNative(path), std::ios::binary);
    if (!in)
        return Result::EntryFailure("Cannot read " + path + ": " + std::strerror(errno));
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        return Result::EntryFailure("Cannot read " + path + ": " + std::strerror(errno));
    const std::string text = IsValidUtf8(bytes) ? bytes : Cp1252ToUtf8(bytes);
    lines.clear();
    for (size_t start = 0;;) {
        const size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end == std::string::npos ? end : end - start));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    // The line end of the last line does not start another line.
    if (lines.back().empty())
        lines.pop_back();
    for (std::string& line : lines)
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
    return Result::Success();
}

Result WriteLines(const std::string& path, const Lines& lines) {
    std::string bytes;
    for (const std::string& line : lines)
        bytes += line + "\r\n";
    Result written = ReplaceFileContent(path, bytes);
    if (written)
        return written;
    // The user knows the settings file, not the work file the library names.
    std::string why = written.Message;
    const size_t work = why.find("~qvr-");
    const size_t end = work == std::string::npos ? work : why.find(".tmp: ", work);
    if (end != std::string::npos)
        why.erase(0, end + 6);
    else if (const size_t own = why.find(path + ": "); own != std::string::npos)
        why.erase(0, own + path.size() + 2);
    return Result::EntryFailure("Cannot write " + path + ": " + why);
}

bool IsKeyLine(const std::string& line, const std::string& key) {
    return line.size() >= key.size() && SameTextIgnoreCase(line.substr(0, key.size()), key);
}

std::string ValueOf(const std::string& line, const std::string& key) {
    return line.size() > key.size() ? line.substr(key.size() + 1) : std::string();
}

size_t FindLine(const Lines& lines, const std::string& wanted) {
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i] == wanted)
            return i;
    return lines.size();
}

} // namespace

Result ReadSetting(const std::string& path, const std::string& section, const std::string& key,
                   std::string& value) {
    Lines lines;
    if (Result read = ReadLines(path, lines); !read)
        return read;
    value.clear();
    const size_t start = FindLine(lines, "[" + section + "]");
    for (size_t i = start + 1; i < lines.size(); ++i) {
        if (lines[i].starts_with('['))
            break;
        if (IsKeyLine(lines[i], key)) {
            value = ValueOf(lines[i], key);
            break;
        }
    }
    return Result::Success();
}

Result WriteSetting(const std::string& path, const std::string& section, const std::string& key,
                    const std::string& value) {
    Lines lines;
    if (FileExists(path))
        if (Result read = ReadLines(path, lines); !read)
            return read;
    const std::string keyLine = key + "=" + value;
    const size_t start = FindLine(lines, "[" + section + "]");
    Lines out;
    if (start == lines.size()) {
        out = lines;
        out.push_back("[" + section + "]");
        out.push_back(keyLine);
        return WriteLines(path, out);
    }
    out.assign(lines.begin(), lines.begin() + static_cast<ptrdiff_t>(start) + 1);
    size_t i = start + 1;
    for (; i < lines.size() && !lines[i].starts_with('['); ++i)
        if (!IsKeyLine(lines[i], key))
            out.push_back(lines[i]);
    out.push_back(keyLine);
    out.insert(out.end(), lines.begin() + static_cast<ptrdiff_t>(i), lines.end());
    return WriteLines(path, out);
}

Result CreateSettingsFile(const std::string& path) {
    return FileExists(path) ? Result::Success() : WriteLines(path, {"[Settings]"});
}

} // namespace qvr
