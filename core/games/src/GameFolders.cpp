#include "qvr/games/GameFolders.h"

#include "qvr/format/PathRules.h"
#include "qvr/games/OpenMWConfig.h"
#include "qvr/games/OpenMWInstall.h"
#include "qvr/install/InstallRecord.h"
#include "qvr/platform/detail/platform.h"

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#ifdef _WIN32
#include <windows.h>
#endif

namespace qvr {

namespace fs = std::filesystem;

namespace {

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

std::vector<std::string> SplitSlashes(const std::string& relative) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(relative);
    while (std::getline(in, part, '/'))
        if (!part.empty())
            parts.push_back(part);
    return parts;
}

// Follows `relative` ("a/b/c") below base one level at a time, taking a name that differs only
// in letter case when the exact one is missing: Wine prefixes and copied installs vary.
bool Resolve(fs::path base, const std::string& relative, fs::path& out) {
    std::error_code ec;
    if (base.empty() || !fs::is_directory(base, ec))
        return false;
    for (const auto& part : SplitSlashes(relative)) {
        fs::path exact = base / platform::ToNative(part);
        if (fs::exists(exact, ec)) {
            base = exact;
            continue;
        }
        bool found = false;
        for (fs::directory_iterator it(base, ec), end; !ec && it != end; it.increment(ec)) {
            if (SameName(platform::FromNative(it->path().filename()), part)) {
                base = it->path();
                found = true;
                break;
            }
        }
        if (!found)
            return false;
    }
    out = base;
    return true;
}

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    if (in)
        s << in.rdbuf();
    return s.str();
}

fs::path Native(const std::string& utf8) {
    return platform::ToNative(utf8);
}

