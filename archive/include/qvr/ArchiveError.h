#pragma once
#include <stdexcept>
#include <string>

namespace qvr {

// Raised inside the library for a failure that has a message for the user; the public
// operations of Archives catch it, answer false and keep the message in LastError.
class ArchiveError : public std::runtime_error {
public:
    explicit ArchiveError(const std::string& what) : std::runtime_error(what) {}
};

} // namespace qvr
