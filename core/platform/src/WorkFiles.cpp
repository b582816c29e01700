#include "qvr/platform/WorkFiles.h"
#include "qvr/platform/FileUtils.h"
#include "qvr/platform/TempFile.h"
#include "qvr/platform/detail/ArchiveError.h"
#include "qvr/platform/detail/RandomAccessFile.h"
#include "qvr/platform/detail/WorkFileNames.h"
#include "qvr/platform/detail/WorkRegistry.h"
#include "qvr/platform/detail/platform.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <iterator>
#include <map>
#include <mutex>
#include <string_view>
#include <type_traits>

namespace qvr::detail {

std::string JournalPathFor(const std::string& path) {
    return path + "-journal";
}

std::string FolderOf(const std::string& path) {
    std::string name = platform::FileNamePart(path);
    return path.substr(0, path.size() - name.size());
}

namespace {

struct Registry {
    std::mutex Mutex;
    std::map<std::string, bool> Live;             // path, whether a folder
    std::map<std::string, std::string> Abandoned; // name, path as remembered
};

// Never destroyed: work files may still be removed while the program ends.
Registry& TheRegistry() {
    static Registry* registry = new Registry;
    return *registry;
}

} // namespace

namespace {

constexpr size_t kMaxStem = 40;

// Only plain characters from the hint, so the name is valid on every file system.
bool PlainCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '_' || c == '-';
}

} // namespace

std::string WorkFileName(const std::string& hint) {
    static std::atomic<uint64_t> counter{0};
    std::string stem;
    for (char c : hint) {
        if (stem.size() >= kMaxStem)
            break;
        if (PlainCharacter(c))
            stem += c;
    }
    return "~qvr-" + stem + "-" + std::to_string(platform::ProcessId()) + "-" +
           std::to_string(counter.fetch_add(1)) + ".tmp";
}

void RememberWorkFile(const std::string& path, bool folder) {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.Mutex);
    r.Live[path] = folder;
}

void ForgetWorkFile(const std::string& path) {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.Mutex);
    r.Live.erase(path);
    r.Abandoned.erase(platform::FileNamePart(path));
}

void AbandonWorkFile(const std::string& path) {
    uint32_t pid = 0;
    const std::string name = platform::FileNamePart(path);
    if (!IsWorkFileName(name, pid) || pid != platform::ProcessId())
        return;
    Registry& r = TheRegistry();
    std::lock_guard lock(r.Mutex);
    // Still remembered as well, so that an interrupt tries once more.
    r.Live.try_emplace(path, false);
    r.Abandoned[name] = path;
}

bool IsAbandonedWorkFile(const std::string& name) {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.Mutex);
    return r.Abandoned.count(name) > 0;
}

std::string CreateUniqueFile(const std::string& folder, const std::string& hint,
                             const std::string& target, std::unique_ptr<RandomAccessFile>* opened) {
    std::string last, reason;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string path = folder + WorkFileName(hint);
        RememberWorkFile(path);
        try {
            auto file = std::make_unique<RandomAccessFile>(path, RandomAccessFile::Mode::CreateNew);
            if (opened)
                *opened = std::move(file);
            return path;
        } catch (const ArchiveError& e) {
            ForgetWorkFile(path);
            last = e.what();
            const std::string prefix = "Cannot open " + path + ": ";
            reason = last.rfind(prefix, 0) == 0 ? last.substr(prefix.size()) : last;
            std::error_code ec;
            if (!std::filesystem::exists(platform::ToNative(path), ec))
                break; // not a name clash: the folder itself is the problem
        }
    }
    // The user knows the file they asked for, not our work file's name.
    if (!target.empty()) {
        if (reason.size() > 1 && reason[0] >= 'A' && reason[0] <= 'Z' && reason[1] >= 'a' &&
            reason[1] <= 'z')
            reason[0] = static_cast<char>(reason[0] - 'A' + 'a');
        throw ArchiveError("Cannot write " + target + (reason.empty() ? "" : ": " + reason));
    }
    throw ArchiveError("Cannot create a file in " + (folder.empty() ? "." : folder) +
                       (last.empty() ? "" : " (" + last + ")"));
}

} // namespace qvr::detail

