#include "Elide.h"

#include "qvr/platform/Encoding.h"

#include <QFontMetrics>
#include <QLabel>
#include <QRegularExpression>
#include <QTextDocument>

#include <algorithm>

namespace shared_windows {

namespace {

const char* const kFullText = "fullText";

// The width QLabel draws its text in: the contents less margin and indent.
int TextWidth(const QLabel* label) {
    const QFontMetrics fm(label->font());
    int indent = label->indent();
    if (indent < 0)
        indent = label->frameWidth() > 0 ? fm.horizontalAdvance(QLatin1Char('x')) / 2 : 0;
    return label->contentsRect().width() - 2 * label->margin() - indent;
}

// whole: the text as it can be shown in full; the tooltip shows it when shown is cut.
void Show(QLabel* label, const QString& text, const QString& whole, const QString& shown) {
    label->setTextFormat(Qt::PlainText);
    label->setProperty(kFullText, text);
    label->setText(shown);
    label->setToolTip(shown == whole ? QString() : PlainToolTip(whole));
}

} // namespace

void SetElided(QLabel* label, const QString& text, Qt::TextElideMode mode) {
    const QFontMetrics fm(label->font());
    const int width = TextWidth(label);
    const QString whole = Displayable(text, true);
    QStringList lines = whole.split(QLatin1Char('\n'));
    for (QString& line : lines) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        line = fm.elidedText(line, mode, width);
    }
    Show(label, text, whole, lines.join(QLatin1Char('\n')));
}

void SetWrappedElided(QLabel* label, const QString& text) {
    const QFontMetrics fm(label->font());
    const int width = TextWidth(label);
    const QString whole = Displayable(text, true);
    QString shown = whole;
    shown.remove(QLatin1Char('\r'));
    static const QRegularExpression word(QStringLiteral("\\S+"));
    // From the back, so that earlier positions stay valid while words get shorter.
    QList<QRegularExpressionMatch> words;
    for (auto it = word.globalMatch(shown); it.hasNext();)
        words << it.next();
    for (qsizetype i = words.size() - 1; i >= 0; --i) {
        const QString w = words[i].captured();
        if (fm.horizontalAdvance(w) > width)
            shown.replace(words[i].capturedStart(), w.size(),
                          fm.elidedText(w, Qt::ElideMiddle, width));
    }
    // Line ends alone do not make a tooltip.
    Show(label, text, whole, shown == QString(whole).remove(QLatin1Char('\r')) ? whole : shown);
}

QString Displayable(const QString& text, bool keepLineBreaks) {
    const auto steers = [&](char32_t cp) {
        return qvr::SteersText(cp) &&
               !(keepLineBreaks && (cp == U'\n' || cp == U'\r' || cp == U'\t'));
    };
    const QList<uint> points = text.toUcs4();
    if (std::none_of(points.begin(), points.end(), steers))
        return text;
    QString out;
    out.reserve(text.size());
    for (const uint cp : points) {
        const char32_t shown = steers(cp) ? char32_t{0xFFFD} : char32_t{cp};
        out += QString::fromUcs4(&shown, 1);
    }
    return out;
}

QString PlainToolTip(const QString& text) {
    const QString shown = Displayable(text, true);
    if (!Qt::mightBeRichText(shown))
        return shown;
    // Escaped, with its line breaks kept: markup that shows its own characters.
    return Qt::convertFromPlainText(shown, Qt::WhiteSpaceNormal);
}

QString FullText(const QLabel* label) {
    const QVariant full = label->property(kFullText);
    return full.isValid() ? full.toString() : label->text();
}

} // namespace shared_windows
