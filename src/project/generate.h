// Project generation: walks the post-install store, compares each entry with
// the pre-install store and writes (Diff) or prints (DiffPrint) the project.
#pragma once

#include "snapshot/store.h"
#include "support/str.h"

namespace scancap {

// The whole run: templates, analyses, file pass, support report, registry
// pass and, in Diff mode, Package.ini with the folder attributes and
// build.bat.
void GenerateProject(SnapshotStore& post, SnapshotStore& pre, const Str& outputDir);

// Loads the templates named by the enabled sections of a project overview
// file into `post` and records them in TemplateNames().
void LoadOverviewTemplates(SnapshotStore& post, const Str& overviewFile);

}  // namespace scancap
