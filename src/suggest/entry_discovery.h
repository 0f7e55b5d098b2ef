// Entry-point discovery: the programs, scripts, control-panel files and
// shortcuts an installation created, and the fixed diagnostic and browser
// entries every overview offers.
#pragma once

#include "snapshot/store.h"
#include "suggest/entry_point.h"
#include "support/exclude_list.h"

#include <cstdint>

namespace scancap {

struct DiscoveryResult {
    uint64_t totalNewBytes = 0;  // every new or changed file that is not excluded
    bool saw32BitProgram = false;
    bool saw64BitProgram = false;
};

// Walks the files of `post` that `pre` does not hold unchanged and appends
// an entry for each program, script, control-panel applet and shortcut.
DiscoveryResult DiscoverEntryPoints(const SnapshotStore& post, const SnapshotStore& pre, ExcludeList& excludeList,
                                    EntryList& entries);

// Appends cmd.exe and regedit.exe (debug entries) and the browser entries
// that `ieSelection` asks for (negative: offered for debugging only; 0:
// none; 1: the current browser; 2: the version-6 browser).
void AddFixedEntries(const SnapshotStore& post, const SnapshotStore& pre, int32_t ieSelection, EntryList& entries);

}  // namespace scancap
