// New, Open, Add file, New Folder and Remove, driven through the window's menus.

#include "PackagerFixture.h"

#include "PackagerLogic.h"
#include "frmNewFolder.h"
#include "frmSplash.h"
#include "qvr/platform/FileUtils.h"
#include "qvr/platform/detail/TestHooks.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

using namespace shared_windows;

using packager::RootKey;

namespace {

const QStringList kFixed = {"BookArt", "Fonts", "Icons", "Meshes", "Music", "Sound", "Textures"};

QStringList WithRoot(QStringList rest) {
    rest.prepend(RootKey);
    return rest;
}

// Answers the New Folder dialog once it is shown: the parent chosen by key, then the name,
// then the button pressed ("OKButton", "CancelButton", or "" to close it by its frame).
void AnswerNewFolder(const QString& parent, const QString& name, const QString& button,
                     QStringList* offered = nullptr) {
    WhenModalShown([=](QWidget* modal) {
        auto* list = modal->findChild<QComboBox*>("cmbFolders");
        if (offered) {
            offered->clear();
            for (int i = 0; i < list->count(); ++i)
                *offered << list->itemText(i);
        }
        if (!parent.isNull())
            list->setCurrentIndex(list->findText(parent));
        modal->findChild<QLineEdit*>("txNewFolder")->setText(name);
        if (button.isEmpty())
            modal->close();
        else
            modal->findChild<QPushButton*>(button)->click();
    });
}

} // namespace

TEST_F(PackagerTest, NewThenOpenThenNewEachStartWithOnlyTheirInfoEntry) {
    NewThroughMenu(Path("First.qvr"));
    EXPECT_EQ(dialogs->Calls.back().title, "Create New Package");
    EXPECT_EQ(window->windowTitle(), "Morrowind QVR Packager: First.qvr");
    EXPECT_EQ(TopLevelKeys(), WithRoot(kFixed));
    ASSERT_EQ(arc.ArchiveFiles.size(), 1u);
    EXPECT_EQ(arc.ArchiveFiles[0].FileName(), "First.qvr.ifo");
    EXPECT_EQ(Panel(1), "Total files: ");
    EXPECT_EQ(Panel(3), QDir::toNativeSeparators(Path("First.qvr")));
    EXPECT_FALSE(Control<QPushButton>("cmdUpdate")->isEnabled());
    ExpectDiskMatchesTree();

    AddThroughMenu({Source("a.esp", 300)});
    ExpectDiskMatchesTree();

    MakePackage(Path("Other.qvr"), QString::fromStdString(arc.TempFolder),
                {"Meshes\\m.nif", "o.esp"});
    OpenThroughMenu(Path("Other.qvr"));
    EXPECT_EQ(window->windowTitle(), "Morrowind Plug-in Packager: Other.qvr");
    EXPECT_EQ(Panel(1), "Total files: 2");
    ExpectDiskMatchesTree();

    NewThroughMenu(Path("Second.qvr"));
    EXPECT_EQ(window->windowTitle(), "Morrowind QVR Packager: Second.qvr");
    EXPECT_EQ(TreeFileKeys(), QStringList());
    ASSERT_EQ(arc.ArchiveFiles.size(), 1u);
    EXPECT_EQ(arc.ArchiveFiles[0].FileName(), "Second.qvr.ifo");
    EXPECT_EQ(Panel(1), "Total files: ");
    ExpectDiskMatchesTree();
    EXPECT_EQ(dialogs->Messages(), QStringList());
}

