#pragma once
// Installing an archive players download (zip, 7z, rar, tar) for OpenMW: its data root in the
// plug-in's folder below the mods folder, or each chosen numbered option in a folder of its
// own there, each listed by a data= line of its own in number order, so that a later option
// overrides an earlier one as the game loads them.

#include "qvr/games/OpenMWInstall.h"
#include "qvr/install/Engine.h"
#include "qvr/install/SourceInstall.h"
#include "qvr/sources/Source.h"

namespace qvr::openmw {

// Installs plan's members of source for OpenMW as one transaction under one record in
// where.ModsFolder: the files, a data= line for each folder and a content= line for each
// plug-in at a folder's top (a name openmw.cfg cannot hold is named in listed.Unlisted).
InstallReport InstallSource(sources::Source& source, const SourcePlan& plan, const Target& where,
                            const OverwriteQuestion& ask, const PlacedProgress& progress,
                            const TakeBackQuestion& takeBack, ListReport& listed);

} // namespace qvr::openmw
