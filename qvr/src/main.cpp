#include "Tool.h"

#include "qvr/platform/HostEnvironment.h"
#include "qvr/platform/WorkFiles.h"
#include "qvr/sources/Source.h"

#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>

namespace {

// Ctrl+C and Ctrl+Break arrive on a thread of their own: the work files go with the process.
BOOL WINAPI OnInterrupt(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT)
        qvr::RemoveWorkFilesAndExit(130);
    return FALSE;
}

} // namespace

// Arguments arrive as UTF-16; the tool works in UTF-8 throughout.
int wmain(int argc, wchar_t** argv) {
    SetConsoleOutputCP(CP_UTF8);
    SetConsoleCtrlHandler(OnInterrupt, TRUE);
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        int n = WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
        std::string text(n > 0 ? n - 1 : 0, '\0');
        if (n > 1)
            WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, text.data(), n, nullptr, nullptr);
        args.push_back(text);
    }
    const int code = qvrtool::Run(args);
    return code == qvrtool::kBrokenPipe ? qvrtool::ReportBrokenPipe() : code;
}
#else
#include <csignal>
#include <pthread.h>
#include <thread>

namespace {

// Large pages make listing and planning thousands of files faster (a 2 MB page is faulted in
// once, not 512 times), but each is resident whole. An install the archive library decodes
// (7z, rar, tar) has its decoder's buffers near the memory an install may take, so only the
// first 16 MB of heap are asked for there; 64 MB elsewhere.
size_t HeapMegabytes(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (qvr::sources::DecodedByArchiveLibrary(argv[i]))
            return 16;
    return 64;
}

// SIGINT, SIGTERM and SIGHUP are taken by a thread of their own (blocked in every other
// thread), which removes the work files and ends the process as the signal would have: 128 +
// its number. A signal ignored by whoever started us (nohup, a background job) stays ignored.
void HandleInterrupts() {
    sigset_t set;
    sigemptyset(&set);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction old {};
        if (sigaction(signal, nullptr, &old) == 0 && old.sa_handler != SIG_IGN)
            sigaddset(&set, signal);
    }
    if (pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0)
        return;
    std::thread([set] {
        int signal = 0;
        if (sigwait(&set, &signal) == 0)
            qvr::RemoveWorkFilesAndExit(128 + signal);
    }).detach();
}

} // namespace

// SIGPIPE would end the process where it writes, leaving its work files: it is ignored while
// the command runs, so that the write fails and the command ends the ordinary way, and the
// process then ends by it as it would have (unless whoever started us ignores it too).
int main(int argc, char** argv) {
    qvr::PreferLargePages(HeapMegabytes(argc, argv));
    qvr::ReadTimeZoneOnce();
    HandleInterrupts();
    struct sigaction old {};
    const bool pipeSignal = sigaction(SIGPIPE, nullptr, &old) == 0 && old.sa_handler != SIG_IGN;
    std::signal(SIGPIPE, SIG_IGN);
    const int code = qvrtool::Run(std::vector<std::string>(argv + 1, argv + argc));
    if (code != qvrtool::kBrokenPipe)
        return code;
    if (!pipeSignal)
        return qvrtool::ReportBrokenPipe();
    std::signal(SIGPIPE, SIG_DFL);
    std::raise(SIGPIPE);
    return code;
}
#endif
