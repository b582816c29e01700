#include "frmAbout.h"
#include "Twips.h"

#include <QLabel>
#include <QTest>
#include <gtest/gtest.h>

using namespace shared_windows;

namespace {
// The two programs' about windows, as they fill them in.
frmAbout::Options InstallerAbout() {
    return {"QVR Installer",
            "Version 1.11",
            Artwork::Ember(),
            QRect(180, 2340, 1785, 285),
            QRect(6900, 2340, 885, 345),
            QRect(120, 2400, 7695, 255)};
}
frmAbout::Options PackagerAbout() {
    return {"QVR Packager",
            "Version 1.1",
            Artwork::Moss(),
            QRect(240, 2340, 2445, 285),
            QRect(6960, 2340, 885, 345),
            QRect(600, 2400, 6855, 255)};
}

bool ClosesOnClickAt(const char* child) {
    frmAbout about(InstallerAbout());
    about.show();
    QWidget* target = child ? about.findChild<QWidget*>(child) : &about;
    EXPECT_NE(target, nullptr);
    QTest::mouseClick(target, Qt::LeftButton, {}, child ? QPoint(2, 2) : QPoint(20, 20));
    return !about.isVisible() && about.result() == QDialog::Accepted;
}
} // namespace

TEST(frmAbout, ClickOnEitherRedLabelOrTheBackgroundCloses) {
    EXPECT_TRUE(ClosesOnClickAt("lblVersion1"));
    EXPECT_TRUE(ClosesOnClickAt("lblVersion0"));
    EXPECT_TRUE(ClosesOnClickAt(nullptr));
    EXPECT_FALSE(ClosesOnClickAt("Label1"));
}

TEST(frmAbout, ShowsEachProgramsVersionUnclipped) {
    frmAbout installer(InstallerAbout());
    frmAbout packager(PackagerAbout());
    EXPECT_EQ(installer.findChild<QLabel*>("lblVersion0")->text(), "Version 1.11");
    EXPECT_EQ(packager.findChild<QLabel*>("lblVersion0")->text(), "Version 1.1");
    for (frmAbout* about : {&installer, &packager}) {
        EXPECT_EQ(about->findChild<QLabel*>("lblVersion1")->text(), "Close");
        EXPECT_EQ(about->windowTitle(), "About MyApp");
        for (QLabel* label : about->findChildren<QLabel*>())
            EXPECT_TRUE(TextFits(label)) << label->objectName().toStdString();
        // The centred credit line keeps clear of the red labels.
        auto* credit = about->findChild<QLabel*>("Label1");
        const int half = QFontMetrics(credit->font()).horizontalAdvance(credit->text()) / 2;
        const int centre = credit->geometry().center().x();
        EXPECT_GT(centre - half, about->findChild<QLabel*>("lblVersion0")->geometry().right());
        EXPECT_LT(centre + half, about->findChild<QLabel*>("lblVersion1")->geometry().left());
    }
}
