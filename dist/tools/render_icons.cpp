// Renders the programs' icons and the archive type's icon from their own artwork into a hicolor
// icon tree: render_icons OUTPUT_FOLDER SIZE...
// Run at build time on the offscreen platform; drawn once at 256 pixels and scaled down, so that
// every size shows the same picture.

#include "Artwork.h"

using namespace shared_windows;

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <cstdio>

namespace {

constexpr int kMaster = 256;

QPainterPath RoundedSquare(double inset, double radius) {
    QPainterPath path;
    path.addRoundedRect(QRectF(inset, inset, kMaster - 2 * inset, kMaster - 2 * inset), radius,
                        radius);
    return path;
}

// The installer: the ash-sky scene with a golden arrow coming down into a tray.
void InstallerBadge(QPainter& p) {
    QPainterPath arrow;
    arrow.moveTo(108, 60);
    arrow.lineTo(148, 60);
    arrow.lineTo(148, 130);
    arrow.lineTo(180, 130);
    arrow.lineTo(128, 186);
    arrow.lineTo(76, 130);
    arrow.lineTo(108, 130);
    arrow.closeSubpath();
    p.setPen(QPen(QColor(70, 30, 8), 8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    QLinearGradient gold(0, 60, 0, 186);
    gold.setColorAt(0, QColor(255, 226, 140));
    gold.setColorAt(1, QColor(222, 130, 30));
    p.setBrush(gold);
    p.drawPath(arrow);
    QPainterPath tray;
    tray.moveTo(52, 170);
    tray.lineTo(52, 212);
    tray.lineTo(204, 212);
    tray.lineTo(204, 170);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(255, 236, 190), 16, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(tray);
}

// The packager: a crate tied with a band, on the green scene.
void PackagerBadge(QPainter& p) {
    const QRectF box(58, 88, 140, 120);
    p.setPen(QPen(QColor(60, 36, 12), 8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    QLinearGradient wood(0, box.top(), 0, box.bottom());
    wood.setColorAt(0, QColor(226, 178, 104));
    wood.setColorAt(1, QColor(160, 104, 48));
    p.setBrush(wood);
    p.drawRect(box);
    QPolygonF lid;
    lid << QPointF(48, 88) << QPointF(78, 52) << QPointF(178, 52) << QPointF(208, 88);
    p.setBrush(QColor(240, 204, 140));
    p.drawPolygon(lid);
    p.setPen(QPen(QColor(255, 236, 190), 14));
    p.drawLine(QPointF(128, 56), QPointF(128, 204));
}

QImage AppIcon(const Artwork::Palette& scene, bool installer) {
    QImage image(kMaster, kMaster, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const QPainterPath frame = RoundedSquare(8, 44);
    p.setClipPath(frame);
    p.drawPixmap(0, 0, Artwork::Background(scene, QSize(kMaster, kMaster)));
    p.setClipping(false);
    p.setPen(QPen(QColor(20, 12, 8, 200), 6));
    p.setBrush(Qt::NoBrush);
    p.drawPath(frame);
    if (installer)
        InstallerBadge(p);
    else
        PackagerBadge(p);
    return image;
}

// The archive type: a page with a folded corner showing the installer's scene.
QImage ArchiveIcon() {
    QImage image(kMaster, kMaster, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath page;
    page.moveTo(40, 12);
    page.lineTo(170, 12);
    page.lineTo(216, 58);
    page.lineTo(216, 244);
    page.lineTo(40, 244);
    page.closeSubpath();
    p.setPen(QPen(QColor(70, 60, 50), 6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(QColor(250, 246, 236));
    p.drawPath(page);
    p.setClipPath(page);
    p.drawPixmap(QRect(40, 104, 176, 140), Artwork::Background(Artwork::Ember(), QSize(176, 140)));
    p.setClipping(false);
    p.setPen(QPen(QColor(70, 60, 50), 6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(page);
    QPolygonF fold;
    fold << QPointF(170, 12) << QPointF(170, 58) << QPointF(216, 58);
    p.setBrush(QColor(214, 204, 186));
    p.drawPolygon(fold);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(46);
    font.setBold(true);
    p.setFont(font);
    p.setPen(QColor(150, 60, 20));
    p.drawText(QRectF(44, 36, 124, 64), Qt::AlignCenter, QStringLiteral("QVR"));
    return image;
}

bool Save(const QImage& master, const QString& out, int size, const QString& kind,
          const QString& name) {
    const QString folder = QStringLiteral("%1/hicolor/%2x%2/%3").arg(out).arg(size).arg(kind);
    if (!QDir().mkpath(folder))
        return false;
    QImage scaled = master.scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return scaled.save(folder + '/' + name + QStringLiteral(".png"), "PNG");
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: render_icons OUTPUT_FOLDER SIZE...\n");
        return 2;
    }
    const QImage installer = AppIcon(Artwork::Ember(), true);
    const QImage packager = AppIcon(Artwork::Moss(), false);
    const QImage archive = ArchiveIcon();
    for (int i = 2; i < args.size(); ++i) {
        const int size = args[i].toInt();
        if (size <= 0 || size > kMaster ||
            !Save(installer, args[1], size, QStringLiteral("apps"),
                  QStringLiteral("qvrinstaller")) ||
            !Save(packager, args[1], size, QStringLiteral("apps"), QStringLiteral("qvrpackager")) ||
            !Save(archive, args[1], size, QStringLiteral("mimetypes"),
                  QStringLiteral("application-x-qvr-archive"))) {
            std::fprintf(stderr, "render_icons: cannot write the %s pixel icons below %s\n",
                         qPrintable(args[i]), qPrintable(args[1]));
            return 1;
        }
    }
    return 0;
}