TEST_F(PackagerTest, NewRefusesAnExistingPackageAndKeepsTheOpenOne) {
    NewThroughMenu(Path("Kept.qvr"));
    AddThroughMenu({Source("k.esp", 200)});
    MakePackage(Path("Busy.qvr"), QString::fromStdString(arc.TempFolder), {"x.esp"});
    const QByteArray before = [&] {
        QFile f(Path("Busy.qvr"));
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }();

    NewThroughMenu(Path("Busy.qvr"));
    ASSERT_EQ(dialogs->Messages().size(), 1);
    EXPECT_TRUE(dialogs->Messages()[0].contains("already exists"));
    EXPECT_EQ(window->windowTitle(), "Morrowind QVR Packager: Kept.qvr");
    EXPECT_EQ(TreeFileKeys(), QStringList({"k.esp"}));
    QFile f(Path("Busy.qvr"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), before);

    // Cancelling the dialog changes nothing and says nothing.
    dialogs->SaveFileAnswers.push_back(std::nullopt);
    Action("mNew")->trigger();
    EXPECT_EQ(dialogs->Messages().size(), 1);
    ExpectDiskMatchesTree();
}

TEST_F(PackagerTest, NewAddsTheExtensionWhenTheNameHasNone) {
    NewThroughMenu(Path("Tower"));
    EXPECT_EQ(window->windowTitle(), "Morrowind QVR Packager: Tower.qvr");
    EXPECT_TRUE(QFile::exists(Path("Tower.qvr")));
    EXPECT_EQ(arc.ArchiveFiles.at(0).FileName(), "Tower.qvr.ifo");
}

TEST_F(PackagerTest, OpenShowsFoldersAndRootFilesInReverseOrder) {
    qvr::sgPlugInfo info;
    info.PluginName("Armory");
    info.Version("2.1");
    MakePackage(Path("P.qvr"), QString::fromStdString(arc.TempFolder),
                {"a.esp", "Meshes\\armor\\helm.nif", "b.bsa", "Splash\\s.tga",
                 "Meshes\\armor\\boots.nif", "c.esm"},
                info);
    OpenThroughMenu(Path("P.qvr"));
    EXPECT_EQ(dialogs->Calls.back().title, "Open Morrowind Plug-in Package");
    EXPECT_EQ(TopLevelKeys(),
              WithRoot(QStringList{"c.esm", "b.bsa", "a.esp"} + kFixed + QStringList{"Splash"}));
    EXPECT_EQ(ChildKeys("Meshes"), QStringList({"Meshes\\armor"}));
    EXPECT_EQ(ChildKeys("Meshes\\armor"),
              QStringList({"Meshes\\armor\\helm.nif", "Meshes\\armor\\boots.nif"}));
    EXPECT_EQ(window->Tree().Node("Meshes\\armor")->text(0), "armor");
    EXPECT_EQ(Control<QLineEdit>("txPluginName")->text(), "Armory");
    EXPECT_EQ(Control<QLineEdit>("txVersion")->text(), "2.1");
    EXPECT_FALSE(Control<QPushButton>("cmdUpdate")->isEnabled());
    EXPECT_EQ(Panel(1), "Total files: 6");
    EXPECT_EQ(Panel(2), "File size: " + QLocale().toString(QFileInfo(Path("P.qvr")).size()));
    ExpectDiskMatchesTree();
    EXPECT_EQ(dialogs->Messages(), QStringList());
}

TEST_F(PackagerTest, OpenOfAnUnreadableFileKeepsThePackageThatWasOpen) {
    NewThroughMenu(Path("Good.qvr"));
    AddThroughMenu({Source("g.esp", 500)});
    const QString caption = window->windowTitle();
    const QStringList panels = {Panel(1), Panel(2), Panel(3)};

    // A package whose directory breaks off part-way.
    MakePackage(Path("Broken.qvr"), QString::fromStdString(arc.TempFolder), {"x.esp", "y.esp"});
    {
        QFile f(Path("Broken.qvr"));
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        f.resize(f.size() - 30);
    }
    // And a file that is no package at all.
    Source("notes.txt", QByteArray("just some text"));

    for (const QString& bad : {Path("Broken.qvr"), Path("src/notes.txt")}) {
        dialogs->Calls.clear();
        OpenThroughMenu(bad);
        ASSERT_EQ(dialogs->Messages().size(), 1) << bad.toStdString();
        EXPECT_TRUE(dialogs->Messages()[0].contains(QDir::toNativeSeparators(bad)));
        EXPECT_EQ(window->windowTitle(), caption);
        EXPECT_EQ(QStringList({Panel(1), Panel(2), Panel(3)}), panels);
        EXPECT_EQ(QString::fromStdString(arc.CurrentArchive), Path("Good.qvr"));
        EXPECT_EQ(TreeFileKeys(), QStringList({"g.esp"}));
        EXPECT_TRUE(Action("mAddfile")->isEnabled());
    }
    // The package that stayed open still takes changes, and only it is changed.
    AddThroughMenu({Source("h.esp", 100)});
    ExpectDiskMatchesTree();
}

