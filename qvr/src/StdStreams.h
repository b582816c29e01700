#pragma once
// "-" as the archive: a package read from standard input, or written to standard output.

#include <filesystem>
#include <string>

namespace qvrtool {

// A folder of this process's own in the temporary folder, removed with everything in it when
// the command ends, however it ends (an interrupt included); made after sweeping the ones that
// processes which ended without removing them left behind.
class SpoolFolder {
public:
    SpoolFolder() = default;
    ~SpoolFolder();
    SpoolFolder(const SpoolFolder&) = delete;
    SpoolFolder& operator=(const SpoolFolder&) = delete;
    // Creates the folder on first use and answers the path of name inside it (UTF-8).
    std::string PathOf(const std::string& name);

private:
    std::string m_folder;
};

// operand itself, or for "-" standard input copied whole into spool (the commands read an
// archive at random places). When the package holds one top-level information entry
// "NAME.qvr.ifo", the copy is called NAME.qvr, so that its information is found.
std::string ArchiveOperand(const std::string& operand, SpoolFolder& spool);

// Copies the file to standard output, in binary; throws CommandError when it cannot (with
// kBrokenPipe and no message when the reader has gone).
void CopyToStdout(const std::string& path);

} // namespace qvrtool
