// Project generation: walks the post-install store, compares each entry with
// the pre-install store and writes (Diff) or prints (DiffPrint) the project.
#pragma once

#include "project/project_run.h"
#include "snapshot/store.h"
#include "support/str.h"

namespace scancap {

// The whole run: templates, analyses, file pass, support report, registry
// pass and, unless printing, Package.ini with the folder attributes and
// build.bat.
void GenerateProject(ProjectRun& run, const SnapshotStore& post, const SnapshotStore& pre);

// Loads the templates named by the enabled sections of a project overview
// file into the run and records them in run.templateNames.
void LoadOverviewTemplates(ProjectRun& run, const Str& overviewFile);

}  // namespace scancap
