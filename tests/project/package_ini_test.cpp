#include "project/package_ini.h"

#include "common/testing.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace scancap {
namespace {

using testing::ReadFileBytes;
using testing::TempDir;
using testing::Utf8;
using testing::WriteFileBytes;

std::string Utf16Le(const std::wstring& text) {
    std::string bytes;
    for (wchar_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    return bytes;
}

std::string U8(const std::wstring& s) { return Utf8(s.c_str(), s.size()); }

// The system's version as the kernel publishes it to every process in the
// shared user page (NtMajorVersion at 0x26C, NtMinorVersion at 0x270), which
// no compatibility layer adjusts.
std::wstring SystemVersionHex() {
    const volatile ULONG* shared = reinterpret_cast<const volatile ULONG*>(0x7FFE0000);
    ULONG major = shared[0x26C / 4];
    ULONG minor = shared[0x270 / 4];
    EXPECT_GE(major, 5u);
    wchar_t version[16];
    swprintf(version, 16, L"%02x%02x", static_cast<unsigned>(major), static_cast<unsigned>(minor));
    return version;
}

std::wstring ExpectedDefaultText(const wchar_t* name) {
    const std::wstring version = SystemVersionHex();
    const std::wstring n = name;
    return L"[BuildOptions]\r\n"
           L"CapturedUsingVersion=5.1.0-2079447\r\n"
           L"\r\n"
           L"CaptureProcessorArchitecture=9\r\n"
           L"CapturePlatformVersion=" + std::wstring(version) + L"\r\n"
           L"CaptureOSArchitecture=64\r\n"
           L";Make sure to update TARGET_DIR in build.bat if you change OutDir\r\n"
           L"OutDir=bin\r\n"
           L"SandboxName=" + n + L"\r\n"
           L"\r\n"
           L"; InventoryName is used by desktop management systems to identify packages for usage reporting purposes\r\n"
           L"InventoryName=" + n + L"\r\n"
           L"\r\n"
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
           L"\r\n"
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
           L"\r\n"
           L";Change ReadOnlyData to bin\\Package.ro.vxr to build with old versions(4.6.0 or earlier) of tools\r\n"
           L"[Compression]\r\n"
           L";None for faster builds, Fast for smaller packages\r\n"
           L"CompressionType=None\r\n"
           L"\r\n"
           L"[Isolation]\r\n"
           L"DirectoryIsolationMode=WriteCopy\r\n"
           L";DirectoryIsolationMode=Merged\r\n"
           L"\r\n"
           L";;cmd.exe shortcut can be used to launch system apps in the virtual environment\r\n"
           L";[cmd.exe]\r\n"
           L";Source=%SystemSystem%\\cmd.exe\r\n"
           L";Shortcut=" + n + L"\r\n"
           L"\r\n"
           L";;regedit.exe can be used to inspect the virtual registry\r\n"
           L";[regedit.exe]\r\n"
           L";Source=%SystemRoot%\\regedit.exe\r\n"
           L";Shortcut=" + n + L"\r\n"
           L"\r\n"
           L";;iexplore.exe can be used to access ActiveX controls and IE plugins\r\n"
           L";[iexplore.exe]\r\n"
           L";Source=%ProgramFilesDir%\\Internet Explorer\\iexplore.exe\r\n"
           L";Shortcut=" + n + L"\r\n"
           L";CommandLine=%ProgramFilesDir%\\Internet Explorer\\iexplore.exe http://www.example.com/\r\n"
           L"\r\n";
}

class PackageIni : public ::testing::Test {
protected:
    Str Output(const wchar_t* name) {
        Str output = dir / name;
        EXPECT_TRUE(CreateDirectoryW(output.c_str(), nullptr));
        return output;
    }
    Str Overview(const std::wstring& text) {
        Str overview = dir / L"ProjectOverview.ini";
        WriteFileBytes(overview, "\xFF\xFE" + Utf16Le(text));
        return overview;
    }
    static Str In(const Str& folder, const wchar_t* relative) {
        Str path(folder);
        path.Append(L"\\", 1);
        path.Append(relative);
        return path;
    }
    // "key=value" lines of one section, or the section names when section is
    // null, in file order.
    static std::vector<std::string> Profile(const Str& file, const wchar_t* section = nullptr) {
        std::vector<wchar_t> buffer(32768);
        DWORD size = static_cast<DWORD>(buffer.size());
        DWORD n = section ? GetPrivateProfileSectionW(section, buffer.data(), size, file.c_str())
                          : GetPrivateProfileSectionNamesW(buffer.data(), size, file.c_str());
        std::vector<std::string> lines;
        for (size_t i = 0; i < n && buffer[i]; i += wcslen(buffer.data() + i) + 1)
            lines.push_back(Utf8(buffer.data() + i));
        return lines;
    }
    template <class F>
    static std::string Fatal(F&& run) {
        try {
            run();
        } catch (const Str& message) {
            return Utf8(message);
        }
        return "no fatal error";
    }

    TempDir dir;
};

TEST_F(PackageIni, DefaultTextExactBytesNamedAfterTheFullPath) {
    Str output = Output(L"MyApp");
    WriteDefaultPackageSettings(output);
    std::string bytes = ReadFileBytes(In(output, L"Package.ini"));
    EXPECT_EQ(bytes, "\xFF\xFE" + Utf16Le(ExpectedDefaultText(L"MyApp")));

    // A relative spelling with "." and ".." still names the last folder.
    Str spelled = Output(L"Other");
    spelled.Append(L"\\.\\..\\Other\\.");
    EXPECT_EQ(U8(std::wstring(DefaultPackageSettingsText(spelled).c_str())), U8(ExpectedDefaultText(L"Other")));

    Str missing = dir / L"missing";
    EXPECT_EQ(Fatal([&] { WriteDefaultPackageSettings(missing); }),
              "Could not open " + Utf8(missing) + "\\Package.ini for writing");
}

TEST_F(PackageIni, OverviewOnlyKeysAndDisabledSectionsAreRemoved) {
    Str output = Output(L"Project");
    Str quarvo = dir / L"quarvo-source.txt";
    WriteFileBytes(quarvo, "quarvo data");
    std::wstring text =
        L"[BuildOptions]\r\nSuggestedName=App\r\nOriginalSnapshot=C:\\a.snapshot\r\n"
        L"DestinationSnapshot=C:\\b.snapshot\r\nEstimatedDataContainerSize=12345\r\n"
        L"Quarvo=" + std::wstring(quarvo.c_str()) + L"\r\nOutDir=bin\r\n\r\n"
        L"[Old.exe]\r\nTemplate=IE6\r\nDisabled=1\r\nSource=%ProgramFilesDir%\\Internet Explorer\\iexplore.exe\r\n\r\n"
        L"[Shared.exe]\r\nTemplate=Flash\r\nDisabled=1\r\nForDebugOnly=1\r\nPreSelected=0\r\nIsBrowser=1\r\n"
        L"Source=%ProgramFilesDir%\\App\\shared.exe\r\n\r\n"
        L"[App.exe]\r\nTemplate=flash\r\nDisabled=0\r\nForDebugOnly=0\r\nPreSelected=1\r\nIsBrowser=0\r\n"
        L"Source=%ProgramFilesDir%\\App\\app.exe\r\n\r\n"
        L"[Plain.exe]\r\nDisabled=1\r\nForDebugOnly=1\r\nPreSelected=1\r\nIsBrowser=1\r\nShortcut=App\r\n";
    Str overview = Overview(text);

    CopyOverviewSettings(output, overview, {Str(L"Flash")});

    Str package = In(output, L"Package.ini");
    EXPECT_EQ(ReadFileBytes(package).substr(0, 2), "\xFF\xFE");  // the overview's encoding is kept
    EXPECT_EQ(Profile(package), (std::vector<std::string>{"BuildOptions", "Shared.exe", "App.exe", "Plain.exe"}));
    EXPECT_EQ(Profile(package, L"BuildOptions"), std::vector<std::string>{"OutDir=bin"});
    EXPECT_EQ(Profile(package, L"Shared.exe"),
              (std::vector<std::string>{"Disabled=1", "Source=%ProgramFilesDir%\\App\\shared.exe"}));
    EXPECT_EQ(Profile(package, L"App.exe"),
              (std::vector<std::string>{"Disabled=0", "Source=%ProgramFilesDir%\\App\\app.exe"}));
    EXPECT_EQ(Profile(package, L"Plain.exe"), (std::vector<std::string>{"Disabled=1", "Shortcut=App"}));

    EXPECT_EQ(ReadFileBytes(In(output, L"Quarvo.txt")), "quarvo data");
    EXPECT_EQ(GetFileAttributesW(quarvo.c_str()), INVALID_FILE_ATTRIBUTES);
    // The overview itself is left as it was.
    EXPECT_EQ(ReadFileBytes(overview), "\xFF\xFE" + Utf16Le(text));
}

TEST_F(PackageIni, QuarvoTargetThatExistsOrAnEmptyKey) {
    Str output = Output(L"Project");
    Str quarvo = dir / L"q.txt";
    WriteFileBytes(quarvo, "new");
    WriteFileBytes(In(output, L"Quarvo.txt"), "old");
    CopyOverviewSettings(output, Overview(L"[BuildOptions]\r\nQuarvo=" + std::wstring(quarvo.c_str()) +
                                          L"\r\nOutDir=bin\r\n"), {});
    EXPECT_EQ(ReadFileBytes(In(output, L"Quarvo.txt")), "old");
    EXPECT_EQ(ReadFileBytes(quarvo), "new");
    EXPECT_EQ(Profile(In(output, L"Package.ini"), L"BuildOptions"), std::vector<std::string>{"OutDir=bin"});

    Str other = Output(L"Other");
    CopyOverviewSettings(other, Overview(L"[BuildOptions]\r\nQuarvo=\r\nSuggestedName=App\r\nOutDir=bin\r\n"), {});
    EXPECT_EQ(Profile(In(other, L"Package.ini"), L"BuildOptions"), (std::vector<std::string>{"Quarvo=", "OutDir=bin"}));
    EXPECT_EQ(GetFileAttributesW(In(other, L"Quarvo.txt").c_str()), INVALID_FILE_ATTRIBUTES);
}

// Without a branding module (none lies near this test program) the run ends
// at build.bat, after Package.ini and the top-level attribute files.
TEST_F(PackageIni, WritesPackageIniAndAttributesBeforeTheBuildScript) {
    Str output = Output(L"Whole");
    EXPECT_EQ(Fatal([&] { WritePackageSettings(output, Str(), {}); }), "Could not load build script template");
    EXPECT_EQ(ReadFileBytes(In(output, L"Package.ini")).substr(0, 2), "\xFF\xFE");
    EXPECT_EQ(ReadFileBytes(In(output, L"%AppData%\\##Attributes.ini")),
              "[Isolation]\r\nDirectoryIsolationMode=WriteCopy\r\n");
    EXPECT_EQ(ReadFileBytes(In(output, L"%Personal%\\##Attributes.ini")),
              "[Isolation]\r\nDirectoryIsolationMode=Merged\r\n");
}

}  // namespace
}  // namespace scancap
