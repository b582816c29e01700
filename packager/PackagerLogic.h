#pragma once
// The packager's rules that need no window: number and text forms, the layout rule, the tree's
// keys and the checks made before a package is shown.

#include "qvr/format/sgFileInfo.h"
#include "qvr/format/sgPlugInfo.h"

#include <QLocale>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace packager {

inline const QString RootKey = QStringLiteral("<root>");
inline const QString FolderImage = QStringLiteral("Folder");
// The fixed folders every package shows, in this order.
const QStringList& FixedFolders();

// Digits grouped in threes with the locale's separator; zero gives empty text.
QString FormatGrouped(qint64 value, const QLocale& locale = QLocale());

// Multi-line texts are stored with CR LF line ends and edited with plain line feeds.
QString ToShownText(const QString& stored);
QString ToStoredText(const QString& shown);

// The tree key of an entry: its folder, "\" and its name; the name alone at the root.
QString EntryKey(const qvr::sgFileInfo& entry);
// The part of a key before its last "\" ("" when it holds none).
QString FolderPart(const QString& key);
// The name a key ends in (the part after its last "\").
QString LastLevel(const QString& key);

// The date of a "date time" text as the library writes it for Date Archived, so that Last
// Updated can use the same short-date form.
QString DatePart(const QString& dateTime);

// A file's date as a package stores it ("12/8/2026 9:2:50": month, day, year and an unpadded
// time) with the time in two-digit fields ("12/8/2026 09:02:50"); any other text as it is.
QString ShownFileDate(const QString& stored);

// The file a New of chosen makes: ".qvr" is added unless the name already ends in it (a name
// like "Tower v1.2" has a dot but no extension of a package).
QString PackageFileName(const QString& chosen);

// The first character of text that a package cannot store (outside Windows-1252), described
// for the user ("\"塔\" (U+5854)"), or nullopt.
std::optional<QString> UnstorableCharacter(const QString& text);

// The keys of the entries that lie below another entry's file (a folder path passing through
// a file's key): no player can install them there.
QStringList FilesBelowFiles(const std::vector<qvr::sgFileInfo>& entries);

// Why the entries cannot be shown as one tree without two nodes for one place, or nullopt.
// Two entries for the same folder and name (ignoring letter case) or a file whose key is
// already a folder's are refused: every later command would act on the wrong entry.
std::optional<QString> FindTreeConflict(const std::vector<qvr::sgFileInfo>& entries,
                                        const QString& infoEntryName);

// The places of the main window's movable controls after a resize, in twips. Each rule is
// applied in order; the first one that would give a negative size stops the rest.
struct ResizeResult {
    std::optional<int> Frame1Left;
    std::optional<int> Frame2Left;
    std::optional<int> TreeWidth;
    std::optional<int> TreeHeight;
};
ResizeResult ApplyResizeRule(int outerWidth, int outerHeight, int frame1Width, int frame2Width,
                             int statusHeight);

} // namespace packager
