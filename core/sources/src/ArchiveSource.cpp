// zip, 7z, rar and tar through libarchive's reading side. Entries are taken in archive order
// in one pass (a solid 7z can be read no other way), their names go through the project's
// path rules, and their bytes through its own writer: libarchive never writes to the disk.

#include "qvr/platform/Encoding.h"
#include "qvr/platform/detail/ArchiveError.h"
#include "qvr/sources/detail/ArchiveProblems.h"
#include "qvr/sources/detail/GzipStream.h"
#include "qvr/sources/detail/Members.h"
#include "qvr/sources/detail/Sources.h"
#include "qvr/sources/detail/WriteBehind.h"
#include "qvr/sources/detail/ZipMembers.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <clocale>
#include <cwchar>
#include <locale.h>
#include <unordered_map>

namespace qvr::sources::detail {
namespace {

// Members up to this size are decoded whole and written behind, on a thread of their own; so
// many bytes at most wait there. Small beside a 7z's dictionary, large beside a mod's typical
// file.
constexpr size_t kWrittenBehind = size_t{1} << 20;
// Larger members are decoded in pieces of this size, written on a thread of their own.
constexpr size_t kDecodedPiece = size_t{1} << 20;

struct ArchiveFree {
    void operator()(archive* a) const { archive_read_free(a); }
};

// libarchive's reader, and the gzip stream it reads from when the file is gzip.
class Reader {
public:
    Reader() = default;
    Reader(std::unique_ptr<GzipStream> gzip, archive* a) : m_gzip(std::move(gzip)), m_a(a) {}
    archive* get() const { return m_a.get(); }
    explicit operator bool() const { return m_a != nullptr; }
    GzipStream* Gzip() const { return m_gzip.get(); }

private:
    std::unique_ptr<GzipStream> m_gzip; // outlives the reader, which reads from it
    std::unique_ptr<archive, ArchiveFree> m_a;
};

la_ssize_t ReadGzip(archive* a, void* gzip, const void** data) {
    auto* stream = static_cast<GzipStream*>(gzip);
    const long n = stream->Next(data);
    if (n < 0)
        archive_set_error(a, -1, "%s", stream->Problem().c_str());
    return n;
}

// Decodes the entry's bytes and drops them. libarchive 3.6 skips a 7z member whose size is a
// multiple of 64 KiB so that the next member's read fails ("Truncated 7-Zip file body"): an
// install that leaves such a file out before its data would fail whole. A solid 7z must be
// decoded up to the next member anyway.
bool Discard(archive* a, std::vector<char>& scratch) {
    scratch.resize(size_t{1} << 16);
    la_ssize_t n;
    while ((n = archive_read_data(a, scratch.data(), scratch.size())) > 0) {
    }
    return n == 0;
}

// Hands each to the caller; answers whether to go on.
bool Report(const std::vector<Done>& finished, const DoneCallback& done) {
    for (const Done& d : finished)
        if (!done(d))
            return false;
    return true;
}

std::string Error(archive* a) {
    const char* text = archive_error_string(a);
    return text && *text ? text : "it cannot be read";
}

// The gzip stream's own words first: libarchive puts "Truncated tar archive" over them.
std::string Why(const Reader& reader) {
    if (reader.Gzip() && !reader.Gzip()->Problem().empty())
        return reader.Gzip()->Problem();
    return Error(reader.get());
}

// Marked as a folder, yet holding bytes: no one knows whether the file or the folder is meant.
const char* const kFolderWithData = "it is marked as a folder but holds data";

// A folder's name as both readers give it (libarchive adds the "/").
std::string WithoutEndSlash(std::string name) {
    while (name.size() > 1 && name.back() == '/')
        name.pop_back();
    return name;
}

// libarchive turns names into the character set of the thread's locale, and drops those that
// do not fit: under the "C" locale every name with an accent. This thread reads in UTF-8 while
// the object lives, whatever the process's locale.
class Utf8Names {
public:
    Utf8Names() : m_utf8(newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr))) {
        if (m_utf8)
            m_before = uselocale(m_utf8);
    }
    ~Utf8Names() {
        if (m_utf8) {
            uselocale(m_before);
            freelocale(m_utf8);
        }
    }
    Utf8Names(const Utf8Names&) = delete;
    Utf8Names& operator=(const Utf8Names&) = delete;

private:
    locale_t m_utf8;
    locale_t m_before = nullptr;
};

