#include "qvr/games/LoadOrder.h"

#include "qvr/platform/Encoding.h"

#include <algorithm>
#include <tuple>

namespace qvr {

namespace {

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t y, int m, int d) {
    y -= m <= 2 ? 1 : 0;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

// The numbers of "M/D/Y h:m:s", each of at most five digits.
bool Numbers(const std::string& text, int (&n)[6]) {
    const char* seps = "// ::";
    size_t at = 0;
    for (int k = 0; k < 6; ++k) {
        size_t digits = 0;
        n[k] = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 5) {
            n[k] = n[k] * 10 + (text[at++] - '0');
            ++digits;
        }
        if (digits == 0)
            return false;
        if (k < 5 && (at >= text.size() || text[at++] != seps[k]))
            return false;
    }
    return at == text.size();
}

bool LoadsFirst(const std::string& name) {
    return LowerText(name).ends_with(".esm");
}

} // namespace

const std::vector<std::string>& MastersOf(const std::vector<PluginMasters>& headers,
                                          const std::string& name) {
    static const std::vector<std::string> none;
    for (const PluginMasters& h : headers)
        if (SameTextIgnoreCase(h.Name, name))
            return h.Masters;
    return none;
}

std::optional<int64_t> ArchiveFileTime(const std::string& fileDate) {
    int n[6];
    if (!Numbers(fileDate, n))
        return std::nullopt;
    const auto [month, day, year, hour, minute, second] =
        std::tie(n[0], n[1], n[2], n[3], n[4], n[5]);
    if (month < 1 || month > 12 || day < 1 || day > 31 || year < 1601 || hour > 23 || minute > 59 ||
        second > 60)
        return std::nullopt;
    return DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
}

std::vector<int64_t>
PluginTimes(const std::vector<TimedPlugin>& plugins,
            const std::function<std::optional<int64_t>(const std::string&)>& installedTime) {
    std::vector<int64_t> times;
    for (const TimedPlugin& p : plugins)
        times.push_back(p.Time);
    const auto timeOf = [&](const std::string& master) -> std::optional<int64_t> {
        for (size_t i = 0; i < plugins.size(); ++i)
            if (SameTextIgnoreCase(plugins[i].Name, master))
                return times[i];
        return installedTime ? installedTime(master) : std::nullopt;
    };
    // A master may come after the plug-in that needs it: a pass per plug-in settles any chain;
    // masters that need each other (no plug-in can load then) stop there.
    for (size_t pass = 0; pass <= plugins.size(); ++pass) {
        bool moved = false;
        for (size_t i = 0; i < plugins.size(); ++i)
            for (const std::string& master : plugins[i].Masters) {
                if (SameTextIgnoreCase(master, plugins[i].Name))
                    continue;
                const std::optional<int64_t> t = timeOf(master);
                if (t && *t >= times[i]) {
                    times[i] = *t + kAfterMaster;
                    moved = true;
                }
            }
        if (!moved)
            break;
    }
    return times;
}

std::vector<std::string> MorrowindLoadOrder(std::vector<DatedPlugin> enabled) {
    std::stable_sort(enabled.begin(), enabled.end(),
                     [](const DatedPlugin& a, const DatedPlugin& b) {
                         return std::make_tuple(!LoadsFirst(a.Name), a.Time, LowerText(a.Name)) <
                                std::make_tuple(!LoadsFirst(b.Name), b.Time, LowerText(b.Name));
                     });
    std::vector<std::string> order;
    for (const DatedPlugin& p : enabled)
        order.push_back(p.Name);
    return order;
}

std::vector<MasterProblem> CheckLoadOrder(const std::vector<std::string>& order,
                                          const std::vector<PluginMasters>& headers,
                                          const std::function<bool(const std::string&)>& present) {
    std::vector<MasterProblem> problems;
    const auto position = [&](const std::string& name) {
        for (size_t i = 0; i < order.size(); ++i)
            if (SameTextIgnoreCase(order[i], name))
                return i;
        return order.size();
    };
    for (size_t i = 0; i < order.size(); ++i) {
        if (position(order[i]) != i)
            continue; // listed twice: the first counts
        for (const std::string& master : MastersOf(headers, order[i])) {
            const size_t at = position(master);
            if (at < i)
                continue;
            MasterProblem::Kind what = MasterProblem::Kind::LoadsAfter;
            if (at == i)
                what = MasterProblem::Kind::Itself;
            else if (at == order.size())
                what = present && present(master) ? MasterProblem::Kind::NotEnabled
                                                  : MasterProblem::Kind::Missing;
            problems.push_back({order[i], master, what});
        }
    }
    return problems;
}

} // namespace qvr
