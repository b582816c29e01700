#include "qvr/install/InstallRecord.h"

#include "qvr/format/PathRules.h"
#include "qvr/install/detail/InstallFiles.h"
#include "qvr/install/detail/InstallPaths.h"
#include "qvr/platform/detail/platform.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string_view>
#include <system_error>

namespace fs = std::filesystem;

namespace qvr {
namespace {

constexpr const char* kExtension = ".ini";
// Room for the extension, a " (2)" that tells two archives apart and the work file names made
// beside a record, within the 255 bytes file systems allow for a name.
constexpr size_t kKeyBytes = 120;

std::string OneLine(std::string text) {
    for (char& c : text)
        if (c == '\r' || c == '\n')
            c = ' ';
    return text;
}

const char* StateName(RecordState state) {
    switch (state) {
    case RecordState::Installing:
        return "installing";
    case RecordState::Removing:
        return "removing";
    case RecordState::Installed:
        break;
    }
    return "installed";
}

const char* ActionName(RemovalStep::Action action) {
    using A = RemovalStep::Action;
    switch (action) {
    case A::Delete:
        return "delete";
    case A::Restore:
        return "restore";
    case A::PassOn:
        return "pass-on";
    case A::Drop:
        return "drop";
    case A::Missing:
        return "missing";
    case A::Keep:
        break;
    }
    return "keep";
}

bool ParseAction(const std::string& name, RemovalStep::Action& action) {
    using A = RemovalStep::Action;
    for (A a : {A::Delete, A::Restore, A::PassOn, A::Drop, A::Keep, A::Missing})
        if (name == ActionName(a)) {
            action = a;
            return true;
        }
    return false;
}

// A whole number above 0, nothing before or after it.
bool ParseCount(const std::string& text, int64_t& n) {
    const char* end = text.data() + text.size();
    const auto [at, ec] = std::from_chars(text.data(), end, n);
    return ec == std::errc() && at == end && n > 0;
}

bool ParseSizeAndCrc(const std::string& size, const std::string& crc, int64_t& sizeOut,
                     uint32_t& crcOut) {
    try {
        size_t used = 0;
        sizeOut = std::stoll(size, &used);
        if (used != size.size() || sizeOut < 0 || crc.size() != 8 || crc[0] == '-' || crc[0] == '+')
            return false;
        crcOut = static_cast<uint32_t>(std::stoul(crc, &used, 16));
        return used == crc.size();
    } catch (...) {
        return false;
    }
}

// "1234 0a1b2c3d": the kept copy of a replaced file.
bool ParseBackup(const std::string& value, RecordedFile& file) {
    std::istringstream in(value);
    std::string size, crc, more;
    if (!(in >> size >> crc) || (in >> more) || !file.Replaced || file.BackupKnown)
        return false;
    file.BackupKnown = ParseSizeAndCrc(size, crc, file.BackupSize, file.BackupCrc);
    return file.BackupKnown;
}

// "<sequence>\<path>": a backup of a later install.
bool IsSafeBackupName(const std::string& name, std::string& why) {
    const size_t cut = name.find('\\');
    if (cut == 0 || cut == std::string::npos || name.find_first_not_of("0123456789") != cut) {
        why = "\"" + name + "\" names no install's kept copy";
        return false;
    }
    const Result safe = IsSafeRelativePath(name.substr(cut + 1));
    if (!safe)
        why = safe.Message;
    return safe.Ok();
}

// "R 1234 0a1b2c3d Meshes\x.nif"; size and crc are "-" while not known.
bool ParseFile(const std::string& value, RecordedFile& file) {
    std::istringstream in(value);
    std::string flag, size, crc;
    if (!(in >> flag >> size >> crc) || (flag != "R" && flag != "N"))
        return false;
    file.Replaced = flag == "R";
    in.get();
    std::getline(in, file.Path);
    file.Known = size != "-";
    if (!file.Known)
        return crc == "-";
    return ParseSizeAndCrc(size, crc, file.Size, file.Crc);
}

} // namespace

std::string RecordFolder(const std::string& dataFolder) {
    return platform::FromNative(platform::ToNative(dataFolder) / kRecordFolderName);
}

std::string RecordFile(const std::string& dataFolder, const std::string& key) {
    return platform::FromNative(platform::ToNative(RecordFolder(dataFolder)) /
                                platform::ToNative(key + kExtension));
}

std::string RecordKey(const std::string& archiveFileName) {
    std::string key = MakePlainName(detail::FoldCase(archiveFileName), kKeyBytes);
    if (key == "backups")
        key = "_" + key;
    return key;
}

namespace {

// The record is written twice per install, and holds a line per file: made by appending, not
// through a stream (which took as long as planning the files).
void PutNumber(std::string& out, int64_t n) {
    char digits[24];
    const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, n);
    out.append(digits, end);
}

void PutHex(std::string& out, uint32_t crc) {
    static constexpr char kDigits[] = "0123456789abcdef";
    for (int shift = 28; shift >= 0; shift -= 4)
        out += kDigits[(crc >> shift) & 0xF];
}

void Put(std::string& out, std::string_view key, std::string_view value) {
    out += key;
    out += '=';
    out += value;
    out += '\n';
}

} // namespace

