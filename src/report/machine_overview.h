// The support report every project carries: "Support\Capture Machine
// Overview.txt", describing the machine the capture was made on. Its body
// comes from the logging library "Logging64.dll"; a native install shows the
// capture machine's operating system and user next to this machine's.
#pragma once

#include "support/handles.h"
#include "support/str.h"

namespace scancap {

// Writes the report for the current machine into folder\Support: UTF-16LE
// with a byte-order mark, the title line, then the library's lines, or one
// line saying that the library could not be had.
void WriteCaptureMachineOverview(const Str& folder);

// The logging library from the first place it loads: the program's folder,
// the folder of the path in VX_ORIGIN, the folder in VENDRIX_BIN. Empty
// when none.
Module LoadLoggingLibrary();

// The first "Operating system:" and "User name:" lines of a report, label
// included (empty when absent or unreadable).
void ReadOverviewFacts(const Str& file, Str& operatingSystem, Str& userName);

// Prints the capture machine's facts (from the capture folder's report)
// and this machine's. The capture folder keeps its report: this machine's is
// written beside it only for as long as it is read.
void ShowCaptureAndDeployedMachine(const Str& captureFolder);

}  // namespace scancap
