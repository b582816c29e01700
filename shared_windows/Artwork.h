#pragma once
// The programs' own pictures, drawn in code: window backgrounds, the progress bar and the
// tree's two images.

#include <QIcon>
#include <QPixmap>
#include <QString>

namespace Artwork {

enum class Scene { InstallerMain, InstallerManage, PackagerMain };

// A 640 x 480 backdrop (ash sky over a mountain ridge) in the program's colours.
QPixmap Background(Scene scene, QSize size = QSize(640, 480));
// The about window's 525 x 184 picture, titled with the program's name.
QPixmap AboutPicture(const QString& programName, bool installer);
// The progress bar's 525 x 184 picture; drawn unscaled from its top-left corner.
QPixmap BarPicture();
// 16 x 16 images keyed "Folder" and "File".
QIcon TreeImage(const QString& key);

} // namespace Artwork
