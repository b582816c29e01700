#pragma once
// The one message that ends a removal which kept or restored files: how many files were
// removed, restored and kept, and which were kept, in a scrollable list when there are many.

#include "qvr/install/RecordedInstall.h"

#include <QString>
#include <QStringList>

class QWidget;

namespace installer {

// The message's text; the kept files are listed in it when there are at most kInlineKept.
QString RemovalSummaryText(const qvr::RemovalReport& report, bool listKept);
inline constexpr int kInlineKept = 10;

// Shows the message when anything was kept or restored; nothing otherwise. Few kept files are
// named in an ordinary message box; many go in a scrollable list in a window of its own.
void ShowRemovalSummary(QWidget* owner, const QString& title, const qvr::RemovalReport& report);

} // namespace installer