TEST_F(PackagerTest, OpenRefusesAPackageWithTwoEntriesForOnePlace) {
    NewThroughMenu(Path("Good.qvr"));
    MakePackage(Path("Twice.qvr"), QString::fromStdString(arc.TempFolder),
                {"Meshes\\x.nif", "meshes\\X.NIF"});
    OpenThroughMenu(Path("Twice.qvr"));
    ASSERT_EQ(dialogs->Messages().size(), 1);
    EXPECT_TRUE(dialogs->Messages()[0].contains("twice"));
    EXPECT_EQ(window->windowTitle(), "Morrowind QVR Packager: Good.qvr");
}

TEST_F(PackagerTest, ZipFilesOpenReadOnly) {
    NewThroughMenu(Path("Good.qvr"));
    // A folder entry and one stored member "Textures/t.tga", each behind a version-20 local
    // header, then the start of a central directory, which ends the walk.
    QByteArray zip;
    auto le16 = [&](int v) { zip.append(char(v & 0xff)).append(char((v >> 8) & 0xff)); };
    auto le32 = [&](int v) { le16(v & 0xffff), le16((v >> 16) & 0xffff); };
    const QByteArray folder = "Textures/", name = "Textures/t.tga", data = "0123456789";
    zip.append("PK\x03\x04", 4); // a folder entry, which is not a file
    le16(20), le16(0), le16(0), le16(0), le16(0), le32(0);
    le32(0), le32(0), le16(int(folder.size())), le16(0);
    zip.append(folder);
    zip.append("PK\x03\x04", 4);
    le16(20), le16(0), le16(0), le16(0), le16(0), le32(0);
    le32(int(data.size())), le32(int(data.size())), le16(int(name.size())), le16(0);
    zip.append(name).append(data);
    zip.append("PK\x01\x02", 4);
    zip.append(QByteArray(42, '\0'));
    const QString path = Source("Mod.zip", zip);
    const QByteArray before = zip;

    OpenThroughMenu(path);
    EXPECT_EQ(dialogs->Messages(), QStringList());
    EXPECT_TRUE(window->ReadOnly());
    EXPECT_EQ(TreeFileKeys(), QStringList({"Textures\\t.tga"}));
    EXPECT_TRUE(Panel(3).contains("Read-only"));
    EXPECT_EQ(Panel(1), "Total files: 1");
    for (const char* name : {"mAddfile", "mRemove", "mNewFolder"})
        EXPECT_FALSE(Action(name)->isEnabled()) << name;
    EXPECT_FALSE(Control<QPushButton>("cmdUpdate")->isEnabled());
    EXPECT_TRUE(Control<QLineEdit>("txPluginName")->isReadOnly());

    // Even called directly, nothing is written into the zip file.
    Select("Textures");
    window->AddFiles({Source("x.tga", 100)});
    Select("Textures\\t.tga");
    window->mRemove_Click();
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), before);

    // Open and New still work from here.
    NewThroughMenu(Path("After.qvr"));
    EXPECT_FALSE(window->ReadOnly());
    EXPECT_TRUE(Action("mAddfile")->isEnabled());
}

