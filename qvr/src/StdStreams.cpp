#include "StdStreams.h"

#include "Command.h"

#include "qvr/platform/FileUtils.h"

#include <atomic>
#include <cstdio>
#include <fstream>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

namespace qvrtool {

namespace {

unsigned long ProcessNumber() {
#ifdef _WIN32
    return static_cast<unsigned long>(_getpid());
#else
    return static_cast<unsigned long>(::getpid());
#endif
}

} // namespace

SpoolFolder::~SpoolFolder() {
    std::error_code ec;
    if (!m_folder.empty())
        fs::remove_all(m_folder, ec);
}

std::string SpoolFolder::PathOf(const std::string& name) {
    if (m_folder.empty()) {
        static std::atomic<int> counter{0};
        for (int attempt = 0; attempt < 100 && m_folder.empty(); ++attempt) {
            const fs::path candidate =
                Native(qvr::GetTempFolder()) /
                ("qvr-" + std::to_string(ProcessNumber()) + "-" + std::to_string(counter++));
            std::error_code ec;
            if (fs::create_directory(candidate, ec))
                m_folder = candidate;
        }
        if (m_folder.empty())
            throw CommandError{kUsage, "cannot make a folder in " + qvr::GetTempFolder() +
                                           " to hold the package"};
    }
    return Utf8(m_folder / Native(name));
}

std::string ArchiveOperand(const std::string& operand, SpoolFolder& spool) {
    if (operand != "-")
        return operand;
#ifdef _WIN32
    _setmode(_fileno(stdin), _O_BINARY);
#endif
    std::string path = spool.PathOf("stdin.qvr");
    {
        std::ofstream out(Native(path), std::ios::binary | std::ios::trunc);
        std::vector<char> buffer(1 << 16);
        size_t n;
        while ((n = std::fread(buffer.data(), 1, buffer.size(), stdin)) > 0)
            out.write(buffer.data(), static_cast<std::streamsize>(n));
        if (std::ferror(stdin))
            throw CommandError{kUsage, "standard input cannot be read"};
        if (!out.flush())
            throw CommandError{kUsage, "the package on standard input cannot be kept in " +
                                           qvr::GetTempFolder() + " (is the disk full?)"};
    }
    qvr::Archives arc;
    if (!arc.Open(path).Usable())
        return path;
    std::string named;
    for (const auto& e : arc.ArchiveFiles) {
        if (!e.FilePath().empty() || !Lower(e.FileName()).ends_with(".qvr.ifo"))
            continue;
        if (!named.empty())
            return path; // two candidates: none is the information entry
        named = e.FileName().substr(0, e.FileName().size() - 4);
    }
    // Only a plain name can be a file name here.
    if (named.empty() || named.find_first_of("/\\:") != std::string::npos)
        return path;
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
    while (in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        const size_t n = static_cast<size_t>(in.gcount());
        if (n > 0 && std::fwrite(buffer.data(), 1, n, stdout) != n)
            break;
    }
    if (!in.eof() || std::fflush(stdout) != 0)
        throw CommandError{kSomeFailed, "the package could not be written to standard output"};
}

} // namespace qvrtool
