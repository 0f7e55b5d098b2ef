#include "support/folder_macros.h"

#include "support/handles.h"
#include "support/win.h"

#include <knownfolders.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <atomic>
#include <cwchar>
#include <iterator>

namespace scancap {

namespace {

constexpr size_t kMaxNodes = 65535;
constexpr size_t kMaxValues = 65535;

inline wchar_t Upcase(wchar_t c) {
    if (c < 0x80) return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - (L'a' - L'A')) : c;
    return RtlUpcaseUnicodeChar(c);
}

}  // namespace

void FolderMacroTable::Insert(const wchar_t* key, const wchar_t* replacement, const wchar_t* extra) {
    if (!key || !*key) return;
    size_t keyLength = wcslen(key);
    // Each key character adds at most one node; refusing up front keeps every
    // index within the 16-bit node fields.
    if (values_.size() >= kMaxValues || nodes_.size() + keyLength > kMaxNodes) return;

    Value value;
    value.replacement = replacement ? replacement : L"";
    if (extra) {
        value.extra = extra;
        value.hasExtra = true;
    }
    values_.push_back(std::move(value));
    const uint16_t valueNumber = static_cast<uint16_t>(values_.size());

    auto newNode = [this](wchar_t ch) {
        nodes_.push_back(Node{static_cast<uint16_t>(ch), 0, 0, 0, 0});
        return static_cast<uint16_t>(nodes_.size() - 1);
    };

    size_t i = 0;
    wchar_t c = Upcase(key[0]);
    if (nodes_.empty()) newNode(c);
    size_t index = 0;
    for (;;) {
        // push_back may move the array, so nodes are addressed by index only.
        if (c < nodes_[index].ch) {
            if (nodes_[index].lo == 0) {
                uint16_t child = newNode(c);
                nodes_[index].lo = child;
            }
            index = nodes_[index].lo;
        } else if (c > nodes_[index].ch) {
            if (nodes_[index].hi == 0) {
                uint16_t child = newNode(c);
                nodes_[index].hi = child;
            }
            index = nodes_[index].hi;
        } else if (i + 1 < keyLength) {
            c = Upcase(key[++i]);
            if (nodes_[index].eq == 0) {
                uint16_t child = newNode(c);
                nodes_[index].eq = child;
            }
            index = nodes_[index].eq;
        } else {
            nodes_[index].value = valueNumber;
            return;
        }
    }
}

bool FolderMacroTable::LongestMatch(const wchar_t* text, size_t length, Match& out, AcceptKey accept,
                                    const void* context) const {
    out = Match{};
    if (nodes_.empty() || !text || length == 0) return false;
    bool found = false;
    size_t matched = 0;
    size_t index = 0;
    wchar_t c = Upcase(text[0]);
    for (;;) {
        const Node& node = nodes_[index];
        if (c < node.ch) {
            if (node.lo == 0) break;
            index = node.lo;
        } else if (c > node.ch) {
            if (node.hi == 0) break;
            index = node.hi;
        } else {
            ++matched;
            if (node.value != 0 && (!accept || accept(context, matched))) {
                const Value& v = values_[node.value - 1];
                out.length = matched;
                out.replacement = &v.replacement;
                out.extra = v.hasExtra ? &v.extra : nullptr;
                found = true;
            }
            if (node.eq == 0 || matched == length) break;
            c = Upcase(text[matched]);
            index = node.eq;
        }
    }
    return found;
}

namespace {

SRWLOCK g_tablesLock = SRWLOCK_INIT;
std::atomic<FolderMacroTable*> g_encodeTable{nullptr};
std::atomic<FolderMacroTable*> g_decodeTable{nullptr};

// Both tables live until the process ends; they are never freed. Every
// encoding call asks for its table, so the lock is taken only while the
// table does not exist yet.
FolderMacroTable& TableOnFirstUse(std::atomic<FolderMacroTable*>& slot) {
    FolderMacroTable* table = slot.load(std::memory_order_acquire);
    if (table) return *table;
    AcquireSRWLockExclusive(&g_tablesLock);
    table = slot.load(std::memory_order_relaxed);
    if (!table) {
        table = new FolderMacroTable;
        slot.store(table, std::memory_order_release);
    }
    ReleaseSRWLockExclusive(&g_tablesLock);
    return *table;
}

}  // namespace

