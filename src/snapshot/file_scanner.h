// The file-system and registry scan of every base into a store.
#pragma once

#include "snapshot/options.h"
#include "snapshot/store.h"

namespace scancap {

// Scans every base of `options` (directories and registry keys) into the
// empty `store`, skipping what the exclusion list ignores.
void ScanAllBases(SnapshotStore& store, const RunOptions& options);

}  // namespace scancap
