#pragma once
// The one place that knows how a QVR archive is laid out (docs/format.md describes it).
// Positions are 1-based, as the format's first writers counted them; numbers are stored
// little-endian.

#include "qvr/format/sgFileInfo.h"

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace qvr {
class RandomAccessFile;
}

namespace qvr::format {

inline constexpr std::string_view kMagic{"QVR1.0", 6};
inline constexpr int64_t kMagicPosition = 1;
// Where the 4-byte position of the directory is kept; 0 there means "no entries yet".
inline constexpr int64_t kDirectoryPositionAt = 7;
inline constexpr int64_t kHeadLength = 10;
inline constexpr int64_t kFirstBlock = kHeadLength + 1;
// Every block starts with the 4-byte length of the data it inflates to.
inline constexpr int64_t kBlockPrefix = 4;
// A text in a record is read from a window of this many bytes and ends in a NUL inside it.
inline constexpr size_t kTextWindow = 255;
inline constexpr size_t kMaxTextBytes = kTextWindow - 1;
inline constexpr int64_t kMaxArchive = std::numeric_limits<int32_t>::max();
// A directory is a few hundred bytes per entry; more than this is not a directory.
inline constexpr int64_t kMaxDirectory = int64_t{64} * 1024 * 1024;
// The plug-in information is a handful of texts; readers take an information entry up to this
// size and writers store none larger.
inline constexpr int64_t kMaxInfoEntry = int64_t{16} * 1024 * 1024;
// A record holds two numbers and five texts.
inline constexpr int64_t kMaxRecordBytes = 8 + 5 * static_cast<int64_t>(kTextWindow);

int32_t GetLong(const void* bytes);
void PutLong(void* bytes, int32_t value);
void AppendLong(std::string& out, int32_t value);
uint16_t GetShort(const void* bytes);
// Any width up to 8 bytes (zip files use 2, 4 and 8).
uint64_t GetLittleEndian(const void* bytes, int width);

// The head of an archive without entries.
std::string EmptyHead();

struct Head {
    int64_t Length = 0;    // of the whole file
    int32_t Directory = 0; // position of the directory; 0 when the archive holds no entries
    bool Empty() const { return Directory == 0; }
    // Where the blocks end: the directory, or one past the end of an empty archive.
    int64_t DataEnd() const { return Directory == 0 ? Length + 1 : Directory; }
};

bool HasMagic(RandomAccessFile& file);
// The head, checked: the directory lies behind the first block position and inside the file.
// Throws ArchiveError naming the file.
Head ReadHead(RandomAccessFile& file);
// The directory's bytes ("" for an empty archive), refused above kMaxDirectory. Throws.
std::string ReadDirectory(RandomAccessFile& file, const Head& head);
// Throws ArchiveError naming archive when a directory of length bytes would be refused by
// ReadDirectory: a writer must never make a package its readers cannot open.
void CheckDirectoryLength(int64_t length, const std::string& archive);
void WriteDirectoryPosition(RandomAccessFile& file, int64_t position);

// A record's bytes; throws ArchiveError when a text cannot be stored.
std::string EncodeRecord(const sgFileInfo& entry);
// The stored size text as a number: an optional '-' and digits that fit 32 bits.
bool ParseSizeText(const std::string& text, int32_t& value);

// A record as stored, its texts not yet read as names and numbers: what a careful check needs to
// say exactly what is wrong with it.
struct StoredRecord {
    int32_t Offset = 0, Compressed = 0;
    std::string Texts[5]; // name, folder, date, size, archive date; Windows-1252, as stored
    enum class End { Whole, CutShort, TextWithoutEnd } How = End::Whole;
    int Field = -1; // the text that has no end within its window (TextWithoutEnd)
    const std::string& Name() const { return Texts[0]; }
    const std::string& Path() const { return Texts[1]; }
    const std::string& SizeText() const { return Texts[3]; }
};
inline constexpr const char* kRecordFields[5] = {"file name", "folder", "date", "size",
                                                 "archive date"};
// Reads the record at `at` in a directory's bytes; when it is Whole, `at` lies behind it.
StoredRecord ScanRecord(std::string_view bytes, size_t& at);
// One record at `at` in bytes; on success `at` lies behind it. why says what is wrong.
bool DecodeRecord(std::string_view bytes, size_t& at, sgFileInfo& entry, std::string& why);

struct Decoded {
    std::vector<sgFileInfo> Entries; // the records read, up to the first that cannot be
    std::string Problem;             // "" when every byte was read as whole records
    bool Complete() const { return Problem.empty(); }
};
// Every record in a directory's bytes. `where` names the file in messages.
Decoded DecodeRecords(std::string_view bytes, const std::string& where);

// True when the block [offset, offset + size) holds at least its prefix and ends by dataEnd.
bool BlockInside(int64_t offset, int64_t size, int64_t dataEnd);

} // namespace qvr::format
