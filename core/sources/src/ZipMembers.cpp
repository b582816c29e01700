#include "qvr/sources/detail/ZipMembers.h"

#include "qvr/format/detail/WholeMember.h"
#include "qvr/package/detail/ZipDirectory.h"
#include "qvr/platform/Encoding.h"
#include "qvr/platform/FileUtils.h"
#include "qvr/platform/FolderLock.h"
#include "qvr/platform/detail/ArchiveError.h"
#include "qvr/platform/detail/RandomAccessFile.h"
#include "qvr/platform/detail/platform.h"
#include "qvr/sources/detail/Members.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <set>
#include <unordered_map>
#include <zlib.h>

namespace qvr::sources::detail {
namespace {

using qvr::detail::ZipRecord;

// Deflate cannot give more than 1032 bytes for each byte it reads (258 bytes from two bits).
constexpr uint64_t kMostDeflated = 1032;
// Members up to this size are read and inflated whole; larger ones in pieces of kPiece.
constexpr uint64_t kWhole = qvr::detail::kWholeMemberLimit;
constexpr size_t kPiece = 256 * 1024;
// What may be written ahead of the caller and not yet reported: deleted again on a stop.
constexpr int64_t kAheadBytes = 32 << 20;

// The name as the listing decodes and lists it: UTF-8 when the bytes are, else code page 437.
std::string Listed(const std::string& raw) {
    std::string why;
    return NormalMemberPath(IsValidUtf8(raw) ? raw : Cp437ToUtf8(raw), why);
}

// Whether the record can be read here: plain or deflated, not encrypted, its local header saying
// the same, and no other name for it.
bool Plain(const ZipRecord& r) {
    const uint16_t encrypted = 0x0001 | 0x0040;
    return r.HasLocal && r.LocalName == r.Name && r.OtherNames.empty() && !(r.Flags & encrypted) &&
           !(r.LocalFlags & encrypted) && r.Method == r.LocalMethod &&
           (r.Method == 0 || r.Method == 8);
}

// Every name the record could be listed under; listed: Listed(r.Name), worked out already.
std::set<std::string> NamesOf(const ZipRecord& r, const std::string& listed) {
    std::set<std::string> names{listed};
    if (r.LocalName != r.Name) // as it nearly always is
        names.insert(Listed(r.LocalName));
    for (const std::string& other : r.OtherNames) {
        std::string why;
        names.insert(NormalMemberPath(other, why));
        names.insert(Listed(other));
    }
    return names;
}

// The local header's date and time read as libarchive reads them: as local time.
int64_t LocalTime(uint32_t dos) {
    const uint32_t time = dos & 0xFFFF, date = dos >> 16;
    std::tm t{};
    t.tm_year = static_cast<int>((date >> 9) & 0x7F) + 80;
    t.tm_mon = static_cast<int>((date >> 5) & 0x0F) - 1;
    t.tm_mday = static_cast<int>(date & 0x1F);
    t.tm_hour = static_cast<int>((time >> 11) & 0x1F);
    t.tm_min = static_cast<int>((time >> 5) & 0x3F);
    t.tm_sec = static_cast<int>((time << 1) & 0x3E);
    t.tm_isdst = -1;
    return static_cast<int64_t>(std::mktime(&t));
}

// Whether the record is a folder as libarchive reads its name and attributes; none for a link,
// a device, or a name libarchive may read otherwise (one ending in a backslash).
std::optional<bool> IsFolder(const ZipRecord& r, const std::string& name) {
    if (name.ends_with('\\'))
        return std::nullopt;
    bool folder = name.ends_with('/');
    switch (r.MadeBy >> 8) {
    case 0: // MS-DOS: the directory bit
        folder = folder || (r.Attributes & 0x10);
        break;
    case 3: { // Unix: the mode in the high half
        const uint32_t type = (r.Attributes >> 16) & 0170000;
        if (type == 0040000)
            folder = true;
        else if (type != 0 && type != 0100000)
            return std::nullopt;
        break;
    }
    default:
        break;
    }
    return folder;
}

// The entry libarchive would list for the record, when it is one read here.
std::optional<ZipEntry> EntryOf(ZipRecord& r) {
    if (!Plain(r) || r.OddExtra || r.Size > static_cast<uint64_t>(kMaxMemberSize))
        return std::nullopt;
    const bool utf8 = IsValidUtf8(r.Name);
    if ((r.Flags & 0x0800) && !utf8)
        return std::nullopt;
    ZipEntry e;
    e.Name = utf8 ? std::move(r.Name) : Cp437ToUtf8(r.Name);
    const std::optional<bool> folder = IsFolder(r, e.Name);
    if (!folder)
        return std::nullopt;
    e.Folder = *folder;
    e.Size = static_cast<int64_t>(r.Size);
    e.Modified = r.LocalUnixTime ? int64_t{*r.LocalUnixTime} : LocalTime(r.LocalDosTime);
    e.Data = ZipData{r.Data, r.Compressed, r.Method == 8, r.Crc};
    return e;
}

// One member's bytes into its new file.
class MemberWriter {
public:
    MemberWriter(RandomAccessFile& zip, int64_t zipLength, const Job& job, const Member& member,
                 const ZipData& data)
        : m_zip(zip), m_zipLength(zipLength), m_job(job), m_size(member.Size), m_data(data) {}
    ~MemberWriter() {
        if (!m_created)
            return;
        m_out.reset();
        DeleteFileQuiet(m_job.Destination);
    }
    MemberWriter(const MemberWriter&) = delete;
    MemberWriter& operator=(const MemberWriter&) = delete;

