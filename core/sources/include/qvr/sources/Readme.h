#pragma once
// The read-me an archive carries, for the player to read before installing: archives players
// download hold their notes as a text file rather than as a package's information.

#include "qvr/sources/Source.h"

#include <optional>
#include <string>
#include <vector>

namespace qvr::sources {

// The member that is most likely the read-me: a .txt, .md or extension-less file whose name
// holds "readme" or "read me" (any case, any separator), the one nearest the top first, else
// the only .txt file. Nothing when there is none.
std::optional<size_t> FindReadme(const std::vector<std::string>& paths);

// The read-me member of source, as FindReadme picks it.
std::optional<size_t> FindReadme(const Source& source);

// Whether the member can be read at once: a read-me deep in a solid 7z of textures costs the
// decoding of all of them, seconds for a player who may never open it.
bool QuickToRead(const Source& source, size_t member);

// A member's text, as UTF-8 with line ends made "\n" and control characters other than tab
// taken out; Windows-1252 when it is not UTF-8. At most maxBytes of it are read (a longer
// file ends with a line saying so). Nothing when it cannot be read.
std::optional<std::string> ReadmeText(Source& source, size_t member, size_t maxBytes = 256 * 1024);

} // namespace qvr::sources
