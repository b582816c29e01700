#include "Dialogs.h"
#include "Elide.h"
#include "SummaryBox.h"

#include <QDir>
#include <QFileDialog>
#include <QMessageBox>

namespace shared_windows {

namespace {

QtDialogs& QtInstance() {
    static QtDialogs dialogs;
    return dialogs;
}

Dialogs* g_dialogs = nullptr;

QStringList ToNative(const QStringList& paths) {
    QStringList out;
    for (const QString& p : paths)
        out << QDir::toNativeSeparators(p);
    return out;
}

std::optional<QStringList> RunFileDialog(QWidget* parent, const QString& title,
                                         const QString& filter, const QString& fileName,
                                         QFileDialog::AcceptMode accept,
                                         QFileDialog::FileMode mode) {
    QFileDialog dialog(parent, title);
    dialog.setAcceptMode(accept);
    dialog.setFileMode(mode);
    // Whoever saves decides what an existing file means; the packager refuses one with its own
    // message, so a "replace it?" question here would only contradict it.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setNameFilters(ToQtFilter(filter).split(QStringLiteral(";;"), Qt::SkipEmptyParts));
    // A folder (ending in a separator) is where the dialog starts; a path with a file name
    // starts in its folder with the name filled in.
    if (fileName.endsWith(QLatin1Char('/')) || fileName.endsWith(QLatin1Char('\\')))
        dialog.setDirectory(fileName);
    else if (!fileName.isEmpty())
        dialog.selectFile(fileName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return ToNative(dialog.selectedFiles());
}

} // namespace

Dialogs& Dialogs::instance() {
    return g_dialogs ? *g_dialogs : QtInstance();
}

void Dialogs::set(Dialogs* dialogs) {
    g_dialogs = dialogs;
}

std::optional<QString> QtDialogs::OpenFile(QWidget* parent, const QString& title,
                                           const QString& filter, const QString& fileName) {
    auto files = RunFileDialog(parent, title, filter, fileName, QFileDialog::AcceptOpen,
                               QFileDialog::ExistingFile);
    if (!files)
        return std::nullopt;
    return files->first();
}

std::optional<QStringList> QtDialogs::OpenFiles(QWidget* parent, const QString& title,
                                                const QString& filter) {
    return RunFileDialog(parent, title, filter, QString(), QFileDialog::AcceptOpen,
                         QFileDialog::ExistingFiles);
}

std::optional<QString> QtDialogs::SaveFile(QWidget* parent, const QString& title,
                                           const QString& filter, const QString& fileName) {
    auto files = RunFileDialog(parent, title, filter, fileName, QFileDialog::AcceptSave,
                               QFileDialog::AnyFile);
    if (!files)
        return std::nullopt;
    return files->first();
}

std::optional<QString> Dialogs::ChooseFolder(QWidget*, const QString&, const QString&) {
    return std::nullopt;
}

std::optional<QString> QtDialogs::ChooseFolder(QWidget* parent, const QString& title,
                                               const QString& start) {
    const QString folder = QFileDialog::getExistingDirectory(parent, title, start);
    if (folder.isEmpty())
        return std::nullopt;
    return QDir::toNativeSeparators(folder);
}

void QtDialogs::Message(QWidget* parent, const QString& title, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, Displayable(title), Displayable(text, true),
                    QMessageBox::Ok, parent);
    // Messages quote names and paths from packages: shown as they are, never as markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

bool QtDialogs::AskYesNo(QWidget* parent, const QString& title, const QString& text,
                         Default byDefault) {
    QMessageBox box(QMessageBox::NoIcon, Displayable(title), Displayable(text, true),
                    QMessageBox::Yes | QMessageBox::No, parent);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(byDefault == Default::Yes ? QMessageBox::Yes : QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void Dialogs::Summary(QWidget* parent, const QString& title, const QString& text,
                      const QStringList& items) {
    Message(parent, title,
            items.isEmpty() ? text : text + QStringLiteral("\n\n") + items.join('\n'));
}

void QtDialogs::Summary(QWidget* parent, const QString& title, const QString& text,
                        const QStringList& items) {
    SummaryBox box(parent, title, text, items);
    box.exec();
}

QString ToQtFilter(const QString& filter) {
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList out;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString& description = parts[i];
        QString patterns = parts[i + 1];
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        // Qt reads the patterns from the last parentheses of each entry.
        if (description.endsWith(QLatin1Char('(') + patterns + QLatin1Char(')')))
            out << description;
        else
            out << description + QStringLiteral(" (") + patterns + QLatin1Char(')');
    }
    if (parts.size() % 2 == 1 && !parts.last().isEmpty())
        out << parts.last();
    return out.join(QStringLiteral(";;"));
}

} // namespace shared_windows
