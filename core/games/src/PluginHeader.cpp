#include "qvr/games/PluginHeader.h"

#include "qvr/package/EntryPrefix.h"
#include "qvr/platform/Encoding.h"
#include "qvr/platform/detail/RandomAccessFile.h"

#include <cstring>

namespace qvr {

namespace {

constexpr size_t kHedrSize = 300;
constexpr size_t kAuthorSize = 32;
constexpr size_t kDescriptionSize = 256;
constexpr uint32_t kMasterFlag = 0x1;

uint32_t U32(std::string_view b, size_t at) {
    uint32_t v = 0;
    for (int k = 3; k >= 0; --k)
        v = (v << 8) | static_cast<unsigned char>(b[at + k]);
    return v;
}

uint64_t U64(std::string_view b, size_t at) {
    return U32(b, at) | (uint64_t{U32(b, at + 4)} << 32);
}

// A subrecord's name as it may be shown: four letters, else said in words.
std::string Shown(const std::string& name) {
    for (unsigned char c : name)
        if (c < 0x21 || c > 0x7E)
            return "subrecord";
    return name;
}

// A fixed-size text field: up to its first NUL.
std::string Text(std::string_view field) {
    return Cp1252ToUtf8(std::string(field.substr(0, std::min(field.find('\0'), field.size()))));
}

void ParseHedr(std::string_view d, PluginHeader& h) {
    const uint32_t bits = U32(d, 0);
    std::memcpy(&h.Version, &bits, sizeof bits);
    h.IsMaster = (U32(d, 4) & kMasterFlag) != 0;
    h.Author = Text(d.substr(8, kAuthorSize));
    h.Description = Text(d.substr(8 + kAuthorSize, kDescriptionSize));
    h.Records = U32(d, 8 + kAuthorSize + kDescriptionSize);
}

// The subrecords of the header record, in the order the game requires: FORM (files OpenMW
// wrote) before HEDR, then MAST and DATA in pairs; anything after them is left alone.
Result ParseSubrecords(std::string_view body, PluginHeader& h) {
    bool sawForm = false, sawHedr = false, pending = false;
    size_t at = 0;
    while (at < body.size()) {
        if (body.size() - at < 8)
            return Result::EntryFailure("a subrecord of its header is cut short");
        const std::string name(body.substr(at, 4));
        const uint32_t size = U32(body, at + 4);
        if (size > body.size() - at - 8)
            return Result::EntryFailure("its header's " + Shown(name) + " claims " +
                                        std::to_string(size) +
                                        " bytes, more than the header holds");
        const std::string_view data = body.substr(at + 8, size);
        at += 8 + size;
        if (name == "FORM" && !sawForm && !sawHedr) {
            sawForm = true;
        } else if (name == "HEDR" && !sawHedr) {
            if (size < kHedrSize)
                return Result::EntryFailure("its HEDR holds " + std::to_string(size) +
                                            " bytes, not " + std::to_string(kHedrSize));
            ParseHedr(data, h);
            sawHedr = true;
        } else if (!sawHedr) {
            return Result::EntryFailure("its header does not begin with HEDR");
        } else if (name == "MAST" && !pending) {
            PluginMaster m{std::string(data.substr(0, std::min(data.find('\0'), data.size()))), 0};
            m.Name = Cp1252ToUtf8(m.Name);
            if (!IsMasterName(m.Name))
                return Result::EntryFailure("master " + std::to_string(h.Masters.size() + 1) +
                                            " of its header is not a file name");
            h.Masters.push_back(std::move(m));
            pending = true;
        } else if (name == "DATA" && pending) {
            if (size != 8)
                return Result::EntryFailure("the DATA of master " +
                                            std::to_string(h.Masters.size()) + " holds " +
                                            std::to_string(size) + " bytes, not 8");
            h.Masters.back().Size = U64(data, 0);
            pending = false;
        } else if (pending) {
            return Result::EntryFailure("master " + std::to_string(h.Masters.size()) +
                                        " of its header has no DATA");
        } else if (name == "MAST" || name == "DATA" || name == "HEDR" || name == "FORM") {
            return Result::EntryFailure("its header holds a stray " + name);
        }
    }
    if (pending)
        return Result::EntryFailure("master " + std::to_string(h.Masters.size()) +
                                    " of its header has no DATA");
    if (!sawHedr)
        return Result::EntryFailure("its header holds no HEDR");
    return Result::Success();
}

// How many bytes the header takes, from its first kRecordHeader bytes; 0 when refused.
size_t HeaderLength(std::string_view start, Result& why) {
    if (start.size() < kRecordHeader || start.substr(0, 4) != "TES3") {
        why = Result::EntryFailure("not a plug-in: it does not begin with a TES3 header");
        return 0;
    }
    const uint32_t size = U32(start, 4);
    if (size > kMaxPluginHeader - kRecordHeader) {
        why = Result::EntryFailure("its header claims " + std::to_string(size) +
                                   " bytes, more than any plug-in's");
        return 0;
    }
    return kRecordHeader + size;
}

} // namespace

bool IsPluginFileName(const std::string& name) {
    const std::string l = LowerText(name);
    return l.ends_with(".esp") || l.ends_with(".esm") || l.ends_with(".omwaddon");
}

bool IsMasterName(const std::string& name) {
    if (name.empty() || name.size() > 255 || name == "." || name == ".." || !IsValidUtf8(name))
        return false;
    for (size_t i = 0; i < name.size(); ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        // C0 and C1 controls (U+0080 to U+009F are C2 80 to C2 9F in UTF-8) move terminals.
        const bool c1 = c == 0xC2 && i + 1 < name.size() &&
                        static_cast<unsigned char>(name[i + 1]) >= 0x80 &&
                        static_cast<unsigned char>(name[i + 1]) <= 0x9F;
        if (c < 0x20 || c == 0x7F || c1 || std::strchr("/\\:*?\"<>|", c))
            return false;
    }
    return true;
}

Result ParsePluginHeader(std::string_view bytes, PluginHeader& header) {
    header = {};
    Result why;
    const size_t length = HeaderLength(bytes, why);
    if (length == 0)
        return why;
    if (bytes.size() < length)
        return Result::EntryFailure("its header is cut short: it needs " + std::to_string(length) +
                                    " bytes, " + std::to_string(bytes.size()) + " are there");
    PluginHeader h;
    const Result parsed = ParseSubrecords(bytes.substr(kRecordHeader, length - kRecordHeader), h);
    if (parsed)
        header = std::move(h);
    return parsed;
}

Result ReadPluginHeader(const std::string& path, PluginHeader& header) {
    header = {};
    try {
        RandomAccessFile file(path, RandomAccessFile::Mode::Read);
        std::string bytes(kRecordHeader, '\0');
        bytes.resize(file.ReadAt(1, bytes.data(), bytes.size()));
        Result why;
        const size_t length = HeaderLength(bytes, why);
        if (length == 0)
            return why;
        bytes.resize(length);
        bytes.resize(kRecordHeader + file.ReadAt(1 + kRecordHeader, bytes.data() + kRecordHeader,
                                                 length - kRecordHeader));
        return ParsePluginHeader(bytes, header);
    } catch (const std::exception& e) {
        return Result::EntryFailure(e.what());
    }
}

Result ReadPluginHeader(const Archives& arc, const sgFileInfo& entry, PluginHeader& header) {
    header = {};
    std::string bytes;
    if (Result read = ReadEntryPrefix(arc, entry, kRecordHeader, bytes); !read)
        return read;
    Result why;
    const size_t length = HeaderLength(bytes, why);
    if (length == 0)
        return why;
    if (Result read = ReadEntryPrefix(arc, entry, length, bytes); !read)
        return read;
    return ParsePluginHeader(bytes, header);
}

std::vector<ArchivePlugin> ReadArchivePlugins(const Archives& arc) {
    std::vector<ArchivePlugin> out;
    for (const sgFileInfo& e : arc.ArchiveFiles) {
        if (!e.FilePath().empty() || arc.IsInfoEntry(e) || !IsPluginFileName(e.FileName()))
            continue;
        ArchivePlugin p{e, {}, {}};
        p.Read = ReadPluginHeader(arc, e, p.Header);
        out.push_back(std::move(p));
    }
    return out;
}

std::vector<PluginMasters> MastersOf(const std::vector<ArchivePlugin>& plugins) {
    std::vector<PluginMasters> out;
    for (const ArchivePlugin& p : plugins) {
        PluginMasters m{p.Entry.FileName(), {}};
        for (const PluginMaster& master : p.Header.Masters)
            m.Masters.push_back(master.Name);
        out.push_back(std::move(m));
    }
    return out;
}

std::vector<TimedPlugin> TimesOf(const std::vector<ArchivePlugin>& plugins) {
    std::vector<TimedPlugin> out;
    for (const PluginMasters& m : MastersOf(plugins))
        out.push_back({m.Name, 0, m.Masters});
    for (size_t i = 0; i < plugins.size(); ++i)
        out[i].Time = ArchiveFileTime(plugins[i].Entry.FileDate()).value_or(0);
    return out;
}

} // namespace qvr
