#include "snapshot/long_path.h"

#include "common/testing.h"
#include "support/handles.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace scancap {
namespace {

using testing::ReadFileBytes;
using testing::TempDir;
using testing::Utf8;
using testing::WriteFileBytes;

std::wstring W(const Str& s) { return std::wstring(s.c_str(), s.Length()); }
std::wstring Shorten(const std::wstring& path) { return W(ShortenLongPath(Str(path.c_str()))); }

bool IsDirectory(const std::wstring& path) {
    DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}
bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::vector<std::wstring> Split(const std::wstring& path) {
    std::vector<std::wstring> parts;
    size_t start = 0;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == L'\\') {
            parts.push_back(path.substr(start, i - start));
            start = i + 1;
        }
    }
    return parts;
}

// A directory below the temp folder whose full path with "\" + finalName is
// exactly `length` characters long; made of one 8.3-named level "sub" and one
// long-named level.
std::wstring MakeTree(const TempDir& dir, size_t length, const std::wstring& finalName) {
    std::wstring base = W(dir.Path()) + L"\\sub\\";
    std::wstring level;
    for (size_t i = 0; i < length - base.size() - 1 - finalName.size(); ++i) level += wchar_t(L'a' + i % 26);
    EXPECT_TRUE(CreateDirectoryTree(Str((base + level).c_str())));
    std::wstring path = base + level + L"\\" + finalName;
    EXPECT_EQ(path.size(), length);
    return path;
}

TEST(ShortenLongPath, From180CharactersDirectoriesTakeTheirShortNames) {
    TempDir dir;
    std::wstring below = MakeTree(dir, 179, L"file.txt");
    EXPECT_EQ(Shorten(below), below);
    EXPECT_EQ(Shorten(L"c:\\x"), L"c:\\x");
    EXPECT_EQ(Shorten(L""), L"");

    const std::wstring finalName = L"a final name that is far too long for 8.3.snapshot";
    for (size_t length : {180u, 200u, 300u}) {
        std::wstring path = MakeTree(dir, length, finalName);
        std::wstring result = Shorten(path);
        std::vector<std::wstring> original = Split(path), shortened = Split(result);
        ASSERT_EQ(shortened.size(), original.size()) << Utf8(result.c_str());
        // The drive root as written, "sub" (valid 8.3) as written, the final
        // name never shortened, the long level an 8.3 name.
        EXPECT_EQ(shortened.front(), original.front());
        EXPECT_EQ(shortened.back(), finalName);
        EXPECT_EQ(shortened[shortened.size() - 3], L"sub");
        const std::wstring& level = shortened[shortened.size() - 2];
        EXPECT_LE(level.size(), 12u);
        EXPECT_NE(level.find(L'~'), std::wstring::npos);
        // Both name the same directory.
        std::wstring resultDirectory = result.substr(0, result.size() - finalName.size() - 1);
        wchar_t longForm[1024];
        DWORD n = GetLongPathNameW(resultDirectory.c_str(), longForm, 1024);
        ASSERT_GT(n, 0u);
        EXPECT_EQ(CompareStringOrdinal(longForm, int(n), path.c_str(), int(path.size() - finalName.size() - 1), TRUE),
                  CSTR_EQUAL);
    }
}

TEST(ShortenLongPath, SeparatorsAndFailedLookups) {
    TempDir dir;
    std::wstring path = MakeTree(dir, 200, L"file");
    std::wstring doubled = path;
    doubled.insert(doubled.find(L"\\sub\\"), L"\\");  // separators are copied as they stand
    std::wstring result = Shorten(doubled);
    EXPECT_NE(result.find(L"\\\\sub\\"), std::wstring::npos) << Utf8(result.c_str());
    EXPECT_LT(result.size(), doubled.size());
    // The final name need not exist.
    EXPECT_NE(Shorten(path + L"-absent"), path + L"-absent");
    // A missing directory anywhere, or no backslash at all: unchanged.
    std::wstring missing = path;
    missing.replace(missing.find(L"\\sub\\"), 5, L"\\suX\\");
    EXPECT_EQ(Shorten(missing), missing);
    std::wstring flat(200, L'x');
    EXPECT_EQ(Shorten(flat), flat);
}

