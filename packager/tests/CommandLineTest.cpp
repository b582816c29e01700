// "QVRPackager MyMod.qvr": the package named on the command line is opened as Open opens it.

#include "PackagerFixture.h"

#include <QDir>
#include <QLineEdit>
#include <QTreeWidget>

using namespace shared_windows;

TEST_F(PackagerTest, APackageNamedOnTheCommandLineIsOpened) {
    const QString path = Path("MyMod.qvr");
    qvr::sgPlugInfo info;
    info.PluginName("My Mod");
    MakePackage(path, dir.filePath("work"), {"Meshes\\m.nif", "a.esp"}, info);

    window->OpenGiven({});
    EXPECT_FALSE(window->PackageOpen());
    window->OpenGiven({path});
    EXPECT_TRUE(window->PackageOpen());
    EXPECT_EQ(window->windowTitle(), "Morrowind Plug-in Packager: MyMod.qvr");
    EXPECT_TRUE(window->Tree().NodeExists("Meshes\\m.nif"));
    EXPECT_TRUE(window->Tree().NodeExists("a.esp"));
    EXPECT_EQ(Control<QLineEdit>("txPluginName")->text(), "My Mod");
    EXPECT_TRUE(Action("mAddfile")->isEnabled());
    EXPECT_TRUE(dialogs->Messages().isEmpty());
}

TEST_F(PackagerTest, AMissingOrBadFileOnTheCommandLineGivesTheMenusMessage) {
    const QString missing = Path("Missing.qvr");
    const QString bad = Source("Bad.qvr", QByteArray("QVR1.0\x05\0\0\0", 10));
    for (const QString& path : {missing, bad}) {
        const qsizetype before = dialogs->Messages().size();
        window->OpenGiven({path});
        ASSERT_EQ(dialogs->Messages().size(), before + 1);
        const QString given = dialogs->Messages().last();
        EXPECT_TRUE(given.startsWith(QDir::toNativeSeparators(path) + " cannot be opened."))
            << given.toStdString();
        OpenThroughMenu(path);
        ASSERT_EQ(dialogs->Messages().size(), before + 2);
        EXPECT_EQ(dialogs->Messages().last(), given);
        EXPECT_FALSE(window->PackageOpen());
    }
}
