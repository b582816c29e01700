// Load order for both engines: file times for the original one, content= lines for OpenMW, and
// the masters a target or a package's "Required modules" lacks.

#include "TestSupport.h"
#include "qvr/games/Masters.h"
#include "qvr/games/OpenMWLoadOrder.h"
#include "qvr/platform/Encoding.h"

#include <algorithm>

namespace openmw = qvr::openmw;
using qvr::MasterProblem;
using qvr::PluginMasters;

namespace {

// Three plug-ins with masters among them, and what the player has already.
const std::vector<PluginMasters> kHeaders = {
    {"Base.esm", {"Morrowind.esm"}},      {"Mid.esp", {"Morrowind.esm", "Base.esm"}},
    {"Top.esp", {"Base.esm", "Mid.esp"}}, {"Morrowind.esm", {}},
    {"Other.esp", {"Morrowind.esm"}},
};
const std::vector<std::string> kThree = {"Base.esm", "Mid.esp", "Top.esp"};

const std::string kCfg = "# written by the launcher\r\n"
                         "data=\"C:\\Games\\Morrowind\\Data Files\"\r\n"
                         "fallback-archive=Morrowind.bsa\r\n"
                         "content=Morrowind.esm\r\n"
                         "content=Other.esp\r\n"
                         "fallback=LightAttenuation_UseConstant,0";

size_t Misordered(const openmw::Config& cfg) {
    const auto problems = qvr::CheckLoadOrder(cfg.Values("content"), kHeaders, nullptr);
    return std::count_if(problems.begin(), problems.end(), [](const MasterProblem& p) {
        return p.What == MasterProblem::Kind::LoadsAfter;
    });
}

} // namespace

TEST(OpenMWLoadOrder, AnyOrderOfInstallsAndRemovalsKeepsMastersFirstAndEndsAsItBegan) {
    std::vector<size_t> adds = {0, 1, 2};
    do {
        std::vector<size_t> removes = {0, 1, 2};
        do {
            openmw::Config cfg = openmw::Config::Parse(kCfg);
            std::vector<openmw::OrderLines> lines(3);
            for (size_t i : adds) {
                ASSERT_TRUE(openmw::AddToLoadOrder(cfg, {kThree[i]}, {}, kHeaders, lines[i]));
                ASSERT_EQ(Misordered(cfg), 0u) << cfg.Bytes();
            }
            EXPECT_EQ(cfg.Values("content"),
                      (std::vector<std::string>{"Morrowind.esm", "Other.esp", "Base.esm", "Mid.esp",
                                                "Top.esp"}))
                << "whatever order they came in";
            for (size_t i : removes) {
                EXPECT_EQ(openmw::RemoveFromLoadOrder(cfg, lines[i]), 1u);
                ASSERT_EQ(Misordered(cfg), 0u) << cfg.Bytes();
            }
            EXPECT_EQ(cfg.Bytes(), kCfg);
        } while (std::next_permutation(removes.begin(), removes.end()));
    } while (std::next_permutation(adds.begin(), adds.end()));
}

TEST(OpenMWLoadOrder, ArchivesAndScriptsGetTheirLinesAndGoExactly) {
    openmw::Config cfg = openmw::Config::Parse(kCfg);
    openmw::OrderLines added;
    ASSERT_TRUE(openmw::AddToLoadOrder(cfg, {"Tower.omwscripts", "Tower.esp"},
                                       {"Tower.bsa", "morrowind.BSA"}, kHeaders, added));
    EXPECT_EQ(cfg.Bytes(), "# written by the launcher\r\n"
                           "data=\"C:\\Games\\Morrowind\\Data Files\"\r\n"
                           "fallback-archive=Morrowind.bsa\r\nfallback-archive=Tower.bsa\r\n"
                           "content=Morrowind.esm\r\ncontent=Other.esp\r\n"
                           "content=Tower.omwscripts\r\ncontent=Tower.esp\r\n"
                           "fallback=LightAttenuation_UseConstant,0");
    EXPECT_EQ(added.Archives, std::vector<std::string>{"Tower.bsa"});
    EXPECT_EQ(openmw::RemoveFromLoadOrder(cfg, added), 3u);
    EXPECT_EQ(cfg.Bytes(), kCfg);
}