TEST_F(PackagerTest, AddOneFileAtTheRoot) {
    NewThroughMenu(Path("P.qvr"));
    AddThroughMenu({Source("first.esp", 1000)});
    Click(RootKey);
    AddThroughMenu({Source("second.esp", 2000)});
    EXPECT_EQ(dialogs->Calls.back().title, "Add File to Package");
    EXPECT_TRUE(dialogs->Calls.back().filter.startsWith("Common Files|"));
    EXPECT_EQ(TopLevelKeys().mid(0, 3), QStringList({RootKey, "second.esp", "first.esp"}));
    const auto entry = arc.FindEntry("second.esp", "");
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->FileSize(), 2000);

    const ProgressModel& progress = window->Splash()->Model();
    EXPECT_EQ(progress.StepWidth(), 3308); // two steps for one file
    EXPECT_EQ(progress.TaskText(), "Compressing File second.esp: Complete!");
    EXPECT_TRUE(window->Splash()->isVisible());
    EXPECT_EQ(Panel(1), "Total files: 2");

    Click("second.esp");
    EXPECT_EQ(Control<QLineEdit>("txFileName")->text(), "second.esp");
    EXPECT_EQ(Control<QLineEdit>("txFileSize")->text(), "2,000");
    EXPECT_EQ(Control<QLineEdit>("txComprSize")->text(),
              QLocale().toString(entry->FileCompressedSize()));
    EXPECT_EQ(Control<QLineEdit>("txFileDate")->text(),
              packager::ShownFileDate(QString::fromStdString(entry->FileDate())));
    EXPECT_FALSE(Control<QLineEdit>("txDateArc")->text().isEmpty());
    ExpectDiskMatchesTree();
}

TEST_F(PackagerTest, AddThreeFilesIntoMeshesInTheDialogsOrder) {
    NewThroughMenu(Path("P.qvr"));
    Select("Meshes");
    AddThroughMenu({Source("c.nif", 300), Source("a.nif", 100), Source("b.nif", 200)});
    EXPECT_EQ(ChildKeys("Meshes"),
              QStringList({"Meshes\\c.nif", "Meshes\\a.nif", "Meshes\\b.nif"}));
    for (const char* name : {"c.nif", "a.nif", "b.nif"})
        EXPECT_TRUE(arc.FindEntry(name, "Meshes")) << name;
    const ProgressModel& progress = window->Splash()->Model();
    EXPECT_EQ(progress.StepWidth(), 1102); // six steps announced: 6615 / 6, halves to even
    EXPECT_EQ(progress.TaskText(), "Compressing File b.nif: Complete!");
    EXPECT_EQ(Panel(1), "Total files: 3");
    ExpectDiskMatchesTree();

    // With a file node selected the file goes into that file's folder, never below the file.
    Select("Meshes\\a.nif");
    AddThroughMenu({Source("inner.nif", 50)});
    EXPECT_EQ(ChildKeys("Meshes\\a.nif"), QStringList());
    EXPECT_TRUE(arc.FindEntry("inner.nif", "Meshes"));
    EXPECT_EQ(ChildKeys("Meshes").last(), "Meshes\\inner.nif");
    ExpectDiskMatchesTree();
}

