#pragma once
// Byte helpers every folder's tests share: whole files read and written, little-endian
// integers, and reproducible file contents.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

namespace qvrtest {

inline std::string ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Makes the folders the file needs first.
inline void WriteAll(const std::filesystem::path& path, const std::string& bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string Le64(uint64_t v) {
    std::string s(8, '\0');
    for (int k = 0; k < 8; ++k)
        s[k] = static_cast<char>((v >> (8 * k)) & 0xFF);
    return s;
}

inline bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

inline std::string Le32(int32_t v) {
    std::string s(4, '\0');
    for (int k = 0; k < 4; ++k)
        s[k] = static_cast<char>((static_cast<uint32_t>(v) >> (8 * k)) & 0xFF);
    return s;
}

inline int32_t GetLe32(const std::string& s, size_t at) {
    uint32_t v = 0;
    for (int k = 3; k >= 0; --k)
        v = (v << 8) | static_cast<unsigned char>(s[at + k]);
    return static_cast<int32_t>(v);
}

// Bytes that compress a little, different for each seed.
inline std::string MixedBytes(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] =
            (i % 7 == 0) ? static_cast<char>(rng() & 0xFF) : static_cast<char>('a' + (i / 13) % 26);
    return s;
}

// Bytes that do not compress.
inline std::string RandomBytes(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (char& c : s)
        c = static_cast<char>(rng() & 0xFF);
    return s;
}

} // namespace qvrtest