std::string FormatInstallRecord(const InstallRecord& r) {
    std::string out;
    out.reserve(512 + r.Files.size() * 80);
    out += "; What installing " + OneLine(r.Archive) +
           " wrote into this data folder, so that it can be removed again.\n";
    Put(out, "archive", OneLine(r.Archive));
    Put(out, "name", OneLine(r.Name));
    Put(out, "version", OneLine(r.Version));
    Put(out, "date", OneLine(r.Date));
    out += "sequence=";
    PutNumber(out, r.Sequence);
    out += '\n';
    Put(out, "state", StateName(r.State));
    if (!r.WrittenInBoot.empty())
        Put(out, "boot", OneLine(r.WrittenInBoot));
    if (r.WrittenAt > 0) {
        out += "written=";
        PutNumber(out, r.WrittenAt);
        out += '\n';
    }
    if (r.Earlier > 0) {
        out += "earlier=";
        PutNumber(out, r.Earlier);
        out += '\n';
    }
    if (r.Root)
        Put(out, "root", OneLine(*r.Root));
    for (const std::string& option : r.Options)
        Put(out, "option", OneLine(option));
    for (const std::string& folder : r.Folders)
        Put(out, "folder", folder);
    for (const std::string& link : r.Links)
        Put(out, "link", link);
    for (const RecordedFile& f : r.Files) {
        out += f.Replaced ? "file=R " : "file=N ";
        if (f.Known) {
            PutNumber(out, f.Size);
            out += ' ';
            PutHex(out, f.Crc);
        } else {
            out += "- -";
        }
        out += ' ';
        out += f.Path;
        out += '\n';
        if (f.Replaced && f.BackupKnown) {
            out += "backup=";
            PutNumber(out, f.BackupSize);
            out += ' ';
            PutHex(out, f.BackupCrc);
            out += '\n';
        }
    }
    for (const ConfigEdit& e : r.Edits) {
        Put(out, "edit", e.Kind + " " + OneLine(e.File));
        for (const std::string& line : e.Add)
            Put(out, "add", OneLine(line));
        for (const std::string& line : e.Remove)
            Put(out, "remove", OneLine(line));
    }
    for (const RemovalStep& step : r.Plan) {
        Put(out, "step", std::string(ActionName(step.What)) + " " + step.Path);
        if (!step.LaterCopy.empty())
            Put(out, "later", step.LaterCopy);
    }
    return out;
}

namespace {

// One key=value line into r. False when the value cannot be read; why is set when it can be
// read but names a path no record may hold.
bool ParseRecordLine(const std::string& key, const std::string& value, InstallRecord& r,
                     bool& haveSequence, bool& haveState, std::string& why) {
    auto path = [&](const std::string& p) {
        const Result safe = IsSafeRelativePath(p);
        if (!safe)
            why = safe.Message;
        return safe.Ok();
    };
    if (key == "archive")
        r.Archive = value;
    else if (key == "name")
        r.Name = value;
    else if (key == "version")
        r.Version = value;
    else if (key == "date")
        r.Date = value;
    else if (key == "root")
        r.Root = value;
    else if (key == "option")
        r.Options.push_back(value);
    else if (key == "boot")
        r.WrittenInBoot = value;
    else if (key == "written")
        return ParseCount(value, r.WrittenAt);
    else if (key == "earlier")
        return ParseCount(value, r.Earlier);
    else if (key == "sequence") {
        haveSequence = true;
        return ParseCount(value, r.Sequence);
    } else if (key == "state") {
        haveState = true;
        if (value == "installed")
            r.State = RecordState::Installed;
        else if (value == "installing")
            r.State = RecordState::Installing;
        else if (value == "removing")
            r.State = RecordState::Removing;
        else
            return false;
    } else if (key == "folder" || key == "link") {
        (key == "folder" ? r.Folders : r.Links).push_back(value);
        return path(value);
    } else if (key == "file") {
        RecordedFile f;
        if (!ParseFile(value, f))
            return false;
        r.Files.push_back(f);
        return path(f.Path);
    } else if (key == "backup") {
        return !r.Files.empty() && ParseBackup(value, r.Files.back());
    } else if (key == "edit") {
        // "<kind> <file>"; its editor checks both before it touches anything.
        const size_t space = value.find(' ');
        if (space == 0 || space == std::string::npos || space + 1 == value.size())
            return false;
        r.Edits.push_back({value.substr(0, space), value.substr(space + 1), {}, {}});
    } else if (key == "add" || key == "remove") {
        // A setting, or the header of a section the install brought ("[Archives]").
        const bool header = value.size() > 2 && value.front() == '[' && value.back() == ']';
        if (r.Edits.empty() || (!header && value.find('=') == std::string::npos))
            return false;
        (key == "add" ? r.Edits.back().Add : r.Edits.back().Remove).push_back(value);
    } else if (key == "step") {
        RemovalStep s;
        size_t space = value.find(' ');
        if (space == std::string::npos || !ParseAction(value.substr(0, space), s.What))
            return false;
        s.Path = value.substr(space + 1);
        r.Plan.push_back(s);
        return path(s.Path);
    } else if (key == "later") {
        if (r.Plan.empty())
            return false;
        r.Plan.back().LaterCopy = value;
        return IsSafeBackupName(value, why);
    }
    return true;
}

} // namespace

