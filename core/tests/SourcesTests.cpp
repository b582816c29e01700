// Archives as sources of members: the eight layouts players' archives come in, read from every
// format and found the same; hostile members refused in each; encrypted, split and lying
// archives refused or failed; extraction writes exactly the members and nothing else.

#include "qvr/platform/Encoding.h"
#include "qvr/sources/Layout.h"
#include "qvr/sources/Readme.h"
#include "qvr/sources/Source.h"
#include "qvr/sources/Unpack.h"
#include "qvrtest/ArchiveFixtures.h"
#include "qvrtest/Packages.h"
#include "qvrtest/TempFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

namespace fs = std::filesystem;
using qvr::sources::LayoutKind;
using qvrtest::ArchiveFormat;
using qvrtest::ArchiveMember;

namespace {

// Formats made here; QVR packages are made through the library.
enum class Made { Zip, SevenZip, Rar5, Tar, TarGz, Qvr };

std::string Content(const std::string& path) {
    // One member large enough to take several reads.
    return path.ends_with("big.bsa") ? qvrtest::MixedBytes(700 * 1024, 5) : "bytes of " + path;
}

fs::path Make(Made f, const fs::path& folder, const std::vector<std::string>& paths) {
    std::vector<ArchiveMember> members;
    for (const std::string& p : paths)
        members.push_back({p, Content(p)});
    if (f == Made::Qvr) {
        std::vector<qvrtest::PackEntry> entries;
        for (const std::string& p : paths) {
            const size_t cut = p.rfind('/');
            std::string dir = cut == std::string::npos ? "" : p.substr(0, cut);
            std::replace(dir.begin(), dir.end(), '/', '\\');
            entries.push_back({dir, p.substr(cut + 1), Content(p)});
        }
        const fs::path out = folder / "mod.qvr";
        qvrtest::PackInfo info;
        qvrtest::MakePackage(out.string(), entries, &info, folder.string());
        return out;
    }
    const auto format = static_cast<ArchiveFormat>(f);
    const fs::path out = folder / (std::string("mod") + qvrtest::Extension(format));
    EXPECT_TRUE(qvrtest::MakeArchive(format, out, members));
    return out;
}

std::unique_ptr<qvr::sources::Source> OpenOk(const fs::path& path) {
    qvr::sources::Opened opened = qvr::sources::Open(path.string());
    EXPECT_TRUE(opened.Outcome) << opened.Outcome.Message;
    return std::move(opened.Archive);
}

std::vector<std::string> Paths(const qvr::sources::Source& s) {
    std::vector<std::string> out;
    for (const auto& m : s.Members())
        out.push_back(m.Path);
    return out;
}

struct LayoutCase {
    const char* Name;
    std::vector<std::string> Paths;
    LayoutKind Kind;
    std::string Root;                    // Root; Options: the folder holding them
    std::vector<std::string> Labels;     // Options
    std::vector<std::string> Candidates; // SeveralRoots, NoData
    std::vector<std::string> Targets;    // placed with the root, or the default option
};

const std::vector<LayoutCase>& Layouts() {
    static const std::vector<LayoutCase> cases = {
        {"files at the top",
         {"Mod.esp", "Meshes/r/rock.nif", "big.bsa", "Textures/Caf\u00e9.dds", "readme.txt"},
         LayoutKind::Root,
         "",
         {},
         {},
         {"Mod.esp", "Meshes/r/rock.nif", "big.bsa", "Textures/Caf\u00e9.dds", "readme.txt"}},
        {"Data Files wrapper",
         {"Data Files/Mod.esp", "Data Files/Textures/a.dds"},
         LayoutKind::Root,
         "Data Files",
         {},
         {},
         {"Mod.esp", "Textures/a.dds"}},
        {"named wrapper",
         {"MyMod/mod.ESM", "MyMod/TEXTURES/a.dds", "MyMod/big.bsa"},
         LayoutKind::Root,
         "MyMod",
         {},
         {},
         {"mod.ESM", "TEXTURES/a.dds", "big.bsa"}},
        {"named wrapper around Data Files",
         {"MyMod/readme.txt", "MyMod/Data Files/Mod.esp", "MyMod/Data Files/Meshes/x.nif"},
         LayoutKind::Root,
         "MyMod/Data Files",
         {},
         {},
         {"Mod.esp", "Meshes/x.nif"}},
        {"numbered options",
         {"00 Core/Mod.esp", "00 Core/Meshes/x.nif", "01 Bigger Rocks/Meshes/x.nif",
          "02_Patch for X/Patch.esp", "readme.txt"},
         LayoutKind::Options,
         "",
         {"00", "01", "02"},
         {},
         {"Mod.esp", "Meshes/x.nif"}},
        {"numbered options under a wrapper",
         {"MyMod/10 Extra/Icons/i.dds", "MyMod/00 Core/Data Files/Mod.esp",
          "MyMod/00 Core/Data Files/Sound/s.wav", "MyMod/info.txt"},
         LayoutKind::Options,
         "MyMod",
         {"00", "10"},
         {},
         {"Mod.esp", "Sound/s.wav"}},
        {"two candidate roots",
         {"Vanilla/Mod.esp", "Tamriel Rebuilt/Mod.esp", "readme.txt"},
         LayoutKind::SeveralRoots,
         "",
         {},
         {"Tamriel Rebuilt", "Vanilla"},
         {}},
        {"no plug-in at all",
         {"MyMod/readme.txt", "MyMod/stuff/x.dat", "top.txt"},
         LayoutKind::NoData,
         "",
         {},
         {"", "MyMod"},
         {}},
    };
    return cases;
}

std::vector<std::string> Sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
}

