#pragma once
// The progress window of both programs; it renders a ProgressModel.

#include "ProgressModel.h"

#include <QDialog>

class QLabel;
class QPushButton;

class frmSplash : public QDialog {
    Q_OBJECT
public:
    explicit frmSplash(QWidget* owner);

    void SetTitle(const QString& vText);
    void CalcIncrement(int32_t vNumFiles);
    void SetIncrement(int32_t vPercent);
    void IncrProgress(int32_t vPercent);
    void SetProgress(int32_t vTotalPercent);
    // Shows the window modeless, centred on its owner.
    void ShowModeless();

    const ProgressModel& Model() const { return m_model; }

private:
    void Render();
    void ProcessEvents();
    ProgressModel m_model;
    // object names: lblTask, Label1, Progress, Command1
};
