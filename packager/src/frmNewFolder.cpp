#include "frmNewFolder.h"

#include "Elide.h"
#include "Twips.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>

using namespace shared_windows;

namespace packager {

namespace {
// Captions and their boxes; the caption column holds "Parent Folder:" at 8 points with a gap.
constexpr int kFolderCaptionLeft = 300;
constexpr int kFolderValueLeft = 1920;
} // namespace

frmNewFolder::frmNewFolder(QWidget* parent, std::function<QStringList()> keys)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint), m_keys(std::move(keys)) {
    setObjectName(QStringLiteral("frmNewFolder"));
    setWindowTitle(QStringLiteral("New Folder"));
    setModal(true);
    setFixedSize(Tw(4860), Tw(1725));

    m_folders = new QComboBox(this);
    m_folders->setObjectName(QStringLiteral("cmbFolders"));
    m_folders->setEditable(false);
    m_folders->setGeometry(TwRect(kFolderValueLeft, 300, 2640, 315));
    // A long folder is cut in its box: the tip shows it whole.
    connect(m_folders, &QComboBox::currentTextChanged, this,
            [this](const QString& key) { m_folders->setToolTip(PlainToolTip(key)); });

    m_name = new QLineEdit(this);
    m_name->setObjectName(QStringLiteral("txNewFolder"));
    m_name->setGeometry(TwRect(kFolderValueLeft, 780, 2640, 315));

    auto* parentLabel = new QLabel(QStringLiteral("Parent Folder:"), this);
    parentLabel->setObjectName(QStringLiteral("Label1_0"));
    parentLabel->setGeometry(
        TwRect(kFolderCaptionLeft, 300, kFolderValueLeft - kFolderCaptionLeft - 90, 315));
    auto* nameLabel = new QLabel(QStringLiteral("Folder Name:"), this);
    nameLabel->setObjectName(QStringLiteral("Label1_1"));
    nameLabel->setGeometry(
        TwRect(kFolderCaptionLeft, 780, kFolderValueLeft - kFolderCaptionLeft - 90, 315));

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("OKButton"));
    ok->setGeometry(TwRect(60, 1320, 1215, 375));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("CancelButton"));
    cancel->setGeometry(TwRect(1320, 1320, 1215, 375));
    connect(ok, &QPushButton::clicked, this, &frmNewFolder::OKButton_Click);
    connect(cancel, &QPushButton::clicked, this, &frmNewFolder::CancelButton_Click);

    FitAllTexts(this, kReadablePoints);
}

void frmNewFolder::Selectedfolder(const QString& vData) {
    m_selected = vData;
}

QString frmNewFolder::Selectedfolder() {
    if (m_folders->currentIndex() >= 0)
        m_selected = m_folders->currentText();
    return m_selected;
}

QString frmNewFolder::FolderName() const {
    return m_name->text();
}

void frmNewFolder::OKButton_Click() {
    accept();
}

void frmNewFolder::CancelButton_Click() {
    m_name->clear();
    QDialog::reject();
}

void frmNewFolder::reject() {
    CancelButton_Click();
}

void frmNewFolder::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    Form_Activate();
}

void frmNewFolder::Form_Activate() {
    m_folders->clear();
    const QStringList keys = m_keys ? m_keys() : QStringList();
    m_folders->addItems(keys);
    // The list opens as wide as its longest folder, whatever the box's width.
    int widest = 0;
    for (const QString& key : keys)
        widest = std::max(widest, m_folders->fontMetrics().horizontalAdvance(key));
    QAbstractItemView* list = m_folders->view();
    // Room for the item's margins and a scroll bar besides the text.
    list->setMinimumWidth(
        std::max(m_folders->width(), widest + 24 + list->verticalScrollBar()->sizeHint().width()));
    const qsizetype at = m_selected.isEmpty() ? -1 : keys.indexOf(m_selected);
    m_folders->setCurrentIndex(keys.isEmpty() ? -1 : (at < 0 ? 0 : int(at)));
    m_name->setFocus(Qt::OtherFocusReason);
    m_name->selectAll();
}

} // namespace packager
