// Exclusion lists: eight prefix trees of path components, filled from the
// sections of one INI file and asked by the scanners for every directory and
// key they meet. Queries walk the caller's text through (pointer, length)
// views, so they never write to it, never allocate on the heap for a path of
// ordinary length, and can run from any thread once loading is done.
#include "support/exclude_list.h"

#include "support/fatal.h"
#include "support/name_encoding.h"
#include "support/win.h"

#include <algorithm>
#include <cwchar>
#include <iterator>
#include <memory>
#include <new>
#include <vector>

namespace scancap {

namespace {

// One path component of one or more entries.
struct ExcludeNode {
    bool isPattern = false;   // holds "*" or "?": compared by wildcard
    Str name;                 // the component as written in the entry
    bool isTerminal = false;  // some entry ends here
    std::vector<ExcludeNode> children;
    std::vector<Str> valueNames;  // patterns of the values left out of this key
};

using NodeList = std::vector<ExcludeNode>;

enum class MatchMode { BelowLeaf, Exact };

// ASCII is by far the common case; the NT table handles the rest.
inline wchar_t Upcase(wchar_t c) {
    if (c < 0x80) return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - (L'a' - L'A')) : c;
    return RtlUpcaseUnicodeChar(c);
}

bool EqualNoCase(const wchar_t* a, size_t aLength, const wchar_t* b, size_t bLength) {
    if (aLength != bLength) return false;
    for (size_t i = 0; i < aLength; ++i) {
        if (a[i] != b[i] && Upcase(a[i]) != Upcase(b[i])) return false;
    }
    return true;
}

bool HasWildcard(const wchar_t* text, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        if (text[i] == L'*' || text[i] == L'?') return true;
    }
    return false;
}

// A view of a path split at its first backslash. `hasRest` tells "a\" (an
// empty rest after a separator) from "a" (no separator at all).
struct Split {
    const wchar_t* head;
    size_t headLength;
    const wchar_t* rest;
    size_t restLength;
    bool hasRest;
};

Split SplitFirst(const wchar_t* text, size_t length) {
    const wchar_t* sep = static_cast<const wchar_t*>(std::wmemchr(text, L'\\', length));
    if (!sep) return {text, length, text + length, 0, false};
    size_t headLength = static_cast<size_t>(sep - text);
    return {text, headLength, sep + 1, length - headLength - 1, true};
}

// Anchored wildcard compare of one component. Runs the pattern as a small
// NFA over the name (one pass, no backtracking), so hostile patterns with many
// stars cost pattern-length times name-length at worst.
bool WildcardMatch(const wchar_t* name, size_t nameLength, const wchar_t* pattern, size_t patternLength) {
    if (patternLength == 3 && pattern[0] == L'*' && pattern[1] == L'.' && pattern[2] == L'*') {
        patternLength = 1;
    }
    constexpr size_t kStackStates = 264;
    bool stackStates[2 * kStackStates];
    std::unique_ptr<bool[]> heapStates;
    bool* states = stackStates;
    if (patternLength + 1 > kStackStates) {
        heapStates.reset(new bool[2 * (patternLength + 1)]);
        states = heapStates.get();
    }
    bool* current = states;
    bool* next = states + patternLength + 1;

    // A star may match nothing, so reaching it also reaches what follows it.
    auto closeOverStars = [&](bool* set) {
        for (size_t i = 0; i < patternLength; ++i) {
            if (set[i] && pattern[i] == L'*') set[i + 1] = true;
        }
    };

    std::fill(current, current + patternLength + 1, false);
    current[0] = true;
    closeOverStars(current);

    for (size_t n = 0; n < nameLength; ++n) {
        const wchar_t c = name[n];
        const wchar_t upper = Upcase(c);
        std::fill(next, next + patternLength + 1, false);
        bool any = false;
        for (size_t i = 0; i < patternLength; ++i) {
            if (!current[i]) continue;
            const wchar_t p = pattern[i];
            if (p == L'*') {
                if (c != L'\\' && c != L'/') next[i] = any = true;
            } else if (p == L'?' || Upcase(p) == upper) {
                next[i + 1] = any = true;
            }
        }
        if (!any) return false;
        closeOverStars(next);
        std::swap(current, next);
    }

    // With the name used up, any "?" and "*" left in the pattern are accepted.
    size_t tail = patternLength;
    while (tail > 0 && (pattern[tail - 1] == L'?' || pattern[tail - 1] == L'*')) --tail;
    for (size_t i = tail; i <= patternLength; ++i) {
        if (current[i]) return true;
    }
    return false;
}

