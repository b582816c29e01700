#include "SummaryBox.h"

#include "Elide.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace shared_windows {

SummaryBox::SummaryBox(QWidget* parent, const QString& title, const QString& text,
                       const QStringList& items)
    : QDialog(parent), text_(new QLabel(Displayable(text, true), this)),
      list_(new QListWidget(this)) {
    setWindowTitle(Displayable(title));
    // The text names files, which come from a package: shown as they are.
    text_->setTextFormat(Qt::PlainText);
    text_->setWordWrap(true);
    text_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    for (const QString& item : items)
        list_->addItem(Displayable(item));
    // A name with its reason is often longer than the box: it wraps rather than hiding its end.
    list_->setWordWrap(true);
    list_->setTextElideMode(Qt::ElideNone);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setResizeMode(QListView::Adjust);
    list_->setVisible(!items.isEmpty());
    // Tall enough for a handful of names; more scroll.
    const int rows = std::min<int>(static_cast<int>(items.size()), 8);
    list_->setMinimumHeight(list_->fontMetrics().height() * std::max(rows, 1) + 8);
    list_->setMinimumWidth(480);
    // As wide without a list: a count line reads on one line, not broken after a number.
    text_->setMinimumWidth(480);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text_);
    layout->addWidget(list_, 1);
    layout->addWidget(buttons);
}

} // namespace shared_windows
