#include "support/folder_macros_machine.h"

#include "common/testing.h"
#include "support/folder_macros.h"
#include "support/handles.h"

#include <gtest/gtest.h>

#include <shlwapi.h>

#include <cstring>
#include <optional>

namespace scancap::testing {
namespace {

constexpr wchar_t kCurrentVersion[] = L"Software\\Microsoft\\Windows\\CurrentVersion";
constexpr wchar_t kCurrentVersion32[] = L"Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion";
constexpr wchar_t kExplorer[] = L"\\Explorer";
constexpr wchar_t kProfileList[] = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
constexpr wchar_t kProfileList32[] = L"Software\\Wow6432Node\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

std::optional<TablesMachine> g_builtOn;
SyntheticUserResult g_synthetic;

Str Path(const wchar_t* a, const wchar_t* b = L"") {
    Str p = a;
    p += b;
    return p;
}

HKEY CreateKey(HKEY root, const Str& path) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS)
        << Utf8(path);
    return key;
}

void SetText(HKEY root, const Str& path, const wchar_t* name, DWORD type, const wchar_t* value) {
    RegKey key(CreateKey(root, path));
    ASSERT_TRUE(key);
    ASSERT_EQ(RegSetValueExW(key.get(), name, 0, type, reinterpret_cast<const BYTE*>(value),
                             static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
}

void CopyMachineTree(const wchar_t* source, HKEY destRoot, const Str& destPath) {
    RegKey from;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, source, 0, KEY_READ | KEY_WOW64_64KEY, from.put()), ERROR_SUCCESS)
        << Utf8(source);
    RegKey to(CreateKey(destRoot, destPath));
    ASSERT_TRUE(to);
    ASSERT_EQ(RegCopyTreeW(from.get(), nullptr, to.get()), ERROR_SUCCESS) << Utf8(source);
}

// The prefix's folder keys, readable through both views, with the program
// folders a 64-bit Windows gives each view.
void FillMachine(HKEY root) {
    Str nativeProgramFiles = ReadRegistryText(HKEY_LOCAL_MACHINE, kCurrentVersion, L"ProgramFilesDir");
    Str nativeCommonFiles = ReadRegistryText(HKEY_LOCAL_MACHINE, kCurrentVersion, L"CommonFilesDir");
    Str x86ProgramFiles = ReadRegistryText(HKEY_LOCAL_MACHINE, kCurrentVersion, L"ProgramFilesDir (x86)");
    Str x86CommonFiles = ReadRegistryText(HKEY_LOCAL_MACHINE, kCurrentVersion, L"CommonFilesDir (x86)");
    ASSERT_EQ(Utf8(x86ProgramFiles), "C:\\Program Files (x86)");
    ASSERT_FALSE(nativeProgramFiles.IsEmpty());

    SetText(root, kCurrentVersion, L"ProgramFilesDir", REG_SZ, nativeProgramFiles.c_str());
    SetText(root, kCurrentVersion, L"CommonFilesDir", REG_SZ, nativeCommonFiles.c_str());
    SetText(root, kCurrentVersion32, L"ProgramFilesDir", REG_SZ, x86ProgramFiles.c_str());
    SetText(root, kCurrentVersion32, L"CommonFilesDir", REG_SZ, x86CommonFiles.c_str());
    Str explorer = Path(kCurrentVersion, kExplorer);
    CopyMachineTree(explorer.c_str(), root, explorer);
    CopyMachineTree(explorer.c_str(), root, Path(kCurrentVersion32, kExplorer));
    CopyMachineTree(kProfileList, root, kProfileList);
    CopyMachineTree(kProfileList, root, kProfileList32);
}

// Shell folder values that exercise each rule of folder resolution.
void FillSyntheticUser(HKEY root) {
    Str userShell = Path(kCurrentVersion, L"\\Explorer\\User Shell Folders");
    Str shell = Path(kCurrentVersion, L"\\Explorer\\Shell Folders");
    SetText(root, L"Environment", L"TEMP", REG_EXPAND_SZ, L"%USERPROFILE%\\sc-temp");
    // Refused: a variable stays unexpanded.
    SetText(root, userShell, L"Desktop", REG_EXPAND_SZ, L"%SC_NO_SUCH_VARIABLE%\\Desktop");
    SetText(root, shell, L"Desktop", REG_SZ, L"C:\\sc-shell\\Desktop");
    // Refused: not a string.
    {
        RegKey key(CreateKey(root, userShell));
        DWORD one = 1;
        ASSERT_EQ(RegSetValueExW(key.get(), L"Personal", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4),
                  ERROR_SUCCESS);
    }
    SetText(root, shell, L"Personal", REG_SZ, L"C:\\sc-shell\\Documents");
    // Taken: "User Shell Folders" comes first.
    SetText(root, userShell, L"Favorites", REG_SZ, L"C:\\sc-user\\Favorites");
    SetText(root, shell, L"Favorites", REG_SZ, L"C:\\sc-shell\\Favorites");
    // Refused: empty.
    SetText(root, userShell, L"Templates", REG_SZ, L"");
    SetText(root, shell, L"Templates", REG_SZ, L"C:\\sc-shell\\Templates");
    // Expanded with the profile folder, not the caller's USERPROFILE.
    SetText(root, userShell, L"AppData", REG_EXPAND_SZ, L"%USERPROFILE%\\Roaming");
}

