// Analyses that run before the file and registry passes and fill the post
// store's override tables: COM registrations, environment path, shared DLLs
// and installer components.
#pragma once

#include "project/project_run.h"
#include "snapshot/store.h"
#include "support/str.h"

#include <cstdint>
#include <vector>

namespace scancap {

// Records the COM servers of the post store in the run for the registry pass.
void ScanComRegistrations(ProjectRun& run, const SnapshotStore& post);

// Called by the file pass before a modified file is copied: a recorded
// server counts as changed (run.changedComServers).
void NoteModifiedFile(ProjectRun& run, const Str& path);
// The COM test of a CLSID, Interface or TypeLib key path.
bool IsChangedComKey(const ProjectRun& run, const SnapshotStore& post, const Str& keyPath);

// Environment path and shared-DLL analysis; returns the new path directories.
std::vector<Str> AnalyseEnvironmentPath(const SnapshotStore& post, const SnapshotStore& pre);
void AnalyseSharedDlls(ProjectRun& run, const SnapshotStore& post, const SnapshotStore& pre);
// Installer components under the UserData key; products go to the installer
// database reader.
void AnalyseInstallerComponents(ProjectRun& run, const SnapshotStore& post, const SnapshotStore& pre);

}  // namespace scancap
