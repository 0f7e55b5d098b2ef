#include "suggest/store_values.h"

#include <cstring>
#include <cwchar>

namespace scancap {

bool ReadStringValue(const SnapshotStore& store, uint32_t key, const wchar_t* name, Str& out, uint32_t* type) {
    uint32_t valueOffset = key ? store.FindValue(key, name) : 0;
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
    if (type) *type = value.type;
    return true;
}

bool SameFileState(const FileEntry& a, const FileEntry& b) {
    return FileTimeValue(a.creationTime) == FileTimeValue(b.creationTime) &&
           FileTimeValue(a.lastWriteTime) == FileTimeValue(b.lastWriteTime) && a.sizeHigh == b.sizeHigh &&
           a.sizeLow == b.sizeLow;
}

}  // namespace scancap
