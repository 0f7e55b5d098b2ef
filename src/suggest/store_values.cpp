#include "suggest/store_values.h"

namespace scancap {

bool ReadStringValue(const SnapshotStore& store, uint32_t key, const wchar_t* name, Str& out, uint32_t* type) {
    uint32_t valueOffset = key ? store.FindValue(key, name) : 0;
    RegValueRecord value;
    if (valueOffset == 0 || !store.ReadValue(valueOffset, value) || !ReadStringData(store, value, out)) return false;
    if (type) *type = value.type;
    return true;
}

Str KeyName(const SnapshotStore& store, uint32_t key) {
    RegKeyRecord record;
    if (!store.ReadKey(key, record)) return Str();
    NameView view = store.Name(record.nameOffset);
    return Str(view.text, view.length);
}

Str ExpandEnvironment(const Str& text) {
    Str out;
    DWORD room = DWORD(text.Length()) + 1;
    for (;;) {
        out.Reserve(room, true);
        DWORD needed = ExpandEnvironmentStringsW(text.c_str(), out.Data(), room);
        if (needed == 0) return text;
        if (needed <= room) {
            out.SetLength(needed - 1);
            return out;
        }
        room = needed;
    }
}

bool SameFileState(const FileEntry& a, const FileEntry& b) {
    return FileTimeValue(a.creationTime) == FileTimeValue(b.creationTime) &&
           FileTimeValue(a.lastWriteTime) == FileTimeValue(b.lastWriteTime) && a.sizeHigh == b.sizeHigh &&
           a.sizeLow == b.sizeLow;
}

}  // namespace scancap
