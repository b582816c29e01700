#pragma once
// Plug-in archives made in a test, and the data folder's files as one comparable value.

#include "TestSupport.h"
#include "qvr/format/detail/modCompression.h"
#include "qvr/install/RecordedInstall.h"
#include "qvrtest/HandMade.h"

#include <map>
#include <string>
#include <vector>

namespace qvrtest {

// Every overwrite question answered yes.
inline const qvr::OverwriteQuestion kYes = [](const qvr::sgFileInfo&, const std::string&) {
    return true;
};

// Path below the data folder ("Meshes\x.nif") -> content.
using Files = std::map<std::string, std::string>;

// A QVR archive with the given files and its info entry, written byte by byte.
inline std::string PackBytes(const std::string& archiveName, const Files& files) {
    std::vector<RawEntry> entries;
    for (const auto& [path, content] : files) {
        size_t cut = path.rfind('\\');
        entries.push_back({cut == std::string::npos ? "" : path.substr(0, cut),
                           cut == std::string::npos ? path : path.substr(cut + 1), content});
    }
    entries.push_back({"", archiveName + ".ifo", std::string(6, '\0')});
    return RawArchive(entries, 6);
}

// Every file below folder except the record folder, by "\"-joined path.
inline Files Snapshot(const std::string& folder) {
    Files out;
    std::error_code ec;
    const fs::path root(folder);
    for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->path().filename() == qvr::kRecordFolderName) {
            it.disable_recursion_pending();
            continue;
        }
        if (!it->is_regular_file())
            continue;
        std::string rel;
        for (const auto& level : it->path().lexically_relative(root)) {
            if (!rel.empty())
                rel += "\\";
            rel += level.string();
        }
        out[rel] = ReadAll(it->path().string());
    }
    return out;
}

inline void Lay(const std::string& folder, const Files& files) {
    for (const auto& [path, content] : files) {
        std::string native = path;
        for (char& c : native)
            if (c == '\\')
                c = '/';
        WriteAll(folder + "/" + native, content);
    }
}

class Reversible : public ArchiveTest {
protected:
    std::string Data() const { return dir + "/data"; }
    // Writes packs/<name>.qvr holding files.
    std::string Pack(const std::string& name, const Files& files) {
        std::string path = Path("packs/" + name + ".qvr");
        WriteAll(path, PackBytes(name + ".qvr", files));
        return path;
    }
    qvr::InstallReport Install(const std::string& pack, bool overwrite,
                               const std::string& data = {}) {
        return Install(
            pack, [=](const qvr::sgFileInfo&, const std::string&) { return overwrite; }, data);
    }
    qvr::InstallReport Install(const std::string& pack, const qvr::OverwriteQuestion& ask,
                               const std::string& data = {}) {
        qvr::Archives a;
        a.TempFolder = arc.TempFolder;
        EXPECT_TRUE(Ok(a.OpenArchive(pack)));
        return qvr::InstallRecorded(a, data.empty() ? Data() : data, ask);
    }
};

} // namespace qvrtest
