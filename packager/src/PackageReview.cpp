#include "PackageReview.h"

#include "qvr/games/Masters.h"
#include "qvr/games/PluginHeader.h"

#include <algorithm>

namespace packager {

MastersReview ReviewMasters(const qvr::Archives& arc, const QString& depends) {
    MastersReview review;
    const std::vector<qvr::ArchivePlugin> plugins = qvr::ReadArchivePlugins(arc);
    review.HasPlugins = !plugins.empty();
    if (plugins.empty())
        return review;
    const std::vector<qvr::PluginMasters> masters = qvr::MastersOf(plugins);
    qvr::RequiredModules r = qvr::CheckRequiredModules(masters, depends.toStdString());
    // A plug-in whose header cannot be read may need what the text lists.
    if (std::any_of(plugins.begin(), plugins.end(),
                    [](const qvr::ArchivePlugin& p) { return !p.Read; }))
        r.NotNeeded.clear();
    review.Offer = QString::fromStdString(r.Offer);
    review.Problem = QString::fromStdString(qvr::RequiredModulesProblem(r, masters));
    return review;
}

bool IsBlank(const QString& text) {
    return text.trimmed().isEmpty();
}

qvr::sources::WrappedData WrappedOf(const qvr::Archives& arc) {
    return qvr::sources::FindWrappedData(qvr::sources::PackagePaths(arc));
}

QString WrappedWarning(const qvr::sources::WrappedData& wrapped, const QString& title) {
    using qvr::sources::LayoutKind;
    if (!wrapped.Found())
        return QString();
    const QString inner = QString::fromStdString(wrapped.Inner);
    const QString how = QStringLiteral(": its plug-ins with Add file..., its folders with Add "
                                       "folder... (or drop them onto <root>).");
    QString mend;
    if (wrapped.Kind == LayoutKind::Root)
        mend = QStringLiteral("Remove the folder ") + inner.section(QLatin1Char('/'), 0, 0) +
               QStringLiteral(" and add in its place what ") + inner + QStringLiteral("/ holds") +
               how;
    else if (wrapped.Kind == LayoutKind::Options)
        mend = QStringLiteral("Remove the options' folders and add in their place what the "
                              "options wanted hold") +
               how;
    else
        mend = QStringLiteral("Remove the folders that should not be there, and add at the top "
                              "what the one meant holds") +
               how;
    return title + QStringLiteral(": ") + QString::fromStdString(wrapped.Problem) +
           QStringLiteral(".\n\n") + mend +
           QStringLiteral("\n\nFile > Import... makes a package of what a downloaded archive "
                          "holds, its data folder found.");
}

} // namespace packager
