#include "report/machine_overview.h"

#include "support/console.h"
#include "support/mapped_text.h"

#include <cwchar>

namespace scancap {
namespace {

// {68AB2CEE-EDE2-4B39-A0FE-502393D650BE}: the logging library's interface.
constexpr GUID kLoggingInterfaceId = {0x68ab2cee, 0xede2, 0x4b39, {0xa0, 0xfe, 0x50, 0x23, 0x93, 0xd6, 0x50, 0xbe}};
using GetLoggingInterfaceObjectFn = HRESULT (*)(const GUID* interfaceId, void** object);
// The library's object is used through one entry of its vtable, the
// eleventh, which writes the machine-state lines at the file's position.
constexpr size_t kWriteMachineStateSlot = 10;
using WriteMachineStateFn = HRESULT (*)(void* self, HANDLE file);

// A fact line is cut to what a 255-byte buffer holds with its terminator,
// without splitting a surrogate pair.
constexpr size_t kFactUnits = 126;

constexpr wchar_t kReportName[] = L"Support\\Capture Machine Overview";

void WriteText(HANDLE file, const wchar_t* text) {
    DWORD written = 0;
    WriteFile(file, text, static_cast<DWORD>(std::wcslen(text) * sizeof(wchar_t)), &written, nullptr);
}

// The folder of `path` (cut at its last "\") followed by the library's name;
// empty when that does not fit in MAX_PATH.
Module LoadFrom(Str folder, bool cut) {
    if (cut) {
        const ptrdiff_t slash = folder.FindLast(L'\\');
        if (slash >= 0) folder.SetLength(size_t(slash));
    }
    folder += L"\\Logging64.dll";
    if (folder.Length() >= MAX_PATH) return Module();
    return Module(LoadLibraryW(folder.c_str()));
}

bool ReadVariable(const wchar_t* name, Str& value) {
    wchar_t buffer[MAX_PATH];
    const DWORD n = GetEnvironmentVariableW(name, buffer, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return false;
    value.Assign(buffer, n);
    return true;
}

bool RecordMachineState(HANDLE file) {
    Module library = LoadLoggingLibrary();
    if (!library) return false;
    auto get = reinterpret_cast<GetLoggingInterfaceObjectFn>(
        reinterpret_cast<void*>(GetProcAddress(library.get(), "GetLoggingInterfaceObject")));
    void* object = nullptr;
    if (!get || get(&kLoggingInterfaceId, &object) != 0 || !object) return false;
    // The object is the library's own; it is not released.
    void* const* vtable = *static_cast<void* const* const*>(object);
    reinterpret_cast<WriteMachineStateFn>(vtable[kWriteMachineStateSlot])(object, file);
    return true;
}

void KeepFact(const Str& line, Str& out) {
    size_t length = line.Length() < kFactUnits ? line.Length() : kFactUnits;
    if (length < line.Length() && line[length - 1] >= 0xD800 && line[length - 1] <= 0xDBFF) --length;
    out.Assign(line.c_str(), length);
}

}  // namespace

Module LoadLoggingLibrary() {
    wchar_t program[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, program, MAX_PATH);
    Module library;
    if (n > 0 && n < MAX_PATH) library = LoadFrom(Str(program, n), true);
    Str folder;
    if (!library && ReadVariable(L"VX_ORIGIN", folder)) library = LoadFrom(folder, true);
    if (!library && ReadVariable(L"VENDRIX_BIN", folder)) library = LoadFrom(folder, false);
    return library;
}

void WriteCaptureMachineOverview(const Str& folder) {
    Str path;
    path.Format(L"%ls\\Support", folder.c_str());
    CreateDirectoryW(path.c_str(), nullptr);
    path.Format(L"%ls\\%ls.txt", folder.c_str(), kReportName);
    FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;
    WriteText(file.get(), L"\xFEFF" L"Capture Machine Overview\r\n");
    bool recorded = false;
    try {
        recorded = RecordMachineState(file.get());
    } catch (...) {
        // Whatever the library throws, the report is still closed.
    }
    if (!recorded) WriteText(file.get(), L"LoggingDll failed to load, could not record machine state\r\n");
}

void ReadOverviewFacts(const Str& file, Str& operatingSystem, Str& userName) {
    operatingSystem.Clear();
    userName.Clear();
    MappedFile mapped;
    if (MapTextFile(file, mapped) != MapResult::Mapped) return;
    const size_t skip = mapped.size < 2 ? mapped.size : 2;
    Utf16Lines lines(mapped.Bytes() + skip, mapped.size - skip);
    bool haveSystem = false;
    bool haveUser = false;
    Str line;
    while (!(haveSystem && haveUser) && lines.Next(line)) {
        if (!haveSystem && StartsWithAsciiNoCase(line.c_str(), line.Length(), L"Operating system:")) {
            KeepFact(line, operatingSystem);
            haveSystem = true;
        } else if (!haveUser && StartsWithAsciiNoCase(line.c_str(), line.Length(), L"User name:")) {
            KeepFact(line, userName);
            haveUser = true;
        }
    }
}

void ShowCaptureAndDeployedMachine(const Str& captureFolder) {
    Str report;
    report.Format(L"%ls\\%ls.txt", captureFolder.c_str(), kReportName);
    Str aside;
    aside.Format(L"%ls\\%ls.tmp", captureFolder.c_str(), kReportName);
    Str captureSystem, captureUser, deployedSystem, deployedUser;
    ReadOverviewFacts(report, captureSystem, captureUser);
    // A side file left by an interrupted install holds the capture
    // machine's report: it is not replaced, and it is what comes back.
    MoveFileW(report.c_str(), aside.c_str());
    WriteCaptureMachineOverview(captureFolder);
    ReadOverviewFacts(report, deployedSystem, deployedUser);
    DeleteFileW(report.c_str());
    MoveFileW(aside.c_str(), report.c_str());

    // Plain printer: the lines go out exactly as written, to standard output.
    static const wchar_t kStars[] =
        L"********************************************************************************\n";
    PrintPlain(kStars);
    PrintPlain(L"***********************CAPTURE MACHINE INFORMATION******************************\n");
    PrintPlain(L"%ls\n", captureSystem.c_str());
    PrintPlain(L"%ls\n\n\n", captureUser.c_str());
    PrintPlain(kStars);
    PrintPlain(L"***********************DEPLOYED MACHINE INFORMATION*****************************\n");
    PrintPlain(L"%ls\n", deployedSystem.c_str());
    PrintPlain(L"%ls\n\n\n", deployedUser.c_str());
}

}  // namespace scancap
