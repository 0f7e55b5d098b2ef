// Package.ini of a project: a copy of the project overview without its
// overview-only keys, or a default text when there is no overview.
#pragma once

#include "support/str.h"

#include <vector>

namespace scancap {

// Writes outputDir + "\Package.ini", then the top-level folder attribute
// files, then build.bat.
void WritePackageSettings(const Str& outputDir, const Str& templatePath,
                          const std::vector<Str>& templateNames);

// The default Package.ini text (without its byte-order mark).
Str DefaultPackageSettingsText(const Str& outputDir);
// The two steps of WritePackageSettings that write Package.ini itself.
void WriteDefaultPackageSettings(const Str& outputDir);
void CopyOverviewSettings(const Str& outputDir, const Str& templatePath,
                          const std::vector<Str>& templateNames);

}  // namespace scancap
