#include "Dialogs.h"
#include "ScriptedDialogs.h"
#include "SummaryBox.h"

#include <QLabel>
#include <QListWidget>
#include <QScrollBar>

#include <QAbstractButton>
#include <QMessageBox>
#include <QPushButton>
#include <gtest/gtest.h>

using namespace shared_windows;

TEST(Dialogs, FiltersBecomeQtFilters) {
    EXPECT_EQ(ToQtFilter("QVRfile(*.qvr)|*.qvr|Zip files(*.zip)|*.zip"),
              "QVRfile(*.qvr);;Zip files(*.zip)");
    EXPECT_EQ(ToQtFilter("*.esm|*.esm"), "*.esm (*.esm)");
    EXPECT_EQ(ToQtFilter("Pictures|*.tga;*.dds"), "Pictures (*.tga *.dds)");
    EXPECT_EQ(ToQtFilter(""), "");
}

TEST(Dialogs, ScriptedDialogsStandInAndAnswerInOrder) {
    {
        ScriptedDialogs scripted;
        EXPECT_EQ(&Dialogs::instance(), &scripted);
        scripted.OpenFileAnswers = {QString("/a.qvr"), std::nullopt};
        scripted.YesNoAnswers = {true};
        EXPECT_EQ(Dialogs::instance().OpenFile(nullptr, "t", "f", "n"), QString("/a.qvr"));
        EXPECT_EQ(Dialogs::instance().OpenFile(nullptr, "t", "f", ""), std::nullopt);
        EXPECT_TRUE(Dialogs::instance().AskYesNo(nullptr, "QVRInstaller", "Continue?"));
        EXPECT_FALSE(Dialogs::instance().AskYesNo(nullptr, "QVRInstaller", "Again?"));
        Dialogs::instance().Message(nullptr, "QVRInstaller", "Hello");
        EXPECT_EQ(scripted.Unanswered, 1);
        EXPECT_EQ(scripted.Messages(), QStringList{"Hello"});
        EXPECT_EQ(scripted.Calls[0].fileName, "n");
        EXPECT_EQ(scripted.CountOf(ScriptedDialogs::Kind::AskYesNo), 2);
    }
    EXPECT_NE(dynamic_cast<QtDialogs*>(&Dialogs::instance()), nullptr);
}

TEST(Dialogs, QtQuestionHasNoIconAndTheDefaultAsked) {
    QtDialogs dialogs;
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::Warning;
    bool yesIsDefault = false;
    WhenModalShown([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        yesIsDefault = box->defaultButton() == box->button(QMessageBox::Yes);
        box->button(QMessageBox::No)->click();
    });
    EXPECT_FALSE(dialogs.AskYesNo(nullptr, "QVRInstaller", "Continue?"));
    EXPECT_EQ(title, "QVRInstaller");
    EXPECT_EQ(text, "Continue?");
    EXPECT_EQ(icon, QMessageBox::NoIcon);
    EXPECT_TRUE(yesIsDefault);

    WhenModalShown([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        yesIsDefault = box->defaultButton() == box->button(QMessageBox::Yes);
        box->defaultButton()->click(); // Enter
    });
    EXPECT_FALSE(dialogs.AskYesNo(nullptr, "QVRInstaller", "Delete?", Dialogs::Default::No));
    EXPECT_FALSE(yesIsDefault);
}

// A package's name in a message is shown as its characters, whatever markup it looks like.
TEST(Dialogs, QtMessagesShowMarkupAsItsCharacters) {
    const QString name = QStringLiteral("<img src='/dev/zero'>Z <b>FREE GOLD</b>");
    QtDialogs dialogs;
    for (const bool question : {false, true}) {
        Qt::TextFormat format = Qt::RichText;
        WhenModalShown([&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            ASSERT_NE(box, nullptr);
            format = box->textFormat();
            box->button(question ? QMessageBox::No : QMessageBox::Ok)->click();
        });
        if (question)
            (void)dialogs.AskYesNo(nullptr, "QVRInstaller", name);
        else
            dialogs.Message(nullptr, "QVRInstaller", name);
        EXPECT_EQ(format, Qt::PlainText) << question;
    }
    SummaryBox box(nullptr, "QVRInstaller", name, {name});
    EXPECT_EQ(box.TextLabel()->textFormat(), Qt::PlainText);
    EXPECT_EQ(box.List()->item(0)->text(), name); // list items are never markup
}

TEST(Dialogs, SummaryIsAnsweredInCodeAndItsListScrolls) {
    {
        ScriptedDialogs scripted;
        Dialogs::instance().Summary(nullptr, "QVRInstaller", "2 files failed.", {"a.esp", "b.nif"});
        ASSERT_EQ(scripted.Summaries().size(), 1u);
        EXPECT_EQ(scripted.Summaries()[0]->text, "2 files failed.");
        EXPECT_EQ(scripted.Summaries()[0]->items, (QStringList{"a.esp", "b.nif"}));
        EXPECT_TRUE(scripted.Messages().isEmpty());
    }
    QStringList many;
    for (int i = 0; i < 500; ++i)
        many << QString("Meshes/file%1.nif").arg(i);
    SummaryBox box(nullptr, "QVRInstaller", "500 files failed.", many);
    box.show();
    EXPECT_EQ(box.List()->count(), 500);
    EXPECT_TRUE(box.List()->isVisible());
    // The box stays on a screen however many names it holds; the list scrolls instead.
    EXPECT_LT(box.height(), 700);
    EXPECT_TRUE(box.List()->verticalScrollBar()->maximum() > 0);
    SummaryBox empty(nullptr, "QVRInstaller", "All done.", {});
    empty.show();
    EXPECT_FALSE(empty.List()->isVisible());
}
