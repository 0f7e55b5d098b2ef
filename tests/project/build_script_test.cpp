#include "project/build_script.h"

#include "common/testing.h"
#include "support/branding.h"
#include "support/folder_macros.h"
#include "support/handles.h"

#include <gtest/gtest.h>

#include <string>

namespace scancap {
namespace {

using testing::ReadFileBytes;
using testing::TempDir;
using testing::Utf8;

template <class F>
std::string Fatal(F&& run) {
    try {
        run();
    } catch (const Str& message) {
        return Utf8(message);
    }
    return "no fatal error";
}

std::string Compose(const wchar_t* text, const wchar_t* installDir) {
    return Utf8(ComposeBuildScript(Str(text), Str(installDir)));
}

TEST(BuildScript, ComposedText) {
    InitFolderMacros();
    struct Case {
        const wchar_t* text;
        const wchar_t* installDir;
        const char* expected;
    } cases[] = {
        {L"@echo off\r\nset TARGET_DIR=\r\nmkdir \"%TARGET_DIR%\"\r\n", L"C:\\Tools",
         "@echo off\r\nset TARGET_DIR=%PROJECT_DIR%\\bin\r\n\r\nmkdir \"%TARGET_DIR%\"\r\n"},
        // Only the first occurrence; text after it on the same line moves to the next line.
        {L"TARGET_DIR=old\nTARGET_DIR=\n", L"C:\\Tools", "TARGET_DIR=%PROJECT_DIR%\\bin\r\nold\nTARGET_DIR=\n"},
        {L"\"%INSTALLDIR%\\b.exe\" %INSTALLDIR%%INSTALLDIR%\r\nset TARGET_DIR=\r\n", L"D:\\Kit",
         "\"D:\\Kit\\b.exe\" D:\\KitD:\\Kit\r\nset TARGET_DIR=%PROJECT_DIR%\\bin\r\n\r\n"},
        // A macro that a replacement forms with the text around it is
        // replaced as well: "%INSTALL" + "D" + "IR%" reads "%INSTALLDIR%" again.
        {L"%INSTALL%INSTALLDIR%IR% TARGET_DIR=", L"D", "D TARGET_DIR=%PROJECT_DIR%\\bin\r\n"},
        {L"x%INSTALLDIR%INSTALLDIR% TARGET_DIR=", L"%", "x% TARGET_DIR=%PROJECT_DIR%\\bin\r\n"},
        // An installation directory that itself holds the macro is inserted once.
        {L"%INSTALLDIR%;TARGET_DIR=", L"X\\%INSTALLDIR%", "X\\%INSTALLDIR%;TARGET_DIR=%PROJECT_DIR%\\bin\r\n"},
        // Decoded first: "#" escapes and drive macros become machine text;
        // unknown %tokens% stay.
        {L"#41 %drive_q%\\x %PROJECT_DIR% TARGET_DIR=", L"C:\\T",
         "A q:\\x %PROJECT_DIR% TARGET_DIR=%PROJECT_DIR%\\bin\r\n"},
    };
    for (const Case& c : cases) EXPECT_EQ(Compose(c.text, c.installDir), c.expected) << Utf8(c.text);

    // A directory that keeps forming the macro with its neighbours does not
    // make the replacement run forever.
    std::string endless = Compose(L"%INSTALL%INSTALLDIR% TARGET_DIR=", L"DIR%DIR%%INSTALL%INSTALL");
    EXPECT_NE(endless.find("TARGET_DIR=%PROJECT_DIR%\\bin\r\n"), std::string::npos);

    EXPECT_EQ(Fatal([] { Compose(L"@echo off\r\nset TARGET=\r\n", L"C:\\T"); }), "Could not locate TARGET_DIR");
}

TEST(BuildScript, InstallationDirectoryFromVxOriginOrTheProgram) {
    SetEnvironmentVariableW(L"VX_ORIGIN", L"C:\\Other Place\\bin\\vx.exe");
    EXPECT_EQ(Utf8(InstallationDirectory()), "C:\\Other Place\\bin");
    SetEnvironmentVariableW(L"VX_ORIGIN", nullptr);

    wchar_t buffer[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    Str program(buffer, n);
    EXPECT_EQ(Utf8(InstallationDirectory()), Utf8(program.Left(size_t(program.FindLast(L'\\')))));
}

TEST(BuildScript, WritesTheScriptAsEightBitTextWithoutTerminator) {
    InitFolderMacros();
    TempDir origin, dir;
    SetEnvironmentVariableW(L"VX_ORIGIN", (origin / L"tool.exe").c_str());
    WriteBuildScriptText(dir.Path(), Str(L"@echo off\r\nset TARGET_DIR=\r\n\"%INSTALLDIR%\\b.exe\" \x00e9\r\n"));
    SetEnvironmentVariableW(L"VX_ORIGIN", nullptr);
    // The ANSI code page of the prefix is 1252: one byte for the e-acute.
    EXPECT_EQ(ReadFileBytes(dir / L"build.bat"),
              "@echo off\r\nset TARGET_DIR=%PROJECT_DIR%\\bin\r\n\r\n\"" + Utf8(origin.Path()) + "\\b.exe\" \xE9\r\n");

    EXPECT_EQ(Fatal([&] { WriteBuildScriptText(dir / L"missing", Str(L"TARGET_DIR=")); }),
              "Could not create build script, error 3");
}

// The build-script template of the branding module as built for the
// distribution (the test prefix holds the distribution in C:\scancap).
TEST(BuildScript, ShippedTemplateMakesAScript) {
    InitFolderMacros();
    Module module(LoadLibraryExW(L"C:\\scancap\\Branding.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(module);
    HRSRC resource = FindResourceW(module.get(), MAKEINTRESOURCEW(kBrandingBuildTemplate), L"TEXT");
    ASSERT_NE(resource, nullptr);
    HGLOBAL loaded = LoadResource(module.get(), resource);
    ASSERT_NE(loaded, nullptr);
    Str templateText(static_cast<const char*>(LockResource(loaded)), SizeofResource(module.get(), resource));

    TempDir dir;
    WriteBuildScriptText(dir.Path(), templateText);
    std::string script = ReadFileBytes(dir / L"build.bat");
    EXPECT_NE(script.find("TARGET_DIR=%PROJECT_DIR%\\bin\r\n"), std::string::npos);
    EXPECT_EQ(script.find("%INSTALLDIR%"), std::string::npos);
    EXPECT_EQ(script.find('\0'), std::string::npos);
}

// No branding module lies beside this test program or in a "modules" folder
// above it.
TEST(BuildScript, MissingBrandingModuleIsFatal) {
    ASSERT_FALSE(LoadBrandingModule());
    TempDir dir;
    EXPECT_EQ(Fatal([&] { WriteBuildScript(dir.Path()); }), "Could not load build script template");
    EXPECT_EQ(GetFileAttributesW((dir / L"build.bat").c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
}  // namespace scancap
