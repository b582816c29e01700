#pragma once
// The programs' own pictures, drawn in code: window backgrounds, the progress bar and the
// tree's two images.

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

namespace shared_windows::Artwork {

// The colours of one backdrop; each window picks the one it is drawn in.
struct Palette {
    QColor skyTop, skyBottom, glow, ridge, ground;
};
Palette Ember(); // red-brown sky, bright glow
Palette Dusk();  // blue-grey sky, softer glow
Palette Moss();  // green sky, pale glow

// A 640 x 480 backdrop (ash sky over a mountain ridge) in the given colours.
QPixmap Background(const Palette& palette, QSize size = QSize(640, 480));
// The about window's 525 x 184 picture, titled with the program's name.
QPixmap AboutPicture(const QString& programName, const Palette& palette);
// The progress bar's 525 x 184 picture; drawn unscaled from its top-left corner.
QPixmap BarPicture();
// 16 x 16 images keyed "Folder" and "File".
QIcon TreeImage(const QString& key);

} // namespace shared_windows::Artwork
