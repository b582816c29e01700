#include "Fixture.h"

#include "frmMain.h"
#include "frmManage.h"

#include "qvr/Archives.h"

#include <QAbstractButton>
#include <QDir>
#include <QDirIterator>
#include <QLabel>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <sstream>

using namespace shared_windows;

using namespace installer;

void WriteFile(const std::string& path, const std::string& content) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

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
                ReadFile(e.path().string());
    }
    return files;
}

void MakePackage(const std::string& path, const std::vector<PackEntry>& entries,
                 const PackInfo* info, const std::string& workFolder) {
    qvr::Archives arc;
    arc.TempFolder = workFolder + "/";
    std::filesystem::remove(path);
    const qvr::Result made = arc.CreateArchive(path);
    ASSERT_TRUE(made) << made.Message;
    int n = 0;
    for (const PackEntry& e : entries) {
        const std::string source = workFolder + "/source" + std::to_string(n++);
        WriteFile(source, e.Content);
        const qvr::Result added = arc.AddFileToArchive(source, e.Name, e.Folder);
        ASSERT_TRUE(added) << added.Message;
        std::filesystem::remove(source);
    }
    if (info) {
        arc.PluginInfo.PluginName(info->Name);
        arc.PluginInfo.Version(info->Version);
        arc.PluginInfo.Depends(info->Depends);
        arc.PluginInfo.Authors(info->Authors);
        arc.PluginInfo.LastUpdated(info->Updated);
        arc.PluginInfo.Notes(info->Notes);
        const qvr::Result saved =
            arc.PluginInfo.SavePluginData(arc, std::filesystem::path(path).filename().string());
        ASSERT_TRUE(saved) << saved.Message;
    }
}

namespace {
void Put16(std::string& s, uint16_t v) {
    s += char(v & 0xff);
    s += char(v >> 8);
}
void Put32(std::string& s, uint32_t v) {
    Put16(s, uint16_t(v & 0xffff));
    Put16(s, uint16_t(v >> 16));
}
} // namespace

void MakeZip(const std::string& path, const std::vector<std::string>& names) {
    std::string zip;
    for (const std::string& name : names) {
        const std::string data = "data of " + name;
        zip += "PK\x03\x04";
        Put16(zip, 20); // version needed
        Put16(zip, 0);  // flags
        Put16(zip, 0);  // stored
        Put16(zip, 0);  // time
        Put16(zip, 0);  // date
        Put32(zip, 0);  // CRC-32, not read by the listing
        Put32(zip, uint32_t(data.size()));
        Put32(zip, uint32_t(data.size()));
        Put16(zip, uint16_t(name.size()));
        Put16(zip, 0);
        zip += name + data;
    }
    zip += "PK\x01\x02";
    zip += std::string(42, '\0');
    WriteFile(path, zip);
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
