#include "suggest/project_overview.h"

#include "common/testing.h"
#include "project/fake_exclude_list.h"
#include "snapshot/store_builder.h"
#include "support/folder_macros.h"
#include "support/name_encoding.h"
#include "support/pe_image.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <map>
#include <regex>
#include <string>
#include <vector>

namespace scancap {
namespace {

using testing::StoreBuilder;
using testing::TempDir;
using testing::Utf8;

constexpr uint64_t kMiB = 1048576;

struct Uninstall { const wchar_t *key, *displayName, *displayIcon; uint32_t time = 0; };

// The machine's uninstall key with the given subkeys.
void AddUninstallKeys(StoreBuilder& b, const std::vector<Uninstall>& entries) {
    uint32_t key = b.RegistryRoot(0);
    b.Key(key, L"HKEY_LOCAL_MACHINE");
    for (const wchar_t* name : {L"Software", L"Microsoft", L"Windows", L"CurrentVersion", L"Uninstall"}) {
        uint32_t child = StoreBuilder::SubkeyAt(b.Subkeys(key, 1), 0);
        b.Key(child, name);
        key = child;
    }
    uint32_t array = b.Subkeys(key, uint32_t(entries.size()));
    for (uint32_t i = 0; i < entries.size(); ++i) {
        uint32_t entry = StoreBuilder::SubkeyAt(array, i);
        b.Key(entry, entries[i].key);
        b.Poke(entry + offsetof(RegKeyRecord, lastWriteTime), entries[i].time);
        uint32_t values = b.Values(entry, 2);
        b.StringValue(values, 0, L"DisplayName", entries[i].displayName);
        b.StringValue(values, 1, L"DisplayIcon", entries[i].displayIcon);
    }
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    return start == text.size() ? lines : std::vector<std::string>{"no CR LF at the end"};
}

// The machine facts of the running prefix, found another way than the writer finds them.
std::map<std::string, std::string> PrefixFacts() {
    auto registry = [](const wchar_t* name) {
        wchar_t data[256] = L"";
        DWORD bytes = sizeof data;
        RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", name, RRF_RT_REG_SZ,
                     nullptr, data, &bytes);
        return Utf8(data);
    };
    wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1], locale[LOCALE_NAME_MAX_LENGTH];
    DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
    GetComputerNameW(computer, &length);
    GetUserDefaultLocaleName(locale, LOCALE_NAME_MAX_LENGTH);
    std::string version = registry(L"CurrentVersion"), organization = registry(L"RegisteredOrganization");
    return {{";MSIManufacturer", organization.empty() ? "Unknown" : organization},
            {"CaptureOSMajorVersion", version.substr(0, version.find('.'))},
            {"CaptureOSMinorVersion", version.substr(version.find('.') + 1)},
            {"CaptureOSCSDVersion", registry(L"CSDVersion")}, {";VirtualComputerName", Utf8(computer)},
            {"AnsiCodePage", std::to_string(GetACP())}, {"LocaleIdentifier", std::to_string(GetSystemDefaultLCID())},
            {"LocaleName", Utf8(locale)}};
}

// "$" stands for a fact of the capture machine, checked against PrefixFacts.
constexpr char kExpected[] = R"(; This file can be used to configure build and runtime options for packages
; Lines that begin with a semicolon contain only comments and do not have any effect
; For documentation and to obtain a complete list of options available visit:
;
;   https://docs.example.com/scancap/package-options
;
[Compression]
CompressionType=None

[Isolation]
DirectoryIsolationMode=Merged

[BuildOptions]
;-------- MSI Parameters ----------
;Enable MSIFilename if you want to generate a Windows Installer package.
;MSIFilename=Golden App.msi
;MSIManufacturer=$
;MSIProductVersion=1.0
;MSIDefaultInstallAllUsers=1
;MSIRequireElevatedPrivileges=1
;MSIInstallDirectory=Golden App (Halvern Ostrel)
;MSIProductCode={FBD71D6A-1C7E-33BA-0BF8-9F6922CA62BA}
;MSIUpgradeCode={BCC18919-4494-C4E1-1EAA-326B92B96D58}
;MSIStreaming=0
;MSICompressionType=Fast
;MSIArpProductIcon=@\48.ico
;MSIIs64Bit=1