// The node of an entry's last component, made with its parents as needed.
ExcludeNode& PathNode(NodeList& roots, const wchar_t* entry, size_t length) {
    NodeList* list = &roots;
    for (;;) {
        const Split s = SplitFirst(entry, length);
        ExcludeNode* node = nullptr;
        for (ExcludeNode& candidate : *list) {
            if (EqualNoCase(candidate.name.c_str(), candidate.name.Length(), s.head, s.headLength)) {
                node = &candidate;
                break;
            }
        }
        if (!node) {
            ExcludeNode& added = list->emplace_back();
            added.name.Assign(s.head, s.headLength);
            added.isPattern = HasWildcard(s.head, s.headLength);
            node = &added;
        }
        if (!s.hasRest) return *node;
        list = &node->children;
        entry = s.rest;
        length = s.restLength;
    }
}

void InsertEntry(NodeList& roots, const wchar_t* entry, size_t length) {
    PathNode(roots, entry, length).isTerminal = true;
}

// What a value query looks for at the key where the path ends: a pattern
// matching `name`, or, with `anyName`, any pattern at all.
struct ValueQuery {
    const wchar_t* name;
    size_t length;
    bool anyName;
};

bool HasValueName(const ExcludeNode& node, const ValueQuery& value) {
    for (const Str& pattern : node.valueNames) {
        if (value.anyName || WildcardMatch(value.name, value.length, pattern.c_str(), pattern.Length())) return true;
    }
    return false;
}

// Without `value`, whether an entry ends at or (below-leaf) above the path;
// with it, whether a value entry of exactly that key matches.
bool NodeMatches(const ExcludeNode& node, const wchar_t* head, size_t headLength, const wchar_t* rest,
                 size_t restLength, MatchMode mode, const ValueQuery* value = nullptr) {
    const bool componentMatches =
        node.isPattern ? WildcardMatch(head, headLength, node.name.c_str(), node.name.Length())
                       : EqualNoCase(node.name.c_str(), node.name.Length(), head, headLength);
    if (!componentMatches) return false;
    if (restLength == 0) return value ? HasValueName(node, *value) : node.isTerminal;
    // A terminal node that also has children answers for deeper paths only
    // through those children.
    if (node.children.empty()) return mode == MatchMode::BelowLeaf;
    const Split s = SplitFirst(rest, restLength);
    for (const ExcludeNode& child : node.children) {
        if (NodeMatches(child, s.head, s.headLength, s.rest, s.restLength, mode, value)) return true;
    }
    return false;
}

bool ListMatches(const NodeList& roots, const wchar_t* head, size_t headLength, const wchar_t* rest,
                 size_t restLength, MatchMode mode, const ValueQuery* value = nullptr) {
    for (const ExcludeNode& root : roots) {
        if (NodeMatches(root, head, headLength, rest, restLength, mode, value)) return true;
    }
    return false;
}

bool ListMatches(const NodeList& roots, const wchar_t* path, MatchMode mode) {
    if (!path || roots.empty()) return false;
    const Split s = SplitFirst(path, std::wcslen(path));
    return ListMatches(roots, s.head, s.headLength, s.rest, s.restLength, mode);
}

