#pragma once
// The programs' own pictures, drawn in code: window backgrounds, the progress bar and the
// tree's two images.

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QString>

#include <future>

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
// A backdrop painted on another thread while the window that shows it builds its controls;
// Image() waits for it the first time (at the first paint). Where no thread can be started it
// is painted at once.
class BackgroundAside {
public:
    BackgroundAside(const Palette& palette, QSize size);
    const QImage& Image();

private:
    std::future<QImage> m_painting;
    QImage m_image;
};
// The about window's 525 x 184 picture, titled with the program's name.
QPixmap AboutPicture(const QString& programName, const Palette& palette);
// The progress bar's 525 x 184 picture; drawn unscaled from its top-left corner.
QPixmap BarPicture();
// 16 x 16 images keyed "Folder" and "File".
QIcon TreeImage(const QString& key);

} // namespace shared_windows::Artwork
