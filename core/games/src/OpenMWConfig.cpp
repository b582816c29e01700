#include "qvr/games/OpenMWConfig.h"
#include "qvr/platform/TempFile.h"

#include "qvr/format/PathRules.h"
#include "qvr/platform/detail/ArchiveError.h"
#include "qvr/platform/detail/platform.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace qvr::openmw {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b]))
        ++b;
    while (e > b && IsBlank(s[e - 1]))
        --e;
    return s.substr(b, e - b);
}

bool SameName(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        return lower(x) == lower(y);
    });
}

// One folder however the line spells it: a trailing separator or a "." level names no other.
bool SameFolder(const std::string& a, const std::string& b) {
    if (a == b)
        return true;
    const auto normal = [](const std::string& text) {
        std::filesystem::path p = platform::ToNative(text).lexically_normal();
        return !p.has_filename() && p.has_relative_path() ? p.parent_path() : p;
    };
    return !a.empty() && !b.empty() && normal(a) == normal(b);
}

// The text after the first '=' of a key=value line.
std::string RawValue(const std::string& text) {
    size_t eq = text.find('=');
    return eq == std::string::npos ? std::string() : text.substr(eq + 1);
}

std::string Join(const std::string& base, std::initializer_list<const char*> parts) {
    std::filesystem::path p = platform::ToNative(base);
    for (const char* part : parts)
        p /= platform::ToNative(part);
    return platform::FromNative(p);
}

bool ReadAll(const std::string& path, std::string& bytes, bool& exists) {
    std::error_code ec;
    exists = std::filesystem::exists(platform::ToNative(path), ec);
    bytes.clear();
    if (!exists)
        return !ec;
    std::ifstream in(platform::ToNative(path), std::ios::binary);
    if (!in)
        return false;
    std::ostringstream s;
    s << in.rdbuf();
    bytes = s.str();
    return !in.bad();
}

void WriteAll(const std::string& path, const std::string& bytes) {
    std::ofstream out(platform::ToNative(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.flush();
    if (!out)
        throw ArchiveError("Cannot write " + path);
}

// Written beside the target first, so that the target is either the old or the new version.
// With accessOf, it gets that file's permissions (a copy of a private file stays private).
void WriteReplacing(const std::string& path, const std::string& bytes,
                    const std::string& accessOf = {}) {
    TempFile temp; // deleted unless it takes the place
    ThrowOnFailure(TempFile::Beside(path, temp));
    WriteAll(temp.Path(), bytes);
    if (!accessOf.empty()) {
        platform::CopyAccess(accessOf, temp.Path());
        // The replacement takes the old file's permissions: make those the right ones first.
        if (platform::KindOf(path) == platform::PathKind::Regular)
            platform::CopyAccess(accessOf, path);
    }
    ThrowOnFailure(temp.ReplaceInto(path));
}

} // namespace

std::string Quote(const std::string& value) {
    std::string out = "\"";
    for (char c : value) {
        if (c == '&' || c == '"')
            out += '&';
        out += c;
    }
    return out + '"';
}

std::string Unquote(const std::string& raw) {
    std::string s = Trim(raw);
    if (s.empty() || s[0] != '"')
        return s;
    std::string out;
    for (size_t i = 1; i < s.size(); ++i) {
        if (s[i] == '&' && i + 1 < s.size())
            out += s[++i];
        else if (s[i] == '"')
            break;
        else
            out += s[i];
    }
    return out;
}

std::string KeyOf(const std::string& lineText) {
    std::string text = lineText;
    if (text.rfind("\xEF\xBB\xBF", 0) == 0)
        text.erase(0, 3);
    size_t eq = text.find('=');
    if (eq == std::string::npos)
        return {};
    std::string key = Trim(text.substr(0, eq));
    if (key.empty() || key[0] == '#' ||
        std::any_of(key.begin(), key.end(), [](char c) { return IsBlank(c); }))
        return {};
    return key;
}

Config Config::Parse(const std::string& bytes) {
    Config config;
    size_t start = 0;
    while (start < bytes.size()) {
        size_t nl = bytes.find('\n', start);
        if (nl == std::string::npos) {
            config.m_lines.push_back({bytes.substr(start), ""});
            break;
        }
        size_t end = nl > start && bytes[nl - 1] == '\r' ? nl - 1 : nl;
        config.m_lines.push_back(
            {bytes.substr(start, end - start), bytes.substr(end, nl + 1 - end)});
        start = nl + 1;
    }
    return config;
}

std::string Config::Bytes() const {
    std::string out;
    for (const auto& line : m_lines)
        out += line.Text + line.Ending;
    return out;
}

std::vector<std::string> Config::Values(const std::string& key) const {
    std::vector<std::string> values;
    for (const auto& line : m_lines)
        if (KeyOf(line.Text) == key)
            values.push_back(Unquote(RawValue(line.Text)));
    return values;
}

std::string Config::DominantEnding() const {
    size_t crlf = 0, lf = 0;
    for (const auto& line : m_lines)
        if (line.Ending == "\r\n")
            ++crlf;
        else if (line.Ending == "\n")
            ++lf;
    return crlf > lf ? "\r\n" : "\n";
}

void Config::InsertAfterLast(const std::string& key, const std::string& text) {
    size_t at = m_lines.size(); // insert before this index
    for (size_t i = m_lines.size(); i-- > 0;)
        if (KeyOf(m_lines[i].Text) == key) {
            at = i + 1;
            break;
        }
    const std::string ending = DominantEnding();
    if (at > 0 && m_lines[at - 1].Ending.empty()) {
        // The file's last line had no line end: it gets one, and the new last line goes without,
        // so that removing it again restores the file exactly.
        m_lines[at - 1].Ending = ending;
        m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(at), Line{text, ""});
        return;
    }
    std::string own = at > 0 ? m_lines[at - 1].Ending : ending;
    m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(at), Line{text, own});
}

