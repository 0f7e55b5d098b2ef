// File states of a snapshot store, for the suggestion steps that compare
// what an installer changed.
#pragma once

#include "snapshot/store.h"

namespace scancap {

// ReadStringValue (snapshot/store.h) for a key that may be absent (0), which
// also gives the value's registry type when `type` is not null.
bool ReadStringValue(const SnapshotStore& store, uint32_t key, const wchar_t* name, Str& out, uint32_t* type);

// The name of the key at `key`; empty when it cannot be read.
Str KeyName(const SnapshotStore& store, uint32_t key);

// Calls `visit` with the offset of every readable subkey of the key at `key`
// (none when `key` is 0).
template <typename Visit>
void ForEachSubkey(const SnapshotStore& store, uint32_t key, Visit visit) {
    RegKeyRecord record;
    if (key == 0 || !store.ReadKey(key, record)) return;
    uint32_t count = store.SubkeyCount(key, record);
    for (uint32_t i = 0; i < count; ++i)
        if (uint32_t subkey = store.Subkey(key, record, i)) visit(subkey);
}

// `text` with its environment-variable references expanded by this
// process's environment; `text` itself when the expansion fails.
Str ExpandEnvironment(const Str& text);

// Same creation time, last-write time and size: the installer left the file alone.
bool SameFileState(const FileEntry& a, const FileEntry& b);

// FILETIME as one number, for ordering.
inline uint64_t FileTimeValue(const FILETIME& t) { return (uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime; }

}  // namespace scancap
