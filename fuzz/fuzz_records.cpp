// The records kept beside a target, read as a stranger may have left them: an install record
// and the OpenMW target's list of lines. Whatever is taken keeps the path rules, and an install
// record's text form reads back as it was written.
#include "qvr/format/PathRules.h"
#include "qvr/games/OpenMWInstall.h"
#include "qvr/install/InstallRecord.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

void Require(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "%s\n", what);
        std::abort();
    }
}

void InstallRecord(const std::string& text) {
    qvr::InstallRecord record;
    if (!qvr::ParseInstallRecord(text, record))
        return;
    for (const qvr::RecordedFile& f : record.Files)
        Require(qvr::IsSafeRelativePath(f.Path).Ok(),
                "a file path that breaks the rules was taken");
    for (const std::string& p : record.Folders)
        Require(qvr::IsSafeRelativePath(p).Ok(), "a folder that breaks the rules was taken");
    for (const std::string& p : record.Links)
        Require(qvr::IsSafeRelativePath(p).Ok(), "a link that breaks the rules was taken");
    for (const qvr::RemovalStep& s : record.Plan)
        Require(qvr::IsSafeRelativePath(s.Path).Ok(), "a step that breaks the rules was taken");
    const std::string written = qvr::FormatInstallRecord(record);
    qvr::InstallRecord again;
    Require(static_cast<bool>(qvr::ParseInstallRecord(written, again)),
            "a record as written cannot be read back");
    Require(qvr::FormatInstallRecord(again) == written, "a record does not read back as written");
}

void ListOfLines(const std::string& text) {
    const std::string mods = "/home/player/mods";
    qvr::openmw::AddedLines lines;
    if (!qvr::openmw::ParseAddedLines(text, mods, lines))
        return;
    Require(std::filesystem::path(lines.Folder).parent_path().lexically_normal() == mods,
            "a folder outside the mods folder was taken");
    Require(lines.Lines.DataFolder.empty() || lines.Lines.DataFolder == lines.Folder,
            "a data= line of another folder was taken");
    for (const std::string& c : lines.Lines.Content)
        Require(qvr::IsSafeSettingValue(c) && qvr::IsSafeRelativePath(c),
                "a content= value that is not a plain name was taken");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    InstallRecord(text);
    ListOfLines(text);
    return 0;
}
