#pragma once
// Packages written through the library alone, for tests that need one to open, install or
// change: entries with their contents, and the plug-in information unless none is given.

#include "qvr/format/sgPlugInfo.h"
#include "qvr/package/Archives.h"
#include "qvr/platform/FileUtils.h"
#include "qvrtest/Bytes.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace qvrtest {

struct PackEntry {
    std::string Folder; // "" for the package's root
    std::string Name;
    std::string Content;
};

struct PackInfo {
    std::string Name = "Foo", Version = "1.2", Depends = "Morrowind.esm", Authors = "Anne",
                Updated = "3/7/2003", Notes = "Read this.\r\nSecond line.";

    qvr::sgPlugInfo Plug() const {
        qvr::sgPlugInfo p;
        p.PluginName(Name);
        p.Version(Version);
        p.Depends(Depends);
        p.Authors(Authors);
        p.LastUpdated(Updated);
        p.Notes(Notes);
        return p;
    }
};

// Where the information entry goes: the packager saves it when the package is made, the
// command-line tool and older packages after the files.
enum class InfoAt { End, Start };

// Replaces any file at path. workFolder holds the library's work files and the sources.
inline void WritePackage(const std::string& path, const std::vector<PackEntry>& entries,
                         const qvr::sgPlugInfo* info, const std::string& workFolder, InfoAt at) {
    namespace fs = std::filesystem;
    qvr::Archives arc;
    arc.TempFolder = workFolder;
    if (arc.TempFolder.empty() || arc.TempFolder.back() != qvr::NativeSeparator()[0])
        arc.TempFolder += qvr::NativeSeparator();
    fs::remove(path);
    const qvr::Result made = arc.CreateArchive(path);
    ASSERT_TRUE(made) << made.Message;
    const auto saveInfo = [&] {
        const qvr::Result saved = info->SavePluginData(arc, fs::path(path).filename().string());
        ASSERT_TRUE(saved) << saved.Message;
    };
    if (info && at == InfoAt::Start)
        saveInfo();
    int n = 0;
    for (const PackEntry& e : entries) {
        const std::string source = arc.TempFolder + "source" + std::to_string(n++);
        WriteAll(source, e.Content);
        const qvr::Result added = arc.AddFileToArchive(source, e.Name, e.Folder);
        ASSERT_TRUE(added) << added.Message;
        fs::remove(source);
    }
    if (info && at == InfoAt::End)
        saveInfo();
}

// A null info: a package without the information entry.
inline void MakePackage(const std::string& path, const std::vector<PackEntry>& entries,
                        const PackInfo* info, const std::string& workFolder,
                        InfoAt at = InfoAt::End) {
    const qvr::sgPlugInfo plug = info ? info->Plug() : qvr::sgPlugInfo{};
    WritePackage(path, entries, info ? &plug : nullptr, workFolder, at);
}

inline void MakePackage(const std::string& path, const std::vector<PackEntry>& entries,
                        const qvr::sgPlugInfo& info, const std::string& workFolder,
                        InfoAt at = InfoAt::End) {
    WritePackage(path, entries, &info, workFolder, at);
}

} // namespace qvrtest
