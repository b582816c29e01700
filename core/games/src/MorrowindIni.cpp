#include "qvr/games/MorrowindIni.h"

#include "qvr/platform/Encoding.h"

#include <algorithm>
#include <cstring>
#include <optional>

namespace qvr::mwini {

namespace {

struct Line {
    std::string Text;
    std::string Ending; // "\r\n", "\n" or "" (the file's last line without one)
};

struct Kind {
    const char* Section; // lower case
    const char* Header;  // as the game writes it
    const char* Prefix;
};

Kind KindOf(List list) {
    return list == List::GameFiles ? Kind{"game files", "[Game Files]", "GameFile"}
                                   : Kind{"archives", "[Archives]", "Archive "};
}

std::vector<Line> Split(const std::string& bytes) {
    std::vector<Line> lines;
    size_t start = 0;
    while (start < bytes.size()) {
        const size_t nl = bytes.find('\n', start);
        if (nl == std::string::npos) {
            lines.push_back({bytes.substr(start), ""});
            break;
        }
        const size_t end = nl > start && bytes[nl - 1] == '\r' ? nl - 1 : nl;
        lines.push_back({bytes.substr(start, end - start), bytes.substr(end, nl + 1 - end)});
        start = nl + 1;
    }
    return lines;
}

std::string Join(const std::vector<Line>& lines) {
    std::string out;
    for (const Line& l : lines)
        out += l.Text + l.Ending;
    return out;
}

std::string Trim(const std::string& s) {
    const size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos)
        return {};
    return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

bool IsBlank(const Line& line) {
    return Trim(line.Text).empty();
}

// The section a header line opens, lower case; nullopt for any other line. An editor's UTF-8
// mark before the first line is no part of it (and stays in the file).
std::optional<std::string> SectionOf(const Line& line) {
    std::string_view text = line.Text;
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    const std::string t = Trim(std::string(text));
    const size_t close = t.find(']');
    if (t.empty() || t[0] != '[' || close == std::string::npos)
        return std::nullopt;
    return LowerText(Trim(t.substr(1, close - 1)));
}

// The first section of that name: its header's index and the index after its last line.
std::optional<std::pair<size_t, size_t>> FindSection(const std::vector<Line>& lines,
                                                     const char* name) {
    for (size_t h = 0; h < lines.size(); ++h) {
        if (SectionOf(lines[h]) != name)
            continue;
        size_t end = h + 1;
        while (end < lines.size() && !SectionOf(lines[end]))
            ++end;
        return std::make_pair(h, end);
    }
    return std::nullopt;
}

struct Numbered {
    size_t Index = 0;
    ListLine Line;
};

// A line "Prefix<number>=value": the number written as the game writes it, without leading
// zeros (the game would not find "GameFile01").
std::optional<ListLine> ParseNumbered(const std::string& text, const Kind& kind) {
    const size_t eq = text.find('=');
    if (eq == std::string::npos)
        return std::nullopt;
    const std::string key = Trim(text.substr(0, eq));
    const size_t n = std::strlen(kind.Prefix);
    if (key.size() <= n || LowerText(key.substr(0, n)) != LowerText(kind.Prefix))
        return std::nullopt;
    const std::string digits = key.substr(n);
    if (digits.size() > 6 || (digits.size() > 1 && digits[0] == '0') ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    return ListLine{key, std::stoi(digits), Cp1252ToUtf8(Trim(text.substr(eq + 1)))};
}

std::vector<Numbered> Entries(const std::vector<Line>& lines, size_t from, size_t to,
                              const Kind& kind) {
    std::vector<Numbered> out;
    for (size_t i = from; i < to; ++i)
        if (auto parsed = ParseNumbered(lines[i].Text, kind))
            out.push_back({i, *parsed});
    return out;
}

std::string DominantEnding(const std::vector<Line>& lines) {
    const auto lf =
        std::count_if(lines.begin(), lines.end(), [](const Line& l) { return l.Ending == "\n"; });
    const auto crlf =
        std::count_if(lines.begin(), lines.end(), [](const Line& l) { return l.Ending == "\r\n"; });
    return lf > crlf ? "\n" : "\r\n";
}

// A line put in before index at. After a last line without line end, that line gets one and
// the new line goes without, so that taking it out again restores the file exactly.
void InsertAt(std::vector<Line>& lines, size_t at, const std::string& text,
              const std::string& ending) {
    if (at > 0 && lines[at - 1].Ending.empty()) {
        lines[at - 1].Ending = ending;
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), Line{text, ""});
        return;
    }
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), Line{text, ending});
}

// The inverse of InsertAt: a last line without line end passes that on.
void EraseAt(std::vector<Line>& lines, size_t at) {
    if (at + 1 == lines.size() && lines[at].Ending.empty() && at > 0)
        lines[at - 1].Ending.clear();
    lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(at));
}

