#pragma once
// The installer's settings file, as the window's texts: the library's reader and writer, which
// qvr shares (see qvr/platform/SettingsFile.h for the file's rules).

#include "qvr/platform/Result.h"

#include <QString>
#include <QStringList>

namespace installer {

// A value read, with how the reading went.
struct IniValue {
    QString Value; // "" when the section or the key is not there, or the file could not be read
    qvr::Result Outcome;
};

class IniFile {
public:
    explicit IniFile(QString path);

    const QString& Path() const { return m_path; }

    // The key's value in the section, or "" when the section or the key is not there. A
    // missing or empty file is first created holding "[Settings]". Fails when the file cannot
    // be created or read.
    IniValue ReadIniValue(const QString& section, const QString& key) const;
    // Sets the key as the last line of its section, creating the file, the section or the
    // key as needed; every other line keeps its place. The new text is written to a work file
    // beside the settings file, flushed to the disk and then takes its place, so a failure at
    // any step leaves the settings file as it was.
    qvr::Result WriteIniValue(const QString& section, const QString& key,
                              const QString& value) const;

private:
    QString m_path;
};

// Where the settings file lives: beside the program when that folder can be written,
// otherwise in the user's configuration folder.
QString SettingsFilePath(const QString& programFolder);

} // namespace installer
