#pragma once
// How the installer names a file that was not installed or removed: its path below the target
// in the platform's separators, once, and why, in words that say what went wrong.

#include <QString>

namespace installer {

// entryPath is the file's path below the target, levels joined by "\"; message is the library's
// reason, which may start with that path and quote the full path of the target file.
QString FailureLine(const QString& entryPath, const QString& message, const QString& target = {});

// entryPath with the platform's separators ("/" on Linux, "\" on Windows).
QString ShownPath(const QString& entryPath);

} // namespace installer