ModLines Config::AddMod(const ModLines& mod) {
    ModLines added;
    // No value becomes a line unless the file reads it back as that one value.
    if (!mod.DataFolder.empty() && IsSafeSettingValue(mod.DataFolder)) {
        auto folders = Values("data");
        if (std::none_of(folders.begin(), folders.end(),
                         [&](const std::string& f) { return SameFolder(f, mod.DataFolder); })) {
            InsertAfterLast("data", "data=" + Quote(mod.DataFolder));
            added.DataFolder = mod.DataFolder;
        }
    }
    for (const auto& name : mod.Content) {
        if (!IsSafeSettingValue(name))
            continue;
        auto present = Values("content");
        if (std::none_of(present.begin(), present.end(),
                         [&](const std::string& p) { return SameName(p, name); })) {
            InsertAfterLast("content", "content=" + name);
            added.Content.push_back(name);
        }
    }
    return added;
}

size_t Config::RemoveMod(const ModLines& mod) {
    size_t removed = 0;
    for (size_t i = m_lines.size(); i-- > 0;) {
        const std::string key = KeyOf(m_lines[i].Text);
        const std::string value = Unquote(RawValue(m_lines[i].Text));
        bool ours =
            (key == "data" && !mod.DataFolder.empty() && SameFolder(value, mod.DataFolder)) ||
            (key == "content" &&
             std::any_of(mod.Content.begin(), mod.Content.end(),
                         [&](const std::string& n) { return SameName(n, value); }));
        if (!ours)
            continue;
        // The inverse of InsertAfterLast: a last line without line end passes that on.
        if (i + 1 == m_lines.size() && m_lines[i].Ending.empty() && i > 0)
            m_lines[i - 1].Ending.clear();
        m_lines.erase(m_lines.begin() + static_cast<std::ptrdiff_t>(i));
        ++removed;
    }
    return removed;
}

std::string BackupPath(const std::string& configPath) {
    return configPath + ".bak";
}

std::string EditFolderOf(const std::string& path) {
    std::string file = path;
    try {
        file = platform::FollowLinks(path);
    } catch (const std::exception&) {
        // A loop of links: nothing is written through it; its own folder is locked.
    }
    return platform::FromNative(platform::ToNative(file).parent_path());
}

