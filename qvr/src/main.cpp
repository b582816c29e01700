#include "Tool.h"

#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>

// Arguments arrive as UTF-16; the tool works in UTF-8 throughout.
int wmain(int argc, wchar_t** argv) {
    SetConsoleOutputCP(CP_UTF8);
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        int n = WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
        std::string text(n > 0 ? n - 1 : 0, '\0');
        if (n > 1)
            WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, text.data(), n, nullptr, nullptr);
        args.push_back(text);
    }
    return qvrtool::Run(args);
}
#else
int main(int argc, char** argv) {
    return qvrtool::Run(std::vector<std::string>(argv + 1, argv + argc));
}
#endif
