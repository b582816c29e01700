#pragma once
// The about window; a click on it or on either red label closes it.

#include <QDialog>

class frmAbout : public QDialog {
    Q_OBJECT
public:
    enum class Program { Installer, Packager };
    frmAbout(Program program, QWidget* parent = nullptr);
    // object names: lblVersion0, lblVersion1, Label1

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPixmap m_picture;
};
