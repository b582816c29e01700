#pragma once
// The last look before a removal or a restore touches a place: a record is a stranger's text
// too, and links on the disk can change between the install and its removal.

#include <filesystem>
#include <string>
#include <vector>

namespace qvr::detail {

// Whether recorded (levels joined by "\", as records hold them) may be touched below root: it
// keeps the path rules, no link lies on its way but those listed in links (folder links the
// install itself wrote through, e.g. the player's Textures on another disk), the place itself
// is no link, and without a listed link on the way it resolves to a place inside root.
// why says what is wrong.
bool CheckReach(const std::filesystem::path& root, const std::string& recorded,
                const std::vector<std::string>& links, std::string& why);
} // namespace qvr::detail
