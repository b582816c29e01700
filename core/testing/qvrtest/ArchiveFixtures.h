#pragma once
// Archives as players download them, made by the tests: zip and tar through Python's zipfile
// and tarfile, 7z through the 7z program, and RAR5 byte by byte (stored members), so no
// sample file is needed.

#include "qvrtest/Bytes.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>
#include <zlib.h>

namespace qvrtest {

enum class ArchiveFormat { Zip, SevenZip, Rar5, Tar, TarGz };

inline const char* Extension(ArchiveFormat f) {
    switch (f) {
    case ArchiveFormat::Zip:
        return ".zip";
    case ArchiveFormat::SevenZip:
        return ".7z";
    case ArchiveFormat::Rar5:
        return ".rar";
    case ArchiveFormat::Tar:
        return ".tar";
    case ArchiveFormat::TarGz:
        return ".tar.gz";
    }
    return "";
}

// Kind: what the entry is (zip and tar can hold any; 7z links and files; RAR5 files).
struct ArchiveMember {
    std::string Path;
    std::string Content;
    enum Type { File, Symlink, Hardlink, Device } Kind = File; // Content: a link's target
};

inline std::string ShellQuote(const std::string& s) {
    std::string out = "'";
    for (char c : s)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// RAR5's variable-length number: seven bits a byte, low bits first.
inline std::string Vint(uint64_t v) {
    std::string out;
    do {
        unsigned char c = v & 0x7F;
        v >>= 7;
        out += static_cast<char>(v ? c | 0x80 : c);
    } while (v);
    return out;
}

inline std::string Crc32Le(const std::string& bytes) {
    return Le32(static_cast<int32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size()))));
}

// One header: its crc32, its size, then the fields from its type on.
inline std::string Rar5Header(const std::string& fields) {
    const std::string sized = Vint(fields.size()) + fields;
    return Crc32Le(sized) + sized;
}

// A RAR5 archive of stored members, as the format's documentation lays it out: the signature,
// the main archive header (volume: the flag of one volume of several), a file header and the
// data of each member, and the end of archive header.
inline std::string Rar5Stored(const std::vector<ArchiveMember>& members, bool volume = false) {
    std::string out = std::string("Rar!\x1A\x07\x01\x00", 8);
    out += Rar5Header(Vint(1) + Vint(0) + Vint(volume ? 1 : 0));
    for (const ArchiveMember& m : members) {
        const std::string fields = Vint(2) + Vint(0x0002) + Vint(m.Content.size()) // data area
                                   + Vint(0x0004)                                  // crc present
                                   + Vint(m.Content.size()) + Vint(0100644)        // unix mode
                                   + Crc32Le(m.Content) + Vint(0) /* stored */ + Vint(1) /* unix */
                                   + Vint(m.Path.size()) + m.Path;
        out += Rar5Header(fields) + m.Content;
    }
    return out + Rar5Header(Vint(5) + Vint(0) + Vint(0));
}

// A RAR4 header: the low half of the crc32 of the rest, then the rest.
inline std::string Rar4Header(const std::string& rest) {
    const std::string crc = Crc32Le(rest);
    return crc.substr(0, 2) + rest;
}

// A RAR4 archive of stored members (the older format; volume: one volume of several).
inline std::string Rar4Stored(const std::vector<ArchiveMember>& members, bool volume = false) {
    auto le16 = [](unsigned v) { return std::string{char(v & 0xFF), char(v >> 8)}; };
    std::string out = std::string("Rar!\x1A\x07\x00", 7);
    out += Rar4Header("\x73" + le16(volume ? 1 : 0) + le16(13) + std::string(6, '\0'));
    for (const ArchiveMember& m : members) {
        const auto size = static_cast<int32_t>(m.Content.size());
        out += Rar4Header("\x74" + le16(0x8000) + le16(32 + static_cast<unsigned>(m.Path.size())) +
                          Le32(size) + Le32(size) + "\x03" /* unix */ + Crc32Le(m.Content) +
                          Le32(0x2E672F00) /* a DOS date */ + "\x14\x30" /* 2.0, stored */ +
                          le16(static_cast<unsigned>(m.Path.size())) + Le32(0100644) + m.Path) +
               m.Content;
    }
    return out + Rar4Header("\x7B" + le16(0x4000) + le16(7));
}

