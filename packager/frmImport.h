#pragma once
// The question Import asks when a downloaded archive's layout leaves open what to pack: which
// of its numbered options ("00 Core", "01 Bigger Rocks"), or which of the folders that could
// each be its data folder. Cancel, or closing it, imports nothing.

#include "qvr/sources/Layout.h"

#include <QDialog>
#include <QStringList>
#include <optional>
#include <string>
#include <vector>

class QLabel;
class QListWidget;
class QPushButton;

namespace packager {

class frmImport : public QDialog {
    Q_OBJECT
public:
    explicit frmImport(QWidget* parent = nullptr);

    // The numbers of the options to pack ("00", "02"), the lowest one offered ticked; nullopt
    // when cancelled. archive: the archive's file name.
    std::optional<QStringList> AskOptions(const QString& archive,
                                          const std::vector<qvr::sources::Option>& options);
    // The folder to take as the data root ("" for the top); why says why it is asked.
    std::optional<QString> AskRoot(const QString& archive, const QString& why,
                                   const std::vector<std::string>& folders);

private:
    bool Run(const QString& question);
    void UpdateOK();

    QLabel* m_question = nullptr;
    QListWidget* m_choices = nullptr;
    QPushButton* m_ok = nullptr;
    bool m_options = false;
    // object names: frmImport, lblQuestion, lstChoices, cmdOK, cmdCancel
};

} // namespace packager