// The formats players' archives come in, and the compressions tar is found in; nothing that
// would start another program.
Reader NewReader(const std::string& path, Result& outcome) {
    std::unique_ptr<GzipStream> gzip;
    try {
        gzip = GzipStream::IfGzip(path);
    } catch (const std::exception& e) { // its buffers or zlib's
        outcome = Result::Unusable(path + ": " + e.what());
        return {};
    }
    Reader a(std::move(gzip), archive_read_new());
    if (!a) {
        outcome = Result::Unusable(path + ": out of memory");
        return {};
    }
    archive_read_support_format_zip_seekable(a.get());
    archive_read_support_format_7zip(a.get());
    archive_read_support_format_rar(a.get());
    archive_read_support_format_rar5(a.get());
    archive_read_support_format_tar(a.get());
    archive_read_support_filter_gzip(a.get());
    archive_read_support_filter_bzip2(a.get());
    archive_read_support_filter_xz(a.get());
    archive_read_support_filter_lzma(a.get());
    archive_read_support_filter_zstd(a.get());
    const int opened = a.Gzip() ? archive_read_open(a.get(), a.Gzip(), nullptr, ReadGzip, nullptr)
                                : archive_read_open_filename(a.get(), path.c_str(), 1 << 16);
    if (opened != ARCHIVE_OK) {
        outcome = Result::Unusable(path + ": " + UnopenedProblem(path, Why(a)));
        return {};
    }
    outcome = Result::Success();
    return a;
}

std::string Utf8FromWide(const wchar_t* w) {
    std::string out;
    for (; *w; ++w) {
        auto c = static_cast<uint32_t>(*w);
        if constexpr (sizeof(wchar_t) == 2) {
            if (c >= 0xD800 && c < 0xDC00 && w[1] >= 0xDC00 && w[1] < 0xE000)
                c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<uint32_t>(*++w) - 0xDC00);
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | c >> 6);
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | c >> 12);
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | c >> 18);
            out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// The entry's name as UTF-8 whatever the process's locale: the archive's own Unicode form when
// it has one, else its bytes (UTF-8 when they are; else a zip's code page 437, and Windows-1252
// as the game's tools wrote, for the rest).
std::string EntryName(archive_entry* e, bool zip) {
    std::string name;
    if (const char* utf8 = archive_entry_pathname_utf8(e))
        name = utf8;
    else if (const wchar_t* wide = archive_entry_pathname_w(e))
        name = Utf8FromWide(wide);
    else if (const char* bytes = archive_entry_pathname(e))
        name = bytes;
    if (IsValidUtf8(name))
        return name;
    return zip ? Cp437ToUtf8(name) : Cp1252ToUtf8(name);
}

std::string KindOf(const Reader& reader) {
    archive* a = reader.get();
    std::string kind;
    switch (archive_format(a) & ARCHIVE_FORMAT_BASE_MASK) {
    case ARCHIVE_FORMAT_ZIP:
        return "zip";
    case ARCHIVE_FORMAT_7ZIP:
        return "7z";
    case ARCHIVE_FORMAT_RAR:
        return "RAR4";
    case ARCHIVE_FORMAT_RAR_V5:
        return "RAR5";
    case ARCHIVE_FORMAT_TAR:
        kind = "tar";
        break;
    default:
        return "archive";
    }
    if (reader.Gzip())
        kind += ".gz";
    for (int k = archive_filter_count(a) - 1; k >= 0; --k)
        switch (archive_filter_code(a, k)) {
        case ARCHIVE_FILTER_GZIP:
            kind += ".gz";
            break;
        case ARCHIVE_FILTER_BZIP2:
            kind += ".bz2";
            break;
        case ARCHIVE_FILTER_XZ:
            kind += ".xz";
            break;
        case ARCHIVE_FILTER_LZMA:
            kind += ".lzma";
            break;
        case ARCHIVE_FILTER_ZSTD:
            kind += ".zst";
            break;
        default:
            break;
        }
    return kind;
}

// Why an entry that is no plain file is left out, or "".
std::string NotAFile(archive_entry* e) {
    if (archive_entry_hardlink(e))
        return "a hard link";
    switch (archive_entry_filetype(e)) {
    case AE_IFREG:
        break;
    case AE_IFLNK:
        return "a symbolic link";
    case AE_IFCHR:
    case AE_IFBLK:
        return "a device";
    default:
        return "not a plain file (a pipe or socket)";
    }
    if (!archive_entry_size_is_set(e) || archive_entry_size(e) < 0)
        return "its size is not recorded";
    if (archive_entry_size(e) > kMaxMemberSize)
        return "it is larger than 2 GiB";
    return {};
}

