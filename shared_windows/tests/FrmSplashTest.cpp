#include "frmSplash.h"
#include "Twips.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <gtest/gtest.h>

using namespace shared_windows;

namespace {

struct Splash {
    QWidget owner;
    frmSplash* splash;
    Splash() : splash(new frmSplash(&owner)) {
        owner.resize(600, 400);
        owner.show();
    }
    QWidget* bar() const { return splash->findChild<QWidget*>("Progress"); }
    QPushButton* close() const { return splash->findChild<QPushButton*>("Command1"); }
    QLabel* task() const { return splash->findChild<QLabel*>("lblTask"); }
};

} // namespace

TEST(frmSplash, RendersTheModelAndClosesOnlyWhenComplete) {
    Splash s;
    s.splash->SetTitle("Installing Plug-in Foo");
    s.splash->CalcIncrement(3);
    s.splash->ShowModeless();
    EXPECT_TRUE(s.splash->isVisible());
    EXPECT_FALSE(s.splash->isModal());
    EXPECT_EQ(s.splash->parentWidget(), &s.owner);
    EXPECT_EQ(s.task()->text(), "Installing Plug-in Foo");
    EXPECT_EQ(s.bar()->width(), 1);
    EXPECT_FALSE(s.close()->isVisible());

    s.splash->IncrProgress(0);
    EXPECT_EQ(s.bar()->width(), Tw(1 + 2205));
    QTest::keyClick(s.splash, Qt::Key_Escape); // no way out while the work runs
    EXPECT_TRUE(s.splash->isVisible());

    s.splash->IncrProgress(0);
    s.splash->IncrProgress(0);
    EXPECT_EQ(s.bar()->width(), Tw(6615));
    EXPECT_TRUE(s.close()->isVisible());
    EXPECT_EQ(s.task()->text(), "Installing Plug-in Foo: Complete!");

    QTest::mouseClick(s.close(), Qt::LeftButton);
    EXPECT_FALSE(s.splash->isVisible());

    // The next task shows the same window object again with its step width kept.
    s.splash->SetTitle("Removing Plug-in FilesFoo");
    EXPECT_FALSE(s.close()->isVisible());
    EXPECT_EQ(s.bar()->width(), 1);
    EXPECT_EQ(s.splash->Model().StepWidth(), 2205);
    delete s.splash;
}

TEST(frmSplash, EveryProgressCallLetsPendingEventsRun) {
    Splash s;
    s.splash->SetTitle("t");
    int ran = 0;
    auto post = [&] { QTimer::singleShot(0, qApp, [&] { ++ran; }); };

    post();
    s.splash->CalcIncrement(0); // nothing happens, so nothing runs either
    EXPECT_EQ(ran, 0);
    s.splash->CalcIncrement(4);
    EXPECT_EQ(ran, 1);
    post();
    s.splash->IncrProgress(0);
    EXPECT_EQ(ran, 2);
    post();
    s.splash->SetIncrement(10);
    EXPECT_EQ(ran, 3);
    post();
    s.splash->SetProgress(50);
    EXPECT_EQ(ran, 4);
    EXPECT_EQ(s.bar()->width(), Tw(3308));
    post();
    s.splash->SetTitle("again"); // starting a task runs nothing
    EXPECT_EQ(ran, 4);
    QCoreApplication::processEvents();
    delete s.splash;
}

TEST(frmSplash, FollowsTheOwnerThatStartedTheTask) {
    Splash s;
    QWidget other;
    other.show();
    s.splash->SetOwner(&other);
    EXPECT_EQ(s.splash->parentWidget(), &other);
    EXPECT_TRUE(s.splash->isWindow());
    s.splash->SetOwner(&s.owner);
    EXPECT_EQ(s.splash->parentWidget(), &s.owner);
    delete s.splash;
}

TEST(frmSplash, NoCaptionIsClipped) {
    Splash s;
    s.splash->SetTitle("Installing Plug-in A Rather Long Plug-in Name For Testing: Complete!");
    for (QLabel* label : s.splash->findChildren<QLabel*>())
        EXPECT_TRUE(TextFits(label)) << label->objectName().toStdString();
    EXPECT_TRUE(TextFits(s.close()));
    delete s.splash;
}
