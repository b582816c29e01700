#include "Twips.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QFontMetrics>
#include <QLabel>
#include <QRegularExpression>
#include <QStyle>
#include <QStyleOptionButton>

#include <algorithm>

namespace shared_windows {

namespace {

QString TextOf(const QWidget* w) {
    if (auto* label = qobject_cast<const QLabel*>(w))
        return label->text();
    if (auto* button = qobject_cast<const QAbstractButton*>(w))
        return button->text();
    return {};
}

} // namespace

bool TextFits(const QWidget* w) {
    const QString text = TextOf(w);
    if (text.isEmpty())
        return true;
    if (auto* label = qobject_cast<const QLabel*>(w)) {
        const QRect area = label->contentsRect().adjusted(label->margin(), label->margin(),
                                                          -label->margin(), -label->margin());
        QFontMetrics fm(label->font());
        int flags = Qt::TextExpandTabs;
        if (label->wordWrap())
            flags |= Qt::TextWordWrap;
        const QRect need = fm.boundingRect(QRect(0, 0, area.width(), 100000), flags, text);
        // Word-wrapped text must also not break inside a word that is too long for a line.
        if (label->wordWrap()) {
            for (const QString& word :
                 text.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts)) {
                if (fm.horizontalAdvance(word) > area.width())
                    return false;
            }
        }
        return need.width() <= area.width() && need.height() <= area.height();
    }
    if (auto* button = qobject_cast<const QAbstractButton*>(w)) {
        QFontMetrics fm(button->font());
        int textWidth = fm.horizontalAdvance(text.split(QLatin1Char('\n')).first().remove('&'));
        if (qobject_cast<const QCheckBox*>(button)) {
            const int indicator =
                button->style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, button) +
                button->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, button);
            return indicator + textWidth + 2 <= button->width() && fm.height() <= button->height();
        }
        // Room for the frame of a push button: a few pixels on each side.
        return textWidth + 8 <= button->width() && fm.height() + 4 <= button->height();
    }
    return true;
}

void FitText(QWidget* w, double minPoints) {
    QFont font = w->font();
    while (!TextFits(w) && font.pointSizeF() > minPoints) {
        font.setPointSizeF(std::max(minPoints, font.pointSizeF() - 0.25));
        w->setFont(font);
    }
}

void FitAllTexts(QWidget* parent, double minPoints) {
    for (QWidget* w : parent->findChildren<QWidget*>()) {
        if (qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w))
            FitText(w, minPoints);
    }
}

} // namespace shared_windows
