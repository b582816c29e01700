#include "IniFile.h"

#include "qvr/platform/SettingsFile.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace installer {

IniFile::IniFile(QString path) : m_path(std::move(path)) {}

IniValue IniFile::ReadIniValue(const QString& section, const QString& key) const {
    const std::string path = QDir::toNativeSeparators(m_path).toStdString();
    std::string value;
    qvr::Result read = qvr::CreateSettingsFile(path);
    if (read)
        read = qvr::ReadSetting(path, section.toStdString(), key.toStdString(), value);
    if (!read)
        return {QString(), read};
    return {QString::fromStdString(value), {}};
}

qvr::Result IniFile::WriteIniValue(const QString& section, const QString& key,
                                   const QString& value) const {
    return qvr::WriteSetting(QDir::toNativeSeparators(m_path).toStdString(), section.toStdString(),
                             key.toStdString(), value.toStdString());
}

QString SettingsFilePath(const QString& programFolder) {
    const QString name = QStringLiteral("qvrinst.ini");
    // A settings file already beside the program makes it a portable copy, kept on a stick or
    // in a folder of its own: it goes on using that file.
    if (!programFolder.isEmpty() && QFileInfo(QDir(programFolder).filePath(name)).isFile())
        return QDir::toNativeSeparators(QDir(programFolder).filePath(name));
#ifdef _WIN32
    // %APPDATA%, which roams with the user, as Windows programs keep their settings.
    const auto userPlace = QStandardPaths::AppDataLocation;
#else
    const auto userPlace = QStandardPaths::AppConfigLocation;
#endif
    const QString config = QStandardPaths::writableLocation(userPlace);
    QDir().mkpath(config);
    return QDir::toNativeSeparators(QDir(config).filePath(name));
}

} // namespace installer
