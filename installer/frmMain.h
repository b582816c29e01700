#pragma once
// The installer's start-up window: the data folder, the open archive's information, and the
// commands to open, install and manage.

#include "Artwork.h"

#include <QWidget>

class QLabel;
class QPushButton;
class QCheckBox;
class QRadioButton;
namespace installer {

class LinkLabel;
class MainMod;

class frmMain : public QWidget {
    Q_OBJECT
public:
    explicit frmMain(MainMod& mod);

    void Form_Load();
    void Form_Activate();
    void cmdPathChange_Click();
    void cmdOpenQVR_Click();
    // Opens path as "Open QVR..." does once its file dialog has answered.
    void OpenQVR(const QString& path);
    void cmdInstallQVR_Click();
    void cmdManage_Click();
    void cmdReadme_Click();
    void lblAbout_Click();
    void Command1_Click();

    // Applies the command states, taking a running install or removal into account.
    void UpdateCommands();

    // The game's data folder (shown while Morrowind is the target).
    QString PlugPath() const;
    // The folder the chosen target installs into, as "Installed Directory:" shows it.
    QString TargetFolder() const;
    QString QVRFileName() const;
    QString DefaultDataFolderText() const;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void ShowOpenArchive();
    void ShowZipState();
    void ShowPluginInfo();
    // "Installed Directory:" shows the chosen target's folder.
    void ShowTarget();
    void BuildInformation(const QFont& caption, const QFont& value, const QString& text);
    // "Install for:" and the choice of enabling the plug-ins in Morrowind.ini.
    void BuildTargetChoice(const QFont& value, const QFont& caption, const QString& text);
    void TargetChosen(bool openmw);
    void ChooseModsFolder();

    MainMod& m_mod;
    shared_windows::Artwork::BackgroundAside m_background;
    bool m_installAllowed = false;
    QString m_dataFolder;
    QLabel* m_lblPlugPath;
    QLabel* m_lblQVRFileName;
    QLabel* m_lblName;
    QLabel* m_lblVersion;
    QLabel* m_lblDepends;
    QLabel* m_lblAuthors;
    LinkLabel* m_cmdReadme;
    LinkLabel* m_lblAbout;
    QPushButton* m_cmdPathChange;
    QPushButton* m_cmdOpenQVR;
    QPushButton* m_cmdInstallQVR;
    QPushButton* m_cmdManage;
    QPushButton* m_command1;
    QLabel* m_lblTarget;
    QRadioButton* m_optDataFolder;
    QRadioButton* m_optOpenMW;
    QCheckBox* m_chkEnableInIni;
};

} // namespace installer