Result ParseInstallRecord(const std::string& text, InstallRecord& r) {
    std::istringstream in(text);
    std::string line;
    bool haveSequence = false, haveState = false;
    int number = 0;
    while (std::getline(in, line)) {
        // An editor that saved the record may have put a byte-order mark in front.
        if (++number == 1 && line.starts_with("\xEF\xBB\xBF"))
            line.erase(0, 3);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == ';')
            continue;
        size_t eq = line.find('=');
        if (eq == std::string::npos)
            return Result::EntryFailure("line " + std::to_string(number) + " holds no \"=\"");
        std::string why;
        if (!ParseRecordLine(line.substr(0, eq), line.substr(eq + 1), r, haveSequence, haveState,
                             why))
            return Result::EntryFailure("line " + std::to_string(number) +
                                        (why.empty() ? " cannot be read" : " is refused: " + why));
    }
    if (!haveSequence || !haveState)
        return Result::EntryFailure("it names no sequence or state");
    // A step touches only a file the record holds, and a kept copy only through its later= line.
    for (const RemovalStep& s : r.Plan) {
        if (std::none_of(r.Files.begin(), r.Files.end(),
                         [&](const RecordedFile& f) { return f.Path == s.Path; }))
            return Result::EntryFailure("a step names \"" + s.Path +
                                        "\", which it did not install");
        using A = RemovalStep::Action;
        if ((s.What == A::PassOn || s.What == A::Drop) && s.LaterCopy.empty())
            return Result::EntryFailure("a step names no kept copy of \"" + s.Path + "\"");
    }
    return Result::Success();
}

void WriteInstallRecord(const std::string& dataFolder, const InstallRecord& record) {
    detail::WriteFileAtomically(platform::ToNative(RecordFile(dataFolder, record.Key)),
                                FormatInstallRecord(record));
}

std::vector<InstallRecord> ListInstallRecords(const std::string& dataFolder,
                                              std::vector<std::string>* problems, bool* complete) {
    std::vector<InstallRecord> records;
    std::error_code ec;
    const fs::path folder = platform::ToNative(RecordFolder(dataFolder));
    if (complete)
        *complete = true;
    fs::directory_iterator d(folder, ec), end;
    for (; !ec && d != end; d.increment(ec)) {
        const fs::path& p = d->path();
        if (p.extension() != kExtension)
            continue;
        const bool regular = d->is_regular_file(ec);
        if (ec && complete)
            *complete = false;
        ec.clear(); // the others are still listed
        if (!regular)
            continue;
        std::ifstream in(p, std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(in)), {});
        InstallRecord r;
        r.Key = platform::FromNative(p.stem());
        if (complete && (!in.is_open() || in.bad()))
            *complete = false;
        Result read = in ? ParseInstallRecord(text, r) : Result::EntryFailure("it cannot be read");
        if (!read) {
            if (problems)
                problems->push_back("the install record " + platform::FromNative(p) +
                                    " is not used: " + read.Message +
                                    "; nothing is removed or restored by it");
            continue;
        }
        records.push_back(std::move(r));
    }
    if (complete && ec && ec != std::errc::no_such_file_or_directory)
        *complete = false;
    std::sort(records.begin(), records.end(), [](const InstallRecord& a, const InstallRecord& b) {
        return a.Sequence < b.Sequence;
    });
    return records;
}

bool IsRecordOf(const InstallRecord& record, const std::string& archiveFileName) {
    return record.Archive == OneLine(archiveFileName);
}

std::optional<InstallRecord>
FindInstallRecord(const std::string& dataFolder, const std::string& what,
                  const std::function<bool(const InstallRecord&)>& keep) {
    const std::string wanted = detail::FoldCase(what);
    std::vector<InstallRecord> records = ListInstallRecords(dataFolder);
    if (keep)
        std::erase_if(records, [&](const InstallRecord& r) { return !keep(r); });
    // A key first: two archives whose names fold alike have keys of their own.
    for (InstallRecord& r : records)
        if (r.Key == what)
            return std::move(r);
    for (InstallRecord& r : records)
        if (r.Key == RecordKey(what) || detail::FoldCase(r.Archive) == wanted ||
            (!r.Name.empty() && detail::FoldCase(r.Name) == wanted))
            return std::move(r);
    return std::nullopt;
}

} // namespace qvr
