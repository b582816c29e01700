#pragma once
// Zip members read straight from the file and inflated on every core, in the order the caller
// asks for them. Only members whose directory record and local header agree in every way that
// matters are taken; the rest (encrypted, other methods, names the archive gives twice or
// differently) are left to libarchive, which listed them.

#include "qvr/platform/Result.h"
#include "qvr/sources/Source.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qvr::sources::detail {

// Where a member's bytes lie in the zip, and what they must come to.
struct ZipData {
    uint64_t Offset = 0; // 0-based, the stored bytes
    uint64_t Stored = 0;
    bool Deflated = false; // else stored as they are
    uint32_t Crc = 0;
};

// For each member of the zip at path, its bytes when they can be read straight; none for the
// others, and for every member of a zip whose directory cannot be read.
std::vector<std::optional<ZipData>> FindZipData(const std::string& path,
                                                const std::vector<Member>& members);

// A record of the zip's directory, as libarchive would list it.
struct ZipEntry {
    std::string Name; // UTF-8, not yet through the path rules
    bool Folder = false;
    int64_t Size = 0;
    int64_t Modified = 0;
    ZipData Data;
};

// The zip at path listed from its directory, in the order libarchive lists it (by where each
// local header stands), with each member's bytes found; none when any record is one that
// libarchive might list otherwise or only it can read (then it lists the zip), or when the
// file holds no zip directory.
struct ZipListing {
    std::vector<ZipEntry> Entries;
    int64_t Length = 0; // of the file, then
};
std::optional<ZipListing> ListZipDirectly(const std::string& path);

struct ZipTask {
    size_t Job = 0; // in the caller's list
    ZipData Data;
};

// Writes each task's job, reporting them to `done` in the order given. Ok when every task was
// tried; EntryFailed when `done` answered false (what was written ahead and not reported is
// deleted again); Unusable when the zip no longer has the length it was listed with.
[[nodiscard]] Result ExtractZipData(const std::string& path, const std::vector<Job>& jobs,
                                    const std::vector<ZipTask>& tasks,
                                    const std::vector<Member>& members, const DoneCallback& done,
                                    std::optional<int64_t> listedLength = std::nullopt);

} // namespace qvr::sources::detail