void ExpectLayout(const LayoutCase& c, const std::vector<std::string>& paths) {
    const qvr::sources::Layout layout = qvr::sources::FindLayout(paths);
    EXPECT_EQ(layout.Kind, c.Kind);
    EXPECT_EQ(layout.Root, c.Root);
    std::vector<std::string> labels;
    for (const auto& o : layout.Options)
        labels.push_back(o.Label);
    EXPECT_EQ(labels, c.Labels);
    EXPECT_EQ(Sorted(layout.Candidates), Sorted(c.Candidates));
    qvr::sources::Placement placed;
    if (layout.Kind == LayoutKind::Root) {
        placed = qvr::sources::PlaceFromRoot(paths, layout.Root);
    } else if (layout.Kind == LayoutKind::Options) {
        std::string why;
        placed =
            qvr::sources::PlaceOptions(paths, layout, qvr::sources::ChooseOptions(layout, {}, why));
    }
    std::vector<std::string> targets;
    for (const auto& p : placed.Files)
        targets.push_back(p.Target);
    EXPECT_EQ(Sorted(targets), Sorted(c.Targets));
}

// Builds without libarchive (Windows) read QVR packages only.
#define SKIP_WITHOUT_LIBARCHIVE()                                                                  \
    do {                                                                                           \
        if (!qvr::sources::ReadsOtherArchives())                                                   \
            GTEST_SKIP() << "this build reads QVR packages only";                                  \
    } while (false)

class SourceFormat : public testing::TestWithParam<Made> {
protected:
    qvrtest::TempFolder temp{"qvr-sources"};
};

TEST_P(SourceFormat, EachLayoutIsListedFoundAndExtracted) {
    if (GetParam() != Made::Qvr)
        SKIP_WITHOUT_LIBARCHIVE();
    for (const LayoutCase& c : Layouts()) {
        SCOPED_TRACE(c.Name);
        const fs::path folder = temp.Path() / std::to_string(&c - Layouts().data());
        fs::create_directories(folder);
        const auto source = OpenOk(Make(GetParam(), folder, c.Paths));
        ASSERT_TRUE(source);
        for (const auto& r : source->Refused())
            ADD_FAILURE() << r.Path << ": " << r.Why;
        ASSERT_EQ(Sorted(Paths(*source)), Sorted(c.Paths));
        ExpectLayout(c, Paths(*source));

        // Each file is given the time its job asks for (some get none).
        auto timeOf = [](size_t k) {
            return k % 3 ? std::optional<int64_t>(1020211200 + int64_t(k) * 61) : std::nullopt;
        };
        std::vector<qvr::sources::Job> jobs;
        for (size_t k = 0; k < source->Members().size(); ++k)
            jobs.push_back(
                {k, (folder / "out" / ("m" + std::to_string(k))).string(), false, timeOf(k)});
        size_t reported = 0;
        const qvr::Result r = source->Extract(jobs, [&](const qvr::sources::Done& d) {
            ++reported;
            const auto& m = source->Members()[jobs[d.Job].Member];
            EXPECT_TRUE(d.Outcome) << d.Outcome.Message;
            EXPECT_EQ(qvrtest::ReadAll(jobs[d.Job].Destination), Content(m.Path)) << m.Path;
            const auto written = std::chrono::duration_cast<std::chrono::seconds>(
                std::chrono::file_clock::to_sys(fs::last_write_time(jobs[d.Job].Destination))
                    .time_since_epoch());
            if (const auto wanted = timeOf(jobs[d.Job].Member)) {
                EXPECT_EQ(written.count(), *wanted) << m.Path;
            }
            EXPECT_EQ(d.Size, m.Size);
            if (m.Crc) {
                EXPECT_EQ(d.Crc, *m.Crc);
            }
            return true;
        });
        EXPECT_TRUE(r) << r.Message;
        EXPECT_EQ(reported, jobs.size());
    }
}

