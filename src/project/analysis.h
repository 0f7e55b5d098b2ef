// Analyses that run before the file and registry passes and fill the post
// store's override tables: COM registrations, environment path, shared DLLs
// and installer components.
#pragma once

#include "snapshot/store.h"
#include "support/str.h"

#include <cstdint>
#include <vector>

namespace scancap {

// Records the COM servers of the post store for the registry pass.
void ScanComRegistrations(SnapshotStore& post);

// Count of modified files that are COM servers; raised by the file pass and
// read by the registry pass.
uint32_t& ChangedComServerCount();
// Called by the file pass before a modified file is copied.
void NoteModifiedFile(SnapshotStore& post, const Str& path);
// The COM test of a CLSID, Interface or TypeLib key path.
bool IsChangedComKey(SnapshotStore& post, SnapshotStore& pre, const Str& keyPath);

// Environment path and shared-DLL analysis; returns the new path directories.
std::vector<Str> AnalyseEnvironmentPath(SnapshotStore& post, SnapshotStore& pre);
void AnalyseSharedDlls(SnapshotStore& post, SnapshotStore& pre);
// Installer components under the UserData key; products go to the installer
// database reader.
void AnalyseInstallerComponents(SnapshotStore& post, SnapshotStore& pre);

}  // namespace scancap
