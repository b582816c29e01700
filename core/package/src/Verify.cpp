#include "qvr/package/Verify.h"

#include "qvr/format/detail/Format.h"
#include "qvr/format/detail/WholeMember.h"
#include "qvr/package/detail/Journal.h"
#include "qvr/platform/detail/platform.h"

#include "qvr/format/PathRules.h"
#include "qvr/platform/ArchiveError.h"
#include "qvr/platform/Encoding.h"
#include "qvr/platform/FileUtils.h"
#include "qvr/platform/OrderedPool.h"
#include "qvr/platform/RandomAccessFile.h"

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
    std::string Name, Path, Date, SizeText, ArchiveDate; // as stored (Windows-1252)
    int64_t Size = 0;
    bool SizeValid = false;
};

// The directory read in one piece when it is of a size to hold, so that its records cost no
// read each; else read from the file where asked.
class DirectoryReader {
public:
    DirectoryReader(RandomAccessFile& f, int64_t directory, int64_t length) : m_file(f) {
        const int64_t size = length + 1 - directory;
        if (size > 0 && size <= format::kMaxDirectory) {
            m_bytes.resize(static_cast<size_t>(size));
            m_bytes.resize(f.ReadAt(directory, m_bytes.data(), m_bytes.size()));
            m_start = directory;
        }
    }

    size_t ReadAt(int64_t pos, void* buf, size_t n) {
        if (m_start < 1 || pos < m_start)
            return m_file.ReadAt(pos, buf, n);
        const auto at = static_cast<size_t>(pos - m_start);
        if (at >= m_bytes.size())
            return 0;
        n = std::min(n, m_bytes.size() - at);
        std::copy_n(m_bytes.data() + at, n, static_cast<char*>(buf));
        return n;
    }

private:
    RandomAccessFile& m_file;
    std::string m_bytes;
    int64_t m_start = 0; // position of m_bytes[0]; 0 when not held
};

template <class Source> int32_t ReadInt(Source& f, int64_t pos) {
    unsigned char b[4] = {0, 0, 0, 0};
    f.ReadAt(pos, b, 4);
    return format::GetLong(b);
}

// A NUL-terminated text in the 255-byte window at pos, as readers see it; false when the
// window holds no NUL (a reader would then lose its place).
bool ReadText(DirectoryReader& f, int64_t& pos, std::string& text) {
    char window[format::kTextWindow];
    size_t got = f.ReadAt(pos, window, sizeof window);
    std::fill(window + got, window + sizeof window, '\0');
    const char* end = std::find(window, window + sizeof window, '\0');
    if (end == window + sizeof window)
        return false;
    text.assign(static_cast<const char*>(window), end);
    pos += (end - window) + 1;
    return true;
}

