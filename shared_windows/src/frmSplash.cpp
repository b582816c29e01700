#include "frmSplash.h"

#include "Artwork.h"
#include "Elide.h"
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
    label->setTextFormat(Qt::PlainText); // the task line holds a plug-in's name
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

    // Ends above the bar, so that the bar never hides the descenders of the task line.
    m_task = MakeLabel(frame, "lblTask", QStringLiteral("Label1"), TwRect(120, 240, 6855, 345));
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

    // A little wider than the texts need at the design's font, so that none is clipped.
    MakeLabel(frame, "Label2_0", QStringLiteral("0%"), TwRect(240, 1020, 315, 195));
    MakeLabel(frame, "Label2_2", QStringLiteral("Progress"), TwRect(3195, 1020, 765, 195))
        ->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    MakeLabel(frame, "Label2_1", QStringLiteral("100%"), TwRect(6315, 1020, 540, 195))
        ->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    m_close = new QPushButton(QStringLiteral("Close"), this);
    m_close->setObjectName(QStringLiteral("Command1"));
    m_close->setGeometry(TwRect(3060, 1500, 1215, 435));
    m_close->setAutoDefault(false);
    connect(m_close, &QPushButton::clicked, this, [this] { hide(); });
    m_cancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_cancel->setObjectName(QStringLiteral("Cancel"));
    m_cancel->setGeometry(TwRect(3060, 1500, 1215, 435));
    m_cancel->setAutoDefault(false);
    connect(m_cancel, &QPushButton::clicked, this, [this] {
        m_cancelRequested = true;
        m_cancel->setEnabled(false);
    });

    QFont small = font();
    small.setPointSizeF(8.25);
    for (const char* name : {"Label2_0", "Label2_1", "Label2_2"})
        findChild<QLabel*>(QLatin1String(name))->setFont(small);
    m_close->setFont(small);
    m_cancel->setFont(small);
    FitAllTexts(this, kReadablePoints);

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

void frmSplash::SetCancellable(bool cancellable) {
    m_cancellable = cancellable;
    m_cancelRequested = false;
    m_cancel->setEnabled(true);
    Render();
}

void frmSplash::SetTitle(const QString& vText) {
    m_model.SetTitle(vText);
    Render();
}

void frmSplash::CalcIncrement(int32_t vNumFiles) {
    m_sinceEvents.invalidate(); // a new run
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
    // One step per file: thousands of small files would otherwise spend more time on the
    // event loop than on the files. Some tens of times a second keeps the window live.
    // The first step of a run always looks, so what was pressed before it counts at once.
    if (!m_sinceEvents.isValid() || m_sinceEvents.elapsed() >= 30 || m_model.Complete()) {
        ProcessEvents();
        m_sinceEvents.start();
    }
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
    // A long plug-in name gets a somewhat smaller font, and what still does not fit is cut in
    // the middle, so that ": Complete!" stays in view; the whole line is the tooltip.
    if (m_model.TaskText() != m_shownTask || m_shownTask.isNull()) {
        m_shownTask = m_model.TaskText();
        m_task->setFont(m_taskFont);
        m_task->setText(m_shownTask);
        // The task line stays the window's largest text: 10 points at least.
        FitText(m_task, 10.0);
        SetElided(m_task, m_shownTask, Qt::ElideMiddle);
    }
    // Keep the bar at least one pixel wide, as an empty bar is never of width 0.
    m_bar->resize(std::max(1, Tw(m_model.BarWidth())), Tw(ProgressModel::BarHeight));
    m_close->setVisible(m_model.CloseVisible());
    m_cancel->setVisible(m_cancellable && !m_model.CloseVisible());
}

void frmSplash::ProcessEvents() {
    QCoreApplication::processEvents();
}

} // namespace shared_windows
