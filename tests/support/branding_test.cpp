#include "support/branding.h"

#include "common/testing.h"

#include <gtest/gtest.h>

#include <string>

namespace scancap {
namespace {

using testing::TempDir;
using testing::Utf8;

// The module the build lays out in the test prefix's copy of the program folder.
constexpr wchar_t kBuiltModule[] = L"C:\\scancap\\Branding.dll";

TEST(JoinRelativePathTest, DotsResolvedNeverAboveTheRootRootedRefused) {
    const struct {
        const wchar_t* dir;
        const wchar_t* relative;
        const char* joined;
    } rows[] = {
        {L"C:\\a\\b\\", L"..\\modules\\Branding.dll", "C:\\a\\modules\\Branding.dll"},
        {L"C:\\a\\b\\c\\", L"..\\..\\modules\\Branding.dll", "C:\\a\\modules\\Branding.dll"},
        {L"C:\\a\\b\\", L".\\x/./y", "C:\\a\\b\\x\\y"},
        {L"C:\\a\\b", L"../c", "C:\\a\\c"},
        {L"\\\\server\\share\\dir\\", L"..\\f", "\\\\server\\share\\f"},
        {L"C:\\a\\", L"..\\..\\..\\modules\\Branding.dll", "C:\\modules\\Branding.dll"},
        {L"\\\\server\\share\\", L"..\\..\\f", "\\\\server\\share\\f"},
        {L"C:\\a\\", L"\\modules\\Branding.dll", "<refused>"},
        {L"C:\\a\\", L"/modules/Branding.dll", "<refused>"},
    };
    for (const auto& r : rows) {
        Str out;
        bool joined = JoinRelativePath(Str(r.dir), r.relative, out);
        EXPECT_EQ(joined ? Utf8(out) : "<refused>", r.joined) << Utf8(r.dir) << " + " << Utf8(r.relative);
    }

    Str dir(L"C:\\");
    dir.Append(L'x', 244);
    dir += L"\\";
    Str out;
    EXPECT_TRUE(JoinRelativePath(dir, L"Brandin.dll", out)) << "259 characters fit";
    EXPECT_EQ(out.Length(), 259u);
    EXPECT_FALSE(JoinRelativePath(dir, L"Branding.dll", out)) << "260 characters do not";
}

class BrandingSearchTest : public ::testing::Test {
protected:
    // Lays the built module out at `relative` below the temporary folder.
    void PlaceModule(const wchar_t* relative) {
        Str target = dir_ / relative;
        for (size_t i = dir_.Path().Length() + 1; i < target.Length(); ++i) {
            if (target[i] == L'\\') CreateDirectoryW(target.Left(i).c_str(), nullptr);
        }
        ASSERT_TRUE(CopyFileW(kBuiltModule, target.c_str(), FALSE)) << Utf8(target);
    }
    // What the search finds from the program folder `relative`, shown below "~".
    std::string Found(const wchar_t* relative) {
        Str programDir = dir_ / relative;
        programDir += L"\\";
        Str path;
        Module module = FindBrandingModule(programDir, &path);
        if (!module) return "<none>";
        EXPECT_EQ(Utf8(BrandingString(module.get(), kBrandingProductName)), "Vendrix Studio");
        std::string found = Utf8(path), root = Utf8(dir_.Path());
        if (found.compare(0, root.size(), root) != 0) return found;
        std::string shown = "~";
        return shown.append(found, root.size());
    }