// A registry key path against a list: as given, then, for a path under a
// 64-bit view's root ("HKEY64_X"), under the root's usual name ("HKEY_X"), so
// that an entry written for a root key covers both.
bool RegistryListMatches(const NodeList& roots, const wchar_t* keyPath, MatchMode mode,
                         const ValueQuery* value = nullptr) {
    if (!keyPath || roots.empty()) return false;
    const size_t length = std::wcslen(keyPath);
    const Split s = SplitFirst(keyPath, length);
    if (ListMatches(roots, s.head, s.headLength, s.rest, s.restLength, mode, value)) return true;
    static constexpr wchar_t kView64[] = L"HKEY64_";
    constexpr size_t kView64Length = 7;
    if (length < kView64Length || !EqualNoCase(keyPath, kView64Length, kView64, kView64Length)) return false;

    // Only the root component changes; the rest of the path is matched where
    // it lies.
    constexpr size_t kPrefixLength = 5;  // "HKEY_"
    const size_t headLength = kPrefixLength + (s.headLength - kView64Length);
    wchar_t stackHead[64];
    std::unique_ptr<wchar_t[]> heapHead;
    wchar_t* head = stackHead;
    if (headLength > std::size(stackHead)) {
        heapHead.reset(new wchar_t[headLength]);
        head = heapHead.get();
    }
    std::wmemcpy(head, L"HKEY_", kPrefixLength);
    std::wmemcpy(head + kPrefixLength, keyPath + kView64Length, s.headLength - kView64Length);
    return ListMatches(roots, head, headLength, s.rest, s.restLength, mode, value);
}

// Drops the last path component in place: the last "\" or "/" (or a ":" in
// the second position) that has a character after it becomes the end.
void RemoveLastComponent(wchar_t* path) {
    ptrdiff_t cut = -1;
    for (size_t i = 0; i + 1 < MAX_PATH && path[i] != 0 && path[i + 1] != 0; ++i) {
        if (path[i] == L'\\' || path[i] == L'/' || (i == 1 && path[i] == L':')) {
            cut = static_cast<ptrdiff_t>(i);
        }
    }
    if (cut >= 0) path[cut] = 0;
}

// "VX_ORIGIN" into a MAX_PATH buffer; false when unset, empty or too long.
bool ReadOrigin(wchar_t (&buffer)[MAX_PATH]) {
    DWORD n = GetEnvironmentVariableW(L"VX_ORIGIN", buffer, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) {
        buffer[0] = 0;
        return false;
    }
    return true;
}

void ReadModuleFileName(wchar_t (&buffer)[MAX_PATH]) {
    DWORD n = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    if (n >= MAX_PATH) n = MAX_PATH - 1;
    buffer[n] = 0;
}

