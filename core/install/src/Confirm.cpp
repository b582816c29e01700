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

// A file of the install that the end of the system's run left without its bytes: there, not
// as written, and not changed since the record was committed (so not by the player).
bool LostBytes(const std::string& root, const RecordedFile& f, const InstallRecord& r,
               const std::string& record) {
    if (!f.Known)
        return false;
    const fs::path file = DataPath(root, f.Path);
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(file, ec)) || FileMatchesOrThrow(file, f.Size, f.Crc))
        return false;
    const std::string path = platform::FromNative(file);
    // Records written before the commit's time was kept go by the record file's own.
    return r.WrittenAt > 0 ? !ChangedAfterTime(path, r.WrittenAt) : !ChangedAfter(path, record);
}

// Taken back as an install cut short when a file lost its bytes: what it replaced goes back,
// and its files go, those that lost their bytes too (their content is no longer the one
// recorded). Sets taken when it was.
Result TakeBackDamaged(const InstallTarget& target, InstallRecord record,
                       const std::vector<InstallRecord>& records, bool& taken,
                       std::string& plugin) {
    const std::string recordFile = RecordFile(target.Root, record.Key);
    for (RecordedFile& f : record.Files)
        if (LostBytes(target.Root, f, record, recordFile))
            f.Known = false, taken = true;
    if (!taken)
        return Result::Success();
    record.State = RecordState::Installing;
    record.Plan.clear();
    const RemovalReport done = RunRemoval(target.Root, record, records, {}, false, target.Editor);
    plugin = done.Plugin;
    return done.Outcome;
}

} // namespace

void FlushTarget(const std::string& root, const InstallRecord& record) {
    SyncFileSystem(root);
    for (const std::string& link : record.Links) // the player's folders on other disks
        SyncFileSystem(platform::FromNative(DataPath(root, link)));
}

Result ConfirmWritten(const InstallTarget& target, std::vector<InstallRecord> records,
                      std::vector<std::string>* takenBack) {
    const std::string boot = BootId();
    // Newest first: a later install's files lie over an earlier one's.
    for (size_t i = records.size(); i-- > 0;) {
        InstallRecord* r = &records[i];
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
                if (Result undone = TakeBackDamaged(target, *r, records, taken, plugin); !undone)
                    return undone;
            } catch (const std::exception& e) {
                return Result::EntryFailure("The install of " +
                                            (r->Name.empty() ? r->Archive : r->Name) +
                                            " cannot be checked: " + e.what());
            }
            if (taken) {
                if (takenBack)
                    takenBack->push_back(plugin);
                records.erase(records.begin() + static_cast<std::ptrdiff_t>(i));
                continue;
            }
        }
        r->WrittenInBoot.clear();
        r->WrittenAt = 0;
        try {
            WriteInstallRecord(target.Root, *r);
        } catch (const std::exception&) {
            // the mark stays, and the next command flushes or checks again
        }
    }
    return Result::Success();
}

} // namespace qvr::detail
