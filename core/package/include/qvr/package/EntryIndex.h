#pragma once
// Entries looked up by folder and name, ignoring letter case as Archives::FindEntry does, in
// constant time: looking each of thousands of files up in a package of thousands of entries
// one by one costs the product of the two.

#include "qvr/format/sgFileInfo.h"
#include "qvr/platform/Encoding.h"

#include <string>
#include <unordered_map>
#include <vector>

namespace qvr {

class EntryIndex {
public:
    // The list is read, not copied: it must outlive the index and stay as it is.
    explicit EntryIndex(const std::vector<sgFileInfo>& entries) : m_entries(entries) {
        m_first.reserve(entries.size());
        for (size_t k = 0; k < entries.size(); ++k)
            m_first.try_emplace(Key(entries[k].FileName(), entries[k].FilePath()), k);
    }

    // The first entry of that folder and name, or nullptr.
    const sgFileInfo* Find(const std::string& fileName, const std::string& filePath) const {
        const auto found = m_first.find(Key(fileName, filePath));
        return found == m_first.end() ? nullptr : &m_entries[found->second];
    }

private:
    // The folder's length leads, so that no folder and name run into another pair's.
    static std::string Key(const std::string& fileName, const std::string& filePath) {
        const std::string folder = LowerText(filePath);
        return std::to_string(folder.size()) + ':' + folder + LowerText(fileName);
    }

    const std::vector<sgFileInfo>& m_entries;
    std::unordered_map<std::string, size_t> m_first;
};

} // namespace qvr
