#pragma once
// The one message that ends a removal which did not simply remove every file: how many files
// were removed, restored, kept and failed, which failed and why, which were kept, or that
// nothing was there to remove; in a scrollable list when there are many names.

#include "qvr/install/RecordedInstall.h"

#include <QString>
#include <QStringList>

class QWidget;

namespace installer {

// The message's text (error first, when the removal stopped as a whole); the files that failed
// or were kept are listed in it when listFiles is set.
QString RemovalSummaryText(const qvr::RemovalReport& report, bool listFiles,
                           const QString& error = {});
// The files named by the summary: those that failed, with why, then those kept.
QStringList RemovalSummaryFiles(const qvr::RemovalReport& report);
inline constexpr int kInlineKept = 10;

// Shows the message unless every file was simply removed. Few names go in an ordinary message
// box; many in a scrollable list in a window of its own.
void ShowRemovalSummary(QWidget* owner, const QString& title, const qvr::RemovalReport& report,
                        const QString& error = {});

} // namespace installer
