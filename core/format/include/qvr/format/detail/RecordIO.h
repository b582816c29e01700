#pragma once
// A directory record, or a zip local file header, read from or written to an open file. These
// throw ArchiveError; the public operations that use them answer a Result.

#include "qvr/format/sgFileInfo.h"

#include <cstdint>

namespace qvr {

class RandomAccessFile;

namespace detail {

// Writes one directory record at vCurPos (1-based) and leaves vCurPos behind it. Texts are held
// as UTF-8 and stored as Windows-1252; throws when a text cannot be stored (not representable,
// or longer than 254 bytes).
void WriteHeaderData(const sgFileInfo& entry, RandomAccessFile& vFileN, int32_t& vCurPos);
// Reads one zip local file header; false when the bytes are not a version-20 local header.
bool ParseZipHeader(sgFileInfo& entry, RandomAccessFile& vFileN, int32_t& vCurPos);
// Reads one directory record; throws when FileSize is not a number.
void ParseHeaderData(sgFileInfo& entry, RandomAccessFile& vFileN, int32_t& vCurPos);

} // namespace detail
} // namespace qvr