// Runs a Python script with the members in a file beside out (content as latin-1 text).
inline bool RunPython(const std::string& script, const std::filesystem::path& out,
                      const std::vector<ArchiveMember>& members) {
    const std::filesystem::path list = out.string() + ".members";
    {
        std::ofstream f(list, std::ios::binary);
        for (const ArchiveMember& m : members) {
            std::string hex;
            for (unsigned char c : m.Content) {
                const char* digits = "0123456789abcdef";
                hex += digits[c >> 4];
                hex += digits[c & 15];
            }
            f << static_cast<int>(m.Kind) << "\t" << m.Path << "\t" << hex << "\n";
        }
    }
    const std::string command = "python3 -c " + ShellQuote(script) + " " +
                                ShellQuote(list.string()) + " " + ShellQuote(out.string());
    const bool ok = std::system(command.c_str()) == 0;
    std::filesystem::remove(list);
    return ok;
}

inline const char* kPythonMembers = R"(import sys
def members():
    for line in open(sys.argv[1], encoding='utf-8'):
        kind, path, hexdata = line.rstrip('\n').split('\t')
        yield int(kind), path, bytes.fromhex(hexdata)
)";

inline bool MakeZip(const std::filesystem::path& out, const std::vector<ArchiveMember>& members) {
    const std::string script = std::string(kPythonMembers) + R"(
import zipfile
with zipfile.ZipFile(sys.argv[2], 'w', zipfile.ZIP_DEFLATED) as z:
    for kind, path, data in members():
        info = zipfile.ZipInfo(path, (2003, 3, 7, 14, 5, 8))
        info.create_system = 3
        info.external_attr = (0o120777 if kind == 1 else 0o100644) << 16
        info.compress_type = zipfile.ZIP_DEFLATED
        z.writestr(info, data)
)";
    return RunPython(script, out, members);
}

inline bool MakeTar(const std::filesystem::path& out, const std::vector<ArchiveMember>& members,
                    bool gzip) {
    const std::string script = std::string(kPythonMembers) + R"(
import io, tarfile
with tarfile.open(sys.argv[2], 'w:gz' if sys.argv[2].endswith('.gz') else 'w') as t:
    for kind, path, data in members():
        info = tarfile.TarInfo(path)
        info.mtime = 1047045909
        if kind == 0:
            info.size = len(data)
            t.addfile(info, io.BytesIO(data))
            continue
        info.type = {1: tarfile.SYMTYPE, 2: tarfile.LNKTYPE, 3: tarfile.CHRTYPE}[kind]
        info.linkname = data.decode('latin-1')
        t.addfile(info)
)";
    std::filesystem::path target = out;
    if (gzip && target.extension() != ".gz")
        target += ".gz";
    return RunPython(script, target, members);
}

// Through a folder holding the members (letter-case twins need a file system that keeps them).
inline bool Make7z(const std::filesystem::path& out, const std::vector<ArchiveMember>& members,
                   const std::string& options = "") {
    const std::filesystem::path folder = out.string() + ".files";
    std::filesystem::remove_all(folder);
    for (const ArchiveMember& m : members) {
        const std::filesystem::path file = folder / m.Path;
        std::filesystem::create_directories(file.parent_path());
        if (m.Kind == ArchiveMember::Symlink) {
            std::filesystem::create_symlink(m.Content, file);
            continue;
        }
        std::ofstream(file, std::ios::binary) << m.Content;
    }
    const std::string command = "cd " + ShellQuote(folder.string()) + " && 7z a -bd -y -snl " +
                                options + " " + ShellQuote(out.string()) + " -- * > /dev/null";
    const bool ok = std::system(command.c_str()) == 0;
    std::filesystem::remove_all(folder);
    return ok;
}

inline bool MakeArchive(ArchiveFormat f, const std::filesystem::path& out,
                        const std::vector<ArchiveMember>& members) {
    switch (f) {
    case ArchiveFormat::Zip:
        return MakeZip(out, members);
    case ArchiveFormat::SevenZip:
        return Make7z(out, members);
    case ArchiveFormat::Rar5: {
        std::ofstream(out, std::ios::binary) << Rar5Stored(members);
        return true;
    }
    case ArchiveFormat::Tar:
        return MakeTar(out, members, false);
    case ArchiveFormat::TarGz:
        return MakeTar(out, members, true);
    }
    return false;
}

} // namespace qvrtest
