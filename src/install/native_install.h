// Native install: applies a captured project folder (its file tree and its
// registry text files) to the local machine, without virtualization.
#pragma once

#include "install/registry_import.h"
#include "support/str.h"

namespace scancap {

// Copies every folder of `captureFolder` whose name begins with "%" (a
// folder or drive macro) to the folder it names on this machine. With
// `printLog` every copied file is printed, not only the failures.
void InstallCapturedFiles(const Str& captureFolder, bool printLog);

// Copies the tree `source` into `target` (made one level deep when missing),
// overwriting files; the attribute files of the project are left out.
void CopyTree(const Str& source, const Str& target, bool printLog);

}  // namespace scancap