// Whether the list names name already, in any letter case.
bool Lists(const std::vector<Numbered>& entries, const std::string& name) {
    return std::any_of(entries.begin(), entries.end(),
                       [&](const Numbered& e) { return SameTextIgnoreCase(e.Line.Value, name); });
}

// A gap only matters to a list that would grow: names listed already (an install made again)
// keep their lines wherever they are.
std::string GapProblem(const std::vector<Numbered>& entries, const Kind& kind,
                       const std::vector<std::string>& names) {
    if (std::all_of(names.begin(), names.end(),
                    [&](const std::string& name) { return Lists(entries, name); }))
        return {};
    std::vector<ListLine> lines;
    for (const Numbered& e : entries)
        lines.push_back(e.Line);
    const std::optional<int> gap = FirstGap(lines);
    if (!gap)
        return {};
    return std::string("Morrowind.ini lists no ") + kind.Prefix + std::to_string(*gap) +
           ", so the game reads nothing after it; let the Morrowind Launcher renumber the list "
           "(Data Files, OK) first";
}

// The game loads at most this many plug-ins, masters included: a list that would grow past it
// is not grown at all (which of the plug-ins would be the one too many is not known).
constexpr size_t kMostGameFiles = 255;

std::string FullProblem(const std::vector<Line>& lines, const std::vector<std::string>& plugins) {
    const Kind kind = KindOf(List::GameFiles);
    std::vector<std::string> listed;
    if (const auto section = FindSection(lines, kind.Section))
        for (const Numbered& e : Entries(lines, section->first + 1, section->second, kind))
            listed.push_back(e.Line.Value);
    const size_t before = listed.size();
    for (const std::string& name : plugins)
        if (std::none_of(listed.begin(), listed.end(),
                         [&](const std::string& v) { return SameTextIgnoreCase(v, name); }))
            listed.push_back(name);
    if (listed.size() <= kMostGameFiles || listed.size() == before)
        return {};
    return "Morrowind.ini lists " + std::to_string(before) +
           " plug-ins, and the game loads at most " + std::to_string(kMostGameFiles) +
           "; disable some in the Morrowind Launcher (Data Files) first";
}

void AddList(std::vector<Line>& lines, const Kind& kind, const std::vector<std::string>& names,
             std::vector<std::string>& added, bool& newSection) {
    const std::string ending = DominantEnding(lines);
    auto section = FindSection(lines, kind.Section);
    std::vector<Numbered> entries;
    if (section)
        entries = Entries(lines, section->first + 1, section->second, kind);
    int next = 0;
    for (const Numbered& e : entries)
        next = std::max(next, e.Line.Number + 1);
    size_t at = entries.empty() ? (section ? section->first + 1 : 0) : entries.back().Index + 1;
    for (const std::string& name : names) {
        const auto same = [&](const std::string& v) { return SameTextIgnoreCase(v, name); };
        if (Lists(entries, name) || std::any_of(added.begin(), added.end(), same))
            continue;
        if (!section) {
            InsertAt(lines, lines.size(), kind.Header, ending);
            section = std::make_pair(lines.size() - 1, lines.size());
            at = lines.size();
            newSection = true;
        }
        InsertAt(lines, at++, kind.Prefix + std::to_string(next++) + "=" + *Utf8ToCp1252(name),
                 ending);
        added.push_back(name);
    }
}

// Takes out the list's last line naming name and numbers the later ones down; false when
// there is none.
bool RemoveOne(std::vector<Line>& lines, const Kind& kind, const std::string& name) {
    const auto section = FindSection(lines, kind.Section);
    if (!section)
        return false;
    const std::vector<Numbered> entries = Entries(lines, section->first + 1, section->second, kind);
    auto it = std::find_if(entries.rbegin(), entries.rend(), [&](const Numbered& e) {
        return SameTextIgnoreCase(e.Line.Value, name);
    });
    if (it == entries.rend())
        return false;
    const int gone = it->Line.Number;
    for (const Numbered& e : entries) {
        if (e.Line.Number <= gone || e.Index == it->Index)
            continue;
        std::string& text = lines[e.Index].Text;
        const size_t digits = text.find(e.Line.Key) + std::strlen(kind.Prefix);
        text.replace(digits, e.Line.Key.size() - std::strlen(kind.Prefix),
                     std::to_string(e.Line.Number - 1));
    }
    EraseAt(lines, it->Index);
    return true;
}

// A section that the activation brought goes again when nothing but blank lines is left in it.
void DropEmptySection(std::vector<Line>& lines, const Kind& kind) {
    const auto section = FindSection(lines, kind.Section);
    if (!section)
        return;
    for (size_t i = section->first + 1; i < section->second; ++i)
        if (!IsBlank(lines[i]))
            return;
    EraseAt(lines, section->first);
}

} // namespace