TEST(CreateDirectoryTree, CreatesEveryMissingLevel) {
    TempDir dir;
    Str deep = dir / L"a\\b\\c\\d";
    EXPECT_TRUE(CreateDirectoryTree(deep));
    EXPECT_TRUE(IsDirectory(W(deep)));
    EXPECT_TRUE(CreateDirectoryTree(deep));  // existing: success
    EXPECT_TRUE(CreateDirectoryTree(dir.Path()));
    // Forward slashes and a trailing separator.
    EXPECT_TRUE(CreateDirectoryTree(dir / L"x/y/z"));
    EXPECT_TRUE(IsDirectory(W(dir / L"x\\y\\z")));
    EXPECT_TRUE(CreateDirectoryTree(dir / L"p\\q\\"));
    EXPECT_TRUE(IsDirectory(W(dir / L"p\\q")));

    // Beyond MAX_PATH, and below such an existing path.
    Str longer = dir.Path();
    for (int i = 0; i < 8; ++i) longer.AppendFormat(L"\\level %d with a name of some length", i);
    ASSERT_GT(longer.Length(), size_t(MAX_PATH));
    EXPECT_TRUE(CreateDirectoryTree(longer));
    EXPECT_TRUE(IsDirectory(L"\\\\?\\" + W(longer)));
    longer += L"\\one more level";
    EXPECT_TRUE(CreateDirectoryTree(longer));
    EXPECT_TRUE(IsDirectory(L"\\\\?\\" + W(longer)));
}

TEST(CreateDirectoryTree, FilesInTheWayFail) {
    TempDir dir;
    Str file = dir / L"file";
    WriteFileBytes(file, "data");
    EXPECT_FALSE(CreateDirectoryTree(file));
    EXPECT_FALSE(CreateDirectoryTree(dir / L"file\\sub\\deeper"));
    EXPECT_FALSE(Exists(W(dir / L"file\\sub")));
    EXPECT_EQ(ReadFileBytes(file), "data");
}

TEST(ProbeWritable, NewFilesLeaveTheirDirectoriesButNoFile) {
    TempDir dir;
    Str file = dir / L"new\\levels\\capture.snapshot";
    EXPECT_TRUE(ProbeWritable(file));
    EXPECT_TRUE(IsDirectory(W(dir / L"new\\levels")));
    EXPECT_FALSE(Exists(W(file)));

    wchar_t saved[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, saved);
    ASSERT_TRUE(SetCurrentDirectoryW(dir.Path().c_str()));
    EXPECT_TRUE(ProbeWritable(Str(L"rel\\out.snapshot")));
    SetCurrentDirectoryW(saved);
    EXPECT_TRUE(IsDirectory(W(dir / L"rel")));
    EXPECT_FALSE(Exists(W(dir / L"rel\\out.snapshot")));

    Str deep = dir.Path();
    for (int i = 0; i < 8; ++i) deep.AppendFormat(L"\\probe level %d with a name of some length", i);
    deep += L"\\Package.ini";
    EXPECT_TRUE(ProbeWritable(deep));
    std::wstring extended = L"\\\\?\\" + W(deep);
    EXPECT_FALSE(Exists(extended));
    EXPECT_TRUE(IsDirectory(extended.substr(0, extended.size() - 12)));
}

TEST(ProbeWritable, ExistingFilesStayAsTheyWereAndBlockersFail) {
    TempDir dir;
    Str file = dir / L"tool.exe";
    const std::string image = "MZ" + std::string(100, '\x90');
    WriteFileBytes(file, image);
    auto writeTime = [&] {
        FILETIME t{};
        FileHandle h(CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        GetFileTime(h.get(), nullptr, nullptr, &t);
        return uint64_t(t.dwHighDateTime) << 32 | t.dwLowDateTime;
    };
    uint64_t before = writeTime();
    EXPECT_TRUE(ProbeWritable(file));
    EXPECT_EQ(ReadFileBytes(file), image);
    EXPECT_EQ(writeTime(), before);

    Str sub = dir / L"sub";
    ASSERT_TRUE(CreateDirectoryW(sub.c_str(), nullptr));
    EXPECT_FALSE(ProbeWritable(sub));
    EXPECT_FALSE(ProbeWritable(dir / L"tool.exe\\capture.snapshot"));
    EXPECT_FALSE(ProbeWritable(dir / L"tool.exe\\more\\capture.snapshot"));
    EXPECT_EQ(ReadFileBytes(file), image);
}

TEST(SystemPath, UnchangedWhenShortLongFormWhenTooLong) {
    Str shortPath = L"C:\\some\\dir\\*.*";
    EXPECT_EQ(Utf8(SystemPath(shortPath)), Utf8(shortPath));

    // Components that do not exist cannot be shortened; past MAX_PATH the
    // path goes to the system in the "\\?\" form, with the doubled separator
    // before the wildcard folded away.
    Str longPath = L"C:\\no-such-folder";
    for (int i = 0; i < 30; ++i) longPath += L"\\component";
    Str pattern = longPath;
    pattern += L"\\\\*.*";
    Str expected = L"\\\\?\\";
    expected += longPath;
    expected += L"\\*.*";
    EXPECT_EQ(Utf8(SystemPath(pattern)), Utf8(expected));

    Str unc = L"\\\\server\\share";
    for (int i = 0; i < 30; ++i) unc += L"\\component";
    Str expectedUnc = L"\\\\?\\UNC\\server\\share";
    for (int i = 0; i < 30; ++i) expectedUnc += L"\\component";
    EXPECT_EQ(Utf8(SystemPath(unc)), Utf8(expectedUnc));
}

}  // namespace
}  // namespace scancap
