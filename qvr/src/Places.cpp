#include "Places.h"

#include "qvr/games/GameFolders.h"
#include "qvr/platform/FileUtils.h"
#include "qvr/platform/HostEnvironment.h"
#include "qvr/platform/SettingsFile.h"

#include <cstdlib>
#include <iostream>
#include <sstream>

#ifdef _WIN32
#include <windows.h>
#endif

namespace qvrtool {

namespace {

std::string ProgramFolder() {
    std::error_code ec;
#ifdef _WIN32
    wchar_t buf[32768];
    DWORD n = GetModuleFileNameW(nullptr, buf, 32768);
    if (n == 0 || n >= 32768)
        return {};
    return Utf8(fs::path(std::wstring(buf, n)).parent_path());
#else
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : Utf8(self.parent_path());
#endif
}

} // namespace

std::vector<std::string> InstallerSettingsCandidates() {
    std::vector<std::string> out;
    const std::string program = ProgramFolder();
    if (!program.empty())
        out.push_back(Utf8(Native(program) / "qvrinst.ini"));
    // Qt's configuration folder for a program named QVRInstaller.
    const qvr::HostEnvironment env = qvr::CurrentHostEnvironment();
#ifdef _WIN32
    const char* roaming = std::getenv("APPDATA"); // not among the host's usual variables
    const std::string base = roaming ? roaming : "";
#else
    std::string base = env.Get("XDG_CONFIG_HOME");
    if (base.empty() && !env.Home.empty())
        base = Utf8(Native(env.Home) / ".config");
#endif
    if (!base.empty())
        out.push_back(Utf8(Native(base) / "QVRInstaller" / "qvrinst.ini"));
    return out;
}

std::string InstallerSetting(const std::string& key) {
    for (const std::string& path : InstallerSettingsCandidates()) {
        std::string value;
        // Read as the installer reads it; a file that cannot be read is passed over.
        if (qvr::FileExists(path) && qvr::ReadSetting(path, "Settings", key, value) &&
            !value.empty())
            return value;
    }
    return {};
}

std::string ChooseDataFolder(const std::string& operand, const Context& ctx,
                             const std::string& usage) {
    if (!operand.empty())
        return operand;
    const std::string remembered = InstallerSetting("TESLocation");
    if (!remembered.empty()) {
        if (!ctx.Quiet)
            Warn("note: using " + remembered + ", the data folder QVRInstaller remembers");
        return remembered;
    }
    const std::vector<qvr::GameFolder> found = qvr::FindGameFolders(qvr::CurrentHostEnvironment());
    if (found.size() == 1) {
        if (!ctx.Quiet)
            Warn("note: using " + found[0].Folder + " (found through " +
                 qvr::SourceName(found[0].Source) + ")");
        return found[0].Folder;
    }
    if (found.empty())
        throw CommandError{kUsage, "no data folder given, and no Morrowind data folder was "
                                   "found; pass it: " +
                                       usage};
    // One folder a line, each made printable on its own: the line breaks are the message's.
    Warn("no data folder given, and several were found; pass one of them:");
    for (const qvr::GameFolder& f : found)
        std::cerr << "  " << Printable(f.Folder) << "\n";
    throw CommandError{kUsage, ""};
}

} // namespace qvrtool
