// The project file tree: copies of created and changed files under folder
// macro directories, each directory with its ##Attributes.ini.
#pragma once

#include "support/str.h"

namespace scancap {

// Gives the well-known top-level macro folders of a project their attribute
// files; called after Package.ini is written.
void WriteTopLevelFolderAttributes(const Str& outputDir);

}  // namespace scancap
