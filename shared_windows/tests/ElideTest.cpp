// A value cut to its label keeps its whole text in the tooltip, and both show the text as it
// is: a tooltip reads anything that looks like markup as markup.
#include "Elide.h"

#include <QLabel>
#include <QTextDocument>
#include <gtest/gtest.h>

using namespace shared_windows;

namespace {
QString SeenTip(const QString& tip) {
    if (!Qt::mightBeRichText(tip))
        return tip;
    QTextDocument doc;
    doc.setHtml(tip);
    return doc.toPlainText();
}
} // namespace

TEST(Elide, TooltipsShowTheTextAsItIs) {
    const QString texts[] = {
        "<h1 style='color:red'>FREE GOLD</h1> for every player who installs this plug-in",
        "<img src='/dev/zero'>Z and a long tail that is cut to the width of its label",
        "Tom & Jerry <Bros> in two\nlines, the second one long enough to be cut as well",
        "A plain name long enough to be cut to the width of its small label",
    };
    for (const QString& text : texts) {
        QLabel label;
        label.resize(120, 20);
        SetElided(&label, text);
        EXPECT_EQ(label.textFormat(), Qt::PlainText);
        EXPECT_EQ(FullText(&label), text);
        EXPECT_EQ(SeenTip(label.toolTip()), text) << text.toStdString();
        SetWrappedElided(&label, text + " " + QString(60, 'w'));
        EXPECT_EQ(SeenTip(label.toolTip()), text + " " + QString(60, 'w')) << text.toStdString();
    }
    // A plain text stays plain in its tooltip: nothing is added to it.
    EXPECT_EQ(PlainToolTip("Plain & simple"), "Plain & simple");
}

// A stranger's name cannot steer what a window draws: a right-to-left override makes
// "x<RLO>fdp.exe" read as "xexe.pdf".
TEST(Elide, CharactersThatSteerTextAreShownAsReplacements) {
    const QString r(QChar(0xFFFD));
    const struct {
        QString text;
        bool keepLines;
        QString shown;
    } rows[] = {
        {QString("x") + QChar(0x202E) + "fdp.exe", false, "x" + r + "fdp.exe"},
        {QString("a") + QChar(0x2066) + "b" + QChar(0x2069) + QChar(0x200F), false,
         "a" + r + "b" + r + r},
        {"a\x1b[31mred", false, "a" + r + "[31mred"},
        {QString("nel") + QChar(0x85) + "del" + QChar(0x7F), false, "nel" + r + "del" + r},
        {"two\r\nlines\tok", true, "two\r\nlines\tok"},
        {"two\r\nlines\tok", false, "two" + r + r + "lines" + r + "ok"},
        {QString::fromUtf8("\xd7\xa9\xd7\x9c\xd7\x95\xd7\x9d Caf\xc3\xa9 \xf0\x9f\x97\xa1"), false,
         QString::fromUtf8("\xd7\xa9\xd7\x9c\xd7\x95\xd7\x9d Caf\xc3\xa9 \xf0\x9f\x97\xa1")},
    };
    for (const auto& row : rows)
        EXPECT_EQ(Displayable(row.text, row.keepLines), row.shown) << row.text.toStdString();

    const QString spoof = QString("Armor") + QChar(0x202E) + "pse.exe";
    QLabel label;
    label.resize(400, 20);
    SetElided(&label, spoof);
    EXPECT_EQ(label.text(), "Armor" + r + "pse.exe");
    EXPECT_EQ(FullText(&label), spoof); // what the program works with stays the name itself
    label.resize(40, 20);
    SetWrappedElided(&label, spoof);
    EXPECT_FALSE(label.text().contains(QChar(0x202E)));
    EXPECT_EQ(label.toolTip(), "Armor" + r + "pse.exe");
}
