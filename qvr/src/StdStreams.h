#pragma once
// "-" as the archive: a package read from standard input, or written to standard output.

#include <filesystem>
#include <sstream>
#include <streambuf>
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

// The file name standard output is written to when it is a regular file; "" for a pipe, a
// terminal, or when it cannot be told.
std::string StdoutFileName();

// While it lives, standard output and standard error both go to standard error with every
// `from` written as `to`: create - builds its package under a temporary path that would mean
// nothing to the reader. What goes to standard output is held until Release, and dropped
// without it: it says the package was made, which is not so until it has been written out.
class RenamedOnStderr {
public:
    RenamedOnStderr(std::string from, std::string to);
    ~RenamedOnStderr();
    RenamedOnStderr(const RenamedOnStderr&) = delete;
    RenamedOnStderr& operator=(const RenamedOnStderr&) = delete;
    void Release();

private:
    class Buffer : public std::streambuf {
    public:
        Buffer(std::streambuf* target, std::string from, std::string to);
        void Flush();

    protected:
        int_type overflow(int_type c) override;
        int sync() override;

    private:
        std::streambuf* m_target;
        std::string m_from, m_to, m_line;
    };
    Buffer m_buffer;
    std::stringbuf m_held;
    std::streambuf* m_out;
    std::streambuf* m_err;
};

} // namespace qvrtool
