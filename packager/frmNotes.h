#pragma once
// The notes editor. Shows the record's notes each time it opens; OK writes the edited text
// back into the record, Cancel (or closing it) leaves the record alone.

#include <QDialog>

class QPlainTextEdit;

namespace qvr {
class sgPlugInfo;
}

namespace packager {

class frmNotes : public QDialog {
    Q_OBJECT
public:
    frmNotes(QWidget* parent, qvr::sgPlugInfo& info);

    void OKButton_Click();
    void CancelButton_Click();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void Form_Activate();

    qvr::sgPlugInfo& m_info;
    QPlainTextEdit* m_notes;
};

} // namespace packager
