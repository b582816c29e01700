#pragma once
// A closing message with a list below it: what an operation did, and the names it is about
// (failed files, kept files). The list scrolls, so a thousand names never push the OK button
// off the screen. Reached through Dialogs::Summary so that tests answer it in code.

#include <QDialog>
#include <QString>
#include <QStringList>

class QLabel;
class QListWidget;

namespace shared_windows {

class SummaryBox : public QDialog {
public:
    SummaryBox(QWidget* parent, const QString& title, const QString& text,
               const QStringList& items);

    QLabel* TextLabel() const { return text_; }
    // Hidden when there are no items.
    QListWidget* List() const { return list_; }

private:
    QLabel* text_;
    QListWidget* list_;
};

} // namespace shared_windows
