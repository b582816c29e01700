#pragma once
// The library reads files, not buffers: each input is written to one file in a folder of this
// process's own, reused for every input, and removed when the process ends.

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzz {

// The process's folder, ending in "/"; made on first use.
const std::string& WorkFolder();
// Writes the input to WorkFolder() + name (replacing what was there) and answers its path.
std::string WriteInput(const std::string& name, const uint8_t* data, size_t size);
// Removes every file in WorkFolder() except those the caller keeps writing anew.
void ClearWorkFolder();

} // namespace fuzz
