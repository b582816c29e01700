#pragma once
// How the shared windows show the packager: its about window and its package tree.

#include "ArchiveTree.h"
#include "frmAbout.h"

namespace packager {

shared_windows::frmAbout::Options AboutOptions();
// Files without an image, top-level ones right after the <root> node.
shared_windows::ArchiveTree::Options TreeOptions();

} // namespace packager