FolderMacroTable& EncodeTable() { return TableOnFirstUse(g_encodeTable); }
FolderMacroTable& DecodeTable() { return TableOnFirstUse(g_decodeTable); }

namespace {

// Folder texts are limited to MAX_PATH characters, like the shell's own.
constexpr DWORD kFolderChars = MAX_PATH;
using FolderBuffer = wchar_t[kFolderChars];

constexpr REGSAM kView32 = KEY_WOW64_32KEY;
constexpr REGSAM kView64 = KEY_WOW64_64KEY;

constexpr wchar_t kUserShellFoldersKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
constexpr wchar_t kShellFoldersKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr wchar_t kCurrentVersionKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion";
constexpr wchar_t kProfileListKey[] = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\";

// REG_SZ as stored; REG_EXPAND_SZ expanded, refused when a variable stays
// unexpanded; any other type refused. True for a non-empty folder text.
bool ReadFolderValue(HKEY root, const wchar_t* subkey, const wchar_t* name, REGSAM view, FolderBuffer& out) {
    out[0] = 0;
    RegKey key;
    if (RegOpenKeyExW(root, subkey, 0, KEY_QUERY_VALUE | view, key.put()) != ERROR_SUCCESS) return false;
    wchar_t raw[kFolderChars + 1];
    DWORD type = 0;
    DWORD bytes = kFolderChars * sizeof(wchar_t);
    if (RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(raw), &bytes) != ERROR_SUCCESS)
        return false;
    raw[bytes / sizeof(wchar_t)] = 0;  // stored strings need not be terminated
    if (type == REG_SZ) {
        if (wcslen(raw) >= kFolderChars) return false;
        wcscpy(out, raw);
    } else if (type == REG_EXPAND_SZ) {
        DWORD n = ExpandEnvironmentStringsW(raw, out, kFolderChars);
        if (n == 0 || n > kFolderChars || wcschr(out, L'%')) {
            out[0] = 0;
            return false;
        }
    } else {
        return false;
    }
    return out[0] != 0;
}

// A value of the Explorer folder keys, "User Shell Folders" first.
bool ReadShellFolder(HKEY root, const wchar_t* name, REGSAM view, FolderBuffer& out) {
    return ReadFolderValue(root, kUserShellFoldersKey, name, view, out) ||
           ReadFolderValue(root, kShellFoldersKey, name, view, out);
}

bool CurrentUserSid(Str& out) {
    KernelHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
    alignas(TOKEN_USER) BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    if (!GetTokenInformation(token.get(), TokenUser, buffer, sizeof buffer, &size)) return false;
    out.AppendSid(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid);
    return !out.IsEmpty();
}

bool ReadProfileFolder(REGSAM view, FolderBuffer& out) {
    Str subkey = kProfileListKey;
    size_t prefix = subkey.Length();
    if (!CurrentUserSid(subkey) || subkey.Length() == prefix) return false;
    return ReadFolderValue(HKEY_LOCAL_MACHINE, subkey.c_str(), L"ProfileImagePath", view, out);
}

// A directory query of the GetWindowsDirectoryW kind into the folder buffer.
bool FromDirectoryCall(UINT(WINAPI* query)(LPWSTR, UINT), FolderBuffer& out) {
    UINT n = query(out, kFolderChars);
    if (n == 0 || n >= kFolderChars) {
        out[0] = 0;
        return false;
    }
    return true;
}

bool ReadWow64SystemFolder(FolderBuffer& out) {
    // Looked up at run time: older systems do not export it.
    using Wow64Query = UINT(WINAPI*)(LPWSTR, UINT);
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    auto query = kernel ? reinterpret_cast<Wow64Query>(
                              reinterpret_cast<void*>(GetProcAddress(kernel, "GetSystemWow64DirectoryW")))
                        : nullptr;
    if (query && FromDirectoryCall(query, out)) return true;
    return FromDirectoryCall(GetSystemDirectoryW, out);
}

// The Explorer value names of the registry-backed folders. A folder with both
// names is looked up for all users first, then for the current user.
struct ShellFolderNames {
    int csidl;
    const wchar_t* allUsers;
    const wchar_t* currentUser;
};

