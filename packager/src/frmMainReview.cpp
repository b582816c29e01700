#include "Dialogs.h"
#include "PackageReview.h"
#include "frmMain.h"

#include "qvr/games/PluginHeader.h"

#include <QPlainTextEdit>
#include <algorithm>

using namespace shared_windows;

// What the packager checks in the package it writes: that Dependencies names the masters its
// plug-ins need (filled when empty, offered when it lists fewer or others), and that its files
// would land where the game looks.

namespace packager {

namespace {

// The masters one to a line, for the question.
QString AsList(const QString& offer) {
    return offer.split(QStringLiteral(", ")).join(QLatin1Char('\n'));
}

} // namespace

void frmMain::ReviewAdded(const qvr::sources::WrappedData& before,
                          const std::vector<qvr::BatchResult>& results) {
    if (!PackageOpen() || ReadOnly())
        return;
    const qvr::sources::WrappedData after = WrappedOf(m_arc);
    if (after.Problem != before.Problem && after.Found())
        Message(WrappedWarning(after, m_session.Title()));
    const bool plugin = std::any_of(results.begin(), results.end(), [](const qvr::BatchResult& r) {
        return r.Added && r.File.FilePath.empty() && qvr::IsPluginFileName(r.File.FileName);
    });
    if (plugin)
        ReviewMasters();
}

void frmMain::ReviewMasters() {
    // What the author has typed counts: Update Details writes it.
    const QString depends = m_updatePending ? ToStoredText(m_depends->toPlainText())
                                            : QString::fromStdString(m_arc.PluginInfo.Depends());
    const MastersReview review = packager::ReviewMasters(m_arc, depends);
    if (review.Offer.isEmpty() && review.Problem.isEmpty())
        return;
    if (IsBlank(depends)) {
        TakeMasters(review.Offer);
        return;
    }
    if (review.Problem.isEmpty())
        return;
    if (review.Offer.isEmpty()) {
        Message(QStringLiteral("Dependencies: ") + review.Problem + QLatin1Char('.'));
        return;
    }
    if (Dialogs::instance().AskYesNo(
            this, ProgramName,
            QStringLiteral("Dependencies: ") + review.Problem +
                QStringLiteral(".\n\nTake the masters the plug-ins need as the "
                               "Dependencies?\n\n") +
                AsList(review.Offer)))
        TakeMasters(review.Offer);
}

void frmMain::TakeMasters(const QString& offer) {
    if (m_updatePending) {
        // Written with the author's other changes, by Update Details.
        m_depends->setPlainText(ToShownText(offer));
        return;
    }
    qvr::sgPlugInfo info = m_arc.PluginInfo;
    info.Depends(offer.toStdString());
    if (!Report(m_session.UpdateDetails(info)))
        return;
    ShowPluginInfo();
    m_updatePending = false;
    RefreshCommandStates();
    UpdateStatusBar();
}

void frmMain::OfferMastersBeforeUpdate() {
    const QString typed = ToStoredText(m_depends->toPlainText());
    if (typed == QString::fromStdString(m_arc.PluginInfo.Depends()))
        return;
    const MastersReview review = packager::ReviewMasters(m_arc, typed);
    if (review.Problem.isEmpty() || review.Offer.isEmpty())
        return;
    if (Dialogs::instance().AskYesNo(
            this, ProgramName,
            QStringLiteral("Dependencies: ") + review.Problem +
                QStringLiteral(".\n\nWrite the masters the plug-ins need as the Dependencies "
                               "instead? With No, it is written as typed.\n\n") +
                AsList(review.Offer)))
        m_depends->setPlainText(ToShownText(review.Offer));
}

QString frmMain::WrappedNotice() const {
    if (!PackageOpen() || ReadOnly())
        return QString();
    return WrappedWarning(WrappedOf(m_arc), m_session.Title());
}

} // namespace packager
