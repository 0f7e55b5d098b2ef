// Reading registry values and file states out of a snapshot store, for the
// suggestion steps that compare what an installer changed.
#pragma once

#include "snapshot/store.h"

namespace scancap {

// The data of value `name` of the key at `key` as text, up to its first zero
// unit; false when the key or value is absent or its data lies outside the
// arena. `type` receives the registry type when given.
bool ReadStringValue(const SnapshotStore& store, uint32_t key, const wchar_t* name, Str& out,
                     uint32_t* type = nullptr);

// Same creation time, last-write time and size: the installer left the file alone.
bool SameFileState(const FileEntry& a, const FileEntry& b);

// FILETIME as one number, for ordering.
inline uint64_t FileTimeValue(const FILETIME& t) { return (uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime; }

}  // namespace scancap
