// build.bat of a project, written from the branding module's template.
#pragma once

#include "support/str.h"

namespace scancap {

// Loads the build-script template (TEXT resource 12102 of the branding
// module) and writes outputDir + "\build.bat". Fatal on every failure.
void WriteBuildScript(const Str& outputDir);
// The same from a template text already loaded.
void WriteBuildScriptText(const Str& outputDir, const Str& templateText);

// The script text made from a template: macros decoded, %INSTALLDIR%
// replaced with installDir, "%PROJECT_DIR%\bin" and a line break inserted
// after the first "TARGET_DIR=" (fatal when there is none).
Str ComposeBuildScript(const Str& templateText, const Str& installDir);
// VX_ORIGIN or the running executable's path, cut at its last "\".
Str InstallationDirectory();

}  // namespace scancap
