#pragma once
// Texts inside an archive are Windows-1252; in memory and on disk names are UTF-8.

#include <optional>
#include <string>

namespace qvr {

// nullopt when a character has no Windows-1252 form (or the input is not valid UTF-8).
std::optional<std::string> Utf8ToCp1252(const std::string& utf8);
std::string Cp1252ToUtf8(const std::string& cp1252);
// A zip member's name stored without the UTF-8 flag: the zip format's own code page 437, as the
// tools of Windows write it.
std::string Cp437ToUtf8(const std::string& cp437);

bool IsValidUtf8(const std::string& text);
// Decodes the code point at text[i] into cp and moves i past it; false, i unmoved, for a
// malformed, overlong or surrogate sequence.
bool NextCodePoint(const std::string& text, size_t& i, char32_t& cp);

// Characters that steer a terminal or reorder what is shown around them (a name "x<RLO>fdp.exe"
// reads as "xexe.pdf"): controls, and the bidirectional marks, embeddings, overrides and
// isolates. A stranger's name shows them as something visible instead.
bool SteersText(char32_t cp);

// Names compare as the game's Windows edition compares them: ignoring letter case, for the
// letters Windows-1252 holds. In texts that are not valid UTF-8 only A to Z are folded.
bool SameTextIgnoreCase(const std::string& a, const std::string& b);
// The lower-case form used by that comparison.
std::string LowerText(const std::string& text);
// Line breaks of any kind (LF, CR LF, CR) as CR LF, the form notes are stored in.
std::string ToCrLf(const std::string& text);

} // namespace qvr