std::string Shown(const Record& r) {
    std::string name = Cp1252ToUtf8(r.Name);
    std::string path = Cp1252ToUtf8(r.Path);
    return path.empty() ? name : path + "\\" + name;
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
                                 static_cast<size_t>(std::min<int64_t>(expected, 1 << 24)));
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
        if (keep && keep->size() < (1u << 24))
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
    if (FileLength(path) < 0)
        return fatal("no such file, or it cannot be read");
    if (FileLength(path) == 0)
        return fatal("the file is empty; it is not an archive");
    try {
        std::unique_ptr<RandomAccessFile> held = journal::OpenLocked(path, false);
        RandomAccessFile& f = *held;
        const int64_t length = f.Length();
        char magic[format::kMagic.size()] = {};
        size_t got = f.ReadAt(format::kMagicPosition, magic, sizeof magic);
        if (got >= 2 && magic[0] == 'P' && magic[1] == 'K')
            return fatal("a zip file; only QVR archives can be verified");
        if (!format::HasMagic(f))
            return fatal("not a QVR archive (it does not start with \"QVR1.0\")");
        auto problem = [&](const std::string& text) { report.Problems.push_back(text); };
        if (length < format::kHeadLength) {
            problem("the file ends inside its 10-byte header");
            return report;
        }
        const int64_t directory = ReadInt(f, format::kDirectoryPositionAt);
        if (directory == 0) {
            if (length != format::kHeadLength)
                problem("the header says the archive holds no entries, but " +
                        std::to_string(length - format::kHeadLength) + " bytes follow it");
            return report;
        }
        if (directory < format::kFirstBlock || directory > length) {
            problem("the directory position " + std::to_string(directory) +
                    " lies outside the file (" + std::to_string(length) + " bytes)");
            return report;
        }
        if (length > format::kMaxArchive)
            problem("the file is 2 GiB or larger; readers cannot address all of it");

        std::vector<Record> records;
        DirectoryReader dir(f, directory, length);
        int64_t pos = directory;
        while (pos <= length) {
            Record r;
            r.Position = pos;
            r.Offset = ReadInt(dir, pos);
            r.Compressed = ReadInt(dir, pos + 4);
            pos += 8;
            std::string* texts[] = {&r.Name, &r.Path, &r.Date, &r.SizeText, &r.ArchiveDate};
            const char* labels[] = {"file name", "folder", "date", "size", "archive date"};
            bool whole = true;
            for (int k = 0; k < 5 && whole; ++k) {
                if (!ReadText(dir, pos, *texts[k])) {
                    problem("directory record " + std::to_string(records.size() + 1) +
                            " at position " + std::to_string(r.Position) + ": its " + labels[k] +
                            " has no end within 255 bytes; the rest of the directory is lost");
                    whole = false;
                }
            }
            if (!whole)
                break;
            if (pos > length + 1) {
                problem("directory record " + std::to_string(records.size() + 1) +
                        " runs past the end of the file");
                break;
            }
            r.SizeValid = ParseSize(r.SizeText, r.Size);
            if (r.Name.empty() || r.Offset == 0) {
                problem("directory record " + std::to_string(records.size() + 1) +
                        " has an empty name or no position; readers stop there");
                break;
            }
            records.push_back(std::move(r));
        }
        report.Entries = records.size();

        // A package renamed after packing keeps its one entry named "*.qvr.ifo" as its info.
        std::string infoName = LowerText(ArchiveFileName(path) + ".ifo");
        {
            std::vector<std::string> renamed;
            bool own = false;
            for (const Record& r : records) {
                const std::string name = Lower(r.Name);
                if (!r.Path.empty())
                    continue;
                own = own || name == infoName;
                if (name.size() > 8 && name.ends_with(".qvr.ifo"))
                    renamed.push_back(name);
            }
            if (!own && renamed.size() == 1)
                infoName = renamed.front();
        }
        std::map<std::string, int> seen;
        int infoEntries = 0;
        int64_t expectedOffset = format::kFirstBlock;
        auto inside = [&](const Record& r) {
            return r.Offset >= format::kFirstBlock && r.Compressed >= 0 &&
                   int64_t{r.Offset} + r.Compressed <= directory;
        };
        auto isInfo = [&](const Record& r) { return r.Path.empty() && Lower(r.Name) == infoName; };
        // Blocks are inflated on the cores a little ahead of the entry at hand; what is said
        // of each entry is then said in archive order, as one thread would say it.
        constexpr size_t kAhead = 256;
        OrderedPool<Checked> ahead(
            records.size(), VerifyThreads(), {.Window = kAhead}, [&](size_t j) {
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
        for (size_t k = 0; k < records.size(); ++k) {
            const Record& r = records[k];
            const Checked checked = ahead.Take(k);
            if (progress && !progress(k, records.size(), Cp1252ToUtf8(r.Name))) {
                problem("the check was stopped before entry " + Shown(r));
                break;
            }
            const std::string who = "entry " + Shown(r) + ": ";
            if (!r.SizeValid)
                problem(who + "its size \"" + Cp1252ToUtf8(r.SizeText) + "\" is not a number");
            else if (r.Size < 0)
                problem(who + "its size is negative");
            else
                report.UncompressedBytes += r.Size;
            std::string why;
            if (!IsSafeEntryPath(Cp1252ToUtf8(r.Path), Cp1252ToUtf8(r.Name), &why))
                problem(who + "would land outside the data folder" +
                        (why.empty() ? "" : " (" + why + ")"));
            if (++seen[Lower(r.Path) + "\\" + Lower(r.Name)] == 2)
                problem(who + "appears more than once");
            if (r.Offset != expectedOffset)
                problem(who + "its block starts at position " + std::to_string(r.Offset) +
                        " instead of " + std::to_string(expectedOffset) +
                        " (blocks must follow one another)");
            if (!inside(r)) {
                problem(who + "its block does not lie between the header and the directory");
            } else {
                if (checked.Failed)
                    std::rethrow_exception(checked.Failed);
                const std::string& info = checked.Info;
                if (!checked.Bad.empty())
                    problem(who + checked.Bad);
                else if (isInfo(r) && std::count(info.begin(), info.end(), '\0') < 6)
                    problem(who + "the plug-in information is cut short");
            }
            if (r.Path.empty() && Lower(r.Name) == infoName)
                ++infoEntries;
            expectedOffset = int64_t{r.Offset} + std::max(0, r.Compressed);
        }
        if (!records.empty() && expectedOffset != directory)
            problem("the blocks end at position " + std::to_string(expectedOffset) +
                    " but the directory starts at " + std::to_string(directory));
        if (infoEntries == 0)
            problem("no plug-in information entry " + ArchiveFileName(path) +
                    ".ifo (was the archive renamed after packing?)");
    } catch (const std::exception& e) {
        return fatal(e.what());
    }
    return report;
}

} // namespace qvr
