#include "qvr/package/Verify.h"

#include "qvr/format/detail/Format.h"
#include "qvr/format/detail/WholeMember.h"
#include "qvr/package/detail/Journal.h"
#include "qvr/platform/detail/platform.h"

#include "qvr/format/InfoEntry.h"
#include "qvr/format/PathRules.h"
#include "qvr/platform/Encoding.h"
#include "qvr/platform/FileUtils.h"
#include "qvr/platform/OrderedPool.h"
#include "qvr/platform/detail/ArchiveError.h"
#include "qvr/platform/detail/RandomAccessFile.h"

#include <algorithm>
#include <cctype>
#include <exception>
#include <functional>
#include <limits>
#include <map>
#include <thread>
#include <zlib.h>

namespace qvr {
namespace {

// The archive's file name, which names its information entry; Windows reads "/" as a
// separator too.
std::string ArchiveFileName(const std::string& path) {
    std::string name = qvr::GetFileNameFromPath(path);
#ifdef _WIN32
    name = name.substr(name.find_last_of('/') + 1);
#endif
    return name;
}

struct Record {
    int64_t Position = 0;
    int32_t Offset = 0;
    int32_t Compressed = 0;
    std::string Name, Path, SizeText; // as stored (Windows-1252)
    int64_t Size = 0;
    bool SizeValid = false;
};

int32_t ReadInt(RandomAccessFile& f, int64_t pos) {
    unsigned char b[4] = {0, 0, 0, 0};
    f.ReadAt(pos, b, 4);
    return format::GetLong(b);
}

std::string Shown(const Record& r) {
    return ShownEntryPath(Cp1252ToUtf8(r.Path), Cp1252ToUtf8(r.Name));
}

// A stored (Windows-1252) name in the form that names are compared in, accents included.
std::string Lower(const std::string& stored) {
    return LowerText(Cp1252ToUtf8(stored));
}

bool ParseSize(const std::string& text, int64_t& value) {
    int32_t size = 0;
    if (!format::ParseSizeText(text, size))
        return false;
    value = size;
    return true;
}

// Inflates a block in pieces; empty result when it is sound, else what is wrong. keep receives
// the data when asked for (only the small info entry is kept).
std::string CheckBlock(RandomAccessFile& f, const Record& r, std::string* keep) {
    if (r.Compressed < 6)
        return "its block of " + std::to_string(r.Compressed) + " bytes is too short to hold data";
    // The usual case in one read and one call into buffers kept for the next entry; a block
    // that fails is read and inflated again below only to say what is wrong with it.
    const int64_t stored = r.Compressed - format::kBlockPrefix;
    // A member recorded as larger than the whole-member limit streams, without a first read.
    const bool small = stored <= 2 * detail::kWholeMemberLimit &&
                       !(r.SizeValid && r.Size > detail::kWholeMemberLimit);
    unsigned char* block =
        small ? detail::ThreadBuffer(1, static_cast<size_t>(r.Compressed)) : nullptr;
    if (small && f.ReadAt(r.Offset, block, static_cast<size_t>(r.Compressed)) ==
                     static_cast<size_t>(r.Compressed)) {
        const int32_t prefix = format::GetLong(block);
        const int64_t expected = r.SizeValid && r.Size > 0 ? r.Size : prefix;
        // A prefix that disagrees with the record is left to the careful path to describe.
        if (prefix >= 0 && expected == prefix && expected <= detail::kWholeMemberLimit) {
            unsigned char* data =
                detail::ThreadBuffer(2, static_cast<size_t>(std::max<int64_t>(expected, 1)));
            size_t used = 0;
            if (detail::InflateWhole(block + format::kBlockPrefix, static_cast<size_t>(stored),
                                     data, static_cast<size_t>(expected), &used) == Z_OK &&
                used == static_cast<size_t>(stored)) {
                if (keep)
                    keep->assign(reinterpret_cast<char*>(data),
                                 static_cast<size_t>(std::min(expected, format::kMaxInfoEntry)));
                return {};
            }
        }
    }

    const int32_t prefix = ReadInt(f, r.Offset);
    if (prefix < 0)
        return "its block gives a negative length";
    if (r.SizeValid && r.Size > 0 && prefix != r.Size)
        return "its block says " + std::to_string(prefix) + " bytes but its record says " +
               r.SizeText;
    const int64_t expected = r.SizeValid && r.Size > 0 ? r.Size : prefix;

    z_stream z{};
    if (inflateInit(&z) != Z_OK)
        return "zlib could not start";
    std::vector<unsigned char> in(1 << 20), out(1 << 20);
    int64_t pos = r.Offset + format::kBlockPrefix;
    int64_t left = r.Compressed - format::kBlockPrefix;
    int64_t produced = 0;
    int rc = Z_OK;
    std::string problem;
    while (rc != Z_STREAM_END && problem.empty()) {
        if (z.avail_in == 0) {
            if (left == 0) {
                problem = "its data is cut short (the zlib stream does not end in the block)";
                break;
            }
            size_t want = static_cast<size_t>(std::min<int64_t>(left, in.size()));
            size_t got = f.ReadAt(pos, in.data(), want);
            if (got != want) {
                problem = "its block runs past the end of the file";
                break;
            }
            pos += static_cast<int64_t>(got);
            left -= static_cast<int64_t>(got);
            z.next_in = in.data();
            z.avail_in = static_cast<uInt>(got);
        }
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        rc = inflate(&z, Z_NO_FLUSH);
        size_t n = out.size() - z.avail_out;
        produced += static_cast<int64_t>(n);
        if (keep && static_cast<int64_t>(keep->size()) < format::kMaxInfoEntry)
            keep->append(reinterpret_cast<char*>(out.data()), n);
        if (rc != Z_OK && rc != Z_STREAM_END)
            problem = std::string("its data is damaged (zlib: ") + (z.msg ? z.msg : "error") + ")";
        else if (produced > expected) // no need to inflate a hostile block to its very end
            problem =
                "it decompresses to more than the " + std::to_string(expected) + " bytes recorded";
    }
    if (problem.empty() && (z.avail_in != 0 || left != 0))
        problem = "its block has " + std::to_string(z.avail_in + left) +
                  " bytes after the end of its data";
    inflateEnd(&z);
    if (problem.empty() && produced != expected)
        problem = "it decompresses to " + std::to_string(produced) + " bytes, not the " +
                  std::to_string(expected) + " recorded";
    return problem;
}

// What checking one block found, made on a worker thread and read in archive order.
struct Checked {
    std::string Bad, Info;
    std::exception_ptr Failed;
};

// Two threads at most: each holds buffers for a whole member, and the check stays in 64 MB.
unsigned VerifyThreads() {
    return std::clamp(std::thread::hardware_concurrency(), 1u, 2u);
}

// The records of the directory at `directory`, as far as readers get; what stops them is said.
std::vector<Record> ReadRecords(RandomAccessFile& f, int64_t directory, int64_t length,
                                const std::function<void(const std::string&)>& problem) {
    std::vector<Record> records;
    const int64_t size = length + 1 - directory;
    if (size > format::kMaxDirectory) {
        problem("the directory is " + std::to_string(size) + " bytes long; readers refuse it");
        return records;
    }
    std::string bytes(static_cast<size_t>(size), '\0');
    bytes.resize(f.ReadAt(directory, bytes.data(), bytes.size()));
    size_t at = 0;
    while (at < bytes.size()) {
        const std::string number = std::to_string(records.size() + 1);
        const int64_t position = directory + static_cast<int64_t>(at);
        const format::StoredRecord stored = format::ScanRecord(bytes, at);
        if (stored.How == format::StoredRecord::End::TextWithoutEnd) {
            problem("directory record " + number + " at position " + std::to_string(position) +
                    ": its " + format::kRecordFields[stored.Field] +
                    " has no end within 255 bytes; the rest of the directory is lost");
            break;
        }
        if (stored.How == format::StoredRecord::End::CutShort) {
            problem("directory record " + number + " runs past the end of the file");
            break;
        }
        Record r{position,      stored.Offset, stored.Compressed,
                 stored.Name(), stored.Path(), stored.SizeText()};
        r.SizeValid = ParseSize(r.SizeText, r.Size);
        if (r.Name.empty() || r.Offset == 0) {
            problem("directory record " + number +
                    " has an empty name or no position; readers stop there");
            break;
        }
        records.push_back(std::move(r));
    }
    return records;
}

// The stored (lower-case) name of the entry that holds the information.
std::string InfoNameOf(const std::string& path, const std::vector<Record>& records) {
    std::vector<std::string> topLevel;
    for (const Record& r : records)
        if (r.Path.empty())
            topLevel.push_back(Cp1252ToUtf8(r.Name));
    return LowerText(ChooseInfoEntry(ArchiveFileName(path), topLevel).Name);
}

// What is wrong with the record itself, apart from its block.
void CheckRecord(const Record& r, std::map<std::string, int>& seen, int64_t expectedOffset,
                 const std::function<void(const std::string&)>& problem) {
    const std::string who = "entry " + Shown(r) + ": ";
    if (!r.SizeValid)
        problem(who + "its size \"" + Cp1252ToUtf8(r.SizeText) + "\" is not a number");
    else if (r.Size < 0)
        problem(who + "its size is negative");
    if (const Result safe = IsSafeEntryPath(Cp1252ToUtf8(r.Path), Cp1252ToUtf8(r.Name)); !safe)
        problem(who + "would land outside the data folder" +
                (safe.Message.empty() ? "" : " (" + safe.Message + ")"));
    if (++seen[Lower(r.Path) + "\\" + Lower(r.Name)] == 2)
        problem(who + "appears more than once");
    if (r.Offset != expectedOffset)
        problem(who + "its block starts at position " + std::to_string(r.Offset) + " instead of " +
                std::to_string(expectedOffset) + " (blocks must follow one another)");
}

// Every record and block, in archive order, the blocks inflated a little ahead on the cores.
void CheckEntries(RandomAccessFile& f, const std::vector<Record>& records, int64_t directory,
                  const std::string& infoName, const VerifyProgress& progress, VerifyReport& report,
                  const std::function<void(const std::string&)>& problem) {
    auto inside = [&](const Record& r) {
        return r.Offset >= format::kFirstBlock && r.Compressed >= 0 &&
               int64_t{r.Offset} + r.Compressed <= directory;
    };
    auto isInfo = [&](const Record& r) { return r.Path.empty() && Lower(r.Name) == infoName; };
    constexpr size_t kAhead = 256;
    OrderedPool<Checked> ahead(records.size(), VerifyThreads(), {.Window = kAhead}, [&](size_t j) {
        Checked c;
        if (!inside(records[j]))
            return c;
        try {
            c.Bad = CheckBlock(f, records[j], isInfo(records[j]) ? &c.Info : nullptr);
        } catch (...) {
            c.Failed = std::current_exception();
        }
        return c;
    });
    std::map<std::string, int> seen;
    int infoEntries = 0;
    int64_t expectedOffset = format::kFirstBlock;
    for (size_t k = 0; k < records.size(); ++k) {
        const Record& r = records[k];
        const Checked checked = ahead.Take(k);
        if (progress && !progress(k, records.size(), Cp1252ToUtf8(r.Name))) {
            problem("the check was stopped before entry " + Shown(r));
            return;
        }
        CheckRecord(r, seen, expectedOffset, problem);
        if (r.SizeValid && r.Size >= 0)
            report.UncompressedBytes += r.Size;
        const std::string who = "entry " + Shown(r) + ": ";
        if (!inside(r)) {
            problem(who + "its block does not lie between the header and the directory");
        } else {
            if (checked.Failed)
                std::rethrow_exception(checked.Failed);
            if (!checked.Bad.empty())
                problem(who + checked.Bad);
            else if (isInfo(r) && r.SizeValid && r.Size > format::kMaxInfoEntry)
                problem(
                    who + "the plug-in information is " + r.SizeText + " bytes, more than the " +
                    std::to_string(format::kMaxInfoEntry / (1024 * 1024)) + " MiB readers take");
            else if (isInfo(r) && std::count(checked.Info.begin(), checked.Info.end(), '\0') < 6)
                problem(who + "the plug-in information is cut short");
        }
        infoEntries += isInfo(r) ? 1 : 0;
        expectedOffset = int64_t{r.Offset} + std::max(0, r.Compressed);
    }
    if (!records.empty() && expectedOffset != directory)
        problem("the blocks end at position " + std::to_string(expectedOffset) +
                " but the directory starts at " + std::to_string(directory));
    if (infoEntries == 0)
        problem("no plug-in information entry " + ArchiveFileName(f.Path()) +
                ".ifo (was the archive renamed after packing?)");
}

// The directory's position when the head is sound; 0 when there is nothing more to check.
int64_t CheckHead(RandomAccessFile& f, int64_t length,
                  const std::function<void(const std::string&)>& problem) {
    if (length < format::kHeadLength) {
        problem("the file ends inside its 10-byte header");
        return 0;
    }
    const int64_t directory = ReadInt(f, format::kDirectoryPositionAt);
    if (directory == 0) {
        if (length != format::kHeadLength)
            problem("the header says the archive holds no entries, but " +
                    std::to_string(length - format::kHeadLength) + " bytes follow it");
        return 0;
    }
    if (directory < format::kFirstBlock || directory > length) {
        problem("the directory position " + std::to_string(directory) + " lies outside the file (" +
                std::to_string(length) + " bytes)");
        return 0;
    }
    if (length > format::kMaxArchive)
        problem("the file is 2 GiB or larger; readers cannot address all of it");
    return directory;
}

} // namespace

VerifyReport VerifyArchive(const std::string& path, const VerifyProgress& progress) {
    VerifyReport report;
    auto fatal = [&](const std::string& why) {
        report.Readable = false;
        report.Fatal = why;
        return report;
    };
    if (platform::KindOf(path) == platform::PathKind::Other)
        return fatal("not a regular file (a device, pipe or socket)");
    if (!FileLength(path))
        return fatal("no such file, or it cannot be read");
    if (FileLength(path) == 0)
        return fatal("the file is empty; it is not an archive");
    try {
        std::unique_ptr<RandomAccessFile> held = journal::OpenLocked(path, false);
        RandomAccessFile& f = *held;
        char magic[format::kMagic.size()] = {};
        size_t got = f.ReadAt(format::kMagicPosition, magic, sizeof magic);
        if (got >= 2 && magic[0] == 'P' && magic[1] == 'K')
            return fatal("a zip file; only QVR archives can be verified");
        if (!format::HasMagic(f))
            return fatal("not a QVR archive (it does not start with \"QVR1.0\")");
        auto problem = [&](const std::string& text) { report.Problems.push_back(text); };
        const int64_t length = f.Length();
        const int64_t directory = CheckHead(f, length, problem);
        if (directory == 0)
            return report;
        const std::vector<Record> records = ReadRecords(f, directory, length, problem);
        report.Entries = records.size();
        CheckEntries(f, records, directory, InfoNameOf(path, records), progress, report, problem);
    } catch (const std::exception& e) {
        return fatal(e.what());
    }
    return report;
}

} // namespace qvr
