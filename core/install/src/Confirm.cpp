#include "qvr/install/detail/Backups.h"
#include "qvr/install/detail/EngineSteps.h"
#include "qvr/install/detail/InstallFiles.h"
#include "qvr/install/detail/InstallPaths.h"
#include "qvr/platform/FolderLock.h"
#include "qvr/platform/detail/platform.h"

#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

namespace qvr::detail {
namespace {

std::string RecordFile(const std::string& root, const InstallRecord& record) {
    return platform::FromNative(platform::ToNative(RecordFolder(root)) /
                                platform::ToNative(record.Key + ".ini"));
}

// A file of the install that the end of the system's run left without its bytes: there, not
// as written, and not changed since the record was committed (so not by the player).
bool LostBytes(const std::string& root, const RecordedFile& f, const std::string& record) {
    if (!f.Known)
        return false;
    const fs::path file = DataPath(root, f.Path);
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(file, ec)) || FileMatches(file, f.Size, f.Crc))
        return false;
    int64_t size = 0;
    uint32_t crc = 0;
    if (fs::is_regular_file(fs::symlink_status(file, ec)) && !FileCrc(file, size, crc))
        throw std::runtime_error("cannot read " + platform::FromNative(file));
    return !ChangedAfter(platform::FromNative(file), record);
}

// Taken back as an install cut short when a file lost its bytes: what it replaced goes back,
// and its files go, those that lost their bytes too (their content is no longer the one
// recorded). Sets taken when it was.
Result TakeBackDamaged(const InstallTarget& target, InstallRecord record, bool& taken,
                       std::string& plugin) {
    const std::string recordFile = RecordFile(target.Root, record);
    for (RecordedFile& f : record.Files)
        if (LostBytes(target.Root, f, recordFile))
            f.Known = false, taken = true;
    if (!taken)
        return Result::Success();
    record.State = RecordState::Installing;
    record.Plan.clear();
    const RemovalReport done =
        RunRemoval(target.Root, record, ListInstallRecords(target.Root), {}, false, target.Editor);
    plugin = done.Plugin;
    return done.Outcome;
}

} // namespace

void FlushTarget(const std::string& root, const InstallRecord& record) {
    SyncFileSystem(root);
    for (const std::string& link : record.Links) // the player's folders on other disks
        SyncFileSystem(platform::FromNative(DataPath(root, link)));
}

Result ConfirmWritten(const InstallTarget& target, std::vector<std::string>* takenBack) {
    const std::string boot = BootId();
    std::vector<InstallRecord> records = ListInstallRecords(target.Root);
    // Newest first: a later install's files lie over an earlier one's.
    for (auto r = records.rbegin(); r != records.rend(); ++r) {
        if (r->State != RecordState::Installed || r->WrittenInBoot.empty())
            continue;
        if (r->WrittenInBoot == boot) {
            try {
                FlushTarget(target.Root, *r);
            } catch (const std::exception&) {
                continue; // the mark stays, and the next command flushes again
            }
        } else {
            bool taken = false;
            std::string plugin;
            try {
                if (Result undone = TakeBackDamaged(target, *r, taken, plugin); !undone)
                    return undone;
            } catch (const std::exception& e) {
                return Result::EntryFailure("The install of " +
                                            (r->Name.empty() ? r->Archive : r->Name) +
                                            " cannot be checked: " + e.what());
            }
            if (taken) {
                if (takenBack)
                    takenBack->push_back(plugin);
                continue;
            }
        }
        r->WrittenInBoot.clear();
        try {
            WriteInstallRecord(target.Root, *r);
        } catch (const std::exception&) {
            // the mark stays, and the next command flushes or checks again
        }
    }
    return Result::Success();
}

} // namespace qvr::detail
