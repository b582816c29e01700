// The archives players download, read through the core's sources as the install engine will:
// every member listed, then extracted into a folder of its own and deleted again.
#include "FuzzInput.h"

#include "qvr/platform/FileUtils.h"
#include "qvr/sources/Layout.h"
#include "qvr/sources/Source.h"

namespace {

// Enough members to reach every path of the readers; more only repeat them more slowly. A
// member said to be larger is listed but not extracted: a few bytes of LZMA can stand for
// gigabytes, and writing them teaches the fuzzer nothing.
constexpr size_t kMaxMembers = 32;
constexpr int64_t kMaxExtracted = 1 << 20;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fuzz::WriteInput("input.arc", data, size);
    {
        qvr::sources::Opened opened = qvr::sources::Open(path);
        if (opened.Outcome) {
            const auto& members = opened.Archive->Members();
            std::vector<std::string> paths;
            std::vector<qvr::sources::Job> jobs;
            for (size_t k = 0; k < members.size(); ++k) {
                paths.push_back(members[k].Path);
                if (jobs.size() < kMaxMembers && members[k].Size <= kMaxExtracted)
                    jobs.push_back({k, fuzz::WorkFolder() + "out/" + std::to_string(k), false, {}});
            }
            const qvr::sources::Layout layout = qvr::sources::FindLayout(paths);
            (void)qvr::sources::PlaceFromRoot(paths, layout.Root);
            (void)opened.Archive->Extract(jobs, [&](const qvr::sources::Done& d) {
                qvr::DeleteFileQuiet(jobs[d.Job].Destination);
                return true;
            });
        }
    }
    fuzz::ClearWorkFolder();
    return 0;
}
