// Logging64.dll: the packager's logging library. Its one export hands out an
// object whose operations write facts about the machine they run on into an
// open file, as UTF-16LE lines "Label: value" ending in CR LF. Every project's
// support report is made of these lines, and a native install compares two of
// them ("Operating system:" and "User name:") between the capture machine and
// the machine it installs on.
#include "support/win.h"

#include <cstdarg>
#include <cstdio>
#include <cwchar>

namespace {

// {68AB2CEE-EDE2-4B39-A0FE-502393D650BE}
constexpr GUID kLoggingInterfaceId = {0x68ab2cee, 0xede2, 0x4b39, {0xa0, 0xfe, 0x50, 0x23, 0x93, 0xd6, 0x50, 0xbe}};

constexpr size_t kLineUnits = 512;

// printf into a fixed buffer; the text is cut, never overrun.
void FormatInto(wchar_t (&buffer)[kLineUnits], const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    int n = _vsnwprintf(buffer, kLineUnits - 1, format, args);
    va_end(args);
    buffer[n < 0 ? kLineUnits - 1 : size_t(n)] = 0;
}

// A string value of HKEY_LOCAL_MACHINE (the library is 64-bit: the native
// view); empty when absent.
void ReadMachineString(const wchar_t* key, const wchar_t* name, wchar_t (&buffer)[kLineUnits]) {
    DWORD size = sizeof(buffer);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key, name, RRF_RT_REG_SZ, nullptr, buffer, &size))
        buffer[0] = 0;
}

const wchar_t* ArchitectureName() {
    SYSTEM_INFO info;
    GetNativeSystemInfo(&info);
    switch (info.wProcessorArchitecture) {
    case PROCESSOR_ARCHITECTURE_AMD64: return L"64-bit";
    case PROCESSOR_ARCHITECTURE_ARM64: return L"ARM64";
    case PROCESSOR_ARCHITECTURE_INTEL: return L"32-bit";
    default: return L"unknown architecture";
    }
}

const wchar_t* DriveTypeName(UINT type) {
    switch (type) {
    case DRIVE_REMOVABLE: return L"removable";
    case DRIVE_FIXED: return L"fixed";
    case DRIVE_REMOTE: return L"network";
    case DRIVE_CDROM: return L"CD-ROM";
    case DRIVE_RAMDISK: return L"RAM disk";
    default: return L"unknown";
    }
}

unsigned long Megabytes(ULONGLONG bytes) { return static_cast<unsigned long>(bytes >> 20); }

// The operations in the order of the object's vtable. A caller that knows
// only the layout uses the eleventh, WriteMachineState, which writes them all.
class MachineLog {
public:
    virtual HRESULT QueryInterface(const GUID* interfaceId, void** object) {
        *object = IsEqualGUID(*interfaceId, kLoggingInterfaceId) ? this : nullptr;
        return *object ? S_OK : E_NOINTERFACE;
    }
    // The object lives as long as the library: counting is not needed.
    virtual ULONG AddRef() { return 1; }
    virtual ULONG Release() { return 1; }

    // "label: value" and CR LF at the file's position.
    virtual BOOL WriteFact(HANDLE file, const wchar_t* label, const wchar_t* value) {
        wchar_t line[kLineUnits];
        FormatInto(line, L"%ls: %ls\r\n", label, value);
        DWORD written = 0;
        return WriteFile(file, line, DWORD(std::wcslen(line) * sizeof(wchar_t)), &written, nullptr);
    }

