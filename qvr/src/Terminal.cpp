#include "Terminal.h"

#include "qvr/platform/Encoding.h"

#include <algorithm>
#include <cstdio>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// _isatty is true for any character device, NUL included; only a console answers questions.
static int QvrIsConsole(int fd) {
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(fd == 0 ? STD_INPUT_HANDLE : STD_ERROR_HANDLE), &mode);
}
#define QVR_ISATTY(fd) QvrIsConsole(fd)
#else
#include <unistd.h>
#define QVR_ISATTY(fd) ::isatty(fd)
#endif

namespace qvrtool {

bool StdinIsTerminal() {
    return QVR_ISATTY(0) != 0;
}
bool StderrIsTerminal() {
    return QVR_ISATTY(2) != 0;
}

std::string Printable(const std::string& text, bool keepLineBreaks) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const size_t at = i;
        char32_t cp = 0;
        if (!qvr::NextCodePoint(text, i, cp)) { // a byte of another encoding
            out += '?';
            ++i;
        } else if (qvr::SteersText(cp)) {
            out += keepLineBreaks && (cp == '\n' || cp == '\t') ? static_cast<char>(cp) : '?';
        } else {
            out.append(text, at, i - at);
        }
    }
    return out;
}

std::string PrintableList(const std::vector<std::string>& names) {
    std::string out;
    for (const std::string& n : names)
        out += (out.empty() ? "" : ", ") + Printable(n);
    return out;
}

std::string RenderBar(const std::string& label, size_t done, size_t total, size_t width,
                      const std::string& current) {
    size_t percent = total ? std::min<size_t>(100, done * 100 / total) : 100;
    size_t filled = total ? std::min(width, done * width / total) : width;
    std::string text = label + " [" + std::string(filled, '#') + std::string(width - filled, ' ') +
                       "] " + std::to_string(percent) + "%";
    if (!current.empty()) {
        // Keep the line short enough for a narrow terminal: the end of a long name matters most.
        std::string name = Printable(current);
        if (name.size() > 40) {
            size_t from = name.size() - 37;
            while (from < name.size() && (static_cast<unsigned char>(name[from]) & 0xC0) == 0x80)
                ++from; // not inside a character
            name = "..." + name.substr(from);
        }
        text += " " + name;
    }
    return text;
}

ProgressBar::ProgressBar(bool enabled, std::string label, size_t total)
    : m_enabled(enabled), m_label(std::move(label)), m_total(total) {}

ProgressBar::~ProgressBar() {
    Clear();
}

void ProgressBar::Update(size_t done, const std::string& current) {
    if (!m_enabled)
        return;
    auto now = std::chrono::steady_clock::now();
    // Redrawing for every one of thousands of small files would cost more than the work.
    if (done < m_total && now - m_last < std::chrono::milliseconds(80))
        return;
    m_last = now;
    std::string text = RenderBar(m_label, done, m_total, 30, current);
    std::string line = "\r" + text;
    if (text.size() < m_shown)
        line += std::string(m_shown - text.size(), ' ');
    m_shown = text.size();
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
}

void ProgressBar::Clear() {
    if (!m_enabled || m_shown == 0)
        return;
    std::string line = "\r" + std::string(m_shown, ' ') + "\r";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
    m_shown = 0;
}

} // namespace qvrtool
