#pragma once
// A short description of the packager's commands, shown from Help > Contents.

#include <QDialog>

namespace packager {

class frmHelp : public QDialog {
    Q_OBJECT
public:
    explicit frmHelp(QWidget* parent);
    static QString Text();
};

} // namespace packager
