// Listing a zip file (the installer shows a zip's entries but never changes one).
#include "FuzzInput.h"

#include "qvr/package/Archives.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fuzz::WriteInput("input.zip", data, size);
    qvr::Archives arc;
    arc.TempFolder = fuzz::WorkFolder();
    arc.IsZipArchive(path);
    (void)arc.ReadZipDirectory(path); // only crashes count
    size_t chars = 0;
    for (const qvr::sgFileInfo& e : arc.ArchiveFiles)
        chars += e.FileName().size() + e.FilePath().size();
    (void)chars;
    return 0;
}
