#include "suggest/machine_facts.h"

#include "suggest/store_values.h"
#include "support/handles.h"
#include "support/name_encoding.h"

#include <cstring>
#include <cwchar>
#include <vector>

extern "C" NTSYSAPI NTSTATUS NTAPI RtlGetVersion(PRTL_OSVERSIONINFOW info);

namespace scancap {
namespace {

constexpr wchar_t kInternetExplorerKey[] = L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Internet Explorer";

Str InternetExplorerVersion(const SnapshotStore& store, bool preferServiceVersion) {
    Str version;
    uint32_t key = store.FindKeyByPath(kInternetExplorerKey);
    if (key == 0) return version;
    if (preferServiceVersion && ReadStringValue(store, key, L"svcVersion", version)) return version;
    if (!ReadStringValue(store, key, L"Version", version)) version.Clear();
    return version;
}

bool StartsWithNoCase(const Str& text, const wchar_t* prefix) {
    int length = static_cast<int>(wcslen(prefix));
    if (text.Length() < static_cast<size_t>(length)) return false;
    return CompareStringOrdinal(text.c_str(), length, prefix, length, TRUE) == CSTR_EQUAL;
}

}  // namespace

bool IEUpgradeTest(const SnapshotStore& pre, const SnapshotStore& post, const wchar_t* fromPrefix,
                   const wchar_t* toPrefix) {
    Str preVersion = InternetExplorerVersion(pre, false);
    Str postVersion = InternetExplorerVersion(post, true);
    if (preVersion.IsEmpty() || postVersion.IsEmpty() || preVersion.EqualsNoCase(postVersion)) return false;
    if (fromPrefix && !StartsWithNoCase(preVersion, fromPrefix)) return false;
    return StartsWithNoCase(postVersion, toPrefix);
}

void SetUpgradeFlags(const SnapshotStore& pre, const SnapshotStore& post, UpgradeFlags& flags) {
    flags.ieUpgrade6To7 = IEUpgradeTest(pre, post, L"6.", L"7.");
    flags.ieUpgradeTo7To9 = IEUpgradeTest(pre, post, nullptr, L"7.") || IEUpgradeTest(pre, post, nullptr, L"8.") ||
                            IEUpgradeTest(pre, post, nullptr, L"9.");
    flags.ieUpgradeTo10 = IEUpgradeTest(pre, post, nullptr, L"10.");
    flags.ieUpgradeTo11 = IEUpgradeTest(pre, post, nullptr, L"11.");
}

namespace {

const wchar_t* DriveTypeName(uint8_t type) {
    switch (type) {
    case DRIVE_REMOVABLE: return L"REMOVABLE";
    case DRIVE_FIXED: return L"FIXED";
    case DRIVE_CDROM: return L"CDROM";
    case DRIVE_RAMDISK: return L"RAMDISK";
    default: return nullptr;  // remote drives stay out of a package
    }
}

void AppendDrive(Str& list, const DriveRecord& drive, const wchar_t* typeName) {
    if (!list.IsEmpty()) list += L"; ";
    list.AppendFormat(L"Drive=%c, Serial=%08x, Type=%ls", wchar_t(drive.driveLetter), drive.serialNumber, typeName);
}

// Reads a string value of an open key whole, whatever its length.
bool QueryString(HKEY key, const wchar_t* name, Str& out) {
    DWORD type = 0, bytes = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS) return false;
    out.Reserve(bytes / sizeof(wchar_t) + 1, true);
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(out.Data()), &bytes) != ERROR_SUCCESS)
        return false;
    size_t units = bytes / sizeof(wchar_t);
    out.Data()[units] = L'\0';
    out.SetLength(wcslen(out.c_str()));
    return true;
}

}  // namespace

DriveLists DriveLines(const SnapshotStore& post) {
    DriveLists lists;
    uint32_t count = post.DriveCount();
    for (uint32_t i = 0; i < count; ++i) {
        DriveRecord drive;
        if (!post.ReadDrive(post.Drive(i), drive)) continue;
        const wchar_t* typeName = DriveTypeName(drive.driveType);
        if (!typeName) continue;
        AppendDrive(lists.allDrives, drive, typeName);
        if (drive.driveType == DRIVE_FIXED) AppendDrive(lists.fixedDrives, drive, typeName);
    }
    return lists;
}

uint32_t ProcessorCoreCount() {
    using Query = BOOL(WINAPI*)(PSYSTEM_LOGICAL_PROCESSOR_INFORMATION, PDWORD);
    auto query = reinterpret_cast<Query>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32"), "GetLogicalProcessorInformation")));
    if (!query) return 0;
    constexpr DWORD kRecordBytes = 32;  // the record as a 64-bit system lays it out
    std::vector<uint8_t> buffer;
    DWORD bytes = 0;
    while (!query(reinterpret_cast<PSYSTEM_LOGICAL_PROCESSOR_INFORMATION>(buffer.data()), &bytes)) {
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || bytes <= buffer.size()) return 0;
        buffer.resize(bytes);
    }
    if (bytes < kRecordBytes) return 0;
    uint32_t cores = 0;
    for (DWORD at = 0; at + kRecordBytes <= bytes; at += kRecordBytes) {
        uint32_t relationship;
        std::memcpy(&relationship, buffer.data() + at + 8, sizeof relationship);
        if (relationship == RelationProcessorCore) ++cores;
    }
    return cores;
}

