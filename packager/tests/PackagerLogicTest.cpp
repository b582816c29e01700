#include "PackagerLogic.h"

#include <gtest/gtest.h>

using namespace packager;

namespace {
qvr::sgFileInfo Entry(const std::string& path, const std::string& name) {
    qvr::sgFileInfo e;
    e.FilePath(path);
    e.FileName(name);
    return e;
}
} // namespace

TEST(PackagerLogic, NumbersAreGroupedAndZeroIsEmpty) {
    const QLocale us(QLocale::English, QLocale::UnitedStates);
    EXPECT_EQ(FormatGrouped(0, us), QString());
    EXPECT_EQ(FormatGrouped(7, us), "7");
    EXPECT_EQ(FormatGrouped(999, us), "999");
    EXPECT_EQ(FormatGrouped(1000, us), "1,000");
    // Longer than the nine-digit pattern: every digit kept, still grouped.
    EXPECT_EQ(FormatGrouped(12345678901LL, us), "12,345,678,901");
    QLocale noGroups = us;
    noGroups.setNumberOptions(QLocale::OmitGroupSeparator);
    EXPECT_EQ(FormatGrouped(1234567, noGroups), "1,234,567");
    EXPECT_EQ(FormatGrouped(1234567, QLocale(QLocale::German, QLocale::Germany)), "1.234.567");
}

TEST(PackagerLogic, MultiLineTextsAreStoredWithCrLf) {
    EXPECT_EQ(ToStoredText("one\ntwo\n\nfour"), "one\r\ntwo\r\n\r\nfour");
    // Text that already has CR LF (pasted) gains no second CR.
    EXPECT_EQ(ToStoredText("a\r\nb\nc"), "a\r\nb\r\nc");
    EXPECT_EQ(ToShownText("a\r\nb\rc\nd"), "a\nb\nc\nd");
    EXPECT_EQ(ToShownText(ToStoredText("x\ny\n")), "x\ny\n");
    EXPECT_EQ(ToStoredText(""), "");
}

TEST(PackagerLogic, KeysAndTheirParts) {
    EXPECT_EQ(EntryKey(Entry("Meshes\\armor", "helm.nif")), "Meshes\\armor\\helm.nif");
    EXPECT_EQ(EntryKey(Entry("", "Tower.esp")), "Tower.esp");
    EXPECT_EQ(FolderPart("Meshes\\armor\\helm.nif"), "Meshes\\armor");
    EXPECT_EQ(FolderPart("Tower.esp"), "");
    EXPECT_EQ(LastLevel("Meshes\\armor"), "armor");
    EXPECT_EQ(LastLevel("Meshes"), "Meshes");
}

TEST(PackagerLogic, TreeConflictsAreFoundBeforeAPackageIsShown) {
    const QString info = "P.qvr.ifo";
    EXPECT_FALSE(FindTreeConflict({Entry("", "P.qvr.ifo"), Entry("Meshes\\a", "x.nif"),
                                   Entry("Meshes\\a", "y.nif"), Entry("", "a.esp")},
                                  info));
    // Two entries for one place, letter case aside.
    EXPECT_TRUE(FindTreeConflict({Entry("Meshes", "x.nif"), Entry("meshes", "X.NIF")}, info));
    EXPECT_TRUE(FindTreeConflict({Entry("", "a.esp"), Entry("", "a.esp")}, info));
    // A root file named like a fixed folder or like a folder made by an earlier entry.
    EXPECT_TRUE(FindTreeConflict({Entry("", "Meshes")}, info));
    EXPECT_TRUE(FindTreeConflict({Entry("Splash\\x", "a.tga"), Entry("Splash", "x")}, info));
    // The other order is shown by the tree: the file node carries the folder's contents.
    EXPECT_FALSE(FindTreeConflict({Entry("Splash", "x"), Entry("Splash\\x", "a.tga")}, info));
    // Info entries are never shown, whatever their letter case.
    EXPECT_FALSE(FindTreeConflict({Entry("", "p.QVR.ifo"), Entry("", "P.qvr.ifo")}, info));
}

TEST(PackagerLogic, ResizeRuleStopsAtTheFirstSizeThatWouldBeNegative) {
    ResizeResult r = ApplyResizeRule(9995, 8100, 4875, 4875, 325);
    EXPECT_EQ(r.Frame1Left, 4920);
    EXPECT_EQ(r.Frame2Left, 4920);
    EXPECT_EQ(r.TreeWidth, 4720);
    EXPECT_EQ(r.TreeHeight, 6975);

    // Too narrow: the frames still move, the tree keeps both its sizes.
    r = ApplyResizeRule(5000, 8100, 4875, 4875, 325);
    EXPECT_EQ(r.Frame1Left, -75);
    EXPECT_FALSE(r.TreeWidth);
    EXPECT_FALSE(r.TreeHeight);

    // Wide enough but too low: only the height is left alone.
    r = ApplyResizeRule(9995, 1000, 4875, 4875, 325);
    EXPECT_EQ(r.TreeWidth, 4720);
    EXPECT_FALSE(r.TreeHeight);
}

TEST(PackagerLogic, DatesNamesCharactersAndFilesBelowFiles) {
    // The date of a library "date time" text, whatever blanks either part holds.
    EXPECT_EQ(DatePart("12/07/26 16:52:14"), "12/07/26");
    EXPECT_EQ(DatePart("2026. 12. 7. 16:52:14"), "2026. 12. 7.");
    EXPECT_EQ(DatePart("07.12.2026 4:05:09 PM"), "07.12.2026");
    EXPECT_EQ(DatePart("7 Dec 2026"), "7 Dec 2026");

    EXPECT_EQ(PackageFileName("Tower v1.2"), "Tower v1.2.qvr");
    EXPECT_EQ(PackageFileName("/a.b/Tower"), "/a.b/Tower.qvr");
    EXPECT_EQ(PackageFileName("Tower.QVR"), "Tower.QVR");

    EXPECT_EQ(UnstorableCharacter(QString::fromUtf8("Caf\xC3\xA9 \xE2\x82\xAC")), std::nullopt);
    EXPECT_EQ(UnstorableCharacter(QString::fromUtf8("ok \xF0\x9F\x90\x89 \xE5\xA1\x94")),
              QString::fromUtf8("\"\xF0\x9F\x90\x89\" (U+1F409)"));

    const std::vector<qvr::sgFileInfo> entries = {
        Entry("", "Tower.esp"), Entry("Tower.esp", "t.tga"), Entry("TOWER.ESP\\deep", "u.tga"),
        Entry("Meshes", "m.nif"), Entry("Meshes\\m.nif.d", "x.nif")};
    EXPECT_EQ(FilesBelowFiles(entries),
              QStringList({"Tower.esp\\t.tga", "TOWER.ESP\\deep\\u.tga"}));
}
