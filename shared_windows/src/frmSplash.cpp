#include "frmSplash.h"

#include "Artwork.h"
#include "Twips.h"

#include <QCoreApplication>
#include <QFrame>
#include <QLabel>
#include <QPainter>
#include <QPushButton>

namespace shared_windows {

namespace {

// The bar: the bar picture drawn unscaled from its top-left corner, clipped to the width.
class BarWidget : public QWidget {
public:
    explicit BarWidget(QWidget* parent) : QWidget(parent), m_picture(Artwork::BarPicture()) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.drawPixmap(0, 0, m_picture);
    }

private:
    QPixmap m_picture;
};

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, const QRect& rect) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->setGeometry(rect);
    return label;
}

} // namespace

frmSplash::frmSplash(QWidget* owner) : QDialog(owner, Qt::Dialog | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("frmSplash"));
    setModal(false);
    setFixedSize(Tw(7320), Tw(1980));

    auto* frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("Frame1"));
    frame->setFrameShape(QFrame::Box);
    frame->setFrameShadow(QFrame::Sunken);
    frame->setGeometry(TwRect(120, 0, 7080, 1410));

    m_task = MakeLabel(frame, "lblTask", QStringLiteral("Label1"), TwRect(120, 300, 6855, 375));
    QFont taskFont(QStringLiteral("Arial"));
    taskFont.setStyleHint(QFont::SansSerif);
    taskFont.setPointSizeF(12);
    taskFont.setBold(true);
    m_task->setFont(taskFont);
    m_taskFont = taskFont;

    auto* outline = MakeLabel(frame, "Label1", QString(), TwRect(240, 600, 6615, 315));
    outline->setFrameShape(QFrame::Box);

    m_bar = new BarWidget(frame);
    m_bar->setObjectName(QStringLiteral("Progress"));
    m_bar->setGeometry(TwRect(240, 600, 6615, 315));

    MakeLabel(frame, "Label2_0", QStringLiteral("0%"), TwRect(240, 1020, 255, 195));
    MakeLabel(frame, "Label2_2", QStringLiteral("Progress"), TwRect(3240, 1020, 675, 195));
    MakeLabel(frame, "Label2_1", QStringLiteral("100%"), TwRect(6420, 1020, 435, 195));

    m_close = new QPushButton(QStringLiteral("Close"), this);
    m_close->setObjectName(QStringLiteral("Command1"));
    m_close->setGeometry(TwRect(3060, 1500, 1215, 435));
    m_close->setAutoDefault(false);
    connect(m_close, &QPushButton::clicked, this, [this] { hide(); });

    QFont small = font();
    small.setPointSizeF(8.25);
    for (const char* name : {"Label2_0", "Label2_1", "Label2_2"})
        findChild<QLabel*>(QLatin1String(name))->setFont(small);
    m_close->setFont(small);
    FitAllTexts(this);

    Render();
}

void frmSplash::SetOwner(QWidget* owner) {
    if (parentWidget() == owner)
        return;
    const bool wasVisible = isVisible();
    setParent(owner, windowFlags());
    if (wasVisible)
        ShowModeless();
}

void frmSplash::SetTitle(const QString& vText) {
    m_model.SetTitle(vText);
    Render();
}

void frmSplash::CalcIncrement(int32_t vNumFiles) {
    if (m_model.CalcIncrement(vNumFiles))
        ProcessEvents();
}

void frmSplash::SetIncrement(int32_t vPercent) {
    m_model.SetIncrement(vPercent);
    ProcessEvents();
}

void frmSplash::IncrProgress(int32_t vPercent) {
    m_model.IncrProgress(vPercent);
    Render();
    ProcessEvents();
}

void frmSplash::SetProgress(int32_t vTotalPercent) {
    m_model.SetProgress(vTotalPercent);
    Render();
    ProcessEvents();
}

void frmSplash::Finish(const QString& outcome) {
    m_model.Finish(outcome);
    Render();
    ProcessEvents();
}

void frmSplash::ShowModeless() {
    if (QWidget* owner = parentWidget()) {
        const QRect o = owner->frameGeometry();
        move(o.center() - QPoint(width() / 2, height() / 2));
    }
    show();
    raise();
}

void frmSplash::reject() {
    if (m_model.CloseVisible())
        QDialog::reject();
}

void frmSplash::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    // The thin fixed frame of a window without a title bar.
    QPainter p(this);
    p.setPen(palette().color(QPalette::Dark));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

void frmSplash::Render() {
    m_task->setText(m_model.TaskText());
    // A long plug-in name gets a smaller font rather than a cut-off line.
    m_task->setFont(m_taskFont);
    FitText(m_task);
    // Keep the bar at least one pixel wide, as an empty bar is never of width 0.
    m_bar->resize(std::max(1, Tw(m_model.BarWidth())), Tw(ProgressModel::BarHeight));
    m_close->setVisible(m_model.CloseVisible());
}

void frmSplash::ProcessEvents() {
    QCoreApplication::processEvents();
}

} // namespace shared_windows
