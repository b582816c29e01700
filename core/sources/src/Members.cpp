#include "qvr/sources/detail/Members.h"

#include "qvr/format/PathRules.h"
#include "qvr/format/detail/WholeMember.h"
#include "qvr/platform/Encoding.h"
#include "qvr/platform/FileUtils.h"
#include "qvr/platform/OrderedPool.h"
#include "qvr/platform/detail/ArchiveError.h"
#include "qvr/platform/detail/platform.h"

#include <algorithm>
#include <filesystem>
#include <thread>

namespace qvr::sources::detail {

std::string NormalMemberPath(const std::string& raw, std::string& why) {
    why.clear();
    std::string path = raw;
    for (char& c : path)
        if (c == '\\')
            c = '/';
    if (path.starts_with('/')) {
        why = "an absolute path";
        return path;
    }
    if (path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0]))) {
        why = "a path on a drive";
        return path;
    }
    // tar writes "./Meshes/x" for a folder packed as "."; the level says nothing.
    while (path.starts_with("./"))
        path.erase(0, 2);
    const size_t cut = path.rfind('/');
    const std::string name = cut == std::string::npos ? path : path.substr(cut + 1);
    std::string folder = cut == std::string::npos ? std::string() : path.substr(0, cut);
    for (char& c : folder)
        if (c == '/')
            c = '\\';
    if (const Result safe = IsSafeEntryPath(folder, name); !safe)
        why = safe.Message.empty() ? std::string("not a file name") : safe.Message;
    return path;
}

void MemberList::Refuse(const std::string& raw, const std::string& why) {
    Refused.push_back({raw, why});
}

std::vector<size_t> MemberList::Listed() {
    m_files = {};
    m_folders = {};
    std::vector<bool> withdrawn(Members.size(), false);
    for (const auto& [member, why] : m_withdrawn) {
        withdrawn[member] = true;
        if (!why.empty()) // a second copy's refusal says it for both
            Refuse(Members[member].Path, why);
    }
    m_withdrawn = {};
    std::vector<size_t> kept;
    kept.reserve(Members.size());
    for (size_t k = 0; k < Members.size(); ++k)
        if (!withdrawn[k])
            kept.push_back(k);
    KeepOnly(Members, kept);
    Members.shrink_to_fit();
    return kept;
}

void MemberList::Expect(size_t count) {
    Members.reserve(count);
    m_files.reserve(count);
}

bool MemberList::Add(const std::string& raw, Member member) {
    std::string why;
    member.Path = NormalMemberPath(raw, why);
    if (!why.empty()) {
        Refuse(raw, why);
        return false;
    }
    std::string folded = LowerText(member.Path);
    if (auto it = m_files.find(folded); it != m_files.end()) {
        const std::string& before = Members[it->second].Path;
        if (before == member.Path) {
            Refuse(raw, "it appears twice, and neither copy is taken");
        } else {
            Refuse(raw, "its name differs only in letter case from " + before +
                            ", and neither is taken");
            m_withdrawn.emplace_back(it->second, "its name differs only in letter case from " +
                                                     member.Path + ", and neither is taken");
            return false;
        }
        m_withdrawn.emplace_back(it->second, std::string());
        return false;
    }
    if (m_folders.contains(folded)) {
        Refuse(raw, "another member has a folder of that name");
        return false;
    }
    // From the deepest folder up, to the first one known: the folders above a known one were
    // checked when it was.
    std::vector<std::string_view> folders;
    for (size_t cut = folded.rfind('/'); cut != std::string::npos && cut > 0;
         cut = folded.rfind('/', cut - 1)) {
        const std::string_view folder = std::string_view(folded).substr(0, cut);
        if (m_folders.contains(folder))
            break;
        if (m_files.contains(folder)) {
            Refuse(raw, "another member is a file where it has a folder");
            return false;
        }
        folders.push_back(folder);
    }
    for (std::string_view folder : folders)
        m_folders.emplace(folder);
    m_files.emplace(std::move(folded), Members.size());
    Members.push_back(std::move(member));
    return true;
}

NewFile::NewFile(const std::string& path) : m_path(path) {
    // Tried first, and the reason looked for only when it fails: thousands of files would
    // otherwise cost a look at the disk or two each.
    try {
        m_file = std::make_unique<RandomAccessFile>(path, RandomAccessFile::Mode::CreateNew);
    } catch (const ArchiveError&) {
        std::error_code ec;
        const std::filesystem::path native = platform::ToNative(path);
        if (std::filesystem::exists(std::filesystem::symlink_status(native, ec)))
            throw ArchiveError(path + " exists already");
        if (std::filesystem::exists(native.parent_path(), ec))
            throw;
        std::filesystem::create_directories(native.parent_path(), ec);
        m_file = std::make_unique<RandomAccessFile>(path, RandomAccessFile::Mode::CreateNew);
    }
    m_crc = 0;
}

