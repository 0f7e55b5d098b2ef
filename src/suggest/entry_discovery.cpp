#include "suggest/entry_discovery.h"

#include "snapshot/long_path.h"
#include "suggest/machine_facts.h"
#include "suggest/shortcut.h"
#include "suggest/store_values.h"
#include "support/name_encoding.h"
#include "support/pe_file.h"

#include <cwchar>
#include <cwctype>

namespace scancap {
namespace {

// The folders whose files are offered as shortcuts, as macros of this machine.
constexpr const wchar_t* kShortcutFolders[] = {L"%Common Desktop%",  L"%Desktop%",          L"%Common Programs%",
                                               L"%Programs%",        L"%Common StartMenu%", L"%StartMenu%"};

constexpr const wchar_t* kKnownExtensions[] = {L".exe", L".lnk", L".cpl", L".bat", L".cmd", L".com"};

constexpr wchar_t kBrowser64[] = L"%ProgramFilesDir(x64)%\\Internet Explorer\\iexplore.exe";
constexpr wchar_t kBrowser[] = L"%ProgramFilesDir%\\Internet Explorer\\iexplore.exe";
constexpr wchar_t kInternetExplorerKey[] = L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Internet Explorer";

bool EqualsNoCase(const wchar_t* a, const wchar_t* b) {
    return CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL;
}

// The extension of a file name, from its last "."; empty when none.
const wchar_t* ExtensionOf(const Str& name) {
    ptrdiff_t dot = name.FindLast(L'.');
    return dot < 0 ? L"" : name.c_str() + dot;
}

class Discovery {
public:
    Discovery(const SnapshotStore& post, const SnapshotStore& pre, ExcludeList& excludeList, EntryList& entries)
        : post_(post), pre_(pre), excludeList_(excludeList), entries_(entries) {
        for (const wchar_t* macro : kShortcutFolders) {
            Str folder;
            DecodeProjectPath(macro, wcslen(macro), folder);
            shortcutFolders_.push_back(std::move(folder));
        }
    }

    DiscoveryResult Run() {
        VisitLevel(Level{true, 0, {}}, 0);
        return result_;
    }

private:
    // The children of one directory, or the root records.
    struct Level {
        bool roots;
        uint32_t offset;
        FileEntry owner;
    };
    uint32_t ChildCount(const Level& level) const {
        return level.roots ? post_.DirectoryRootCount() : post_.ChildCount(level.offset, level.owner);
    }
    // Offset of child i; 0 when it cannot be used.
    uint32_t ChildAt(const Level& level, uint32_t i) const {
        return level.roots ? post_.DirectoryRoot(i) : post_.ChildEntry(level.offset, level.owner, i);
    }

    // One level: its files first, in stored order, then its directories.
    void VisitLevel(const Level& level, int depth) {
        if (depth >= kMaxTreeDepth) return;
        size_t base = path_.Length();
        uint32_t count = ChildCount(level);
        for (uint32_t i = 0; i < count; ++i) {
            FileEntry entry;
            uint32_t offset = ChildAt(level, i);
            if (offset == 0 || !post_.ReadFileEntry(offset, entry) || (entry.attributes & FILE_ATTRIBUTE_DIRECTORY))
                continue;
            NameView name = post_.Name(entry.nameOffset);
            if (name.length == 0) continue;
            AppendComponent(name);
            VisitFile(entry, name);
            path_.SetLength(base);
        }
        for (uint32_t i = 0; i < count; ++i) {
            Level child{false, ChildAt(level, i), {}};
            if (child.offset == 0 || !post_.ReadFileEntry(child.offset, child.owner) ||
                !(child.owner.attributes & FILE_ATTRIBUTE_DIRECTORY) ||
                (child.owner.attributes & FILE_ATTRIBUTE_REPARSE_POINT) || ChildCount(child) == 0)
                continue;
            AppendComponent(post_.Name(child.owner.nameOffset));
            VisitLevel(child, depth + 1);
            path_.SetLength(base);
        }
    }

    void AppendComponent(const NameView& name) {
        if (!path_.IsEmpty() && !path_.EndsWith(L'\\')) path_ += L'\\';
        path_.Append(name.text, name.length);
    }

    void VisitFile(const FileEntry& entry, const NameView& name) {
        if (excludeList_.IsFileIgnored(path_.c_str())) return;
        FileEntry before;
        if (pre_.FindFileEntry(path_.c_str(), before) && SameFileState(before, entry)) return;
        result_.totalNewBytes += (uint64_t(entry.sizeHigh) << 32) | entry.sizeLow;

        bool inFolder = false;
        for (const Str& folder : shortcutFolders_)
            inFolder = inFolder || StartsWithAsciiNoCase(path_, folder.c_str());
        Str fileName(name.text, name.length);
        const wchar_t* extension = ExtensionOf(fileName);
        bool known = false;
        for (const wchar_t* candidate : kKnownExtensions) known = known || EqualsNoCase(extension, candidate);

        uint32_t kind = ClassifyExecutableFile(SystemPath(path_));
        if (kind == kExeProgram32) result_.saw32BitProgram = true;
        if (kind == kExeProgram64) result_.saw64BitProgram = true;
        if (!known && !inFolder) return;
        if (EqualsNoCase(extension, L".lnk"))
            VisitShortcut(inFolder);
        else
            VisitProgram(fileName, extension, kind, inFolder);
    }

