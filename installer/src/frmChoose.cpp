#include "frmChoose.h"

#include "Elide.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace installer {

namespace {

QString Shown(const std::string& folder) {
    return folder.empty()
               ? QStringLiteral("(the top of the archive)")
               : shared_windows::Displayable(QString::fromStdString(folder)) + QLatin1Char('/');
}

QLabel* Prompt(QWidget* parent, const QString& text) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QStringLiteral("lblPrompt"));
    label->setTextFormat(Qt::PlainText); // names from the archive are never markup
    label->setWordWrap(true);
    return label;
}

} // namespace

frmChoose::frmChoose(const qvr::sources::Layout& layout, const QString& archiveName,
                     QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      m_layout(layout) {
    setObjectName(QStringLiteral("frmChoose"));
    setWindowTitle(QStringLiteral("Install ") + shared_windows::Displayable(archiveName));
    setModal(true);
    auto* box = new QVBoxLayout(this);
    if (layout.Kind == qvr::sources::LayoutKind::Options)
        AddOptions(box);
    else
        AddRoots(box);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    m_ok = new QPushButton(QStringLiteral("Install"), this);
    m_ok->setObjectName(QStringLiteral("cmdOK"));
    m_ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("cmdCancel"));
    buttons->addWidget(m_ok);
    buttons->addWidget(cancel);
    box->addLayout(buttons);
    connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    UpdateOk();
    resize(sizeHint().expandedTo(QSize(420, 0)));
}

void frmChoose::AddOptions(QVBoxLayout* box) {
    box->addWidget(Prompt(this, QStringLiteral("This archive offers numbered options. Choose those "
                                               "to install; a later one's files take the place "
                                               "of an earlier one's.")));
    for (const qvr::sources::Option& o : m_layout.Options) {
        auto* check = new QCheckBox(
            shared_windows::Displayable(QString::fromStdString(o.Label + " " + o.Name)), this);
        check->setObjectName(QStringLiteral("chkOption") + QString::fromStdString(o.Label));
        check->setToolTip(Shown(o.Folder));
        check->setChecked(m_options.empty()); // the lowest-numbered one
        connect(check, &QCheckBox::toggled, this, [this] { UpdateOk(); });
        box->addWidget(check);
        m_options.push_back(check);
    }
}

void frmChoose::AddRoots(QVBoxLayout* box) {
    box->addWidget(Prompt(
        this, m_layout.Kind == qvr::sources::LayoutKind::SeveralRoots
                  ? QStringLiteral("More than one folder of this archive could hold the game's "
                                   "data. Choose the one to install:")
                  : QStringLiteral("No plug-in or data folder (Meshes, Textures...) shows where "
                                   "this archive's data is. Choose the folder to install:")));
    m_roots = new QListWidget(this);
    m_roots->setObjectName(QStringLiteral("lstRoots"));
    for (const std::string& c : m_layout.Candidates)
        m_roots->addItem(Shown(c));
    // Chosen by selecting: the row the list makes current on focus is no choice of the player's.
    connect(m_roots, &QListWidget::itemSelectionChanged, this, [this] { UpdateOk(); });
    box->addWidget(m_roots);
}

void frmChoose::UpdateOk() {
    bool any = m_roots && !m_roots->selectedItems().isEmpty();
    for (const QCheckBox* c : m_options)
        any = any || c->isChecked();
    m_ok->setEnabled(any);
}

qvr::sources::Choice frmChoose::Chosen() const {
    qvr::sources::Choice choice;
    if (m_roots) {
        const QList<QListWidgetItem*> selected = m_roots->selectedItems();
        const int row = selected.isEmpty() ? -1 : m_roots->row(selected.first());
        if (row >= 0 && static_cast<size_t>(row) < m_layout.Candidates.size()) {
            choice.RootGiven = true;
            choice.Root = m_layout.Candidates[static_cast<size_t>(row)];
            if (choice.Root.empty())
                choice.Root = std::string(1, '.'); // (= "." trips a false GCC 12 warning)
        }
        return choice;
    }
    for (size_t i = 0; i < m_options.size(); ++i)
        if (m_options[i]->isChecked())
            choice.Options.push_back(m_layout.Options[i].Label);
    return choice;
}

std::optional<qvr::sources::Choice>
AskArchiveChoice(QWidget* parent, const qvr::sources::Layout& layout, const QString& archiveName) {
    if (layout.Kind == qvr::sources::LayoutKind::Root)
        return qvr::sources::Choice{};
    frmChoose dialog(layout, archiveName, parent);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.Chosen();
}

} // namespace installer
