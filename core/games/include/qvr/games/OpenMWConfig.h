#pragma once
// OpenMW's settings file, openmw.cfg, edited without disturbing it: every line the user wrote
// stays as it was, byte for byte, and only whole lines of our own are added or taken out.
// A mod is one folder, listed as a data="..." line, whose plug-ins are enabled by content=
// lines.

#include "qvr/platform/HostEnvironment.h"
#include "qvr/platform/Result.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace qvr::openmw {

// OpenMW's quoting: a value in double quotes, with & escaping & and ".
std::string Quote(const std::string& value);
// The value as OpenMW reads it: quoted values unescaped (anything after the closing quote is
// ignored, as OpenMW does); unquoted values as written, surrounding blanks dropped.
std::string Unquote(const std::string& raw);

struct Line {
    std::string Text;   // the line without its ending
    std::string Ending; // "\n", "\r\n" or "" (the file's last line without one)
};

// The lines one mod adds: its folder and the plug-ins in it, in load order.
struct ModLines {
    std::string DataFolder;           // "" for none
    std::vector<std::string> Content; // file names of plug-ins
};

class Config {
public:
    static Config Parse(const std::string& bytes);
    std::string Bytes() const;

    const std::vector<Line>& Lines() const { return m_lines; }
    // The unquoted values of every key=value line with this key, in file order.
    std::vector<std::string> Values(const std::string& key) const;

    // Adds data="folder" after the last data= line and each plug-in as content= after the last
    // content= line (at the end of the file when there is none). A line already present is not
    // added twice, nor a value IsSafeSettingValue refuses. Returns what was actually added,
    // which is what RemoveMod should take out.
    ModLines AddMod(const ModLines& mod);
    // Takes out the data= line naming exactly this folder and the content= lines naming these
    // plug-ins (letter case aside); every other line stays. Returns the number removed.
    size_t RemoveMod(const ModLines& mod);

private:
    void InsertAfterLast(const std::string& key, const std::string& text);
    std::string DominantEnding() const;

    std::vector<Line> m_lines;
};

// The key of a key=value line ("" for comments, blank lines and anything else).
std::string KeyOf(const std::string& lineText);

// The name of the copy of the previous version kept beside the file: "openmw.cfg.bak".
std::string BackupPath(const std::string& configPath);

// The folder an edit of the file at path writes in (its work file, its kept copy) and is
// locked: that of the file a link at path names, so that two programs reaching one file by two
// paths lock one folder.
std::string EditFolderOf(const std::string& path);

// Reads the file, lets `edit` change it and, when the bytes changed, writes the new version to
// a temporary file beside it and renames it over the old one, after keeping the old one as
// BackupPath() with the file's permissions. A missing file counts as empty. Refuses, leaving
// everything as it was, when the file changed while being edited.
[[nodiscard]] Result Update(const std::string& configPath,
                            const std::function<void(Config&)>& edit);

// The user's own openmw.cfg folder: OPENMW_CONFIG_DIR, else ~/.config/openmw (XDG_CONFIG_HOME
// honoured); on Windows Documents\My Games\OpenMW.
std::string UserConfigFolder(const HostEnvironment& env);
// The openmw.cfg OpenMW reads, as discovery finds it first: OPENMW_CONFIG (a file or its
// folder), OPENMW_CONFIG_DIR, the user's own folder, then Flatpak OpenMW's; nothing when none
// exists.
std::optional<std::string> FindUserConfig(const HostEnvironment& env);
// Whether the environment names the file (OPENMW_CONFIG or OPENMW_CONFIG_DIR): then it is
// made when it does not exist yet.
bool ConfigNamed(const HostEnvironment& env);
// The file an OpenMW install edits: FindUserConfig's, else the named one; nothing when none.
std::optional<std::string> ConfigToEdit(const HostEnvironment& env);

// Where mods go by default: mods in OpenMW's user data folder (~/.local/share/openmw/mods with
// XDG_DATA_HOME honoured; Documents\My Games\OpenMW\mods on Windows).
std::string DefaultModsFolder(const HostEnvironment& env);

} // namespace qvr::openmw
