#include "frmAbout.h"

#include "Artwork.h"
#include "Twips.h"

#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>

#include <algorithm>

namespace shared_windows {

frmAbout::frmAbout(const Options& options, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("About MyApp"));
    setModal(true);
    setFixedSize(Tw(7875), Tw(2760));
    m_picture = Artwork::AboutPicture(options.ProgramName, options.Backdrop);

    // The credit line lies under the two red labels; made first so they stay on top of it.
    auto* credit = new QLabel(QStringLiteral("Made for Vvardenfell."), this);
    credit->setObjectName(QStringLiteral("Label1"));
    credit->setGeometry(TwRect(options.CreditBox));
    credit->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    credit->setStyleSheet(QStringLiteral("color: white; background: transparent;"));
    credit->installEventFilter(this);

    QFont red(QStringLiteral("Arial"));
    red.setStyleHint(QFont::SansSerif);
    red.setPointSizeF(13.5);
    red.setBold(true);
    const QString redStyle = QStringLiteral("color: red; background: transparent;");

    auto* version = new QLabel(options.Version, this);
    version->setObjectName(QStringLiteral("lblVersion0"));
    version->setGeometry(TwRect(options.VersionBox));

    auto* close = new QLabel(QStringLiteral("Close"), this);
    close->setObjectName(QStringLiteral("lblVersion1"));
    close->setGeometry(TwRect(options.CloseBox));

    for (QLabel* label : {version, close}) {
        label->setFont(red);
        label->setStyleSheet(redStyle);
        label->setCursor(Qt::PointingHandCursor);
        label->installEventFilter(this);
        label->raise();
    }
    // The credit line would otherwise run under the red labels.
    FitAllTexts(this, kReadablePoints);
    const int centre = credit->geometry().center().x();
    const int room =
        2 * (std::min(centre - version->geometry().right(), close->geometry().left() - centre) - 6);
    QFont creditFont = credit->font();
    while (QFontMetrics(creditFont).horizontalAdvance(credit->text()) > room &&
           creditFont.pointSizeF() > 6)
        creditFont.setPointSizeF(creditFont.pointSizeF() - 0.25);
    credit->setFont(creditFont);

    if (QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void frmAbout::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.drawPixmap(rect(), m_picture);
}

void frmAbout::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        accept();
}

bool frmAbout::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonPress) {
        if (watched->objectName() == QLatin1String("Label1"))
            return true; // clicks on the credit line do nothing
        accept();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace shared_windows