// Hostile members of each format, beside one sound member that is kept. Of two names that differ
// only in letter case neither is kept: which one is meant is not known.
struct HostileCase {
    Made Format;
    std::vector<ArchiveMember> Members;
    std::vector<std::string> Why; // what each refusal says, in order
};

TEST(Sources, HostileMembersAreRefusedInEveryFormat) {
    SKIP_WITHOUT_LIBARCHIVE();
    using M = ArchiveMember;
    const std::vector<HostileCase> cases = {
        {Made::Zip,
         {{"../up.esp", "x"},
          {"/abs.esp", "x"},
          {"C:/drive.esp", "x"},
          {"Meshes/a.nif", "x"},
          {"MESHES/A.NIF", "x"},
          {"link.esp", "/etc/passwd", M::Symlink},
          {"a\\..\\..\\b", "x"},
          {"meshes", "x"},
          {"twice.esp", "1"},
          {"twice.esp", "2"}},
         {"\"..\"", "absolute", "drive", "letter case", "symbolic link", "\"..\"", "folder",
          "twice, and neither", "letter case"}},
        {Made::Tar,
         {{"../up.esp", "x"},
          {"/abs.esp", "x"},
          {"Meshes/a.nif", "x"},
          {"sym.esp", "../../x", M::Symlink},
          {"hard.esp", "Meshes/a.nif", M::Hardlink},
          {"dev.esp", "", M::Device},
          {"meshes/A.nif", "y"}},
         {"\"..\"", "absolute", "symbolic link", "hard link", "device", "letter case",
          "letter case"}},
        {Made::Rar5,
         {{"../up.esp", "x"},
          {"/abs.esp", "x"},
          {"Meshes/a.nif", "x"},
          {"meshes/A.NIF", "y"},
          {"con.esp", "x"}},
         {"\"..\"", "absolute", "letter case", "device name", "letter case"}},
        {Made::SevenZip,
         {{"Meshes/a.nif", "x"}, {"Meshes/A.nif", "y"}, {"link.esp", "Meshes/a.nif", M::Symlink}},
         {"symbolic link", "letter case", "letter case"}},
    };
    for (const HostileCase& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.Format));
        qvrtest::TempFolder temp("qvr-hostile");
        const auto format = static_cast<ArchiveFormat>(c.Format);
        const fs::path path = temp.Path() / (std::string("h") + qvrtest::Extension(format));
        std::vector<ArchiveMember> members = c.Members;
        members.push_back({"ok.esp", "sound"});
        ASSERT_TRUE(qvrtest::MakeArchive(format, path, members));
        const auto source = OpenOk(path);
        ASSERT_TRUE(source);
        ASSERT_EQ(source->Members().size(), 1u);
        EXPECT_EQ(source->Members()[0].Path, "ok.esp");
        ASSERT_EQ(source->Refused().size(), c.Why.size());
        std::vector<std::string> why;
        for (const auto& r : source->Refused())
            why.push_back(r.Why);
        // 7z stores members in its own order.
        if (c.Format == Made::SevenZip)
            std::sort(why.begin(), why.end());
        for (size_t k = 0; k < why.size(); ++k)
            EXPECT_NE(why[k].find(c.Why[k]), std::string::npos) << why[k];
    }
}

