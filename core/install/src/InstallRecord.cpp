#include "qvr/install/InstallRecord.h"

#include "qvr/install/detail/InstallFiles.h"
#include "qvr/install/detail/InstallPaths.h"
#include "qvr/platform/detail/platform.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <system_error>

namespace fs = std::filesystem;

namespace qvr {
namespace {

constexpr const char* kExtension = ".ini";

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

// "R 1234 0a1b2c3d Meshes\x.nif"; size and crc are "-" while not known.
bool ParseFile(const std::string& value, RecordedFile& file) {
    std::istringstream in(value);
    std::string flag, size, crc;
    if (!(in >> flag >> size >> crc) || (flag != "R" && flag != "N"))
        return false;
    file.Replaced = flag == "R";
    in.get();
    std::getline(in, file.Path);
    if (file.Path.empty())
        return false;
    file.Known = size != "-";
    if (!file.Known)
        return true;
    try {
        size_t used = 0;
        file.Size = std::stoll(size, &used);
        if (used != size.size() || file.Size < 0)
            return false;
        file.Crc = static_cast<uint32_t>(std::stoul(crc, &used, 16));
        return used == crc.size();
    } catch (...) {
        return false;
    }
}

} // namespace

std::string RecordFolder(const std::string& dataFolder) {
    return platform::FromNative(platform::ToNative(dataFolder) / kRecordFolderName);
}

std::string RecordKey(const std::string& archiveFileName) {
    std::string key = detail::FoldCase(archiveFileName);
    for (char& c : key)
        if (static_cast<unsigned char>(c) < 32 ||
            std::string("/\\:*?\"<>|").find(c) != std::string::npos)
            c = '_';
    if (key.empty() || key == "." || key == ".." || key == "backups")
        key = "_" + key;
    return key;
}

std::string FormatInstallRecord(const InstallRecord& r) {
    std::ostringstream out;
    out << "; What installing " << OneLine(r.Archive)
        << " wrote into this data folder, so that it can be removed again.\n"
        << "archive=" << OneLine(r.Archive) << "\nname=" << OneLine(r.Name)
        << "\nversion=" << OneLine(r.Version) << "\ndate=" << OneLine(r.Date)
        << "\nsequence=" << r.Sequence << "\nstate=" << StateName(r.State) << "\n";
    for (const std::string& folder : r.Folders)
        out << "folder=" << folder << "\n";
    char number[16];
    for (const RecordedFile& f : r.Files) {
        out << "file=" << (f.Replaced ? "R " : "N ");
        if (f.Known) {
            std::snprintf(number, sizeof number, "%08x", static_cast<unsigned>(f.Crc));
            out << f.Size << " " << number;
        } else {
            out << "- -";
        }
        out << " " << f.Path << "\n";
    }
    for (const RemovalStep& s : r.Plan) {
        out << "step=" << ActionName(s.What) << " " << s.Path << "\n";
        if (!s.LaterCopy.empty())
            out << "later=" << s.LaterCopy << "\n";
    }
    return out.str();
}

Result ParseInstallRecord(const std::string& text, InstallRecord& r) {
    std::istringstream in(text);
    std::string line;
    bool haveSequence = false, haveState = false;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == ';')
            continue;
        size_t eq = line.find('=');
        if (eq == std::string::npos)
            return Result::EntryFailure("line " + std::to_string(number) + " holds no \"=\"");
        const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        bool ok = true;
        if (key == "archive")
            r.Archive = value;
        else if (key == "name")
            r.Name = value;
        else if (key == "version")
            r.Version = value;
        else if (key == "date")
            r.Date = value;
        else if (key == "sequence") {
            try {
                r.Sequence = std::stoll(value);
                haveSequence = true;
            } catch (...) {
                ok = false;
            }
        } else if (key == "state") {
            haveState = true;
            if (value == "installed")
                r.State = RecordState::Installed;
            else if (value == "installing")
                r.State = RecordState::Installing;
            else if (value == "removing")
                r.State = RecordState::Removing;
            else
                ok = false;
        } else if (key == "folder") {
            r.Folders.push_back(value);
        } else if (key == "file") {
            RecordedFile f;
            ok = ParseFile(value, f);
            if (ok)
                r.Files.push_back(f);
        } else if (key == "step") {
            RemovalStep s;
            size_t space = value.find(' ');
            ok = space != std::string::npos && ParseAction(value.substr(0, space), s.What);
            if (ok) {
                s.Path = value.substr(space + 1);
                r.Plan.push_back(s);
            }
        } else if (key == "later") {
            ok = !r.Plan.empty();
            if (ok)
                r.Plan.back().LaterCopy = value;
        }
        if (!ok)
            return Result::EntryFailure("line " + std::to_string(number) + " cannot be read");
    }
    if (!haveSequence || !haveState)
        return Result::EntryFailure("it names no sequence or state");
    return Result::Success();
}

void WriteInstallRecord(const std::string& dataFolder, const InstallRecord& record) {
    detail::WriteFileAtomically(platform::ToNative(RecordFolder(dataFolder)) /
                                    platform::ToNative(record.Key + kExtension),
                                FormatInstallRecord(record));
}

std::vector<InstallRecord> ListInstallRecords(const std::string& dataFolder,
                                              std::vector<std::string>* problems) {
    std::vector<InstallRecord> records;
    std::error_code ec;
    const fs::path folder = platform::ToNative(RecordFolder(dataFolder));
    for (fs::directory_iterator d(folder, ec), end; !ec && d != end; d.increment(ec)) {
        const fs::path& p = d->path();
        if (p.extension() != kExtension || !d->is_regular_file(ec))
            continue;
        std::ifstream in(p, std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(in)), {});
        InstallRecord r;
        r.Key = platform::FromNative(p.stem());
        Result read = in ? ParseInstallRecord(text, r) : Result::EntryFailure("it cannot be read");
        if (!read) {
            if (problems)
                problems->push_back(platform::FromNative(p) + ": " + read.Message);
            continue;
        }
        records.push_back(std::move(r));
    }
    std::sort(records.begin(), records.end(), [](const InstallRecord& a, const InstallRecord& b) {
        return a.Sequence < b.Sequence;
    });
    return records;
}

std::optional<InstallRecord> FindInstallRecord(const std::string& dataFolder,
                                               const std::string& what) {
    const std::string wanted = detail::FoldCase(what);
    for (InstallRecord& r : ListInstallRecords(dataFolder))
        if (r.Key == RecordKey(what) || detail::FoldCase(r.Archive) == wanted ||
            (!r.Name.empty() && detail::FoldCase(r.Name) == wanted))
            return std::move(r);
    return std::nullopt;
}

} // namespace qvr
