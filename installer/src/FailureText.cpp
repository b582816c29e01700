#include "FailureText.h"

#include <QDir>
#include <QRegularExpression>

namespace installer {

QString ShownPath(const QString& entryPath) {
    QString path = entryPath;
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return QDir::toNativeSeparators(path);
}

namespace {

// The library names the failing file in front of its reason; the line names it already.
QString WithoutName(QString why, const QString& entryPath) {
    for (const QString& name : {entryPath, ShownPath(entryPath)}) {
        if (!name.isEmpty() && why.startsWith(name + QStringLiteral(": ")))
            return why.mid(name.size() + 2);
    }
    return why;
}

// A reason about the package's stored data, which says "could not write" although it is the
// package that is at fault.
QString DamagedData(const QString& why) {
    static const QRegularExpression stored(
        QStringLiteral("^The stored data at position (\\d+) of .*? ((is damaged|is too short|ends "
                       "before|holds more than|does not hold).*)$"));
    const QRegularExpressionMatch m = stored.match(why);
    if (!m.hasMatch())
        return {};
    return QStringLiteral("could not be read: the package is damaged (its data at position %1 %2)")
        .arg(m.captured(1), m.captured(2));
}

} // namespace

QString FailureLine(const QString& entryPath, const QString& message, const QString& target) {
    const QString name = entryPath.mid(entryPath.lastIndexOf(QLatin1Char('\\')) + 1);
    QString why = WithoutName(message.trimmed(), entryPath);
    // The name in brackets at the end repeats the file once more.
    if (const QString tail = QStringLiteral(" (") + name + QLatin1Char(')'); why.endsWith(tail))
        why.chop(tail.size());
    for (const auto& [verb, passive] :
         {std::pair{QStringLiteral("could not write "), QStringLiteral("could not be written")},
          std::pair{QStringLiteral("cannot write "), QStringLiteral("cannot be written")},
          std::pair{QStringLiteral("could not delete "), QStringLiteral("could not be deleted")}}) {
        if (target.isEmpty() || !why.startsWith(verb + target + QStringLiteral(": ")))
            continue;
        // The archive reader may name the member again in front of its own reason.
        const QString rest = WithoutName(why.mid(verb.size() + target.size() + 2), entryPath);
        const QString damaged = DamagedData(rest);
        why = damaged.isEmpty() ? passive + QStringLiteral(": ") + rest : damaged;
        break;
    }
    if (why.isEmpty())
        why = QStringLiteral("failed");
    return ShownPath(entryPath) + QStringLiteral(": ") + why;
}

} // namespace installer