// The string values of one key anywhere in a JSON text; enough for Heroic's files, which are
// read for a handful of paths only.
std::vector<std::string> JsonStrings(const std::string& text, const std::string& key) {
    std::vector<std::string> values;
    const std::string needle = "\"" + key + "\"";
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) {
        size_t i = at + needle.size();
        while (i < text.size() &&
               (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r'))
            ++i;
        if (i >= text.size() || text[i] != ':')
            continue;
        ++i;
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
            ++i;
        if (i >= text.size() || text[i] != '"')
            continue;
        std::string value;
        for (++i; i < text.size() && text[i] != '"'; ++i) {
            if (text[i] == '\\' && i + 1 < text.size())
                ++i;
            value += text[i];
        }
        values.push_back(value);
    }
    return values;
}

std::string Below(const std::string& base, const char* rest) {
    return platform::FromNative(Native(base) / Native(rest));
}

class Collector {
public:
    explicit Collector(const HostEnvironment& env) : m_env(env) {}

    void Offer(const fs::path& folder, GameFolderSource source, const std::string& origin) {
        const std::string utf8 = platform::FromNative(folder);
        if (!HoldsMorrowindEsm(utf8))
            return;
        std::error_code ec;
        fs::path key = fs::weakly_canonical(folder, ec);
        if (!m_seen.insert(platform::FromNative(ec ? folder : key)).second)
            return;
        m_found.push_back({utf8, source, origin});
    }

    void OfferBelow(const fs::path& base, const std::string& relative, GameFolderSource source,
                    const std::string& origin) {
        fs::path folder;
        if (Resolve(base, relative, folder))
            Offer(folder, source, origin);
    }

    // A Steam folder: its own library, then every library its libraryfolders.vdf lists.
    void SteamRoot(const fs::path& root, GameFolderSource own, GameFolderSource others) {
        const std::string origin = platform::FromNative(root);
        OfferBelow(root, "steamapps/common/Morrowind/Data Files", own, origin);
        for (const char* list : {"steamapps/libraryfolders.vdf", "config/libraryfolders.vdf"}) {
            fs::path vdf;
            if (!Resolve(root, list, vdf))
                continue;
            for (const auto& library : ParseLibraryFolders(ReadText(vdf)))
                OfferBelow(Native(library), "steamapps/common/Morrowind/Data Files", others,
                           platform::FromNative(vdf));
        }
    }

    // The places Windows installers put the game inside a Wine prefix.
    void WinePrefix(const fs::path& prefix, GameFolderSource source) {
        static const char* const kLayouts[] = {
            "GOG Games/Morrowind/Data Files",
            "Program Files (x86)/GOG Galaxy/Games/Morrowind/Data Files",
            "Program Files/GOG Galaxy/Games/Morrowind/Data Files",
            "Program Files (x86)/GOG.com/Morrowind/Data Files",
            "Program Files (x86)/Steam/steamapps/common/Morrowind/Data Files",
            "Program Files/Steam/steamapps/common/Morrowind/Data Files",
            "Program Files (x86)/Bethesda Softworks/Morrowind/Data Files",
            "Program Files/Bethesda Softworks/Morrowind/Data Files",
        };
        fs::path driveC;
        if (!Resolve(prefix, "drive_c", driveC))
            return;
        for (const char* layout : kLayouts)
            OfferBelow(driveC, layout, source, platform::FromNative(prefix));
    }

    void EveryPrefixIn(const fs::path& folder, GameFolderSource source) {
        std::error_code ec;
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
            WinePrefix(it->path(), source);
    }

    // A plug-in's own folder our OpenMW install made, or an option's folder below it: whatever
    // it holds, it is no game. Its records lie in the mods folder (in the plug-in's folder in
    // an older layout).
    static bool IsInstalledMod(fs::path folder) {
        std::error_code ec;
        if (!folder.has_filename())
            folder = folder.parent_path();
        if (fs::is_directory(folder / kRecordFolderName, ec) &&
            fs::is_directory(folder.parent_path() / kOpenMWRecordFolderName, ec))
            return true;
        for (int up = 0; up < 2 && folder.has_filename(); ++up, folder = folder.parent_path()) {
            bool owned = false;
            if (fs::is_directory(folder.parent_path() / kRecordFolderName, ec))
                (void)openmw::FolderOwnedBy(platform::FromNative(folder.parent_path()),
                                            platform::FromNative(folder.filename()), owned);
            if (owned)
                return true;
        }
        return false;
    }

    void OpenMWConfig(const fs::path& file, int depth = 0) {
        std::error_code ec;
        if (depth > 16 || !fs::is_regular_file(file, ec))
            return;
        fs::path key = fs::weakly_canonical(file, ec);
        if (!m_configs.insert(platform::FromNative(ec ? file : key)).second)
            return; // a config= chain that loops
        const fs::path folder = file.parent_path();
        const auto config = openmw::Config::Parse(ReadText(file));
        const std::string origin = platform::FromNative(file);
        for (const auto& line : config.Lines()) {
            const std::string name = openmw::KeyOf(line.Text);
            if (name != "data" && name != "data-local" && name != "config")
                continue;
            const std::string value = openmw::Unquote(line.Text.substr(line.Text.find('=') + 1));
            if (value.empty())
                continue;
            fs::path path = OpenMWPath(value, folder);
            if (name == "config")
                OpenMWConfig(path / "openmw.cfg", depth + 1);
            else if (!IsInstalledMod(path))
                Offer(path, GameFolderSource::OpenMW, origin);
        }
    }

    std::vector<GameFolder> Found() { return std::move(m_found); }

private:
    // OpenMW's ?tokens? and paths relative to the file that names them.
    fs::path OpenMWPath(const std::string& value, const fs::path& configFolder) const {
        struct Token {
            const char* text;
            std::string folder;
        };
        const std::string dataHome = m_env.Get("XDG_DATA_HOME").empty()
                                         ? Below(m_env.Home, ".local/share")
                                         : m_env.Get("XDG_DATA_HOME");
        const Token tokens[] = {
            {"?userconfig?", openmw::UserConfigFolder(m_env)},
            {"?userdata?", Below(dataHome, "openmw")},
            {"?local?", platform::FromNative(configFolder)},
            {"?global?", "/etc/openmw"},
        };
        for (const auto& t : tokens) {
            const std::string text = t.text;
            if (value.rfind(text, 0) == 0) {
                std::string rest = value.substr(text.size());
                while (!rest.empty() && (rest[0] == '/' || rest[0] == '\\'))
                    rest.erase(0, 1);
                return rest.empty() ? Native(t.folder) : Native(t.folder) / Native(rest);
            }
        }
        fs::path path = Native(value);
        return path.is_absolute() ? path : configFolder / path;
    }

    const HostEnvironment& m_env;
    std::vector<GameFolder> m_found;
    std::set<std::string> m_seen, m_configs;
};

#ifdef _WIN32
std::string RegistryText(HKEY root, const wchar_t* key, const wchar_t* value, REGSAM view) {
    HKEY handle = nullptr;
    if (::RegOpenKeyExW(root, key, 0, KEY_READ | view, &handle) != ERROR_SUCCESS)
        return {};
    wchar_t buffer[2048] = {};
    DWORD size = sizeof(buffer) - sizeof(wchar_t), type = 0;
    LONG rc =
        ::RegQueryValueExW(handle, value, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    ::RegCloseKey(handle);
    if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
        return {};
    return platform::FromNative(fs::path(std::wstring(buffer)));
}
#endif

} // namespace

const char* SourceName(GameFolderSource source) {
    switch (source) {
    case GameFolderSource::WindowsRegistry:
        return "Windows registry";
    case GameFolderSource::Steam:
        return "Steam";
    case GameFolderSource::SteamLibrary:
        return "Steam library";
    case GameFolderSource::FlatpakSteam:
        return "Flatpak Steam";
    case GameFolderSource::Heroic:
        return "Heroic";
    case GameFolderSource::Lutris:
        return "Lutris";
    case GameFolderSource::Wine:
        return "Wine";
    case GameFolderSource::OpenMW:
        return "OpenMW";
    }
    return "";
}

bool HoldsMorrowindEsm(const std::string& folder) {
    std::error_code ec;
    for (fs::directory_iterator it(Native(folder), ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code fileEc;
        if (SameName(platform::FromNative(it->path().filename()), "Morrowind.esm") &&
            fs::is_regular_file(it->path(), fileEc))
            return true;
    }
    return false;
}

std::vector<std::string> ParseLibraryFolders(const std::string& vdfText) {
    // Tokens are quoted strings (backslash escapes) and braces; a string followed by a string
    // is a key and its value.
    std::vector<std::string> tokens;
    std::vector<bool> quoted;
    for (size_t i = 0; i < vdfText.size(); ++i) {
        char c = vdfText[i];
        if (c == '{' || c == '}') {
            tokens.emplace_back(1, c);
            quoted.push_back(false);
        } else if (c == '"') {
            std::string s;
            for (++i; i < vdfText.size() && vdfText[i] != '"'; ++i) {
                if (vdfText[i] == '\\' && i + 1 < vdfText.size())
                    ++i;
                s += vdfText[i];
            }
            tokens.push_back(s);
            quoted.push_back(true);
        } else if (c == '/' && i + 1 < vdfText.size() && vdfText[i + 1] == '/') {
            while (i < vdfText.size() && vdfText[i] != '\n')
                ++i;
        }
    }
    // Libraries are the numbered values of the outer block (the older layout) and the "path"
    // of each numbered block inside it; deeper pairs (the "apps" a library holds, by number)
    // are no libraries.
    std::vector<std::string> libraries;
    int depth = 0;
    for (size_t i = 0; i < tokens.size(); ++i) {
        if (!quoted[i]) {
            depth += tokens[i] == "{" ? 1 : (depth > 0 ? -1 : 0);
            continue;
        }
        if (i + 1 >= tokens.size() || !quoted[i + 1])
            continue; // a block's name
        const std::string& key = tokens[i];
        bool numbered = !key.empty() && key.find_first_not_of("0123456789") == std::string::npos;
        if ((depth == 2 && SameName(key, "path")) ||
            (depth == 1 && numbered && !tokens[i + 1].empty()))
            libraries.push_back(tokens[i + 1]);
        ++i; // the value is not a key
    }
    return libraries;
}

std::vector<GameFolder> FindGameFolders(const HostEnvironment& env) {
    Collector c(env);
    const fs::path home = Native(env.Home);
    const std::string configHome = env.Get("XDG_CONFIG_HOME").empty() ? Below(env.Home, ".config")
                                                                      : env.Get("XDG_CONFIG_HOME");
    const std::string dataHome = env.Get("XDG_DATA_HOME").empty() ? Below(env.Home, ".local/share")
                                                                  : env.Get("XDG_DATA_HOME");
#ifdef _WIN32
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
        std::string installed =
            RegistryText(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Bethesda Softworks\\Morrowind",
                         L"Installed Path", view);
        if (!installed.empty())
            c.OfferBelow(Native(installed), "Data Files", GameFolderSource::WindowsRegistry,
                         "HKLM\\SOFTWARE\\Bethesda Softworks\\Morrowind");
    }
    std::string steam = RegistryText(HKEY_CURRENT_USER, L"Software\\Valve\\Steam", L"SteamPath", 0);
    if (!steam.empty())
        c.SteamRoot(Native(steam), GameFolderSource::Steam, GameFolderSource::SteamLibrary);
#endif
    if (!env.Home.empty()) {
        for (const char* root : {".steam/steam", ".steam/root"})
            c.SteamRoot(home / Native(root), GameFolderSource::Steam,
                        GameFolderSource::SteamLibrary);
#ifdef __APPLE__
        c.SteamRoot(home / "Library/Application Support/Steam", GameFolderSource::Steam,
                    GameFolderSource::SteamLibrary);
#endif
    }
    if (!dataHome.empty())
        c.SteamRoot(Native(dataHome) / "Steam", GameFolderSource::Steam,
                    GameFolderSource::SteamLibrary);
    if (!env.Home.empty()) {
        c.SteamRoot(home / ".var/app/com.valvesoftware.Steam/.local/share/Steam",
                    GameFolderSource::FlatpakSteam, GameFolderSource::FlatpakSteam);
        c.SteamRoot(home / ".var/app/com.valvesoftware.Steam/data/Steam",
                    GameFolderSource::FlatpakSteam, GameFolderSource::FlatpakSteam);

        // Heroic: GOG installs it recorded, then every Wine prefix it made or was given.
        for (const fs::path& heroic :
             {Native(configHome) / "heroic",
              home / ".var/app/com.heroicgameslauncher.hgl/config/heroic"}) {
            fs::path installed;
            if (Resolve(heroic, "gog_store/installed.json", installed))
                for (const auto& path : JsonStrings(ReadText(installed), "install_path"))
                    c.OfferBelow(Native(path), "Data Files", GameFolderSource::Heroic,
                                 platform::FromNative(installed));
            std::error_code ec;
            for (fs::directory_iterator it(heroic / "GamesConfig", ec), end; !ec && it != end;
                 it.increment(ec))
                for (const auto& prefix : JsonStrings(ReadText(it->path()), "winePrefix"))
                    c.WinePrefix(Native(prefix), GameFolderSource::Heroic);
        }
        c.EveryPrefixIn(home / "Games/Heroic/Prefixes", GameFolderSource::Heroic);
        c.EveryPrefixIn(home / "Games/Heroic/Prefixes/default", GameFolderSource::Heroic);

        // Lutris: the prefixes its game files name, then its default place for them.
        for (const fs::path& games :
             {Native(configHome) / "lutris/games", Native(dataHome) / "lutris/games"}) {
            std::error_code ec;
            for (fs::directory_iterator it(games, ec), end; !ec && it != end; it.increment(ec)) {
                std::istringstream lines(ReadText(it->path()));
                for (std::string line; std::getline(lines, line);) {
                    size_t at = line.find("prefix:");
                    if (at == std::string::npos || line.find_first_not_of(" \t") != at)
                        continue;
                    std::string value = line.substr(at + 7);
                    value.erase(0, value.find_first_not_of(" \t\"'"));
                    value.erase(value.find_last_not_of(" \t\r\"'") + 1);
                    if (!value.empty())
                        c.WinePrefix(Native(value), GameFolderSource::Lutris);
                }
            }
        }
        c.EveryPrefixIn(home / "Games", GameFolderSource::Lutris);
        c.WinePrefix(home / ".wine", GameFolderSource::Wine);
    }

    // OpenMW: the data= lines of its settings, following config= lines.
    if (!env.Get("OPENMW_CONFIG").empty()) {
        fs::path given = Native(env.Get("OPENMW_CONFIG"));
        std::error_code ec;
        c.OpenMWConfig(fs::is_directory(given, ec) ? given / "openmw.cfg" : given);
    }
    if (!env.Get("OPENMW_CONFIG_DIR").empty())
        c.OpenMWConfig(Native(env.Get("OPENMW_CONFIG_DIR")) / "openmw.cfg");
    if (!env.Home.empty()) {
        c.OpenMWConfig(Native(openmw::UserConfigFolder(env)) / "openmw.cfg");
        c.OpenMWConfig(Native(configHome) / "openmw/openmw.cfg");
        c.OpenMWConfig(home / ".var/app/org.openmw.OpenMW/config/openmw/openmw.cfg");
    }
    return c.Found();
}

} // namespace qvr