bool GetVariable(const wchar_t* name, Str& out) {
    wchar_t buffer[1024];
    DWORD n = GetEnvironmentVariableW(name, buffer, 1024);
    if (n == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) return false;
    EXPECT_LT(n, 1024u);
    out.Assign(buffer, n < 1024 ? n : 0);
    return true;
}

class SavedVariable {
public:
    explicit SavedVariable(const wchar_t* name) : name_(name) { set_ = GetVariable(name, value_); }
    ~SavedVariable() { SetEnvironmentVariableW(name_, set_ ? value_.c_str() : nullptr); }

private:
    const wchar_t* name_;
    Str value_;
    bool set_ = false;
};

void Build(TablesMachine machine) {
    Str suffix;
    suffix.Format(L"-%lu-%lu", GetCurrentProcessId(), static_cast<unsigned long>(GetTickCount()));
    TestRegKey machineKey(Path(L"paths-machine", suffix.c_str()).c_str());
    ASSERT_TRUE(machineKey.Get());
    FillMachine(machineKey.Get());
    if (::testing::Test::HasFatalFailure()) return;

    std::optional<TestRegKey> userKey;
    if (machine == TablesMachine::SyntheticUser) {
        userKey.emplace(Path(L"paths-user", suffix.c_str()).c_str());
        ASSERT_TRUE(userKey->Get());
        FillSyntheticUser(userKey->Get());
        if (::testing::Test::HasFatalFailure()) return;
    }

    SavedVariable temp(L"TEMP"), profile(L"USERPROFILE"), localAppData(L"LOCALAPPDATA");
    if (machine == TablesMachine::SyntheticUser) {
        SetEnvironmentVariableW(L"TEMP", SyntheticUserResult::kTempMarker);
        SetEnvironmentVariableW(L"USERPROFILE", SyntheticUserResult::kProfileMarker);
        SetEnvironmentVariableW(L"LOCALAPPDATA", nullptr);
    }

    ASSERT_EQ(RegOverridePredefKey(HKEY_LOCAL_MACHINE, machineKey.Get()), ERROR_SUCCESS);
    if (userKey) {
        ASSERT_EQ(RegOverridePredefKey(HKEY_CURRENT_USER, userKey->Get()), ERROR_SUCCESS);
    }
    InitFolderMacros(machine == TablesMachine::SyntheticUser ? [](const GUID&, wchar_t*) { return false; }
                                                             : ShellKnownFolder);
    RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
    if (userKey) RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);

    if (machine == TablesMachine::SyntheticUser) {
        GetVariable(L"TEMP", g_synthetic.tempAfter);
        GetVariable(L"USERPROFILE", g_synthetic.profileAfter);
        Str ignored;
        g_synthetic.localAppDataSetAfter = GetVariable(L"LOCALAPPDATA", ignored);
    }
}

}  // namespace

std::wstring W(const Str& s) { return std::wstring(s.c_str(), s.Length()); }

std::wstring ShortForm(const std::wstring& path) {
    wchar_t buffer[1024];
    DWORD n = GetShortPathNameW(path.c_str(), buffer, 1024);
    EXPECT_GT(n, 0u) << "no short form of " << Utf8(path.c_str());
    return std::wstring(buffer, n < 1024 ? n : 0);
}

std::wstring UrlOf(const std::wstring& path) {
    wchar_t url[264];
    DWORD chars = 264;
    EXPECT_EQ(UrlCreateFromPathW(path.c_str(), url, &chars, 0), S_OK) << Utf8(path.c_str());
    return std::wstring(url, chars);
}

Str ReadRegistryText(HKEY root, const wchar_t* subkey, const wchar_t* name) {
    RegKey key;
    REGSAM view = root == HKEY_LOCAL_MACHINE ? KEY_WOW64_64KEY : 0;
    if (RegOpenKeyExW(root, subkey, 0, KEY_QUERY_VALUE | view, key.put()) != ERROR_SUCCESS) return Str();
    wchar_t buffer[1024] = {};
    DWORD bytes = sizeof buffer - sizeof(wchar_t);
    DWORD type = 0;
    if (RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return Str();
    return Str(buffer);
}

bool BuildTablesOn(TablesMachine machine) {
    if (g_builtOn) return *g_builtOn == machine;
    g_builtOn = machine;
    Build(machine);
    return true;
}

const SyntheticUserResult& SyntheticUserObservation() { return g_synthetic; }

GuardedText::GuardedText(const wchar_t* text, bool withTerminator) {
    length_ = wcslen(text);
    const size_t bytes = (length_ + (withTerminator ? 1 : 0)) * sizeof(wchar_t);
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    const size_t page = info.dwPageSize;
    const size_t dataPages = (bytes + page - 1) / page + 1;
    block_ = VirtualAlloc(nullptr, (dataPages + 1) * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (!block_) {
        ADD_FAILURE() << "VirtualAlloc failed";
        return;
    }
    char* guard = static_cast<char*>(block_) + dataPages * page;
    DWORD old = 0;
    if (!VirtualProtect(guard, page, PAGE_NOACCESS, &old)) ADD_FAILURE() << "VirtualProtect failed";
    text_ = reinterpret_cast<wchar_t*>(guard - bytes);
    memcpy(text_, text, bytes);
}

GuardedText::~GuardedText() {
    if (block_) VirtualFree(block_, 0, MEM_RELEASE);
}

}  // namespace scancap::testing