    // Throws ArchiveError; a failure leaves no file behind.
    uint32_t Write() {
        CheckSizes();
        // Stored bytes well beyond what deflate makes of the size are read in pieces too.
        if (static_cast<uint64_t>(m_size) <= kWhole && m_data.Stored <= kWhole + kWhole / 8 + 4096)
            return WriteWhole();
        return WriteInPieces();
    }

private:
    void CheckSizes() const {
        const auto size = static_cast<uint64_t>(m_size);
        const uint64_t most = m_data.Deflated ? m_data.Stored * kMostDeflated : m_data.Stored;
        if (m_data.Deflated ? size > most : size != most)
            throw ArchiveError("it claims " + std::to_string(size) + " bytes, which its " +
                               std::to_string(m_data.Stored) + " stored bytes cannot hold");
        if (m_data.Offset > static_cast<uint64_t>(m_zipLength) ||
            m_data.Stored > static_cast<uint64_t>(m_zipLength) - m_data.Offset)
            throw ArchiveError("its data runs past the end of the archive");
    }

    void Read(uint64_t offset, unsigned char* into, size_t n) {
        if (m_zip.ReadAt(static_cast<int64_t>(offset) + 1, into, n) != n)
            throw ArchiveError("its data runs past the end of the archive");
    }

    void CheckCrc(uint32_t crc) const {
        if (crc != m_data.Crc)
            throw ArchiveError("its bytes fail their CRC check: the archive is damaged");
    }

    uint32_t WriteWhole() {
        const auto size = static_cast<size_t>(m_size);
        const auto stored = static_cast<size_t>(m_data.Stored);
        unsigned char* out = qvr::detail::ThreadBuffer(1, std::max<size_t>(size, 1));
        if (m_data.Deflated) {
            unsigned char* in = qvr::detail::ThreadBuffer(0, std::max<size_t>(stored, 1));
            Read(m_data.Offset, in, stored);
            if (qvr::detail::InflateRawWhole(in, stored, out, size) != Z_OK)
                throw ArchiveError("it is damaged or does not hold the " + std::to_string(size) +
                                   " bytes its header gives");
        } else {
            Read(m_data.Offset, out, size);
        }
        const uint32_t crc = qvr::detail::Crc32(0, out, size);
        CheckCrc(crc);
        Create();
        Put(out, size);
        Finish();
        return crc;
    }

