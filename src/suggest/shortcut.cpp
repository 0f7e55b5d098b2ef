#include "suggest/shortcut.h"

#include "snapshot/long_path.h"
#include "suggest/icon_images.h"
#include "suggest/store_values.h"
#include "support/compressed_guid.h"
#include "support/guid_forms.h"
#include "support/handles.h"
#include "support/name_encoding.h"
#include "support/pe_file.h"

#include <shlguid.h>
#include <shobjidl.h>

#include <cstring>
#include <cwchar>
#include <type_traits>

namespace scancap {
namespace {

constexpr DWORD kLinkChars = 1024;  // every text read from a shell link
constexpr uint16_t kFileDll = 0x2000;
constexpr size_t kCharacteristicsAt = 22;  // in the NT headers: signature, then the file header's field at 18

// Where Windows Installer registers what the machine (S-1-5-18) installed.
constexpr wchar_t kInstallerUserData[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\";

constexpr const wchar_t* kPersonalFolders[][2] = {
    {L"%Common StartMenu%", L"%StartMenu%"}, {L"%Common AppData%", L"%AppData%"},
    {L"%Common Desktop%", L"%Desktop%"},     {L"%Common Startup%", L"%Startup%"},
    {L"%Common Programs%", L"%Programs%"},   {L"%Common Favorites%", L"%Favorites%"},
};

wchar_t AsciiUpper(wchar_t c) { return (c >= L'a' && c <= L'z') ? wchar_t(c - 32) : c; }

// A string value (REG_SZ or REG_MULTI_SZ) of the machine's registry, whole;
// false for another type or a missing value.
bool ReadMachineText(const Str& keyPath, const Str& name, Str& out) {
    RegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS)
        return false;
    DWORD type = 0, bytes = 0;
    if (RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_MULTI_SZ))
        return false;
    out.Reserve(bytes / sizeof(wchar_t) + 1, true);
    if (RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(out.Data()), &bytes) !=
        ERROR_SUCCESS)
        return false;
    out.Data()[bytes / sizeof(wchar_t)] = L'\0';
    out.SetLength(bytes / sizeof(wchar_t));
    return true;
}

// The path under which the Installer registered the first component of an
// installed feature: the feature's value holds the component codes in
// compressed form, the component's key a value per product.
void FeatureComponentPath(const Str& product, const Str& feature, Str& out) {
    Str packedProduct, components, componentGuid, packedComponent;
    if (!GuidToPackedCode(product, packedProduct)) return;
    Str featuresKey(kInstallerUserData);
    featuresKey.AppendFormat(L"Products\\%ls\\Features", packedProduct.c_str());
    if (!ReadMachineText(featuresKey, feature, components) || components.Length() < kCompressedGuidLength ||
        !DecodeCompressedGuid(components.c_str(), components.Length(), componentGuid) ||
        !GuidToPackedCode(componentGuid, packedComponent))
        return;
    Str componentKey(kInstallerUserData);
    componentKey.AppendFormat(L"Components\\%ls", packedComponent.c_str());
    Str path;
    if (ReadMachineText(componentKey, packedProduct, path)) out = Str(path.c_str());  // up to its first zero
}

// Opens a file for reading and classifies it; false when it cannot be opened.
// `ntHeaders` (kNtHeaderBytes) receives the headers of a PE image.
bool ClassifyTarget(const Str& path, uint32_t& kind, uint8_t* ntHeaders = nullptr) {
    Str systemPath = SystemPath(path);
    FileHandle file(CreateFileW(systemPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    kind = ClassifyExecutable(file.get(), path.c_str(), ntHeaders);
    return true;
}

// A Portable Executable image that is not a library.
bool IsProgramImage(const Str& path) {
    uint8_t headers[kNtHeaderBytes] = {};
    uint32_t kind = kExeOther;
    if (!ClassifyTarget(path, kind, headers) || std::memcmp(headers, "PE\0\0", 4) != 0) return false;
    return ((headers[kCharacteristicsAt] | (headers[kCharacteristicsAt + 1] << 8)) & kFileDll) == 0;
}

// The target of the link: the Installer's answer for an advertised shortcut,
// else the link's own path. A link to a 32-bit library (what an advertised
// shortcut may point at) takes the Installer's registered path instead, if
// that names something else.
bool LinkTarget(IShellLinkW* link, const Str& shortcutPath, Str& target) {
    Str registered;
    if (ResolveAdvertisedShortcut(shortcutPath, registered)) {
        target = std::move(registered);
        return true;
    }
    wchar_t buffer[kLinkChars] = L"";
    if (FAILED(link->GetPath(buffer, kLinkChars, nullptr, 0))) buffer[0] = L'\0';
    target = buffer;
    uint32_t kind = kExeOther;
    if (!ClassifyTarget(target, kind)) return false;
    if (kind != kExeDll32) return true;
    if (registered.IsEmpty() || !ClassifyTarget(registered, kind) || kind == kExeDll32) return false;
    target = std::move(registered);
    return true;
}

}  // namespace

bool ReadShortcut(const Str& shortcutPath, EntryPoint& entry) {
    ComRef<IShellLinkW> link;
    ComRef<IPersistFile> file;
    Str systemPath = SystemPath(shortcutPath);
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put())) ||
        FAILED(link->QueryInterface(IID_IPersistFile, file.put())) ||
        FAILED(file->Load(systemPath.c_str(), STGM_READ)))
        return false;

    Str target;
    if (!LinkTarget(link.get(), systemPath, target) || target.IsEmpty()) return false;
    DWORD attributes = GetFileAttributesW(SystemPath(target).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
    EncodeMachinePath(target, entry.source, nullptr);
    entry.isProgram = IsProgramImage(target);

    wchar_t buffer[kLinkChars];
    if (SUCCEEDED(link->GetWorkingDirectory(buffer, kLinkChars)))
        EncodeMachinePath(ExpandEnvironment(Str(buffer)), entry.workingDirectory, nullptr);
    if (SUCCEEDED(link->GetArguments(buffer, kLinkChars))) EncodeMachinePath(Str(buffer), entry.arguments, nullptr);
    if (SUCCEEDED(link->GetDescription(buffer, kLinkChars))) entry.comment = buffer;
    entry.name = ShortcutEntryName(shortcutPath);
    AddShortcut(entry, ShortcutFolderOf(shortcutPath));

    // The group identifier 0 lists the images of an icon file; programs and
    // libraries rarely hold a group of that number, so theirs are not taken.
    int index = 0;
    std::vector<uint32_t> widths;
    if (SUCCEEDED(link->GetIconLocation(buffer, kLinkChars, &index)) && buffer[0]) {
        ListIconImages(buffer, 0, widths);
        Str icon;
        EncodeMachinePath(Str(buffer), icon, nullptr);
        if (!widths.empty() && !(index == 0 && icon.EqualsNoCase(entry.source))) {
            entry.iconPath = std::move(icon);
            entry.iconIndex = index;
        }
    }
    return true;
}

