// The original engine's side of an install into the data folder: the plug-ins enabled in the
// Morrowind.ini beside it, and the masters the game would look for in vain.
#include "MainMod.h"

#include "Dialogs.h"

#include "qvr/games/Masters.h"
#include "qvr/games/OpenMWInstall.h"
#include "qvr/games/SetupCheck.h"

#include <QStringList>

using namespace shared_windows;

namespace installer {

namespace {
const QString kEnableKey = QStringLiteral("EnableInMorrowindIni");
}

bool MainMod::EnableInIni() const {
    if (m_enableInIni)
        return *m_enableInIni;
    // On unless the player turned it off.
    const QString stored = Settings.ReadIniValue(QStringLiteral("Settings"), kEnableKey).Value;
    return stored.trimmed() != QStringLiteral("0");
}

void MainMod::SetEnableInIni(bool enable) {
    m_enableInIni = enable;
    // When it cannot be kept, the choice holds for this run.
    (void)Settings.WriteIniValue(QStringLiteral("Settings"), kEnableKey,
                                 enable ? QStringLiteral("1") : QStringLiteral("0"));
}

QString MainMod::PreviewText(const QString& dataFolder) const {
    if (Arc.CurrentArchive.empty() || Arc.ZipLoaded)
        return {};
    if (ForOpenMW)
        return QString::fromStdString(
            qvr::openmw::MissingMastersNote(Arc, m_openMWConfig.toStdString()));
    if (dataFolder.isEmpty())
        return {};
    return QString::fromStdString(
        qvr::DescribePreview(qvr::PreviewInstall(Arc, dataFolder.toStdString())));
}

void MainMod::TellDataFolderInstall(QWidget* owner, const QString& dataFolder) {
    if (m_exitRequested)
        return;
    QStringList problems;
    for (const std::string& why : m_enabled.Problems)
        problems << QStringLiteral("Not enabled: ") + QString::fromStdString(why);
    if (const std::string note = qvr::MissingMastersNote(Arc, dataFolder.toStdString());
        !note.empty())
        problems << QString::fromStdString(note);
    if (!problems.isEmpty())
        Dialogs::instance().Message(owner, AppTitle, problems.join(QLatin1Char('\n')));
}

} // namespace installer
