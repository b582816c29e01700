// A plug-in's header (.esp, .esm, .omwaddon): any bytes are read or refused, never past their
// end, and alike from memory and from a file.
#include "FuzzInput.h"
#include "qvr/games/PluginHeader.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    qvr::PluginHeader fromBytes, fromFile;
    const qvr::Result parsed = qvr::ParsePluginHeader(bytes, fromBytes);
    const qvr::Result read =
        qvr::ReadPluginHeader(fuzz::WriteInput("input.esp", data, size), fromFile);
    if (parsed.Ok() != read.Ok() || fromBytes.Masters.size() != fromFile.Masters.size() ||
        fromBytes.Author != fromFile.Author) {
        std::fprintf(stderr, "the file and its bytes read differently\n");
        std::abort();
    }
    // Whatever is accepted can be shown and looked for as a file name.
    for (const qvr::PluginMaster& m : fromBytes.Masters)
        if (!qvr::IsMasterName(m.Name)) {
            std::fprintf(stderr, "a master's name is not a file name\n");
            std::abort();
        }
    return 0;
}
