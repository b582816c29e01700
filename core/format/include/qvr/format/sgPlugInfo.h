#pragma once
// The plug-in information record that travels as the archive's info entry.

#include "qvr/platform/Result.h"
#include <string>

namespace qvr {

class Archives;

class sgPlugInfo {
public:
    void Notes(const std::string& vData) { m_Notes = vData; }
    const std::string& Notes() const { return m_Notes; }
    void Version(const std::string& vData) { m_Version = vData; }
    const std::string& Version() const { return m_Version; }
    void PluginName(const std::string& vData) { m_PluginName = vData; }
    const std::string& PluginName() const { return m_PluginName; }
    void LastUpdated(const std::string& vData) { m_LastUpdated = vData; }
    const std::string& LastUpdated() const { return m_LastUpdated; }
    void Authors(const std::string& vData) { m_Authors = vData; }
    const std::string& Authors() const { return m_Authors; }
    void Depends(const std::string& vData) { m_Depends = vData; }
    const std::string& Depends() const { return m_Depends; }

    // Appends the record as a new info entry named arcName + ".ifo" to the open archive.
    // Fails, saying why, when it could not be stored.
    Result SavePluginData(Archives& arc, const std::string& arcName) const;
    // Replaces the info entry in one rebuild; on failure the archive keeps its old entry.
    Result UpdatePluginData(Archives& arc, const std::string& arcName) const;
    // Fills all six fields from the info entry named vFile + ".ifo"; on failure the
    // fields keep their earlier values.
    Result GetPluginData(Archives& arc, const std::string& vFile);

    // The record's bytes (Windows-1252, six NUL-terminated texts) and back.
    // Fails for a text Windows-1252 cannot hold; record is then unchanged.
    [[nodiscard]] Result ToRecord(std::string& record) const;
    void FromRecord(std::string vBuffer);
    static std::string GetToNull(std::string& vString);

    bool operator==(const sgPlugInfo&) const = default;

private:
    static std::string NullTerminate(const std::string& vText);

    std::string m_PluginName;
    std::string m_Version;
    std::string m_Notes;
    std::string m_LastUpdated;
    std::string m_Authors;
    std::string m_Depends;
};

} // namespace qvr
