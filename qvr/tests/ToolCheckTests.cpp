// qvr check and the plug-ins' headers in qvr info, run as a program on installs made by qvr.

#include "ToolTestSupport.h"
#include "qvrtest/Plugins.h"

#include <chrono>

namespace {

using namespace tooltest;
using qvrtest::PluginBytes;
using qvrtest::PluginNeeding;

// The object lines of one section of check's JSON, without their commas.
std::vector<std::string> Section(const std::string& json, const std::string& name) {
    std::vector<std::string> out;
    size_t at = json.find("\"" + name + "\": [");
    if (at == std::string::npos)
        return {"no section " + name};
    at = json.find('\n', at);
    while (at != std::string::npos && json.compare(at + 1, 5, "    {") == 0) {
        const size_t end = json.find('\n', at + 1);
        std::string line = json.substr(at + 5, end - at - 5);
        if (line.ends_with(","))
            line.pop_back();
        out.push_back(line);
        at = end;
    }
    return out;
}

class Check : public Tool {
protected:
    // Packs files (path -> bytes) as name.qvr, the plug-in information naming it name.
    void Pack(const std::string& name, const std::map<std::string, std::string>& files) {
        for (const auto& [path, bytes] : files)
            WriteAll(dir / ("src-" + name) / path, bytes);
        const Result r = Run({"-q", "create", P(name + ".qvr"), "--name", name, P("src-" + name)});
        ASSERT_EQ(r.Code, 0) << r.Err;
    }
    // Three plug-ins whose files overlap; Gamma needs Beta, and masters nobody has.
    void PackThree() {
        Pack("Alpha", {{"Alpha.esp", PluginNeeding({"Morrowind.esm"})},
                       {"Meshes/shared.nif", "Alpha's mesh"},
                       {"Textures/a.dds", "Alpha's texture"}});
        Pack("Beta", {{"Beta.esp", PluginNeeding({"Morrowind.esm", "Tribunal.esm"})},
                      {"Meshes/shared.nif", "Beta's mesh"},
                      {"Textures/b.dds", "Beta's texture"}});
        Pack("Gamma", {{"Gamma.esp", PluginNeeding({"Beta.esp", "Bloodmoon.esm"})},
                       {"Meshes/shared.nif", "Gamma's mesh"},
                       {"Textures/a.dds", "Gamma's texture"}});
    }
    static void SetTime(const fs::path& file, int minutes) {
        fs::last_write_time(file, fs::file_time_type::clock::now() - std::chrono::hours(24) +
                                      std::chrono::minutes(minutes));
    }
};

TEST_F(Check, InfoShowsEachPlugInsHeader) {
    Pack("Tower", {{"Tower.esp", PluginBytes({false,
                                              false,
                                              "Anne",
                                              "A tower\r\nby the sea",
                                              {{"Morrowind.esm", 1}, {"Tower.esm", 2}}})},
                   {"Tower.esm", PluginBytes({true, true, "Bob", "", {}})},
                   {"Broken.esp", "TES3 but nothing more"}});
    const Result r = Run({"info", P("Tower.qvr")});
    EXPECT_EQ(r.Code, 0) << r.Err;
    for (const char* part : {"Plug-in:       Tower.esp\n  Master file: no\n  Author:      Anne\n"
                             "  Description: A tower\n               by the sea\n"
                             "  Masters:     Morrowind.esm\n               Tower.esm\n",
                             "Plug-in:       Tower.esm\n  Master file: yes\n  Author:      Bob\n",
                             "Plug-in:       Broken.esp\n  Header:      cannot be read"})
        EXPECT_TRUE(Contains(r.Out, part)) << r.Out;
}

TEST_F(Check, ReportsExactlyTheConflictsAndMissingMastersOfThreeInstalls) {
    const fs::path data = dir / "game" / "Data Files";
    WriteAll(data / "Morrowind.esm", PluginNeeding({}, true));
    WriteAll(
        dir / "game" / "Morrowind.ini",
        "[Game Files]\r\nGameFile0=Morrowind.esm\r\nGameFile1=Alpha.esp\r\nGameFile2=Beta.esp\r\n"
        "GameFile3=gamma.esp\r\nGameFile4=Gone.esp\r\n\r\n[Archives]\r\n");
    PackThree();
    for (const char* name : {"Alpha", "Beta", "Gamma"}) {
        const Result r = Run(
            {"-q", "install", "--overwrite", P(std::string(name) + ".qvr"), P("game/Data Files")});
        ASSERT_EQ(r.Code, 0) << r.Err;
    }
    SetTime(data / "Morrowind.esm", 0);
    SetTime(data / "Alpha.esp", 10);
    SetTime(data / "Gamma.esp", 20); // older than its master Beta.esp
    SetTime(data / "Beta.esp", 30);
    WriteAll(data / "Textures" / "b.dds", "changed by the player");

    const Result r = Run({"check", "--json", P("game/Data Files")});
    EXPECT_EQ(r.Code, 1) << r.Err;
    EXPECT_EQ(
        Section(r.Out, "conflicts"),
        (std::vector<std::string>{
            R"({"path": "Meshes\\shared.nif", "installs": ["Alpha", "Beta", "Gamma"], "in_place": "Gamma"})",
            R"({"path": "Textures\\a.dds", "installs": ["Alpha", "Gamma"], "in_place": "Gamma"})"}))
        << r.Out;
    EXPECT_EQ(Section(r.Out, "masters"),
              (std::vector<std::string>{
                  R"({"plugin": "Gamma.esp", "master": "Beta.esp", "problem": "loads-after"})",
                  R"({"plugin": "Gamma.esp", "master": "Bloodmoon.esm", "problem": "missing"})",
                  R"({"plugin": "Beta.esp", "master": "Tribunal.esm", "problem": "missing"})"}))
        << r.Out;
    EXPECT_EQ(
        Section(r.Out, "lists"),
        (std::vector<std::string>{
            R"({"entry": "GameFile3", "file": "gamma.esp", "problem": "letter-case", "on_disk": "Gamma.esp"})",
            R"({"entry": "GameFile4", "file": "Gone.esp", "problem": "missing", "on_disk": ""})"}))
        << r.Out;
    EXPECT_EQ(Section(r.Out, "changed"),
              std::vector<std::string>{
                  R"({"install": "Beta", "path": "Textures\\b.dds", "problem": "changed"})"})
        << r.Out;
    EXPECT_TRUE(Contains(r.Out, "\"problems\": 8")) << r.Out;

    const Result text = Run({"check", P("game/Data Files")});
    EXPECT_EQ(text.Code, 1);
    EXPECT_TRUE(Contains(text.Out, "Gamma.esp needs Beta.esp, which loads after it")) << text.Out;
    EXPECT_TRUE(Contains(text.Out, "Alpha, Beta, Gamma; Gamma's copy is in place")) << text.Out;

    // An install cut short, and a Morrowind.ini that cannot be read, are problems too.
    const fs::path record = data / ".qvr-installed" / "beta.qvr.ini";
    std::string beta = ReadAll(record);
    beta.replace(beta.find("state=installed"), 15, "state=installing");
    WriteAll(record, beta);
    fs::remove(dir / "game" / "Morrowind.ini");
    fs::create_directories(dir / "game" / "Morrowind.ini");
    const Result cut = Run({"check", P("game/Data Files")});
    EXPECT_EQ(cut.Code, 1);
    EXPECT_TRUE(Contains(cut.Out, "Cut short")) << cut.Out;
    EXPECT_TRUE(Contains(cut.Out, "\n  Beta\n")) << cut.Out;
    EXPECT_TRUE(Contains(cut.Out, "Morrowind.ini: cannot be read")) << cut.Out;
}

TEST_F(Check, ForOpenMWTheContentLinesAreTheLoadOrder) {
    WriteAll(dir / "game" / "Morrowind.esm", PluginNeeding({}, true));
    WriteAll(dir / "cfg" / "openmw.cfg",
             "data=\"" + P("game") + "\"\ncontent=Morrowind.esm\ncontent=Gamma.esp\n");
    SetEnv("OPENMW_CONFIG_DIR", P("cfg").c_str());
    PackThree();
    for (const char* name : {"Alpha", "Gamma"}) {
        const Result r = Run({"-q", "install", "--openmw", "--mods-folder", P("mods"),
                              P(std::string(name) + ".qvr")});
        ASSERT_EQ(r.Code, 0) << r.Err;
    }
    const Result r = Run({"check", "--openmw", "--json"});
    SetEnv("OPENMW_CONFIG_DIR", nullptr);
    EXPECT_EQ(r.Code, 1) << r.Err;
    EXPECT_EQ(
        Section(r.Out, "conflicts"),
        (std::vector<std::string>{
            R"({"path": "Meshes\\shared.nif", "installs": ["Alpha", "Gamma"], "in_place": "Gamma"})",
            R"({"path": "Textures\\a.dds", "installs": ["Alpha", "Gamma"], "in_place": "Gamma"})"}))
        << r.Out;
    EXPECT_EQ(Section(r.Out, "masters"),
              (std::vector<std::string>{
                  R"({"plugin": "Gamma.esp", "master": "Beta.esp", "problem": "missing"})",
                  R"({"plugin": "Gamma.esp", "master": "Bloodmoon.esm", "problem": "missing"})"}))
        << r.Out;
    EXPECT_EQ(Section(r.Out, "lists"), std::vector<std::string>{}) << r.Out;
}

} // namespace
