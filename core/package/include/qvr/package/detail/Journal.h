#pragma once
// The undo journal of an append, and the locked opening every reader and writer goes through.
//
// An append writes its blocks where the old directory began, then the directory, then the
// head. Before the first of those writes, what puts the archive back (its old length, the old
// directory's position and bytes) lies flushed in NAME-journal beside it; the journal goes
// once the change is flushed. Whoever opens the archive next and finds a journal puts the old
// state back, after checking that the journal is whole and fits this archive.
//
// A journal is known by its content (this program's mark, the archive's name, a checksum),
// never by its name: any other file called NAME-journal is left alone, and no change that
// would need that name is made while it is there.

#include "qvr/format/detail/Format.h"

#include <memory>
#include <string>

namespace qvr {
class RandomAccessFile;
}

namespace qvr::journal {

// Beside the file archive names, links followed. Throws when the links cannot be followed.
std::string PathFor(const std::string& archive);

// Writes and flushes the journal of a change that starts at the old directory of `arc`.
// Throws ArchiveError (also when another program's file holds the journal's name); then
// nothing was changed.
void Begin(RandomAccessFile& arc, const format::Head& head, const std::string& directory);
// The change is flushed: the journal goes. Throws when it cannot be deleted.
void End(const std::string& archive);

// With the exclusive lock on `arc` held: when a whole journal of this archive lies beside it,
// puts the old state back, flushes and deletes the journal, and answers true. Anything else of
// the journal's name (not whole, not ours, or not fitting this archive) is left alone and
// nothing is written. Throws when the old state cannot be written back.
bool RollBack(RandomAccessFile& arc);

// Whether the file at journalPath is a whole journal of this program for `archive`.
bool IsJournalOf(const std::string& journalPath, const std::string& archive);

// Opens archive with a shared lock (forChange false, read only) or an exclusive one, after
// an interrupted change has been undone. Throws ArchiveError.
std::unique_ptr<RandomAccessFile> OpenLocked(const std::string& archive, bool forChange);

} // namespace qvr::journal