;-------- Parameters used only during Setup Capture  ----------
SuggestedName=Golden App
OriginalSnapshot=C:\capture\pre.snapshot
DestinationSnapshot=C:\capture\post.snapshot
EstimatedDataContainerSize=201
AccessDeniedMsg=You are not currently authorized to run this application. Please contact your administrator.
CapturedUsingVersion=5.1.0-2079447
CaptureProcessorArchitecture=9
CapturePlatformVersion=$
CaptureOSArchitecture=$
CaptureOSMajorVersion=$
CaptureOSMinorVersion=$
CaptureOSSuite=$
CaptureOSProductType=$
CaptureOSCSDVersion=$
CaptureOSProcessorCoreCount=$
CaptureOSRemoteSession=$
CaptureOSHalvernVM=$
OutDir=bin

;-------- General Purpose Parameters  ----------
SandboxName=Golden App
InventoryName=Golden App
InventoryIcon=@\48.ico
;PermittedGroups=Administrators;Remote Desktop Users
;PermittedComputers=DomainName1\GroupName1;DomainName1\GroupName2
;PermittedComputersOfflineAccess=0
;RemoveSandboxOnExit=1
;RemoveSandboxOnStart=1
;SandboxNetworkDrives=1
;SandboxRemovableDisk=1
;VirtualizeExternalOutOfProcessCOM=0
;ChildProcessEnvironmentExceptions=WINWORD.EXE;EXCEL.EXE;POWERPNT.EXE;OUTLOOK.EXE;MOC.EXE
;ChildProcessEnvironmentDefault=External

VirtualDrives=Drive=c, Serial=1234abcd, Type=FIXED
;VirtualDrives=Drive=c, Serial=1234abcd, Type=FIXED; Drive=e, Serial=0000beef, Type=CDROM
;VirtualComputerName=$

AnsiCodePage=$
LocaleIdentifier=$
LocaleName=$

; If you have problems running a 32 bit application under 64 bit Windows, try enabling this line before building the project
;Wow64=0

; If you have problems running a mixed 32/64 bit application under 64 bit Windows, try enabling this line before building the project
AltArchitectureShortcut=0

; Enable this option to load .Net binaries from the system instead of the package on Windows 7 or above
;LoadDotNetFromSystem=Win7

QualityReportingEnabled=0

; Enable this option to ignore DDE messages from external processes
IgnoreDDEMessages=1

[Golden App.dat]
Source=@\App\app.exe
;Change ReadOnlyData to bin\Package.ro.vxr to build with old versions(4.6.0 or earlier) of tools
ReadOnlyData=Package.ro.vxr
MetaDataContainerOnly=1

[app.exe]
Source=@\App\app.exe
Shortcut=Golden App.dat

[run#1.exe]
Source=@\App\run#231.bat
Shortcut=Golden App.dat
Disabled=1

[cmd.exe]
Source=%SystemSystem%\cmd.exe
Shortcut=Golden App.dat
Disabled=1
ForDebugOnly=1

[regedit.exe]
Source=%SystemRoot%\regedit.exe
Shortcut=Golden App.dat
Disabled=1
ForDebugOnly=1

)";

// An icon file whose images have the given width bytes (0 stands for 256).
std::string IconFile(std::initializer_list<uint8_t> widths) {
    std::string bytes{0, 0, 1, 0, char(widths.size()), 0};
    for (uint8_t width : widths) bytes += std::string(1, char(width)) + std::string(15, '\0');
    return bytes;
}

