#include "qvr/games/OpenMWLoadOrder.h"

#include "qvr/games/PluginHeader.h"
#include "qvr/platform/Encoding.h"

#include <algorithm>

namespace qvr::openmw {

namespace {

const char* const kContent = "content";
const char* const kArchive = "fallback-archive";

std::string ValueOf(const Line& line) {
    const size_t eq = line.Text.find('=');
    return eq == std::string::npos ? std::string() : Unquote(line.Text.substr(eq + 1));
}

// The indices of the lines with this key naming name (any letter case), in file order.
std::vector<size_t> Find(const std::vector<Line>& lines, const char* key, const std::string& name) {
    std::vector<size_t> out;
    for (size_t i = 0; i < lines.size(); ++i)
        if (KeyOf(lines[i].Text) == key && SameTextIgnoreCase(ValueOf(lines[i]), name))
            out.push_back(i);
    return out;
}

std::string DominantEnding(const std::vector<Line>& lines) {
    const auto lf =
        std::count_if(lines.begin(), lines.end(), [](const Line& l) { return l.Ending == "\n"; });
    const auto crlf =
        std::count_if(lines.begin(), lines.end(), [](const Line& l) { return l.Ending == "\r\n"; });
    return crlf > lf ? "\r\n" : "\n";
}

// A line put in before index at; after a last line without line end, that line gets one and
// the new one goes without, so that taking it out again restores the file exactly.
void InsertAt(std::vector<Line>& lines, size_t at, const std::string& text,
              const std::string& ending) {
    if (at > 0 && lines[at - 1].Ending.empty()) {
        lines[at - 1].Ending = ending;
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), Line{text, ""});
        return;
    }
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), Line{text, ending});
}

void EraseAt(std::vector<Line>& lines, size_t at) {
    if (at + 1 == lines.size() && lines[at].Ending.empty() && at > 0)
        lines[at - 1].Ending.clear();
    lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(at));
}

size_t AfterLast(const std::vector<Line>& lines, const char* key) {
    for (size_t i = lines.size(); i-- > 0;)
        if (KeyOf(lines[i].Text) == key)
            return i + 1;
    return lines.size();
}

// Where the content= line of name goes: before the first plug-in that names it as a master,
// which must come after the last of its own masters; else after the last content= line.
Result PlaceContent(const std::vector<Line>& lines, const std::string& name,
                    const std::vector<PluginMasters>& headers, size_t& at) {
    std::vector<size_t> content;
    for (size_t i = 0; i < lines.size(); ++i)
        if (KeyOf(lines[i].Text) == kContent)
            content.push_back(i);
    const std::vector<std::string>& masters = MastersOf(headers, name);
    std::string lastMaster;
    size_t low = 0; // the first line the new one may stand at
    for (size_t i : content) {
        const std::string value = ValueOf(lines[i]);
        if (std::any_of(masters.begin(), masters.end(),
                        [&](const std::string& m) { return SameTextIgnoreCase(m, value); })) {
            low = i + 1;
            lastMaster = value;
        }
    }
    at = content.empty() ? lines.size() : content.back() + 1;
    for (size_t i : content) {
        const std::string value = ValueOf(lines[i]);
        const std::vector<std::string>& its = MastersOf(headers, value);
        if (std::none_of(its.begin(), its.end(),
                         [&](const std::string& m) { return SameTextIgnoreCase(m, name); }))
            continue;
        if (i < low)
            return Result::EntryFailure(
                value + " needs " + name + " but loads before " + lastMaster + ", which " + name +
                " needs: no place in openmw.cfg's load order suits " + name);
        at = i;
        break;
    }
    return Result::Success();
}

} // namespace

std::string ListingKey(const std::string& fileName) {
    const std::string l = LowerText(fileName);
    if (l.ends_with(".esp") || l.ends_with(".esm") || l.ends_with(".omwaddon") ||
        l.ends_with(".omwscripts"))
        return "content";
    return l.ends_with(".bsa") ? "fallback-archive" : "";
}

std::string ValueProblem(const std::string& name) {
    if (!IsMasterName(name))
        return "it is not a file name (empty, or with a separator, a quote or a control "
               "character)";
    if (name.front() == ' ' || name.back() == ' ' || name.front() == '\t' || name.back() == '\t')
        return "it begins or ends with a blank, which OpenMW would drop";
    if (name.front() == '#')
        return "it begins with '#'";
    return {};
}

Result AddToLoadOrder(Config& config, const std::vector<std::string>& contentFiles,
                      const std::vector<std::string>& archives,
                      const std::vector<PluginMasters>& headers, OrderLines& added) {
    added = {};
    for (const auto* names : {&contentFiles, &archives})
        for (const std::string& name : *names)
            if (const std::string why = ValueProblem(name); !why.empty())
                return Result::EntryFailure(name + " cannot be listed in openmw.cfg: " + why);
    std::vector<Line> lines = config.Lines();
    const std::string ending = DominantEnding(lines);
    OrderLines made;
    for (const std::string& name : contentFiles) {
        if (!Find(lines, kContent, name).empty())
            continue;
        size_t at = 0;
        if (Result placed = PlaceContent(lines, name, headers, at); !placed)
            return placed;
        InsertAt(lines, at, std::string(kContent) + "=" + name, ending);
        made.Content.push_back(name);
    }
    for (const std::string& name : archives) {
        if (!Find(lines, kArchive, name).empty())
            continue;
        InsertAt(lines, AfterLast(lines, kArchive), std::string(kArchive) + "=" + name, ending);
        made.Archives.push_back(name);
    }
    std::string bytes;
    for (const Line& l : lines)
        bytes += l.Text + l.Ending;
    config = Config::Parse(bytes);
    added = std::move(made);
    return Result::Success();
}

size_t RemoveFromLoadOrder(Config& config, const OrderLines& added) {
    std::vector<Line> lines = config.Lines();
    size_t removed = 0;
    const auto take = [&](const char* key, const std::vector<std::string>& names) {
        for (auto it = names.rbegin(); it != names.rend(); ++it) {
            const std::vector<size_t> at = Find(lines, key, *it);
            if (at.empty())
                continue;
            EraseAt(lines, at.back());
            ++removed;
        }
    };
    take(kArchive, added.Archives);
    take(kContent, added.Content);
    std::string bytes;
    for (const Line& l : lines)
        bytes += l.Text + l.Ending;
    config = Config::Parse(bytes);
    return removed;
}

} // namespace qvr::openmw