class ArchiveSource final : public Source {
public:
    ArchiveSource(std::string path, std::string name, bool readZipDirectly)
        : m_path(std::move(path)), m_name(std::move(name)), m_readZipDirectly(readZipDirectly) {}

    // Lists every entry, reading no data; fails on an encrypted or unreadable archive.
    Result List();
    // Lists a zip from its own directory when every record allows (no libarchive pass at all);
    // answers whether it did.
    bool ListZipDirectly();

    const std::string& Name() const override { return m_name; }
    const std::string& Kind() const override { return m_kind; }
    const std::vector<Member>& Members() const override { return m_list.Members; }
    const std::vector<Refusal>& Refused() const override { return m_list.Refused; }
    Result Extract(const std::vector<Job>& jobs, const DoneCallback& done) override;
    // Counted for every format libarchive reads, whether or not it is solid: it does not say.
    int64_t DecodedBefore(size_t member) const override {
        if (m_kind == "tar" || (m_kind == "zip" && m_readZipDirectly))
            return 0; // skipped by seeking, or read where they lie
        int64_t before = 0;
        for (size_t i = 0; i < member && i < m_list.Members.size(); ++i)
            before += std::max<int64_t>(m_list.Members[i].Size, 0);
        return before;
    }

private:
    Done Write(const Reader& reader, size_t member, const Job& job, size_t k, bool& fatal);
    // The member's bytes, whole: a failure says why, named.
    Result ReadWhole(const Reader& reader, size_t member, std::string& bytes, bool& fatal);
    Result ReadInOrder(const std::vector<Job>& jobs, JobPlan& plan, const DoneCallback& done);
    // Takes from plan the zip members that can be read straight, and writes them.
    Result ExtractDirectly(const std::vector<Job>& jobs, JobPlan& plan, const DoneCallback& done);
    Result Damaged(const Reader& reader) const {
        return Result::Unusable(m_path + ": " + ArchiveProblem(Why(reader)));
    }

    std::string m_path, m_name, m_kind = "archive";
    bool m_readZipDirectly;
    MemberList m_list;
    std::vector<size_t> m_ordinal; // each member's place among the archive's entries
    // Listed from the zip's directory: each member's bytes, and the zip's length then.
    std::vector<ZipData> m_zipData;
    std::optional<int64_t> m_zipLength;
};

bool ArchiveSource::ListZipDirectly() {
    std::optional<ZipListing> zip = detail::ListZipDirectly(m_path);
    if (!zip)
        return false;
    m_list.Expect(zip->Entries.size());
    for (size_t ordinal = 0; ordinal < zip->Entries.size(); ++ordinal) {
        ZipEntry& e = zip->Entries[ordinal];
        if (e.Folder && e.Size > 0)
            m_list.Refuse(WithoutEndSlash(e.Name), kFolderWithData);
        if (e.Folder)
            continue;
        if (m_list.Add(e.Name, Member{{}, e.Size, std::nullopt, e.Modified})) {
            m_ordinal.push_back(ordinal);
            m_zipData.push_back(e.Data);
        }
    }
    m_kind = "zip";
    m_zipLength = zip->Length;
    const std::vector<size_t> kept = m_list.Listed();
    KeepOnly(m_ordinal, kept);
    KeepOnly(m_zipData, kept);
    return true;
}

Result ArchiveSource::List() {
    if (m_readZipDirectly && ListZipDirectly())
        return Result::Success();
    Utf8Names utf8;
    Result outcome;
    Reader a = NewReader(m_path, outcome);
    if (!a)
        return outcome;
    archive_entry* e = nullptr;
    int r;
    for (size_t ordinal = 0;
         (r = archive_read_next_header(a.get(), &e)) == ARCHIVE_OK || r == ARCHIVE_WARN;
         ++ordinal) {
        if (archive_entry_is_encrypted(e))
            return Result::Unusable(m_path + ": " + kEncrypted);
        const bool folder = archive_entry_filetype(e) == AE_IFDIR && !archive_entry_hardlink(e);
        if (folder && archive_entry_size(e) <= 0)
            continue;
        const std::string raw = EntryName(e, (archive_format(a.get()) & ARCHIVE_FORMAT_BASE_MASK) ==
                                                 ARCHIVE_FORMAT_ZIP);
        if (raw.empty()) { // not the encoding it claims: no text of it can be shown
            m_list.Refuse("(member " + std::to_string(ordinal + 1) + ")",
                          "its name cannot be read as text");
            continue;
        }
        if (const std::string why = folder ? kFolderWithData : NotAFile(e); !why.empty()) {
            m_list.Refuse(folder ? WithoutEndSlash(raw) : raw, why);
            continue;
        }
        Member m{{}, archive_entry_size(e), std::nullopt, std::nullopt};
        if (archive_entry_mtime_is_set(e))
            m.Modified = archive_entry_mtime(e);
        if (m_list.Add(raw, std::move(m)))
            m_ordinal.push_back(ordinal);
    }
    m_kind = KindOf(a); // an empty archive has no entry to say it
    KeepOnly(m_ordinal, m_list.Listed());
    if (r != ARCHIVE_EOF)
        return Damaged(a);
    // The last gzip member's check lies past the tar's end, where libarchive stops reading.
    if (a.Gzip() && !a.Gzip()->Finish())
        return Result::Unusable(m_path + ": " + ArchiveProblem(a.Gzip()->Problem()));
    return Result::Success();
}

