// Entry names: merging duplicate entry points, unique section names, the
// characters a section name may not hold, and the -SuggestName mode.
#pragma once

#include "snapshot/store.h"
#include "suggest/entry_point.h"
#include "support/exclude_list.h"

namespace scancap {

// Sorts the list, merges entries that start the same thing with the same
// name into the first of them, and renames later entries whose name clashes
// with an earlier one to "<stem> (<n>).exe".
void MergeAndNameEntries(EntryList& entries);

// Replaces each of < > : " / \ | ? * in every entry's name by "_".
void CleanEntryNames(EntryList& entries);

// The -SuggestName mode: prints the display name of the new uninstall entry
// of the capture followed by a newline, or nothing when there is none.
void SuggestName(const SnapshotStore& post, const SnapshotStore& pre, ExcludeList& excludeList);

}  // namespace scancap
