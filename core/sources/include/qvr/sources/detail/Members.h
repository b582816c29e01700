#pragma once
// What every source shares: the checks a member's name must pass before it is listed, and the
// new file a member is extracted into.

#include "qvr/platform/detail/RandomAccessFile.h"
#include "qvr/sources/Source.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace qvr::sources::detail {

// The largest member a source extracts: what a QVR package can hold, and far beyond any file
// the game reads. A member that says it is larger, or turns out larger, is refused.
inline constexpr int64_t kMaxMemberSize = 0x7FFFFFFF;

// The members of one archive as they are listed, and those refused.
class MemberList {
public:
    // raw: the name as stored, either separator. Answers false (and refuses it) when the name
    // breaks the path rules or clashes with a member listed before it: the same name in
    // another letter case, or a file where another member has a folder.
    bool Add(const std::string& raw, Member member);
    void Expect(size_t count); // about as many members will be added
    void Refuse(const std::string& raw, const std::string& why);
    // Once every member is listed: withdraws each member a later one had the same name as (in
    // any letter case), since which copy is meant is not known, and lets go of the names kept
    // to find clashes (a large archive's take megabytes that an extraction can use better).
    // Answers the places, among those Add accepted, of the members kept, in order: a source
    // keeping something beside each member keeps only those (KeepOnly).
    std::vector<size_t> Listed();

    std::vector<Member> Members;
    std::vector<Refusal> Refused;

private:
    // Looked up by views of a path's folders, so that no copy is made per member.
    struct TextHash {
        using is_transparent = void;
        size_t operator()(std::string_view text) const {
            return std::hash<std::string_view>{}(text);
        }
    };
    std::unordered_map<std::string, size_t, TextHash, std::equal_to<>> m_files; // -> member
    std::unordered_set<std::string, TextHash, std::equal_to<>> m_folders; // folded folder paths
    std::vector<std::pair<size_t, std::string>> m_withdrawn;              // member, and why
};

// v without the elements Listed did not keep.
template <class T> void KeepOnly(std::vector<T>& v, const std::vector<size_t>& kept) {
    if (kept.size() == v.size())
        return;
    std::vector<T> out;
    out.reserve(kept.size());
    for (size_t k : kept)
        out.push_back(std::move(v[k]));
    v = std::move(out);
}

// The name with '/' between levels and a leading "./" taken off; why is set when it cannot
// name a file below a folder (absolute, a drive, "..", characters no file name may hold).
std::string NormalMemberPath(const std::string& raw, std::string& why);

// A new file that a member is written into: created (failing when anything has the name),
// with its crc32 and length kept as it grows; deleted again unless Keep() was called.
class NewFile {
public:
    // Its folders are made when missing. Throws ArchiveError.
    explicit NewFile(const std::string& path);
    ~NewFile();
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;

    void Write(const void* data, size_t n);          // throws ArchiveError
    void Keep(std::optional<int64_t> modified = {}); // closes it, kept, with that time
    uint32_t Crc() const { return m_crc; }
    int64_t Size() const { return m_size; }

private:
    std::string m_path;
    std::unique_ptr<RandomAccessFile> m_file;
    uint32_t m_crc = 0;
    int64_t m_size = 0;
    bool m_kept = false;
};

// Jobs grouped by member, for sources that read the archive in its own order; a job naming
// no member, or a member already asked for, is answered at once with a failure.
struct JobPlan {
    std::unordered_map<size_t, size_t> ByMember; // member -> job
    std::vector<Done> Refused;
};
JobPlan PlanJobs(const std::vector<Job>& jobs, size_t members);

// What an extraction answers when the caller said stop.
Result ExtractionStopped();

// The threads an extraction inflates on: as many as cores, at most three (each holds a
// member's buffers).
unsigned ExtractionThreads();

// How far the threads of an extraction may run ahead of the caller: Window batches, and at most
// MaxWeight bytes (Weight: job k's) written or held and not yet reported.
struct Ahead {
    size_t Window = 1;
    int64_t MaxWeight = INT64_MAX;
    std::function<int64_t(size_t)> Weight;
    // The folder job k writes into, when known: a batch ends where it changes, so that two
    // threads seldom make files in one folder at once (each new file takes the folder's lock,
    // and a thread waiting for it spins on a core the other could use).
    std::function<std::string_view(size_t)> Folder;
};

// Jobs 0..count-1 done by work(k) on `threads` threads, consecutive small ones together in a
// batch, so that a thread hands over a batch of files, not each file (a hand-over costs about
// as much as making a small file); each Done goes to done in order. Files of Dones never
// handed over are deleted (Destination of the k-th job: destinationOf(k)). Answers false
// when done answered false.
bool RunInBatches(size_t count, unsigned threads, const Ahead& ahead,
                  const std::function<Done(size_t)>& work, const DoneCallback& done,
                  const std::function<std::string(const Done&)>& destinationOf);

// Makes each destination's folder once per extraction, from any thread: files of one folder
// mostly follow each other, and a folder looked at again costs a system call per file.
class FolderMaker {
public:
    void MakeFor(const std::string& destination);

private:
    std::mutex m_mutex;
    std::set<std::string, std::less<>> m_made; // made or found already
};

} // namespace qvr::sources::detail
