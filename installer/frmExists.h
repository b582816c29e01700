#pragma once
// The overwrite question. It is hidden after an answer, never destroyed, so the check box
// keeps its state from one question to the next. Closing it by its frame answers "Skip".

#include "OverwritePrompt.h"

#include <QDialog>

class QCheckBox;

namespace installer {

class frmExists : public QDialog, public OverwritePrompt {
    Q_OBJECT
public:
    explicit frmExists(QWidget* parent = nullptr);

    bool bOverwrite = false;

    // Shows the window modally, owned by owner, and answers what was chosen.
    Answer Ask(QWidget* owner) override;

    void OKButton_Click();
    void CancelButton_Click();
    QCheckBox* chkAll() const { return m_chkAll; }

public slots:
    void reject() override;

private:
    QCheckBox* m_chkAll;
    // object names: Label1, chkAll, OKButton, CancelButton
};

} // namespace installer
