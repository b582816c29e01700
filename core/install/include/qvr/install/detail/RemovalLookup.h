#pragma once
// What a removal looks up for each of its files, made once for the whole removal: looking each
// up in every record instead made taking back 100,000 files cost minutes.

#include "qvr/install/InstallRecord.h"

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace qvr::detail {

class RemovalLookup {
public:
    // record's files by their paths, and where the installs of all (which may hold record
    // itself) wrote the same paths, letter case aside. Both must outlive the lookup, their
    // lists of files unchanged.
    RemovalLookup(const InstallRecord& record, std::vector<InstallRecord>& all);

    // record's file of that path (as recorded); null when it has none.
    const RecordedFile* Mine(const std::string& path) const;
    // The file of that path of the first install after record (oldest first) that is still
    // installed; null when none. sequence and name say whose it is.
    const RecordedFile* LaterOwner(const std::string& path, int64_t& sequence,
                                   std::string& name) const;
    // The files of that path in the install numbered sequence, to be changed; their records
    // are noted as changed.
    std::vector<RecordedFile*> LaterFiles(const std::string& path, int64_t sequence);
    // The first install after record (oldest first), still installed, holding a file holds
    // answers yes for; noted as changed. Null when none.
    InstallRecord* LaterHolder(const std::function<bool(const std::string&)>& holds);
    // Whether another install still installed has the same line in the same file: the line is
    // that install's as well, and stays.
    bool OtherHoldsLine(const ConfigEdit& edit, const std::string& line) const;
    // The installs LaterFiles and LaterHolder handed out, to be written again.
    std::vector<const InstallRecord*> Changed() const;

private:
    const InstallRecord& m_record;
    std::vector<InstallRecord>& m_all;
    std::unordered_map<std::string, const RecordedFile*> m_mine;
    // Folded path -> (index in all, index in its files), in the order of all.
    std::unordered_map<std::string, std::vector<std::pair<size_t, size_t>>> m_others;
    std::set<size_t> m_changed;
};

} // namespace qvr::detail
