// Entry paths that must stay below a folder, texts in Windows-1252, and the file utilities.

#include "TestSupport.h"

#include "qvr/format/PathRules.h"
#include "qvr/platform/Encoding.h"

#include <cstdlib>

using namespace qvr;
using namespace qvrtest;

namespace {

TEST(PathRules, SafeAndUnsafeEntryPaths) {
    struct Case {
        const char* path;
        const char* name;
        bool safe;
    } cases[] = {
        {"", "plugin.esp", true},
        {"Meshes", "rock.nif", true},
        {"Meshes\\Rocks\\Big", "rock.nif", true},
        {"Textures", "a b.dds", true},
        {"Sound\\Vo", "..hidden.wav", true},
        {"Music", "Caf\xC3\xA9.mp3", true},
        {"Icons", "console.dds", true}, // only the bare device names are reserved
        {"Icons", "COM10.dds", true},
        {"", "", false},
        {"Meshes", "..", false},
        {"Meshes", ".", false},
        {"..", "x.nif", false},
        {"Meshes\\..\\..", "x.nif", false},
        {"Meshes\\.", "x.nif", false},
        {"\\Meshes", "x.nif", false},
        {"Meshes\\", "x.nif", false},
        {"Meshes\\\\Rocks", "x.nif", false},
        {"\\\\server\\share", "x.nif", false},
        {"C:", "x.nif", false},
        {"C:\\Windows", "x.nif", false},
        {"Meshes", "C:x.nif", false},
        {"Meshes/Rocks", "x.nif", false},
        {"Meshes", "a/b.nif", false},
        {"Meshes", "a\\b.nif", false},
        {"/etc", "passwd", false},
        {"Meshes", "x\x01.nif", false},
        {"Meshes", "x\xC2\x9B[2J.nif", false}, // C1: U+009B, a terminal's CSI
        {"Meshes", "x\xC2\xA0.nif", true},     // U+00A0, the first character above them
        {"Mes\thes", "x.nif", false},
        {"Meshes", "CON", false},
        {"Meshes", "con.txt", false},
        {"nul", "x.nif", false},
        {"Meshes", "Aux.tar.gz", false},
        {"Meshes", "COM1", false},
        {"Meshes", "lpt9.dds", false},
        {"Meshes", "COM\xC2\xB9.txt", false},
        {"Meshes", "LPT\xC2\xB3", false},
        {"Meshes", "COM\xC2\xB9\xC2\xB9", true},
        {"Meshes", "PRN ", false},
        {"Meshes", "x.nif.", false},
        {"Meshes", "x.nif ", false},
        {"Meshes.", "x.nif", false},
        {"Meshes ", "x.nif", false},
        {"Meshes", "what?.nif", false},
        {"Meshes", "a*b.nif", false},
    };
    for (const Case& c : cases) {
        const qvr::Result r = IsSafeEntryPath(c.path, c.name);
        const std::string why = r.Message;
        EXPECT_EQ(r.Ok(), c.safe) << "\"" << c.path << "\" + \"" << c.name << "\"";
        if (!c.safe) {
            EXPECT_FALSE(why.empty()) << c.path << " " << c.name;
        }
    }
    EXPECT_TRUE(IsSafeFolderPath(""));
    EXPECT_FALSE(IsSafeFolderPath("a\\..\\b"));
}

TEST(PathRules, ToArchivePathTidiesSeparators) {
    EXPECT_EQ(ToArchivePath("Meshes/x"), "Meshes\\x");
    EXPECT_EQ(ToArchivePath("/Meshes//x\\\\y/"), "Meshes\\x\\y");
    EXPECT_EQ(ToArchivePath(""), "");
    EXPECT_EQ(ToArchivePath("\\"), "");
}

TEST(Encoding, EveryByteSurvivesARoundTrip) {
    std::string all;
    for (int b = 1; b < 256; ++b)
        all += static_cast<char>(b);
    const std::string utf8 = Cp1252ToUtf8(all);
    EXPECT_EQ(Utf8ToCp1252(utf8), all);
    EXPECT_EQ(Cp1252ToUtf8("\x80"), "\xE2\x82\xAC"); // the euro sign
    EXPECT_EQ(Cp1252ToUtf8("\xE9"), "\xC3\xA9");
    EXPECT_EQ(Utf8ToCp1252("Caf\xC3\xA9 \xE2\x80\x94 \xC5\xA0"), "Caf\xE9 \x97 \x8A");
}

TEST(Encoding, TextsWindows1252CannotHoldAreRefused) {
    EXPECT_FALSE(Utf8ToCp1252("\xE6\x97\xA5\xE6\x9C\xAC")); // Japanese
    EXPECT_FALSE(Utf8ToCp1252("\xF0\x9F\x98\x80"));         // an emoji
    EXPECT_FALSE(Utf8ToCp1252("\xC4\x8D"));                 // c with caron
    EXPECT_FALSE(Utf8ToCp1252("\xC3"));                     // cut short
    EXPECT_FALSE(Utf8ToCp1252("\xC0\xAF"));                 // overlong
    EXPECT_FALSE(Utf8ToCp1252("\xED\xA0\x80"));             // a surrogate
    EXPECT_TRUE(IsValidUtf8("plain \xC3\xA9"));
    EXPECT_FALSE(IsValidUtf8("\xFF"));
}

TEST(Encoding, CaseIsIgnoredForWindows1252Letters) {
    EXPECT_TRUE(SameTextIgnoreCase("Textures\\A.TGA", "textures\\a.tga"));
    EXPECT_TRUE(SameTextIgnoreCase("\xC3\x89T\xC3\x89", "\xC3\xA9t\xC3\xA9")); // ÉTÉ / été
    EXPECT_TRUE(SameTextIgnoreCase("\xC5\xA0", "\xC5\xA1"));                   // Š / š
    EXPECT_TRUE(SameTextIgnoreCase("\xC5\xB8", "\xC3\xBF"));                   // Ÿ / ÿ
    EXPECT_FALSE(SameTextIgnoreCase("a.esp", "b.esp"));
    EXPECT_FALSE(SameTextIgnoreCase("\xC3\x97", "\xC3\xB7")); // × and ÷ are not letters
}

// ASCII is compared in place; whatever follows it must still be folded as before.
TEST(Encoding, ComparisonAgreesWithTheLowerCaseFormPastAsciiPrefixes) {
    const std::pair<std::string, std::string> pairs[] = {
        {"Meshes\\A.NIF", "meshes\\a.nif"},
        {"ab", "abc"},
        {"abc", "ab"},
        {"", "a"},
        {"a\xC3\x89", "A\xC3\xA9"}, // aÉ / Aé
        {"ab", "a\xC3\xA9"},
        {"a\xC3\xA9", "ab"},
        {"A\xFF", "a\xFF"},               // not UTF-8: A to Z are folded still
        {"A\xFF\x42", "a\xFF\x62"},       // and after the damage too (B, b)
        {"\xC3\x89\x61", "\xC3\xA9\x41"}, // Éa / éA
    };
    for (const auto& [a, b] : pairs) {
        SCOPED_TRACE(a + " / " + b);
        EXPECT_EQ(SameTextIgnoreCase(a, b), LowerText(a) == LowerText(b));
        EXPECT_EQ(SameTextIgnoreCase(a, b), SameTextIgnoreCase(b, a));
    }
    EXPECT_TRUE(SameTextIgnoreCase("a\xC3\x89", "A\xC3\xA9"));
    EXPECT_TRUE(SameTextIgnoreCase("A\xFF\x42", "a\xFF\x62"));
    EXPECT_EQ(LowerText("Meshes\\X.NIF"), "meshes\\x.nif");
    EXPECT_EQ(LowerText("\xC3\x89T\xC3\x89"), "\xC3\xA9t\xC3\xA9");
}

class FileUtilsTest : public ArchiveTest {};

TEST_F(FileUtilsTest, FileExistsNeedsANonEmptyFile) {
    WriteAll(Path("empty"), "");
    WriteAll(Path("one"), "1");
    EXPECT_FALSE(FileExists(Path("empty")));
    EXPECT_TRUE(FileExists(Path("one")));
    EXPECT_FALSE(FileExists(dir));
    EXPECT_FALSE(FileExists(Path("no/such/folder/file")));
    EXPECT_FALSE(FileExists(""));
    EXPECT_EQ(FileLength(Path("one")), 1);
    EXPECT_EQ(FileLength(dir), std::nullopt);

    DeleteFileQuiet(Path("missing"));
    DeleteFileQuiet(dir + "/tmp"); // a folder is left alone
    EXPECT_TRUE(fs::exists(dir + "/tmp"));
    DeleteFileQuiet(Path("one"));
    EXPECT_FALSE(fs::exists(Path("one")));
}

TEST(FileUtils, FileNameFromPath) {
    EXPECT_EQ(GetFileNameFromPath("C:\\Games\\Data Files\\Meshes\\rock.nif"), "rock.nif");
    EXPECT_EQ(GetFileNameFromPath("rock.nif"), "rock.nif");
    EXPECT_EQ(GetFileNameFromPath("C:\\Games\\"), "");
    EXPECT_EQ(GetFileNameFromPath(""), "");
#ifdef _WIN32
    EXPECT_EQ(GetFileNameFromPath("a/b.esp"), "a/b.esp");
#else
    EXPECT_EQ(GetFileNameFromPath("/home/me/a.qvr"), "a.qvr");
#endif
}

#ifndef _WIN32
class TempFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* old = std::getenv("TMPDIR");
        saved = old ? std::optional<std::string>(old) : std::nullopt;
    }
    void TearDown() override {
        if (saved)
            setenv("TMPDIR", saved->c_str(), 1);
        else
            unsetenv("TMPDIR");
    }
    std::optional<std::string> saved;
};

TEST_F(TempFolderTest, OneTrailingSeparatorAndNothingWhenTooLong) {
    setenv("TMPDIR", "/var/tmp", 1);
    EXPECT_EQ(GetTempFolder(), "/var/tmp/");
    EXPECT_EQ(QueryTempPath().size(), 255u);
    EXPECT_EQ(QueryTempPath().substr(0, 10), std::string("/var/tmp/\0", 10));
    setenv("TMPDIR", "/var/tmp///", 1);
    EXPECT_EQ(GetTempFolder(), "/var/tmp/");
    setenv("TMPDIR", ("/" + std::string(252, 'x')).c_str(), 1); // 254 with the separator
    EXPECT_EQ(GetTempFolder(), "");
    EXPECT_EQ(QueryTempPath(), std::string(255, '\0'));
    setenv("TMPDIR", ("/" + std::string(251, 'x')).c_str(), 1);
    EXPECT_EQ(GetTempFolder().size(), 253u);
    Archives arc;
    EXPECT_EQ(arc.TempFolder, GetTempFolder());
}
#endif

} // namespace