bool Exists(const Str& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

class MyExcludeList final : public ExcludeList {
public:
    void LoadListFile(const wchar_t* path) override;
    bool FindAndLoad(const wchar_t* name, Str& log) override;
    bool IsRegistryKeyIgnored(const wchar_t* keyPath) override;
    bool IsFileIgnored(const wchar_t* path) override {
        return ListMatches(fileSystemIgnore_, path, MatchMode::BelowLeaf);
    }
    bool IsForcedWriteCopy(const wchar_t* path) override {
        return ListMatches(forcedWriteCopy_, path, MatchMode::Exact);
    }
    void AddRegistryIgnore(const wchar_t* keyPath) override {
        if (keyPath) AddRegistryEntry(keyPath, std::wcslen(keyPath));
    }
    void AddFileIgnore(const wchar_t* path) override {
        if (path) InsertEntry(fileSystemIgnore_, path, std::wcslen(path));
    }
    bool IsIE6To7UpgradeRegistryLocation(const wchar_t* keyPath) override {
        return ListMatches(ie6To7UpgradeRegistry_, keyPath, MatchMode::Exact);
    }
    bool IsIE6To7UpgradeFileLocation(const wchar_t* path) override {
        return ListMatches(ie6To7UpgradeFiles_, path, MatchMode::Exact);
    }
    bool IsIE10ExcludedFile(const wchar_t* path) override {
        return ListMatches(ie10ExcludeFiles_, path, MatchMode::Exact);
    }
    bool IsIE11UpgradeFileLocation(const wchar_t* path) override {
        return ListMatches(ie11UpgradeFiles_, path, MatchMode::Exact);
    }
    bool IsIE11ExcludedFile(const wchar_t* path) override {
        return ListMatches(ie11ExcludeFiles_, path, MatchMode::Exact);
    }
    // Both walk only the value entries' own tree, which is empty unless the
    // list names values; a key outside it is refused at its first component
    // that no entry shares.
    bool HasIgnoredValues(const wchar_t* keyPath) override {
        const ValueQuery any{nullptr, 0, true};
        return RegistryListMatches(registryValueIgnore_, keyPath, MatchMode::Exact, &any);
    }
    bool IsRegistryValueIgnored(const wchar_t* keyPath, const wchar_t* valueName, size_t nameLength) override {
        const ValueQuery value{valueName, nameLength, false};
        return RegistryListMatches(registryValueIgnore_, keyPath, MatchMode::Exact, &value);
    }

private:
    enum class Decoding { None, Macros, MacrosThenEnvironment };
    void ReadSection(const wchar_t* file, const wchar_t* section, NodeList& list, Decoding decoding);
    void AddRegistryEntry(const wchar_t* entry, size_t length);

    NodeList registryIgnore_;
    NodeList registryValueIgnore_;  // keys whose nodes carry value-name patterns
    NodeList fileSystemIgnore_;
    NodeList forcedWriteCopy_;
    NodeList ie6To7UpgradeFiles_;
    NodeList ie6To7UpgradeRegistry_;
    NodeList ie11UpgradeFiles_;
    NodeList ie11ExcludeFiles_;
    NodeList ie10ExcludeFiles_;
};

bool MyExcludeList::IsRegistryKeyIgnored(const wchar_t* keyPath) {
    return RegistryListMatches(registryIgnore_, keyPath, MatchMode::BelowLeaf);
}

// A key path never holds an empty component, so the first "\\" of an entry
// can only be where its key ends and a value name begins; the name may hold
// backslashes of its own.
void MyExcludeList::AddRegistryEntry(const wchar_t* entry, size_t length) {
    for (size_t i = 0; i + 1 < length; ++i) {
        if (entry[i] == L'\\' && entry[i + 1] == L'\\') {
            PathNode(registryValueIgnore_, entry, i).valueNames.emplace_back(entry + i + 2, length - i - 2);
            return;
        }
    }
    InsertEntry(registryIgnore_, entry, length);
}

bool MyExcludeList::FindAndLoad(const wchar_t* name, Str& log) {
    log.Clear();
    Str path;
    auto tryLoad = [&]() {
        if (!Exists(path)) return false;
        LoadListFile(path.c_str());
        return true;
    };

    Str perUser;
    perUser.Format(L"%%AppData%%\\Vendrix\\%ls", name);
    DecodeProjectPath(perUser, path);
    if (tryLoad()) return true;
    log.AppendFormat(L"Probed %ls\n", path.c_str());

    wchar_t origin[MAX_PATH];
    if (ReadOrigin(origin)) {
        RemoveLastComponent(origin);
        path.Format(L"%ls\\%ls", origin, name);
        if (tryLoad()) return true;
        log.AppendFormat(L"Probed %ls\n", path.c_str());
    }

    wchar_t programFolder[MAX_PATH];
    ReadModuleFileName(programFolder);
    RemoveLastComponent(programFolder);
    path.Format(L"%ls\\%ls", programFolder, name);
    if (tryLoad()) return true;
    log.AppendFormat(L"Probed %ls\n", path.c_str());

    path.Format(L"%ls\\..\\..\\modules\\%ls", programFolder, name);
    if (tryLoad()) return true;
    log.AppendFormat(L"Probed %ls\n", path.c_str());

    // The development-tree probe: a build's output folder sits one level below
    // the tree whose "modules" folder holds the list during development. The
    // tree is taken as the parent of this program's folder instead of a path
    // baked in by the build, because the build machine's paths mean nothing on
    // a capture machine or inside Wine.
    wchar_t developmentTree[MAX_PATH];
    std::wmemcpy(developmentTree, programFolder, MAX_PATH);
    RemoveLastComponent(developmentTree);
    path.Format(L"%ls\\..\\modules\\%ls", developmentTree, name);
    if (tryLoad()) return true;
    log.AppendFormat(L"Probed %ls\nCould not find %ls", path.c_str(), name);
    return false;
}

void MyExcludeList::LoadListFile(const wchar_t* path) {
    const DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        Fatal(L"Could not find file %ls", path);
    }
    // The profile API looks for a relative name in the Windows folder, not in
    // the current one that GetFileAttributesW used.
    std::vector<wchar_t> full(MAX_PATH);
    DWORD n = GetFullPathNameW(path, static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (n >= full.size()) {
        full.resize(n + 1);
        n = GetFullPathNameW(path, static_cast<DWORD>(full.size()), full.data(), nullptr);
    }
    const wchar_t* file = (n != 0 && n < full.size()) ? full.data() : path;

    ReadSection(file, L"RegistryIgnoreList", registryIgnore_, Decoding::None);
    ReadSection(file, L"FileSystemIgnoreList", fileSystemIgnore_, Decoding::MacrosThenEnvironment);
    ReadSection(file, L"ForcedWriteCopyLocations", forcedWriteCopy_, Decoding::Macros);
    ReadSection(file, L"IE6ToIE7UpgradeFileLocations", ie6To7UpgradeFiles_, Decoding::Macros);
    ReadSection(file, L"IE6ToIE7UpgradeRegistryLocations", ie6To7UpgradeRegistry_, Decoding::Macros);
    ReadSection(file, L"IE11UpgradeFileLocations", ie11UpgradeFiles_, Decoding::Macros);
    ReadSection(file, L"IE11ExcludeFileLocations", ie11ExcludeFiles_, Decoding::Macros);
    ReadSection(file, L"IE10ExcludeFileLocations", ie10ExcludeFiles_, Decoding::Macros);

    // The program's own folder and the packager's folder never belong to a
    // capture.
    wchar_t programFolder[MAX_PATH];
    ReadModuleFileName(programFolder);
    if (wchar_t* slash = std::wcsrchr(programFolder, L'\\')) *slash = 0;
    const size_t programFolderLength = std::wcslen(programFolder);
    InsertEntry(fileSystemIgnore_, programFolder, programFolderLength);

    wchar_t origin[MAX_PATH];
    if (ReadOrigin(origin)) {
        if (wchar_t* slash = std::wcsrchr(origin, L'\\')) *slash = 0;
        const size_t originLength = std::wcslen(origin);
        if (!EqualNoCase(origin, originLength, programFolder, programFolderLength)) {
            InsertEntry(fileSystemIgnore_, origin, originLength);
        }
    }
}

void MyExcludeList::ReadSection(const wchar_t* file, const wchar_t* section, NodeList& list, Decoding decoding) {
    wchar_t value[MAX_PATH];
    Str key;
    Str decoded;
    // Entries are numbered from 0001; the first missing or empty one ends the
    // section, so a gap hides everything after it.
    for (int ordinal = 1;; ++ordinal) {
        key.Format(L"%04d", ordinal);
        const DWORD length = GetPrivateProfileStringW(section, key.c_str(), L"", value, MAX_PATH, file);
        if (length == 0) return;
        if (&list == &registryIgnore_)  // where an entry may name a value instead of a key
            AddRegistryEntry(value, length);
        else
            InsertEntry(list, value, length);
        if (decoding == Decoding::None || value[0] != L'%') continue;
        if (DecodeProjectPath(value, length, decoded)) {
            InsertEntry(list, decoded.c_str(), decoded.Length());
        } else if (decoding == Decoding::MacrosThenEnvironment) {
            wchar_t expanded[MAX_PATH];
            const DWORD n = ExpandEnvironmentStringsW(value, expanded, MAX_PATH);
            if (n != 0 && n <= MAX_PATH) InsertEntry(list, expanded, n - 1);
        }
    }
}

}  // namespace

std::unique_ptr<ExcludeList> CreateExcludeList() {
    return std::unique_ptr<ExcludeList>(new (std::nothrow) MyExcludeList());
}

}  // namespace scancap
