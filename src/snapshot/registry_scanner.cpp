#include "snapshot/registry_scanner.h"

#include "snapshot/local_accounts.h"
#include "support/console.h"
#include "support/fatal.h"
#include "support/handles.h"

#include <cstddef>
#include <string>

namespace scancap {

namespace {

constexpr REGSAM kScanAccess = KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS;
// Key names are at most 255 characters, value names at most 16383.
constexpr size_t kMaxKeyNameBuffer = 256;
constexpr size_t kMaxValueNameBuffer = 16384;
constexpr int kValueRetries = 4;

struct RootKey {
    const wchar_t* name;
    size_t length;
    HKEY key;
};

const RootKey kRootKeys[] = {
    {L"HKEY_CURRENT_USER", 17, HKEY_CURRENT_USER},
    {L"HKEY_LOCAL_MACHINE", 18, HKEY_LOCAL_MACHINE},
    {L"HKEY_USERS", 10, HKEY_USERS},
};

inline wchar_t AsciiUpper(wchar_t c) { return (c >= L'a' && c <= L'z') ? wchar_t(c - 32) : c; }

bool EqualsAsciiNoCase(const wchar_t* a, size_t aLength, const wchar_t* b, size_t bLength) {
    if (aLength != bLength) return false;
    for (size_t i = 0; i < aLength; ++i) {
        if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
    }
    return true;
}

template <typename T>
void GrowTo(std::vector<T>& buffer, size_t size) {
    if (buffer.size() < size) buffer.resize(size);
}

class RegistryScanner {
public:
    RegistryScanner(SnapshotStore& store, ExcludeList* exclude, RegistryScratch& scratch)
        : store_(store), exclude_(exclude), scratch_(scratch) {
        path_.reserve(512);
        GrowTo(scratch_.subkeyName, kMaxKeyNameBuffer);
    }

    void Scan(HKEY key, const wchar_t* path, size_t length, uint32_t record) {
        path_.assign(path, length);
        ScanKey(key, record);
    }

private:
    void ScanKey(HKEY key, uint32_t record);
    void ReadValue(HKEY key, DWORD index, DWORD& nameLength, DWORD& type, DWORD& dataLength);

    SnapshotStore& store_;
    ExcludeList* exclude_;
    RegistryScratch& scratch_;
    std::wstring path_;
};

// Name, type and data come from one RegEnumValueW call: the same bytes as a
// RegQueryValueExW of the name, one system call fewer per value. Buffers are
// sized from RegQueryInfoKeyW; a value that grew since then (or a name the
// size did not cover) reports ERROR_MORE_DATA and is read again with larger
// buffers.
void RegistryScanner::ReadValue(HKEY key, DWORD index, DWORD& nameLength, DWORD& type, DWORD& dataLength) {
    for (int attempt = 0;; ++attempt) {
        nameLength = DWORD(scratch_.valueName.size());
        dataLength = DWORD(scratch_.valueData.size());
        type = REG_NONE;
        LONG rc = RegEnumValueW(key, index, scratch_.valueName.data(), &nameLength, nullptr, &type,
                                scratch_.valueData.data(), &dataLength);
        if (rc == ERROR_SUCCESS) return;
        if (rc != ERROR_MORE_DATA) {
            if (attempt == 0) Fatal(L"Unable to enumerate registry value %ls index %d", path_.c_str(), int(index));
            Fatal(L"Unable to Query the registry value %ls index %d", path_.c_str(), int(index));
        }
        if (attempt + 1 >= kValueRetries)
            Fatal(L"Unable to Query the registry value %ls index %d", path_.c_str(), int(index));
        // The data length is reported when only the data did not fit; the
        // name length is not reported, so the name buffer goes to the limit.
        if (dataLength > scratch_.valueData.size()) GrowTo(scratch_.valueData, size_t(dataLength) + 2);
        else GrowTo(scratch_.valueData, scratch_.valueData.size() * 2 + 2);
        GrowTo(scratch_.valueName, kMaxValueNameBuffer);
    }
}

void RegistryScanner::ScanKey(HKEY key, uint32_t record) {
    if (exclude_ && exclude_->IsRegistryKeyIgnored(path_.c_str())) return;
    SetCurrentScanPath(path_.c_str(), path_.size());

    // The class name is not recorded, so it is not asked for (a long one
    // could only make the query fail).
    DWORD subkeyCount = 0, longestSubkey = 0, valueCount = 0, longestValueName = 0, longestValueData = 0;
    FILETIME lastWrite{};
    LONG rc = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeyCount, &longestSubkey, nullptr, &valueCount,
                               &longestValueName, &longestValueData, nullptr, &lastWrite);
    if (rc != ERROR_SUCCESS || uint64_t(valueCount) * sizeof(RegValueRecord) > 0xFFFFFFFFu ||
        uint64_t(subkeyCount) * sizeof(RegKeyRecord) > 0xFFFFFFFFu)
        Fatal(L"RegQueryInfoKey failed for %ls", path_.c_str());

    GrowTo(scratch_.subkeyName, size_t(longestSubkey) + 1);
    GrowTo(scratch_.valueName, size_t(longestValueName) + 1);
    GrowTo(scratch_.valueData, size_t(longestValueData) + 2);

