// Writes the seed corpus of the archive targets: small packages made by the library itself,
// a zip file when one is named, and truncated and bit-flipped copies of each.
// Usage: fuzz_make_seeds CORPUS_FOLDER [ZIP_FILE...]
#include "qvr/format/sgPlugInfo.h"
#include "qvr/package/Archives.h"
#include "qvrtest/Plugins.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteAll(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// Text that compresses well, then bytes that do not.
std::string Content(size_t length, unsigned seed) {
    std::string s;
    unsigned x = seed * 2654435761u + 1;
    for (size_t i = 0; i < length; ++i) {
        x = x * 1103515245u + 12345u;
        s += i < length / 2 ? char('a' + i % 7) : char(x >> 16);
    }
    return s;
}

struct Member {
    std::string Name, Folder;
    size_t Length;
};

// The info entry is named for "input.qvr", the name the targets give every input.
bool MakePackage(const fs::path& work, const fs::path& out, const std::vector<Member>& members,
                 bool withInfo) {
    qvr::Archives arc;
    const std::string path = (work / "input.qvr").string();
    fs::remove(path);
    if (!arc.CreateArchive(path))
        return false;
    unsigned seed = 1;
    for (const Member& m : members) {
        const fs::path source = work / m.Name;
        WriteAll(source, Content(m.Length, seed++));
        if (const qvr::Result added = arc.AddFileToArchive(source.string(), m.Name, m.Folder);
            !added) {
            std::fprintf(stderr, "%s\n", added.Message.c_str());
            return false;
        }
    }
    if (withInfo) {
        qvr::sgPlugInfo info;
        info.PluginName("Seed Mod");
        info.Version("1.2");
        info.Depends("Morrowind.esm");
        info.Authors("A. Author");
        info.LastUpdated("7/12/2026");
        info.Notes("Caf\xc3\xa9 notes\r\nsecond line");
        if (!info.SavePluginData(arc, "input.qvr"))
            return false;
    }
    fs::copy_file(path, out, fs::copy_options::overwrite_existing);
    return true;
}

// Truncations where the reader changes its mind, and a few single-bit flips spread over the file.
void WriteVariants(const fs::path& original) {
    const std::string bytes = ReadAll(original);
    const std::string stem = original.stem().string();
    const fs::path folder = original.parent_path();
    for (size_t cut : {size_t{6}, size_t{10}, bytes.size() / 2, bytes.size() - 1}) {
        if (cut < bytes.size())
            WriteAll(folder / (stem + "-cut" + std::to_string(cut)), bytes.substr(0, cut));
    }
    unsigned x = 12345;
    for (int i = 0; i < 4 && bytes.size() > 10; ++i) {
        x = x * 1103515245u + 12345u;
        // The head (the directory's position) once, then the rest of the file.
        const size_t at = i == 0 ? 7 : 10 + (x >> 8) % (bytes.size() - 10);
        std::string flipped = bytes;
        flipped[at] = char(flipped[at] ^ (1u << (x % 8)));
        WriteAll(folder / (stem + "-flip" + std::to_string(at)), flipped);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s CORPUS_FOLDER [ZIP_FILE...]\n", argv[0]);
        return 2;
    }
    const fs::path corpus = argv[1];
    const fs::path work = fs::temp_directory_path() / "qvr-fuzz-seeds";
    fs::remove_all(work);
    fs::create_directories(work);

    std::vector<fs::path> packages;
    const auto add = [&](const std::string& name, const std::vector<Member>& members, bool info) {
        const fs::path out = work / (name + ".qvr.seed");
        if (!MakePackage(work, out, members, info)) {
            std::fprintf(stderr, "cannot make %s\n", name.c_str());
            std::exit(1);
        }
        packages.push_back(out);
    };
    add("empty", {}, false);
    add("one", {{"Mod.esp", "", 300}}, false);
    add("info", {{"Mod.esp", "", 200}}, true);
    add("several",
        {{"Mod.esp", "", 400}, {"rock.dds", "Textures", 600}, {"rock.nif", "Meshes\\rock", 500}},
        true);

    for (const char* target : {"fuzz_open", "fuzz_extract"}) {
        const fs::path folder = corpus / target;
        fs::create_directories(folder);
        for (const fs::path& p : packages) {
            const fs::path to = folder / p.stem().stem();
            fs::copy_file(p, to, fs::copy_options::overwrite_existing);
            WriteVariants(to);
        }
    }
    // Zip files go to the zip target whole and damaged, and to open as they are.
    fs::create_directories(corpus / "fuzz_zip");
    for (int i = 2; i < argc; ++i) {
        const fs::path zip = argv[i];
        fs::copy_file(zip, corpus / "fuzz_zip" / zip.filename(),
                      fs::copy_options::overwrite_existing);
        WriteVariants(corpus / "fuzz_zip" / zip.filename());
        fs::copy_file(zip, corpus / "fuzz_open" / zip.filename(),
                      fs::copy_options::overwrite_existing);
    }
    // One package as the zip target sees it: not a zip at all.
    fs::copy_file(packages.back(), corpus / "fuzz_zip" / "package.qvr",
                  fs::copy_options::overwrite_existing);
    // The information record alone, as the info entry holds it.
    fs::create_directories(corpus / "fuzz_pluginfo");
    qvr::sgPlugInfo info;
    info.PluginName("Seed Mod");
    info.Version("1.2");
    info.Notes("Caf\xc3\xa9 \xe2\x80\x94 notes");
    std::string record;
    if (!info.ToRecord(record))
        return 1;
    WriteAll(corpus / "fuzz_pluginfo" / "record", record);
    WriteAll(corpus / "fuzz_pluginfo" / "short", std::string("Name\0Ver", 8));
    // Plug-ins as the tests make them: with and without FORM, no masters and many.
    fs::create_directories(corpus / "fuzz_plugin_header");
    const auto plugin = [&](const std::string& name, const qvrtest::PluginShape& shape) {
        WriteAll(corpus / "fuzz_plugin_header" / name, qvrtest::PluginBytes(shape));
    };
    plugin("no-masters", {false, false, "Anne", "Nothing needed", {}});
    plugin("form", {true, true, "OpenMW", "Saved by OpenMW", {{"Morrowind.esm", 79837557}}});
    qvrtest::PluginShape many{false, false, "Anne", "Caf\xe9", {}};
    for (int i = 0; i < 40; ++i)
        many.Masters.push_back({"Master " + std::to_string(i) + ".esm", 1000u + i});
    plugin("many-masters", many);
    WriteAll(corpus / "fuzz_plugin_header" / "with-records",
             qvrtest::PluginNeeding({"Morrowind.esm", "Tribunal.esm"}));
    fs::remove_all(work);
    return 0;
}
