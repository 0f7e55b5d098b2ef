#include "suggest/project_overview.h"

#include "snapshot/long_path.h"
#include "suggest/entry_discovery.h"
#include "suggest/entry_naming.h"
#include "suggest/registrations.h"
#include "suggest/uninstall_info.h"
#include "support/branding.h"
#include "support/fatal.h"
#include "support/handles.h"
#include "support/name_encoding.h"
#include "support/pe_file.h"

#include <objbase.h>
#include <wincrypt.h>

namespace scancap {
namespace {

constexpr char kToolVersion[] = "5.1.0";
constexpr unsigned kToolBuild = 2079447;
constexpr int kProcessorArchitecture = 9;  // x64, the tool's own architecture
constexpr uint64_t kMegabyte = 1048576;
constexpr uint64_t kDataContainerThreshold = 200;  // megabytes above which the data lies apart
constexpr DWORD kFullPathChars = 1024;

constexpr wchar_t kHeader[] =
    L"; This file can be used to configure build and runtime options for packages\r\n"
    L"; Lines that begin with a semicolon contain only comments and do not have any effect\r\n"
    L"; For documentation and to obtain a complete list of options available visit:\r\n"
    L";\r\n"
    L";   https://docs.example.com/scancap/package-options\r\n"
    L";\r\n"
    L"[Compression]\r\nCompressionType=None\r\n\r\n"
    L"[Isolation]\r\nDirectoryIsolationMode=Merged\r\n\r\n"
    L"[BuildOptions]\r\n";

constexpr wchar_t kUpdateSample[] =
    L";-------- DarOdaz Parameters ----------\r\n"
    L";DarOdazURL=https://updates.example.com/some/path/PackageName.exe\r\n"
    L";DarOdazUpdateFrequency=1d\r\n"
    L";DarOdazExpirePeriod=30d\r\n"
    L";DarOdazWarningPeriod=5d\r\n"
    L";DarOdazWarningFrequency=1d\r\n"
    L";DarOdazWarningMessage=This application will become unavailable for use in %remaining_days% day(s) if it "
    L"cannot contact its update server. Check your network connection to ensure uninterrupted service.\r\n"
    L";DarOdazExpireMessage=This application has been unable to contact its update server for %expire_days% "
    L"day(s), so it is unavailable for use. Check your network connection and try again.\r\n"
    L";DarOdazUpdatedMessage=\r\n"
    L";DarOdazClearSandboxOnUpdate=0\r\n"
    L"\r\n";

constexpr wchar_t kAccessAndSandboxSamples[] =
    L";PermittedGroups=Administrators;Remote Desktop Users\r\n"
    L";PermittedComputers=DomainName1\\GroupName1;DomainName1\\GroupName2\r\n"
    L";PermittedComputersOfflineAccess=0\r\n"
    L";RemoveSandboxOnExit=1\r\n"
    L";RemoveSandboxOnStart=1\r\n"
    L";SandboxNetworkDrives=1\r\n"
    L";SandboxRemovableDisk=1\r\n"
    L";VirtualizeExternalOutOfProcessCOM=0\r\n"
    L";ChildProcessEnvironmentExceptions=WINWORD.EXE;EXCEL.EXE;POWERPNT.EXE;OUTLOOK.EXE;MOC.EXE\r\n"
    L";ChildProcessEnvironmentDefault=External\r\n"
    L"\r\n";

constexpr wchar_t kAppLinkSample[] =
    L";OptionalAppLinks=plugins\\*.exe\r\n"
    L";RequiredAppLinks=\\\\server\\share\\*.exe;c:\\abs\\path\\file.exe\r\n";

// What the suggestion steps found, for composing the text.
struct Suggestion {
    EntryList entries;
    std::vector<Str> templates;  // templates the capture needs ("Flash", "IE6")
    DiscoveryResult found;
    Str productName;
    Str inventoryName;
    Str inventoryIcon;
    uint64_t containerMegabytes = 0;
};

Str NewGuidText() {
    GUID guid{};
    Str text;
    if (CoCreateGuid(&guid) == S_OK) text.AppendGuid(guid);
    return text;
}

// The suggestion steps in their order; every fatal error inside them leaves
// no file behind, since nothing is written before the text is complete.
Suggestion Suggest(const SnapshotStore& post, const SnapshotStore& pre, const OverviewSettings& settings) {
    Suggestion s;
    DetectTemplates(post, pre, s.templates);
    s.found = DiscoverEntryPoints(post, pre, *settings.excludeList, s.entries);
    std::vector<Association> fileTypes, protocols, objectTypes;
    std::vector<ServiceImage> services;
    CollectAssociations(post, pre, fileTypes, protocols, objectTypes);
    CollectServices(post, pre, services);
    DetectBrowsers(post, pre, s.entries);
    DetectMailClients(post, pre, s.entries);
    AddFixedEntries(post, pre, settings.ieSelection, s.entries);
    MergeAndNameEntries(s.entries);
    CleanEntryNames(s.entries);
    AssignAssociations(fileTypes, s.entries);
    AssignAssociations(protocols, s.entries);
    AssignAssociations(objectTypes, s.entries);
    AssignServices(services, s.entries);
    SortEntries(s.entries);
    EntryPoint& primary = s.entries.front();
    primary.enabled = true;
    primary.forDebugOnly = false;

    if (FindUninstallInformation(post, pre, s.productName, &s.inventoryIcon, s.entries)) {
        s.inventoryName = s.productName;
        if (!s.inventoryIcon.IsEmpty() && s.inventoryIcon[0] != L'%') {
            Str encoded;
            if (EncodeMachinePath(s.inventoryIcon, encoded, nullptr))
                s.inventoryIcon = std::move(encoded);
            else
                s.inventoryIcon.Clear();
        }
    } else {
        s.inventoryName = NewGuidText();
        s.inventoryIcon = primary.iconPath.IsEmpty() ? primary.source : primary.iconPath;
    }

    uint64_t total = s.found.totalNewBytes;
    s.containerMegabytes = (total + total / 100 + kMegabyte) / kMegabyte;
    // The data container: the capture's data in a file of its own, in front.
    EntryPoint container(false, false);
    container.name = s.inventoryName;
    container.name += L".dat";
    container.source = primary.source;
    container.metaDataContainerOnly = true;
    container.enabled = s.containerMegabytes > kDataContainerThreshold;
    s.entries.insert(s.entries.begin(), std::move(container));
    return s;
}

wchar_t Is64BitFlag(const EntryPoint& front) {
    Str path;
    DecodeProjectPath(front.source, path);
    return ClassifyExecutableFile(SystemPath(path)) == kExeProgram64 ? L'1' : L'0';
}

// Appends `items` joined by `separator`, each written through `encode`.
void AppendJoined(Str& text, const std::vector<Str>& items, const wchar_t* separator, bool encode) {
    Str encoded;
    for (size_t i = 0; i < items.size(); ++i) {
        if (i > 0) text += separator;
        if (encode) {
            EncodeIniValue(items[i].c_str(), encoded);
            text += encoded;
        } else {
            text += items[i];
        }
    }
}

void AppendList(Str& text, const wchar_t* key, const std::vector<Str>& items, const wchar_t* separator,
                bool encode = false) {
    if (items.empty()) return;
    text += key;
    AppendJoined(text, items, separator, encode);
    text += L"\r\n";
}

void AppendEncoded(Str& text, const wchar_t* key, const Str& value) {
    Str encoded;
    EncodeIniValue(value.c_str(), encoded);
    text.AppendFormat(L"%ls%ls\r\n", key, encoded.c_str());
}

// One section; `dataContainerTarget` is the section later sections point at.
void AppendSection(Str& text, const EntryPoint& entry, bool first, Str& dataContainerTarget) {
    Str section;
    if (!EffectiveName(entry, section)) return;
    text.AppendFormat(L"[%ls]\r\n", section.c_str());
    AppendEncoded(text, L"Source=", entry.source);
    if (!dataContainerTarget.IsEmpty() && !first) {
        text.AppendFormat(L"Shortcut=%ls\r\n", dataContainerTarget.c_str());
    } else {
        text += L";Change ReadOnlyData to bin\\Package.ro.vxr to build with old versions(4.6.0 or earlier) of "
                L"tools\r\nReadOnlyData=Package.ro.vxr\r\n";
        if (!first) dataContainerTarget = section;
    }
    if (!entry.workingDirectory.IsEmpty()) AppendEncoded(text, L"WorkingDirectory=", entry.workingDirectory);
    if (!entry.arguments.IsEmpty()) {
        Str source, arguments;
        EncodeIniValue(entry.source.c_str(), source);
        EncodeIniValue(entry.arguments.c_str(), arguments);
        text.AppendFormat(L"CommandLine=\"%ls\" %ls\r\n", source.c_str(), arguments.c_str());
    }
    if (!entry.iconPath.IsEmpty()) {
        Str icon;
        EncodeMachinePath(entry.iconPath, icon, nullptr);
        if (entry.iconIndex != 0)
            text.AppendFormat(L"Icon=%ls,%d\r\n", icon.c_str(), entry.iconIndex);
        else
            text.AppendFormat(L"Icon=%ls\r\n", icon.c_str());
    }
    AppendList(text, L"FileTypes=", entry.fileTypes, L"");
    if (!entry.comment.IsEmpty()) text.AppendFormat(L"Comment=%ls\r\n", entry.comment.c_str());
    AppendList(text, L"Protocols=", entry.protocols, L";");
    AppendList(text, L"ObjectTypes=", entry.objectTypes, L";");
    AppendList(text, L";Services=", entry.services, L";");
    AppendList(text, L"Shortcuts=", entry.shortcuts, L";", true);
    if (!entry.enabled) text += L"Disabled=1\r\n";
    if (entry.metaDataContainerOnly) text += L"MetaDataContainerOnly=1\r\n";
    if (entry.forDebugOnly) text += L"ForDebugOnly=1\r\n";
    if (entry.preSelected) text += L"PreSelected=1\r\n";
    if (entry.isBrowser) text += L"IsBrowser=1\r\n";
    if (!entry.templateName.IsEmpty()) text.AppendFormat(L"Template=%ls\r\n", entry.templateName.c_str());
    text += L"\r\n";
}

void AppendCaptureFacts(Str& text) {
    SystemVersion version = RunningSystemVersion();
    text.AppendFormat(
        L"AccessDeniedMsg=You are not currently authorized to run this application. Please contact your "
        L"administrator.\r\nCapturedUsingVersion=%hs-%u\r\nCaptureProcessorArchitecture=%d\r\n"
        L"CapturePlatformVersion=%04x\r\nCaptureOSArchitecture=%d\r\nCaptureOSMajorVersion=%d\r\n"
        L"CaptureOSMinorVersion=%d\r\nCaptureOSSuite=%d\r\nCaptureOSProductType=%d\r\nCaptureOSCSDVersion=%ls\r\n"
        L"CaptureOSProcessorCoreCount=%d\r\nCaptureOSRemoteSession=%d\r\nCaptureOSHalvernVM=%d\r\nOutDir=bin\r\n\r\n"
        L";-------- General Purpose Parameters  ----------\r\n",
        kToolVersion, kToolBuild, kProcessorArchitecture, version.PlatformVersion(), SystemArchitecture(),
        int(version.major), int(version.minor), int(version.suiteMask), int(version.productType),
        version.servicePack.c_str(), int(ProcessorCoreCount()), GetSystemMetrics(SM_REMOTESESSION),
        IsHalvernVirtualMachine() ? 1 : 0);
}

}  // namespace

Str NameBasedCode(const Str& text) {
    Str code;
    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) return code;
    HCRYPTHASH hash = 0;
    BYTE digest[20];
    DWORD digestBytes = sizeof digest;
    // One byte per character of the text, from its narrow form.
    size_t bytes = text.Length() < text.NarrowLength() ? text.Length() : text.NarrowLength();
    if (CryptCreateHash(provider, CALG_SHA1, 0, 0, &hash) &&
        CryptHashData(hash, reinterpret_cast<const BYTE*>(text.Narrow()), DWORD(bytes), 0) &&
        CryptGetHashParam(hash, HP_HASHVAL, digest, &digestBytes, 0) && digestBytes == sizeof digest) {
        GUID guid;
        memcpy(&guid, digest, sizeof guid);
        code.AppendGuid(guid);
    }
    if (hash) CryptDestroyHash(hash);
    CryptReleaseContext(provider, 0);
    return code;
}

