// Snapshot files: the magic "SnapshotVersion2" followed by the used bytes of
// a store's arena. Both operations raise Fatal on failure.
#pragma once

#include "snapshot/store.h"
#include "support/str.h"

namespace scancap {

// Writes the store; refuses directories and program images.
void SaveSnapshot(const SnapshotStore& store, const Str& fileName);
// Fills a new, empty store from the file.
void LoadSnapshot(SnapshotStore& store, const Str& fileName);

}  // namespace scancap
