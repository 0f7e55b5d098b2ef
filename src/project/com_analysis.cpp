#include "project/com_analysis.h"

#include "project/overrides.h"
#include "support/guid_forms.h"

#include <cwchar>

namespace scancap {
namespace {

// The subkeys that name a class's server, in the order they are tried.
constexpr const wchar_t* kServerSubkeys[] = {L"InprocServer32", L"LocalServer32", L"InprocHandler32",
                                             L"InprocServer",   L"LocalServer",   L"InprocHandler"};
// Shell classes that a browser upgrade from version 6 re-registers; they
// belong to the system, not to the capture.
constexpr const wchar_t* kUpgradedShellClasses[] = {L"{21EC2020-3AEA-1069-A2DD-08002B30309D}",
                                                    L"{2227A280-3AEA-1069-A2DE-08002B30309D}"};
// Subkeys of an interface key whose default value names a class or type library.
constexpr const wchar_t* kInterfaceLinks[] = {L"ProxyStubClsid32", L"ProxyStubClsid", L"TypeLib"};

// Fills text from a call that writes into a buffer and returns 0 on failure,
// else a count that reaches the room given only when the buffer was too
// small. False, text untouched, when the call fails.
template <typename Call>
bool FillFromCall(Str& text, Call call) {
    Str buffer;
    buffer.Reserve(MAX_PATH, true);
    for (;;) {
        DWORD room = static_cast<DWORD>(buffer.Capacity() - 1);
        DWORD n = call(buffer.Data(), room);
        if (n == 0) return false;
        if (n < room) break;
        buffer.Reserve(n, true);
    }
    buffer.SetLength(std::wcslen(buffer.c_str()));
    text = buffer;
    return true;
}

void CutAt(Str& text, const wchar_t* marker) {
    ptrdiff_t at = text.Find(marker);
    if (at >= 0) text.SetLength(size_t(at));
}

class ComScan {
public:
    ComScan(ProjectRun& run, const SnapshotStore& post) : run_(run), post_(post) {}

    void Classes(const wchar_t* hive) {
        bool machine = std::wcscmp(hive, L"HKEY_LOCAL_MACHINE") == 0;
        ForEachGuidKey(hive, L"\\Software\\Classes\\CLSID", [&](uint32_t classKey, NameView name) {
            if (machine && run_.upgrade.ieUpgrade6To7) {
                for (const wchar_t* shellClass : kUpgradedShellClasses) {
                    if (CompareStringOrdinal(name.text, int(name.length), shellClass, -1, TRUE) == CSTR_EQUAL) return;
                }
            }
            for (const wchar_t* subkey : kServerSubkeys) {
                if (Record(post_.FindSubkey(classKey, subkey), name)) return;
            }
        });
    }

    void TypeLibraries(const wchar_t* hive) {
        ForEachGuidKey(hive, L"\\Software\\Classes\\TypeLib", [&](uint32_t libraryKey, NameView name) {
            RegKeyRecord library;
            if (!post_.ReadKey(libraryKey, library)) return;
            uint32_t versions = post_.SubkeyCount(libraryKey, library);
            for (uint32_t i = 0; i < versions; ++i) {
                uint32_t version = post_.Subkey(libraryKey, library, i);
                if (version) Record(post_.FindSubkey(version, L"0\\win32"), name);
            }
        });
    }

private:
    // Calls visit(key, name) for every subkey in GUID form of hive + path.
    template <typename Visit>
    void ForEachGuidKey(const wchar_t* hive, const wchar_t* path, Visit visit) {
        Str parentPath(hive);
        parentPath += path;
        uint32_t parent = post_.FindKeyByPath(parentPath.c_str());
        RegKeyRecord record;
        if (!parent || !post_.ReadKey(parent, record)) return;
        uint32_t count = post_.SubkeyCount(parent, record);
        for (uint32_t i = 0; i < count; ++i) {
            uint32_t key = post_.Subkey(parent, record, i);
            RegKeyRecord sub;
            if (!key || !post_.ReadKey(key, sub)) continue;
            NameView name = post_.Name(sub.nameOffset);
            if (StartsWithGuid(name.text, name.length)) visit(key, name);
        }
    }

    // Maps the GUID to the flag of the file that serverKey's default value
    // names; false when the GUID is known already or no file is named.
    bool Record(uint32_t serverKey, NameView name) {
        guid_.Assign(name.text, name.length);
        guid_.MakeUpper();
        if (run_.comGuids.count(guid_)) return false;
        if (!serverKey || !ReadStringValue(post_, serverKey, L"", command_)) return false;
        Str file = ServerFileFromCommand(command_);
        if (file.IsEmpty()) return false;
        auto server = run_.comServerFiles.emplace(file, run_.comServerChanged.size());
        if (server.second) run_.comServerChanged.push_back(0);
        run_.comGuids.emplace(guid_, server.first->second);
        return true;
    }

