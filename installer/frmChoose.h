#pragma once
// Before an archive as downloaded is installed: which of its numbered options ("00 Core",
// "01 Bigger Rocks") to install, with check boxes (the lowest-numbered one ticked), or, where
// its layout leaves it unclear, which of its folders holds the game's data (a list, nothing
// chosen until the player chooses).

#include "qvr/sources/Layout.h"
#include "qvr/sources/Unpack.h"

#include <QDialog>
#include <optional>
#include <vector>

class QCheckBox;
class QListWidget;
class QPushButton;
class QVBoxLayout;

namespace installer {

class frmChoose : public QDialog {
public:
    frmChoose(const qvr::sources::Layout& layout, const QString& archiveName,
              QWidget* parent = nullptr);
    // What the player chose; meaningful once accepted.
    qvr::sources::Choice Chosen() const;

private:
    void AddOptions(QVBoxLayout* box);
    void AddRoots(QVBoxLayout* box);
    void UpdateOk();

    qvr::sources::Layout m_layout;
    std::vector<QCheckBox*> m_options;
    QListWidget* m_roots = nullptr;
    QPushButton* m_ok = nullptr;
};

// Asks when layout needs the player (options, or no clear root); the layout's own root needs
// no question and gives an empty choice. Nothing when the player cancels.
std::optional<qvr::sources::Choice>
AskArchiveChoice(QWidget* parent, const qvr::sources::Layout& layout, const QString& archiveName);

} // namespace installer
