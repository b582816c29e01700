#include "Fixture.h"

#include "Twips.h"
#include "frmMain.h"
#include "frmNotes.h"

#include "qvr/format/sgPlugInfo.h"

#include <QAbstractButton>
#include <QPlainTextEdit>
#include <QTest>

using namespace shared_windows;

using namespace installer;

TEST(frmNotes, ShowsTheNotesAndForgetsWhatWasTyped) {
    qvr::sgPlugInfo info;
    frmNotes empty(info);
    empty.show();
    auto* box = empty.findChild<QPlainTextEdit*>("txNotes");
    EXPECT_EQ(box->toPlainText(), "");
    empty.hide();

    info.Notes("Line one\r\nLine two, which is rather long and is not wrapped at all");
    frmNotes notes(info);
    notes.show();
    box = notes.findChild<QPlainTextEdit*>("txNotes");
    EXPECT_EQ(box->toPlainText().toStdString(),
              "Line one\nLine two, which is rather long and is not wrapped at all");
    EXPECT_EQ(box->lineWrapMode(), QPlainTextEdit::NoWrap);
    EXPECT_EQ(notes.windowTitle(), "Plug-in Notes");
    box->setPlainText("typed");
    notes.Form_Activate();
    EXPECT_TRUE(box->toPlainText().startsWith("Line one"));
}

TEST(frmNotes, LaysOutOnResizeAndStopsWhenTooSmall) {
    qvr::sgPlugInfo info;
    frmNotes notes(info);
    notes.show();
    notes.resize(600, 500);
    auto* box = notes.findChild<QPlainTextEdit*>("txNotes");
    auto* close = notes.findChild<QAbstractButton*>("Command1");
    EXPECT_EQ(box->geometry().topLeft(), QPoint(0, 0));
    EXPECT_NEAR(close->geometry().center().x(), 300, 1);
    EXPECT_EQ(close->y() - box->geometry().bottom() - 1, Tw(300));
    EXPECT_LT(close->geometry().bottom(), 500);

    const QRect lastBox = box->geometry();
    const QRect lastClose = close->geometry();
    notes.Form_Resize(); // idempotent
    EXPECT_EQ(box->geometry(), lastBox);
    notes.setMinimumSize(0, 0);
    notes.resize(1, 20);
    EXPECT_EQ(close->geometry(), lastClose);
}

TEST_F(InstallerTest, ReadMeOpensTheNotesModally) {
    WriteAll(DataFolder.toStdString() + "/Morrowind.esm", "TES3");
    PackInfo info;
    info.Notes = "Hello notes";
    MakePackage(Path("N.qvr"), {{"", "n.esp", "n"}}, &info, Path(""));
    Start();
    OpenInMain("N.qvr");
    QString shown;
    bool modal = false;
    WhenModalShown([&](QWidget* w) {
        shown = w->findChild<QPlainTextEdit*>("txNotes")->toPlainText();
        modal = w->isModal();
        w->findChild<QAbstractButton*>("Command1")->click();
    });
    QTest::mouseClick(Find(&Mod().Main(), "cmdReadme"), Qt::LeftButton);
    EXPECT_EQ(shown, "Hello notes");
    EXPECT_TRUE(modal);

    bool about = false;
    WhenModalShown([&](QWidget* w) {
        about = w->objectName() == "frmAbout";
        QTest::mouseClick(w->findChild<QWidget*>("lblVersion1"), Qt::LeftButton);
    });
    QTest::mouseClick(Find(&Mod().Main(), "lblAbout"), Qt::LeftButton);
    EXPECT_TRUE(about);
}
