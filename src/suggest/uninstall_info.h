// The new uninstall entry of a capture: the name under which the captured
// application is offered, and its icon.
#pragma once

#include "snapshot/store.h"
#include "suggest/entry_point.h"

namespace scancap {

// Compares the uninstall entries of both stores (machine, then current
// user) and picks the new entry with the largest icon (sizes above 48 count
// as 48; a tie goes to the later key). True when there is a new entry: `name`
// gets its display name without trailing spaces and without "[" and "]";
// `icon`, when given, its icon location, else the source of the first
// entry point (the list must then not be empty). `entries` also supply
// icons for entries that name none.
bool FindUninstallInformation(const SnapshotStore& post, const SnapshotStore& pre, Str& name, Str* icon,
                              const EntryList& entries);

// The length of the longest run of consecutive characters of `text` that
// occurs in `other` (case-sensitive).
size_t LongestCommonRun(const Str& text, const Str& other);

}  // namespace scancap
