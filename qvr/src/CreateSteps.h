#pragma once
// What qvr create shares between packing a folder and converting an archive (.zip, .7z, .rar,
// .tar, or another package): the archive's members are unpacked into a work folder, which is
// then packed as a folder is.

#include "Command.h"

#include "qvr/format/sgPlugInfo.h"
#include "qvr/games/LoadOrder.h"
#include "qvr/package/Packing.h"
#include "qvr/sources/PackageLayout.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qvrtool {

// What of an archive a package is made from, in a work folder beside the package being
// written; the folder is removed with the object.
struct Unpacked {
    Unpacked() = default;
    Unpacked(const Unpacked&) = delete;
    Unpacked& operator=(const Unpacked&) = delete;
    ~Unpacked();

    std::string Archive;              // as given
    std::string Folder;               // the work folder
    std::string Taken;                // what of it was taken: "the data root MyMod/Data Files/"
    std::vector<std::string> LeftOut; // members outside that, as the archive names them
    std::vector<qvr::PackProblem> Problems; // members refused as the archive was read
    std::optional<qvr::sgPlugInfo> Info;    // a package's own plug-in information
};

// Whether from names an archive to convert rather than a folder to pack.
bool IsArchiveOperand(const std::string& from);

// Unpacks what --root or --options choose of archive (by default its data root) beside target.
// Ends the command when the archive cannot be read, or when its layout leaves the choice open
// and none was given (the choices are named).
std::unique_ptr<Unpacked> UnpackArchive(const ParsedArgs& a, const Context& ctx,
                                        const std::string& archive, const std::string& target);

// Names the files of the work folder in a text by their place in the archive; in gathered's
// problems all at once.
std::string ByArchive(std::string text, const Unpacked& unpacked);
void NameByArchive(qvr::Gathered& gathered, const Unpacked& unpacked);

// Says what of the archive went into the package (unless quiet).
void ReportTaken(const Unpacked& unpacked, const Context& ctx);

// ---- What create and add check in the package they write (PackReview.cpp)

// Fills info's empty "Depends on" with the masters the plug-ins name (answers true), or warns,
// naming each, when it lists fewer or other masters than they need (other ones only when every
// plug-in's header could be read); fix(list) says how to set it to what they need.
bool ReviewDepends(const std::vector<qvr::PluginMasters>& plugins, size_t unreadable,
                   qvr::sgPlugInfo& info, const std::string& path,
                   const std::function<std::string(const std::string&)>& fix);

// The entry paths of files, levels joined by '/'.
std::vector<std::string> PathsOf(const std::vector<qvr::BatchFile>& files);

// Warns when the files of the package at path would not land where the game looks; fix says
// what to do instead.
void WarnWrapped(const std::string& path, const qvr::sources::WrappedData& wrapped,
                 const std::string& fix);

// For create of folder: the command that packs the folder a player's data folder should match.
std::string PackFolderFix(const qvr::sources::WrappedData& wrapped, const std::string& path,
                          const std::string& folder);

// For create of the archive from (with the options a): how to pack what wrapped names.
std::string ConvertFix(const qvr::sources::WrappedData& wrapped, const ParsedArgs& a,
                       const std::string& from);

// After add put added into arc (the package at path, whose files were as before said before):
// warns when the add left its files where the game does not look, and reviews "Depends on"
// when a plug-in came in, filling it when empty.
void ReviewAdded(qvr::Archives& arc, const std::string& path,
                 const std::vector<qvr::BatchFile>& added, const qvr::sources::WrappedData& before,
                 const Context& ctx);

} // namespace qvrtool