    virtual void WriteOperatingSystem(HANDLE file) {
        wchar_t product[kLineUnits];
        ReadMachineString(L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", L"ProductName", product);
        // RtlGetVersion tells the true version, whatever the program's manifest.
        RTL_OSVERSIONINFOW version{};
        version.dwOSVersionInfoSize = sizeof(version);
        using RtlGetVersionFn = LONG(WINAPI*)(RTL_OSVERSIONINFOW*);
        auto rtlGetVersion = reinterpret_cast<RtlGetVersionFn>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
        if (rtlGetVersion) rtlGetVersion(&version);
        wchar_t value[kLineUnits];
        FormatInto(value, L"%ls, version %lu.%lu.%lu%ls%ls, %ls", product[0] ? product : L"Windows",
                   version.dwMajorVersion, version.dwMinorVersion, version.dwBuildNumber,
                   version.szCSDVersion[0] ? L", " : L"", version.szCSDVersion, ArchitectureName());
        WriteFact(file, L"Operating system", value);
    }

    virtual void WriteUser(HANDLE file) {
        wchar_t name[kLineUnits];
        DWORD size = kLineUnits;
        if (!GetUserNameW(name, &size)) name[0] = 0;
        WriteFact(file, L"User name", name);
        HANDLE token = nullptr;
        TOKEN_ELEVATION elevation{};
        DWORD returned = 0;
        if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
            if (!GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &returned))
                elevation.TokenIsElevated = 0;
            CloseHandle(token);
        }
        WriteFact(file, L"Elevated", elevation.TokenIsElevated ? L"yes" : L"no");
    }

    virtual void WriteComputer(HANDLE file) {
        wchar_t name[kLineUnits];
        DWORD size = kLineUnits;
        if (!GetComputerNameExW(ComputerNameDnsHostname, name, &size)) name[0] = 0;
        WriteFact(file, L"Computer name", name);
        size = kLineUnits;
        if (GetComputerNameExW(ComputerNameDnsDomain, name, &size) && name[0]) WriteFact(file, L"Domain", name);
    }

    virtual void WriteHardware(HANDLE file) {
        wchar_t processor[kLineUnits];
        ReadMachineString(L"HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0", L"ProcessorNameString", processor);
        const wchar_t* name = processor;
        while (*name == L' ') ++name;
        SYSTEM_INFO info;
        GetNativeSystemInfo(&info);
        wchar_t value[kLineUnits];
        FormatInto(value, L"%ls, %lu logical processors", name[0] ? name : L"unknown", info.dwNumberOfProcessors);
        WriteFact(file, L"Processor", value);
        MEMORYSTATUSEX memory{};
        memory.dwLength = sizeof(memory);
        if (GlobalMemoryStatusEx(&memory)) {
            FormatInto(value, L"%lu MB, %lu MB available", Megabytes(memory.ullTotalPhys),
                       Megabytes(memory.ullAvailPhys));
            WriteFact(file, L"Memory", value);
        }
    }

    virtual void WriteRegionalSettings(HANDLE file) {
        wchar_t name[LOCALE_NAME_MAX_LENGTH];
        if (GetUserDefaultLocaleName(name, LOCALE_NAME_MAX_LENGTH)) WriteFact(file, L"User locale", name);
        if (GetSystemDefaultLocaleName(name, LOCALE_NAME_MAX_LENGTH)) WriteFact(file, L"System locale", name);
        if (LCIDToLocaleName(GetUserDefaultUILanguage(), name, LOCALE_NAME_MAX_LENGTH, 0))
            WriteFact(file, L"UI language", name);
        TIME_ZONE_INFORMATION zone;
        if (GetTimeZoneInformation(&zone) != TIME_ZONE_ID_INVALID) {
            // The bias is what local time adds to reach UTC.
            const long offset = -zone.Bias;
            const long minutes = offset < 0 ? -offset : offset;
            wchar_t value[kLineUnits];
            FormatInto(value, L"%ls (UTC%lc%02ld:%02ld)", zone.StandardName, offset < 0 ? L'-' : L'+',
                       minutes / 60, minutes % 60);
            WriteFact(file, L"Time zone", value);
        }
    }

    virtual void WriteDrives(HANDLE file) {
        // No "insert a disk" box for an empty drive.
        const UINT savedMode = SetErrorMode(SEM_FAILCRITICALERRORS);
        const DWORD drives = GetLogicalDrives();
        for (int i = 0; i < 26; ++i) {
            if (!(drives & (1u << i))) continue;
            const wchar_t root[] = {wchar_t(L'A' + i), L':', L'\\', 0};
            const UINT type = GetDriveTypeW(root);
            wchar_t value[kLineUnits];
            wchar_t fileSystem[MAX_PATH + 1];
            ULARGE_INTEGER free{}, total{};
            if ((type == DRIVE_FIXED || type == DRIVE_REMOTE || type == DRIVE_RAMDISK) &&
                GetVolumeInformationW(root, nullptr, 0, nullptr, nullptr, nullptr, fileSystem, MAX_PATH + 1) &&
                GetDiskFreeSpaceExW(root, &free, &total, nullptr)) {
                FormatInto(value, L"%ls, %ls, %lu MB free of %lu MB", DriveTypeName(type), fileSystem,
                           Megabytes(free.QuadPart), Megabytes(total.QuadPart));
            } else {
                FormatInto(value, L"%ls", DriveTypeName(type));
            }
            wchar_t label[kLineUnits];
            FormatInto(label, L"Drive %lc", root[0]);
            WriteFact(file, label, value);
        }
        SetErrorMode(savedMode);
    }

    virtual HRESULT WriteMachineState(HANDLE file) {
        SYSTEMTIME now;
        GetLocalTime(&now);
        wchar_t value[kLineUnits];
        FormatInto(value, L"%04u-%02u-%02u %02u:%02u:%02u", now.wYear, now.wMonth, now.wDay, now.wHour,
                   now.wMinute, now.wSecond);
        WriteFact(file, L"Report time", value);
        WriteOperatingSystem(file);
        WriteUser(file);
        WriteComputer(file);
        WriteHardware(file);
        WriteRegionalSettings(file);
        WriteDrives(file);
        return S_OK;
    }
};

MachineLog g_log;

}  // namespace

// Hands out the library's object for the interface identifier above; 0 on
// success, E_NOINTERFACE (and a null object) for any other identifier.
extern "C" __declspec(dllexport) HRESULT GetLoggingInterfaceObject(const GUID* interfaceId, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (!interfaceId) return E_POINTER;
    return g_log.QueryInterface(interfaceId, object);
}