constexpr ShellFolderNames kShellFolders[] = {
    {0x02, nullptr, L"Programs"},
    {0x05, nullptr, L"Personal"},
    {0x06, nullptr, L"Favorites"},
    {0x07, nullptr, L"Startup"},
    {0x08, nullptr, L"Recent"},
    {0x09, nullptr, L"SendTo"},
    {0x0B, nullptr, L"Start Menu"},
    {0x10, nullptr, L"Desktop"},
    {0x13, nullptr, L"NetHood"},
    {0x14, nullptr, L"Fonts"},
    {0x15, nullptr, L"Templates"},
    {0x16, L"Common Start Menu", nullptr},
    {0x17, L"Common Programs", nullptr},
    {0x18, L"Common Startup", nullptr},
    {0x19, L"Common Desktop", nullptr},
    {0x1A, nullptr, L"AppData"},
    {0x1B, nullptr, L"PrintHood"},
    {0x1C, nullptr, L"Local AppData"},
    {0x1F, L"Common Favorites", L"Favorites"},
    {0x20, nullptr, L"Cache"},
    {0x21, nullptr, L"Cookies"},
    {0x22, nullptr, L"History"},
    {0x23, L"Common AppData", nullptr},
    {0x2D, L"Common Templates", nullptr},
    {0x2E, L"Common Documents", nullptr},
    {0x2F, L"Common Administrative Tools", nullptr},
    {0x30, nullptr, L"Administrative Tools"},
    {0x3B, nullptr, L"CD Burning"},
};

// Resolves special folder `csidl` with the given registry view; true when a
// source yields a non-empty text.
bool ResolveSpecialFolder(int csidl, REGSAM view, FolderBuffer& out) {
    out[0] = 0;
    switch (csidl) {
        case 0x24:  // SystemRoot
            return FromDirectoryCall(GetSystemWindowsDirectoryW, out) || FromDirectoryCall(GetWindowsDirectoryW, out);
        case 0x26:
            return ReadFolderValue(HKEY_LOCAL_MACHINE, kCurrentVersionKey, L"ProgramFilesDir", view, out);
        case 0x2B:
            return ReadFolderValue(HKEY_LOCAL_MACHINE, kCurrentVersionKey, L"CommonFilesDir", view, out);
        case 0x28:
            return ReadProfileFolder(view, out);
        case 0x38: {
            if (!FromDirectoryCall(GetWindowsDirectoryW, out)) return false;
            constexpr wchar_t kResources[] = L"\\resources";
            size_t n = wcslen(out);
            if (n + wcslen(kResources) >= kFolderChars) {
                out[0] = 0;
                return false;
            }
            wcscpy(out + n, kResources);
            return true;
        }
        case 0x29:
            return ReadWow64SystemFolder(out);
        case 0x25:
            return FromDirectoryCall(GetSystemDirectoryW, out);
        default:
            break;
    }
    for (const ShellFolderNames& names : kShellFolders) {
        if (names.csidl != csidl) continue;
        if (names.allUsers && ReadShellFolder(HKEY_LOCAL_MACHINE, names.allUsers, view, out)) return true;
        if (names.currentUser && ReadShellFolder(HKEY_CURRENT_USER, names.currentUser, view, out)) return true;
        return false;
    }
    return false;  // "Resources Localized" and "Profiles" never resolve
}

// One macro and where its folder comes from when its own source has no
// text: the shell's known folder (asked only for registry-backed folders),
// then the folder as today's systems lay it out, then the fallback of older
// layouts.
struct MacroRow {
    int csidl;
    const wchar_t* macro;
    const GUID* knownFolder;       // null: the shell is not asked
    const wchar_t* currentLayout;  // taken only when every variable in it is set; null: none
    const wchar_t* fallback;       // null: the macro is left out when nothing else resolves
};

