#pragma once
// The overwrite question. It is hidden after an answer, never destroyed, so the check box
// keeps its state from one question to the next. Closing it by its frame answers "Skip".

#include "OverwritePrompt.h"

#include <QDialog>

class QCheckBox;
class QLabel;

namespace installer {

class frmExists : public QDialog, public OverwritePrompt {
    Q_OBJECT
public:
    explicit frmExists(QWidget* parent = nullptr);

    bool bOverwrite = false;

    // Shows the window modally, owned by owner, naming file, and answers what was chosen.
    Answer Ask(QWidget* owner, const QString& file) override;
    // Names the file asked about, below the question.
    void SetFile(const QString& file);

    void OKButton_Click();
    void CancelButton_Click();
    QCheckBox* chkAll() const { return m_chkAll; }

public slots:
    void reject() override;

private:
    QCheckBox* m_chkAll;
    QLabel* m_lblFile;
    // object names: Label1, lblFile, chkAll, OKButton, CancelButton
};

} // namespace installer
