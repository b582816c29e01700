// Packs a folder with the library (streaming compression), then compresses the same files
// with one-shot compress2, and extracts everything again; prints speed, peak memory and
// whether the two compressions agree.
//
//   archive_bench FOLDER [WORK_FOLDER] [--stream-only]
//
// --stream-only leaves out the one-shot comparison, which holds whole members in memory.

#include "qvr/format/PathRules.h"
#include "qvr/package/Archives.h"
#include "qvr/platform/FileUtils.h"
#include "qvr/platform/detail/RandomAccessFile.h"

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/resource.h>
#endif

namespace fs = std::filesystem;

namespace {

double PeakMiB() {
#ifndef _WIN32
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
#else
    return 0;
#endif
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

std::string ReadWhole(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool SameContent(const fs::path& a, const fs::path& b) {
    std::ifstream x(a, std::ios::binary), y(b, std::ios::binary);
    std::vector<char> p(1 << 20), q(1 << 20);
    while (x && y) {
        x.read(p.data(), static_cast<std::streamsize>(p.size()));
        y.read(q.data(), static_cast<std::streamsize>(q.size()));
        if (x.gcount() != y.gcount() || !std::equal(p.begin(), p.begin() + x.gcount(), q.begin()))
            return false;
    }
    return !x && !y;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args;
    bool oneShot = true;
    for (int k = 1; k < argc; ++k) {
        if (std::string(argv[k]) == "--stream-only")
            oneShot = false;
        else
            args.push_back(argv[k]);
    }
    if (args.empty() || args.size() > 2) {
        std::fprintf(stderr, "usage: archive_bench FOLDER [WORK_FOLDER] [--stream-only]\n");
        return 2;
    }
    const fs::path folder = args[0];
    // A folder of its own inside WORK_FOLDER, so that nothing of the user's is ever removed.
    const fs::path work =
        (args.size() > 1 ? fs::path(args[1]) : fs::temp_directory_path()) /
        ("qvr-bench-" +
         std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::create_directories(work / "tmp");
    fs::create_directories(work / "out");

    struct Item {
        fs::path source;
        std::string name, path;
        uintmax_t size;
    };
    std::vector<Item> items;
    uintmax_t total = 0;
    for (auto& e : fs::recursive_directory_iterator(folder)) {
        if (!e.is_regular_file() || e.file_size() == 0)
            continue;
        const fs::path rel = fs::relative(e.path(), folder);
        Item item{e.path(), rel.filename().string(),
                  qvr::ToArchivePath(rel.parent_path().generic_string()), e.file_size()};
        if (!qvr::IsSafeEntryPath(item.path, item.name))
            continue;
        total += item.size;
        items.push_back(item);
    }
    std::sort(items.begin(), items.end(),
              [](const Item& a, const Item& b) { return a.source < b.source; });
    const double mib = total / 1048576.0;
    std::printf("%zu files, %.1f MiB\n", items.size(), mib);

    qvr::Archives arc;
    arc.TempFolder = (work / "tmp").string() + "/";
    const std::string archive = (work / "bench.qvr").string();
    auto start = std::chrono::steady_clock::now();
    if (const qvr::Result made = arc.CreateArchive(archive); !made)
        return std::fprintf(stderr, "%s\n", made.Message.c_str()), 1;
    for (const Item& item : items)
        if (const qvr::Result added =
                arc.AddFileToArchive(item.source.string(), item.name, item.path);
            !added)
            return std::fprintf(stderr, "%s\n", added.Message.c_str()), 1;
    double t = Seconds(start);
    std::printf(
        "library, streaming:  %7.2f s  %7.2f MiB/s  archive %.1f MiB  peak memory %.1f MiB\n", t,
        mib / t, qvr::FileLength(archive).value_or(0) / 1048576.0, PeakMiB());

    start = std::chrono::steady_clock::now();
    size_t same = 0;
    if (oneShot) {
        qvr::RandomAccessFile file(archive, qvr::RandomAccessFile::Mode::Read);
        for (size_t k = 0; k < items.size(); ++k) {
            const std::string input = ReadWhole(items[k].source);
            uLongf bound = compressBound(static_cast<uLong>(input.size()));
            std::string output(bound, '\0');
            compress2(reinterpret_cast<Bytef*>(output.data()), &bound,
                      reinterpret_cast<const Bytef*>(input.data()),
                      static_cast<uLong>(input.size()), 9);
            output.resize(bound);
            const qvr::sgFileInfo& e = arc.ArchiveFiles[k];
            std::string stored(static_cast<size_t>(e.FileCompressedSize()) - 4, '\0');
            file.ReadAt(e.FileOffset() + 4, stored.data(), stored.size());
            same += stored == output;
        }
        file.Close();
        t = Seconds(start);
        std::printf("one-shot compress2:  %7.2f s  %7.2f MiB/s  peak memory %.1f MiB\n", t, mib / t,
                    PeakMiB());
        std::printf("identical streams:   %zu of %zu\n", same, items.size());
    }

    start = std::chrono::steady_clock::now();
    size_t good = 0;
    for (size_t k = 0; k < items.size(); ++k) {
        const fs::path out = work / "out" / std::to_string(k);
        if (arc.ExtractEntry(arc.ArchiveFiles[k], out.string(), true) &&
            SameContent(out, items[k].source))
            ++good;
        fs::remove(out);
    }
    t = Seconds(start);
    std::printf("extract and compare: %7.2f s  %7.2f MiB/s  %zu of %zu equal\n", t, mib / t, good,
                items.size());
    fs::remove_all(work);
    return good == items.size() ? 0 : 1;
}
