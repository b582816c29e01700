#pragma once
// Archives, zip files and a started installer for the window tests.

#include "MainMod.h"
#include "OverwritePrompt.h"
#include "QtPrinters.h"
#include "ScriptedDialogs.h"
#include "qvrtest/Bytes.h"
#include "qvrtest/Packages.h"

#include <QDir>
#include <QPixmap>
#include <QTemporaryDir>
#include <QWidget>
#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <string>
#include <vector>

// A window drawn as the screen would draw it (every child painted), kept as NAME.png when
// QVR_WINDOW_PICTURES names a folder.
inline void Picture(QWidget& window, const char* name) {
    const QString folder = qEnvironmentVariable("QVR_WINDOW_PICTURES");
    const QPixmap picture = window.grab();
    EXPECT_FALSE(picture.isNull()) << name;
    if (!folder.isEmpty())
        picture.save(QDir(folder).filePath(QString::fromLatin1(name) + ".png"));
}

using namespace shared_windows;

using namespace installer;

using qvrtest::MakePackage;
using qvrtest::PackEntry;
using qvrtest::PackInfo;
using qvrtest::ReadAll;
using qvrtest::WriteAll;

// Writes a zip file of stored members named names, each holding "data of NAME".
void MakeZip(const std::string& path, const std::vector<std::string>& names);
bool Exists(const std::string& path);
// Every file below folder as "relative/path" -> content.
std::map<std::string, std::string> Snapshot(const std::string& folder);

// The overwrite prompt answered in code.
class ScriptedPrompt : public OverwritePrompt {
public:
    std::deque<Answer> Answers;
    int Asked = 0;
    std::function<void()> OnAsk;
    QStringList Files; // the file of every question, in order
    Answer Ask(QWidget*, const QString& file) override;
};

class InstallerTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::string Path(const std::string& rel) const; // below the test's folder
    QString QPath(const std::string& rel) const { return QString::fromStdString(Path(rel)); }
    // Makes the installer and runs its start-up, with the program's arguments.
    void Start(const QStringList& arguments = {});
    MainMod& Mod() { return *m_mod; }
    template <typename T = QWidget> T* Find(QWidget* window, const char* name) {
        T* w = window->findChild<T*>(QLatin1String(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QString Text(QWidget* window, const char* name);
    bool Enabled(QWidget* window, const char* name);
    bool Visible(QWidget* window, const char* name);
    // Chooses the file in the next file dialog and clicks "Open QVR..." of window.
    void OpenInMain(const std::string& rel);
    void OpenInManage(const std::string& rel);

    QTemporaryDir m_dir;
    ScriptedDialogs Dialogs_;
    ScriptedPrompt Prompt_;
    std::unique_ptr<MainMod> m_mod;
    QString SettingsPath;
    QString DataFolder; // the default data folder
    int Exits = 0;
    // Changes the program's options before Start makes it (game folders found, OpenMW).
    std::function<void(MainMod::Options&)> Configure;
};
