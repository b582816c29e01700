#include "RemovalSummary.h"

#include "Dialogs.h"
#include "Elide.h"
#include "FailureText.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QVBoxLayout>

namespace installer {

namespace {

QString Files(size_t n) {
    return n == 1 ? QStringLiteral("1\u00a0file") : QStringLiteral("%1\u00a0files").arg(n);
}

bool OnlyRemoved(const qvr::RemovalReport& report) {
    using qvr::FileFate;
    return report.Count(FileFate::Removed) > 0 && report.Count(FileFate::Restored) == 0 &&
           report.Count(FileFate::Kept) == 0 && report.Count(FileFate::Failed) == 0;
}

} // namespace

// The files that failed, with why, and those that were kept.
std::pair<QStringList, QStringList> FailedAndKept(const qvr::RemovalReport& report) {
    QStringList failed, kept;
    for (const qvr::FileResult& f : report.Files) {
        const QString path = QString::fromStdString(f.Path);
        if (f.Fate == qvr::FileFate::Failed)
            failed << FailureLine(path, QString::fromStdString(f.Message));
        else if (f.Fate == qvr::FileFate::Kept)
            kept << ShownPath(path);
    }
    return {failed, kept};
}

QStringList RemovalSummaryFiles(const qvr::RemovalReport& report) {
    const auto [failed, kept] = FailedAndKept(report);
    return failed + kept;
}

QString RemovalSummaryText(const qvr::RemovalReport& report, bool listFiles, const QString& error) {
    using qvr::FileFate;
    const size_t restored = report.Count(FileFate::Restored);
    const size_t removed = report.Count(FileFate::Removed);
    const auto [failed, kept] = FailedAndKept(report);
    if (removed + restored + kept.size() + failed.size() == 0 && error.isEmpty())
        return QStringLiteral("No file of %1 is installed in this folder: nothing was removed.")
            .arg(QString::fromStdString(report.Plugin));
    QString text = error.isEmpty() ? QString() : error + QStringLiteral("\n\n");
    // A number and its word never part at the end of a line.
    text += QStringLiteral("Removed %1, restored\u00a0%2, kept\u00a0%3")
                .arg(Files(removed))
                .arg(restored)
                .arg(kept.size());
    text += failed.isEmpty() ? QStringLiteral(".")
                             : QStringLiteral(", failed\u00a0%1.").arg(failed.size());
    if (restored > 0)
        text += QStringLiteral("\n\nRestored files are the ones the plug-in had replaced; they "
                               "are back as they were before it was installed.");
    auto section = [&](const QStringList& files, const QString& heading) {
        if (files.isEmpty())
            return;
        text += QStringLiteral("\n\n") + heading;
        if (listFiles)
            text += QStringLiteral("\n") + files.join(QLatin1Char('\n'));
    };
    section(failed, QStringLiteral("These files could not be removed (removing the plug-in again "
                                   "tries them again):"));
    section(kept, QStringLiteral("These files were kept because they changed after the install "
                                 "(or another plug-in replaced them):"));
    return text;
}

void ShowRemovalSummary(QWidget* owner, const QString& title, const qvr::RemovalReport& report,
                        const QString& error) {
    if (error.isEmpty() && OnlyRemoved(report))
        return;
    const QStringList files = RemovalSummaryFiles(report);
    if (files.size() <= kInlineKept) {
        shared_windows::Dialogs::instance().Message(owner, title,
                                                    RemovalSummaryText(report, true, error));
        return;
    }
    QDialog box(owner);
    box.setObjectName(QStringLiteral("frmRemovalSummary"));
    box.setWindowTitle(shared_windows::Displayable(title));
    auto* layout = new QVBoxLayout(&box);
    auto* label = new QLabel(
        shared_windows::Displayable(RemovalSummaryText(report, false, error), true), &box);
    label->setObjectName(QStringLiteral("lblSummary"));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    layout->addWidget(label);
    auto* list = new QListWidget(&box);
    list->setObjectName(QStringLiteral("lstKept"));
    for (const QString& file : files)
        list->addItem(shared_windows::Displayable(file));
    layout->addWidget(list);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &box);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &box, &QDialog::accept);
    layout->addWidget(buttons);
    box.resize(480, 360);
    box.exec();
}

} // namespace installer
