#pragma once
// What the tests of qvr run as a program share: running it (also on a terminal of its own),
// folders of plug-in files, and archives written byte by byte.

#include "qvr/format/detail/modCompression.h"
#include "qvr/package/Archives.h"
#include "qvr/platform/FileUtils.h"
#include "qvrtest/Bytes.h"
#include "qvrtest/HandMade.h"
#include "qvrtest/TempFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#ifndef __linux__
#include "WineSkip.h"
#endif
#ifdef __linux__
#include <cerrno>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace tooltest {

using qvrtest::ReadAll;
using qvrtest::WriteAll;

inline std::string Bytes(size_t n, unsigned seed, bool compressible = true) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = compressible && i % 5 ? static_cast<char>('a' + (i / 11) % 26)
                                     : static_cast<char>(rng() & 0xFF);
    return s;
}

using qvrtest::Le32;

// An archive written byte by byte, so that it can hold what no writer of ours would produce.
inline std::string RawArchive(const std::vector<std::array<std::string, 3>>& entries) {
    std::vector<qvrtest::RawEntry> raw;
    for (const auto& [path, name, content] : entries)
        raw.push_back({path, name, content});
    return qvrtest::RawArchive(raw);
}

inline std::string Quote(const std::string& arg) {
#ifdef _WIN32
    return "\"" + arg + "\"";
#else
    std::string out = "'";
    for (char c : arg)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
#endif
}

inline void SetEnv(const char* name, const char* value) {
#ifdef _WIN32
    _putenv_s(name, value ? value : "");
#else
    if (value)
        setenv(name, value, 1);
    else
        unsetenv(name);
#endif
}

struct Result {
    int Code = -1;
    std::string Out, Err;
};

class Tool : public ::testing::Test {
protected:
    void SetUp() override { dir = folder.Path(); }
    void TearDown() override { SetEnv("SOURCE_DATE_EPOCH", nullptr); }

    // Runs qvr with no terminal on standard input.
    Result Run(const std::vector<std::string>& args) {
        std::string command = Quote(QVR_EXE);
        for (const auto& a : args)
            command += " " + Quote(a);
        const fs::path out = dir / "stdout.txt", err = dir / "stderr.txt";
#ifdef _WIN32
        command = "\"" + command + " > " + Quote(out.string()) + " 2> " + Quote(err.string()) +
                  " < NUL\"";
#else
        command += " > " + Quote(out.string()) + " 2> " + Quote(err.string()) + " < /dev/null";
#endif
#ifdef _WIN32
        // The narrow form would pass the arguments through the ANSI code page.
        const std::wstring wide = fs::path(std::u8string(command.begin(), command.end())).wstring();
        int status = _wsystem(wide.c_str());
        // 9009 is the shell saying it could not start the program, -1 the shell itself not
        // starting: never an answer of qvr's. Wine does either now and then under load (-1 in
        // one clean-clone run of the test command), so ask it again.
        for (int tries = 1; (status == 9009 || status == -1) && tries < 4; ++tries)
            status = _wsystem(wide.c_str());
#else
        int status = std::system(command.c_str());
#endif
        Result r;
#ifdef _WIN32
        r.Code = status;
#else
        r.Code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
        r.Out = ReadAll(out);
        r.Err = ReadAll(err);
#ifdef _WIN32
        // Text written on Windows ends its lines in CR LF; compare the lines themselves.
        for (std::string* text : {&r.Out, &r.Err})
            for (size_t at; (at = text->find("\r\n")) != std::string::npos;)
                text->erase(at, 1);
#endif
        return r;
    }

#ifdef __linux__
    // Runs qvr on a terminal of its own, answering each time the output so far shows the
    // next expected prompt text. Returns everything the terminal showed.
    Result RunOnTerminal(const std::vector<std::string>& args,
                         const std::vector<std::pair<std::string, std::string>>& dialogue) {
        int master = -1;
        pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
        if (pid == 0) {
            std::vector<char*> argv;
            std::string exe = QVR_EXE;
            argv.push_back(exe.data());
            std::vector<std::string> copy = args;
            for (auto& a : copy)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(exe.c_str(), argv.data());
            _exit(127);
        }
        Result r;
        size_t step = 0, answeredAt = 0;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        for (;;) {
            pollfd p{master, POLLIN, 0};
            if (std::chrono::steady_clock::now() > deadline || poll(&p, 1, 200) < 0)
                break;
            if (p.revents & (POLLIN | POLLHUP)) {
                char buf[4096];
                ssize_t n = read(master, buf, sizeof buf);
                if (n <= 0)
                    break; // the program has ended
                r.Out.append(buf, static_cast<size_t>(n));
            }
            if (step < dialogue.size() &&
                r.Out.find(dialogue[step].first, answeredAt) != std::string::npos) {
                answeredAt = r.Out.size();
                std::string line = dialogue[step++].second + "\n";
                (void)!write(master, line.data(), line.size());
            }
        }
        close(master);
        int status = 0;
        waitpid(pid, &status, 0);
        r.Code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return r;
    }
#endif

    std::string P(const std::string& rel) const {
#ifdef _WIN32
        // UTF-8 both ways: the narrow forms would go through the ANSI code page.
        // Each separator as the system writes it, as the tool names the files it finds.
        auto u8 = (dir / std::u8string(rel.begin(), rel.end())).make_preferred().u8string();
        return std::string(u8.begin(), u8.end());
#else
        return (dir / rel).string();
#endif
    }

    // A plug-in folder laid out like the data folder.
    std::map<std::string, std::string> MakePlugin(const std::string& rel) {
        std::map<std::string, std::string> files = {
            {"Mod.esp", Bytes(50000, 1)},
            {"Meshes/Armor/x.nif", Bytes(7000, 2)},
            {"Textures/x.nif", Bytes(300, 3)},
            {"Sound/Fx/a b.wav", Bytes(12000, 4)},
            {"Textures/big.dds", Bytes(2'500'000, 5, false)},
            {"BookArt/\xC3\xBC.tga", Bytes(900, 6)},
        };
        for (const auto& [name, content] : files)
            WriteAll(dir / rel / fs::path(std::u8string(name.begin(), name.end())), content);
        return files;
    }

    static qvr::Archives Opened(const std::string& path) {
        qvr::Archives arc;
        EXPECT_TRUE(arc.OpenArchive(path));
        return arc;
    }

    qvrtest::TempFolder folder{"qvr-tool"}; // removed after the test's own TearDown
    fs::path dir;
};

using qvrtest::Contains;

// A path inside a package ("Meshes/x.nif") as the system writes it, as qvr shows it to people.
inline std::string Shown(std::string path) {
#ifdef _WIN32
    std::replace(path.begin(), path.end(), '/', '\\');
#endif
    return path;
}

} // namespace tooltest
