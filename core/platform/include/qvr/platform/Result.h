#pragma once
// The one way the library's public operations report how they went: as data, never as an
// exception. Entry-level failures leave the archive usable; archive-level ones do not. A Result
// must be looked at: dropping one is a compiler warning.

#include <string>
#include <utility>

namespace qvr {

enum class Status {
    Ok,
    EntryFailed,     // this entry (or file) could not be handled; the archive is still usable
    ArchiveUnusable, // the archive cannot be read or changed; nothing more should be tried on it
};

struct [[nodiscard]] Result {
    Status Code = Status::Ok;
    std::string Message; // for the user; "" when Ok

    static Result Success() { return {}; }
    static Result EntryFailure(std::string why) { return {Status::EntryFailed, std::move(why)}; }
    static Result Unusable(std::string why) { return {Status::ArchiveUnusable, std::move(why)}; }

    bool Ok() const { return Code == Status::Ok; }
    explicit operator bool() const { return Ok(); }
};

// The first of two checks that failed, or success.
inline Result FirstFailure(Result a, Result b) {
    return a ? std::move(b) : std::move(a);
}

} // namespace qvr
