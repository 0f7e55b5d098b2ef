// The support report every project carries: "Support\Capture Machine
// Overview.txt", describing the machine the capture was made on.
#pragma once

#include "support/str.h"

namespace scancap {

// Writes the report for the current machine into folder\Support.
void WriteCaptureMachineOverview(const Str& folder);

}  // namespace scancap
