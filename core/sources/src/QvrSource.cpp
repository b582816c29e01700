// A QVR package as a source: its entries without the information entry, inflated a few at a
// time on worker threads while the caller hears of them in archive order.

#include "qvr/sources/detail/Sources.h"

#include "qvr/format/PathRules.h"
#include "qvr/format/detail/BlockIO.h"
#include "qvr/format/detail/Format.h"
#include "qvr/package/Archives.h"
#include "qvr/package/detail/Internal.h"
#include "qvr/platform/FileUtils.h"
#include "qvr/platform/FolderLock.h"
#include "qvr/platform/detail/platform.h"
#include "qvr/sources/detail/Members.h"

#include <algorithm>
#include <filesystem>
#include <functional>
#include <optional>
#include <utility>

namespace qvr::sources::detail {
namespace {

// "3/7/2003 14:5:9", the form entries record their file's time in (UTC), as seconds since
// 1970; nothing when the text is not such a date.
std::optional<int64_t> EntrySeconds(const std::string& text) {
    int n[6] = {};
    int k = 0;
    bool digit = false;
    for (char c : text) {
        if (c >= '0' && c <= '9') {
            if (!digit && ++k > 6)
                return std::nullopt;
            n[k - 1] = std::min(n[k - 1] * 10 + (c - '0'), 100000);
            digit = true;
        } else if (c == '/' || c == ' ' || c == ':') {
            digit = false;
        } else {
            return std::nullopt;
        }
    }
    const int month = n[0], day = n[1], year = n[2];
    if (k != 6 || month < 1 || month > 12 || day < 1 || day > 31 || year < 1970 || n[3] > 23 ||
        n[4] > 59 || n[5] > 60)
        return std::nullopt;
    // Days from 1970-01-01 to the date (the civil-calendar count, valid for every Gregorian year).
    const int y = year - (month <= 2);
    const int era = y / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const int64_t days = int64_t{era} * 146097 + doe - 719468;
    return days * 86400 + n[3] * 3600 + n[4] * 60 + n[5];
}

} // namespace

// What QvrSource lists: the members, and the entry of ArchiveFiles each one was made from.
struct PackageList {
    MemberList List;
    std::vector<size_t> Entries;
};

namespace {

PackageList ListEntries(const Archives& arc) {
    PackageList out;
    out.Entries.reserve(arc.ArchiveFiles.size());
    out.List.Expect(arc.ArchiveFiles.size());
    for (size_t i = 0; i < arc.ArchiveFiles.size(); ++i) {
        const sgFileInfo& e = arc.ArchiveFiles[i];
        if (arc.IsInfoEntry(e) || Archives::LooksLikeInfoEntry(e))
            continue;
        const std::string raw =
            e.FilePath().empty() ? e.FileName() : e.FilePath() + "\\" + e.FileName();
        if (const Result safe = IsSafeEntryPath(e.FilePath(), e.FileName()); !safe) {
            out.List.Refuse(raw, safe.Message);
            continue;
        }
        if (e.FileSize() < 0) {
            out.List.Refuse(raw, "its recorded size is negative");
            continue;
        }
        if (out.List.Add(raw, Member{{}, e.FileSize(), std::nullopt, EntrySeconds(e.FileDate())}))
            out.Entries.push_back(i);
    }
    KeepOnly(out.Entries, out.List.Listed());
    return out;
}

class QvrSource final : public Source {
public:
    QvrSource(Archives arc, std::string name)
        : m_own(std::move(arc)), m_arc(*m_own), m_name(std::move(name)) {
        Take(ListEntries(m_arc));
    }
    // Reads through the caller's open package, which outlives the source; listed: its members
    // listed ahead from it.
    QvrSource(Archives* borrowed, std::string name, std::optional<PackageList> listed)
        : m_arc(*borrowed), m_name(std::move(name)) {
        Take(listed ? std::move(*listed) : ListEntries(m_arc));
    }

    const std::string& Name() const override { return m_name; }
    const std::string& Kind() const override { return m_kind; }
    const std::vector<Member>& Members() const override { return m_list.Members; }
    const std::vector<Refusal>& Refused() const override { return m_list.Refused; }
    Result Extract(const std::vector<Job>& jobs, const DoneCallback& done) override;

private:
    void Take(PackageList listed) {
        m_list = std::move(listed.List);
        m_entries.reserve(listed.Entries.size());
        for (size_t i : listed.Entries)
            m_entries.push_back(&m_arc.ArchiveFiles[i]);
    }

    Done Run(RandomAccessFile& file, int64_t dataEnd, const Job& job, size_t k,
             const qvr::detail::ReadAhead& ahead);
    std::vector<int64_t> RunEnds(const std::vector<Job>& jobs,
                                 const std::vector<size_t>& order) const;