TEST_F(PackagerTest, AddSkipsANameTheFolderAlreadyHoldsAndSaysWhatHappened) {
    NewThroughMenu(Path("P.qvr"));
    Select("Meshes");
    AddThroughMenu({Source("x.nif", 100)});
    dialogs->Calls.clear();
    // Same name, other letter case: one place on the player's disk, so the author is asked;
    // Skip keeps the package's file and is no failure. Given twice in one selection, the second
    // is refused, and neither the window nor the message calls the refused one complete.
    WhenModalShown([](QWidget* modal) { modal->findChild<QPushButton*>("cmdSkip")->click(); });
    AddThroughMenu({Source("y.nif", 100), Source("other/X.NIF", 100), Source("z.nif", 100),
                    Source("again/z.nif", 100)});
    ASSERT_EQ(dialogs->Messages().size(), 1);
    EXPECT_TRUE(dialogs->Messages()[0].startsWith("Added 2 of 3 files to the package."));
    EXPECT_TRUE(dialogs->Messages()[0].contains("again"));
    EXPECT_EQ(ChildKeys("Meshes"),
              QStringList({"Meshes\\x.nif", "Meshes\\y.nif", "Meshes\\z.nif"}));
    EXPECT_EQ(window->Splash()->Model().TaskText(), "Added 2 of 3 files");
    EXPECT_TRUE(window->Splash()->Model().Complete());
    EXPECT_TRUE(Action("mAddfile")->isEnabled());
    ExpectDiskMatchesTree();

    // A root file named like the package's own information entry is refused too.
    Select(RootKey);
    AddThroughMenu({Source("P.qvr.ifo", 10)});
    EXPECT_EQ(dialogs->Messages().size(), 2);
    ExpectDiskMatchesTree();
}

TEST_F(PackagerTest, AFileThatCannotBeAddedLeavesNoNodeAndTheRestAreAdded) {
    NewThroughMenu(Path("P.qvr"));
    Select("Sound");
    const QString empty = Source("empty.wav", QByteArray());
    // A name the package's texts cannot hold, and (where the disk allows such a name) one that
    // could not be installed on the player's disk.
    const QString unstorable = Source(QString::fromUtf8("\xE5\xA1\x94.wav"), 100);
    QStringList selection = {Source("one.wav", 100), empty, Path("src/missing.wav"), unstorable};
#ifndef _WIN32
    selection << Source("what?.wav", 100);
#endif
    selection << Source("two.wav", 100);
    AddThroughMenu(selection);
    // One message naming every file that was not added, one line each.
    const QStringList messages = dialogs->Messages();
    ASSERT_EQ(messages.size(), 1);
    const QStringList lines = messages[0].split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), selection.size() - 2 + 1);
    EXPECT_EQ(
        lines[0],
        QStringLiteral("Added 2 of %1 files to the package. Not added:").arg(selection.size()));
    for (const QString& named : {empty, Path("src/missing.wav"), unstorable})
        EXPECT_EQ(lines.filter(QDir::toNativeSeparators(named)).size(), 1) << named.toStdString();
    EXPECT_EQ(ChildKeys("Sound"), QStringList({"Sound\\one.wav", "Sound\\two.wav"}));
    EXPECT_TRUE(window->Splash()->Model().Complete());
    EXPECT_FALSE(window->Splash()->Model().TaskText().contains("Complete!"));
    EXPECT_FALSE(window->Busy());
    ExpectDiskMatchesTree();
}

TEST_F(PackagerTest, CancellingAddFileSaysSoAndChangesNothing) {
    NewThroughMenu(Path("P.qvr"));
    dialogs->OpenFilesAnswers.push_back(std::nullopt);
    Action("mAddfile")->trigger();
    EXPECT_EQ(dialogs->Messages(), QStringList({"Cancel was selected."}));
    EXPECT_EQ(TreeFileKeys(), QStringList());
    ExpectDiskMatchesTree();
}

TEST_F(PackagerTest, CommandsThatChangeThePackageWaitWhileFilesAreAdded) {
    NewThroughMenu(Path("P.qvr"));
    QStringList during;
    // Runs from the progress window's event processing, while the files are being added.
    QTimer::singleShot(0, window.get(), [&] {
        for (const char* name : {"mNew", "mOpen", "mAddfile", "mRemove", "mNewFolder"}) {
            if (Action(name)->isEnabled())
                during << name;
        }
        if (Control<QPushButton>("cmdUpdate")->isEnabled())
            during << "cmdUpdate";
        // A direct call is refused as well.
        window->OpenPackage(Path("P.qvr"));
        window->close();
    });
    bool exited = false;
    QObject::connect(window.get(), &packager::frmMain::Exited, [&] { exited = true; });
    AddThroughMenu({Source("a.esp", 4000), Source("b.esp", 4000), Source("c.esp", 4000)});
    EXPECT_EQ(during, QStringList());
    // Closing the window meanwhile ends the program once the add is in: it is one change of
    // the package, never left half-made.
    EXPECT_TRUE(exited);
    EXPECT_EQ(TreeFileKeys().size(), 3);
    ExpectDiskMatchesTree();
}

