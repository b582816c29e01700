#include "frmNotes.h"

#include "Twips.h"

#include "qvr/format/sgPlugInfo.h"

#include <QEvent>
#include <QPlainTextEdit>
#include <QPushButton>

using namespace shared_windows;

namespace installer {

frmNotes::frmNotes(const qvr::sgPlugInfo& info, QWidget* parent) : QDialog(parent), m_info(info) {
    setObjectName(QStringLiteral("frmNotes"));
    setWindowTitle(QStringLiteral("Plug-in Notes"));
    setModal(true);
    resize(Tw(9450), Tw(8775));

    m_notes = new QPlainTextEdit(this);
    m_notes->setObjectName(QStringLiteral("txNotes"));
    m_notes->setLineWrapMode(QPlainTextEdit::NoWrap);
    // Nothing typed here is ever saved: the player reads (and may copy) the author's notes.
    m_notes->setReadOnly(true);
    m_notes->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_notes->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    m_close = new QPushButton(QStringLiteral("Close"), this);
    m_close->setObjectName(QStringLiteral("Command1"));
    m_close->resize(Tw(1215), Tw(435));
    m_close->setAutoDefault(false);
    connect(m_close, &QPushButton::clicked, this, &QDialog::accept);

    setTabOrder(m_notes, m_close);
    Form_Resize();
}

void frmNotes::Form_Activate() {
    m_notes->setPlainText(QString::fromStdString(m_info.Notes()));
}

void frmNotes::Form_Resize() {
    // In twips of the window's inner area: the box fills it from the top-left corner, and
    // "Close" sits centred 300 twips below the box.
    const int w = width(), h = height();
    const int boxWidth = w - Tw(20);
    if (boxWidth < 0)
        return;
    const int boxHeight = h - m_close->height() - Tw(380);
    m_notes->move(0, 0);
    m_notes->resize(boxWidth, m_notes->height());
    if (boxHeight < 0)
        return;
    m_notes->resize(boxWidth, boxHeight);
    const int top = h - m_close->height() - Tw(80);
    m_close->move((w - m_close->width()) / 2, top);
}

bool frmNotes::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate)
        Form_Activate();
    return QDialog::event(event);
}

void frmNotes::showEvent(QShowEvent* event) {
    Form_Activate();
    QDialog::showEvent(event);
}

void frmNotes::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    Form_Resize();
}

} // namespace installer
