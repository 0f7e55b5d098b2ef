// Capture templates: "<name>.template.txt" files that force files and keys
// into a project, exclude files and add package settings.
#pragma once

#include "project/project_run.h"
#include "support/str.h"

#include <cstddef>
#include <cstdint>

namespace scancap {

// Locates, reads and applies the template `name` to the run's override
// tables and exclusion list. Fatal when it cannot be found, opened, read or
// converted.
void LoadTemplate(ProjectRun& run, const Str& name);

// The first existing candidate path: beside VX_ORIGIN, in the program's
// "Templates" folder, beside the program. Fatal "Can't find template file".
Str FindTemplateFile(const Str& name);
// The same search with the program's folder given (ending with "\").
Str FindTemplateFile(const Str& name, const Str& programFolder);
// Byte-order mark, then the "[" and zero-byte heuristics; false when the
// bytes cannot be converted.
bool DecodeTemplateText(const uint8_t* bytes, size_t size, Str& out);
// Applies the five sections of decoded template text.
void ApplyTemplateText(ProjectRun& run, const Str& text);

}  // namespace scancap
