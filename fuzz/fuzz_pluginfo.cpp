// The plug-in information record: six NUL-terminated Windows-1252 texts.
#include "qvr/format/sgPlugInfo.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qvr::sgPlugInfo info;
    info.FromRecord(std::string(reinterpret_cast<const char*>(data), size));
    // Whatever was read can be stored again and reads back the same, so that an information
    // update never changes the fields the author did not touch.
    std::string record;
    if (const qvr::Result stored = info.ToRecord(record); !stored) {
        std::fprintf(stderr, "read fields cannot be stored: %s\n", stored.Message.c_str());
        std::abort();
    }
    qvr::sgPlugInfo again;
    again.FromRecord(record);
    if (!(again == info)) {
        std::fprintf(stderr, "the record does not read back as it was stored\n");
        std::abort();
    }
    return 0;
}
