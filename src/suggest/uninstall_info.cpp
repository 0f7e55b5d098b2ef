#include "suggest/uninstall_info.h"

#include "suggest/icon_images.h"
#include "suggest/store_values.h"
#include "support/name_encoding.h"

#include <msi.h>

#include <cwchar>
#include <set>

namespace scancap {
namespace {

constexpr const wchar_t* kUninstallRoots[] = {
    L"HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
    L"HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
};
constexpr uint32_t kIconSizeLimit = 48;  // larger icons do not count as better
constexpr DWORD kProductIconChars = 260;

// The entry name of an uninstall key: its "DisplayName", else the key's name.
Str EntryName(const SnapshotStore& store, uint32_t key) {
    Str name;
    if (ReadStringValue(store, key, L"DisplayName", name)) return name;
    return KeyName(store, key);
}

// The largest image width of an icon location ("path" or "path,index").
uint32_t IconSize(const Str& location) {
    if (location.IsEmpty()) return 0;
    ptrdiff_t slash = location.FindLast(L'\\');
    ptrdiff_t comma = location.FindLast(L',');
    Str path = location;
    int32_t group = -1;
    if (comma > slash) {
        path = location.Left(size_t(comma));
        group = -int32_t(wcstol(location.c_str() + comma + 1, nullptr, 10));
    }
    Str machinePath;
    DecodeProjectPath(path, machinePath);
    std::vector<uint32_t> widths;
    ListIconImages(machinePath.c_str(), group, widths);
    uint32_t largest = 0;
    for (uint32_t width : widths) largest = width > largest ? width : largest;
    return largest;
}

// The icon that the installer's own product information names, when it holds an image.
bool ProductIcon(const Str& productCode, Str& out) {
    wchar_t buffer[kProductIconChars];
    DWORD length = kProductIconChars;
    if (MsiGetProductInfoW(productCode.c_str(), INSTALLPROPERTY_PRODUCTICON, buffer, &length) != ERROR_SUCCESS)
        return false;
    out = ExpandEnvironment(Str(buffer, length));
    std::vector<uint32_t> widths;
    ListIconImages(out.c_str(), 0, widths);
    return !widths.empty();
}

Str WithoutExtension(const Str& name) {
    ptrdiff_t dot = name.FindLast(L'.');
    return dot < 0 ? name : name.Left(size_t(dot));
}

// The entry whose name or comment shares the longest run of characters with
// the display name, a run counting only when longer than half of it.
const EntryPoint* BestMatchingEntry(const Str& displayName, const EntryList& entries) {
    const EntryPoint* best = nullptr;
    size_t bestRun = 0;
    for (const EntryPoint& entry : entries) {
        Str name = entry.name.IsEmpty() ? entry.source.Mid(size_t(entry.source.FindLast(L'\\') + 1)) : entry.name;
        size_t run = LongestCommonRun(displayName, WithoutExtension(name));
        size_t commentRun = LongestCommonRun(displayName, entry.comment);
        if (commentRun > run) run = commentRun;
        if (run * 2 > displayName.Length() && run > bestRun) {
            bestRun = run;
            best = &entry;
        }
    }
    return best;
}

Str IconOfEntry(const EntryPoint& entry) {
    Str icon;
    if (entry.iconPath.IsEmpty())
        icon = entry.source;
    else if (entry.iconIndex != 0)
        icon.Format(L"%ls,%d", entry.iconPath.c_str(), entry.iconIndex);
    else
        icon = entry.iconPath;
    return icon;
}

struct Candidate {
    Str name;
    Str icon;
    uint32_t iconSize = 0;
    uint64_t keyTime = 0;
};

Candidate MakeCandidate(const SnapshotStore& post, uint32_t key, Str entryName, const EntryList& entries) {
    Candidate candidate;
    size_t length = entryName.Length();
    while (length > 0 && entryName[length - 1] == L' ') --length;
    entryName.SetLength(length);
    candidate.name = std::move(entryName);

    RegKeyRecord record{};
    post.ReadKey(key, record);
    candidate.keyTime = FileTimeValue(record.lastWriteTime);
    NameView keyName = post.Name(record.nameOffset);
    if (!ProductIcon(Str(keyName.text, keyName.length), candidate.icon) &&
        !ReadStringValue(post, key, L"DisplayIcon", candidate.icon)) {
        const EntryPoint* match = BestMatchingEntry(candidate.name, entries);
        candidate.icon = match ? IconOfEntry(*match) : Str();
    }
    candidate.iconSize = IconSize(candidate.icon);
    return candidate;
}

uint32_t Limited(uint32_t size) { return size < kIconSizeLimit ? size : kIconSizeLimit; }

}  // namespace

size_t LongestCommonRun(const Str& text, const Str& other) {
    // Lengths of the common runs that end at each position of `other`, one
    // row per character of `text`.
    std::vector<size_t> previous(other.Length() + 1, 0), current(other.Length() + 1, 0);
    size_t longest = 0;
    for (size_t i = 0; i < text.Length(); ++i) {
        for (size_t j = 0; j < other.Length(); ++j) {
            current[j + 1] = text[i] == other[j] ? previous[j] + 1 : 0;
            if (current[j + 1] > longest) longest = current[j + 1];
        }
        std::swap(previous, current);
    }
    return longest;
}

bool FindUninstallInformation(const SnapshotStore& post, const SnapshotStore& pre, Str& name, Str* icon,
                              const EntryList& entries) {
    bool found = false;
    Candidate best;
    for (const wchar_t* root : kUninstallRoots) {
        std::set<Str> before;
        ForEachSubkey(pre, pre.FindKeyByPath(root), [&](uint32_t key) { before.insert(EntryName(pre, key)); });
        ForEachSubkey(post, post.FindKeyByPath(root), [&](uint32_t key) {
            Str entryName = EntryName(post, key);
            if (before.count(entryName)) return;
            Candidate candidate = MakeCandidate(post, key, std::move(entryName), entries);
            uint32_t size = Limited(candidate.iconSize), bestSize = Limited(best.iconSize);
            if (!found || size > bestSize || (size == bestSize && candidate.keyTime > best.keyTime)) {
                best = std::move(candidate);
                found = true;
            }
        });
    }
    if (!found) return false;
    name.Clear();
    for (size_t i = 0; i < best.name.Length(); ++i)
        if (best.name[i] != L'[' && best.name[i] != L']') name += best.name[i];
    if (icon) *icon = best.icon.IsEmpty() && !entries.empty() ? entries.front().source : best.icon;
    return true;
}

}  // namespace scancap