constexpr MacroRow kUserAndCommonFolders[] = {
    {0x02, L"Programs", &FOLDERID_Programs, nullptr, L"%USERPROFILE%\\Start Menu\\Programs"},
    {0x05, L"Personal", &FOLDERID_Documents, nullptr, L"%USERPROFILE%\\My Documents"},
    {0x06, L"Favorites", &FOLDERID_Favorites, nullptr, L"%USERPROFILE%\\Favorites"},
    {0x07, L"Startup", &FOLDERID_Startup, nullptr, L"%USERPROFILE%\\Start Menu\\Programs\\Startup"},
    {0x08, L"Recent", &FOLDERID_Recent, nullptr, L"%USERPROFILE%\\Recent"},
    {0x09, L"SendTo", &FOLDERID_SendTo, nullptr, L"%USERPROFILE%\\SendTo"},
    {0x0B, L"StartMenu", &FOLDERID_StartMenu, nullptr, L"%USERPROFILE%\\Start Menu"},
    {0x10, L"Desktop", &FOLDERID_Desktop, nullptr, L"%USERPROFILE%\\Desktop"},
    {0x13, L"NetHood", &FOLDERID_NetHood, nullptr, L"%USERPROFILE%\\NetHood"},
    {0x14, L"Fonts", &FOLDERID_Fonts, nullptr, L"%SystemRoot%\\fonts"},
    {0x15, L"Templates", &FOLDERID_Templates, nullptr, L"%USERPROFILE%\\Templates"},
    {0x16, L"Common StartMenu", &FOLDERID_CommonStartMenu, L"%ProgramData%\\Microsoft\\Windows\\Start Menu",
     L"%ALLUSERSPROFILE%\\Start Menu"},
    {0x17, L"Common Programs", &FOLDERID_CommonPrograms,
     L"%ProgramData%\\Microsoft\\Windows\\Start Menu\\Programs", L"%ALLUSERSPROFILE%\\Start Menu\\Programs"},
    {0x18, L"Common Startup", &FOLDERID_CommonStartup,
     L"%ProgramData%\\Microsoft\\Windows\\Start Menu\\Programs\\Startup",
     L"%ALLUSERSPROFILE%\\Start Menu\\Programs\\Startup"},
    {0x19, L"Common Desktop", &FOLDERID_PublicDesktop, L"%PUBLIC%\\Desktop", L"%ALLUSERSPROFILE%\\Desktop"},
    {0x1A, L"AppData", &FOLDERID_RoamingAppData, nullptr, L"%APPDATA%"},
    {0x1C, L"Local AppData", &FOLDERID_LocalAppData, nullptr, L"%LOCALAPPDATA%"},
    // Today's systems have no common favorites: the shell answers with the
    // user's, as the registry lookup does.
    {0x1F, L"Common Favorites", &FOLDERID_Favorites, nullptr, L"%ALLUSERSPROFILE%\\Favorites"},
    {0x23, L"Common AppData", &FOLDERID_ProgramData, L"%ProgramData%", L"%ALLUSERSPROFILE%\\Application Data"},
    {0x24, L"SystemRoot", nullptr, nullptr, L"%SystemRoot%"},
    // This program is 64-bit: the 32-bit program folder is the shell's x86 one.
    {0x26, L"ProgramFilesDir", &FOLDERID_ProgramFilesX86, L"%ProgramFiles(x86)%", L"%ProgramFiles%"},
    {0x28, L"Profile", &FOLDERID_Profile, nullptr, L"%USERPROFILE%"},
};

constexpr MacroRow kMoreFolders[] = {
    {0x1B, L"PrintHood", &FOLDERID_PrintHood, nullptr, L"%USERPROFILE%\\PrintHood"},
    {0x20, L"Internet Cache", &FOLDERID_InternetCache, nullptr, L"%LOCALAPPDATA%\\Temporary Internet Files"},
    {0x21, L"Cookies", &FOLDERID_Cookies, nullptr, L"%USERPROFILE%\\Cookie"},
    {0x22, L"History", &FOLDERID_History, nullptr, L"%LOCALAPPDATA%\\History"},
    {0x2B, L"Program Files Common", &FOLDERID_ProgramFilesCommonX86, L"%CommonProgramFiles(x86)%",
     L"%ProgramFiles%\\Common Files"},
    {0x2D, L"Common Templates", &FOLDERID_CommonTemplates, L"%ProgramData%\\Microsoft\\Windows\\Templates",
     L"%ALLUSERSPROFILE%\\Templates"},
    {0x2E, L"Common Documents", &FOLDERID_PublicDocuments, L"%PUBLIC%\\Documents", L"%ALLUSERSPROFILE%\\Documents"},
    {0x2F, L"Common AdminTools", &FOLDERID_CommonAdminTools,
     L"%ProgramData%\\Microsoft\\Windows\\Start Menu\\Programs\\Administrative Tools",
     L"%ALLUSERSPROFILE%\\Start Menu\\Programs\\Administrative Tools"},
    {0x30, L"AdminTools", &FOLDERID_AdminTools, nullptr,
     L"%USERPROFILE%\\Start Menu\\Programs\\Administrative Tools"},
    {0x38, L"Resources", nullptr, nullptr, L"%SystemRoot%\\Resources"},
    {0x39, L"Resources Localized", nullptr, nullptr, nullptr},
    {0x3B, L"CDBurn Area", &FOLDERID_CDBurning, nullptr, L"%LOCALAPPDATA%\\Microsoft\\CD Burning"},
    {0x3E, L"Profiles", nullptr, nullptr, nullptr},
};