    const uint32_t values = store_.Allocate(valueCount * uint32_t(sizeof(RegValueRecord)));
    const uint32_t subkeys = store_.Allocate(subkeyCount * uint32_t(sizeof(RegKeyRecord)));
    RegKeyRecord self;
    if (!store_.ReadKey(record, self)) return;
    self.subkeyCount = subkeyCount;
    self.subkeyOffset = subkeys;
    self.valueCount = valueCount;
    self.valueOffset = values;
    self.lastWriteTime = lastWrite;
    store_.Write(record, self);

    // Values the list leaves out never enter the snapshot, so a capture made
    // with the list never holds them; the list is asked once per key, and per
    // value only for keys it names values of.
    const bool someValuesIgnored = exclude_ && valueCount && exclude_->HasIgnoredValues(path_.c_str());
    uint32_t kept = 0;
    for (DWORD i = 0; i < valueCount; ++i) {
        DWORD nameLength, type, dataLength;
        ReadValue(key, i, nameLength, type, dataLength);
        if (someValuesIgnored &&
            exclude_->IsRegistryValueIgnored(path_.c_str(), scratch_.valueName.data(), nameLength))
            continue;
        RegValueRecord value;
        value.dataOffset = store_.AllocateBytes(scratch_.valueData.data(), dataLength);
        value.nameOffset = store_.AllocateName(scratch_.valueName.data(), nameLength);
        value.type = type;
        value.dataLength = dataLength;
        store_.Write(values + kept++ * uint32_t(sizeof(RegValueRecord)), value);
    }
    if (kept < valueCount) store_.Write(record + uint32_t(offsetof(RegKeyRecord, valueCount)), kept);

    const size_t pathLength = path_.size();
    uint32_t written = 0;
    for (DWORD i = 0; i < subkeyCount; ++i) {
        DWORD nameLength = DWORD(scratch_.subkeyName.size());
        rc = RegEnumKeyExW(key, i, scratch_.subkeyName.data(), &nameLength, nullptr, nullptr, nullptr, nullptr);
        // Fewer subkeys than counted: some were deleted during the scan.
        if (rc == ERROR_NO_MORE_ITEMS) break;
        if (rc != ERROR_SUCCESS) Fatal(L"Unable to enumerate registry subkey %ls index %d", path_.c_str(), int(i));
        const wchar_t* name = scratch_.subkeyName.data();

        const uint32_t slot = subkeys + i * uint32_t(sizeof(RegKeyRecord));
        RegKeyRecord subkey{};
        subkey.nameOffset = store_.AllocateName(name, nameLength);
        store_.Write(slot, subkey);
        written = i + 1;

        RegKey opened;
        rc = RegOpenKeyExW(key, name, 0, kScanAccess, opened.put());
        if (rc == ERROR_ACCESS_DENIED || rc == ERROR_FILE_NOT_FOUND) continue;
        if (rc != ERROR_SUCCESS) Fatal(L"Unable to open registry subkey %ls\\%ls", path_.c_str(), name);

        path_.push_back(L'\\');
        path_.append(name, nameLength);
        try {
            ScanKey(opened.get(), slot);
        } catch (const Str& message) {
            PrintWarning(L"%ls\n", message.c_str());  // silent under -Quiet
            store_.Write(slot, RegKeyRecord{});
        } catch (...) {
            store_.Write(slot, RegKeyRecord{});
        }
        path_.resize(pathLength);
    }
    if (written < subkeyCount) store_.Write(record + uint32_t(offsetof(RegKeyRecord, subkeyCount)), written);

    if (EqualsAsciiNoCase(path_.c_str(), path_.size(), L"HKEY_LOCAL_MACHINE", 18)) AddVirtualLocalAccounts(store_);
}

}  // namespace

void ScanRegistryBase(SnapshotStore& store, const Str& base, uint32_t rootOffset, ExcludeList* exclude,
                      RegistryScratch& scratch) {
    ptrdiff_t separator = base.Find(L'\\');
    const size_t rootLength = separator < 0 ? base.Length() : size_t(separator);
    const wchar_t* subPath = separator < 0 ? L"" : base.c_str() + separator + 1;

    HKEY predefined = nullptr;
    for (const RootKey& root : kRootKeys) {
        if (EqualsAsciiNoCase(base.c_str(), rootLength, root.name, root.length)) {
            predefined = root.key;
            break;
        }
    }
    if (!predefined) {
        Str rootName(base.c_str(), rootLength);
        Fatal(L"Unknown registry base subkey %ls", rootName.c_str());
    }

    RegKey key;
    if (RegOpenKeyExW(predefined, subPath, 0, kScanAccess, key.put()) != ERROR_SUCCESS)
        Fatal(L"Unable to open registry subkey %ls", base.c_str());

    RegKeyRecord root{};
    root.nameOffset = store.AllocateName(base.c_str(), base.Length());
    store.Write(rootOffset, root);
    RegistryScanner scanner(store, exclude, scratch);
    scanner.Scan(key.get(), base.c_str(), base.Length(), rootOffset);
}

void ScanRegistryKey(SnapshotStore& store, HKEY key, const Str& path, uint32_t recordOffset,
                     ExcludeList* exclude, RegistryScratch& scratch) {
    RegistryScanner scanner(store, exclude, scratch);
    scanner.Scan(key, path.c_str(), path.Length(), recordOffset);
}

}  // namespace scancap
