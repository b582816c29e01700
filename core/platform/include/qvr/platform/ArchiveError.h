#pragma once
#include <stdexcept>
#include <string>

namespace qvr {

// Raised inside the library for a failure that has a message for the user; the public
// operations of Archives catch it and answer a Result carrying the message.
class ArchiveError : public std::runtime_error {
public:
    explicit ArchiveError(const std::string& what) : std::runtime_error(what) {}
};

} // namespace qvr