Str ComposeProjectOverview(const SnapshotStore& post, const SnapshotStore& pre, const OverviewSettings& settings,
                           const Str& prePath, const Str& postPath, bool samples) {
    Suggestion s = Suggest(post, pre, settings);
    const wchar_t* name = s.inventoryName.c_str();
    Str productCode = NameBasedCode(Str().Format(L"%ls_ProductCode", name));
    Str upgradeCode = NameBasedCode(Str().Format(L"%ls_UpgradeCode", name));

    Str text(kHeader);
    text.AppendFormat(L";-------- MSI Parameters ----------\r\n"
                      L";Enable MSIFilename if you want to generate a Windows Installer package.\r\n"
                      L";MSIFilename=%ls.msi\r\n;MSIManufacturer=%ls\r\n;MSIProductVersion=1.0\r\n"
                      L";MSIDefaultInstallAllUsers=1\r\n;MSIRequireElevatedPrivileges=1\r\n"
                      L";MSIInstallDirectory=%ls (Halvern Ostrel)\r\n;MSIProductCode=%ls\r\n;MSIUpgradeCode=%ls\r\n"
                      L";MSIStreaming=0\r\n;MSICompressionType=Fast\r\n",
                      name, RegisteredOrganization().c_str(), name, productCode.c_str(), upgradeCode.c_str());
    if (!s.inventoryIcon.IsEmpty()) text.AppendFormat(L";MSIArpProductIcon=%ls\r\n", s.inventoryIcon.c_str());
    text.AppendFormat(L";MSIIs64Bit=%lc\r\n\r\n", Is64BitFlag(s.entries.front()));
    if (samples) text += kUpdateSample;

    text += L";-------- Parameters used only during Setup Capture  ----------\r\n";
    if (!s.productName.IsEmpty()) text.AppendFormat(L"SuggestedName=%ls\r\n", s.productName.c_str());
    text.AppendFormat(L"OriginalSnapshot=%ls\r\nDestinationSnapshot=%ls\r\nEstimatedDataContainerSize=%I64d\r\n",
                      prePath.c_str(), postPath.c_str(), s.containerMegabytes);
    AppendList(text, L"Template=", s.templates, L";");
    AppendCaptureFacts(text);
    text.AppendFormat(L"SandboxName=%ls\r\nInventoryName=%ls\r\n", name, name);
    if (!s.inventoryIcon.IsEmpty()) text.AppendFormat(L"InventoryIcon=%ls\r\n", s.inventoryIcon.c_str());
    text += kAccessAndSandboxSamples;
    if (samples) text += kAppLinkSample;

    DriveLists drives = DriveLines(post);
    if (!drives.fixedDrives.IsEmpty()) text.AppendFormat(L"VirtualDrives=%ls\r\n", drives.fixedDrives.c_str());
    if (!drives.allDrives.IsEmpty()) text.AppendFormat(L";VirtualDrives=%ls\r\n", drives.allDrives.c_str());
    text.AppendFormat(L";VirtualComputerName=%ls\r\n", ComputerName().c_str());
    WriteLocaleLines(text);
    WriteWow64Lines(post, settings.upgrade, text);
    WriteAltArchitectureLines(text, s.found.saw32BitProgram && s.found.saw64BitProgram);
    WriteDotNetLines(text);
    WriteQualityReportingLines(text);
    WriteDdeLines(text, settings.ieSelection);
    WriteMailLines(s.entries, text);
    text += L"\r\n";

    Str dataContainerTarget;
    if (s.entries.front().enabled) EffectiveName(s.entries.front(), dataContainerTarget);
    for (size_t i = 0; i < s.entries.size(); ++i) AppendSection(text, s.entries[i], i == 0, dataContainerTarget);
    return text;
}

void WriteProjectOverview(const SnapshotStore& post, const SnapshotStore& pre, const Str& overviewFile, const Str& prePath,
                          const Str& postPath, const OverviewSettings& settings) {
    Str text = ComposeProjectOverview(post, pre, settings, prePath, postPath,
                                      LoadBrandingString(kBrandingSampleFlag) == Str(L"1"));
    wchar_t full[kFullPathChars];
    DWORD length = GetFullPathNameW(overviewFile.c_str(), kFullPathChars, full, nullptr);
    Str path = LongPathForm(length > 0 && length < kFullPathChars ? Str(full, length) : overviewFile);
    FileHandle file(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) Fatal(L"Unable to create file %ls", path.c_str());
    static const uint8_t kByteOrderMark[] = {0xFF, 0xFE};
    DWORD bytes = DWORD(text.Length() * sizeof(wchar_t)), written = 0;
    // A full disk must not leave a cut-off overview that looks complete.
    if (!WriteFile(file.get(), kByteOrderMark, sizeof kByteOrderMark, &written, nullptr) ||
        !WriteFile(file.get(), text.c_str(), bytes, &written, nullptr) || written != bytes)
        Fatal(L"Unable to write file %ls", path.c_str());
}

}  // namespace scancap