Result Update(const std::string& configPath, const std::function<void(Config&)>& edit) {
    const auto fail = [](const std::string& why) { return Result::EntryFailure(why); };
    std::string before;
    bool existed = false;
    if (!ReadAll(configPath, before, existed))
        return fail("Cannot read " + configPath);
    try {
        Config config = Config::Parse(before);
        edit(config);
        const std::string after = config.Bytes();
        if (after == before)
            return Result::Success();
        std::string now;
        bool existsNow = false;
        if (!ReadAll(configPath, now, existsNow) || now != before || existsNow != existed)
            return fail(configPath + " changed while it was being edited; nothing was written");
        std::error_code ec;
        std::filesystem::create_directories(platform::ToNative(configPath).parent_path(), ec);
        if (existed)
            WriteReplacing(BackupPath(configPath), before, configPath);
        WriteReplacing(configPath, after);
    } catch (const std::exception& e) {
        return fail(e.what());
    }
    return Result::Success();
}

namespace {

// base joined with parts; "" when base is no absolute path (no HOME, or a relative XDG_*
// folder, which the XDG rules say to ignore): never a folder below the current one.
std::string Under(const std::string& base, std::initializer_list<const char*> parts) {
    return platform::ToNative(base).is_absolute() ? Join(base, parts) : std::string();
}

// XDG_CONFIG_HOME or XDG_DATA_HOME when absolute, else fallback below HOME.
std::string XdgFolder(const HostEnvironment& env, const char* variable,
                      std::initializer_list<const char*> fallback) {
    const std::string base = env.Get(variable);
    return platform::ToNative(base).is_absolute() ? base : Under(env.Home, fallback);
}

} // namespace

std::string UserConfigFolder(const HostEnvironment& env) {
    if (!env.Get("OPENMW_CONFIG_DIR").empty())
        return env.Get("OPENMW_CONFIG_DIR");
#if defined(_WIN32)
    return Under(env.Documents.empty() ? Under(env.Home, {"Documents"}) : env.Documents,
                 {"My Games", "OpenMW"});
#elif defined(__APPLE__)
    return Under(env.Home, {"Library", "Preferences", "openmw"});
#else
    return Under(XdgFolder(env, "XDG_CONFIG_HOME", {".config"}), {"openmw"});
#endif
}

namespace {

std::vector<std::string> ConfigCandidates(const HostEnvironment& env) {
    std::vector<std::string> out;
    if (const std::string given = env.Get("OPENMW_CONFIG"); !given.empty()) {
        std::error_code ec;
        out.push_back(std::filesystem::is_directory(platform::ToNative(given), ec)
                          ? Join(given, {"openmw.cfg"})
                          : given);
    }
    if (!env.Get("OPENMW_CONFIG_DIR").empty())
        out.push_back(Join(env.Get("OPENMW_CONFIG_DIR"), {"openmw.cfg"}));
    if (const std::string user = UserConfigFolder(env); !user.empty())
        out.push_back(Join(user, {"openmw.cfg"}));
#if !defined(_WIN32) && !defined(__APPLE__)
    if (const std::string flatpak =
            Under(env.Home, {".var", "app", "org.openmw.OpenMW", "config", "openmw", "openmw.cfg"});
        !flatpak.empty())
        out.push_back(flatpak);
#endif
    return out;
}

} // namespace

std::optional<std::string> FindUserConfig(const HostEnvironment& env) {
    for (const std::string& file : ConfigCandidates(env)) {
        std::error_code ec;
        if (std::filesystem::is_regular_file(platform::ToNative(file), ec))
            return file;
    }
    return std::nullopt;
}

bool ConfigNamed(const HostEnvironment& env) {
    return !env.Get("OPENMW_CONFIG").empty() || !env.Get("OPENMW_CONFIG_DIR").empty();
}

std::optional<std::string> ConfigToEdit(const HostEnvironment& env) {
    if (std::optional<std::string> found = FindUserConfig(env))
        return found;
    if (!ConfigNamed(env))
        return std::nullopt;
    return ConfigCandidates(env).front();
}

std::string DefaultModsFolder(const HostEnvironment& env) {
#if defined(_WIN32)
    return Under(env.Documents.empty() ? Under(env.Home, {"Documents"}) : env.Documents,
                 {"My Games", "OpenMW", "mods"});
#elif defined(__APPLE__)
    return Under(env.Home, {"Library", "Application Support", "openmw", "mods"});
#else
    return Under(XdgFolder(env, "XDG_DATA_HOME", {".local", "share"}), {"openmw", "mods"});
#endif
}

} // namespace qvr::openmw
