// The file-system and registry scan of every base into a store.
#pragma once

#include "snapshot/options.h"
#include "snapshot/store.h"
#include "support/str.h"

#include <cstdint>

namespace scancap {

// Scans every base of `options` (directories and registry keys) into the
// empty `store`, skipping what the exclusion list ignores, then records the
// drive letters.
void ScanAllBases(SnapshotStore& store, const RunOptions& options);

// Fills the children of the directory whose FileEntry (already holding the
// directory's own attributes) lies at `entryOffset`, recursively.
void ScanDirectory(SnapshotStore& store, const Str& path, uint32_t entryOffset, const RunOptions& options);

}  // namespace scancap
