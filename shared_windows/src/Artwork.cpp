#include "Artwork.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <system_error>

namespace shared_windows::Artwork {

namespace {

// A ridge with one great volcano, ash drifting from its crater.
void PaintScene(QPainter& p, const QSize& size, const Palette& pal) {
    const double w = size.width(), h = size.height();
    QLinearGradient sky(0, 0, 0, h);
    sky.setColorAt(0, pal.skyTop);
    sky.setColorAt(0.75, pal.skyBottom);
    sky.setColorAt(1, pal.ground);
    p.fillRect(QRectF(0, 0, w, h), sky);

    QRadialGradient sun(QPointF(w * 0.72, h * 0.30), h * 0.35);
    sun.setColorAt(0, pal.glow);
    sun.setColorAt(1, Qt::transparent);
    p.fillRect(QRectF(0, 0, w, h), sun);

    p.setRenderHint(QPainter::Antialiasing);
    for (int i = 0; i < 5; ++i) {
        QColor ash(200, 190, 180, 22 + i * 4);
        p.setPen(Qt::NoPen);
        p.setBrush(ash);
        p.drawEllipse(QPointF(w * (0.50 + 0.07 * i), h * (0.18 - 0.02 * i)), w * (0.10 + 0.03 * i),
                      h * 0.035);
    }

    QPainterPath ridge;
    ridge.moveTo(0, h * 0.80);
    ridge.lineTo(w * 0.12, h * 0.70);
    ridge.lineTo(w * 0.25, h * 0.76);
    ridge.lineTo(w * 0.45, h * 0.52);
    ridge.lineTo(w * 0.50, h * 0.30);
    ridge.lineTo(w * 0.56, h * 0.30);
    ridge.lineTo(w * 0.62, h * 0.55);
    ridge.lineTo(w * 0.78, h * 0.68);
    ridge.lineTo(w * 0.90, h * 0.64);
    ridge.lineTo(w, h * 0.72);
    ridge.lineTo(w, h);
    ridge.lineTo(0, h);
    ridge.closeSubpath();
    QLinearGradient rock(0, h * 0.3, 0, h);
    rock.setColorAt(0, pal.ridge.lighter(160));
    rock.setColorAt(1, pal.ridge);
    p.setBrush(rock);
    p.drawPath(ridge);

    // The crater's glow.
    QRadialGradient crater(QPointF(w * 0.53, h * 0.30), w * 0.05);
    crater.setColorAt(0, QColor(255, 120, 40, 200));
    crater.setColorAt(1, Qt::transparent);
    p.setBrush(crater);
    p.drawEllipse(QPointF(w * 0.53, h * 0.30), w * 0.05, h * 0.03);
}

} // namespace

Palette Ember() {
    return {QColor(38, 22, 18), QColor(148, 72, 36), QColor(255, 170, 80, 170), QColor(30, 18, 14),
            QColor(52, 34, 24)};
}

Palette Dusk() {
    return {QColor(22, 24, 34), QColor(96, 70, 60), QColor(255, 200, 120, 120), QColor(20, 18, 20),
            QColor(40, 32, 30)};
}

Palette Moss() {
    return {QColor(18, 30, 28), QColor(70, 96, 70), QColor(230, 230, 150, 130), QColor(16, 24, 18),
            QColor(34, 44, 32)};
}

namespace {
// Opaque, as the backdrop covers every pixel. An image, unlike a pixmap, may be painted on any
// thread.
QImage PaintBackground(const Palette& palette, QSize size) {
    QImage image(size, QImage::Format_RGB32);
    QPainter p(&image);
    PaintScene(p, size, palette);
    return image;
}
} // namespace

QPixmap Background(const Palette& palette, QSize size) {
    return QPixmap::fromImage(PaintBackground(palette, size));
}

BackgroundAside::BackgroundAside(const Palette& palette, QSize size) {
    try {
        m_painting = std::async(std::launch::async,
                                [palette, size] { return PaintBackground(palette, size); });
    } catch (const std::system_error&) {
        m_image = PaintBackground(palette, size);
    }
}

const QImage& BackgroundAside::Image() {
    if (m_painting.valid())
        m_image = m_painting.get();
    return m_image;
}

QPixmap AboutPicture(const QString& programName, const Palette& palette) {
    const QSize size(525, 184);
    QPixmap pix(size);
    QPainter p(&pix);
    PaintScene(p, size, palette);
    QFont font(QStringLiteral("DejaVu Serif"));
    font.setStyleHint(QFont::Serif);
    font.setPixelSize(34);
    font.setBold(true);
    p.setFont(font);
    const QRect titleBox(0, 18, size.width(), 60);
    p.setPen(QColor(0, 0, 0, 160));
    p.drawText(titleBox.translated(2, 2), Qt::AlignHCenter | Qt::AlignVCenter, programName);
    p.setPen(QColor(255, 236, 190));
    p.drawText(titleBox, Qt::AlignHCenter | Qt::AlignVCenter, programName);
    return pix;
}

QPixmap BarPicture() {
    const QSize size(525, 184);
    QPixmap pix(size);
    QPainter p(&pix);
    QLinearGradient g(0, 0, size.width(), 0);
    g.setColorAt(0, QColor(120, 40, 10));
    g.setColorAt(0.5, QColor(220, 120, 30));
    g.setColorAt(1, QColor(255, 210, 90));
    p.fillRect(pix.rect(), g);
    QLinearGradient shine(0, 0, 0, 21);
    shine.setColorAt(0, QColor(255, 255, 255, 110));
    shine.setColorAt(0.45, QColor(255, 255, 255, 20));
    shine.setColorAt(1, QColor(0, 0, 0, 60));
    p.fillRect(pix.rect(), shine);
    p.setPen(QColor(90, 30, 5, 90));
    for (int x = 0; x < size.width(); x += 12)
        p.drawLine(x, 0, x + 10, 21);
    return pix;
}

QIcon TreeImage(const QString& key) {
    QPixmap pix(16, 16);
    pix.fill(Qt::transparent);
    QPainter p(&pix);
    p.setRenderHint(QPainter::Antialiasing);
    if (key == QLatin1String("Folder")) {
        p.setPen(QColor(120, 90, 20));
        p.setBrush(QColor(236, 196, 90));
        p.drawRoundedRect(QRectF(1.5, 3.5, 6, 3), 1, 1);
        p.drawRoundedRect(QRectF(1.5, 5.5, 13, 8.5), 1, 1);
    } else {
        QPainterPath page;
        page.moveTo(3.5, 1.5);
        page.lineTo(10.5, 1.5);
        page.lineTo(13.5, 4.5);
        page.lineTo(13.5, 14.5);
        page.lineTo(3.5, 14.5);
        page.closeSubpath();
        p.setPen(QColor(90, 90, 100));
        p.setBrush(QColor(250, 250, 245));
        p.drawPath(page);
        p.setPen(QColor(150, 150, 170));
        for (int y = 6; y <= 12; y += 2)
            p.drawLine(QPointF(5.5, y + 0.5), QPointF(11.5, y + 0.5));
    }
    return QIcon(pix);
}

} // namespace shared_windows::Artwork