NewFile::~NewFile() {
    if (m_kept)
        return;
    m_file.reset();
    DeleteFileQuiet(m_path);
}

void NewFile::Write(const void* data, size_t n) {
    if (n == 0)
        return;
    m_file->WriteAt(m_size + 1, data, n);
    m_crc = qvr::detail::Crc32(m_crc, static_cast<const unsigned char*>(data), n);
    m_size += static_cast<int64_t>(n);
}

void NewFile::Keep(std::optional<int64_t> modified) {
    if (modified)
        m_file->SetModified(*modified);
    m_file->Close();
    m_file.reset();
    m_kept = true;
}

JobPlan PlanJobs(const std::vector<Job>& jobs, size_t members) {
    JobPlan plan;
    for (size_t k = 0; k < jobs.size(); ++k) {
        const size_t m = jobs[k].Member;
        if (m >= members)
            plan.Refused.push_back(
                {k, Result::EntryFailure("no member " + std::to_string(m) + " in the archive")});
        else if (!plan.ByMember.emplace(m, k).second)
            plan.Refused.push_back(
                {k, Result::EntryFailure("member " + std::to_string(m) + " was asked for twice")});
    }
    return plan;
}

Result ExtractionStopped() {
    return Result::EntryFailure("The extraction was stopped");
}

bool RunInBatches(size_t count, unsigned threads, const Ahead& ahead,
                  const std::function<Done(size_t)>& work, const DoneCallback& done,
                  const std::function<std::string(const Done&)>& destinationOf) {
    // A batch ends at this many jobs or bytes: small enough that the threads stay busy on a
    // few large members, large enough that thousands of small ones go in few hand-overs.
    // A folder's files go together up to kBatchJobs; a batch ends at a new folder once it holds
    // kFolderJobs, so that folders of one or two files do not each cost a hand-over.
    constexpr size_t kBatchJobs = 256;
    constexpr size_t kFolderJobs = 16;
    constexpr int64_t kBatchBytes = 1 << 20;
    std::vector<size_t> starts; // batch b holds jobs starts[b] .. starts[b + 1] - 1
    std::vector<int64_t> weights;
    int64_t weight = 0;
    for (size_t k = 0; k < count; ++k) {
        const int64_t w = ahead.Weight ? std::max<int64_t>(ahead.Weight(k), 0) : 0;
        const size_t held = starts.empty() ? 0 : k - starts.back();
        const bool newFolder =
            ahead.Folder && held >= kFolderJobs && ahead.Folder(k) != ahead.Folder(k - 1);
        if (starts.empty() || held >= kBatchJobs || weight + w > kBatchBytes || newFolder) {
            starts.push_back(k);
            weights.push_back(0);
            weight = 0;
        }
        weight += w;
        weights.back() += w;
    }
    starts.push_back(count);
    auto forget = [&](const Done& d) {
        if (d.Outcome)
            DeleteFileQuiet(destinationOf(d));
    };
    OrderedPool<std::vector<Done>> pool(
        weights.size(), threads,
        {.Window = ahead.Window,
         .MaxWeight = ahead.MaxWeight,
         .Weight = [&](size_t b) { return weights[b]; }},
        [&](size_t b) {
            std::vector<Done> out;
            out.reserve(starts[b + 1] - starts[b]);
            for (size_t k = starts[b]; k < starts[b + 1]; ++k)
                out.push_back(work(k));
            return out;
        },
        [&](std::vector<Done>& batch) {
            for (const Done& d : batch)
                forget(d);
        });
    for (size_t b = 0; b < weights.size(); ++b) {
        const std::vector<Done> batch = pool.Take(b);
        for (size_t i = 0; i < batch.size(); ++i)
            if (!done(batch[i])) {
                for (size_t j = i + 1; j < batch.size(); ++j)
                    forget(batch[j]);
                return false;
            }
    }
    return true;
}

unsigned ExtractionThreads() {
    return std::clamp(std::thread::hardware_concurrency(), 1u, 3u);
}

void FolderMaker::MakeFor(const std::string& destination) {
    const std::string_view folder = platform::FolderPart(destination);
    std::lock_guard lock(m_mutex);
    if (m_made.contains(folder))
        return;
    std::string made(folder);
    std::error_code ec;
    std::filesystem::create_directories(platform::ToNative(made), ec);
    m_made.insert(std::move(made));
}

} // namespace qvr::sources::detail
