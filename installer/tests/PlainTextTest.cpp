// Texts from a package or a file name are shown as their characters in every label, tooltip and
// progress line, never read as markup: a plug-in's name must not draw a heading, nor load a
// picture (an <img> of /dev/zero made the installer spin).
#include "Fixture.h"

#include "Elide.h"

#include "frmMain.h"
#include "frmManage.h"
#include "frmSplash.h"

#include <QLabel>
#include <QTextDocument>

namespace {

const std::string kName =
    "<h1 style='color:red'>FREE GOLD</h1> for every player who installs this plug-in today";
const std::string kVersion = "<b>1</b>";
const std::string kAuthors = "<img src='/dev/zero'>Z\r\n<i>Fargoth</i>";
const std::string kDepends = "<a href='x'>Tribunal.esm</a>";
// A package cannot hold its information under a name with "<" (no entry name may hold it), so
// a markup file name is tried with a zip file.
const std::string kZip = "<u>Gold<u>.zip";

bool ReadAsMarkup(const QString& text, Qt::TextFormat format) {
    return format == Qt::RichText || (format == Qt::AutoText && Qt::mightBeRichText(text));
}

// What a reader sees of a tooltip: tooltips read markup wherever it looks like markup.
QString SeenTip(const QWidget* w) {
    if (!Qt::mightBeRichText(w->toolTip()))
        return w->toolTip();
    QTextDocument doc;
    doc.setHtml(w->toolTip());
    return doc.toPlainText();
}

} // namespace

class PlainText : public InstallerTest {
protected:
    void SetUp() override {
        InstallerTest::SetUp();
        WriteAll(DataFolder.toStdString() + "/Morrowind.esm", "TES3");
        PackInfo info;
        info.Name = kName;
        info.Version = kVersion;
        info.Authors = kAuthors;
        info.Depends = kDepends;
        MakePackage(Path("Gold.qvr"), {{"", "gold.esp", "p"}}, &info, Path(""));
        MakeZip(Path(kZip), {"<b>x</b>.esp"});
        Start();
        OpenInMain("Gold.qvr");
    }
    // Every label of window: none that shows a text with markup characters reads it as markup.
    void ExpectNoMarkupRead(QWidget* window) {
        for (const QLabel* label : window->findChildren<QLabel*>()) {
            if (label->text().contains(QLatin1Char('<'))) {
                EXPECT_FALSE(ReadAsMarkup(label->text(), label->textFormat()))
                    << label->objectName().toStdString() << ": " << label->text().toStdString();
            }
        }
    }
    void ExpectShownAsIs(QWidget* window, const char* name, const std::string& text) {
        auto* label = Find<QLabel>(window, name);
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->textFormat(), Qt::PlainText) << name;
        EXPECT_EQ(FullText(label).toStdString(), text) << name;
        // Cut to its box, the text is the same characters up to the ellipsis.
        QString shown = label->text();
        shown.remove(QChar(0x2026));
        EXPECT_TRUE(QString::fromStdString(text).remove('\r').startsWith(shown.left(8))) << name;
        if (!label->toolTip().isEmpty()) {
            EXPECT_EQ(SeenTip(label).toStdString(), text) << name;
        }
    }
};

TEST_F(PlainText, TheMainAndManageWindowsShowAPackagesMarkupAsItsCharacters) {
    frmMain& main = Mod().Main();
    const std::vector<std::pair<const char*, std::string>> main_values = {{"lblName", kName},
                                                                          {"lblVersion", kVersion},
                                                                          {"lblAuthors", kAuthors},
                                                                          {"lblDepends", kDepends}};
    for (const auto& [name, text] : main_values)
        ExpectShownAsIs(&main, name, text);
    // The long name is cut, and its tooltip shows it whole, as characters.
    EXPECT_EQ(SeenTip(Find<QLabel>(&main, "lblName")).toStdString(), kName);
    ExpectNoMarkupRead(&main);

    main.cmdManage_Click();
    frmManage& manage = Mod().Manage();
    for (const auto& [name, text] :
         std::vector<std::pair<const char*, std::string>>{{"lblPluginName", kName},
                                                          {"lblVersion", kVersion},
                                                          {"lblAuthors", kAuthors},
                                                          {"lblDepends", kDepends}})
        ExpectShownAsIs(&manage, name, text);
    ExpectNoMarkupRead(&manage);

    // A file name of markup, in both windows.
    OpenInManage(kZip);
    ExpectShownAsIs(&manage, "lblQvrFile", Path(kZip));
    ExpectNoMarkupRead(&manage);
    manage.cmdClose_Click();
    ExpectShownAsIs(&main, "lblQVRFileName", kZip);
    ExpectNoMarkupRead(&main);
}

TEST_F(PlainText, TheProgressLineShowsTheNameAsItsCharacters) {
    Mod().Main().cmdInstallQVR_Click();
    ASSERT_EQ(ReadAll(DataFolder.toStdString() + "/gold.esp"), "p");
    frmSplash& splash = Mod().Splash();
    auto* task = splash.findChild<QLabel*>("lblTask");
    EXPECT_EQ(task->textFormat(), Qt::PlainText);
    EXPECT_EQ(FullText(task).toStdString(), "Installing Plug-in " + kName + ": Complete!");
    EXPECT_EQ(SeenTip(task).toStdString(), "Installing Plug-in " + kName + ": Complete!");
    ExpectNoMarkupRead(&splash);
}

// Nor may a name steer the text around it: a control character in a plug-in's texts, or a
// right-to-left override in a downloaded archive's file name ("x<RLO>fdp.zip" reads as
// "xpiz.pdf"), is shown as a replacement character, while the program goes on working with the
// name itself.
TEST_F(PlainText, NoLabelShowsACharacterThatSteersText) {
    PackInfo info;
    info.Name = "Gear\x1b[2J";
    info.Authors = "Fargoth\x07";
    MakePackage(Path("Gear.qvr"), {{"", "gear.esp", "g"}}, &info, Path(""));
    OpenInMain("Gear.qvr");
    frmMain& main = Mod().Main();
    main.cmdInstallQVR_Click();
    EXPECT_EQ(ReadAll(DataFolder.toStdString() + "/gear.esp"), "g");
    main.cmdManage_Click();
    const std::string zip = "Gear\u202Epiz.zip";
    MakeZip(Path(zip), {"gear.esp"});
    OpenInManage(zip);
    EXPECT_EQ(FullText(Find<QLabel>(&Mod().Manage(), "lblQvrFile")).toStdString(), Path(zip));
    for (QWidget* window : std::initializer_list<QWidget*>{&main, &Mod().Manage(), &Mod().Splash()})
        for (const QLabel* label : window->findChildren<QLabel*>())
            for (const QString& text : {label->text(), label->toolTip()})
                for (const char32_t steering : {U'\u202E', U'\x1b', U'\x07'})
                    EXPECT_FALSE(text.contains(QString::fromUcs4(&steering, 1)))
                        << label->objectName().toStdString() << ": " << text.toStdString();
}