// The first local and central header sizes of a one-member zip, changed.
std::string WithRecordedSize(std::string zip, uint32_t size) {
    const std::string le = qvrtest::Le32(static_cast<int32_t>(size));
    zip.replace(22, 4, le);                          // local header: uncompressed size
    zip.replace(zip.find("PK\x01\x02") + 24, 4, le); // central header
    return zip;
}

TEST(Sources, SizesThatLieFailTheMemberAndLeaveNothing) {
    SKIP_WITHOUT_LIBARCHIVE();
    qvrtest::TempFolder temp("qvr-lies");
    const fs::path zip = temp.Path() / "z.zip";
    // Compresses very well: a bomb in small.
    ASSERT_TRUE(qvrtest::MakeZip(zip, {{"Mod.esp", std::string(4 << 20, 'a')}}));
    const std::string bytes = qvrtest::ReadAll(zip);
    for (uint32_t size : {1000u, (4u << 20) + 1}) {
        SCOPED_TRACE(size);
        qvrtest::WriteAll(zip, WithRecordedSize(bytes, size));
        const auto source = OpenOk(zip);
        ASSERT_TRUE(source);
        ASSERT_EQ(source->Members().at(0).Size, size);
        const std::string out = (temp.Path() / "out" / "Mod.esp").string();
        bool failed = false;
        const qvr::Result r =
            source->Extract({{0, out, false, {}}}, [&](const qvr::sources::Done& d) {
                failed = !d.Outcome;
                return true;
            });
        EXPECT_TRUE(failed);
        EXPECT_FALSE(fs::exists(out));
        (void)r;
    }
}

TEST(Sources, EncryptedSplitAndCutArchivesAreRefusedWithAReason) {
    SKIP_WITHOUT_LIBARCHIVE();
    qvrtest::TempFolder temp("qvr-refused");
    const fs::path src = temp.Path() / "src";
    qvrtest::WriteAll(src / "Mod.esp", qvrtest::RandomBytes(40000, 3));
    const std::string in = "cd " + qvrtest::ShellQuote(src.string()) + " && ";
    const std::string out = qvrtest::ShellQuote(temp.Path().string());
    ASSERT_EQ(std::system((in + "zip -q -P secret " + out + "/enc.zip Mod.esp").c_str()), 0);
    ASSERT_EQ(std::system((in + "7z a -bd -psecret " + out + "/enc.7z Mod.esp >/dev/null").c_str()),
              0);
    ASSERT_EQ(
        std::system(
            (in + "7z a -bd -psecret -mhe=on " + out + "/names.7z Mod.esp >/dev/null").c_str()),
        0);
    ASSERT_EQ(
        std::system((in + "7z a -bd -mx=0 -v10k " + out + "/split.7z Mod.esp >/dev/null").c_str()),
        0);
    // zip's own spanning (the .zip is the last volume), and a zip cut into pieces by 7z.
    qvrtest::WriteAll(src / "Big.bsa", qvrtest::RandomBytes(150000, 4));
    ASSERT_EQ(std::system((in + "zip -q -s 64k " + out + "/span.zip Big.bsa").c_str()), 0);
    ASSERT_EQ(
        std::system(
            (in + "7z a -bd -tzip -mx=0 -v10k " + out + "/split.zip Mod.esp >/dev/null").c_str()),
        0);
    qvrtest::WriteAll(temp.Path() / "vol.rar", qvrtest::Rar5Stored({{"Mod.esp", "x"}}, true));
    qvrtest::WriteAll(temp.Path() / "vol4.rar", qvrtest::Rar4Stored({{"Mod.esp", "x"}}, true));
    qvrtest::WriteAll(temp.Path() / "text.zip", "just text");
    // As 7z leaves it while writing: no directory named yet.
    std::string unfinished = qvrtest::ReadAll(temp.Path() / "enc.7z");
    unfinished.replace(12, 20, std::string(20, '\0'));
    qvrtest::WriteAll(temp.Path() / "unfinished.7z", unfinished);
    // Downloads stopped halfway: a zip's directory is at its end, a tar's members run on.
    ASSERT_EQ(std::system((in + "zip -q " + out + "/whole.zip Mod.esp").c_str()), 0);
    ASSERT_EQ(std::system((in + "tar -czf " + out + "/whole.tgz Mod.esp").c_str()), 0);
    // A plain tar that stopped between two members: its first member whole, no end blocks.
    ASSERT_EQ(std::system((in + "tar -cf " + out + "/two.tar Mod.esp Big.bsa").c_str()), 0);
    qvrtest::WriteAll(temp.Path() / "cut-two.tar",
                      qvrtest::ReadAll(temp.Path() / "two.tar").substr(0, 512 + 40448));
    for (const char* name : {"whole.zip", "whole.tgz"}) {
        const std::string whole = qvrtest::ReadAll(temp.Path() / name);
        qvrtest::WriteAll(temp.Path() / ("cut-" + std::string(name)),
                          whole.substr(0, whole.size() / 2));
    }
    // Random bytes are stored as they are: two changed bytes decode, and only gzip's check
    // at the end tells.
    std::string damaged = qvrtest::ReadAll(temp.Path() / "whole.tgz");
    damaged[damaged.size() / 2] ^= 0x5A;
    qvrtest::WriteAll(temp.Path() / "damaged.tgz", damaged);
    // bzip2's check fails on the block that holds the tar's first header: libarchive then finds
    // no archive format in what it decoded.
    ASSERT_EQ(std::system((in + "tar -cjf " + out + "/whole.tbz2 Mod.esp").c_str()), 0);
    damaged = qvrtest::ReadAll(temp.Path() / "whole.tbz2");
    damaged[damaged.size() / 2] ^= 0x5A;
    qvrtest::WriteAll(temp.Path() / "damaged.tbz2", damaged);
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"enc.zip", "encrypted"},        {"enc.7z", "encrypted"},
        {"names.7z", "encrypted"},       {"split.7z.001", "multi-volume"},
        {"vol.rar", "multi-volume"},     {"text.zip", "not an archive"},
        {"vol4.rar", "multi-volume"},    {"missing.7z", "no such file"},
        {"unfinished.7z", "incomplete"}, {"cut-whole.zip", "cut short"},
        {"cut-whole.tgz", "cut short"},  {"damaged.tgz", "damaged"},
        {"damaged.tbz2", "damaged"},     {"span.zip", "multi-volume"},
        {"span.z01", "multi-volume"},    {"split.zip.001", "multi-volume"},
        {"cut-two.tar", "cut short"},
    };
    for (const auto& [name, why] : cases) {
        const qvr::sources::Opened o = qvr::sources::Open((temp.Path() / name).string());
        EXPECT_FALSE(o.Outcome) << name;
        EXPECT_EQ(o.Outcome.Code, qvr::Status::ArchiveUnusable) << name;
        EXPECT_NE(o.Outcome.Message.find(why), std::string::npos) << o.Outcome.Message;
    }
}

