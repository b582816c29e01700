// Extracting every entry of whatever opened, reading its plug-in information, and the full
// check the verify command makes.
#include "FuzzInput.h"

#include "qvr/package/Archives.h"
#include "qvr/package/Verify.h"
#include "qvr/platform/FileUtils.h"

#include <algorithm>

namespace {

// Enough entries to reach every path of the reader; more only repeat them more slowly.
constexpr size_t kMaxEntries = 32;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fuzz::WriteInput("input.qvr", data, size);
    const std::string out = fuzz::WorkFolder() + "out";
    {
        qvr::Archives arc;
        arc.TempFolder = fuzz::WorkFolder();
        const qvr::OpenStatus status = arc.Open(path);
        if (status.Kind != qvr::OpenKind::NotArchive) {
            const std::vector<qvr::sgFileInfo> entries = arc.ArchiveFiles;
            for (size_t i = 0; i < std::min(entries.size(), kMaxEntries); ++i) {
                uint32_t crc = 0;
                (void)arc.ExtractEntry(entries[i], out, true, &crc); // only crashes count
                qvr::DeleteFileQuiet(out);
            }
            if (!entries.empty())
                (void)arc.ExtractEntry(entries.front().FileName(), out, true);
            (void)arc.PluginInfo.GetPluginData(arc, "input.qvr");
        }
    }
    qvr::VerifyArchive(path);
    fuzz::ClearWorkFolder();
    return 0;
}