    uint32_t WriteInPieces() {
        m_whole = false;
        z_stream z{};
        if (m_data.Deflated && inflateInit2(&z, -15) != Z_OK)
            throw ArchiveError("cannot start decompression");
        const std::unique_ptr<z_stream, int (*)(z_stream*)> ending(m_data.Deflated ? &z : nullptr,
                                                                   inflateEnd);
        std::vector<unsigned char> in(kPiece), out(kPiece);
        Create();
        uint64_t at = m_data.Offset, left = m_data.Stored;
        for (bool end = false; !end;) {
            if (z.avail_in == 0 && left > 0) {
                const auto n = static_cast<size_t>(std::min<uint64_t>(left, kPiece));
                Read(at, in.data(), n);
                at += n;
                left -= n;
                z.next_in = in.data();
                z.avail_in = static_cast<uInt>(n);
            }
            if (!m_data.Deflated) {
                Put(z.next_in, z.avail_in);
                z.avail_in = 0;
                end = left == 0;
                continue;
            }
            z.next_out = out.data();
            z.avail_out = static_cast<uInt>(out.size());
            const int rc = inflate(&z, Z_NO_FLUSH);
            if (rc != Z_OK && rc != Z_STREAM_END)
                throw ArchiveError(z.avail_in == 0 && left == 0 ? "its data ends early"
                                                                : "it is damaged");
            Put(out.data(), out.size() - z.avail_out);
            end = rc == Z_STREAM_END;
        }
        if (m_written != m_size)
            throw ArchiveError("it holds " + std::to_string(m_written) + " bytes, not the " +
                               std::to_string(m_size) + " its header gives");
        CheckCrc(m_crc);
        Finish();
        return m_crc;
    }

    void Create() {
        try {
            m_out = std::make_unique<RandomAccessFile>(m_job.Destination,
                                                       RandomAccessFile::Mode::CreateNew);
        } catch (const ArchiveError&) {
            std::error_code ec;
            if (std::filesystem::exists(
                    std::filesystem::symlink_status(platform::ToNative(m_job.Destination), ec)))
                throw ArchiveError(m_job.Destination + " exists already");
            throw;
        }
        m_created = true;
    }

    void Put(const unsigned char* data, size_t n) {
        if (n == 0)
            return;
        if (m_written + static_cast<int64_t>(n) > m_size)
            throw ArchiveError("it holds more than the " + std::to_string(m_size) +
                               " bytes its header gives");
        m_out->WriteAt(m_written + 1, data, n);
        if (!m_whole)
            m_crc = qvr::detail::Crc32(m_crc, data, n);
        m_written += static_cast<int64_t>(n);
    }

    void Finish() {
        if (m_job.Modified)
            m_out->SetModified(*m_job.Modified);
        if (m_job.InPlace && FlushesEachFile())
            m_out->Sync();
        m_out->Close();
        m_out.reset();
        m_created = false;
    }

