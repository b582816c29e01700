#pragma once
// Enabling plug-ins and archives for the original engine in Morrowind.ini: GameFileN= lines
// in [Game Files], "Archive N=" lines in [Archives]. Pure functions over the file's bytes
// (Windows-1252, CR LF): every line the player or the game wrote stays byte for byte, and only
// whole lines of our own go in and out, so that adding and then removing the same names gives
// the file back as it was.
//
// The game reads GameFile0, GameFile1, ... and stops at the first number missing (so does the
// list of archives). Adding therefore refuses a list with a gap: what follows the gap is not
// loaded, and the player should let the launcher renumber it first. Removing a line moves
// every later number down by one, so the list stays whole.

#include "qvr/platform/Result.h"

#include <optional>
#include <string>
#include <vector>

namespace qvr::mwini {

// Why a name cannot be written as a value of Morrowind.ini ("" when it can): a value must be
// one file name that the game reads back as written.
std::string IniValueProblem(const std::string& name);

// The lines one activation added: what its removal takes out again.
struct IniLines {
    std::vector<std::string> GameFiles; // plug-in names, UTF-8
    std::vector<std::string> Archives;  // .bsa names, UTF-8
    bool NewGameFilesSection = false;   // [Game Files] was not there and was added
    bool NewArchivesSection = false;
};

// One numbered line of a list, in file order.
struct ListLine {
    std::string Key;   // as written, e.g. "GameFile3"
    int Number = 0;    // 3
    std::string Value; // UTF-8
};
enum class List { GameFiles, Archives };
// Every numbered line of the list's section, in file order, gaps and duplicates included.
std::vector<ListLine> ListLines(const std::string& bytes, List list);
// What the game reads: the values of numbers 0, 1, ... up to the first number missing.
std::vector<std::string> ReadList(const std::string& bytes, List list);
// The first number missing from a list that goes on after it; nothing when there is no gap.
std::optional<int> FirstGap(const std::vector<ListLine>& lines);

// Adds the plug-ins to [Game Files] and the archives to [Archives], each after the list's last
// line and numbered after it; a name listed already (any letter case) is not added twice.
// added receives what was written. Fails, leaving bytes as they were, when a name cannot be
// written or a list has a gap.
[[nodiscard]] Result AddToLists(std::string& bytes, const std::vector<std::string>& plugins,
                                const std::vector<std::string>& archives, IniLines& added);
// Takes out exactly the lines of added (by name, any letter case), numbering the later lines
// of each list down, and a section that added brought when nothing else is left in it.
// Answers how many lines were taken out.
size_t RemoveFromLists(std::string& bytes, const IniLines& added);

} // namespace qvr::mwini
