#include "suggest/entry_naming.h"

#include "suggest/entry_discovery.h"
#include "suggest/uninstall_info.h"
#include "support/console.h"

#include <cwchar>

namespace scancap {
namespace {

bool SameText(const Str& a, const Str& b) { return a.EqualsNoCase(b); }

bool StartsTheSame(const EntryPoint& a, const EntryPoint& b) {
    return SameText(a.source, b.source) && SameText(a.arguments, b.arguments) && SameText(a.iconPath, b.iconPath);
}

void TakeShortcuts(EntryPoint& into, const EntryPoint& from) {
    for (const Str& folder : from.shortcuts) AddShortcut(into, folder);
}

// The name without its extension (the text before its last "."), or the
// whole name when it has none.
Str Stem(const Str& name) {
    ptrdiff_t dot = name.FindLast(L'.');
    return dot < 0 ? name : name.Left(size_t(dot));
}

}  // namespace

void MergeAndNameEntries(EntryList& entries) {
    SortEntries(entries);
    // Two discoveries of the same program (a desktop and a start-menu
    // shortcut) become one entry carrying both folders.
    for (size_t i = 0; i < entries.size() && entries[i].enabled; ++i) {
        EntryPoint& first = entries[i];
        for (size_t j = i + 1; j < entries.size();) {
            const EntryPoint& other = entries[j];
            if (StartsTheSame(first, other) && SameText(first.workingDirectory, other.workingDirectory) &&
                SameText(first.name, other.name)) {
                TakeShortcuts(first, other);
                if (other.isBrowser) first.isBrowser = true;
                entries.erase(entries.begin() + ptrdiff_t(j));
            } else {
                ++j;
            }
        }
    }
    // Every entry becomes an INI section, so no two may share a name.
    Str name, otherName;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (!EffectiveName(entries[i], name)) continue;
        int counter = 0;
        for (size_t j = i + 1; j < entries.size();) {
            EntryPoint& other = entries[j];
            if (!EffectiveName(other, otherName) || !SameText(name, otherName)) {
                ++j;
            } else if (!StartsTheSame(entries[i], other) || entries[i].iconIndex != other.iconIndex) {
                other.name.Format(L"%ls (%d).exe", Stem(otherName).c_str(), ++counter);
                ++j;
            } else {
                TakeShortcuts(entries[i], other);
                entries.erase(entries.begin() + ptrdiff_t(j));
            }
        }
    }
}

void CleanEntryNames(EntryList& entries) {
    for (EntryPoint& entry : entries) {
        wchar_t* text = entry.name.Data();
        for (size_t i = 0; i < entry.name.Length(); ++i)
            if (text[i] && wcschr(L"<>:\"/\\|?*", text[i])) text[i] = L'_';
    }
}

void SuggestName(const SnapshotStore& post, const SnapshotStore& pre, ExcludeList& excludeList) {
    EntryList entries;
    DiscoverEntryPoints(post, pre, excludeList, entries);
    Str name;
    if (FindUninstallInformation(post, pre, name, nullptr, entries)) PrintPlain(L"%ls\n", name.c_str());
}

}  // namespace scancap