    RandomAccessFile& m_zip;
    int64_t m_zipLength;
    const Job& m_job;
    int64_t m_size;
    ZipData m_data;
    std::unique_ptr<RandomAccessFile> m_out;
    bool m_created = false;
    bool m_whole = true;
    int64_t m_written = 0;
    uint32_t m_crc = 0;
};

} // namespace

std::optional<ZipListing> ListZipDirectly(const std::string& path) {
    ZipListing listing;
    std::optional<std::vector<ZipRecord>> records;
    try {
        RandomAccessFile file(path, RandomAccessFile::Mode::Read);
        listing.Length = file.Length();
        records = qvr::detail::ReadZipRecords(file);
    } catch (const std::exception&) {
        return std::nullopt; // libarchive tells what is wrong
    }
    if (!records)
        return std::nullopt;
    if (records->empty())
        return listing; // an empty zip, which libarchive cannot tell from no zip at all
    // Listed in the order the members stand in the file, as libarchive lists them.
    std::vector<ZipRecord*> byPlace;
    byPlace.reserve(records->size());
    for (ZipRecord& r : *records)
        byPlace.push_back(&r);
    std::sort(byPlace.begin(), byPlace.end(),
              [](const ZipRecord* a, const ZipRecord* b) { return a->Local < b->Local; });
    // Data in front of the zip, or two records of one local header: libarchive's to sort out.
    if (byPlace.front()->Local != 0)
        return std::nullopt;
    listing.Entries.reserve(byPlace.size());
    for (size_t k = 0; k < byPlace.size(); ++k) {
        if (k > 0 && byPlace[k]->Local == byPlace[k - 1]->Local)
            return std::nullopt;
        std::optional<ZipEntry> e = EntryOf(*byPlace[k]);
        if (!e)
            return std::nullopt;
        listing.Entries.push_back(std::move(*e));
    }
    return listing;
}

std::vector<std::optional<ZipData>> FindZipData(const std::string& path,
                                                const std::vector<Member>& members) {
    std::vector<std::optional<ZipData>> found(members.size());
    std::optional<std::vector<ZipRecord>> records;
    try {
        RandomAccessFile file(path, RandomAccessFile::Mode::Read);
        records = qvr::detail::ReadZipRecords(file);
    } catch (const std::exception&) {
        return found; // libarchive tells what is wrong
    }
    if (!records)
        return found;
    // A name that more than one record could be listed under is left to libarchive, which
    // knows which of them it listed.
    std::unordered_map<std::string, size_t> uses, byName;
    uses.reserve(records->size());
    byName.reserve(records->size());
    for (size_t k = 0; k < records->size(); ++k) {
        const ZipRecord& r = (*records)[k];
        std::string listed = Listed(r.Name);
        for (const std::string& name : NamesOf(r, listed))
            ++uses[name];
        if (Plain(r))
            byName.emplace(std::move(listed), k);
    }
    for (size_t m = 0; m < members.size(); ++m) {
        const auto it = byName.find(members[m].Path);
        if (it == byName.end() || uses[members[m].Path] != 1)
            continue;
        const ZipRecord& r = (*records)[it->second];
        if (r.Size != static_cast<uint64_t>(members[m].Size))
            continue;
        found[m] = ZipData{r.Data, r.Compressed, r.Method == 8, r.Crc};
    }
    return found;
}

Result ExtractZipData(const std::string& path, const std::vector<Job>& jobs,
                      const std::vector<ZipTask>& tasks, const std::vector<Member>& members,
                      const DoneCallback& done, std::optional<int64_t> listedLength) {
    if (tasks.empty())
        return Result::Success();
    std::unique_ptr<RandomAccessFile> zip;
    try {
        zip = std::make_unique<RandomAccessFile>(path, RandomAccessFile::Mode::Read);
    } catch (const std::exception& x) {
        return Result::Unusable(x.what());
    }
    const int64_t length = zip->Length();
    if (listedLength && *listedLength != length)
        return Result::Unusable(path + ": was changed since it was opened");
    FolderMaker folders;
    auto work = [&](size_t k) {
        const ZipTask& task = tasks[k];
        const Job& job = jobs[task.Job];
        const Member& member = members[job.Member];
        Done d{task.Job, {}, 0, member.Size};
        try {
            folders.MakeFor(job.Destination);
            d.Crc = MemberWriter(*zip, length, job, member, task.Data).Write();
        } catch (const std::exception& x) {
            d.Outcome = Result::EntryFailure(member.Path + ": " + x.what());
            d.Size = 0;
        }
        return d;
    };
    // Each worker holds one member's bytes twice over.
    const unsigned threads = ExtractionThreads();
    if (!RunInBatches(
            tasks.size(), threads,
            {.Window = 2 * size_t{threads} + 2,
             .MaxWeight = kAheadBytes,
             .Weight = [&](size_t k) { return members[jobs[tasks[k].Job].Member].Size; },
             .Folder =
                 [&](size_t k) { return platform::FolderPart(jobs[tasks[k].Job].Destination); }},
            work, done, [&](const Done& d) { return jobs[d.Job].Destination; }))
        return ExtractionStopped();
    return Result::Success();
}

} // namespace qvr::sources::detail
