#pragma once
// The progress window of both programs; it renders a ProgressModel.

#include "ProgressModel.h"

#include <QDialog>
#include <QElapsedTimer>

class QLabel;
class QPushButton;
class QWidget;

namespace shared_windows {

class frmSplash : public QDialog {
    Q_OBJECT
public:
    explicit frmSplash(QWidget* owner);

    void SetTitle(const QString& vText);
    void CalcIncrement(int32_t vNumFiles);
    void SetIncrement(int32_t vPercent);
    void IncrProgress(int32_t vPercent);
    void SetProgress(int32_t vTotalPercent);
    void Finish(const QString& outcome); // see ProgressModel::Finish
    // Shows the window modeless, centred on its owner.
    void ShowModeless();
    // The window that started the next task owns the window from then on.
    void SetOwner(QWidget* owner);

    const ProgressModel& Model() const { return m_model; }
    // While a cancellable task runs, a Cancel button stands where Close appears at the end;
    // pressing it asks the task to stop (it says itself what became of its work).
    void SetCancellable(bool cancellable);
    bool CancelRequested() const { return m_cancelRequested; }

public slots:
    // Escape and the like close the window only once the task is complete, as "Close" does.
    void reject() override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void Render();
    void ProcessEvents();
    ProgressModel m_model;
    QLabel* m_task = nullptr;
    QFont m_taskFont;
    QString m_shownTask; // the task text as last fitted, so an unchanged one is not fitted again
    QElapsedTimer m_sinceEvents;
    QWidget* m_bar = nullptr;
    QPushButton* m_close = nullptr;
    QPushButton* m_cancel = nullptr;
    bool m_cancellable = false;
    bool m_cancelRequested = false;
    // object names: lblTask, Label1, Progress, Label2_0, Label2_1, Label2_2, Command1, Cancel
};

} // namespace shared_windows
