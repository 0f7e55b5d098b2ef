#include "suggest/registrations.h"

#include "suggest/machine_facts.h"
#include "suggest/store_values.h"
#include "support/name_encoding.h"

#include <cstring>
#include <cwctype>

namespace scancap {
namespace {

constexpr const wchar_t* kClassesRoots[] = {L"HKEY_LOCAL_MACHINE\\Software\\Classes",
                                            L"HKEY_CURRENT_USER\\Software\\Classes"};
constexpr const wchar_t* kMailRoots[] = {L"HKEY_LOCAL_MACHINE\\Software\\Clients\\Mail",
                                         L"HKEY_CURRENT_USER\\Software\\Clients\\Mail"};
constexpr wchar_t kBrowsersKey[] = L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Clients\\StartMenuInternet";
constexpr wchar_t kServicesKey[] = L"HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services";
constexpr wchar_t kFlashKey[] = L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Macromedia\\FlashPlayer";
constexpr wchar_t kOpenCommand[] = L"shell\\open\\command";
constexpr DWORD kShortPathChars = 260;
constexpr uint32_t kOwnProcess = 0x10;
constexpr uint32_t kSharedProcess = 0x20;

// A string value (REG_SZ, or REG_EXPAND_SZ expanded); false for other types.
bool ReadText(const SnapshotStore& store, uint32_t key, const wchar_t* name, Str& out) {
    uint32_t type = 0;
    if (!ReadStringValue(store, key, name, out, &type) || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
    if (type == REG_EXPAND_SZ) out = ExpandEnvironment(out);
    return true;
}

// The default value of the key at `relative` below `key`, as text.
bool DefaultText(const SnapshotStore& store, uint32_t key, const Str& relative, Str& out) {
    uint32_t subkey = key ? store.FindSubkey(key, relative.c_str()) : 0;
    return subkey && ReadText(store, subkey, L"", out);
}

// One classes root of one store.
struct Classes {
    const SnapshotStore& store;
    uint32_t root;
    uint32_t clsid;  // the root's "CLSID" key
    Classes(const SnapshotStore& s, const wchar_t* path)
        : store(s), root(s.FindKeyByPath(path)), clsid(root ? s.FindSubkey(root, L"CLSID") : 0) {}

    // The command of a registration of `kind` at `key` (a subkey of the root).
    bool Command(uint32_t key, int32_t kind, Str& command) const {
        Str text;
        switch (kind) {
        case kFileType:
            return ReadText(store, key, L"", text) &&
                   DefaultText(store, root, Str(text).Append(L"\\").Append(kOpenCommand), command);
        case kUrlProtocol:
            return ReadText(store, key, L"URL Protocol", text) && DefaultText(store, key, Str(kOpenCommand), command);
        default:
            return DefaultText(store, key, Str(L"CLSID"), text) &&
                   DefaultText(store, clsid, text.Append(L"\\LocalServer32"), command);
        }
    }
};

void ConsiderAssociation(const Classes& post, const Classes& pre, uint32_t key, const Str& name, int32_t kind,
                         std::vector<Association>& list) {
    Str command, before;
    if (!post.Command(key, kind, command)) return;
    uint32_t old = pre.root ? pre.store.FindSubkey(pre.root, name.c_str()) : 0;
    if (old && pre.Command(old, kind, before) && before == command) return;
    for (const Association& known : list)
        if (known.name.EqualsNoCase(name)) return;
    list.push_back({name, std::move(command), kind});
}

// Should a registration that the pre store held too be skipped? Yes when its
// program is missing from the post store or unchanged since the pre store.
bool ProgramUnchanged(const SnapshotStore& post, const SnapshotStore& pre, const Str& program) {
    FileEntry now, then;
    if (!post.FindFileEntry(program.c_str(), now)) return true;
    return pre.FindFileEntry(program.c_str(), then) && SameFileState(now, then);
}

// The 8.3 form of a machine path; empty when the file does not exist.
Str ShortPath(const Str& path) {
    wchar_t buffer[kShortPathChars];
    DWORD length = GetShortPathNameW(path.c_str(), buffer, kShortPathChars);
    return length > 0 && length < kShortPathChars ? Str(buffer, length) : Str();
}

Str ShortSource(const EntryPoint& entry) {
    Str path;
    DecodeProjectPath(entry.source, path);
    return ShortPath(path);
}

// The short sources of the entries that may take a registration, for the
// whole of one assignment (empty for entries with arguments).
std::vector<Str> EligibleSources(const EntryList& entries, bool withArguments) {
    std::vector<Str> sources;
    for (const EntryPoint& entry : entries)
        sources.push_back(withArguments || entry.arguments.IsEmpty() ? ShortSource(entry) : Str());
    return sources;
}

// Indexes of the entries whose source is `program`: of the enabled entries
// when any matches, else of all; only the first when `firstOnly`.
std::vector<size_t> Matches(const EntryList& entries, const std::vector<Str>& sources, const Str& program,
                            bool firstOnly) {
    std::vector<size_t> found;
    if (program.IsEmpty()) return found;
    for (bool enabledOnly : {true, false}) {
        for (size_t i = 0; i < entries.size(); ++i) {
            if ((enabledOnly && !entries[i].enabled) || !sources[i].EqualsNoCase(program)) continue;
            found.push_back(i);
            if (firstOnly) return found;
        }
        if (!found.empty()) break;
    }
    return found;
}

void MarkBrowser(const Str& program, const Str& arguments, EntryList& entries) {
    Str source;
    EncodeMachinePath(program, source, nullptr);
    bool marked = false;
    for (EntryPoint& entry : entries) {
        if (entry.source.EqualsNoCase(source) && entry.arguments == arguments) {
            entry.isBrowser = true;
            marked = true;
        }
    }
    if (marked) return;
    EntryPoint browser(false, false);
    browser.source = std::move(source);
    browser.arguments = arguments;
    browser.enabled = true;
    browser.isBrowser = true;
    entries.push_back(std::move(browser));
}

void MarkMailClient(const Str& program, bool isDefault, EntryList& entries) {
    int32_t kind = isDefault ? 1 : 2;
    std::vector<size_t> match = Matches(entries, EligibleSources(entries, true), ShortPath(program), true);
    if (!match.empty()) {
        EntryPoint& entry = entries[match.front()];
        entry.enabled = true;
        entry.forDebugOnly = false;
        if (entry.mailClient == 0) entry.mailClient = kind;
        return;
    }
    EntryPoint client(false, false);
    EncodeMachinePath(program, client.source, nullptr);
    client.enabled = true;
    client.mailClient = kind;
    entries.push_back(std::move(client));
}

// Is `candidate` (made a full path) an existing file that is not a directory?
bool ExistingFile(const Str& candidate, Str& full) {
    wchar_t buffer[MAX_PATH];
    DWORD length = GetFullPathNameW(candidate.c_str(), MAX_PATH, buffer, nullptr);
    if (length == 0 || length >= MAX_PATH) return false;
    DWORD attributes = GetFileAttributesW(buffer);
    full.Assign(buffer, length);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The shortest run of blank-separated words from the start of `command` that
// `accept` takes; its length, or -1.
template <typename Accept>
ptrdiff_t FirstAcceptedRun(const Str& command, Accept accept) {
    for (size_t i = 0; i <= command.Length(); ++i)
        if ((i == command.Length() || command[i] == L' ') && accept(command.Left(i))) return ptrdiff_t(i);
    return -1;
}

}  // namespace

void DetectTemplates(const SnapshotStore& post, const SnapshotStore& pre, std::vector<Str>& templates) {
    RegValueRecord now, then;
    uint32_t key = post.FindKeyByPath(kFlashKey);
    uint32_t value = key ? post.FindValue(key, L"CurrentVersion") : 0;
    if (value && post.ReadValue(value, now)) {
        uint32_t oldKey = pre.FindKeyByPath(kFlashKey);
        uint32_t oldValue = oldKey ? pre.FindValue(oldKey, L"CurrentVersion") : 0;
        const uint8_t* data = post.DataAt(now.dataOffset, now.dataLength);
        const uint8_t* oldData = nullptr;
        if (oldValue && pre.ReadValue(oldValue, then) && then.type == now.type && then.dataLength >= now.dataLength)
            oldData = pre.DataAt(then.dataOffset, now.dataLength);
        if (!oldData || !data || std::memcmp(oldData, data, now.dataLength) != 0) templates.push_back(L"Flash");
    }
    if (IEUpgradeTest(pre, post, L"5.", L"6.")) templates.push_back(L"IE6");
}

void CollectAssociations(const SnapshotStore& post, const SnapshotStore& pre, std::vector<Association>& fileTypes,
                         std::vector<Association>& protocols, std::vector<Association>& objectTypes) {
    for (const wchar_t* path : kClassesRoots) {
        Classes now(post, path), then(pre, path);
        ForEachSubkey(post, now.root, [&](uint32_t key) {
            Str name = KeyName(post, key);
            if (name.IsEmpty()) return;
            if (name[0] == L'.') {
                ConsiderAssociation(now, then, key, name, kFileType, fileTypes);
            } else {
                ConsiderAssociation(now, then, key, name, kUrlProtocol, protocols);
                ConsiderAssociation(now, then, key, name, kObjectType, objectTypes);
            }
        });
    }
}

void CollectServices(const SnapshotStore& post, const SnapshotStore& pre, std::vector<ServiceImage>& services) {
    uint32_t now = post.FindKeyByPath(kServicesKey), then = pre.FindKeyByPath(kServicesKey);
    if (!now || !then) return;
    ForEachSubkey(post, now, [&](uint32_t key) {
        uint32_t typeValue = post.FindValue(key, L"Type");
        RegValueRecord type;
        const uint8_t* data = nullptr;
        if (typeValue && post.ReadValue(typeValue, type) && type.type == REG_DWORD && type.dataLength == 4)
            data = post.DataAt(type.dataOffset, 4);
        if (!data || (data[0] != kOwnProcess && data[0] != kSharedProcess)) return;
        Str name = KeyName(post, key), image;
        if (pre.FindSubkey(then, name.c_str()) || !ReadText(post, key, L"ImagePath", image)) return;
        services.push_back({std::move(name), std::move(image)});
    });
}

void DetectBrowsers(const SnapshotStore& post, const SnapshotStore& pre, EntryList& entries) {
    uint32_t now = post.FindKeyByPath(kBrowsersKey), then = pre.FindKeyByPath(kBrowsersKey);
    ForEachSubkey(post, now, [&](uint32_t key) {
        Str command, program, arguments;
        if (!DefaultText(post, key, Str(kOpenCommand), command) ||
            !SplitCommandInStore(post, command, program, arguments))
            return;
        if (then && pre.FindSubkey(then, KeyName(post, key).c_str()) && ProgramUnchanged(post, pre, program)) return;
        MarkBrowser(program, arguments, entries);
    });
}

void DetectMailClients(const SnapshotStore& post, const SnapshotStore& pre, EntryList& entries) {
    Str defaultName;
    for (const wchar_t* path : kMailRoots) {
        Str name;
        if (ReadStringValue(post, post.FindKeyByPath(path), L"", name, nullptr) && !name.IsEmpty()) defaultName = name;
    }
    for (const wchar_t* path : kMailRoots) {
        uint32_t then = pre.FindKeyByPath(path);
        ForEachSubkey(post, post.FindKeyByPath(path), [&](uint32_t key) {
            Str name = KeyName(post, key), command, program;
            if (!DefaultText(post, key, Str(kOpenCommand), command) || !FindProgramOnDisk(command, program)) return;
            if (then && pre.FindSubkey(then, name.c_str()) && ProgramUnchanged(post, pre, program)) return;
            MarkMailClient(program, name.EqualsNoCase(defaultName), entries);
        });
    }
}

void AssignAssociations(const std::vector<Association>& associations, EntryList& entries) {
    std::vector<Str> sources = EligibleSources(entries, false);
    for (const Association& association : associations) {
        Str program;
        if (!FindProgramOnDisk(association.command, program)) continue;
        std::vector<size_t> match = Matches(entries, sources, ShortPath(program), true);
        if (match.empty()) continue;
        EntryPoint& entry = entries[match.front()];
        std::vector<Str>& names = association.kind == kFileType     ? entry.fileTypes
                                  : association.kind == kUrlProtocol ? entry.protocols
                                                                     : entry.objectTypes;
        names.push_back(association.name);
        entry.enabled = true;
        entry.forDebugOnly = false;
    }
}

void AssignServices(const std::vector<ServiceImage>& services, EntryList& entries) {
    std::vector<Str> sources = EligibleSources(entries, false);
    for (const ServiceImage& service : services) {
        Str program;
        if (!FindProgramOnDisk(service.command, program)) continue;
        for (size_t i : Matches(entries, sources, ShortPath(program), false))
            entries[i].services.push_back(service.name);
    }
}

void WriteMailLines(const EntryList& entries, Str& text) {
    bool first = true;
    Str section;
    for (const EntryPoint& entry : entries) {
        if ((entry.mailClient != 1 && entry.mailClient != 2) || !EffectiveName(entry, section)) continue;
        if (first) text += L"\r\n; Enable this option to register the default email program\r\n";
        first = false;
        text.AppendFormat(L";DefaultEmailProgram=%ls\r\n", section.c_str());
    }
}

bool SplitCommandInStore(const SnapshotStore& store, const Str& command, Str& program, Str& arguments) {
    auto isFile = [&store](const Str& candidate) {
        FileEntry entry;
        return store.FindFileEntry(candidate.c_str(), entry) && !(entry.attributes & FILE_ATTRIBUTE_DIRECTORY);
    };
    size_t end = 0;
    if (!command.IsEmpty() && command[0] == L'"') {
        ptrdiff_t close = command.Find(L'"', 1);
        program = command.Mid(1, close < 0 ? Str::npos : size_t(close) - 1);
        if (!isFile(program)) return false;
        end = close < 0 ? command.Length() : size_t(close) + 1;
    } else {
        ptrdiff_t run = FirstAcceptedRun(command, isFile);
        if (run < 0) return false;
        program = command.Left(size_t(run));
        end = size_t(run);
    }
    while (end < command.Length() && iswspace(command[end])) ++end;
    arguments = command.Mid(end);
    return true;
}

bool FindProgramOnDisk(const Str& command, Str& program) {
    if (command.IsEmpty() || command[0] != L'"')
        return FirstAcceptedRun(command, [&](const Str& candidate) { return ExistingFile(candidate, program); }) >= 0;
    ptrdiff_t close = command.Find(L'"', 1);
    Str quoted = command.Mid(1, close < 0 ? Str::npos : size_t(close) - 1);
    if (ExistingFile(quoted, program)) return true;
    ptrdiff_t slash = quoted.FindLast(L'\\');
    if (quoted.Find(L'.', size_t(slash + 1)) >= 0) return false;
    return ExistingFile(quoted.Append(L".exe"), program);
}

}  // namespace scancap
