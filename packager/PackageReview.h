#pragma once
// What the packager checks in the package it writes, without any window: that Dependencies
// names the masters its plug-ins need, and that its files would land where the game looks.

#include "qvr/package/Archives.h"
#include "qvr/sources/PackageLayout.h"

#include <QString>

namespace packager {

struct MastersReview {
    bool HasPlugins = false; // the package holds plug-ins at its top level
    QString Offer;           // the masters they need, as the Dependencies text to offer
    QString Problem;         // what depends lacks, or lists beyond them; "" when nothing
};

// The package's plug-ins against depends (the Dependencies text, stored form). Masters listed
// that no plug-in names count only when every plug-in's header could be read.
MastersReview ReviewMasters(const qvr::Archives& arc, const QString& depends);

bool IsBlank(const QString& text);

// The package's files against the data folder they would be installed into.
qvr::sources::WrappedData WrappedOf(const qvr::Archives& arc);
// The warning for wrapped ("" when its files would land where the game looks): what is wrong
// and how to mend it in this program. title: the package's file name.
QString WrappedWarning(const qvr::sources::WrappedData& wrapped, const QString& title);

} // namespace packager
