// The registry scan: every key below a registry base with its last write
// time and every value with its type and raw data.
#pragma once

#include "snapshot/store.h"
#include "support/exclude_list.h"
#include "support/str.h"
#include "support/win.h"

#include <cstdint>
#include <vector>

namespace scancap {

// Buffers shared by the whole recursion. They only grow, so a scan does no
// heap allocation per key or value once the largest names and data were met.
struct RegistryScratch {
    std::vector<wchar_t> subkeyName;
    std::vector<wchar_t> valueName;
    std::vector<uint8_t> valueData;
};

// One registry base ("HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER\Software\x",
// ...) into the root record at `rootOffset`. Fatal when the root is unknown
// or cannot be opened, and for any failure in the root key itself; failures
// below it cost only the failing subtree (a warning and an all-zero record).
void ScanRegistryBase(SnapshotStore& store, const Str& base, uint32_t rootOffset, ExcludeList* exclude,
                      RegistryScratch& scratch);

// Fills the record at `recordOffset` (its name already set) from the open key
// `key` whose full path is `path`, and everything below it.
void ScanRegistryKey(SnapshotStore& store, HKEY key, const Str& path, uint32_t recordOffset,
                     ExcludeList* exclude, RegistryScratch& scratch);

}  // namespace scancap