Done ArchiveSource::Write(const Reader& reader, size_t member, const Job& job, size_t k,
                          bool& fatal) {
    archive* a = reader.get();
    const Member& m = m_list.Members[member];
    Done done{k, {}, 0, 0};
    try {
        NewFile out(job.Destination);
        PiecesBehind behind(out, kDecodedPiece);
        int64_t got = 0;
        for (;;) {
            char* piece = behind.Next();
            const la_ssize_t n = archive_read_data(a, piece, kDecodedPiece);
            if (n < 0) {
                fatal = n == ARCHIVE_FATAL;
                throw ArchiveError(Why(reader));
            }
            if (n == 0)
                break;
            if (got + n > m.Size)
                throw ArchiveError("it holds more than the " + std::to_string(m.Size) +
                                   " bytes its header gives");
            got += n;
            behind.Put(static_cast<size_t>(n));
        }
        behind.Finish();
        if (got != m.Size)
            throw ArchiveError("it holds " + std::to_string(got) + " bytes, not the " +
                               std::to_string(m.Size) + " its header gives");
        out.Keep(job.Modified);
        done.Crc = out.Crc();
        done.Size = out.Size();
    } catch (const std::exception& x) {
        done.Outcome = Result::EntryFailure(m.Path + ": " + x.what());
    }
    return done;
}

Result ArchiveSource::ReadWhole(const Reader& reader, size_t member, std::string& bytes,
                                bool& fatal) {
    archive* a = reader.get();
    const Member& m = m_list.Members[member];
    // One byte more than the header gives, to find a member that holds more.
    bytes.resize(static_cast<size_t>(m.Size) + 1);
    size_t got = 0;
    for (;;) {
        const la_ssize_t n = archive_read_data(a, bytes.data() + got, bytes.size() - got);
        if (n < 0) {
            fatal = n == ARCHIVE_FATAL;
            return Result::EntryFailure(m.Path + ": " + Why(reader));
        }
        if (n == 0)
            break;
        got += static_cast<size_t>(n);
        if (got > static_cast<size_t>(m.Size))
            return Result::EntryFailure(m.Path + ": it holds more than the " +
                                        std::to_string(m.Size) + " bytes its header gives");
    }
    if (got != static_cast<size_t>(m.Size))
        return Result::EntryFailure(m.Path + ": it holds " + std::to_string(got) +
                                    " bytes, not the " + std::to_string(m.Size) +
                                    " its header gives");
    bytes.resize(got);
    return Result::Success();
}

Result ArchiveSource::ExtractDirectly(const std::vector<Job>& jobs, JobPlan& plan,
                                      const DoneCallback& done) {
    if (!m_readZipDirectly || m_kind != "zip" || plan.ByMember.empty())
        return Result::Success();
    const std::vector<std::optional<ZipData>> data =
        m_zipLength ? std::vector<std::optional<ZipData>>(m_zipData.begin(), m_zipData.end())
                    : FindZipData(m_path, m_list.Members);
    std::vector<ZipTask> tasks;
    for (auto it = plan.ByMember.begin(); it != plan.ByMember.end();) {
        if (!data[it->first]) {
            ++it;
            continue;
        }
        tasks.push_back({it->second, *data[it->first]});
        it = plan.ByMember.erase(it);
    }
    // In the caller's order: it chose it.
    std::sort(tasks.begin(), tasks.end(),
              [](const ZipTask& a, const ZipTask& b) { return a.Job < b.Job; });
    return ExtractZipData(m_path, jobs, tasks, m_list.Members, done, m_zipLength);
}