    TempDir dir_;
};

TEST_F(BrandingSearchTest, EachPlaceInTurnUpToThreeLevelsAbove) {
    EXPECT_EQ(Found(L"a\\b\\bin"), "<none>");
    PlaceModule(L"modules\\Branding.dll");
    EXPECT_EQ(Found(L"a\\b\\bin"), "~\\modules\\Branding.dll");
    EXPECT_EQ(Found(L"a\\b\\c\\bin"), "<none>") << "four levels up is beyond the search";
    PlaceModule(L"a\\modules\\Branding.dll");
    EXPECT_EQ(Found(L"a\\b\\bin"), "~\\a\\modules\\Branding.dll");
    PlaceModule(L"a\\b\\modules\\Branding.dll");
    EXPECT_EQ(Found(L"a\\b\\bin"), "~\\a\\b\\modules\\Branding.dll");
    // A file of that name that is no module is passed over.
    CreateDirectoryW((dir_ / L"a\\b\\bin").c_str(), nullptr);
    testing::WriteFileBytes(dir_ / L"a\\b\\bin\\Branding.dll", "not a module");
    EXPECT_EQ(Found(L"a\\b\\bin"), "~\\a\\b\\modules\\Branding.dll");
    PlaceModule(L"a\\b\\bin\\Branding.dll");
    EXPECT_EQ(Found(L"a\\b\\bin"), "~\\a\\b\\bin\\Branding.dll");
}

TEST_F(BrandingSearchTest, ResourcesOfTheModule) {
    PlaceModule(L"bin\\Branding.dll");
    Module owner = FindBrandingModule(dir_ / L"bin\\");
    ASSERT_TRUE(owner);
    HMODULE module = owner.get();
    EXPECT_EQ(Utf8(BrandingString(module, kBrandingSampleFlag)), "1");
    EXPECT_TRUE(BrandingString(module, 12002).IsEmpty());

    // This program carries the template file as its own TEXT resource 1.
    HRSRC own = FindResourceW(nullptr, MAKEINTRESOURCEW(1), L"TEXT");
    ASSERT_NE(own, nullptr);
    std::string expected(static_cast<const char*>(LockResource(LoadResource(nullptr, own))),
                         SizeofResource(nullptr, own));
    ASSERT_NE(expected.find("TARGET_DIR="), std::string::npos);
    EXPECT_EQ(Utf8(BrandingText(module, kBrandingBuildTemplate)), expected);
    EXPECT_TRUE(BrandingText(module, 12103).IsEmpty());
    EXPECT_TRUE(BrandingText(module, kBrandingProductName).IsEmpty()) << "a string is no TEXT resource";
}

// Test programs run from the build tree, where no module lies beside them or
// above them.
TEST(BrandingModuleTest, MissingModuleGivesEmptyTexts) {
    for (int attempt = 0; attempt < 2; ++attempt) {  // the stored result fails the same way
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(LoadBrandingModule());
        EXPECT_EQ(GetLastError(), DWORD(ERROR_MOD_NOT_FOUND)) << attempt;
    }
    EXPECT_TRUE(LoadBrandingString(kBrandingProductName).IsEmpty());
    EXPECT_TRUE(LoadBrandingText(kBrandingBuildTemplate).IsEmpty());
}

constexpr wchar_t kSearchOnceChild[] = L"SCANCAP_BRANDING_SEARCH_ONCE_CHILD";

// Run by SearchIsMadeOnce in a copy of this program that lies alone in a
// folder of its own; skipped otherwise.
TEST(BrandingModuleTest, SearchOnceChild) {
    if (GetEnvironmentVariableW(kSearchOnceChild, nullptr, 0) == 0) GTEST_SKIP() << "only as a child";
    wchar_t program[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, program, MAX_PATH);
    ASSERT_TRUE(n > 0 && n < MAX_PATH);
    Str dir(program, n);
    dir.SetLength(size_t(dir.FindLast(L'\\')) + 1);

    EXPECT_FALSE(LoadBrandingModule());
    // A module that appears beside the program after the first search is not
    // looked for again: the banner's search decides for the build script too.
    Str beside = dir;
    beside += L"Branding.dll";
    ASSERT_TRUE(CopyFileW(kBuiltModule, beside.c_str(), FALSE));
    EXPECT_FALSE(LoadBrandingModule());
    EXPECT_TRUE(LoadBrandingString(kBrandingProductName).IsEmpty());
    EXPECT_TRUE(LoadBrandingText(kBrandingBuildTemplate).IsEmpty());
    EXPECT_TRUE(FindBrandingModule(dir)) << "a fresh search would have found it";
}

TEST(BrandingModuleTest, SearchIsMadeOnce) {
    if (GetEnvironmentVariableW(kSearchOnceChild, nullptr, 0) != 0) GTEST_SKIP() << "in the child";
    TempDir dir;
    wchar_t program[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, program, MAX_PATH);
    ASSERT_TRUE(n > 0 && n < MAX_PATH);
    // Run from the build tree, which lies on no drive, Wine names this program
    // "unix\..."; the host path is reached through "\\?\unix\...".
    Str source;
    if (!(n >= 2 && (program[1] == L':' || (program[0] == L'\\' && program[1] == L'\\')))) source = L"\\\\?\\";
    source.Append(program, n);
    std::string image = testing::ReadFileBytes(source);
    ASSERT_GT(image.size(), 1024u) << Utf8(source);
    Str copy = dir / L"test_branding.exe";
    testing::WriteFileBytes(copy, image);

    Str command(L"\"");
    command += copy;
    command += L"\" --gtest_filter=BrandingModuleTest.SearchOnceChild";
    ASSERT_TRUE(SetEnvironmentVariableW(kSearchOnceChild, L"1"));
    testing::ProcessResult result = testing::RunProcess(command, dir.Path().c_str());
    SetEnvironmentVariableW(kSearchOnceChild, nullptr);
    EXPECT_EQ(result.exitCode, 0u) << result.out << result.err;
    EXPECT_NE(result.out.find("[  PASSED  ] 1 test"), std::string::npos) << result.out;
    EXPECT_EQ(result.out.find("SKIPPED"), std::string::npos) << result.out;
}

}  // namespace
}  // namespace scancap
