#include "IniFile.h"

#include "qvr/platform/Encoding.h"
#include "qvr/platform/FileUtils.h"
#include "qvr/platform/RandomAccessFile.h"
#include "qvr/platform/TempFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <stdexcept>

namespace installer {

namespace {

const QString kDefaultHeader = QStringLiteral("[Settings]");

[[noreturn]] void Fail(const QString& what, const QString& path, const QString& why) {
    throw std::runtime_error(
        (what + QStringLiteral(" ") + QDir::toNativeSeparators(path) + QStringLiteral(": ") + why)
            .toStdString());
}

QByteArray Encode(const QStringList& lines) {
    QByteArray bytes;
    for (const QString& line : lines)
        bytes += line.toUtf8() + "\r\n";
    return bytes;
}

// The bytes become the file's whole content in one step: written beside it, flushed to the
// disk, then put in its place (with its permissions; through a link, its target changes).
void WriteWhole(const QString& path, const QByteArray& bytes) {
    const std::string target = path.toStdString();
    qvr::TempFile work;
    try {
        work = qvr::TempFile::Beside(target);
        qvr::RandomAccessFile file(work.Path(), qvr::RandomAccessFile::Mode::ReadWrite);
        file.WriteAt(1, bytes.constData(), size_t(bytes.size()));
        file.Close();
        work.ReplaceInto(target);
    } catch (const std::exception& e) {
        // The user knows the settings file, not the work file the library names.
        std::string why = e.what();
        for (const std::string& named : {work.Path(), target})
            if (const size_t at = why.find(named + ": "); !named.empty() && at != why.npos) {
                why.erase(0, at + named.size() + 2);
                break;
            }
        Fail(QStringLiteral("Cannot write"), path, QString::fromStdString(why));
    }
}

QString Decode(const QByteArray& bytes) {
    const QString utf8 = QString::fromUtf8(bytes);
    if (utf8.toUtf8() == bytes)
        return utf8;
    return QString::fromStdString(qvr::Cp1252ToUtf8(bytes.toStdString()));
}

bool Exists(const QString& path) {
    return qvr::FileExists(path.toStdString());
}

} // namespace

IniFile::IniFile(QString path) : m_path(std::move(path)) {}

bool IniFile::IsKeyLine(const QString& line, const QString& key) {
    return line.size() >= key.size() &&
           QStringView(line).left(key.size()).compare(key, Qt::CaseInsensitive) == 0;
}

QString IniFile::ValueOf(const QString& line, const QString& key) {
    return line.mid(key.size() + 1);
}

QStringList IniFile::ReadLines() const {
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        Fail(QStringLiteral("Cannot read"), m_path, file.errorString());
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        Fail(QStringLiteral("Cannot read"), m_path, file.errorString());
    QStringList lines = Decode(bytes).split(QLatin1Char('\n'));
    // The line end of the last line does not start another line.
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (QString& line : lines) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
    }
    return lines;
}

IniValue IniFile::ReadIniValue(const QString& section, const QString& key) const {
    // Failures are thrown inside and answered as a result at the edge.
    try {
        if (!Exists(m_path))
            WriteWhole(m_path, Encode({kDefaultHeader}));
        const QStringList lines = ReadLines();
        const QString header = QLatin1Char('[') + section + QLatin1Char(']');
        const qsizetype start = lines.indexOf(header);
        if (start < 0)
            return {};
        for (qsizetype i = start + 1; i < lines.size(); ++i) {
            if (lines[i].startsWith(QLatin1Char('[')))
                break;
            if (IsKeyLine(lines[i], key))
                return {ValueOf(lines[i], key), {}};
        }
        return {};
    } catch (const std::exception& e) {
        return {QString(), qvr::Result::EntryFailure(e.what())};
    }
}

qvr::Result IniFile::WriteIniValue(const QString& section, const QString& key,
                                   const QString& value) const {
    try {
        Write(section, key, value);
        return {};
    } catch (const std::exception& e) {
        return qvr::Result::EntryFailure(e.what());
    }
}

void IniFile::Write(const QString& section, const QString& key, const QString& value) const {
    const QString keyLine = key + QLatin1Char('=') + value;
    const QString header = QLatin1Char('[') + section + QLatin1Char(']');
    const QStringList lines = Exists(m_path) ? ReadLines() : QStringList();

    QStringList out;
    const qsizetype start = lines.indexOf(header);
    if (start < 0) {
        out = lines;
        out << header << keyLine;
    } else {
        out = lines.mid(0, start + 1);
        qsizetype i = start + 1;
        for (; i < lines.size() && !lines[i].startsWith(QLatin1Char('[')); ++i) {
            if (!IsKeyLine(lines[i], key))
                out << lines[i];
        }
        out << keyLine;
        out << lines.mid(i);
    }

    WriteWhole(m_path, Encode(out));
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
