// The file-system and registry scan of every base into a store.
#pragma once

#include "snapshot/store.h"
#include "support/exclude_list.h"
#include "support/str.h"

#include <cstdint>
#include <vector>

namespace scancap {

// Scans every base (directories and registry keys) into the empty `store`,
// skipping what `exclude` ignores (nothing when it is null), then records the
// drive letters.
void ScanAllBases(SnapshotStore& store, const std::vector<Str>& bases, ExcludeList* exclude);

// Fills the children of the directory whose FileEntry (already holding the
// directory's own attributes) lies at `entryOffset`, recursively.
void ScanDirectory(SnapshotStore& store, const Str& path, uint32_t entryOffset, ExcludeList* exclude);

}  // namespace scancap