TEST(OpenMWLoadOrder, RefusesWhatNoPlaceOrNoLineCanHold) {
    // Other.esp needs Patch.esp but loads before Patch.esp's master Mid.esp.
    std::vector<PluginMasters> headers = kHeaders;
    headers.push_back({"Patch.esp", {"Mid.esp"}});
    headers[4].Masters.push_back("Patch.esp");
    openmw::Config cfg = openmw::Config::Parse(
        "content=Morrowind.esm\ncontent=Other.esp\ncontent=Base.esm\ncontent=Mid.esp\n");
    const std::string before = cfg.Bytes();
    openmw::OrderLines added;
    EXPECT_FALSE(openmw::AddToLoadOrder(cfg, {"Patch.esp"}, {}, headers, added));
    for (const char* name : {"Two\nlines.esp", "\"Quoted.esp\"", " Blank.esp", "#x.esp"})
        EXPECT_FALSE(openmw::AddToLoadOrder(cfg, {"Fine.esp", name}, {}, headers, added)) << name;
    EXPECT_FALSE(openmw::AddToLoadOrder(cfg, {}, {"Sub/Dir.bsa"}, headers, added));
    EXPECT_EQ(cfg.Bytes(), before);
}

TEST(MorrowindTimes, PluginsGetTheArchivesTimeOrJustAfterTheirNewestMaster) {
    const int64_t t = *qvr::ArchiveFileTime("3/7/2003 14:5:9");
    EXPECT_EQ(t, 1047045909); // 2003-03-07 14:05:09 UTC
    for (const char* bad :
         {"", "13/7/2003 1:1:1", "3/7/2003", "3/7/2003 24:0:0", "a/b/c d:e:f", "3/7/2003 14:5:9 "})
        EXPECT_FALSE(qvr::ArchiveFileTime(bad)) << bad;
    struct Case {
        const char* what;
        std::vector<qvr::TimedPlugin> plugins;
        std::vector<int64_t> expected;
    };
    const std::function<std::optional<int64_t>(const std::string&)> installed =
        [&](const std::string& name) -> std::optional<int64_t> {
        if (qvr::SameTextIgnoreCase(name, "Morrowind.esm"))
            return t - 1000;
        if (name == "Newer.esm")
            return t + 5000;
        return std::nullopt;
    };
    const std::vector<Case> cases = {
        {"older master", {{"A.esp", t, {"Morrowind.esm"}}}, {t}},
        {"master installed later",
         {{"A.esp", t, {"Morrowind.esm", "Newer.esm"}}},
         {t + 5000 + qvr::kAfterMaster}},
        {"master of the same time",
         {{"A.esp", t - 1000, {"MORROWIND.ESM"}}},
         {t - 1000 + qvr::kAfterMaster}},
        {"chain in the archive, masters last",
         {{"C.esp", t, {"B.esp"}}, {"B.esp", t + 10, {"A.esm"}}, {"A.esm", t + 20, {}}},
         {t + 20 + 2 * qvr::kAfterMaster, t + 20 + qvr::kAfterMaster, t + 20}},
        {"masters that need each other stop",
         {{"X.esp", t, {"Y.esp"}}, {"Y.esp", t, {"X.esp"}}},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<int64_t> times = qvr::PluginTimes(c.plugins, installed);
        ASSERT_EQ(times.size(), c.plugins.size());
        if (!c.expected.empty()) {
            EXPECT_EQ(times, c.expected);
        }
    }
    EXPECT_EQ(qvr::MorrowindLoadOrder({{"A.esp", 1}, {"Late.esm", 9}, {"B.esp", 0}, {"M.esm", 5}}),
              (std::vector<std::string>{"M.esm", "Late.esm", "B.esp", "A.esp"}));
}

TEST(Masters, MissingOnesAreNamedOnceWithThePlugInsNeedingThem) {
    const std::vector<PluginMasters> archive = {
        {"Tower.esm", {"Morrowind.esm", "Tribunal.esm"}},
        {"Tower.esp", {"morrowind.esm", "Tower.esm", "Tribunal.esm", "Bloodmoon.esm"}},
    };
    const auto missing = qvr::MissingMasters(
        archive, [](const std::string& n) { return qvr::SameTextIgnoreCase(n, "Morrowind.esm"); });
    ASSERT_EQ(missing.size(), 2u);
    EXPECT_EQ(missing[0].Name, "Tribunal.esm");
    EXPECT_EQ(missing[0].NeededBy, (std::vector<std::string>{"Tower.esm", "Tower.esp"}));
    EXPECT_EQ(missing[1].Name, "Bloodmoon.esm");
    const std::string text = qvr::MissingMastersMessage(missing, "the data folder");
    for (const char* name : {"Tribunal.esm", "Bloodmoon.esm"}) {
        const size_t first = text.find(name);
        EXPECT_NE(first, std::string::npos) << text;
        EXPECT_EQ(text.find(name, first + 1), std::string::npos) << text;
    }
    EXPECT_EQ(qvr::MissingMastersMessage({}, "the data folder"), "");
}

TEST(Masters, TargetsAreLookedUpInAnyLetterCase) {
    qvrtest::TempFolder data, mods;
    qvrtest::WriteAll(data.Path() / "morrowind.ESM", "x");
    qvrtest::WriteAll(mods.Path() / "Tribunal.esm", "x");
    const auto inData = qvr::DataFolderHolds(data.Path().string());
    EXPECT_TRUE(inData("Morrowind.esm"));
    EXPECT_FALSE(inData("Tribunal.esm"));
    const auto inOpenMW = qvr::OpenMWHolds(openmw::Config::Parse(
        "data=" + openmw::Quote(data.Path().string()) + "\ndata=" + mods.Path().string() + "\n"));
    EXPECT_TRUE(inOpenMW("MORROWIND.esm") && inOpenMW("tribunal.ESM"));
    EXPECT_FALSE(inOpenMW("Bloodmoon.esm"));
}

TEST(Masters, RequiredModulesAgainstWhatThePlugInsName) {
    const std::vector<PluginMasters> tower = {
        {"Tower.esp", {"Morrowind.esm", "Tribunal.esm", "Bloodmoon.esm", "Tower.esm"}},
        {"Tower.esm", {"Morrowind.esm"}}};
    struct Case {
        const char* depends;
        std::vector<std::string> missing, notNeeded;
    };
    const std::vector<Case> cases = {
        {"Morrowind.esm, Tribunal.esm", {"Bloodmoon.esm"}, {}},
        {"Requires Morrowind.esm, Tribunal.esm and Bloodmoon.esm.", {}, {}},
        {"Morrowind.esm\r\nTribunal.esm\r\nBloodmoon.esm\r\nTamriel_Data.esm\r\nTower.esm",
         {},
         {"Tamriel_Data.esm"}},
        {"the original game", {"Morrowind.esm", "Tribunal.esm", "Bloodmoon.esm"}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.depends);
        const qvr::RequiredModules r = qvr::CheckRequiredModules(tower, c.depends);
        EXPECT_EQ(r.Missing, c.missing);
        EXPECT_EQ(r.NotNeeded, c.notNeeded);
        EXPECT_EQ(r.Offer, "Morrowind.esm, Tribunal.esm, Bloodmoon.esm");
    }
}

// What each master of a load order is to the plug-in naming it.
TEST(Masters, EachProblemOfALoadOrderIsNamedForWhatItIs) {
    const std::vector<PluginMasters> headers = {
        {"Morrowind.esm", {}},       {"Late.esp", {"Morrowind.esm"}},
        {"Early.esp", {"late.esp"}}, {"Self.esp", {"Morrowind.esm", "SELF.esp"}},
        {"Gone.esp", {"Lost.esm"}},  {"Off.esp", {"Spare.esm"}},
    };
    const auto problems = qvr::CheckLoadOrder(
        {"Morrowind.esm", "Early.esp", "Late.esp", "Self.esp", "Gone.esp", "Off.esp"}, headers,
        [](const std::string& name) { return name == "Spare.esm"; });
    std::vector<std::pair<std::string, MasterProblem::Kind>> got;
    for (const MasterProblem& p : problems)
        got.emplace_back(p.Plugin + " needs " + p.Master, p.What);
    using K = MasterProblem::Kind;
    EXPECT_EQ(got,
              (std::vector<std::pair<std::string, K>>{{"Early.esp needs late.esp", K::LoadsAfter},
                                                      {"Self.esp needs SELF.esp", K::Itself},
                                                      {"Gone.esp needs Lost.esm", K::Missing},
                                                      {"Off.esp needs Spare.esm", K::NotEnabled}}));
}