Str ShortcutEntryName(const Str& shortcutPath) {
    Str name = shortcutPath.Mid(size_t(shortcutPath.FindLast(L'\\') + 1));
    ptrdiff_t dot = name.FindLast(L'.');
    if (dot >= 0) name.SetLength(size_t(dot));
    dot = name.FindLast(L'.');
    if (dot < 0 || CompareStringOrdinal(name.c_str() + dot, -1, L".exe", -1, TRUE) != CSTR_EQUAL) name += L".exe";
    return name;
}

const InstallerFunctions& LoadedInstallerFunctions() {
    // Kept for the life of the process, like the functions taken from it.
    static const Module library(LoadLibraryW(L"msi.dll"));
    static const InstallerFunctions loaded = [] {
        InstallerFunctions found;
        HMODULE msi = library.get();
        if (!msi) return found;
        auto find = [msi](auto& function, const char* name) {
            function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(
                reinterpret_cast<void*>(GetProcAddress(msi, name)));
        };
        find(found.getShortcutTarget, "MsiGetShortcutTargetW");
        find(found.getComponentPath, "MsiGetComponentPathW");
        find(found.queryFeatureState, "MsiQueryFeatureStateW");
        if (!found.getShortcutTarget || !found.getComponentPath || !found.queryFeatureState) found = {};
        return found;
    }();
    return loaded;
}

bool ResolveAdvertisedShortcut(const InstallerFunctions& msi, const Str& shortcutPath, Str& target) {
    target.Clear();
    wchar_t product[kBracedGuidLength + 1] = L"", feature[MAX_FEATURE_CHARS + 1] = L"",
            component[kBracedGuidLength + 1] = L"";
    if (!msi.getShortcutTarget ||
        msi.getShortcutTarget(shortcutPath.c_str(), product, feature, component) != ERROR_SUCCESS)
        return false;
    if (component[0]) {
        wchar_t path[kLinkChars];
        DWORD length = kLinkChars;
        if (msi.getComponentPath(product, component, path, &length) == INSTALLSTATE_LOCAL) target = path;
        return true;
    }
    if (msi.queryFeatureState(product, feature) != INSTALLSTATE_LOCAL) return true;
    FeatureComponentPath(Str(product), Str(feature), target);
    return false;
}

bool StartsWithAsciiNoCase(const Str& text, const wchar_t* prefix) {
    size_t length = wcslen(prefix);
    if (text.Length() < length) return false;
    for (size_t i = 0; i < length; ++i)
        if (AsciiUpper(text[i]) != AsciiUpper(prefix[i])) return false;
    return true;
}

Str ShortcutFolderOf(const Str& path) {
    Str folder;
    ptrdiff_t slash = path.FindLast(L'\\');
    EncodeMachinePath(path.c_str(), slash < 0 ? 0 : size_t(slash), folder, nullptr);
    ToPersonalFolderMacro(folder);
    return folder;
}

bool ToPersonalFolderMacro(Str& path) {
    for (const auto& pair : kPersonalFolders) {
        if (StartsWithAsciiNoCase(path, pair[0])) {
            Str rewritten(pair[1]);
            rewritten += path.Mid(wcslen(pair[0]));
            path = std::move(rewritten);
            return true;
        }
    }
    return false;
}

}  // namespace scancap
