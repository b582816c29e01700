#include "frmExists.h"

#include "Elide.h"
#include "Twips.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>

using namespace shared_windows;

namespace installer {

frmExists::frmExists(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("frmExists"));
    setWindowTitle(QStringLiteral("File Exists"));
    setModal(true);
    // Taller than the question alone needs: the file it asks about stands below it.
    setFixedSize(Tw(6030), Tw(2520));
    QFont font = this->font();
    font.setPointSizeF(8.25);
    setFont(font);

    auto* label = new QLabel(QStringLiteral("The file you are extracting currently exists in the "
                                            "designated folder. Do you want to overwrite it?"),
                             this);
    label->setObjectName(QStringLiteral("Label1"));
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setGeometry(TwRect(240, 360, 5535, 495));

    m_lblFile = new QLabel(this);
    m_lblFile->setObjectName(QStringLiteral("lblFile"));
    m_lblFile->setTextFormat(Qt::PlainText);
    QFont bold = font;
    bold.setBold(true);
    m_lblFile->setFont(bold);
    m_lblFile->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_lblFile->setGeometry(TwRect(240, 900, 5535, 285));

    m_chkAll = new QCheckBox(QStringLiteral("perform this action for all files."), this);
    m_chkAll->setObjectName(QStringLiteral("chkAll"));
    m_chkAll->setGeometry(TwRect(720, 1380, 3495, 375));

    auto* ok = new QPushButton(QStringLiteral("Overwrite"), this);
    ok->setObjectName(QStringLiteral("OKButton"));
    ok->setGeometry(TwRect(120, 1980, 1215, 375));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &frmExists::OKButton_Click);

    auto* skip = new QPushButton(QStringLiteral("Skip"), this);
    skip->setObjectName(QStringLiteral("CancelButton"));
    skip->setGeometry(TwRect(1440, 1980, 1215, 375));
    connect(skip, &QPushButton::clicked, this, &frmExists::CancelButton_Click);

    FitAllTexts(this, kReadablePoints);
}

void frmExists::SetFile(const QString& file) {
    // A deep path keeps its start and its file name.
    SetElided(m_lblFile, file, Qt::ElideMiddle);
}

OverwritePrompt::Answer frmExists::Ask(QWidget* owner, const QString& file) {
    if (parentWidget() != owner)
        setParent(owner, windowFlags());
    SetFile(file);
    exec();
    return {bOverwrite, m_chkAll->isChecked()};
}

void frmExists::OKButton_Click() {
    bOverwrite = true;
    hide();
    done(Accepted);
}

void frmExists::CancelButton_Click() {
    bOverwrite = false;
    hide();
    done(Rejected);
}

void frmExists::reject() {
    // Closed by its frame or by Escape: the safe answer, as "Skip" gives.
    bOverwrite = false;
    QDialog::reject();
}

} // namespace installer