TEST(Sources, AGzipOfSeveralMembersIsReadWhole) {
    SKIP_WITHOUT_LIBARCHIVE();
    qvrtest::TempFolder temp("qvr-joined");
    const std::string bytes = qvrtest::RandomBytes(40000, 4);
    qvrtest::WriteAll(temp.Path() / "Mod.esp", bytes);
    // As cat a.gz b.gz leaves it: the tar split across two gzip members, and a third of zeros
    // past the tar's end, where a tar reader has no need to go.
    const std::string tar =
        "tar -C " + qvrtest::ShellQuote(temp.Path().string()) + " -cf - Mod.esp";
    const std::string out = qvrtest::ShellQuote((temp.Path() / "joined.tgz").string());
    ASSERT_EQ(
        std::system(("(" + tar + " | head -c 20480 | gzip -c; " + tar +
                     " | tail -c +20481 | gzip -c; head -c 1000000 /dev/zero | gzip -c) > " + out)
                        .c_str()),
        0);
    const auto source = OpenOk(temp.Path() / "joined.tgz");
    ASSERT_TRUE(source);
    ASSERT_EQ(Paths(*source), std::vector<std::string>{"Mod.esp"});
    const std::string to = (temp.Path() / "out.esp").string();
    const qvr::Result r = source->Extract({{0, to, false, {}}}, [](const qvr::sources::Done& d) {
        EXPECT_TRUE(d.Outcome) << d.Outcome.Message;
        return true;
    });
    EXPECT_TRUE(r) << r.Message;
    EXPECT_EQ(qvrtest::ReadAll(to), bytes);

    // Damaged after it was opened, in the zeros: the read up to its last member makes the
    // check again.
    std::string damaged = qvrtest::ReadAll(temp.Path() / "joined.tgz");
    damaged[damaged.size() - 200] ^= 0x5A;
    qvrtest::WriteAll(temp.Path() / "joined.tgz", damaged);
    const qvr::Result again =
        source->Extract({{0, to + "2", false, {}}}, [](const qvr::sources::Done&) { return true; });
    EXPECT_FALSE(again);
    EXPECT_NE(again.Message.find("damaged"), std::string::npos) << again.Message;
}

