#include "report/machine_overview.h"

namespace scancap {

// Not written yet: projects are generated without a support report for now.
// The report will be the title line "Capture Machine Overview" in UTF-16LE
// followed by the machine-state lines of the logging library
// (Logging64.dll, export GetLoggingInterfaceObject), or by the line saying
// that the library could not be loaded.
void WriteCaptureMachineOverview(const Str& folder) {
    (void)folder;
}

}  // namespace scancap
