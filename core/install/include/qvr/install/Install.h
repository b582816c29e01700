#pragma once
// Installing an archive's files into the game's data folder and removing them again.
// Shared by the installer's windows and the qvr tool.

#include "qvr/package/Archives.h"

#include <functional>
#include <string>
#include <type_traits>
#include <vector>

namespace qvr {

enum class EntryOutcome {
    Installed, // written (or, for removal, deleted)
    Skipped,   // left alone: an existing file the caller chose to keep, or nothing to remove
    Refused,   // the entry's path would leave the data folder; nothing written or deleted
    Failed,    // tried and failed; Message says why
    InfoEntry, // the archive's own information entry, never installed
};

struct EntryResult {
    sgFileInfo Entry;
    EntryOutcome Outcome = EntryOutcome::Skipped;
    std::string Target;  // the file on disk, native path ("" when refused)
    std::string Message; // why, for Refused and Failed
};

// Asked when the target exists (present and longer than 0 bytes): true to overwrite. An
// empty function keeps every existing file.
using OverwriteQuestion = std::function<bool(const sgFileInfo& entry, const std::string& target)>;
// Called once per entry of ArchiveFiles, after it was handled (the info entry included).
// Answers whether to go on; a function that answers nothing always goes on, so a caller
// that never stops needs no return statement.
class EntryProgress {
public:
    EntryProgress() = default;
    template <class F,
              std::enable_if_t<std::is_invocable_v<F&, const EntryResult&, size_t, size_t> &&
                                   !std::is_same_v<std::decay_t<F>, EntryProgress>,
                               int> = 0>
    EntryProgress(F f) { // NOLINT: converts from any callable, as std::function does
        // An empty std::function or a null pointer is no callback; a lambda is never empty.
        if constexpr (std::is_constructible_v<bool, const F&> &&
                      !(std::is_class_v<F> && std::is_convertible_v<const F&, bool>))
            if (!static_cast<bool>(f))
                return;
        if constexpr (std::is_void_v<std::invoke_result_t<F&, const EntryResult&, size_t, size_t>>)
            m_fn = [f = std::move(f)](const EntryResult& r, size_t done, size_t count) mutable {
                f(r, done, count);
                return true;
            };
        else
            m_fn = std::move(f);
    }
    explicit operator bool() const { return static_cast<bool>(m_fn); }
    // True to go on.
    bool operator()(const EntryResult& r, size_t done, size_t count) const {
        return !m_fn || m_fn(r, done, count);
    }

private:
    std::function<bool(const EntryResult&, size_t, size_t)> m_fn;
};

// The archive path of an entry as people read it: "Meshes\\x.nif", or the bare name.
std::string EntryDisplayPath(const sgFileInfo& entry);

// The native path of an entry below dataFolder. A folder or file that already exists under
// another letter case is used instead of the entry's own spelling. Fails, saying why, when the
// entry is refused; target is then unchanged.
[[nodiscard]] Result TargetPath(const std::string& dataFolder, const sgFileInfo& entry,
                                std::string& target);
// path of name inside folder as it exists on disk, ignoring letter case; "" when absent.
std::string FindCaseInsensitive(const std::string& folder, const std::string& name);
// Whether dataFolder holds Morrowind.esm (in any letter case).
bool HasMorrowindEsm(const std::string& dataFolder);

// One entry: folders created level by level, the question asked for an existing file,
// the entry extracted as itself. The info entry is never written (Outcome InfoEntry).
// InstallArchive is cheaper for many entries: it lists each folder only once.
EntryResult InstallFile(Archives& arc, const sgFileInfo& entry, const std::string& dataFolder,
                        const OverwriteQuestion& ask);
// Every entry of a copy of ArchiveFiles taken at the start, in order, until progress answers
// false. Keeps no record; InstallRecorded (RecordedInstall.h) is the reversible install.
std::vector<EntryResult> InstallArchive(Archives& arc, const std::string& dataFolder,
                                        const OverwriteQuestion& ask,
                                        const EntryProgress& progress = {});

// Deletes the installed file of one entry when it exists, is longer than 0 bytes and holds
// exactly the entry's content: a file changed since, or put there by someone else, is kept.
// Installed means deleted; Skipped means there was nothing to delete or the file was kept
// (Message says why). For archives installed without a record; see RecordedInstall.h.
EntryResult RemoveInstalledFile(const Archives& arc, const sgFileInfo& entry,
                                const std::string& dataFolder);
std::vector<EntryResult> RemoveInstalledFiles(const Archives& arc, const std::string& dataFolder,
                                              const EntryProgress& progress = {});

} // namespace qvr