TEST(Sources, AMemberBehindALargeOneIsReadAloneAndAReadmeThereIsNotQuick) {
    SKIP_WITHOUT_LIBARCHIVE();
    qvrtest::TempFolder temp("qvr-readme");
    // 9 MiB: beyond what is quick to decode, and a multiple of 64 KiB, which libarchive 3.6
    // cannot skip in a 7z without failing the next member.
    const std::vector<ArchiveMember> members = {{"Meshes/big.nif", std::string(9 << 20, 'a')},
                                                {"Readme.txt", "Read\r\nme"}};
    // Read where they lie, skipped by seeking, or decoded in order.
    const std::pair<Made, bool> formats[] = {
        {Made::Zip, true}, {Made::Tar, true}, {Made::TarGz, false}, {Made::SevenZip, false}};
    for (const auto& [format, quick] : formats) {
        const fs::path folder = temp.Path() / std::to_string(static_cast<int>(format));
        fs::create_directories(folder);
        const fs::path archive =
            folder / (std::string("mod") + qvrtest::Extension(static_cast<ArchiveFormat>(format)));
        ASSERT_TRUE(qvrtest::MakeArchive(static_cast<ArchiveFormat>(format), archive, members));
        const auto source = OpenOk(archive);
        ASSERT_TRUE(source);
        const std::optional<size_t> readme = qvr::sources::FindReadme(*source);
        ASSERT_TRUE(readme);
        ASSERT_EQ(source->Members()[*readme].Path, "Readme.txt");
        EXPECT_EQ(qvr::sources::QuickToRead(*source, *readme), quick) << archive;
        EXPECT_EQ(qvr::sources::ReadmeText(*source, *readme), "Read\nme") << archive;
    }
}

TEST(Sources, OnlyArchivesTheLibraryDecodesAreToldSo) {
    SKIP_WITHOUT_LIBARCHIVE();
    qvrtest::TempFolder temp("qvr-decoded");
    const std::pair<Made, bool> formats[] = {{Made::Qvr, false},     {Made::Zip, false},
                                             {Made::SevenZip, true}, {Made::Rar5, true},
                                             {Made::Tar, true},      {Made::TarGz, true}};
    for (const auto& [format, decoded] : formats) {
        const fs::path folder = temp.Path() / std::to_string(static_cast<int>(format));
        fs::create_directories(folder);
        const fs::path archive = Make(format, folder, {"Meshes/a.nif"});
        EXPECT_EQ(qvr::sources::DecodedByArchiveLibrary(archive.string()), decoded) << archive;
    }
    EXPECT_FALSE(qvr::sources::DecodedByArchiveLibrary(temp.Path().string()));
    qvrtest::WriteAll(temp.Path() / "a.nif", std::string(600, 'n'));
    EXPECT_FALSE(qvr::sources::DecodedByArchiveLibrary((temp.Path() / "a.nif").string()));
    EXPECT_FALSE(qvr::sources::DecodedByArchiveLibrary((temp.Path() / "none.7z").string()));
}

TEST(Sources, ARar4ArchiveIsReadToo) {
    SKIP_WITHOUT_LIBARCHIVE();
    qvrtest::TempFolder temp("qvr-rar4");
    const fs::path path = temp.Path() / "old.rar";
    qvrtest::WriteAll(path, qvrtest::Rar4Stored({{"Data Files/Mod.esp", "plug-in"},
                                                 {"Data Files/../up.esp", "x"}}));
    const auto source = OpenOk(path);
    ASSERT_TRUE(source);
    EXPECT_EQ(source->Kind(), "RAR4");
    ASSERT_EQ(Paths(*source), (std::vector<std::string>{"Data Files/Mod.esp"}));
    ASSERT_EQ(source->Refused().size(), 1u);
    const std::string out = (temp.Path() / "Mod.esp").string();
    const qvr::Result r = source->Extract({{0, out, false, {}}}, [](const qvr::sources::Done& d) {
        EXPECT_TRUE(d.Outcome) << d.Outcome.Message;
        return true;
    });
    EXPECT_TRUE(r) << r.Message;
    EXPECT_EQ(qvrtest::ReadAll(out), "plug-in");
}

