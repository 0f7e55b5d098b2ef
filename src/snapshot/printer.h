// The listing of a snapshot on standard output: files and directories, keys
// with their values, then the drives.
#pragma once

#include "snapshot/store.h"

namespace scancap {

void PrintSnapshot(const SnapshotStore& store);

}  // namespace scancap
