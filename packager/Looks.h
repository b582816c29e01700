#pragma once
// How the shared windows show the packager: its about window and its package tree.

#include "ArchiveTree.h"
#include "frmAbout.h"

namespace packager {

frmAbout::Options AboutOptions();
// Files without an image, top-level ones right after the <root> node.
ArchiveTree::Options TreeOptions();

} // namespace packager
