// Project generation: walks the post-install store, compares each entry with
// the pre-install store and writes (Diff) or prints (DiffPrint) the project.
#pragma once

#include "snapshot/store.h"
#include "support/str.h"

namespace scancap {

void GenerateProject(SnapshotStore& post, SnapshotStore& pre, const Str& outputDir);

}  // namespace scancap