    void VisitShortcut(bool inFolder) {
        EntryPoint entry(false, false);
        FileEntry before;
        if (!pre_.FindFileEntry(path_.c_str(), before)) {
            if (!ReadShortcut(path_, entry)) return;
            entry.enabled = inFolder;
            if (inFolder) entry.forDebugOnly = false;
            entries_.push_back(std::move(entry));
            return;
        }
        // A shortcut that was there before counts only when it now leads to
        // a program that the installation replaced.
        if (!inFolder || !ReadShortcut(path_, entry)) return;
        entry.enabled = true;
        entry.forDebugOnly = false;
        Str target;
        DecodeProjectPath(entry.source, target);
        FileEntry now{}, then{};
        post_.FindFileEntry(target.c_str(), now);
        pre_.FindFileEntry(target.c_str(), then);
        if (FileTimeValue(now.lastWriteTime) != FileTimeValue(then.lastWriteTime) ||
            FileTimeValue(now.creationTime) != FileTimeValue(then.creationTime))
            entries_.push_back(std::move(entry));
    }

    void VisitProgram(const Str& fileName, const wchar_t* extension, uint32_t kind, bool inFolder) {
        EntryPoint entry(false, false);
        ptrdiff_t dot = fileName.FindLast(L'.');
        entry.name = dot < 0 ? fileName : fileName.Left(size_t(dot) + 1);
        entry.name += dot < 0 ? L".exe" : L"exe";
        EncodeMachinePath(path_, entry.source, nullptr);
        switch (kind) {
        case kExeOther:
        case kExeBatch:
            entry.enabled = inFolder;
            entry.isProgram = false;
            break;
        case kExeDos:
        case kExeWin16:
        case kExeProgram32:
            entry.enabled = inFolder;
            break;
        case kExeDll32:
            // Of the 32-bit libraries only control-panel applets are started.
            if (!EqualsNoCase(extension, L".cpl") || !ExportsName(SystemPath(path_), "CPlApplet")) return;
            entry.enabled = true;
            entry.forDebugOnly = false;
            entry.isProgram = false;
            break;
        default:
            break;
        }
        if (inFolder && path_.FindLast(L'\\') >= 0) AddShortcut(entry, ShortcutFolderOf(path_));
        entries_.push_back(std::move(entry));
    }

    const SnapshotStore& post_;
    const SnapshotStore& pre_;
    ExcludeList& excludeList_;
    EntryList& entries_;
    std::vector<Str> shortcutFolders_;
    Str path_;
    DiscoveryResult result_;
};

EntryPoint FixedEntry(const wchar_t* source, const wchar_t* name, bool forDebugOnly, bool enabled) {
    EntryPoint entry(forDebugOnly && !enabled, false);
    entry.source = source;
    if (name) entry.name = name;
    entry.enabled = enabled;
    return entry;
}

EntryPoint BrowserEntry(const wchar_t* source, const wchar_t* name, bool forDebugOnly, bool enabled) {
    EntryPoint entry = FixedEntry(source, name, forDebugOnly, enabled);
    entry.isBrowser = true;
    return entry;
}

// The post store's browser version is a REG_SZ whose leading number is 6.
bool HasVersion6Browser(const SnapshotStore& post) {
    uint32_t key = post.FindKeyByPath(kInternetExplorerKey), valueOffset = key ? post.FindValue(key, L"Version") : 0;
    RegValueRecord value;
    Str version;
    if (valueOffset == 0 || !post.ReadValue(valueOffset, value) || value.type != REG_SZ ||
        !ReadStringData(post, value, version))
        return false;
    const wchar_t* text = version.c_str();
    if (!iswdigit(*text)) return false;
    wchar_t* end = nullptr;
    return wcstol(text, &end, 10) == 6 && *end == L'.';
}

}  // namespace

DiscoveryResult DiscoverEntryPoints(const SnapshotStore& post, const SnapshotStore& pre, ExcludeList& excludeList,
                                    EntryList& entries) {
    return Discovery(post, pre, excludeList, entries).Run();
}

void AddFixedEntries(const SnapshotStore& post, const SnapshotStore& pre, int32_t ieSelection, EntryList& entries) {
    entries.push_back(FixedEntry(L"%SystemSystem%\\cmd.exe", nullptr, true, false));
    entries.push_back(FixedEntry(L"%SystemRoot%\\regedit.exe", nullptr, true, false));

    bool debugOnly = ieSelection < 0;
    if (ieSelection < 0 || ieSelection == 1) {
        bool current = ieSelection == 1;
        Str browser64;
        DecodeProjectPath(kBrowser64, wcslen(kBrowser64), browser64);
        bool has64 = GetFileAttributesW(browser64.c_str()) != INVALID_FILE_ATTRIBUTES;
        if (has64) {
            entries.push_back(BrowserEntry(kBrowser64, L"iexplore64.exe", debugOnly, current));
            entries.back().preSelected = current;
        }
        entries.push_back(BrowserEntry(kBrowser, nullptr, debugOnly, current));
        entries.back().preSelected = current && !has64;
    }
    if (!IEUpgradeTest(pre, post, L"5.", L"6.") && (ieSelection < 0 || ieSelection == 2) && HasVersion6Browser(post)) {
        bool chosen = ieSelection == 2;
        entries.push_back(BrowserEntry(kBrowser, L"VirtIE6.exe", debugOnly, chosen));
        entries.back().templateName = L"IE6";
        entries.back().preSelected = chosen;
    }
}

}  // namespace scancap
