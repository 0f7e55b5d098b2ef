// Builds small registry stores for the registry-writer tests: a list of
// roots, each a tree of keys with typed values, laid out in the arena the
// way a scan lays them out (a key's name after its parent's, subkey arrays
// after the key that owns them).
#pragma once

#include "snapshot/store.h"

#include <cstdint>
#include <string>
#include <vector>

namespace scancap::testing {

struct TestValue {
    std::wstring name;
    uint32_t type;
    std::string data;  // raw bytes
};

struct TestKey {
    std::wstring name;
    std::vector<TestValue> values;
    std::vector<TestKey> subkeys;
};

// REG_SZ-style data: the UTF-16LE bytes of text and its terminating NUL.
inline std::string SzData(const std::wstring& text) {
    std::string bytes;
    for (wchar_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    bytes.append(2, '\0');
    return bytes;
}

inline std::string DwordData(uint32_t v) {
    return std::string{static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF),
                       static_cast<char>((v >> 16) & 0xFF), static_cast<char>(v >> 24)};
}

inline TestValue Sz(const std::wstring& name, const std::wstring& text) { return {name, REG_SZ, SzData(text)}; }
inline TestValue Dword(const std::wstring& name, uint32_t v) { return {name, REG_DWORD, DwordData(v)}; }

namespace detail {

inline void FillKey(SnapshotStore& store, uint32_t at, const TestKey& key) {
    RegKeyRecord record{};
    record.nameOffset = store.AllocateName(key.name.c_str(), key.name.size());
    record.valueCount = static_cast<uint32_t>(key.values.size());
    if (!key.values.empty()) {
        std::vector<RegValueRecord> values;
        for (const TestValue& v : key.values) {
            RegValueRecord r{};
            r.nameOffset = store.AllocateName(v.name.c_str(), v.name.size());
            r.type = v.type;
            r.dataLength = static_cast<uint32_t>(v.data.size());
            r.dataOffset = store.AllocateBytes(v.data.data(), r.dataLength);
            values.push_back(r);
        }
        record.valueOffset = store.Allocate(static_cast<uint32_t>(16 * values.size()));
        for (size_t i = 0; i < values.size(); ++i) {
            store.Write(record.valueOffset + static_cast<uint32_t>(16 * i), values[i]);
        }
    }
    record.subkeyCount = static_cast<uint32_t>(key.subkeys.size());
    if (!key.subkeys.empty()) {
        record.subkeyOffset = store.Allocate(static_cast<uint32_t>(28 * key.subkeys.size()));
    }
    store.Write(at, record);
    for (size_t i = 0; i < key.subkeys.size(); ++i) {
        FillKey(store, record.subkeyOffset + static_cast<uint32_t>(28 * i), key.subkeys[i]);
    }
}

}  // namespace detail

// Fills an empty store with the given registry roots (root names are full
// paths such as "HKEY_LOCAL_MACHINE\SOFTWARE").
inline void BuildRegistry(SnapshotStore& store, const std::vector<TestKey>& roots) {
    uint32_t header = store.Allocate(sizeof(SnapshotHeader));
    SnapshotHeader h{};
    h.registryRootCount = static_cast<uint32_t>(roots.size());
    h.registryRootOffset = store.Allocate(static_cast<uint32_t>(28 * roots.size()));
    store.Write(header, h);
    for (size_t i = 0; i < roots.size(); ++i) {
        detail::FillKey(store, h.registryRootOffset + static_cast<uint32_t>(28 * i), roots[i]);
    }
}

}  // namespace scancap::testing