// The native folders of a 64-bit process, read through the 64-bit view.
constexpr MacroRow kNativeFolders[] = {
    {0x26, L"ProgramFilesDir(x64)", &FOLDERID_ProgramFilesX64, nullptr, L"%ProgramW6432%"},
    {0x29, L"SystemSystem", nullptr, nullptr, nullptr},
};

// Adds macro `name` for `folder` to both tables in every form the folder may
// be written in: as it is, in NT form, in short form, as a file URL of the
// short form, and with the drive colon as "?".
void AddMacro(const wchar_t* name, const wchar_t* folder) {
    FolderMacroTable& encode = EncodeTable();
    FolderMacroTable& decode = DecodeTable();

    Str macro;
    macro.Format(L"%%%ls%%", name);
    encode.Insert(folder, macro.c_str(), macro.c_str());
    decode.Insert(macro.c_str(), folder, folder);

    UNICODE_STRING nt{};
    if (RtlDosPathNameToNtPathName_U(folder, &nt, nullptr, nullptr)) {
        Str ntForm(nt.Buffer, nt.Length / sizeof(wchar_t));
        RtlFreeUnicodeString(&nt);
        encode.Insert(ntForm.c_str(), macro.c_str(), macro.c_str());
    }

    Str shortMacro;
    shortMacro.Format(L"%%%ls~", name);
    // One call in the usual case: each call walks the folder's levels on
    // disk, and a short form is no longer than the folder it names.
    Str shortForm;
    shortForm.Reserve(kFolderChars, true);
    DWORD room = static_cast<DWORD>(shortForm.Capacity() - 1);
    DWORD n = GetShortPathNameW(folder, shortForm.Data(), room);
    if (n >= room) {
        shortForm.Reserve(n, true);
        room = static_cast<DWORD>(shortForm.Capacity() - 1);
        n = GetShortPathNameW(folder, shortForm.Data(), room);
    }
    shortForm.SetLength(n > 0 && n < room ? n : 0);
    if (!shortForm.IsEmpty() &&
        CompareStringOrdinal(shortForm.c_str(), static_cast<int>(shortForm.Length()), folder, -1, TRUE) !=
            CSTR_EQUAL) {
        encode.Insert(shortForm.c_str(), shortMacro.c_str(), folder);
        decode.Insert(shortMacro.c_str(), shortForm.c_str(), folder);
        wchar_t url[264];
        DWORD urlChars = 264;
        if (SUCCEEDED(UrlCreateFromPathW(shortForm.c_str(), url, &urlChars, 0))) {
            Str urlMacro;
            urlMacro.Format(L"%%%ls*", name);
            encode.Insert(url, urlMacro.c_str(), folder);
            decode.Insert(urlMacro.c_str(), url, folder);
        }
    } else {
        decode.Insert(shortMacro.c_str(), folder, folder);
    }

    if (folder[0] != 0 && folder[1] == L':') {
        Str query = folder;
        query.Data()[1] = L'?';
        Str queryMacro;
        queryMacro.Format(L"%%?%ls%%", name);
        encode.Insert(query.c_str(), queryMacro.c_str(), nullptr);
        decode.Insert(queryMacro.c_str(), query.c_str(), nullptr);
    }
}

// A fallback text with its variables expanded; with `complete`, refused
// when a variable is not set (the text would still hold a "%").
bool ExpandFallback(const wchar_t* text, bool complete, FolderBuffer& out) {
    DWORD n = ExpandEnvironmentStringsW(text, out, kFolderChars);
    return n != 0 && n <= kFolderChars && !(complete && wcschr(out, L'%'));
}