bool IsHalvernVirtualMachine() {
    if (GetFileAttributesW(L"C:\\Program Files\\Halvern\\Halvern Tools") != INVALID_FILE_ATTRIBUTES) return true;
    RegKey uninstall;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall", 0, KEY_READ,
                      uninstall.put()) != ERROR_SUCCESS)
        return false;
    wchar_t name[MAX_PATH + 1];
    Str displayName;
    for (DWORD index = 0;; ++index) {
        DWORD length = MAX_PATH + 1;
        LONG status = RegEnumKeyExW(uninstall.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) return false;
        if (status != ERROR_SUCCESS) continue;
        RegKey entry;
        if (RegOpenKeyExW(uninstall.get(), name, 0, KEY_READ, entry.put()) == ERROR_SUCCESS &&
            QueryString(entry.get(), L"DisplayName", displayName) && displayName == Str(L"Halvern Tools"))
            return true;
    }
}

Str RegisteredOrganization() {
    Str organization;
    RegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", 0, KEY_READ,
                      key.put()) != ERROR_SUCCESS ||
        !QueryString(key.get(), L"RegisteredOrganization", organization) || organization.IsEmpty())
        organization = L"Unknown";
    return organization;
}

Str ComputerName() {
    Str name;
    DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
    for (int attempt = 0; attempt < 4; ++attempt) {
        name.Reserve(length + 1, true);
        DWORD size = length;
        if (GetComputerNameW(name.Data(), &size)) {
            name.SetLength(size);
            return name;
        }
        if (GetLastError() != ERROR_BUFFER_OVERFLOW) break;
        length = size + 1;
    }
    name.Clear();
    return name;
}

SystemVersion RunningSystemVersion() {
    RTL_OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    SystemVersion version;
    if (RtlGetVersion(reinterpret_cast<PRTL_OSVERSIONINFOW>(&info)) != 0) return version;
    version.major = info.dwMajorVersion;
    version.minor = info.dwMinorVersion;
    version.suiteMask = info.wSuiteMask;
    version.productType = info.wProductType;
    version.servicePack = info.szCSDVersion;
    return version;
}

int SystemArchitecture() {
    SYSTEM_INFO info{};
    GetNativeSystemInfo(&info);
    switch (info.wProcessorArchitecture) {
    case PROCESSOR_ARCHITECTURE_AMD64:
    case PROCESSOR_ARCHITECTURE_IA64:
    case PROCESSOR_ARCHITECTURE_ARM64:
        return 64;
    default:
        return 32;
    }
}

void WriteLocaleLines(Str& text) {
    text.AppendFormat(L"\r\nAnsiCodePage=%d\r\nLocaleIdentifier=%d\r\n", int(GetACP()), int(GetSystemDefaultLCID()));
    using Query = int(WINAPI*)(LPWSTR, int);
    auto query = reinterpret_cast<Query>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetSystemDefaultLocaleName")));
    wchar_t locale[LOCALE_NAME_MAX_LENGTH];
    if (query && query(locale, LOCALE_NAME_MAX_LENGTH) > 0) text.AppendFormat(L"LocaleName=%ls\r\n", locale);
}

void WriteWow64Lines(const SnapshotStore& post, const UpgradeFlags& flags, Str& text) {
    text += L"\r\n; If you have problems running a 32 bit application under 64 bit Windows, try enabling this line "
            L"before building the project\r\n";
    bool active = false;
    if (flags.ieUpgradeTo10 || flags.ieUpgradeTo11) {
        // A browser upgrade without the 64-bit browser needs the 32-bit view.
        static const wchar_t kBrowser64[] = L"%ProgramFilesDir(x64)%\\Internet Explorer\\iexplore.exe";
        Str path;
        DecodeProjectPath(kBrowser64, wcslen(kBrowser64), path);
        FileEntry entry;
        active = !post.FindFileEntry(path.c_str(), entry);
    }
    text += active ? L"Wow64=0\r\n" : L";Wow64=0\r\n";
}

void WriteAltArchitectureLines(Str& text, bool bothKinds) {
    text.AppendFormat(L"\r\n; If you have problems running a mixed 32/64 bit application under 64 bit Windows, try "
                      L"enabling this line before building the project\r\nAltArchitectureShortcut=%d\r\n",
                      bothKinds ? 1 : 0);
}

void WriteDotNetLines(Str& text) {
    text += L"\r\n; Enable this option to load .Net binaries from the system instead of the package on Windows 7 or "
            L"above\r\n;LoadDotNetFromSystem=Win7\r\n";
}

void WriteQualityReportingLines(Str& text) { text += L"\r\nQualityReportingEnabled=0\r\n"; }

void WriteDdeLines(Str& text, int32_t ieSelection) {
    text += L"\r\n; Enable this option to ignore DDE messages from external processes\r\n";
    text += ieSelection == 2 ? L"IgnoreDDEMessages=1\r\n" : L";IgnoreDDEMessages=1\r\n";
}

}  // namespace scancap