Result ArchiveSource::Extract(const std::vector<Job>& jobs, const DoneCallback& done) {
    JobPlan plan = PlanJobs(jobs, m_list.Members.size());
    for (const Done& d : plan.Refused)
        if (!done(d))
            return ExtractionStopped();
    if (Result direct = ExtractDirectly(jobs, plan, done); !direct)
        return direct;
    return ReadInOrder(jobs, plan, done);
}

Result ArchiveSource::ReadInOrder(const std::vector<Job>& jobs, JobPlan& plan,
                                  const DoneCallback& done) {
    if (plan.ByMember.empty())
        return Result::Success();
    // entry -> member + 1 (0 for an entry not asked for) and member -> job, in plain vectors
    // rather than a hash map: an archive of many small files leaves the decoder less memory
    // than it would like.
    std::vector<size_t> byOrdinal, jobOf(m_list.Members.size());
    size_t left = 0;
    for (const auto& [member, job] : plan.ByMember) {
        if (m_ordinal[member] >= byOrdinal.size())
            byOrdinal.resize(m_ordinal[member] + 1);
        byOrdinal[m_ordinal[member]] = member + 1;
        jobOf[member] = job;
        ++left;
    }
    plan.ByMember = {};
    Utf8Names utf8;
    Result outcome;
    Reader a = NewReader(m_path, outcome);
    if (!a)
        return outcome;
    archive_entry* e = nullptr;
    WriteBehind behind(kWrittenBehind);
    std::vector<char> scratch; // for the members read only to get past them
    // What was written is reported before any failure of the archive's.
    const auto failed = [&](Result r) {
        return Report(behind.Drain(), done) ? r : ExtractionStopped();
    };
    for (size_t ordinal = 0; left > 0; ++ordinal) {
        const int r = archive_read_next_header(a.get(), &e);
        if (r == ARCHIVE_EOF)
            return failed(
                Result::Unusable(m_path + ": was changed since it was opened (it ends early)"));
        if (r != ARCHIVE_OK && r != ARCHIVE_WARN)
            return failed(Damaged(a));
        if (ordinal >= byOrdinal.size() || byOrdinal[ordinal] == 0) {
            if (m_kind == "7z" && !Discard(a.get(), scratch))
                return failed(Damaged(a));
            continue;
        }
        const size_t member = byOrdinal[ordinal] - 1;
        --left;
        std::string why;
        if (NormalMemberPath(EntryName(e, m_kind == "zip"), why) != m_list.Members[member].Path ||
            NotAFile(e) != "" || archive_entry_size(e) != m_list.Members[member].Size)
            return failed(Result::Unusable(m_path + ": was changed since it was opened"));
        bool fatal = false;
        const size_t k = jobOf[member];
        const Member& m = m_list.Members[member];
        if (m.Size >= 0 && static_cast<size_t>(m.Size) <= kWrittenBehind) {
            std::string bytes;
            if (Result read = ReadWhole(a, member, bytes, fatal); !read) {
                if (!Report(behind.Drain(), done) || !done(Done{k, read, 0, 0}))
                    return ExtractionStopped();
            } else {
                behind.Put(k, jobs[k], m.Path, std::move(bytes));
            }
        } else if (!Report(behind.Drain(), done) || !done(Write(a, member, jobs[k], k, fatal))) {
            return ExtractionStopped();
        }
        if (fatal)
            return failed(Damaged(a));
        if (!Report(behind.Take(), done))
            return ExtractionStopped();
    }
    // Listing made the gzip check; a read up to the last member has little more to decode to
    // make it again, for a file changed since. A read-me alone is not worth the rest.
    const bool last = byOrdinal.size() == m_ordinal.back() + 1;
    if (last && a.Gzip() && !a.Gzip()->Finish())
        return failed(Result::Unusable(m_path + ": " + ArchiveProblem(a.Gzip()->Problem())));
    return Report(behind.Drain(), done) ? Result::Success() : ExtractionStopped();
}

} // namespace

Opened OpenOther(const std::string& path, const std::string& name, bool readZipDirectly) {
    auto source = std::make_unique<ArchiveSource>(path, name, readZipDirectly);
    Result listed = source->List();
    if (!listed)
        return {nullptr, listed};
    return {std::move(source), Result::Success()};
}

} // namespace qvr::sources::detail

namespace qvr::sources {
bool ReadsOtherArchives() {
    return true;
}
} // namespace qvr::sources
