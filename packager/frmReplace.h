#pragma once
// The question asked when a file being added is one the package already holds: Replace or
// Skip, optionally for every such file of the same add. Closing it by its frame answers Skip.

#include <QDialog>

class QCheckBox;
class QLabel;

namespace packager {

class frmReplace : public QDialog {
    Q_OBJECT
public:
    explicit frmReplace(QWidget* parent = nullptr);

    struct Answer {
        bool Replace = false;
        bool ForAll = false;
    };
    // Asks about key (the entry the package holds) and source (the file on disk), modally.
    Answer Ask(const QString& key, const QString& source);

private:
    bool m_replace = false;
    QLabel* m_lblFile = nullptr;
    QLabel* m_lblSource = nullptr;
    QCheckBox* m_chkAll = nullptr;
    // object names: frmReplace, Label1, lblFile, lblSource, chkAll, cmdReplace, cmdSkip
};

} // namespace packager
