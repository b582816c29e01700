#include "IniFile.h"
#include "qvr/platform/detail/TestHooks.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

using namespace installer;

namespace {

class IniFileTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    QString Path() const { return m_dir.filePath("qvrinst.ini"); }
    void Put(const std::string& bytes) {
        std::ofstream(Path().toStdString(), std::ios::binary | std::ios::trunc) << bytes;
    }
    std::string Get() const {
        std::ifstream in(Path().toStdString(), std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    QString Read() const { return IniFile(Path()).ReadIniValue("Settings", "TESLocation").Value; }
    qvr::Result Write(const QString& value) const {
        return IniFile(Path()).WriteIniValue("Settings", "TESLocation", value);
    }
    QTemporaryDir m_dir;
};

} // namespace

TEST_F(IniFileTest, AMissingOrEmptyFileIsCreatedByTheRead) {
    EXPECT_EQ(Read(), "");
    EXPECT_EQ(Get(), "[Settings]\r\n");
    // The fixed header, whatever section was asked for.
    Put("");
    EXPECT_EQ(IniFile(Path()).ReadIniValue("Other", "x").Value, "");
    EXPECT_EQ(Get(), "[Settings]\r\n");

    Put("");
    EXPECT_TRUE(Write("C:\\Games\\Data Files"));
    EXPECT_EQ(Get(), "[Settings]\r\nTESLocation=C:\\Games\\Data Files\r\n");
    EXPECT_EQ(Read(), "C:\\Games\\Data Files");
    EXPECT_FALSE(QFile::exists(Path() + "x"));
}

TEST_F(IniFileTest, TheHeaderAsTheLastLine) {
    Put("[Settings]");
    EXPECT_EQ(Read(), "");
    EXPECT_TRUE(Write("D:\\MW"));
    EXPECT_EQ(Get(), "[Settings]\r\nTESLocation=D:\\MW\r\n");
}

TEST_F(IniFileTest, KeysMatchByTheirFirstCharactersIgnoringCase) {
    Put("[Settings]\r\nteslocation=E:\\low\r\n");
    EXPECT_EQ(Read(), "E:\\low");
    EXPECT_TRUE(Write("F:\\new"));
    EXPECT_EQ(Get(), "[Settings]\r\nTESLocation=F:\\new\r\n");

    // The value starts at the second character after the key, whatever that is.
    Put("[Settings]\r\nTESLocation =G:\\x\r\n");
    EXPECT_EQ(Read(), "=G:\\x");
    Put("[Settings]\r\nTESLocationXYZ\r\n");
    EXPECT_EQ(Read(), "YZ");
    Put("[Settings]\r\nTESLoc\r\nTESLocation=H\r\n");
    EXPECT_EQ(Read(), "H");
    // The section header must match exactly.
    Put("[settings]\r\nTESLocation=I\r\n[ Settings]\r\nTESLocation=J\r\n");
    EXPECT_EQ(Read(), "");
    // The section ends at the next header.
    Put("[Settings]\r\nOther=1\r\n[Next]\r\nTESLocation=K\r\n");
    EXPECT_EQ(Read(), "");
}

TEST_F(IniFileTest, AWriteKeepsEveryOtherLineInItsPlace) {
    Put("; comment\r\n[First]\r\nTESLocation=first\r\n[Settings]\r\nTESLocation=C:\\A much longer "
        "folder\r\nAlpha=1\r\ntesLOCATION=twice\r\nBeta=2\r\n[Last]\r\nGamma=3\r\n");
    EXPECT_TRUE(Write("C:\\B"));
    EXPECT_EQ(Get(), "; comment\r\n[First]\r\nTESLocation=first\r\n[Settings]\r\nAlpha=1\r\nBeta=2"
                     "\r\nTESLocation=C:\\B\r\n[Last]\r\nGamma=3\r\n");
    EXPECT_EQ(Read(), "C:\\B");
    EXPECT_EQ(IniFile(Path()).ReadIniValue("First", "TESLocation").Value, "first");
    EXPECT_EQ(IniFile(Path()).ReadIniValue("Last", "gamma").Value, "3");
}

TEST_F(IniFileTest, AFileWithoutTheSectionGainsItAtTheEnd) {
    Put("[Other]\nkey=value");
    EXPECT_TRUE(Write("/home/me/Data Files"));
    EXPECT_EQ(Get(), "[Other]\r\nkey=value\r\n[Settings]\r\nTESLocation=/home/me/Data Files\r\n");
}

TEST_F(IniFileTest, TextsOutsideAsciiSurvive) {
    EXPECT_TRUE(Write(QString::fromUtf8("/home/zoë/Morrowind – Data")));
    EXPECT_EQ(Read(), QString::fromUtf8("/home/zoë/Morrowind – Data"));
    // A file written by an older installer in Windows-1252.
    Put("[Settings]\r\nTESLocation=C:\\Spiele\\M\xfcll\r\n");
    EXPECT_EQ(Read(), QString::fromUtf8("C:\\Spiele\\Müll"));
}

TEST_F(IniFileTest, AFailedWriteLeavesTheFileAsItWas) {
    Put("[Settings]\r\nTESLocation=old\r\n");
    qvr::testhooks::WriteBudget = 10; // the disk fills up while the new text is written
    EXPECT_FALSE(Write("new"));
    EXPECT_EQ(Get(), "[Settings]\r\nTESLocation=old\r\n");

    IniFile nowhere(m_dir.filePath("missing/folder/qvrinst.ini"));
    EXPECT_FALSE(nowhere.ReadIniValue("Settings", "TESLocation").Outcome);
}

// In the user's configuration folder, even where the program's own folder could be written
// (as bin/ of an install into ~/.local is); beside the program only for a portable copy, which
// holds its settings file there already.
TEST(SettingsFilePath, InTheUsersConfigurationUnlessBesideTheProgramAlready) {
    QStandardPaths::setTestModeEnabled(true);
    QTemporaryDir dir;
    for (const QString& folder : {dir.path(), dir.filePath("no/such/folder")}) {
        const QString path = SettingsFilePath(folder);
        EXPECT_TRUE(path.endsWith("qvrinst.ini")) << path.toStdString();
        EXPECT_FALSE(path.startsWith(QDir::toNativeSeparators(dir.path()))) << path.toStdString();
        EXPECT_TRUE(QDir(QFileInfo(path).path()).exists());
    }
    // Nothing is left behind by the check.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 0);
    QFile portable(dir.filePath("qvrinst.ini"));
    ASSERT_TRUE(portable.open(QIODevice::WriteOnly));
    portable.close();
    EXPECT_EQ(SettingsFilePath(dir.path()), QDir::toNativeSeparators(dir.filePath("qvrinst.ini")));
    QStandardPaths::setTestModeEnabled(false);
}