// New: a 64-bit program and a script; not counted: an unchanged program, an excluded file; the later
// of two new uninstall entries names the package (its 48-pixel icon ties with 256 pixels).
TEST(ProjectOverview, WholeTextOfAFixedCapture) {
    InitFolderMacros();
    TempDir dir;
    ASSERT_TRUE(CreateDirectoryW((dir / L"App").c_str(), nullptr));
    testing::WriteFileBytes(dir / L"App\\app.exe", testing::Image{0x8664, 0x22}.Bytes());  // a 64-bit program
    testing::WriteFileBytes(dir / L"App\\run#1.bat", "@echo off\r\n");
    testing::WriteFileBytes(dir / L"48.ico", IconFile({32, 48}));
    testing::WriteFileBytes(dir / L"256.ico", IconFile({0}));

    SnapshotStore pre, post;
    StoreBuilder p(pre), b(post);
    p.Begin(1, 1);
    p.Dir(p.DirectoryRoot(0), dir.Path().c_str());
    p.File(StoreBuilder::At(p.Children(p.DirectoryRoot(0), 1), 0), L"old.exe");
    AddUninstallKeys(p, {{L"Old", L"Old App", L""}});
    b.Begin(1, 1);
    b.Dir(b.DirectoryRoot(0), dir.Path().c_str());
    uint32_t top = b.Children(b.DirectoryRoot(0), 3);
    b.File(StoreBuilder::At(top, 0), L"old.exe");
    b.File(StoreBuilder::At(top, 1), L"big.dat", FILE_ATTRIBUTE_ARCHIVE, 500 * kMiB);
    b.Dir(StoreBuilder::At(top, 2), L"App");
    uint32_t app = b.Children(StoreBuilder::At(top, 2), 2);
    b.File(StoreBuilder::At(app, 0), L"app.exe", FILE_ATTRIBUTE_ARCHIVE, 199 * kMiB);
    b.File(StoreBuilder::At(app, 1), L"run#1.bat", FILE_ATTRIBUTE_ARCHIVE, 10);
    AddUninstallKeys(b, {{L"Old", L"Old App", L""},
                         {L"Other", L"Other App", (dir / L"256.ico").c_str(), 1},
                         {L"Golden", L"Golden [App] ", (dir / L"48.ico").c_str(), 2}});
    b.Drive(L'c', 0x1234abcd, 0, L"NTFS", DRIVE_FIXED);
    b.Drive(L'd', 0x1111, 0, L"NTFS", DRIVE_REMOTE);
    b.Drive(L'e', 0xbeef, 0, L"CDFS", DRIVE_CDROM);

    testing::FakeExcludeList exclude;
    exclude.ignoredFiles.push_back((dir / L"big.dat").c_str());
    OverviewSettings settings;
    settings.excludeList = &exclude;
    settings.ieSelection = 2;
    Str folder;
    EncodeMachinePath(dir.Path(), folder, nullptr);
    ASSERT_EQ(folder[0], L'%') << "the test folder has no folder macro";

    std::vector<std::string> actual = Lines(Utf8(ComposeProjectOverview(
        post, pre, settings, Str(L"C:\\capture\\pre.snapshot"), Str(L"C:\\capture\\post.snapshot"), false)));
    std::vector<std::string> expected = Lines(std::regex_replace(kExpected, std::regex("\n"), "\r\n"));
    std::map<std::string, std::string> facts = PrefixFacts();
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        std::string want = expected[i];
        if (size_t at = want.find('@'); at != std::string::npos) want.replace(at, 1, Utf8(folder));
        if (want.empty() || want.back() != '$') {
            EXPECT_EQ(actual[i], want) << "line " << i + 1;
            continue;
        }
        std::string key = want.substr(0, want.size() - 2);
        ASSERT_EQ(actual[i].substr(0, key.size() + 1), key + "=") << "line " << i + 1;
        std::string value = actual[i].substr(key.size() + 1);
        // Suite, product type, core count, ...: numbers the prefix states nowhere else.
        bool number = !value.empty() && value.find_first_not_of("0123456789") == std::string::npos;
        EXPECT_TRUE(facts.count(key) ? value == facts[key] : number) << actual[i];
    }

}

}  // namespace
}  // namespace scancap
