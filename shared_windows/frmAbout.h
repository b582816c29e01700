#pragma once
// The about window; a click on it or on either red label closes it.

#include "Artwork.h"

#include <QDialog>
#include <QRect>

namespace shared_windows {

class frmAbout : public QDialog {
    Q_OBJECT
public:
    // What the window shows; each program fills in its own. Boxes are in twips.
    struct Options {
        QString ProgramName;       // the picture's title
        QString Version;           // the left red label
        Artwork::Palette Backdrop; // the picture's colours
        QRect VersionBox;
        QRect CloseBox;
        QRect CreditBox; // the credit line, centred under the two red labels
    };
    explicit frmAbout(const Options& options, QWidget* parent = nullptr);
    // object names: lblVersion0, lblVersion1, Label1

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPixmap m_picture;
};

} // namespace shared_windows
