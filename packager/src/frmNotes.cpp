#include "frmNotes.h"

#include "PackagerLogic.h"
#include "Twips.h"

#include <QPlainTextEdit>
#include <QPushButton>

using namespace shared_windows;

namespace packager {

frmNotes::frmNotes(QWidget* parent, qvr::sgPlugInfo& info)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint), m_info(info) {
    setObjectName(QStringLiteral("frmNotes"));
    setWindowTitle(QStringLiteral("Plug-in Notes"));
    setModal(true);
    setFixedSize(Tw(8085), Tw(9705));

    m_notes = new QPlainTextEdit(this);
    m_notes->setObjectName(QStringLiteral("txNotes"));
    m_notes->setGeometry(TwRect(60, 60, 7995, 9075));
    m_notes->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_notes->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_notes->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("OKButton"));
    ok->setGeometry(TwRect(60, 9240, 1215, 375));
    ok->setAutoDefault(false);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("CancelButton"));
    cancel->setGeometry(TwRect(1320, 9240, 1215, 375));
    cancel->setAutoDefault(false);
    connect(ok, &QPushButton::clicked, this, &frmNotes::OKButton_Click);
    connect(cancel, &QPushButton::clicked, this, &frmNotes::CancelButton_Click);

    FitAllTexts(this, kReadablePoints);
}

void frmNotes::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    Form_Activate();
}

void frmNotes::Form_Activate() {
    m_notes->setPlainText(ToShownText(QString::fromStdString(m_info.Notes())));
    m_notes->setFocus(Qt::OtherFocusReason);
}

void frmNotes::OKButton_Click() {
    m_info.Notes(ToStoredText(m_notes->toPlainText()).toStdString());
    accept();
}

void frmNotes::CancelButton_Click() {
    reject();
}

} // namespace packager
