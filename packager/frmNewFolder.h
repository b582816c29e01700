#pragma once
// The New Folder dialog: a parent chosen from the tree's keys and a name. Hidden, not
// discarded, when it closes, so the name typed last is offered again.

#include <QDialog>
#include <QStringList>
#include <functional>

class QComboBox;
class QLineEdit;
class QPushButton;

namespace packager {

class frmNewFolder : public QDialog {
    Q_OBJECT
public:
    // keys gives the tree's node keys in the order the nodes were made.
    explicit frmNewFolder(QWidget* parent, std::function<QStringList()> keys);

    // Writing stores a key; reading takes the key chosen in the list, stores and returns it.
    void Selectedfolder(const QString& vData);
    QString Selectedfolder();
    QString FolderName() const;

    void OKButton_Click();
    void CancelButton_Click();

protected:
    void showEvent(QShowEvent* event) override;
    void reject() override; // the frame's close button and Escape count as Cancel

private:
    void Form_Activate();

    std::function<QStringList()> m_keys;
    QString m_selected;
    QComboBox* m_folders;
    QLineEdit* m_name;
};

} // namespace packager