    ProjectRun& run_;
    const SnapshotStore& post_;
    Str guid_;
    Str command_;
};

// The changed flag of the server that a GUID belongs to; 0 when unknown.
uint8_t GuidFlag(const ProjectRun& run, Str guid) {
    guid.MakeUpper();
    auto found = run.comGuids.find(guid);
    return found == run.comGuids.end() ? 0 : run.comServerChanged[found->second];
}

}  // namespace

void ScanComRegistrations(ProjectRun& run, const SnapshotStore& post) {
    ComScan scan(run, post);
    scan.Classes(L"HKEY_LOCAL_MACHINE");
    scan.Classes(L"HKEY_CURRENT_USER");
    scan.TypeLibraries(L"HKEY_LOCAL_MACHINE");
    scan.TypeLibraries(L"HKEY_CURRENT_USER");
}

void NoteModifiedFile(ProjectRun& run, const Str& path) {
    if (run.comServerFiles.empty()) return;
    Str upper(path);
    upper.MakeUpper();
    auto server = run.comServerFiles.find(upper);
    if (server == run.comServerFiles.end()) return;
    auto forced = run.includedFiles.find(upper);
    if (forced != run.includedFiles.end() && (forced->second & kFileNotComServer)) return;
    run.comServerChanged[server->second] = 1;
    ++run.changedComServers;
}

bool IsChangedComKey(const ProjectRun& run, const SnapshotStore& post, const Str& keyPath) {
    bool classKey = keyPath.Find(L"CLSID\\{") >= 0;
    bool interfaceKey = !classKey && keyPath.Find(L"Interface\\{") >= 0;
    if (!classKey && !interfaceKey && keyPath.Find(L"TypeLib\\{") < 0) return false;
    ptrdiff_t open = keyPath.Find(L'{');
    ptrdiff_t close = keyPath.Find(L'}');
    if (open < 0 || close < 0) return false;
    if (!interfaceKey) {
        // A class or type-library key: the GUID in its path decides.
        return close > open && GuidFlag(run, keyPath.Mid(size_t(open), size_t(close - open) + 1)) != 0;
    }
    // An interface key: the class or type library it links to decides.
    Str linkPath = keyPath.Left(size_t(close));
    linkPath += L"}\\";
    size_t base = linkPath.Length();
    Str linked;
    for (const wchar_t* link : kInterfaceLinks) {
        linkPath.SetLength(base);
        linkPath += link;
        uint32_t key = post.FindKeyByPath(linkPath.c_str());
        RegKeyRecord record;
        if (!key || !post.ReadKey(key, record) || post.ValueCount(record) == 0) continue;
        if (!ReadStringValue(post, key, L"", linked)) continue;
        linked.MakeUpper();
        auto found = run.comGuids.find(linked);
        if (found != run.comGuids.end()) return run.comServerChanged[found->second] != 0;
    }
    return false;
}

Str ServerFileFromCommand(const Str& command) {
    Str text(command);
    text.MakeUpper();
    bool needsCleaning = text.Find(L'"') >= 0 || text.Find(L'%') >= 0 || text.Find(L'{') >= 0 ||
                         text.Find(L" -") >= 0 || text.Find(L" /") >= 0;
    // A command holding " %" keeps its text as it is.
    if (needsCleaning && text.Find(L" %") < 0) {
        CutAt(text, L" -");
        CutAt(text, L" /");
        CutAt(text, L" {");
        if (text.Length() > 0 && text[0] == L'"') {
            ptrdiff_t end = text.Find(L'"', 1);
            text = end < 0 ? text.Mid(1) : text.Mid(1, size_t(end) - 1);
        }
        FillFromCall(text, [&](wchar_t* buffer, DWORD room) {
            return ExpandEnvironmentStringsW(text.c_str(), buffer, room);
        });
    }
    if (text.IsEmpty()) return text;
    if (GetFileAttributesW(text.c_str()) == INVALID_FILE_ATTRIBUTES) {
        FillFromCall(text, [&](wchar_t* buffer, DWORD room) {
            return SearchPathW(nullptr, text.c_str(), nullptr, room, buffer, nullptr);
        });
    }
    FillFromCall(text, [&](wchar_t* buffer, DWORD room) { return GetLongPathNameW(text.c_str(), buffer, room); });
    text.MakeUpper();
    return text;
}

}  // namespace scancap
