// The Windows Installer components that a capture registered. A component
// can install files and keys that the machine already had, unchanged, which
// the plain comparison would leave out of the project.
#pragma once

#include "project/project_run.h"
#include "snapshot/store.h"

namespace scancap {

// Over the components registered under the installer's UserData key:
// a new component whose key path is an unchanged file or key forces it
// (flag 2); a product the capture added to a component that was there
// before is read from its installer database, which forces the files and
// keys of its components (flag 0).
void AnalyseInstallerComponents(ProjectRun& run, const SnapshotStore& post, const SnapshotStore& pre);

}  // namespace scancap
