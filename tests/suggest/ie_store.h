// A store holding only the Internet Explorer key with its version values.
#pragma once

#include "snapshot/store_builder.h"

#include <utility>
#include <vector>

namespace scancap::testing {

// HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Internet Explorer with the given
// string values (name, data); no key at all when `withKey` is false.
inline void BuildIeStore(SnapshotStore& store, std::vector<std::pair<const wchar_t*, const wchar_t*>> values,
                         bool withKey = true) {
    StoreBuilder b(store);
    b.Begin(0, 1);
    uint32_t root = b.RegistryRoot(0);
    b.Key(root, L"HKEY_LOCAL_MACHINE");
    uint32_t software = StoreBuilder::SubkeyAt(b.Subkeys(root, 1), 0);
    b.Key(software, L"SOFTWARE");
    uint32_t microsoft = StoreBuilder::SubkeyAt(b.Subkeys(software, 1), 0);
    b.Key(microsoft, L"Microsoft");
    uint32_t ie = StoreBuilder::SubkeyAt(b.Subkeys(microsoft, 1), 0);
    b.Key(ie, withKey ? L"Internet Explorer" : L"Internet Explorer Old");
    if (values.empty()) return;
    uint32_t array = b.Values(ie, uint32_t(values.size()));
    for (uint32_t i = 0; i < values.size(); ++i) b.StringValue(array, i, values[i].first, values[i].second);
}

}  // namespace scancap::testing
