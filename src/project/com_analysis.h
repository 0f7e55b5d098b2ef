// COM servers and their registration keys. An installer that replaces a
// server file also rewrites the server's class, interface and type-library
// keys, often with the values they had; the registry pass would drop such
// unchanged keys, so the keys of a server that the capture changed are
// forced into the project with isolation Full.
#pragma once

#include "project/project_run.h"
#include "snapshot/store.h"
#include "support/str.h"

namespace scancap {

// Records the server files of the class keys of HKEY_LOCAL_MACHINE and
// HKEY_CURRENT_USER, then of their type libraries, in the run's COM maps.
// Runs on the post store before generation.
void ScanComRegistrations(ProjectRun& run, const SnapshotStore& post);

// Called by the file pass before a modified file is copied: a recorded
// server, unless includedFiles keeps it from counting, is flagged changed
// and counted in run.changedComServers.
void NoteModifiedFile(ProjectRun& run, const Str& path);

// Does the CLSID, Interface or TypeLib key belong to a changed server?
bool IsChangedComKey(const ProjectRun& run, const SnapshotStore& post, const Str& keyPath);

// The server file that a server key's command text names: unquoted, without
// switches, environment variables expanded, found on the search path when
// no such file exists, in its long form, upper-cased. Empty when the text
// names nothing.
Str ServerFileFromCommand(const Str& command);

}  // namespace scancap
