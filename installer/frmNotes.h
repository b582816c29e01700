#pragma once
// Shows the open plug-in's notes. Text typed into the box is never kept: every activation
// loads the notes again.

#include <QDialog>

class QPlainTextEdit;
class QPushButton;
namespace qvr {
class sgPlugInfo;
}

namespace installer {

class frmNotes : public QDialog {
    Q_OBJECT
public:
    frmNotes(const qvr::sgPlugInfo& info, QWidget* parent = nullptr);

    void Form_Activate();
    // Lays the box and the button out for the window's present size.
    void Form_Resize();

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    const qvr::sgPlugInfo& m_info;
    QPlainTextEdit* m_notes;
    QPushButton* m_close;
    // object names: txNotes, Command1
};

} // namespace installer