std::string IniValueProblem(const std::string& name) {
    if (name.empty())
        return "the name is empty";
    const std::optional<std::string> stored = Utf8ToCp1252(name);
    if (!stored)
        return "it holds characters Morrowind.ini cannot hold (Windows-1252)";
    if (stored->size() > 255)
        return "it is longer than 255 characters";
    for (unsigned char c : *stored)
        if (c < 0x20 || c == 0x7F)
            return "it holds a control character or a line break";
    for (size_t i = 0; i + 1 < name.size(); ++i)
        if (static_cast<unsigned char>(name[i]) == 0xC2 &&
            static_cast<unsigned char>(name[i + 1]) >= 0x80 &&
            static_cast<unsigned char>(name[i + 1]) <= 0x9F)
            return "it holds a control character";
    if (name.find('=') != std::string::npos)
        return "it holds '=', which would split the line";
    if (name.find_first_of("/\\:*?\"<>|") != std::string::npos)
        return "it is not a file name of the data folder";
    if (name.front() == '[' || name.front() == ']' || name.front() == ';')
        return "it begins with '" + name.substr(0, 1) + "', which the game could read as more";
    if (name.front() == ' ' || name.back() == ' ' || name.front() == '\t' || name.back() == '\t')
        return "it begins or ends with a blank, which the game would drop";
    if (name.size() > 1 && name.front() == '\'' && name.back() == '\'')
        return "it is in quotes, which the game would drop";
    return {};
}

std::vector<ListLine> ListLines(const std::string& bytes, List list) {
    const std::vector<Line> lines = Split(bytes);
    const Kind kind = KindOf(list);
    std::vector<ListLine> out;
    if (const auto section = FindSection(lines, kind.Section))
        for (const Numbered& e : Entries(lines, section->first + 1, section->second, kind))
            out.push_back(e.Line);
    return out;
}

std::vector<std::string> ReadList(const std::string& bytes, List list) {
    const std::vector<ListLine> lines = ListLines(bytes, list);
    std::vector<std::string> out;
    for (int n = 0;; ++n) {
        // The game asks for each key in turn and is given the first line with it.
        auto it = std::find_if(lines.begin(), lines.end(),
                               [&](const ListLine& l) { return l.Number == n; });
        if (it == lines.end())
            return out;
        out.push_back(it->Value);
    }
}

std::optional<int> FirstGap(const std::vector<ListLine>& lines) {
    int top = -1;
    for (const ListLine& l : lines)
        top = std::max(top, l.Number);
    for (int n = 0; n < top; ++n)
        if (std::none_of(lines.begin(), lines.end(),
                         [&](const ListLine& l) { return l.Number == n; }))
            return n;
    return std::nullopt;
}

Result AddToLists(std::string& bytes, const std::vector<std::string>& plugins,
                  const std::vector<std::string>& archives, IniLines& added) {
    added = {};
    for (const auto* names : {&plugins, &archives})
        for (const std::string& name : *names)
            if (const std::string why = IniValueProblem(name); !why.empty())
                return Result::EntryFailure(name + " cannot be listed in Morrowind.ini: " + why);
    std::vector<Line> lines = Split(bytes);
    for (List list : {List::GameFiles, List::Archives}) {
        const Kind kind = KindOf(list);
        const std::vector<std::string>& names = list == List::GameFiles ? plugins : archives;
        if (const auto section = FindSection(lines, kind.Section))
            if (std::string why = GapProblem(
                    Entries(lines, section->first + 1, section->second, kind), kind, names);
                !why.empty())
                return Result::EntryFailure(why);
    }
    if (std::string why = FullProblem(lines, plugins); !why.empty())
        return Result::EntryFailure(why);
    AddList(lines, KindOf(List::GameFiles), plugins, added.GameFiles, added.NewGameFilesSection);
    AddList(lines, KindOf(List::Archives), archives, added.Archives, added.NewArchivesSection);
    bytes = Join(lines);
    return Result::Success();
}

size_t RemoveFromLists(std::string& bytes, const IniLines& added) {
    std::vector<Line> lines = Split(bytes);
    size_t removed = 0;
    const auto take = [&](List list, const std::vector<std::string>& names, bool newSection) {
        const Kind kind = KindOf(list);
        for (auto it = names.rbegin(); it != names.rend(); ++it)
            removed += RemoveOne(lines, kind, *it) ? 1 : 0;
        if (newSection)
            DropEmptySection(lines, kind);
    };
    take(List::Archives, added.Archives, added.NewArchivesSection);
    take(List::GameFiles, added.GameFiles, added.NewGameFilesSection);
    bytes = Join(lines);
    return removed;
}

} // namespace qvr::mwini
