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