namespace qvr {

bool IsWorkFileName(const std::string& fullName, uint32_t& pid) {
    // A work file that was being appended to may have left its append journal beside it.
    std::string name = fullName;
    if (name.ends_with(".tmp-journal"))
        name.resize(name.size() - 8);
    if (!name.starts_with("~qvr-") || !name.ends_with(".tmp"))
        return false;
    const std::string core = name.substr(5, name.size() - 9);
    const size_t counterAt = core.rfind('-');
    if (counterAt == std::string::npos || counterAt == 0)
        return false;
    const size_t pidAt = core.rfind('-', counterAt - 1);
    const size_t pidStart = pidAt == std::string::npos ? 0 : pidAt + 1;
    // A stem WorkFileName would not make is someone else's name.
    const std::string stem = core.substr(0, pidStart == 0 ? 0 : pidStart - 1);
    if (stem.size() > detail::kMaxStem ||
        !std::all_of(stem.begin(), stem.end(), detail::PlainCharacter))
        return false;
    const std::string pidText = core.substr(pidStart, counterAt - pidStart);
    const std::string counter = core.substr(counterAt + 1);
    auto digits = [](const std::string& s) {
        return !s.empty() && s.size() <= 10 &&
               s.find_first_not_of("0123456789") == std::string::npos;
    };
    if (!digits(pidText) || !digits(counter))
        return false;
    const unsigned long long value = std::strtoull(pidText.c_str(), nullptr, 10);
    if (value > UINT32_MAX)
        return false;
    pid = static_cast<uint32_t>(value);
    return true;
}

namespace {

// The folders MakeWorkFolder makes, by their hint: only these are removed with what they hold.
constexpr std::string_view kWorkFolderHints[] = {"batch", "import", "readme", "spool", "unpack"};

bool IsWorkFolderName(const std::string& name) {
    uint32_t pid = 0;
    if (!IsWorkFileName(name, pid))
        return false;
    const std::string tail = "-" + std::to_string(pid) + "-";
    return std::any_of(
        std::begin(kWorkFolderHints), std::end(kWorkFolderHints), [&](std::string_view hint) {
            const std::string start = "~qvr-" + std::string(hint) + tail;
            return name.starts_with(start) && name.find('-', start.size()) == std::string::npos;
        });
}

// Whether what lies at path, links not followed, is a work file this program could have left:
// a regular file of a work file's name, or one of its own work folders.
bool CouldBeOurs(const std::filesystem::file_status& status, const std::string& name) {
    if (std::filesystem::is_regular_file(status))
        return true;
    return std::filesystem::is_directory(status) && IsWorkFolderName(name);
}

template <typename Iterator>
void CollectStale(const std::filesystem::path& folder, std::vector<std::string>& stale) {
    std::error_code ec;
    for (Iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        uint32_t pid = 0;
        const std::string name = platform::FromNative(it->path().filename());
        // A folder named like ours is removed whole or left alone, never gone through: what is
        // inside someone else's is not ours to judge.
        if constexpr (std::is_same_v<Iterator, std::filesystem::recursive_directory_iterator>)
            if (name.starts_with("~qvr-"))
                it.disable_recursion_pending();
        if (!IsWorkFileName(name, pid))
            continue;
        std::error_code kind;
        if (!CouldBeOurs(it->symlink_status(kind), name) || kind)
            continue;
        // A work file's journal is named after the work file, whose name is this program's own
        // (with the number of the process that made it), so the name alone tells it apart.
        const std::string path = platform::FromNative(it->path());
        const bool ours = pid == platform::ProcessId();
        if ((!ours && !platform::ProcessAlive(pid)) || (ours && detail::IsAbandonedWorkFile(name)))
            stale.push_back(path);
    }
}

} // namespace

std::vector<std::string> FindStaleWorkFiles(const std::string& folder, bool below) {
    std::vector<std::string> stale;
    try {
        const auto native = platform::ToNative(folder.empty() ? "." : folder);
        if (below)
            CollectStale<std::filesystem::recursive_directory_iterator>(native, stale);
        else
            CollectStale<std::filesystem::directory_iterator>(native, stale);
    } catch (...) {
        // A folder that cannot be read holds nothing we could remove either.
    }
    return stale;
}

std::vector<std::string> RemoveStaleWorkFiles(const std::string& folder, bool below) {
    std::vector<std::string> removed;
    for (const std::string& path : FindStaleWorkFiles(folder, below)) {
        std::error_code ec;
        // Looked at again: only one of our folders is removed with what it holds.
        const auto native = platform::ToNative(path);
        if (std::filesystem::is_directory(std::filesystem::symlink_status(native, ec)) &&
            IsWorkFolderName(platform::FileNamePart(path)))
            std::filesystem::remove_all(native, ec);
        else
            std::filesystem::remove(native, ec);
        if (ec)
            continue;
        removed.push_back(path);
        uint32_t pid = 0;
        const std::string name = platform::FileNamePart(path);
        if (IsWorkFileName(name, pid) && pid == platform::ProcessId()) {
            detail::Registry& r = detail::TheRegistry();
            std::lock_guard lock(r.Mutex);
            if (auto at = r.Abandoned.find(name); at != r.Abandoned.end()) {
                r.Live.erase(at->second);
                r.Abandoned.erase(at);
            }
        }
    }
    return removed;
}

void RemoveWorkFilesAndExit(int code) {
    detail::Registry& r = detail::TheRegistry();
    // Held until the end: a thread that would note a new work file waits here, before making it.
    r.Mutex.lock();
    for (const auto& [path, folder] : r.Live) {
        std::error_code ec;
        if (folder)
            std::filesystem::remove_all(platform::ToNative(path), ec);
        else
            std::filesystem::remove(platform::ToNative(path), ec);
    }
    std::_Exit(code);
}

Result MakeWorkFolder(const std::string& parent, const std::string& hint, std::string& made) {
    // A folder of another hint would never be swept.
    if (std::find(std::begin(kWorkFolderHints), std::end(kWorkFolderHints), hint) ==
        std::end(kWorkFolderHints))
        return Result::EntryFailure("No work folder is made for \"" + hint + "\"");
    std::error_code ec;
    const std::filesystem::path base =
        parent.empty() ? std::filesystem::temp_directory_path(ec) : platform::ToNative(parent);
    if (ec)
        return Result::EntryFailure("Cannot find the temporary folder: " + ec.message());
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string path = platform::FromNative(base / detail::WorkFileName(hint));
        detail::RememberWorkFile(path, true);
        if (std::filesystem::create_directory(platform::ToNative(path), ec) && !ec) {
            made = path;
            return Result::Success();
        }
        detail::ForgetWorkFile(path);
        if (!std::filesystem::exists(platform::ToNative(path), ec))
            break; // not a name clash: the folder itself is the problem
    }
    return Result::EntryFailure("Cannot make a folder in " + platform::FromNative(base));
}

