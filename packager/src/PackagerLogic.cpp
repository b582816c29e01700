#include "PackagerLogic.h"

#include "qvr/platform/Encoding.h"

#include <QRegularExpression>
#include <QSet>
#include <algorithm>

namespace packager {

const QStringList& FixedFolders() {
    static const QStringList folders = {"BookArt", "Fonts", "Icons",   "Meshes",
                                        "Music",   "Sound", "Textures"};
    return folders;
}

QString FormatGrouped(qint64 value, const QLocale& locale) {
    if (value == 0)
        return QString();
    QLocale grouped = locale;
    grouped.setNumberOptions(grouped.numberOptions() & ~QLocale::OmitGroupSeparator);
    return grouped.toString(value);
}

QString ToShownText(const QString& stored) {
    QString shown = stored;
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return shown;
}

QString ToStoredText(const QString& shown) {
    // Normalise first so that text pasted with CR LF does not gain a second CR.
    QString stored = ToShownText(shown);
    stored.replace(QLatin1String("\n"), QLatin1String("\r\n"));
    return stored;
}

QString EntryKey(const qvr::sgFileInfo& entry) {
    const QString name = QString::fromStdString(entry.FileName());
    const QString path = QString::fromStdString(entry.FilePath());
    return path.isEmpty() ? name : path + QLatin1Char('\\') + name;
}

QString FolderPart(const QString& key) {
    const qsizetype at = key.lastIndexOf(QLatin1Char('\\'));
    return at < 0 ? QString() : key.left(at);
}

QString LastLevel(const QString& key) {
    const qsizetype at = key.lastIndexOf(QLatin1Char('\\'));
    return at < 0 ? key : key.mid(at + 1);
}

QString ShownFileDate(const QString& stored) {
    static const QRegularExpression form(
        QStringLiteral("^(\\d{1,2})/(\\d{1,2})/(\\d{4}) (\\d{1,2}):(\\d{1,2}):(\\d{1,2})$"));
    const QRegularExpressionMatch m = form.match(stored);
    if (!m.hasMatch())
        return stored;
    auto two = [&](int i) { return m.captured(i).rightJustified(2, QLatin1Char('0')); };
    return QStringLiteral("%1/%2/%3 %4:%5:%6")
        .arg(m.captured(1), m.captured(2), m.captured(3), two(4), two(5), two(6));
}

QString DatePart(const QString& dateTime) {
    // The time is the part around the first ":", after the last blank before it; a date may
    // hold blanks of its own, and a word for morning or afternoon may stand before the time.
    const qsizetype colon = dateTime.indexOf(QLatin1Char(':'));
    const qsizetype at = colon < 0 ? -1 : dateTime.lastIndexOf(QLatin1Char(' '), colon);
    if (at <= 0)
        return dateTime;
    QString date = dateTime.left(at).trimmed();
    const qsizetype last = date.lastIndexOf(QLatin1Char(' '));
    const QString word = date.mid(last + 1);
    if (last > 0 && std::none_of(word.begin(), word.end(), [](QChar c) { return c.isDigit(); }))
        date = date.left(last).trimmed();
    return date;
}

QString PackageFileName(const QString& chosen) {
    if (chosen.endsWith(QStringLiteral(".qvr"), Qt::CaseInsensitive))
        return chosen;
    return chosen + QStringLiteral(".qvr");
}

std::optional<QString> UnstorableCharacter(const QString& text) {
    for (const uint c : text.toUcs4()) {
        const QString one = QString::fromUcs4(reinterpret_cast<const char32_t*>(&c), 1);
        if (c == 0 || !qvr::Utf8ToCp1252(one.toStdString())) {
            const QString code = QStringLiteral("U+%1").arg(c, 4, 16, QLatin1Char('0')).toUpper();
            return QStringLiteral("\"%1\" (%2)").arg(c == 0 ? QString() : one, code);
        }
    }
    return std::nullopt;
}

QStringList FilesBelowFiles(const std::vector<qvr::sgFileInfo>& entries) {
    QSet<QString> files;
    for (const qvr::sgFileInfo& entry : entries)
        files.insert(EntryKey(entry).toLower());
    QStringList below;
    for (const qvr::sgFileInfo& entry : entries) {
        QString path = QString::fromStdString(entry.FilePath()).toLower();
        while (!path.isEmpty()) {
            if (files.contains(path)) {
                below << EntryKey(entry);
                break;
            }
            path = FolderPart(path);
        }
    }
    return below;
}

std::optional<QString> FindTreeConflict(const std::vector<qvr::sgFileInfo>& entries,
                                        const QString& infoEntryName) {
    QSet<QString> folders{RootKey};
    for (const QString& f : FixedFolders())
        folders.insert(f);
    QSet<QString> files;
    QSet<QString> filesFolded;
    const QString info = infoEntryName.toLower();
    for (const qvr::sgFileInfo& entry : entries) {
        if (QString::fromStdString(entry.FileName()).toLower() == info)
            continue;
        const QString path = QString::fromStdString(entry.FilePath());
        if (!path.isEmpty()) {
            qsizetype from = 0;
            while (true) {
                const qsizetype at = path.indexOf(QLatin1Char('\\'), from);
                const QString prefix = at < 0 ? path : path.left(at);
                if (!files.contains(prefix))
                    folders.insert(prefix);
                if (at < 0)
                    break;
                from = at + 1;
            }
        }
        const QString key = EntryKey(entry);
        if (folders.contains(key))
            return QStringLiteral("The file %1 has the name of a folder beside it.").arg(key);
        if (files.contains(key) || filesFolded.contains(key.toLower()))
            return QStringLiteral("It holds the file %1 twice.").arg(key);
        files.insert(key);
        filesFolded.insert(key.toLower());
    }
    return std::nullopt;
}

ResizeResult ApplyResizeRule(int outerWidth, int outerHeight, int frame1Width, int frame2Width,
                             int statusHeight) {
    ResizeResult r;
    // A negative left only moves a frame out of sight; a negative size is what cannot be set.
    r.Frame1Left = outerWidth - frame1Width - 200;
    r.Frame2Left = outerWidth - frame2Width - 200;
    const int treeWidth = outerWidth - frame1Width - 400;
    if (treeWidth < 0)
        return r;
    r.TreeWidth = treeWidth;
    const int treeHeight = outerHeight - statusHeight - 800;
    if (treeHeight < 0)
        return r;
    r.TreeHeight = treeHeight;
    return r;
}

} // namespace packager