TEST_F(PackagerTest, NewFolderUnderRootNestedAndExisting) {
    NewThroughMenu(Path("P.qvr"));
    Select("Meshes");
    AddThroughMenu({Source("m.nif", 100)});
    Select(QString());

    QStringList offered;
    AnswerNewFolder(RootKey, "Splash", "OKButton", &offered);
    Action("mNewFolder")->trigger();
    // Every folder is offered, in the order the nodes were made; a file is no parent.
    EXPECT_EQ(offered, WithRoot(kFixed));
    EXPECT_EQ(TopLevelKeys().last(), "Splash");
    EXPECT_TRUE(ChildKeys(RootKey).isEmpty());

    AnswerNewFolder("Meshes", "armor", "OKButton");
    Action("mNewFolder")->trigger();
    AnswerNewFolder("Meshes\\armor", "helm", "OKButton");
    Action("mNewFolder")->trigger();
    EXPECT_EQ(ChildKeys("Meshes\\armor"), QStringList({"Meshes\\armor\\helm"}));
    EXPECT_EQ(window->Tree().Node("Meshes\\armor\\helm")->text(0), "helm");
    EXPECT_EQ(dialogs->Messages(), QStringList());

    AnswerNewFolder("Meshes", "armor", "OKButton");
    Action("mNewFolder")->trigger();
    EXPECT_EQ(dialogs->Messages(),
              QStringList({"That folder already exists under that directory."}));

    // The selected node is the parent offered first; the name typed last is kept after OK.
    Select("Meshes\\armor");
    QString preset, chosen;
    WhenModalShown([&](QWidget* modal) {
        preset = modal->findChild<QLineEdit*>("txNewFolder")->selectedText();
        chosen = modal->findChild<QComboBox*>("cmbFolders")->currentText();
        modal->findChild<QPushButton*>("CancelButton")->click();
    });
    Action("mNewFolder")->trigger();
    EXPECT_EQ(preset, "armor");
    EXPECT_EQ(chosen, "Meshes\\armor");
    Select(QString());
    WhenModalShown([&](QWidget* modal) {
        chosen = modal->findChild<QComboBox*>("cmbFolders")->currentText();
        modal->findChild<QPushButton*>("CancelButton")->click();
    });
    Action("mNewFolder")->trigger();
    EXPECT_EQ(chosen, RootKey);

    // Cancel and closing by the frame add nothing.
    const QStringList before = TopLevelKeys();
    AnswerNewFolder(RootKey, "Never", "CancelButton");
    Action("mNewFolder")->trigger();
    AnswerNewFolder(RootKey, "Never", "");
    Action("mNewFolder")->trigger();
    EXPECT_EQ(TopLevelKeys(), before);
    EXPECT_EQ(window->NewFolderDialog()->FolderName(), "");

    // A name that cannot be a folder on the player's disk is refused with its reason.
    AnswerNewFolder(RootKey, "..", "OKButton");
    Action("mNewFolder")->trigger();
    EXPECT_EQ(dialogs->Messages().size(), 2);
    EXPECT_EQ(TopLevelKeys(), before);

    // New Folder writes nothing; an empty folder is gone when the package is opened again.
    ExpectDiskMatchesTree();
    OpenThroughMenu(Path("P.qvr"));
    EXPECT_FALSE(window->Tree().NodeExists("Splash"));
    EXPECT_FALSE(window->Tree().NodeExists("Meshes\\armor"));
}

