// Random installs and removals against a model: the data folder must always equal the
// original files with the installed plug-ins laid over them in install order.

#include "ReversibleSupport.h"

#include <algorithm>
#include <random>
#include <set>

using namespace qvrtest;

namespace {

const std::vector<std::string> kPool = {"Meshes\\x.nif",   "Meshes\\a\\b.nif", "Textures\\t.dds",
                                        "Textures\\u.dds", "Sound\\s.wav",     "Music\\m.mp3",
                                        "shared.esp"};

struct Layer {
    int Plugin;
    std::set<std::string> Owned; // written by it (existing files it was told to skip are not)
};

class Model : public Reversible {
protected:
    Files Expected() const {
        Files f = base;
        for (const Layer& l : stack)
            for (const std::string& path : l.Owned)
                f[path] = plugins[l.Plugin].at(path);
        return f;
    }

    void Run(unsigned seed, int steps) {
        std::mt19937 rng(seed);
        base = {{"Morrowind.esm", "master"},
                {"Meshes\\x.nif", RandomBytes(300, seed)},
                {"Textures\\t.dds", "base t"}};
        Lay(Data(), base);
        for (int p = 0; p < 5; ++p) {
            Files files;
            for (const std::string& path : kPool)
                if (rng() % 2)
                    files[path] = "plug-in " + std::to_string(p) + " " + path +
                                  RandomBytes(rng() % 200, seed * 10 + p);
            files["p" + std::to_string(p) + ".esp"] = "own " + std::to_string(p);
            plugins.push_back(files);
            packs.push_back(Pack("p" + std::to_string(p), files));
        }
        for (int step = 0; step < steps; ++step) {
            const int p = static_cast<int>(rng() % plugins.size());
            auto at = std::find_if(stack.begin(), stack.end(),
                                   [&](const Layer& l) { return l.Plugin == p; });
            if (at == stack.end()) {
                const Files now = Expected();
                Layer layer{p, {}};
                auto report = Install(packs[p], [&](const qvr::sgFileInfo& e, const std::string&) {
                    bool yes = rng() % 2;
                    if (yes)
                        layer.Owned.insert(qvr::EntryDisplayPath(e));
                    return yes;
                });
                ASSERT_TRUE(report.Outcome.Ok()) << report.Outcome.Message;
                for (const auto& [path, content] : plugins[p])
                    if (!now.count(path))
                        layer.Owned.insert(path);
                stack.push_back(layer);
            } else {
                auto report = qvr::RemoveByRecord(Data(), "p" + std::to_string(p) + ".qvr");
                ASSERT_TRUE(report.Outcome.Ok()) << report.Outcome.Message;
                EXPECT_EQ(report.Count(qvr::FileFate::Failed), 0u);
                stack.erase(at);
            }
            ASSERT_EQ(Snapshot(Data()), Expected()) << "seed " << seed << ", step " << step;
            ASSERT_EQ(qvr::ListInstallRecords(Data()).size(), stack.size());
        }
        // Every kept copy is still there: taking everything back gives the original.
        while (!stack.empty()) {
            size_t i = rng() % stack.size();
            ASSERT_TRUE(qvr::RemoveByRecord(Data(), "p" + std::to_string(stack[i].Plugin) + ".qvr")
                            .Outcome.Ok());
            stack.erase(stack.begin() + static_cast<std::ptrdiff_t>(i));
            ASSERT_EQ(Snapshot(Data()), Expected());
        }
        EXPECT_EQ(Snapshot(Data()), base);
        EXPECT_FALSE(fs::exists(qvr::RecordFolder(Data())));
    }

    Files base;
    std::vector<Files> plugins;
    std::vector<std::string> packs;
    std::vector<Layer> stack;
};

TEST_F(Model, RandomInstallsAndRemovalsSeed1) {
    Run(1, 300);
}
TEST_F(Model, RandomInstallsAndRemovalsSeed2) {
    Run(2, 300);
}
TEST_F(Model, RandomInstallsAndRemovalsSeed3) {
    Run(3, 300);
}

} // namespace
