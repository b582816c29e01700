#include "StdStreams.h"

#include "Command.h"

#include "qvr/platform/FileUtils.h"
#include "qvr/platform/WorkFiles.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <vector>
#include <zlib.h>

#include <iostream>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace qvrtool {

namespace {

// Spool folders of earlier versions, "qvr-PID-N" holding one package, which an interrupted
// run left behind: removed once their process has ended.
void SweepOldSpools(const fs::path& temp) {
    std::error_code ec;
    for (fs::directory_iterator it(temp, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = Utf8(it->path().filename());
        const size_t dash = name.find('-', 4);
        if (!name.starts_with("qvr-") || dash == std::string::npos || dash == 4 ||
            name.find_first_not_of("0123456789-", 4) != std::string::npos ||
            !it->is_directory(ec) || it->is_symlink(ec))
            continue;
        const unsigned long long pid = std::strtoull(name.c_str() + 4, nullptr, 10);
        if (pid == 0 || pid > UINT32_MAX || qvr::ProcessMayBeRunning(static_cast<uint32_t>(pid)))
            continue;
        size_t packages = 0, others = 0;
        for (fs::directory_iterator in(it->path(), ec), stop; !ec && in != stop; in.increment(ec))
            (in->is_regular_file(ec) && in->path().extension() == ".qvr" ? packages : others)++;
        if (!ec && others == 0 && packages <= 1)
            fs::remove_all(it->path(), ec);
    }
}

} // namespace

SpoolFolder::~SpoolFolder() {
    if (!m_folder.empty())
        qvr::RemoveWorkFolder(m_folder);
}

std::string SpoolFolder::PathOf(const std::string& name) {
    if (m_folder.empty()) {
        const std::string temp = qvr::GetTempFolder();
        qvr::RemoveStaleWorkFiles(temp);
        SweepOldSpools(Native(temp));
        if (!qvr::MakeWorkFolder(temp, "spool", m_folder))
            throw CommandError{kUsage, "cannot make a folder in " + temp + " to hold the package"};
    }
    return Utf8(Native(m_folder) / Native(name));
}

std::string ArchiveOperand(const std::string& operand, SpoolFolder& spool) {
    if (operand != "-")
        return operand;
#ifdef _WIN32
    _setmode(_fileno(stdin), _O_BINARY);
#endif
    std::string path = spool.PathOf("stdin.qvr");
    uLong crc = crc32(0, nullptr, 0);
    {
        std::ofstream out(Native(path), std::ios::binary | std::ios::trunc);
        std::vector<char> buffer(1 << 16);
        size_t n;
        while ((n = std::fread(buffer.data(), 1, buffer.size(), stdin)) > 0) {
            out.write(buffer.data(), static_cast<std::streamsize>(n));
            crc = crc32(crc, reinterpret_cast<const Bytef*>(buffer.data()), static_cast<uInt>(n));
        }
        if (std::ferror(stdin))
            throw CommandError{kUsage, "standard input cannot be read"};
        if (!out.flush())
            throw CommandError{kUsage, "the package on standard input cannot be kept in " +
                                           qvr::GetTempFolder() + " (is the disk full?)"};
    }
    // Named by its information entry when it is a package that has one, else by its bytes: the
    // install's record knows an archive by its file name, and two archives read from standard
    // input must not pass for one (the second would take the first one's install back).
    char sum[16];
    std::snprintf(sum, sizeof sum, "%08lx", static_cast<unsigned long>(crc & 0xFFFFFFFFu));
    qvr::Archives arc;
    const bool package = arc.Open(path).Usable();
    std::string named = std::string("stdin-") + sum + (package ? ".qvr" : "");
    std::string info;
    for (const auto& e : package ? arc.ArchiveFiles : std::vector<qvr::sgFileInfo>{}) {
        if (!e.FilePath().empty() || !Lower(e.FileName()).ends_with(".qvr.ifo"))
            continue;
        if (!info.empty()) {
            info.clear(); // two candidates: none is the information entry
            break;
        }
        info = e.FileName().substr(0, e.FileName().size() - 4);
    }
    // Only a plain name can be a file name here.
    if (!info.empty() && info.find_first_of("/\\:") == std::string::npos)
        named = info;
    const std::string renamed = spool.PathOf(named);
    std::error_code ec;
    fs::rename(Native(path), Native(renamed), ec);
    return ec ? path : renamed;
}

void CopyToStdout(const std::string& path) {
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    std::ifstream in(Native(path), std::ios::binary);
    std::vector<char> buffer(1 << 16);
    errno = 0;
    while (in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        const size_t n = static_cast<size_t>(in.gcount());
        if (n > 0 && std::fwrite(buffer.data(), 1, n, stdout) != n)
            break;
    }
    if (!in.eof() || std::fflush(stdout) != 0) {
        if (errno == EPIPE)
            throw CommandError{kBrokenPipe, ""};
        throw CommandError{kSomeFailed, "the package could not be written to standard output"};
    }
}

std::string StdoutFileName() {
#ifdef _WIN32
    const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == INVALID_HANDLE_VALUE || ::GetFileType(out) != FILE_TYPE_DISK)
        return {};
    wchar_t buffer[32768];
    const DWORD n = ::GetFinalPathNameByHandleW(out, buffer, 32768, FILE_NAME_NORMALIZED);
    if (n == 0 || n >= 32768)
        return {};
    return Utf8(fs::path(std::wstring(buffer, n)).filename());
#else
    struct stat st {};
    if (::fstat(1, &st) != 0 || !S_ISREG(st.st_mode))
        return {};
    std::error_code ec;
    const fs::path target = fs::read_symlink("/proc/self/fd/1", ec);
    // A file deleted while open is named "NAME (deleted)" there: no name to go by.
    if (ec || !target.is_absolute() || Utf8(target).ends_with(" (deleted)"))
        return {};
    return Utf8(target.filename());
#endif
}

RenamedOnStderr::Buffer::Buffer(std::streambuf* target, std::string from, std::string to)
    : m_target(target), m_from(std::move(from)), m_to(std::move(to)) {}

void RenamedOnStderr::Buffer::Flush() {
    for (size_t at = m_from.empty() ? std::string::npos : m_line.find(m_from);
         at != std::string::npos; at = m_line.find(m_from, at + m_to.size()))
        m_line.replace(at, m_from.size(), m_to);
    m_target->sputn(m_line.data(), static_cast<std::streamsize>(m_line.size()));
    m_target->pubsync();
    m_line.clear();
}

RenamedOnStderr::Buffer::int_type RenamedOnStderr::Buffer::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof()))
        return traits_type::not_eof(c);
    m_line += traits_type::to_char_type(c);
    // A line at a time, so that a name is never cut in two.
    if (m_line.back() == '\n')
        Flush();
    return c;
}

int RenamedOnStderr::Buffer::sync() {
    // Standard error flushes after every piece; the line is written when it is whole.
    return 0;
}

RenamedOnStderr::RenamedOnStderr(std::string from, std::string to)
    : m_buffer(std::cerr.rdbuf(), std::move(from), std::move(to)), m_out(std::cout.rdbuf(&m_held)),
      m_err(std::cerr.rdbuf(&m_buffer)) {}

void RenamedOnStderr::Release() {
    const std::string held = m_held.str();
    m_held.str({});
    m_buffer.sputn(held.data(), static_cast<std::streamsize>(held.size()));
    m_buffer.Flush();
}

RenamedOnStderr::~RenamedOnStderr() {
    m_buffer.Flush();
    std::cout.rdbuf(m_out);
    std::cerr.rdbuf(m_err);
}

} // namespace qvrtool
