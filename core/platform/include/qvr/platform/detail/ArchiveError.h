#pragma once
#include "qvr/platform/Result.h"

#include <stdexcept>
#include <string>

namespace qvr {

// Raised inside the library for a failure that has a message for the user; the public
// operations of Archives catch it and answer a Result carrying the message.
class ArchiveError : public std::runtime_error {
public:
    explicit ArchiveError(const std::string& what) : std::runtime_error(what) {}
};

// Inside the library a failure answered by a public operation goes on as an ArchiveError with
// the same message, to the edge that turns it back into a Result.
inline void ThrowOnFailure(const Result& r) {
    if (!r)
        throw ArchiveError(r.Message);
}

} // namespace qvr