TEST_F(PackagerTest, RemoveFileFolderAndNo) {
    NewThroughMenu(Path("P.qvr"));
    Select("Meshes");
    AddThroughMenu({Source("top.nif", 100)});
    window->AddFolderNode("armor", "Meshes");
    Select("Meshes\\armor");
    AddThroughMenu({Source("helm.nif", 100), Source("boots.nif", 120)});
    window->AddFolderNode("deep", "Meshes\\armor");
    Select("Meshes\\armor\\deep");
    AddThroughMenu({Source("deeper.nif", 90)});
    Select("Textures");
    AddThroughMenu({Source("t.tga", 100)});
    Select(RootKey);
    AddThroughMenu({Source("root.esp", 100)});
    ExpectDiskMatchesTree();

    // No: nothing removed, the status bar refreshed all the same.
    Click("Meshes\\armor\\helm.nif");
    dialogs->YesNoAnswers.push_back(false);
    Action("mRemove")->trigger();
    EXPECT_EQ(dialogs->Calls.back().text, "Are you sure you wish to delete the file " +
                                              QDir::toNativeSeparators("Meshes/armor/helm.nif") +
                                              " from the package?");
    EXPECT_TRUE(window->Tree().NodeExists("Meshes\\armor\\helm.nif"));
    ExpectDiskMatchesTree();

    dialogs->YesNoAnswers.push_back(true);
    Action("mRemove")->trigger();
    EXPECT_FALSE(window->Tree().NodeExists("Meshes\\armor\\helm.nif"));
    EXPECT_FALSE(arc.FindEntry("helm.nif", "Meshes\\armor"));
    EXPECT_TRUE(Control<QLineEdit>("txFileName")->text().isEmpty());
    EXPECT_EQ(Panel(1), "Total files: 5");
    ExpectDiskMatchesTree();

    // A folder with sub-folders: every entry below it leaves the package file.
    Click("Meshes");
    dialogs->YesNoAnswers.push_back(true);
    Action("mRemove")->trigger();
    EXPECT_EQ(dialogs->Calls.back().text, "Are you sure you wish to delete the folder Meshes and "
                                          "all of its contents (3 files) from the package?");
    EXPECT_FALSE(window->Tree().NodeExists("Meshes"));
    EXPECT_EQ(TreeFileKeys(), QStringList({"root.esp", "Textures\\t.tga"}));
    EXPECT_EQ(Panel(1), "Total files: 2");
    ExpectDiskMatchesTree();

    // The fixed folder comes back with the next Open.
    OpenThroughMenu(Path("P.qvr"));
    EXPECT_TRUE(window->Tree().NodeExists("Meshes"));
    ExpectDiskMatchesTree();
}

TEST_F(PackagerTest, RemoveNeedsASelectionOtherThanTheRoot) {
    NewThroughMenu(Path("P.qvr"));
    Select(QString());
    Action("mRemove")->trigger();
    Select(RootKey); // selected by the right button: no click handling, Remove stays available
    Action("mRemove")->trigger();
    EXPECT_EQ(dialogs->Messages(), QStringList({"You must select an item to remove",
                                                "You may not remove the <root> item"}));
    Click(RootKey);
    EXPECT_FALSE(Action("mRemove")->isEnabled());
    Click("Fonts");
    EXPECT_TRUE(Action("mRemove")->isEnabled());
    EXPECT_EQ(dialogs->CountOf(ScriptedDialogs::Kind::AskYesNo), 0);
}

TEST_F(PackagerTest, AFolderThatCannotBeRemovedKeepsItsNodes) {
    NewThroughMenu(Path("P.qvr"));
    Select("Meshes");
    AddThroughMenu({Source("a.nif", 100), Source("b.nif", 100), Source("c.nif", 100)});
    Click("Meshes");
    dialogs->YesNoAnswers.push_back(true);
    qvr::testhooks::FailNextReplace = true; // the rebuild cannot take the package's place
    Action("mRemove")->trigger();
    // One rebuild for the folder: all of it stays, and each file is named.
    ASSERT_EQ(dialogs->Messages().size(), 1);
    EXPECT_TRUE(dialogs->Messages()[0].contains("Meshes\\c.nif"));
    EXPECT_EQ(ChildKeys("Meshes"),
              QStringList({"Meshes\\a.nif", "Meshes\\b.nif", "Meshes\\c.nif"}));
    EXPECT_EQ(Panel(1), "Total files: 3");
    ExpectDiskMatchesTree();
}

