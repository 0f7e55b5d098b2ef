#include "suggest/entry_point.h"

#include <algorithm>

namespace scancap {

bool EffectiveName(const EntryPoint& entry, Str& out) {
    if (!entry.name.IsEmpty()) {
        out = entry.name;
        return true;
    }
    ptrdiff_t slash = entry.source.FindLast(L'\\');
    if (slash < 0) return false;
    out = entry.source.Mid(size_t(slash + 1));
    return true;
}

void SortEntries(EntryList& entries) {
    std::stable_sort(entries.begin(), entries.end(), [](const EntryPoint& a, const EntryPoint& b) {
        if (a.forDebugOnly != b.forDebugOnly) return !a.forDebugOnly;
        if (a.enabled != b.enabled) return a.enabled;
        return a.isProgram && !b.isProgram;
    });
}

void AddShortcut(EntryPoint& entry, const Str& folder) {
    for (const Str& existing : entry.shortcuts)
        if (existing.EqualsNoCase(folder)) return;
    entry.shortcuts.push_back(folder);
}

}  // namespace scancap
