#include "RemovalSummary.h"

#include "Dialogs.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QVBoxLayout>

namespace installer {

namespace {

QString Files(size_t n) {
    return n == 1 ? QStringLiteral("1 file") : QStringLiteral("%1 files").arg(n);
}

QStringList KeptFiles(const qvr::RemovalReport& report) {
    QStringList kept;
    for (const qvr::FileResult& f : report.Files)
        if (f.Fate == qvr::FileFate::Kept)
            kept << QString::fromStdString(f.Path);
    return kept;
}

} // namespace

QString RemovalSummaryText(const qvr::RemovalReport& report, bool listKept) {
    using qvr::FileFate;
    const size_t kept = report.Count(FileFate::Kept);
    QString text = QStringLiteral("Removed %1, restored %2, kept %3.")
                       .arg(Files(report.Count(FileFate::Removed)))
                       .arg(report.Count(FileFate::Restored))
                       .arg(kept);
    if (report.Count(FileFate::Restored) > 0)
        text += QStringLiteral("\n\nRestored files are the ones the plug-in had replaced; they "
                               "are back as they were before it was installed.");
    if (kept > 0) {
        text += QStringLiteral("\n\nThese files were kept because they changed after the "
                               "install (or another plug-in replaced them):");
        if (listKept)
            for (const QString& path : KeptFiles(report))
                text += QStringLiteral("\n") + path;
    }
    return text;
}

void ShowRemovalSummary(QWidget* owner, const QString& title, const qvr::RemovalReport& report) {
    const size_t kept = report.Count(qvr::FileFate::Kept);
    if (kept == 0 && report.Count(qvr::FileFate::Restored) == 0)
        return;
    if (kept <= static_cast<size_t>(kInlineKept)) {
        shared_windows::Dialogs::instance().Message(owner, title, RemovalSummaryText(report, true));
        return;
    }
    QDialog box(owner);
    box.setObjectName(QStringLiteral("frmRemovalSummary"));
    box.setWindowTitle(title);
    auto* layout = new QVBoxLayout(&box);
    auto* label = new QLabel(RemovalSummaryText(report, false), &box);
    label->setObjectName(QStringLiteral("lblSummary"));
    label->setWordWrap(true);
    layout->addWidget(label);
    auto* list = new QListWidget(&box);
    list->setObjectName(QStringLiteral("lstKept"));
    list->addItems(KeptFiles(report));
    layout->addWidget(list);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &box);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &box, &QDialog::accept);
    layout->addWidget(buttons);
    box.resize(480, 360);
    box.exec();
}

} // namespace installer