TEST(Sources, AStopOrAnExistingDestinationLeavesOnlyWhatWasReported) {
    qvrtest::TempFolder temp("qvr-stop");
    std::vector<std::string> paths;
    for (int k = 0; k < 40; ++k)
        paths.push_back("Meshes/m" + std::to_string(k) + ".nif");
    for (Made f : {Made::Qvr, Made::Zip}) {
        SCOPED_TRACE(static_cast<int>(f));
        if (f != Made::Qvr && !qvr::sources::ReadsOtherArchives())
            continue;
        const fs::path folder = temp.Path() / std::to_string(static_cast<int>(f));
        fs::create_directories(folder);
        const auto source = OpenOk(Make(f, folder, paths));
        ASSERT_TRUE(source);
        std::vector<qvr::sources::Job> jobs;
        for (size_t k = 0; k < paths.size(); ++k)
            jobs.push_back({k, (folder / "out" / std::to_string(k)).string(), false, {}});
        qvrtest::WriteAll(jobs[1].Destination, "mine");
        jobs.push_back({0, (folder / "twice").string(), false, {}});
        std::vector<size_t> ok;
        size_t failed = 0;
        const qvr::Result r = source->Extract(jobs, [&](const qvr::sources::Done& d) {
            if (d.Outcome)
                ok.push_back(d.Job);
            else
                ++failed;
            return ok.size() < 5;
        });
        EXPECT_EQ(r.Code, qvr::Status::EntryFailed);
        EXPECT_EQ(failed, 2u); // the existing destination and the member asked for twice
        EXPECT_EQ(qvrtest::ReadAll(jobs[1].Destination), "mine");
        size_t files = 0;
        for (const auto& e : fs::directory_iterator(folder / "out"))
            files += e.is_regular_file();
        EXPECT_EQ(files, ok.size() + 1);
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, SourceFormat,
                         testing::Values(Made::Zip, Made::SevenZip, Made::Rar5, Made::Tar,
                                         Made::TarGz, Made::Qvr));

TEST(Layout, LaterOptionsReplaceEarlierOnesAndLabelsAreChecked) {
    const std::vector<std::string> paths = {"00 Core/Mod.esp",   "00 Core/Meshes/x.nif",
                                            "01 A/meshes/X.NIF", "02 B/Meshes/x.nif",
                                            "02 B/Meshes/y.nif", "readme.txt"};
    const qvr::sources::Layout layout = qvr::sources::FindLayout(paths);
    ASSERT_EQ(layout.Kind, LayoutKind::Options);
    std::string why;
    // Named out of order, and "2" for "02": installed in number order, the last one winning.
    const auto chosen = qvr::sources::ChooseOptions(layout, {"2", "01"}, why);
    ASSERT_EQ(chosen.size(), 3u) << why;
    const qvr::sources::Placement placed = qvr::sources::PlaceOptions(paths, layout, chosen);
    std::map<std::string, size_t> byTarget;
    for (const auto& p : placed.Files)
        byTarget[p.Target] = p.Member;
    EXPECT_EQ(byTarget, (std::map<std::string, size_t>{
                            {"Mod.esp", 0}, {"Meshes/x.nif", 3}, {"Meshes/y.nif", 4}}));
    // The replaced ones lie inside what was chosen: only the readme is left out.
    EXPECT_EQ(placed.LeftOut, (std::vector<size_t>{5}));
    EXPECT_TRUE(qvr::sources::ChooseOptions(layout, {"07"}, why).empty());
    EXPECT_NE(why.find("00 01 02"), std::string::npos) << why;

    // Two options of one number: neither is guessed to go over the other.
    const qvr::sources::Layout twins =
        qvr::sources::FindLayout({"00 Core/Mod.esp", "01 A/Meshes/x.nif", "01 B/Meshes/x.nif"});
    EXPECT_TRUE(qvr::sources::ChooseOptions(twins, {"01"}, why).empty());
    EXPECT_NE(why.find("01 A, 01 B"), std::string::npos) << why;
    EXPECT_EQ(qvr::sources::ChooseOptions(twins, {}, why).size(), 1u) << why;
}

// The main plug-in in "Data Files" beside numbered patches goes in with whichever is chosen.
TEST(Layout, DataFilesBesideOptionsIsTheirBase) {
    const std::vector<std::string> paths = {"Data Files/Mod.esp", "Data Files/Meshes/x.nif",
                                            "01 Patch/Mod Patch.esp", "readme.txt"};
    const qvr::sources::Layout layout = qvr::sources::FindLayout(paths);
    ASSERT_EQ(layout.Kind, LayoutKind::Options);
    std::string why;
    const qvr::sources::Placement placed =
        qvr::sources::PlaceOptions(paths, layout, qvr::sources::ChooseOptions(layout, {}, why));
    std::vector<std::string> targets;
    for (const auto& p : placed.Files)
        targets.push_back(p.Target);
    EXPECT_EQ(targets, (std::vector<std::string>{"Mod.esp", "Meshes/x.nif", "Mod Patch.esp"}));
    EXPECT_EQ(placed.LeftOut, (std::vector<size_t>{3}));
}

TEST(Layout, DataInsideDataIsAskedAboutNotInstalledAsAFolder) {
    const qvr::sources::Layout layout =
        qvr::sources::FindLayout({"Mod.esp", "Data Files/Meshes/x.nif", "Data Files/Other.esp"});
    EXPECT_EQ(layout.Kind, LayoutKind::SeveralRoots);
    EXPECT_EQ(layout.Candidates, (std::vector<std::string>{"", "Data Files"}));
}

} // namespace

