// The settings file is rewritten as a whole or not at all: a failed write or a failed rename
// leaves the old file and no work file; a rewrite keeps the file's permissions and, through a
// link, changes the link's target.

#include "IniFile.h"
#include "qvr/platform/detail/TestHooks.h"

#include <QDir>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

using namespace installer;
namespace fs = std::filesystem;

namespace {

class IniFileAtomic : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        std::ofstream(Path().toStdString(), std::ios::binary) << kOld;
    }
    void TearDown() override {
        qvr::testhooks::WriteBudget = -1;
        qvr::testhooks::FailNextReplace = false;
    }
    QString Path() const { return m_dir.filePath("qvrinst.ini"); }
    std::string Get(const QString& path) const {
        std::ifstream in(path.toStdString(), std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    QStringList Files() const {
        return QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System);
    }
    qvr::Result Write(const QString& value) const {
        return IniFile(Path()).WriteIniValue("Settings", "TESLocation", value);
    }

    static constexpr const char* kOld = "[Settings]\r\nTESLocation=old\r\n";
    QTemporaryDir m_dir;
};

TEST_F(IniFileAtomic, AFailedWriteOrRenameLeavesTheOldFileAndNoWorkFile) {
    for (int64_t budget : {0, 5, 20}) {
        qvr::testhooks::WriteBudget = budget;
        const qvr::Result r = Write("new");
        EXPECT_FALSE(r) << "budget " << budget;
        // Named after the settings file, not the work file the user never asked for.
        EXPECT_NE(r.Message.find("qvrinst.ini:"), std::string::npos) << r.Message;
        EXPECT_EQ(r.Message.find("~qvr-"), std::string::npos) << r.Message;
        EXPECT_EQ(Get(Path()), kOld);
        EXPECT_EQ(Files(), QStringList{"qvrinst.ini"});
    }
    qvr::testhooks::WriteBudget = -1;
    qvr::testhooks::FailNextReplace = true;
    EXPECT_FALSE(Write("new"));
    EXPECT_EQ(Get(Path()), kOld);
    EXPECT_EQ(Files(), QStringList{"qvrinst.ini"});

    ASSERT_TRUE(Write("new"));
    EXPECT_EQ(Get(Path()), "[Settings]\r\nTESLocation=new\r\n");
    EXPECT_EQ(Files(), QStringList{"qvrinst.ini"});
}

#ifndef _WIN32
TEST_F(IniFileAtomic, KeepsPermissionsAndWritesThroughALink) {
    fs::permissions(Path().toStdString(), fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_TRUE(Write("new"));
    EXPECT_EQ(fs::status(Path().toStdString()).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);

    const QString link = m_dir.filePath("link.ini");
    fs::create_symlink(Path().toStdString(), link.toStdString());
    ASSERT_TRUE(IniFile(link).WriteIniValue("Settings", "TESLocation", "through"));
    EXPECT_TRUE(fs::is_symlink(link.toStdString()));
    EXPECT_EQ(Get(Path()), "[Settings]\r\nTESLocation=through\r\n");
}
#endif

} // namespace
