#include "project/package_ini.h"

#include "common/testing.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace scancap {
namespace {

using testing::TempDir;
using testing::Utf8;

std::string Utf16Le(const std::wstring& text) {
    std::string bytes;
    for (wchar_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    return bytes;
}

std::wstring FromUtf16Le(const std::string& bytes, size_t from) {
    std::wstring text;
    for (size_t i = from; i + 1 < bytes.size(); i += 2) {
        text.push_back(static_cast<wchar_t>(static_cast<uint8_t>(bytes[i]) | (static_cast<uint8_t>(bytes[i + 1]) << 8)));
    }
    return text;
}

std::string U8(const std::wstring& s) { return Utf8(s.c_str(), s.size()); }

Str Join(const Str& dir, const wchar_t* relative) {
    Str path(dir);
    path.Append(L"\\", 1);
    path.Append(relative);
    return path;
}

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

TEST(DefaultPackageSettings, ExactBytesForAFolderNamedMyApp) {
    TempDir dir;
    Str output = dir / L"MyApp";
    ASSERT_TRUE(CreateDirectoryW(output.c_str(), nullptr));
    WriteDefaultPackageSettings(output);

    std::string bytes = testing::ReadFileBytes(Join(output, L"Package.ini"));
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
    EXPECT_EQ(bytes.size() % 2, 0u);
    EXPECT_EQ(U8(FromUtf16Le(bytes, 2)), U8(ExpectedDefaultText(L"MyApp")));
}

TEST(DefaultPackageSettings, NameComesFromTheFullPath) {
    TempDir dir;
    Str output = dir / L"Other";
    ASSERT_TRUE(CreateDirectoryW(output.c_str(), nullptr));
    // A relative spelling with "." and ".." still names the last folder.
    Str spelled = output;
    spelled.Append(L"\\.\\..\\Other\\.");
    EXPECT_EQ(U8(std::wstring(DefaultPackageSettingsText(spelled).c_str())), U8(ExpectedDefaultText(L"Other")));
}

TEST(DefaultPackageSettings, UnwritableTargetIsFatal) {
    TempDir dir;
    Str missing = dir / L"missing";
    try {
        WriteDefaultPackageSettings(missing);
        FAIL() << "no fatal error";
    } catch (const Str& message) {
        EXPECT_EQ(Utf8(message), "Could not open " + Utf8(missing) + "\\Package.ini for writing");
    }
}

// Keys of one section, "key=value" each, in file order.
std::vector<std::string> SectionLines(const Str& file, const wchar_t* section) {
    std::vector<wchar_t> buffer(32768);
    DWORD n = GetPrivateProfileSectionW(section, buffer.data(), static_cast<DWORD>(buffer.size()), file.c_str());
    std::vector<std::string> lines;
    for (size_t i = 0; i < n && buffer[i];) {
        std::wstring line(buffer.data() + i);
        lines.push_back(U8(line));
        i += line.size() + 1;
    }
    return lines;
}

std::vector<std::string> SectionNames(const Str& file) {
    std::vector<wchar_t> buffer(32768);
    DWORD n = GetPrivateProfileSectionNamesW(buffer.data(), static_cast<DWORD>(buffer.size()), file.c_str());
    std::vector<std::string> names;
    for (size_t i = 0; i < n && buffer[i];) {
        std::wstring name(buffer.data() + i);
        names.push_back(U8(name));
        i += name.size() + 1;
    }
    return names;
}

TEST(OverviewSettings, OverviewOnlyKeysAndDisabledSectionsAreRemoved) {
    TempDir dir;
    Str output = dir / L"Project";
    ASSERT_TRUE(CreateDirectoryW(output.c_str(), nullptr));
    Str quarvo = dir / L"quarvo-source.txt";
    testing::WriteFileBytes(quarvo, "quarvo data");
    Str overview = dir / L"ProjectOverview.ini";
    std::wstring text =
        L"[BuildOptions]\r\n"
        L"SuggestedName=App\r\n"
        L"OriginalSnapshot=C:\\a.snapshot\r\n"
        L"DestinationSnapshot=C:\\b.snapshot\r\n"
        L"EstimatedDataContainerSize=12345\r\n"
        L"Quarvo=" + std::wstring(quarvo.c_str()) + L"\r\n"
        L"OutDir=bin\r\n"
        L"\r\n"
        L"[Old.exe]\r\n"
        L"Template=IE6\r\n"
        L"Disabled=1\r\n"
        L"Source=%ProgramFilesDir%\\Internet Explorer\\iexplore.exe\r\n"
        L"\r\n"
        L"[Shared.exe]\r\n"
        L"Template=Flash\r\n"
        L"Disabled=1\r\n"
        L"ForDebugOnly=1\r\n"
        L"PreSelected=0\r\n"
        L"IsBrowser=1\r\n"
        L"Source=%ProgramFilesDir%\\App\\shared.exe\r\n"
        L"\r\n"
        L"[App.exe]\r\n"
        L"Template=flash\r\n"
        L"Disabled=0\r\n"
        L"ForDebugOnly=0\r\n"
        L"PreSelected=1\r\n"
        L"IsBrowser=0\r\n"
        L"Source=%ProgramFilesDir%\\App\\app.exe\r\n"
        L"\r\n"
        L"[Plain.exe]\r\n"
        L"Disabled=1\r\n"
        L"ForDebugOnly=1\r\n"
        L"PreSelected=1\r\n"
        L"IsBrowser=1\r\n"
        L"Shortcut=App\r\n";
    testing::WriteFileBytes(overview, "\xFF\xFE" + Utf16Le(text));

    CopyOverviewSettings(output, overview, {Str(L"Flash")});

    Str package = Join(output, L"Package.ini");
    std::string bytes = testing::ReadFileBytes(package);
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");  // the overview's encoding is kept
    EXPECT_EQ(SectionNames(package), (std::vector<std::string>{"BuildOptions", "Shared.exe", "App.exe", "Plain.exe"}));
    EXPECT_EQ(SectionLines(package, L"BuildOptions"), std::vector<std::string>{"OutDir=bin"});
    EXPECT_EQ(SectionLines(package, L"Shared.exe"),
              (std::vector<std::string>{"Disabled=1", "Source=%ProgramFilesDir%\\App\\shared.exe"}));
    EXPECT_EQ(SectionLines(package, L"App.exe"),
              (std::vector<std::string>{"Disabled=0", "Source=%ProgramFilesDir%\\App\\app.exe"}));
    EXPECT_EQ(SectionLines(package, L"Plain.exe"), (std::vector<std::string>{"Disabled=1", "Shortcut=App"}));

    EXPECT_EQ(testing::ReadFileBytes(Join(output, L"Quarvo.txt")), "quarvo data");
    EXPECT_EQ(GetFileAttributesW(quarvo.c_str()), INVALID_FILE_ATTRIBUTES);
    // The overview itself is left as it was.
    EXPECT_EQ(testing::ReadFileBytes(overview), "\xFF\xFE" + Utf16Le(text));
}

TEST(OverviewSettings, ExistingQuarvoTargetIsNotReplaced) {
    TempDir dir;
    Str output = dir / L"Project";
    ASSERT_TRUE(CreateDirectoryW(output.c_str(), nullptr));
    Str quarvo = dir / L"q.txt";
    testing::WriteFileBytes(quarvo, "new");
    testing::WriteFileBytes(Join(output, L"Quarvo.txt"), "old");
    Str overview = dir / L"ProjectOverview.ini";
    testing::WriteFileBytes(overview, "\xFF\xFE" + Utf16Le(L"[BuildOptions]\r\nQuarvo=" +
                                                           std::wstring(quarvo.c_str()) + L"\r\nOutDir=bin\r\n"));

    CopyOverviewSettings(output, overview, {});

    EXPECT_EQ(testing::ReadFileBytes(Join(output, L"Quarvo.txt")), "old");
    EXPECT_EQ(testing::ReadFileBytes(quarvo), "new");
    EXPECT_EQ(SectionLines(Join(output, L"Package.ini"), L"BuildOptions"), std::vector<std::string>{"OutDir=bin"});
}

TEST(OverviewSettings, EmptyQuarvoKeyStays) {
    TempDir dir;
    Str output = dir / L"Project";
    ASSERT_TRUE(CreateDirectoryW(output.c_str(), nullptr));
    Str overview = dir / L"ProjectOverview.ini";
    testing::WriteFileBytes(overview, "\xFF\xFE" + Utf16Le(L"[BuildOptions]\r\nQuarvo=\r\nSuggestedName=App\r\nOutDir=bin\r\n"));

    CopyOverviewSettings(output, overview, {});

    EXPECT_EQ(SectionLines(Join(output, L"Package.ini"), L"BuildOptions"),
              (std::vector<std::string>{"Quarvo=", "OutDir=bin"}));
    EXPECT_EQ(GetFileAttributesW(Join(output, L"Quarvo.txt").c_str()), INVALID_FILE_ATTRIBUTES);
}

// Without a branding module (none lies near this test program) the run ends
// at build.bat, after Package.ini and the top-level attribute files.
TEST(PackageSettings, WritesPackageIniAndAttributesBeforeTheBuildScript) {
    TempDir dir;
    Str output = dir / L"Whole";
    ASSERT_TRUE(CreateDirectoryW(output.c_str(), nullptr));
    try {
        WritePackageSettings(output, Str(), {});
        FAIL() << "no fatal error";
    } catch (const Str& message) {
        EXPECT_EQ(Utf8(message), "Could not load build script template");
    }
    EXPECT_EQ(testing::ReadFileBytes(Join(output, L"Package.ini")).substr(0, 2), "\xFF\xFE");
    EXPECT_EQ(testing::ReadFileBytes(Join(output, L"%AppData%\\##Attributes.ini")),
              "[Isolation]\r\nDirectoryIsolationMode=WriteCopy\r\n");
    EXPECT_EQ(testing::ReadFileBytes(Join(output, L"%Personal%\\##Attributes.ini")),
              "[Isolation]\r\nDirectoryIsolationMode=Merged\r\n");
}

}  // namespace
}  // namespace scancap
