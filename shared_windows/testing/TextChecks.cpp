#include "TextChecks.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractScrollArea>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QStyle>
#include <QTextDocument>
#include <QTextEdit>

#include <cmath>
#include <map>

namespace shared_windows {

namespace {

// Two texts closer than this read as one ("Plug-in name:My Mod").
constexpr int kMinGap = 3;

QString Name(const QWidget* w) {
    QString name = w->objectName();
    if (name.isEmpty()) {
        // A caption without a name is known by its text.
        QString text;
        if (auto* label = qobject_cast<const QLabel*>(w))
            text = label->text();
        name = QStringLiteral("(%1 \"%2\")")
                   .arg(QString::fromLatin1(w->metaObject()->className()), text.left(30));
    }
    const QWidget* top = w->window();
    return (top->objectName().isEmpty() ? QStringLiteral("window") : top->objectName()) +
           QLatin1Char('/') + name;
}

double Points(const QFont& font) {
    if (font.pointSizeF() > 0)
        return font.pointSizeF();
    return font.pixelSize() * 72.0 / 96.0;
}

bool ShowsText(const QWidget* w) {
    if (auto* label = qobject_cast<const QLabel*>(w))
        return !label->text().isEmpty();
    return qobject_cast<const QAbstractButton*>(w) || qobject_cast<const QLineEdit*>(w) ||
           qobject_cast<const QTextEdit*>(w) || qobject_cast<const QAbstractItemView*>(w) ||
           qobject_cast<const QComboBox*>(w) || qobject_cast<const QGroupBox*>(w);
}

bool IsRich(const QLabel* label) {
    return label->textFormat() == Qt::RichText ||
           (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(label->text()));
}

QRect TextArea(const QLabel* label) {
    QRect area = label->contentsRect().adjusted(label->margin(), label->margin(), -label->margin(),
                                                -label->margin());
    int indent = label->indent();
    if (indent < 0)
        indent = label->frameWidth() > 0
                     ? QFontMetrics(label->font()).horizontalAdvance(QLatin1Char('x')) / 2
                     : 0;
    const Qt::Alignment align = label->alignment();
    if (align & Qt::AlignLeft)
        area.setLeft(area.left() + indent);
    if (align & Qt::AlignRight)
        area.setRight(area.right() - indent);
    if (align & Qt::AlignTop)
        area.setTop(area.top() + indent);
    if (align & Qt::AlignBottom)
        area.setBottom(area.bottom() - indent);
    return area;
}

QSize TextSize(const QLabel* label, int width) {
    if (IsRich(label)) {
        QTextDocument doc;
        doc.setDefaultFont(label->font());
        doc.setDocumentMargin(0);
        doc.setHtml(label->text());
        if (label->wordWrap())
            doc.setTextWidth(width);
        return QSize(int(std::ceil(doc.idealWidth())), int(std::ceil(doc.size().height())));
    }
    const QFontMetrics fm(label->font());
    int flags = Qt::TextExpandTabs;
    if (label->wordWrap())
        flags |= Qt::TextWordWrap;
    QString text = label->text();
    if (label->buddy() || text.contains(QLatin1Char('&')))
        flags |= Qt::TextShowMnemonic;
    return fm.boundingRect(QRect(0, 0, width, 100000), flags, text).size();
}

// The longest word of a word-wrapped plain text, which cannot be broken.
int LongestWord(const QLabel* label) {
    const QFontMetrics fm(label->font());
    int longest = 0;
    static const QRegularExpression space(QStringLiteral("\\s+"));
    for (const QString& word : label->text().split(space, Qt::SkipEmptyParts))
        longest = std::max(longest, fm.horizontalAdvance(word));
    return longest;
}

void CheckLabel(const QLabel* label, QStringList& out) {
    if (label->text().isEmpty())
        return;
    const QRect area = TextArea(label);
    const QSize need = TextSize(label, area.width());
    int needWidth = need.width();
    if (label->wordWrap() && !IsRich(label))
        needWidth = std::max(needWidth, LongestWord(label));
    if (needWidth > area.width() || need.height() > area.height())
        out << QStringLiteral("%1: text \"%2\" needs %3x%4 px, has %5x%6")
                   .arg(Name(label), label->text().left(40))
                   .arg(needWidth)
                   .arg(need.height())
                   .arg(area.width())
                   .arg(area.height());
}

void CheckButton(const QAbstractButton* button, QStringList& out) {
    const QString text = button->text();
    if (text.isEmpty())
        return;
    const QFontMetrics fm(button->font());
    QString shown = text.split(QLatin1Char('\n')).first();
    shown.remove(QRegularExpression(QStringLiteral("&(?!&)")));
    const int textWidth = fm.horizontalAdvance(shown);
    int room = button->width() - 8; // a push button's frame
    int height = button->height() - 4;
    if (qobject_cast<const QCheckBox*>(button) || qobject_cast<const QRadioButton*>(button)) {
        const QStyle* s = button->style();
        const bool check = qobject_cast<const QCheckBox*>(button) != nullptr;
        room =
            button->width() - 2 -
            s->pixelMetric(check ? QStyle::PM_IndicatorWidth : QStyle::PM_ExclusiveIndicatorWidth,
                           nullptr, button) -
            s->pixelMetric(check ? QStyle::PM_CheckBoxLabelSpacing
                                 : QStyle::PM_RadioButtonLabelSpacing,
                           nullptr, button);
        height = button->height();
    }
    if (textWidth > room || fm.height() > height)
        out << QStringLiteral("%1: text \"%2\" needs %3x%4 px, has %5x%6")
                   .arg(Name(button), text)
                   .arg(textWidth)
                   .arg(fm.height())
                   .arg(room)
                   .arg(height);
}

bool InsideScrollArea(const QWidget* w) {
    for (const QWidget* p = w->parentWidget(); p; p = p->parentWidget()) {
        if (qobject_cast<const QAbstractScrollArea*>(p))
            return true;
    }
    return false;
}

// A label's text, in its parent's coordinates, may not run under a later sibling (drawn on
// top of it), lie outside its parent, or touch the text of a label beside it.
void CheckPlace(const QLabel* label, QStringList& out) {
    if (label->text().isEmpty() || InsideScrollArea(label))
        return;
    const QWidget* parent = label->parentWidget();
    if (!parent)
        return;
    const QRect text = DrawnTextRect(label).translated(label->pos());
    if (!parent->rect().contains(text))
        out << QStringLiteral("%1: text \"%2\" runs outside its window")
                   .arg(Name(label), label->text().left(40));
    const QObjectList& siblings = parent->children();
    const qsizetype self = siblings.indexOf(const_cast<QLabel*>(label));
    for (qsizetype i = 0; i < siblings.size(); ++i) {
        auto* other = qobject_cast<QWidget*>(siblings[i]);
        if (!other || other == label || !other->isVisibleTo(parent) || other->isWindow())
            continue;
        auto* otherLabel = qobject_cast<QLabel*>(other);
        if (otherLabel && !otherLabel->text().isEmpty()) {
            const QRect theirs = DrawnTextRect(otherLabel).translated(otherLabel->pos());
            const bool sameLine = text.top() < theirs.bottom() && theirs.top() < text.bottom();
            if (sameLine && i > self && text.adjusted(-kMinGap, 0, kMinGap, 0).intersects(theirs))
                out << QStringLiteral("%1: text touches the text of %2")
                           .arg(Name(label), other->objectName());
            continue;
        }
        // Empty labels are backdrops and frames; what is drawn over the text hides it.
        const bool backdrop = otherLabel && otherLabel->pixmap().isNull();
        if (!backdrop && i > self && other->geometry().intersects(text))
            out << QStringLiteral("%1: text \"%2\" runs under %3")
                       .arg(Name(label), label->text().left(40), other->objectName());
    }
}

} // namespace

QRect DrawnTextRect(const QLabel* label) {
    const QRect area = TextArea(label);
    QSize need = TextSize(label, area.width());
    if (label->wordWrap() && !IsRich(label))
        need.setWidth(std::max(need.width(), LongestWord(label)));
    Qt::Alignment align = label->alignment();
    if (!(align & Qt::AlignVertical_Mask))
        align |= Qt::AlignVCenter;
    return QStyle::alignedRect(label->layoutDirection(), align, need, area);
}

QStringList TextProblems(QWidget* window) {
    QStringList out;
    QList<QWidget*> widgets = window->findChildren<QWidget*>();
    widgets.prepend(window);
    std::map<std::pair<const QWidget*, int>, std::vector<const QPushButton*>> rows;
    for (QWidget* w : widgets) {
        if (w != window && !w->isVisibleTo(window))
            continue;
        if (ShowsText(w) && Points(w->font()) < kMinReadablePoints)
            out << QStringLiteral("%1: font of %2 pt").arg(Name(w)).arg(Points(w->font()));
        if (auto* label = qobject_cast<QLabel*>(w)) {
            CheckLabel(label, out);
            CheckPlace(label, out);
        } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
            CheckButton(button, out);
            if (auto* push = qobject_cast<QPushButton*>(w))
                rows[{w->parentWidget(), w->geometry().center().y() / 8}].push_back(push);
        }
    }
    for (const auto& [key, buttons] : rows) {
        for (const QPushButton* b : buttons) {
            if (std::abs(Points(b->font()) - Points(buttons.front()->font())) > 0.01)
                out << QStringLiteral("%1: font of %2 pt beside %3 of %4 pt")
                           .arg(Name(b))
                           .arg(Points(b->font()))
                           .arg(buttons.front()->objectName())
                           .arg(Points(buttons.front()->font()));
        }
    }
    return out;
}

} // namespace shared_windows
