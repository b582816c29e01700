#include "qvr/install/detail/RemovalLookup.h"

#include "qvr/install/detail/InstallPaths.h"

#include <algorithm>

namespace qvr::detail {

RemovalLookup::RemovalLookup(const InstallRecord& record, std::vector<InstallRecord>& all)
    : m_record(record), m_all(all) {
    m_mine.reserve(record.Files.size());
    m_others.reserve(record.Files.size());
    for (const RecordedFile& f : record.Files) {
        m_mine.emplace(f.Path, &f);
        m_others.try_emplace(FoldCase(f.Path));
    }
    // Only the paths this record holds: one pass over the others' files, nothing kept of
    // theirs that this removal never asks about.
    for (size_t r = 0; r < all.size(); ++r)
        for (size_t f = 0; f < all[r].Files.size(); ++f)
            if (auto it = m_others.find(FoldCase(all[r].Files[f].Path)); it != m_others.end())
                it->second.emplace_back(r, f);
}

const RecordedFile* RemovalLookup::Mine(const std::string& path) const {
    const auto it = m_mine.find(path);
    return it == m_mine.end() ? nullptr : it->second;
}

const RecordedFile* RemovalLookup::LaterOwner(const std::string& path, int64_t& sequence,
                                              std::string& name) const {
    const auto it = m_others.find(FoldCase(path));
    if (it == m_others.end())
        return nullptr;
    for (const auto& [r, f] : it->second) {
        const InstallRecord& other = m_all[r];
        if (other.Sequence <= m_record.Sequence || other.State != RecordState::Installed)
            continue;
        sequence = other.Sequence;
        name = other.Name.empty() ? other.Archive : other.Name;
        return &other.Files[f];
    }
    return nullptr;
}

std::vector<RecordedFile*> RemovalLookup::LaterFiles(const std::string& path, int64_t sequence) {
    std::vector<RecordedFile*> out;
    const auto it = m_others.find(FoldCase(path));
    if (it == m_others.end())
        return out;
    for (const auto& [r, f] : it->second)
        if (m_all[r].Sequence == sequence) {
            out.push_back(&m_all[r].Files[f]);
            m_changed.insert(r);
        }
    return out;
}

InstallRecord* RemovalLookup::LaterHolder(const std::function<bool(const std::string&)>& holds) {
    for (size_t r = 0; r < m_all.size(); ++r) {
        const InstallRecord& other = m_all[r];
        if (other.Sequence <= m_record.Sequence || other.State != RecordState::Installed ||
            std::none_of(other.Files.begin(), other.Files.end(),
                         [&](const RecordedFile& f) { return holds(f.Path); }))
            continue;
        m_changed.insert(r);
        return &m_all[r];
    }
    return nullptr;
}

bool RemovalLookup::OtherHoldsLine(const ConfigEdit& edit, const std::string& line) const {
    return std::any_of(m_all.begin(), m_all.end(), [&](const InstallRecord& other) {
        return other.Sequence != m_record.Sequence && other.State == RecordState::Installed &&
               std::any_of(other.Edits.begin(), other.Edits.end(), [&](const ConfigEdit& e) {
                   return e.Kind == edit.Kind && e.File == edit.File &&
                          std::find(e.Add.begin(), e.Add.end(), line) != e.Add.end();
               });
    });
}

std::vector<const InstallRecord*> RemovalLookup::Changed() const {
    std::vector<const InstallRecord*> out;
    for (size_t r : m_changed)
        out.push_back(&m_all[r]);
    return out;
}

} // namespace qvr::detail
