#include "Fixture.h"

#include "frmMain.h"
#include "frmManage.h"

#include "qvrtest/ZipBuilder.h"

#include <QAbstractButton>
#include <QDir>
#include <QDirIterator>
#include <QLabel>
#include <QTest>
#include <filesystem>

using namespace shared_windows;

using namespace installer;

bool Exists(const std::string& path) {
    return std::filesystem::exists(path);
}

std::map<std::string, std::string> Snapshot(const std::string& folder) {
    std::map<std::string, std::string> files;
    if (!Exists(folder))
        return files;
    // The install records are the programs' own, not content of the data folder.
    for (auto it = std::filesystem::recursive_directory_iterator(folder);
         it != std::filesystem::recursive_directory_iterator(); ++it) {
        const auto& e = *it;
        if (e.path().filename() == ".qvr-installed") {
            it.disable_recursion_pending();
            continue;
        }
        if (e.is_regular_file())
            files[std::filesystem::relative(e.path(), folder).generic_string()] =
                ReadAll(e.path().string());
    }
    return files;
}

void MakeZip(const std::string& path, const std::vector<std::string>& names) {
    std::vector<qvrtest::ZipMember> members;
    for (const std::string& name : names)
        members.push_back({name, "data of " + name});
    WriteAll(path, qvrtest::BuildZip(members).bytes);
}

OverwritePrompt::Answer ScriptedPrompt::Ask(QWidget*, const QString& file) {
    ++Asked;
    Files << file;
    if (OnAsk)
        OnAsk();
    if (Answers.empty()) {
        ADD_FAILURE() << "the overwrite prompt was not expected";
        return {};
    }
    Answer a = Answers.front();
    Answers.pop_front();
    return a;
}

void InstallerTest::SetUp() {
    ASSERT_TRUE(m_dir.isValid());
    SettingsPath = QPath("program/qvrinst.ini");
    QDir().mkpath(QPath("program"));
    DataFolder = QDir::toNativeSeparators(QPath("Morrowind/Data Files"));
}

void InstallerTest::TearDown() {
    m_mod.reset();
}

std::string InstallerTest::Path(const std::string& rel) const {
    return m_dir.path().toStdString() + "/" + rel;
}

void InstallerTest::Start(const QStringList& arguments) {
    MainMod::Options options{SettingsPath, DataFolder, [this] { ++Exits; }, {}};
    if (Configure)
        Configure(options);
    m_mod = std::make_unique<MainMod>(std::move(options));
    m_mod->SetPrompt(&Prompt_);
    m_mod->Start(arguments);
    m_mod->Arc.TempFolder = Path("");
}

QString InstallerTest::Text(QWidget* window, const char* name) {
    QWidget* w = Find(window, name);
    if (auto* label = qobject_cast<QLabel*>(w))
        return label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(w))
        return button->text();
    return {};
}

bool InstallerTest::Enabled(QWidget* window, const char* name) {
    QWidget* w = Find(window, name);
    return w && w->isEnabled();
}

bool InstallerTest::Visible(QWidget* window, const char* name) {
    QWidget* w = Find(window, name);
    return w && w->isVisible();
}

void InstallerTest::OpenInMain(const std::string& rel) {
    Dialogs_.OpenFileAnswers.push_back(QString::fromStdString(Path(rel)));
    QTest::mouseClick(Find<QAbstractButton>(&Mod().Main(), "cmdOpenQVR"), Qt::LeftButton);
}

void InstallerTest::OpenInManage(const std::string& rel) {
    Dialogs_.OpenFileAnswers.push_back(QString::fromStdString(Path(rel)));
    QTest::mouseClick(Find<QAbstractButton>(&Mod().Manage(), "cmdOpenQVR"), Qt::LeftButton);
}
