#pragma once
// The installer's settings file: sections of key=value lines, read and written line by line.
// Lines are written with CR LF; reading takes CR LF or LF. Texts are written as UTF-8 and read
// as UTF-8, or as Windows-1252 when the bytes are not UTF-8 (a file from an older installer).

#include <QString>
#include <QStringList>

namespace installer {

class IniFile {
public:
    explicit IniFile(QString path);

    const QString& Path() const { return m_path; }
    QString TempCopyPath() const { return m_path + QLatin1Char('x'); }

    // The key's value in the section, or "" when the section or the key is not there. A
    // missing or empty file is first created holding "[Settings]". Throws std::runtime_error
    // when the file cannot be created or read.
    QString ReadIniValue(const QString& section, const QString& key) const;
    // Sets the key as the last line of its section, creating the file, the section or the
    // key as needed; every other line keeps its place. The new text is built in the
    // temporary copy and then takes the file's place. Throws std::runtime_error on failure,
    // leaving the settings file as it was.
    void WriteIniValue(const QString& section, const QString& key, const QString& value) const;

    // The line rules, shared by both procedures.
    static bool IsKeyLine(const QString& line, const QString& key);
    static QString ValueOf(const QString& line, const QString& key);

private:
    QStringList ReadLines() const;
    QString m_path;
};

// Where the settings file lives: beside the program when that folder can be written,
// otherwise in the user's configuration folder.
QString SettingsFilePath(const QString& programFolder);

} // namespace installer
