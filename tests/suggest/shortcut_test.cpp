#include "suggest/shortcut.h"

#include "common/testing.h"
#include "suggest/icon_images.h"
#include "support/compressed_guid.h"
#include "support/pe_image.h"

#include <gtest/gtest.h>

namespace scancap {
namespace {

using testing::Put16, testing::Put32, testing::Utf8;

TEST(Shortcut, NamesAndFolders) {
    for (auto [path, name] : {std::pair{L"C:\\a.b\\Viewer.lnk", "Viewer.exe"}, {L"Setup 2.0.lnk", "Setup 2.0.exe"},
                              {L"X\\App.EXE.lnk", "App.EXE"}})
        EXPECT_EQ(Utf8(ShortcutEntryName(Str(path))), name);
    for (auto [path, personal] : {std::pair{L"%common startmenu%\\Programs", "%StartMenu%\\Programs"},
                                  {L"%Common Documents%\\x", ""}}) {
        Str folder(path);
        EXPECT_EQ(ToPersonalFolderMacro(folder), *personal != 0);
        EXPECT_EQ(Utf8(folder), *personal ? personal : Utf8(path));
    }
}

// Descriptors of installed products as published, and texts that are no GUID.
TEST(Shortcut, CompressedGuids) {
    for (auto [text, guid] : {std::pair{L"ykG^V5!!!!4!!!!MKKSk", "{91140000-0011-0000-1000-0000000FF1CE}"},
                              {L"']gAVn-}f(ZXfeAR6.jiWORDFiles>", "{90110409-6000-11D3-8CFE-0150048383C9}"},
                              {L"ykG^V5!!!!4!!!!MKKS", ""}, {L"ykG^V5!!!!4!!!!MKKS\"", ""}}) {
        Str out;
        EXPECT_EQ(DecodeCompressedGuid(text, wcslen(text), out), *guid != 0) << Utf8(text);
        EXPECT_EQ(Utf8(out), guid);
    }
}

// A library holding only icon group 7 (widths 32, 48): directories type 14 > name 7 > language 0, entry, data.
std::string IconModule() {
    std::string b = testing::Image{0x8664, 0x2022}.Bytes();
    constexpr uint32_t at = 0x280, rva = 0x1080;
    Put32(b, 64 + 24 + 112 + 16, rva), Put32(b, 64 + 24 + 112 + 20, 0x80);
    for (uint32_t level = 0; level < 3; ++level) {
        Put16(b, at + level * 24 + 14, 1);
        Put32(b, at + level * 24 + 16, level == 0 ? 14 : level == 1 ? 7 : 0);
        Put32(b, at + level * 24 + 20, level < 2 ? 0x80000000 | (level + 1) * 24 : 72);
    }
    Put32(b, at + 72, rva + 88), Put32(b, at + 76, 34);
    const uint16_t group[] = {0, 1, 2, 0x2020, 0, 1, 32, 0, 0, 1, 0x3030, 0, 1, 32, 0, 0, 2};
    std::memcpy(&b[at + 88], group, sizeof group);
    return b;
}

TEST(Shortcut, IconImagesOfAnIconFileAndALibrary) {
    testing::TempDir dir;
    Str module = dir / L"module.dll", icon = dir / L"a.ico";
    testing::WriteFileBytes(icon, std::string("\0\0\1\0\2\0\x10", 7) + std::string(31, '\0'));  // 16, then 0 (256)
    testing::WriteFileBytes(module, IconModule());
    for (auto [file, group, widths] : {std::tuple{&icon, 0, std::vector<uint32_t>{16, 256}}, {&module, 7, {32, 48}},
                                       {&module, -1, {32, 48}}, {&module, 0, {}}}) {
        std::vector<uint32_t> listed;
        ListIconImages(file->c_str(), group, listed);
        EXPECT_EQ(listed, widths) << Utf8(*file) << " " << group;
    }
}

// The Installer's side of an advertised shortcut: what msi.dll says of the
// link (fakes) and the machine's feature registration (HKEY_LOCAL_MACHINE
// redirected to a key of the test).
TEST(Shortcut, AdvertisedTargets) {
    static UINT linkResult;
    static const wchar_t* component;
    static INSTALLSTATE state;
    InstallerFunctions msi{[](LPCWSTR, LPWSTR product, LPWSTR feature, LPWSTR named) {
                               wcscpy(product, L"{6C0E51B2-3D7A-4F88-A1E9-0B42C7D95E31}"), wcscpy(feature, L"Complete");
                               return wcscpy(named, component), linkResult;
                           },
                           [](LPCWSTR, LPCWSTR, LPWSTR path, LPDWORD) {
                               return wcscpy(path, L"C:\\component\\app.exe"), state;
                           },
                           [](LPCWSTR, LPCWSTR) { return state; }};
    testing::TestRegKey machine(L"advertised");
    auto set = [&machine](const wchar_t* key, const wchar_t* name, const wchar_t* text) {
        Str path(L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\");
        return RegSetKeyValueW(machine.Get(), path.Append(key).c_str(), name, REG_SZ, text, DWORD(wcslen(text) * 2 + 2));
    };
    // The feature's first component {11111111-2222-3333-4444-777777777777}, compressed.
    ASSERT_EQ(set(L"Products\\2B15E0C6A7D388F41A9EB0247C9DE513\\Features", L"Complete", L"m[8Q(!7fN4JNbIN[=dIN"), 0);
    ASSERT_EQ(set(L"Components\\11111111222233334444777777777777", L"2B15E0C6A7D388F41A9EB0247C9DE513",
                  L"C:\\feature\\app.exe"), 0);
    ASSERT_EQ(RegOverridePredefKey(HKEY_LOCAL_MACHINE, machine.Get()), ERROR_SUCCESS);
    for (auto [result, named, installed, resolved, target] :
         {std::tuple{UINT(ERROR_FUNCTION_FAILED), L"", INSTALLSTATE_LOCAL, false, ""},
          {ERROR_SUCCESS, L"c", INSTALLSTATE_LOCAL, true, "C:\\component\\app.exe"},
          {ERROR_SUCCESS, L"c", INSTALLSTATE_ABSENT, true, ""}, {ERROR_SUCCESS, L"", INSTALLSTATE_ABSENT, true, ""},
          {ERROR_SUCCESS, L"", INSTALLSTATE_LOCAL, false, "C:\\feature\\app.exe"}}) {
        linkResult = result, component = named, state = installed;
        Str found(L"stale");
        EXPECT_EQ(ResolveAdvertisedShortcut(msi, Str(L"C:\\x.lnk"), found), resolved);
        EXPECT_EQ(Utf8(found), target);
    }
    RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
}

}  // namespace
}  // namespace scancap
