// Installs one package into fresh data folders, alternately without and with the install
// record, and prints the wall time of each. Not a test: see the README's benchmark table.
//   install_bench PACKAGE.qvr WORK_FOLDER [ROUNDS]

#include "qvr/install/Install.h"
#include "qvr/install/RecordedInstall.h"
#include "qvr/package/Archives.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: install_bench PACKAGE.qvr WORK_FOLDER [ROUNDS]\n");
        return 2;
    }
    const std::string package = argv[1];
    const fs::path work = argv[2];
    const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
    qvr::Archives arc;
    if (const qvr::Result opened = arc.OpenArchive(package); !opened) {
        std::fprintf(stderr, "%s\n", opened.Message.c_str());
        return 2;
    }
    auto keep = [](const qvr::sgFileInfo&, const std::string&) { return false; };
    std::vector<double> plain, recorded;
    double cpuPlain = 0, cpuRecorded = 0; // processor time, less disturbed by other work
    for (int round = 0; round < rounds; ++round) {
        for (int withRecord = 0; withRecord < 2; ++withRecord) {
            const fs::path data = work / ("data-" + std::to_string(withRecord));
            fs::remove_all(data);
            fs::create_directories(data);
            auto start = std::chrono::steady_clock::now();
            std::clock_t cpuStart = std::clock();
            bool ok = true;
            if (withRecord)
                ok = qvr::InstallRecorded(arc, data.string(), keep).Outcome.Ok();
            else
                for (const auto& r : qvr::InstallArchive(arc, data.string(), keep))
                    ok = ok && r.Outcome != qvr::EntryOutcome::Failed;
            double s =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            (withRecord ? cpuRecorded : cpuPlain) +=
                static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
            if (!ok) {
                std::fprintf(stderr, "install failed\n");
                return 1;
            }
            (withRecord ? recorded : plain).push_back(s);
        }
        std::printf("round %d: without %.3f s, with %.3f s\n", round + 1, plain.back(),
                    recorded.back());
        std::fflush(stdout);
    }
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    std::printf("entries %zu, rounds %d\n", arc.ArchiveFiles.size(), rounds);
    std::printf("without record: median %.3f s (min %.3f)\n", median(plain),
                *std::min_element(plain.begin(), plain.end()));
    std::printf("with record:    median %.3f s (min %.3f)\n", median(recorded),
                *std::min_element(recorded.begin(), recorded.end()));
    std::printf("extra wall time: %+.1f %% (medians)\n",
                100.0 * (median(recorded) / median(plain) - 1.0));
    std::printf("processor time per install: without %.3f s, with %.3f s (%+.1f %%)\n",
                cpuPlain / rounds, cpuRecorded / rounds, 100.0 * (cpuRecorded / cpuPlain - 1.0));
    fs::remove_all(work / "data-0");
    fs::remove_all(work / "data-1");
    return 0;
}
