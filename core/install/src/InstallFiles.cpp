#include "qvr/install/detail/InstallFiles.h"

#include "qvr/format/detail/WholeMember.h"
#include "qvr/platform/FileUtils.h"
#include "qvr/platform/TempFile.h"
#include "qvr/platform/detail/RandomAccessFile.h"
#include "qvr/platform/detail/TestHooks.h"
#include "qvr/platform/detail/platform.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace qvr::detail {

void Step() {
    testhooks::Step();
}

bool FileCrc(const fs::path& file, int64_t& size, uint32_t& crc) {
    try {
        RandomAccessFile in(platform::FromNative(file), RandomAccessFile::Mode::Read);
        size = in.Length();
        uint32_t sum = 0;
        // No larger than the file: a mod's thousands of small files would each pay for
        // mapping and clearing a large buffer.
        std::vector<unsigned char> buf(
            static_cast<size_t>(std::clamp<int64_t>(size, 1, 256 * 1024)));
        for (int64_t pos = 1; pos <= size;) {
            size_t got = in.ReadAt(pos, buf.data(), buf.size());
            if (got == 0)
                break;
            sum = Crc32(sum, buf.data(), got);
            pos += static_cast<int64_t>(got);
        }
        crc = sum;
        return true;
    } catch (...) {
        return false;
    }
}

namespace {
enum class Unreadable { Differs, Throws };

bool Compare(const fs::path& file, int64_t size, uint32_t crc, Unreadable unreadable) {
    std::error_code ec;
    if (!fs::is_regular_file(fs::symlink_status(file, ec)) ||
        static_cast<int64_t>(fs::file_size(file, ec)) != size || ec)
        return false;
    int64_t actualSize = 0;
    uint32_t actual = 0;
    if (!FileCrc(file, actualSize, actual)) {
        if (unreadable == Unreadable::Throws)
            throw std::runtime_error("cannot read " + platform::FromNative(file));
        return false;
    }
    return actualSize == size && actual == crc;
}
} // namespace

bool FileMatches(const fs::path& file, int64_t size, uint32_t crc) {
    return Compare(file, size, crc, Unreadable::Differs);
}

bool FileMatchesOrThrow(const fs::path& file, int64_t size, uint32_t crc) {
    return Compare(file, size, crc, Unreadable::Throws);
}

bool HoldsMember(Archives& arc, const sgFileInfo& entry, const std::string& file,
                 std::string& why) {
    if (FileLength(file) != entry.FileSize()) {
        why = "its size differs from the archive's file";
        return false;
    }
    const Archives::WorkFile work = arc.NewWorkFile("compare");
    if (!work.Outcome) {
        why = "it cannot be compared: " + work.Outcome.Message;
        return false;
    }
    uint32_t memberCrc = 0;
    const Result extracted = arc.ExtractEntry(entry, work.Path, true, &memberCrc);
    DeleteFileQuiet(work.Path);
    if (!extracted) {
        why = "it cannot be compared: " + extracted.Message;
        return false;
    }
    if (!FileMatches(platform::ToNative(file), entry.FileSize(), memberCrc)) {
        why = "its content differs from the archive's file";
        return false;
    }
    return true;
}

void MoveFile(const fs::path& from, const fs::path& to) {
    Step();
    testhooks::Operation(testhooks::Op::Rename, platform::FromNative(from).c_str());
    std::error_code ec;
    fs::create_directories(to.parent_path(), ec);
    fs::rename(from, to, ec);
    if (ec == std::errc::cross_device_link) {
        // Another file system: a copy made whole on the disk before the original goes.
        std::string temp = platform::FromNative(to) + ".part";
        ec.clear();
        fs::copy_file(from, platform::ToNative(temp), fs::copy_options::overwrite_existing, ec);
        if (!ec) {
            // A rename keeps the file's time; so does this move (the copy's time is now).
            std::error_code timeless;
            fs::last_write_time(platform::ToNative(temp), fs::last_write_time(from, timeless),
                                timeless);
            try {
                RandomAccessFile(temp, RandomAccessFile::Mode::ReadWrite).Sync();
            } catch (...) {
            }
            fs::rename(platform::ToNative(temp), to, ec);
        }
        std::error_code left;
        if (ec) // a full disk: no half copy stays beside the player's files
            fs::remove(platform::ToNative(temp), left);
        if (!ec)
            fs::remove(from, ec);
    }
    if (ec)
        throw std::runtime_error("cannot move " + platform::FromNative(from) + " to " +
                                 platform::FromNative(to) + ": " + ec.message());
}

bool RemoveFile(const fs::path& file, std::string* why) {
    Step();
    try {
        testhooks::Operation(testhooks::Op::Delete, platform::FromNative(file).c_str());
    } catch (const std::exception& e) {
        if (why)
            *why = e.what();
        return false; // as a delete the system refused
    }
    std::error_code ec, checked;
    fs::remove(file, ec);
    if (!fs::exists(fs::symlink_status(file, checked)))
        return true;
    if (why)
        *why = ec ? ec.message() : "it is still there";
    return false;
}

void WriteFileAtomically(const fs::path& file, const std::string& text) {
    Step();
    std::error_code ec;
    // Said as the folder the user can act on, not as the work file that could not be made there.
    if (!fs::create_directories(file.parent_path(), ec) && ec)
        throw std::runtime_error("Cannot make the folder " +
                                 platform::FromNative(file.parent_path()) + ": " + ec.message());
    const std::string target = platform::FromNative(file);
    if (const Result written = ReplaceFileContent(target, text); !written)
        throw std::runtime_error(written.Message);
}

void SetFileTime(const fs::path& file, int64_t seconds) {
    std::error_code ec;
    const auto when = std::chrono::system_clock::from_time_t(static_cast<time_t>(seconds));
    fs::last_write_time(file, std::chrono::file_clock::from_sys(when), ec);
}

void RemoveEmptyFolder(const fs::path& folder) {
    std::error_code ec;
    if (!fs::is_directory(fs::symlink_status(folder, ec)) || !fs::is_empty(folder, ec))
        return;
    Step();
    fs::remove(folder, ec);
}

} // namespace qvr::detail
