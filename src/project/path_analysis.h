// Two registry areas that the plain key comparison handles badly. An
// installer that adds a directory to a Path variable rewrites the whole
// value; the project adds only the new directories (as VirtualPath). An
// installer that installs a shared DLL that was there already only raises
// its usage count; the project must still carry the DLL.
#pragma once

#include "project/project_run.h"
#include "snapshot/store.h"
#include "support/str.h"

#include <vector>

namespace scancap {

// The directories that the capture added to the user's and then to the
// machine's Path, in order; a machine directory already listed is not
// repeated.
std::vector<Str> AnalyseEnvironmentPath(const SnapshotStore& post, const SnapshotStore& pre);

// Forces into the project (includedFiles, flags 0) every shared DLL whose
// usage count rose.
void AnalyseSharedDlls(ProjectRun& run, const SnapshotStore& post, const SnapshotStore& pre);

}  // namespace scancap
