#pragma once
// How the shared windows show the installer: its about window and its archive tree.

#include "ArchiveTree.h"
#include "frmAbout.h"
#include "qvr/Version.h"

namespace installer::Ui {

inline shared_windows::frmAbout::Options AboutOptions() {
    return {QStringLiteral("QVR Installer"),  QStringLiteral("Version ") + QString(qvr::kVersion),
            shared_windows::Artwork::Ember(), QRect(180, 2340, 1785, 285),
            QRect(6900, 2340, 885, 345),      QRect(120, 2400, 7695, 255)};
}

// Every file with its image, in the archive's order.
inline shared_windows::ArchiveTree::Options TreeOptions() {
    return {true, QString()};
}

} // namespace installer::Ui