// A zip of nothing but its end record is an archive with no files (libarchive cannot tell it
// from a file that is no zip), and installing it says so.
TEST(Sources, AnEmptyZipHoldsNoFileToInstall) {
    SKIP_WITHOUT_LIBARCHIVE();
    qvrtest::TempFolder temp("qvr-empty");
    const fs::path path = temp.Path() / "empty.zip";
    qvrtest::WriteAll(path, std::string("PK\x05\x06", 4) + std::string(18, '\0'));
    const auto source = OpenOk(path);
    ASSERT_TRUE(source);
    EXPECT_TRUE(source->Members().empty());
    qvr::sources::Selection selection;
    const qvr::Result r = qvr::sources::Select({}, {}, selection);
    EXPECT_FALSE(r.Ok());
    EXPECT_NE(r.Message.find("no file"), std::string::npos) << r.Message;
}

// A zip member's name without the UTF-8 flag is in the zip format's code page 437, as Windows'
// tools write it, whichever reader lists it (a bzip2 member sends the zip to libarchive).
TEST(Sources, AZipNameWithoutTheUtf8FlagIsReadAsCodePage437) {
    SKIP_WITHOUT_LIBARCHIVE();
    qvrtest::TempFolder temp("qvr-cp437");
    for (const bool bzip2 : {false, true}) {
        const fs::path path = temp.Path() / (bzip2 ? "b.zip" : "d.zip");
        const std::string script = std::string(qvrtest::kPythonMembers) + R"(
import zipfile
method = zipfile.ZIP_BZIP2 if sys.argv[2].endswith('b.zip') else zipfile.ZIP_DEFLATED
with zipfile.ZipFile(sys.argv[2], 'w', method) as z:
    for kind, path, data in members():
        z.writestr(path, data)
)";
        ASSERT_TRUE(qvrtest::RunPython(script, path, {{"CafX.esp", "TES3"}, {"x.txt", "x"}}));
        std::string bytes = qvrtest::ReadAll(path);
        for (size_t at; (at = bytes.find("CafX")) != std::string::npos;)
            bytes[at + 3] = '\x82'; // as a Windows tool stores "Café"
        qvrtest::WriteAll(path, bytes);
        const auto source = OpenOk(path);
        ASSERT_TRUE(source) << bzip2;
        EXPECT_EQ(Paths(*source), (std::vector<std::string>{"Caf\xC3\xA9.esp", "x.txt"})) << bzip2;
    }
}