void RemoveWorkFolder(const std::string& path) {
    std::error_code ec;
    std::filesystem::remove_all(platform::ToNative(path), ec);
    if (ec)
        detail::AbandonWorkFile(path);
    else
        detail::ForgetWorkFile(path);
}

bool ProcessMayBeRunning(uint32_t pid) {
    return platform::ProcessAlive(pid);
}

namespace {

std::string RewriteTargetOf(const std::string& path) {
    const std::string real = platform::FollowLinks(path);
    switch (platform::KindOf(real)) {
    case platform::PathKind::Missing:
    case platform::PathKind::Regular:
        return real;
    case platform::PathKind::Folder:
        throw ArchiveError(path + " is a folder, not a file");
    case platform::PathKind::Other:
        break;
    }
    throw ArchiveError(path +
                       " is not a regular file (a device, pipe or socket); it is left alone");
}

// The platform calls below throw ArchiveError; the edge answers its message.
template <class F> Result Answer(F&& step) {
    try {
        step();
        return Result::Success();
    } catch (const std::exception& e) {
        return Result::EntryFailure(e.what());
    }
}

} // namespace

Result TempFile::RewriteTarget(const std::string& path, std::string& target) {
    return Answer([&] { target = RewriteTargetOf(path); });
}

Result TempFile::Beside(const std::string& target, TempFile& made) {
    return Answer([&] {
        const std::string real = RewriteTargetOf(target);
        made = TempFile(
            detail::CreateUniqueFile(detail::FolderOf(real), GetFileNameFromPath(real), target));
    });
}

TempFile::TempFile(TempFile&& other) noexcept : m_path(std::move(other.m_path)) {
    other.m_path.clear();
}

namespace {

// A work file given up needs no rolling back: its append journal, if any, goes with it.
void Discard(const std::string& path) {
    DeleteFileQuiet(path);
    DeleteFileQuiet(detail::JournalPathFor(path));
}

} // namespace

TempFile& TempFile::operator=(TempFile&& other) noexcept {
    if (this != &other) {
        if (!m_path.empty())
            Discard(m_path);
        m_path = std::move(other.m_path);
        other.m_path.clear();
    }
    return *this;
}

TempFile::~TempFile() {
    if (!m_path.empty())
        Discard(m_path);
}

Result TempFile::ReplaceInto(const std::string& target) {
    return Answer([&] {
        const std::string real = RewriteTargetOf(target);
        // Whole on the disk before its name is: a power loss after the rename never finds the
        // new name on an empty file.
        platform::SyncFile(m_path);
        if (platform::KindOf(real) == platform::PathKind::Regular)
            platform::CopyAccess(real, m_path);
        platform::ReplaceFile(m_path, real);
        m_path.clear();
        platform::SyncFolder(detail::FolderOf(real));
    });
}

Result ReplaceFileContent(const std::string& path, const std::string& bytes) {
    TempFile work;
    if (Result made = TempFile::Beside(path, work); !made)
        return made;
    if (Result written = Answer([&] {
            RandomAccessFile file(work.Path(), RandomAccessFile::Mode::ReadWrite);
            file.WriteAt(1, bytes.data(), bytes.size());
            file.Close();
        });
        !written)
        return written;
    return work.ReplaceInto(path);
}

} // namespace qvr
