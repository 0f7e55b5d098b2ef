// Helpers shared by the scanner tests: an exclusion list that records every
// question, and a checked walk of the records a scan wrote.
#pragma once

#include "snapshot/store.h"
#include "support/console.h"
#include "support/exclude_list.h"

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace scancap::testing {

// Answers from two sets of ignored paths (exact text) and records every
// question with the scan path the scanner had published when it was asked.
// A hook may run, or throw, on a registry question.
class RecordingExcludeList : public ExcludeList {
public:
    std::set<std::wstring> ignoredFiles;
    std::set<std::wstring> ignoredKeys;
    std::vector<std::wstring> fileQueries;
    std::vector<std::wstring> keyQueries;
    std::vector<std::wstring> scanPathAtQuery;
    std::function<void(const std::wstring&)> onKeyQuery;

    bool IsFileIgnored(const wchar_t* path) override {
        fileQueries.emplace_back(path);
        Str current = CurrentScanPath();
        scanPathAtQuery.emplace_back(current.c_str(), current.Length());
        return ignoredFiles.count(path) != 0;
    }
    bool IsRegistryKeyIgnored(const wchar_t* keyPath) override {
        keyQueries.emplace_back(keyPath);
        Str current = CurrentScanPath();
        scanPathAtQuery.emplace_back(current.c_str(), current.Length());
        if (onKeyQuery) onKeyQuery(keyPath);
        return ignoredKeys.count(keyPath) != 0;
    }

    void LoadListFile(const wchar_t*) override {}
    bool FindAndLoad(const wchar_t*, Str&) override { return false; }
    bool IsForcedWriteCopy(const wchar_t*) override { return false; }
    void AddRegistryIgnore(const wchar_t*) override {}
    void AddFileIgnore(const wchar_t*) override {}
    bool IsIE6To7UpgradeRegistryLocation(const wchar_t*) override { return false; }
    bool IsIE6To7UpgradeFileLocation(const wchar_t*) override { return false; }
    bool IsIE10ExcludedFile(const wchar_t*) override { return false; }
    bool IsIE11UpgradeFileLocation(const wchar_t*) override { return false; }
    bool IsIE11ExcludedFile(const wchar_t*) override { return false; }
};

// What a scan is given: its bases and the exclusion list that owns.
struct ScanOptions {
    std::unique_ptr<ExcludeList> excludeList;
    std::vector<Str> bases;
};

// The given bases and a recording exclusion list (returned through `list`,
// owned by the options).
inline ScanOptions MakeScanOptions(std::vector<Str> bases, RecordingExcludeList** list = nullptr) {
    ScanOptions options;
    auto recording = std::make_unique<RecordingExcludeList>();
    if (list) *list = recording.get();
    options.excludeList = std::move(recording);
    options.bases = std::move(bases);
    return options;
}

inline std::wstring NameAt(const SnapshotStore& store, uint32_t offset) {
    NameView name = store.Name(offset);
    return std::wstring(name.text, name.length);
}

inline FileEntry EntryAt(const SnapshotStore& store, uint32_t offset) {
    FileEntry entry{};
    store.ReadFileEntry(offset, entry);
    return entry;
}

inline RegKeyRecord KeyAt(const SnapshotStore& store, uint32_t offset) {
    RegKeyRecord key{};
    store.ReadKey(offset, key);
    return key;
}

// Offset of the child named `name` of the entry at `offset`, 0 when absent.
inline uint32_t ChildNamed(const SnapshotStore& store, uint32_t offset, const std::wstring& name) {
    FileEntry entry = EntryAt(store, offset);
    for (uint32_t i = 0; i < store.ChildCount(offset, entry); ++i) {
        uint32_t child = store.ChildEntry(offset, entry, i);
        if (NameAt(store, EntryAt(store, child).nameOffset) == name) return child;
    }
    return 0;
}

inline std::vector<std::wstring> ChildNames(const SnapshotStore& store, uint32_t offset) {
    std::vector<std::wstring> names;
    FileEntry entry = EntryAt(store, offset);
    for (uint32_t i = 0; i < store.ChildCount(offset, entry); ++i)
        names.push_back(NameAt(store, EntryAt(store, store.ChildEntry(offset, entry, i)).nameOffset));
    return names;
}

inline uint32_t SubkeyNamed(const SnapshotStore& store, uint32_t offset, const std::wstring& name) {
    RegKeyRecord key = KeyAt(store, offset);
    for (uint32_t i = 0; i < store.SubkeyCount(offset, key); ++i) {
        uint32_t sub = store.Subkey(offset, key, i);
        if (sub && NameAt(store, KeyAt(store, sub).nameOffset) == name) return sub;
    }
    return 0;
}

}  // namespace scancap::testing