TEST_F(PackagerTest, NewThatCannotStoreItsDetailsLeavesNoFileBehind) {
    NewThroughMenu(Path("Kept.qvr"));
    // The details entry is named after the package, and this name has no Windows-1252 form.
    const QString bad = Path(QString::fromUtf8("\xE5\xA1\x94.qvr"));
    NewThroughMenu(bad);
    ASSERT_EQ(dialogs->Messages().size(), 1);
    EXPECT_TRUE(dialogs->Messages()[0].contains(QDir::toNativeSeparators(bad)));
    EXPECT_FALSE(QFile::exists(bad));
    EXPECT_EQ(window->windowTitle(), "Morrowind QVR Packager: Kept.qvr");
    ExpectDiskMatchesTree();
}

TEST_F(PackagerTest, APackageWithoutDetailsOpensAndGetsThemWithUpdate) {
    const std::string path = Path("Bare.qvr").toStdString();
    {
        qvr::Archives a;
        a.TempFolder = arc.TempFolder;
        ASSERT_TRUE(a.CreateArchive(path));
        ASSERT_TRUE(a.AddFileToArchive(Source("bare.esp", 100).toStdString(), "bare.esp", ""));
    }
    OpenThroughMenu(Path("Bare.qvr"));
    ASSERT_EQ(dialogs->Messages().size(), 1);
    EXPECT_TRUE(dialogs->Messages()[0].contains("no plug-in details"));
    EXPECT_EQ(TreeFileKeys(), QStringList({"bare.esp"}));
    EXPECT_EQ(Control<QLineEdit>("txPluginName")->text(), "");
    Control<QLineEdit>("txPluginName")->setText("Bare");
    Control<QPushButton>("cmdUpdate")->click();
    ExpectDiskMatchesTree();
    EXPECT_TRUE(arc.FindEntry("Bare.qvr.ifo", "")); // the one info entry

    // The 10-byte empty archive opens as an empty package.
    {
        QFile f(Path("Empty.qvr"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray("QVR1.0\0\0\0\0", 10));
    }
    OpenThroughMenu(Path("Empty.qvr"));
    EXPECT_EQ(window->windowTitle(), "Morrowind Plug-in Packager: Empty.qvr");
    EXPECT_EQ(dialogs->Messages().size(), 2);
    Control<QLineEdit>("txPluginName")->setText("Empty");
    Control<QPushButton>("cmdUpdate")->click();
    Select(RootKey);
    AddThroughMenu({Source("e.esp", 100)});
    ExpectDiskMatchesTree();
}

TEST_F(PackagerTest, APackageOpenedAgainTakesChanges) {
    NewThroughMenu(Path("A.qvr"));
    AddThroughMenu({Source("a1.esp", 100)});
    NewThroughMenu(Path("B.qvr"));
    AddThroughMenu({Source("b1.esp", 100)});
    OpenThroughMenu(Path("A.qvr"));
    AddThroughMenu({Source("a2.esp", 100)});
    OpenThroughMenu(Path("B.qvr"));
    OpenThroughMenu(Path("A.qvr"));
    AddThroughMenu({Source("a3.esp", 100)});
    Click("a1.esp");
    dialogs->YesNoAnswers.push_back(true);
    Action("mRemove")->trigger();
    EXPECT_EQ(dialogs->Messages(), QStringList());
    EXPECT_EQ(TreeFileKeys(), QStringList({"a3.esp", "a2.esp"}));
}
