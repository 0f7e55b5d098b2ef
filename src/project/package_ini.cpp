#include "project/package_ini.h"

#include "project/build_script.h"
#include "project/file_tree.h"
#include "project/overrides.h"
#include "suggest/machine_facts.h"
#include "support/fatal.h"
#include "support/handles.h"

#include <vector>

namespace scancap {

namespace {

constexpr char kToolVersion[] = "5.1.0";
constexpr unsigned kToolBuild = 2079447;
constexpr int kProcessorArchitecture = 9;  // x64

// The last component of the output directory's full path.
Str SandboxNameOf(const Str& outputDir) {
    DWORD needed = GetFullPathNameW(outputDir.c_str(), 0, nullptr, nullptr);
    Str full;
    if (needed) {
        full.Reserve(needed, true);
        DWORD length = GetFullPathNameW(outputDir.c_str(), needed, full.Data(), nullptr);
        full.SetLength(length < needed ? length : 0);
    }
    if (full.IsEmpty()) full = outputDir;
    ptrdiff_t slash = full.FindLast(L'\\');
    return full.Mid(size_t(slash + 1));
}

constexpr wchar_t kAccessBlock[] =
    L";;PermittedGroups allows you to restrict access to only users who belong to specific ActiveDirectory Groups\r\n"
    L";PermittedGroups=Administrators;Remote Desktop Users\r\n"
    L"\r\n"
    L";;PermittedComputers limits the package to computers that belong to the listed ActiveDirectory Groups\r\n"
    L";PermittedComputers=DomainName1\\GroupName1;DomainName1\\GroupName2\r\n"
    L"\r\n"
    L";;PermittedComputersOfflineAccess=1 lets a permitted computer run the package while no domain controller can be reached\r\n"
    L";PermittedComputersOfflineAccess=0\r\n"
    L"\r\n"
    L";;PermittedComputersAccessDeniedMsg is the message shown when the computer is not permitted to run the package\r\n"
    L";PermittedComputersAccessDeniedMsg=Application policy does not permit execution on this computer\r\n"
    L"\r\n";

constexpr wchar_t kSandboxBlock[] =
    L";The following option causes the sandbox to be deleted when the application exists\r\n"
    L";RemoveSandboxOnExit=1\r\n"
    L"\r\n"
    L";The following option deletes the sandbox left by an earlier run before the application starts\r\n"
    L";RemoveSandboxOnStart=1\r\n"
    L"\r\n"
    L";The following option keeps changes to network drives in the sandbox instead of writing them\r\n"
    L";to the network share\r\n"
    L";SandboxNetworkDrives=1\r\n"
    L"\r\n"
    L";The following option keeps changes to removable disks in the sandbox instead of writing them\r\n"
    L";to the disk\r\n"
    L";SandboxRemovableDisk=1\r\n"
    L"\r\n"
    L";The following option lets out-of-process COM servers that are not part of the package\r\n"
    L";run outside the virtual environment when set to 0\r\n"
    L";VirtualizeExternalOutOfProcessCOM=0\r\n"
    L"\r\n"
    L"\r\n";

constexpr wchar_t kStartAddress[] = L"http://www.example.com/";

Str PackageIniPath(const Str& outputDir) {
    Str path;
    path.Format(L"%ls\\Package.ini", outputDir.c_str());
    return path;
}

std::vector<Str> SectionNames(const Str& file) {
    std::vector<wchar_t> buffer(4096);
    DWORD length;
    for (;;) {
        length = GetPrivateProfileSectionNamesW(buffer.data(), static_cast<DWORD>(buffer.size()), file.c_str());
        if (length + 2 < buffer.size()) break;
        buffer.resize(buffer.size() * 2);
    }
    std::vector<Str> names;
    for (size_t i = 0; i < length && buffer[i];) {
        Str name(buffer.data() + i);
        i += name.Length() + 1;
        names.push_back(std::move(name));
    }
    return names;
}

void RemoveKey(const Str& file, const wchar_t* section, const wchar_t* key) {
    WritePrivateProfileStringW(section, key, nullptr, file.c_str());
}

}  // namespace

Str DefaultPackageSettingsText(const Str& outputDir) {
    Str name = SandboxNameOf(outputDir);
    Str text;
    text.Format(L"[BuildOptions]\r\nCapturedUsingVersion=%hs-%u\r\n\r\nCaptureProcessorArchitecture=%d\r\n"
                L"CapturePlatformVersion=%04x\r\nCaptureOSArchitecture=%d\r\n"
                L";Make sure to update TARGET_DIR in build.bat if you change OutDir\r\nOutDir=bin\r\n"
                L"SandboxName=%ls\r\n\r\n"
                L"; InventoryName is used by desktop management systems to identify packages for usage "
                L"reporting purposes\r\nInventoryName=%ls\r\n\r\n",
                kToolVersion, kToolBuild, kProcessorArchitecture, RunningSystemVersion().PlatformVersion(),
                SystemArchitecture(),
                name.c_str(), name.c_str());
    text.Append(kAccessBlock);
    text.Append(kSandboxBlock);
    text.Append(L";Change ReadOnlyData to bin\\Package.ro.vxr to build with old versions(4.6.0 or earlier) of tools\r\n");
    text.Append(L"[Compression]\r\n;None for faster builds, Fast for smaller packages\r\nCompressionType=None\r\n\r\n");
    text.Append(L"[Isolation]\r\nDirectoryIsolationMode=WriteCopy\r\n;DirectoryIsolationMode=Merged\r\n\r\n");
    text.AppendFormat(L";;cmd.exe shortcut can be used to launch system apps in the virtual environment\r\n"
                      L";[cmd.exe]\r\n;Source=%%SystemSystem%%\\cmd.exe\r\n;Shortcut=%ls\r\n\r\n",
                      name.c_str());
    text.AppendFormat(L";;regedit.exe can be used to inspect the virtual registry\r\n"
                      L";[regedit.exe]\r\n;Source=%%SystemRoot%%\\regedit.exe\r\n;Shortcut=%ls\r\n\r\n",
                      name.c_str());
    text.AppendFormat(L";;iexplore.exe can be used to access ActiveX controls and IE plugins\r\n"
                      L";[iexplore.exe]\r\n;Source=%%ProgramFilesDir%%\\Internet Explorer\\iexplore.exe\r\n"
                      L";Shortcut=%ls\r\n"
                      L";CommandLine=%%ProgramFilesDir%%\\Internet Explorer\\iexplore.exe %ls\r\n\r\n",
                      name.c_str(), kStartAddress);
    return text;
}

void WriteDefaultPackageSettings(const Str& outputDir) {
    Str text = DefaultPackageSettingsText(outputDir);
    Str path = PackageIniPath(outputDir);
    FileHandle file(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) Fatal(L"Could not open %ls for writing", path.c_str());
    static const uint8_t bom[2] = {0xFF, 0xFE};
    DWORD written = 0;
    WriteFile(file.get(), bom, 2, &written, nullptr);
    WriteFile(file.get(), text.c_str(), static_cast<DWORD>(text.Length() * 2), &written, nullptr);
}

void CopyOverviewSettings(const Str& outputDir, const Str& templatePath,
                          const std::vector<Str>& templateNames) {
    // Failures here go unreported: each step works on whatever file exists.
    Str path = PackageIniPath(outputDir);
    CopyFileW(templatePath.c_str(), path.c_str(), FALSE);

    for (const wchar_t* key : {L"SuggestedName", L"OriginalSnapshot", L"DestinationSnapshot",
                               L"EstimatedDataContainerSize"}) {
        RemoveKey(path, L"BuildOptions", key);
    }

    Str quarvo;
    if (quarvo.ReadProfileString(L"BuildOptions", L"Quarvo", L"", path.c_str())) {
        Str target;
        target.Format(L"%ls\\Quarvo.txt", outputDir.c_str());
        MoveFileExW(quarvo.c_str(), target.c_str(), MOVEFILE_COPY_ALLOWED);
        RemoveKey(path, L"BuildOptions", L"Quarvo");
    }

    Str templateName;
    Str disabled;
    for (const Str& section : SectionNames(path)) {
        if (templateName.ReadProfileString(section.c_str(), L"Template", L"", path.c_str())) {
            disabled.ReadProfileString(section.c_str(), L"Disabled", L"0", path.c_str());
            if (disabled != Str(L"0") && !HasTemplateName(templateNames, templateName)) {
                WritePrivateProfileStringW(section.c_str(), nullptr, nullptr, path.c_str());
                continue;
            }
            RemoveKey(path, section.c_str(), L"Template");
        }
        for (const wchar_t* key : {L"ForDebugOnly", L"PreSelected", L"IsBrowser"}) {
            RemoveKey(path, section.c_str(), key);
        }
    }
}

void WritePackageSettings(const Str& outputDir, const Str& templatePath,
                          const std::vector<Str>& templateNames) {
    if (templatePath.IsEmpty()) {
        WriteDefaultPackageSettings(outputDir);
    } else {
        CopyOverviewSettings(outputDir, templatePath, templateNames);
    }
    WriteTopLevelFolderAttributes(outputDir);
    WriteBuildScript(outputDir);
}

}  // namespace scancap
