#pragma once
// The installer's second main window: one archive's information, size, file count and
// contents tree, with install and removal.

#include <QWidget>

#include <memory>

class QLabel;
class QPushButton;
class QTreeWidget;
namespace shared_windows {
class ArchiveTree;
}
namespace installer {

using shared_windows::ArchiveTree;

class LinkLabel;
class MainMod;

class frmManage : public QWidget {
    Q_OBJECT
public:
    explicit frmManage(MainMod& mod);
    ~frmManage() override;

    void Form_Activate();
    void ShowArchiveContents();
    void cmdOpenQVR_Click();
    void cmdInstallQVR_Click();
    void cmdRemoveQVRFiles_Click();
    void cmdReadme_Click();
    void lblAbout_Click();
    void cmdClose_Click();
    void cmdExit_Click();

    void UpdateCommands();

    QString QvrFile() const;
    ArchiveTree& Tree() { return *m_tree; }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    void BuildInformation(const QFont& caption, const QFont& value, const QString& text,
                          const QString& valueStyle);
    void SetArchiveCommands(bool allowed);

    MainMod& m_mod;
    QPixmap m_background;
    QPoint m_dragOffset;
    bool m_archiveCommandsAllowed = false;
    int m_warnedSerial = -1;
    QLabel* m_lblPlugPath;
    QLabel* m_lblQvrFile;
    QLabel* m_lblPluginName;
    QLabel* m_lblVersion;
    QLabel* m_lblLastUpdate;
    QLabel* m_lblAuthors;
    QLabel* m_lblDepends;
    QLabel* m_lblFileSize;
    QLabel* m_lblTtlFiles;
    QLabel* m_lblPreview; // what installing would replace, and the masters missing
    LinkLabel* m_cmdReadme;
    LinkLabel* m_lblAbout;
    QTreeWidget* m_tvFileList;
    std::unique_ptr<ArchiveTree> m_tree;
    QPushButton* m_cmdOpenQVR;
    QPushButton* m_cmdInstallQVR;
    QPushButton* m_cmdRemoveQVRFiles;
    QPushButton* m_cmdClose;
    QPushButton* m_cmdExit;
};

} // namespace installer
