#include "frmImport.h"

#include "Elide.h"
#include "Twips.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>

using namespace shared_windows;

namespace packager {

namespace {

QString ShownFolder(const std::string& folder) {
    return folder.empty() ? QStringLiteral("(the archive's top)")
                          : Displayable(QString::fromStdString(folder)) + QLatin1Char('/');
}

} // namespace

frmImport::frmImport(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("frmImport"));
    setWindowTitle(QStringLiteral("Import"));
    setModal(true);
    setFixedSize(Tw(6030), Tw(4200));
    QFont font = this->font();
    font.setPointSizeF(8.25);
    setFont(font);

    m_question = new QLabel(this);
    m_question->setObjectName(QStringLiteral("lblQuestion"));
    // The names come from a stranger's archive: never markup.
    m_question->setTextFormat(Qt::PlainText);
    m_question->setWordWrap(true);
    m_question->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_question->setGeometry(TwRect(240, 240, 5535, 735));

    m_choices = new QListWidget(this);
    m_choices->setObjectName(QStringLiteral("lstChoices"));
    m_choices->setGeometry(TwRect(240, 1020, 5535, 2400));
    m_choices->setTextElideMode(Qt::ElideMiddle);
    connect(m_choices, &QListWidget::itemChanged, this, [this] { UpdateOK(); });
    connect(m_choices, &QListWidget::itemSelectionChanged, this, [this] { UpdateOK(); });

    m_ok = new QPushButton(QStringLiteral("OK"), this);
    m_ok->setObjectName(QStringLiteral("cmdOK"));
    m_ok->setGeometry(TwRect(120, 3660, 1215, 375));
    m_ok->setDefault(true);
    connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("cmdCancel"));
    cancel->setGeometry(TwRect(1440, 3660, 1215, 375));
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    FitAllTexts(this, kReadablePoints);
}

void frmImport::UpdateOK() {
    bool any = false;
    for (int i = 0; i < m_choices->count(); ++i) {
        const QListWidgetItem* item = m_choices->item(i);
        any = any || (m_options ? item->checkState() == Qt::Checked : item->isSelected());
    }
    m_ok->setEnabled(any);
}

bool frmImport::Run(const QString& question) {
    m_question->setText(question);
    UpdateOK();
    return exec() == QDialog::Accepted;
}

std::optional<QStringList> frmImport::AskOptions(const QString& archive,
                                                 const std::vector<qvr::sources::Option>& options) {
    m_options = true;
    m_choices->clear();
    m_choices->setSelectionMode(QAbstractItemView::NoSelection);
    for (size_t i = 0; i < options.size(); ++i) {
        const qvr::sources::Option& o = options[i];
        auto* item = new QListWidgetItem(
            Displayable(QString::fromStdString(o.Label + " " + o.Name)), m_choices);
        item->setData(Qt::UserRole, QString::fromStdString(o.Label));
        item->setToolTip(PlainToolTip(ShownFolder(o.Folder)));
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        item->setCheckState(i == 0 ? Qt::Checked : Qt::Unchecked);
    }
    if (!Run(archive + QStringLiteral(" holds numbered options. Tick the ones to pack: their "
                                      "files go to the package's top in number order, a later "
                                      "option's file over an earlier one's.")))
        return std::nullopt;
    QStringList labels;
    for (int i = 0; i < m_choices->count(); ++i)
        if (m_choices->item(i)->checkState() == Qt::Checked)
            labels << m_choices->item(i)->data(Qt::UserRole).toString();
    return labels;
}

std::optional<QString> frmImport::AskRoot(const QString& archive, const QString& why,
                                          const std::vector<std::string>& folders) {
    m_options = false;
    m_choices->clear();
    m_choices->setSelectionMode(QAbstractItemView::SingleSelection);
    for (const std::string& folder : folders) {
        auto* item = new QListWidgetItem(ShownFolder(folder), m_choices);
        item->setData(Qt::UserRole, QString::fromStdString(folder));
        item->setToolTip(PlainToolTip(ShownFolder(folder)));
    }
    if (m_choices->count() > 0)
        m_choices->setCurrentRow(0);
    if (!Run(archive + QStringLiteral(": ") + why +
             QStringLiteral(". Choose the folder a player's data folder should match: what it "
                            "holds goes to the package's top.")))
        return std::nullopt;
    const QList<QListWidgetItem*> chosen = m_choices->selectedItems();
    if (chosen.isEmpty())
        return std::nullopt;
    return chosen.first()->data(Qt::UserRole).toString();
}

} // namespace packager
