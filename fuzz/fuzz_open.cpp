// Opening a file as the programs do: the QVR head and directory, or a zip file's listing.
#include "FuzzInput.h"

#include "qvr/package/Archives.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fuzz::WriteInput("input.qvr", data, size);
    qvr::Archives arc;
    arc.TempFolder = fuzz::WorkFolder();
    const qvr::OpenStatus status = arc.Open(path);
    // What the windows show of every entry must be there to read.
    size_t chars = 0;
    for (const qvr::sgFileInfo& e : arc.ArchiveFiles)
        chars += e.FileName().size() + e.FilePath().size() + e.FileDate().size();
    if (status.Usable() && arc.CurrentArchive != path)
        std::abort(); // a usable archive is the open one
    (void)chars;
    return 0;
}
