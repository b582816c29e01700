// OpenMW's openmw.cfg: every byte the user wrote must survive reading and writing.
#include "qvr/games/OpenMWConfig.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    qvr::openmw::Config config = qvr::openmw::Config::Parse(bytes);
    if (config.Bytes() != bytes) {
        std::fprintf(stderr, "the file does not write back byte for byte\n");
        std::abort();
    }
    for (const std::string& value : config.Values("data"))
        qvr::openmw::Quote(value);
    const qvr::openmw::ModLines mod{"C:\\Mods\\New & \"Fine\"", {"New.esp", "Other.esm"}};
    const qvr::openmw::ModLines added = config.AddMod(mod);
    config.RemoveMod(added);
    return 0;
}