    std::optional<Archives> m_own;
    Archives& m_arc;
    std::string m_name;
    const std::string m_kind = "QVR";
    MemberList m_list;
    std::vector<const sgFileInfo*> m_entries; // beside m_list.Members, in m_arc.ArchiveFiles
    std::optional<FolderMaker> m_folders;     // one per extraction
};

Done QvrSource::Run(RandomAccessFile& file, int64_t dataEnd, const Job& job, size_t k,
                    const qvr::detail::ReadAhead& ahead) {
    const sgFileInfo& e = *m_entries[job.Member];
    Done done{k, {}, 0, e.FileSize()};
    try {
        std::error_code ec;
        if (!job.InPlace && std::filesystem::exists(std::filesystem::symlink_status(
                                platform::ToNative(job.Destination), ec)))
            throw ArchiveError(job.Destination + " exists already");
        if (!format::BlockInside(e.FileOffset(), e.FileCompressedSize(), dataEnd))
            throw ArchiveError("its stored data lies outside the archive");
        // The work file goes beside the destination: its folder is made first.
        m_folders->MakeFor(job.Destination);
        const std::string work = qvr::detail::InflateBlockTo(
            file, e.FileOffset(), e.FileCompressedSize(), e.FileSize(), job.Destination, &done.Crc,
            {job.InPlace, job.InPlace && FlushesEachFile(), job.Modified}, ahead);
        if (job.InPlace)
            return done;
        try {
            platform::ReplaceFile(work, job.Destination);
        } catch (...) {
            DeleteFileQuiet(work);
            throw;
        }
    } catch (const std::exception& x) {
        done.Outcome = Result::EntryFailure(m_list.Members[job.Member].Path + ": " + x.what());
    }
    return done;
}

// For each member in reading order, where the blocks that follow its own without a gap end: a
// package's blocks lie in order, so most members are read many to a read.
std::vector<int64_t> QvrSource::RunEnds(const std::vector<Job>& jobs,
                                        const std::vector<size_t>& order) const {
    std::vector<int64_t> ends(order.size());
    for (size_t k = order.size(); k-- > 0;) {
        const sgFileInfo& e = *m_entries[jobs[order[k]].Member];
        ends[k] = int64_t{e.FileOffset()} + e.FileCompressedSize(); // a stranger's numbers
        if (k + 1 < order.size() && m_entries[jobs[order[k + 1]].Member]->FileOffset() == ends[k])
            ends[k] = ends[k + 1];
    }
    return ends;
}

Result QvrSource::Extract(const std::vector<Job>& jobs, const DoneCallback& done) {
    JobPlan plan = PlanJobs(jobs, m_entries.size());
    for (const Done& d : plan.Refused)
        if (!done(d))
            return ExtractionStopped();
    // In archive order, so the package is read from front to back.
    std::vector<size_t> order;
    for (const auto& [member, job] : plan.ByMember)
        order.push_back(job);
    std::sort(order.begin(), order.end(),
              [&](size_t a, size_t b) { return jobs[a].Member < jobs[b].Member; });
    ReadingScope reading(m_arc);
    if (!reading.Outcome())
        return reading.Outcome();
    std::shared_ptr<RandomAccessFile> file = qvr::detail::ArchivesAccess::Reader(m_arc);
    if (!file)
        return Result::Unusable("The archive " + m_arc.CurrentArchive + " could not be read");
    int64_t dataEnd = 0;
    try {
        dataEnd = format::ReadHead(*file).DataEnd();
    } catch (const std::exception& x) {
        return Result::Unusable(x.what());
    }
    m_folders.emplace();
    const std::vector<int64_t> runEnds = RunEnds(jobs, order);
    const uint64_t pass = qvr::detail::NewReadPass();

    // Up to three threads, each holding one member's buffers, a few batches ahead.
    const unsigned threads = ExtractionThreads();
    const bool stopped = !RunInBatches(
        order.size(), threads,
        {.Window = 2 * size_t{threads} + 2,
         .Weight = [&](size_t k) { return int64_t{m_entries[jobs[order[k]].Member]->FileSize()}; },
         .Folder = [&](size_t k) { return platform::FolderPart(jobs[order[k]].Destination); }},
        [&](size_t k) {
            return Run(*file, dataEnd, jobs[order[k]], order[k], {pass, runEnds[k]});
        },
        done, [&](const Done& d) { return jobs[d.Job].Destination; });
    return stopped ? ExtractionStopped() : Result::Success();
}

} // namespace

Opened OpenQvr(const std::string& path, const std::string& name) {
    Archives arc;
    const OpenStatus status = arc.Open(path);
    if (!status.Usable())
        return {nullptr, Result::Unusable(status.Kind == OpenKind::Partial
                                              ? status.Message + "; 'qvr verify' tells more"
                                              : status.Message)};
    return {std::make_unique<QvrSource>(std::move(arc), name), Result::Success()};
}

} // namespace qvr::sources::detail

namespace qvr::sources {

// The listing is a function of the entries alone: entries with the same print list the same.
struct PackageListing {
    detail::PackageList List;
    std::string Archive;
    qvr::detail::ListPrint Print;
};

std::shared_ptr<PackageListing> ListPackage(const Archives& arc) {
    try {
        return std::make_shared<PackageListing>(PackageListing{
            detail::ListEntries(arc), arc.CurrentArchive, qvr::detail::PrintOf(arc.ArchiveFiles)});
    } catch (const std::exception&) {
        return nullptr; // listed again when the package is opened
    }
}

const std::vector<Member>& ListedMembers(const std::shared_ptr<PackageListing>& listing) {
    static const std::vector<Member> none;
    return listing ? listing->List.List.Members : none;
}

Opened OpenPackage(Archives& arc, std::shared_ptr<PackageListing> listing, bool* taken) {
    try {
        std::optional<detail::PackageList> listed;
        if (listing && listing->Archive == arc.CurrentArchive &&
            listing->Print == qvr::detail::PrintOf(arc.ArchiveFiles))
            listed = std::move(listing->List);
        if (taken)
            *taken = listed.has_value();
        return {std::make_unique<detail::QvrSource>(
                    &arc, platform::FileNamePart(arc.CurrentArchive), std::move(listed)),
                Result::Success()};
    } catch (const std::exception& e) {
        return {nullptr, Result::Unusable(arc.CurrentArchive + ": " + e.what())};
    }
}

Opened OpenPackage(Archives& arc) {
    return OpenPackage(arc, nullptr);
}

} // namespace qvr::sources
