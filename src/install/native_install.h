// Native install: applies a captured project folder (its file tree and its
// registry text files) to the local machine.
#pragma once

#include "support/str.h"

namespace scancap {

// Copies the captured file tree into the machine's folders.
void InstallCapturedFiles(const Str& captureFolder);
// Imports the registry text files of the captured folder.
void ImportRegistryFiles(const Str& captureFolder);

}  // namespace scancap
