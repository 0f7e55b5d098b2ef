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

// The form of `path` handed to the file system: unchanged when short, with
// 8.3 directory names from 180 characters on, and in the "\\?\" form when it
// is still too long for the plain Win32 calls.
Str ScannerSystemPath(const Str& path);

}  // namespace scancap
