#pragma once
// The little the tool needs from a terminal: whether there is one, a line of input, and a
// progress bar on standard error.

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

namespace qvrtool {

bool StdinIsTerminal();
bool StderrIsTerminal();

// Draws "label [#####     ]  45% name" on one line of standard error, only when enabled.
class ProgressBar {
public:
    ProgressBar(bool enabled, std::string label, size_t total);
    ~ProgressBar();
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    void Update(size_t done, const std::string& current);
    void SetTotal(size_t total) { m_total = total; }
    // Clears the bar so that a message can be printed on a clean line.
    void Clear();
    bool Enabled() const { return m_enabled; }

private:
    bool m_enabled;
    std::string m_label;
    size_t m_total;
    size_t m_shown = 0; // characters on the line now
    std::chrono::steady_clock::time_point m_last{};
};

// text as it may be shown on a terminal: control characters (C0, DEL and C1), which a
// hostile archive could use to move the cursor or retitle the window, become "?". With
// keepLineBreaks, line breaks and tabs stay.
std::string Printable(const std::string& text, bool keepLineBreaks = false);

// Names as one printable line: "a, b, c".
std::string PrintableList(const std::vector<std::string>& names);

// The bar as text, for a given width of the bar itself (kept apart so it can be tested).
std::string RenderBar(const std::string& label, size_t done, size_t total, size_t width,
                      const std::string& current);

} // namespace qvrtool
