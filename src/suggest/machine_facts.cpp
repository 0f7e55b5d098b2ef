#include "suggest/machine_facts.h"

#include <cstring>
#include <cwchar>

namespace scancap {
namespace {

constexpr wchar_t kInternetExplorerKey[] = L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Internet Explorer";

// String data of a value, up to its first zero unit; false when the value is
// absent (or its data lies outside the arena).
bool ReadStringValue(const SnapshotStore& store, uint32_t key, const wchar_t* name, Str& out) {
    uint32_t valueOffset = store.FindValue(key, name);
    RegValueRecord value;
    if (valueOffset == 0 || !store.ReadValue(valueOffset, value)) return false;
    const uint8_t* data = store.DataAt(value.dataOffset, value.dataLength);
    if (!data) return false;
    size_t units = value.dataLength / sizeof(wchar_t);
    // The arena gives no alignment guarantee for data blocks.
    out.Reserve(units + 1, true);
    wchar_t* text = out.Data();
    std::memcpy(text, data, units * sizeof(wchar_t));
    text[units] = L'\0';
    out.SetLength(wcslen(text));
    return true;
}

Str InternetExplorerVersion(const SnapshotStore& store, bool preferServiceVersion) {
    Str version;
    uint32_t key = store.FindKeyByPath(kInternetExplorerKey);
    if (key == 0) return version;
    if (preferServiceVersion && ReadStringValue(store, key, L"svcVersion", version)) return version;
    if (!ReadStringValue(store, key, L"Version", version)) version.Clear();
    return version;
}

bool StartsWithNoCase(const Str& text, const wchar_t* prefix) {
    int length = static_cast<int>(wcslen(prefix));
    if (text.Length() < static_cast<size_t>(length)) return false;
    return CompareStringOrdinal(text.c_str(), length, prefix, length, TRUE) == CSTR_EQUAL;
}

}  // namespace

bool IEUpgradeTest(const SnapshotStore& pre, const SnapshotStore& post, const wchar_t* fromPrefix,
                   const wchar_t* toPrefix) {
    Str preVersion = InternetExplorerVersion(pre, false);
    Str postVersion = InternetExplorerVersion(post, true);
    if (preVersion.IsEmpty() || postVersion.IsEmpty() || preVersion.EqualsNoCase(postVersion)) return false;
    if (fromPrefix && !StartsWithNoCase(preVersion, fromPrefix)) return false;
    return StartsWithNoCase(postVersion, toPrefix);
}

void SetUpgradeFlags(const SnapshotStore& pre, const SnapshotStore& post, UpgradeFlags& flags) {
    flags.ieUpgrade6To7 = IEUpgradeTest(pre, post, L"6.", L"7.");
    flags.ieUpgradeTo7To9 = IEUpgradeTest(pre, post, nullptr, L"7.") || IEUpgradeTest(pre, post, nullptr, L"8.") ||
                            IEUpgradeTest(pre, post, nullptr, L"9.");
    flags.ieUpgradeTo10 = IEUpgradeTest(pre, post, nullptr, L"10.");
    flags.ieUpgradeTo11 = IEUpgradeTest(pre, post, nullptr, L"11.");
}

}  // namespace scancap