void AddRows(const MacroRow* rows, size_t count, REGSAM view, KnownFolderQuery knownFolders) {
    FolderBuffer folder;
    for (size_t i = 0; i < count; ++i) {
        const MacroRow& row = rows[i];
        // An unset variable stays in the older fallback as it is.
        if (!ResolveSpecialFolder(row.csidl, view, folder) &&
            !(row.knownFolder && knownFolders && knownFolders(*row.knownFolder, folder)) &&
            !(row.currentLayout && ExpandFallback(row.currentLayout, true, folder)) &&
            !(row.fallback && ExpandFallback(row.fallback, false, folder)))
            continue;
        AddMacro(row.macro, folder);
    }
}

bool GetVariable(const wchar_t* name, Str& out) {
    out.Clear();
    DWORD need = GetEnvironmentVariableW(name, nullptr, 0);
    if (need == 0) return GetLastError() != ERROR_ENVVAR_NOT_FOUND;  // set but empty
    out.Reserve(need + 2, true);
    DWORD n = GetEnvironmentVariableW(name, out.Data(), need);
    out.SetLength(n < need ? n : 0);
    return true;
}

// Puts TEMP and USERPROFILE back as they were, however the build ends.
class SavedVariable {
public:
    explicit SavedVariable(const wchar_t* name) : name_(name) { wasSet_ = GetVariable(name, value_); }
    ~SavedVariable() { SetEnvironmentVariableW(name_, wasSet_ ? value_.c_str() : nullptr); }
    SavedVariable(const SavedVariable&) = delete;
    SavedVariable& operator=(const SavedVariable&) = delete;

private:
    const wchar_t* name_;
    Str value_;
    bool wasSet_ = false;
};

SRWLOCK g_initLock = SRWLOCK_INIT;
bool g_initDone = false;

}  // namespace

bool ShellKnownFolder(const GUID& folder, wchar_t* out) {
    out[0] = 0;
    // A folder that does not exist yet still has its path, as a registry
    // value would give it.
    PWSTR path = nullptr;
    HRESULT hr = SHGetKnownFolderPath(folder, KF_FLAG_DONT_VERIFY, nullptr, &path);
    const bool fits = SUCCEEDED(hr) && path && path[0] && wcslen(path) < kFolderChars;
    if (fits) wcscpy(out, path);
    CoTaskMemFree(path);
    return fits;
}

void InitFolderMacros(KnownFolderQuery knownFolders) {
    AcquireSRWLockExclusive(&g_initLock);
    struct Unlock {
        ~Unlock() { ReleaseSRWLockExclusive(&g_initLock); }
    } unlock;
    if (g_initDone) return;
    g_initDone = true;

    SavedVariable savedTemp(L"TEMP");
    SavedVariable savedProfile(L"USERPROFILE");

    FolderBuffer folder;
    if (ReadProfileFolder(kView32, folder)) SetEnvironmentVariableW(L"USERPROFILE", folder);
    if (ReadFolderValue(HKEY_CURRENT_USER, L"Environment", L"TEMP", kView32, folder))
        SetEnvironmentVariableW(L"TEMP", folder);

    AddRows(kUserAndCommonFolders, std::size(kUserAndCommonFolders), kView32, knownFolders);
    AddRows(kMoreFolders, std::size(kMoreFolders), kView32, knownFolders);
    AddRows(kNativeFolders, std::size(kNativeFolders), kView64, knownFolders);

    if (ResolveSpecialFolder(0x25, kView64, folder)) AddMacro(L"SystemSystem(x64)", folder);

    Str temp;
    if (GetVariable(L"TEMP", temp) && !temp.IsEmpty()) {
        Str longTemp;
        DWORD need = GetLongPathNameW(temp.c_str(), nullptr, 0);
        if (need > 0) {
            longTemp.Reserve(need + 2, true);
            DWORD n = GetLongPathNameW(temp.c_str(), longTemp.Data(), need);
            longTemp.SetLength(n > 0 && n < need ? n : 0);
        }
        AddMacro(L"Temp", longTemp.IsEmpty() ? temp.c_str() : longTemp.c_str());
    }
}

}  // namespace scancap
