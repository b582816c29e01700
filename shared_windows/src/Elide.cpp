#include "Elide.h"

#include <QFontMetrics>
#include <QLabel>
#include <QRegularExpression>
#include <QTextDocument>

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

void Show(QLabel* label, const QString& text, const QString& shown) {
    label->setTextFormat(Qt::PlainText);
    label->setProperty(kFullText, text);
    label->setText(shown);
    label->setToolTip(shown == text ? QString() : PlainToolTip(text));
}

} // namespace

void SetElided(QLabel* label, const QString& text, Qt::TextElideMode mode) {
    const QFontMetrics fm(label->font());
    const int width = TextWidth(label);
    QStringList lines = text.split(QLatin1Char('\n'));
    for (QString& line : lines) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        line = fm.elidedText(line, mode, width);
    }
    Show(label, text, lines.join(QLatin1Char('\n')));
}

void SetWrappedElided(QLabel* label, const QString& text) {
    const QFontMetrics fm(label->font());
    const int width = TextWidth(label);
    QString shown = text;
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
    Show(label, text, shown == QString(text).remove(QLatin1Char('\r')) ? text : shown);
}

QString PlainToolTip(const QString& text) {
    if (!Qt::mightBeRichText(text))
        return text;
    // Escaped, with its line breaks kept: markup that shows its own characters.
    return Qt::convertFromPlainText(text, Qt::WhiteSpaceNormal);
}

QString FullText(const QLabel* label) {
    const QVariant full = label->property(kFullText);
    return full.isValid() ? full.toString() : label->text();
}

} // namespace shared_windows
