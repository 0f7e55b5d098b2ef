// File states of a snapshot store, for the suggestion steps that compare
// what an installer changed.
#pragma once

#include "snapshot/store.h"

namespace scancap {

// Same creation time, last-write time and size: the installer left the file alone.
bool SameFileState(const FileEntry& a, const FileEntry& b);

// FILETIME as one number, for ordering.
inline uint64_t FileTimeValue(const FILETIME& t) { return (uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime; }

}  // namespace scancap
