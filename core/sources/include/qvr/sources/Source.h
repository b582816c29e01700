#pragma once
// The archives a plug-in arrives in, as sources of members for the install engine: a QVR
// package, or any archive players download (zip, 7z, rar, tar). Each is opened once; its members
// are listed and checked then, and extracted into new files on request.

#include "qvr/platform/Result.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qvr {
class Archives;
}

namespace qvr::sources {

struct Member {
    std::string Path;                // as stored, levels joined by '/', checked by the path rules
    int64_t Size = 0;                // bytes when extracted, as the archive says
    std::optional<uint32_t> Crc;     // zlib crc32 when the archive records one and hands it out
    std::optional<int64_t> Modified; // seconds since 1970, UTC, when recorded
};

// A member left out when the archive was opened: its name as stored (UTF-8, not yet made
// printable) and why, in words.
struct Refusal {
    std::string Path;
    std::string Why;
};

// Extract Members()[Member] into Destination, a file that must not exist yet (its folders are
// made when missing).
struct Job {
    size_t Member = 0;
    std::string Destination;
    // Written under its own name, without a work file and a rename: for a caller whose record
    // names the file before it exists (an interrupted job may leave part of it). A source may
    // still write beside it and rename.
    bool InPlace = false;
    // Given to the written file as its modification time (seconds since 1970, UTC).
    std::optional<int64_t> Modified;
};

// How one job went: Crc and Size of the bytes written (a failed job leaves no file behind).
struct Done {
    size_t Job = 0; // its index in the list handed to Extract
    Result Outcome;
    uint32_t Crc = 0;
    int64_t Size = 0;
};

// Answers whether to go on.
using DoneCallback = std::function<bool(const Done&)>;

class Source {
public:
    virtual ~Source() = default;
    virtual const std::string& Name() const = 0; // the archive's file name
    // The kind of archive in a word or two for people: "QVR", "zip", "7z", "RAR5", "tar.gz".
    virtual const std::string& Kind() const = 0;
    virtual const std::vector<Member>& Members() const = 0;  // hostile ones already refused
    virtual const std::vector<Refusal>& Refused() const = 0; // in archive order
    // Writes each job's member into its Destination, in the order and on the threads that suit
    // the archive (a solid 7z in one pass, in archive order), checking size and checksum;
    // `done` is called once per job, from the calling thread. Ok when every job was tried
    // (each Done says how it went); EntryFailed when `done` answered false (the jobs not yet
    // reported were not done); ArchiveUnusable when the archive itself failed.
    [[nodiscard]] virtual Result Extract(const std::vector<Job>& jobs,
                                         const DoneCallback& done) = 0;
    // The bytes decoded before the member's own when it alone is extracted: an archive read
    // in order (a solid 7z, a compressed tar) decodes every member before it; 0 where members
    // are read where they lie.
    virtual int64_t DecodedBefore(size_t member) const {
        (void)member;
        return 0;
    }
};

struct Opened {
    std::unique_ptr<Source> Archive; // set when Outcome is Ok
    Result Outcome;
};

// Opens any supported archive by its content, not its extension: QVR, zip (zip64 too), 7z
// (solid too), rar (RAR4, RAR5), tar and its compressed forms. Encrypted and multi-volume
// archives are refused with a message that says so; so is a damaged QVR package (its
// members cannot all be trusted).
[[nodiscard]] Opened Open(const std::string& path);
// The package arc holds open (read whole, not partly) as a source, read through arc, which
// must outlive it unchanged: a caller with the package open does not read its directory again.
[[nodiscard]] Opened OpenPackage(Archives& arc);

// The members of the package arc holds, listed ahead on any thread (a window can be made
// meanwhile) from arc as read. They fit any Archives holding the same entries (a moved one);
// not one whose entries changed or were read from another package. Empty when listing failed.
struct PackageListing;
[[nodiscard]] std::shared_ptr<PackageListing> ListPackage(const Archives& arc);
// The members listed, for placing them ahead as well; empty when there is no listing.
const std::vector<Member>& ListedMembers(const std::shared_ptr<PackageListing>& listing);
// OpenPackage with members listed ahead, which it takes over when they were made from the
// entries arc holds now (taken says whether); else it lists anew.
[[nodiscard]] Opened OpenPackage(Archives& arc, std::shared_ptr<PackageListing> listing,
                                 bool* taken = nullptr);

// Whether this build reads archives other than QVR packages (not on Windows yet).
bool ReadsOtherArchives();
// Whether the file at path begins as an archive whose members the general archive library
// decodes (a 7z, rar or tar); not a package or a zip, which are read directly, nor anything
// else. Such a decoder's own buffers take much of the memory an install may use.
bool DecodedByArchiveLibrary(const std::string& path);

} // namespace qvr::sources
