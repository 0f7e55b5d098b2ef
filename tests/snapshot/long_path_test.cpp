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
// exactly `length` characters long; made of one long-named level and one
// 8.3-named level "sub".
std::wstring MakeTree(const TempDir& dir, size_t length, const std::wstring& finalName) {
    std::wstring base = W(dir.Path()) + L"\\sub\\";
    size_t rest = length - base.size() - 1 - finalName.size();
    std::wstring level;
    for (size_t i = 0; i < rest; ++i) level += wchar_t(L'a' + i % 26);
    std::wstring directory = base + level;
    EXPECT_TRUE(CreateDirectoryTree(Str(directory.c_str())));
    return directory + L"\\" + finalName;
}

// ---------------------------------------------------------------------------
// ShortenLongPath

TEST(ShortenLongPath, ShorterThan180IsUnchanged) {
    TempDir dir;
    std::wstring path = MakeTree(dir, 179, L"file.txt");
    ASSERT_EQ(path.size(), 179u);
    EXPECT_EQ(W(ShortenLongPath(Str(path.c_str()))), path);
    EXPECT_EQ(W(ShortenLongPath(Str(L"c:\\x"))), L"c:\\x");
    EXPECT_EQ(W(ShortenLongPath(Str(L""))), L"");
}

TEST(ShortenLongPath, From180CharactersDirectoriesTakeTheirShortNames) {
    TempDir dir;
    for (size_t length : {180u, 200u, 300u}) {
        std::wstring finalName = L"a final name that is far too long for 8.3.snapshot";
        std::wstring path = MakeTree(dir, length, finalName);
        ASSERT_EQ(path.size(), length);
        std::wstring result = W(ShortenLongPath(Str(path.c_str())));
        EXPECT_LT(result.size(), path.size());

        std::vector<std::wstring> original = Split(path);
        std::vector<std::wstring> shortened = Split(result);
        ASSERT_EQ(shortened.size(), original.size()) << Utf8(result.c_str());
        // The drive root as written; the final name never shortened.
        EXPECT_EQ(shortened.front(), original.front());
        EXPECT_EQ(shortened.back(), finalName);
        // "sub" is a valid 8.3 name and stays as written.
        EXPECT_EQ(shortened[shortened.size() - 3], L"sub");
        // The long level became an 8.3 name.
        const std::wstring& level = shortened[shortened.size() - 2];
        EXPECT_LE(level.size(), 12u);
        EXPECT_NE(level.find(L'~'), std::wstring::npos);

        // Both name the same directory.
        std::wstring resultDirectory = result.substr(0, result.size() - finalName.size() - 1);
        wchar_t longForm[1024];
        DWORD n = GetLongPathNameW(resultDirectory.c_str(), longForm, 1024);
        ASSERT_GT(n, 0u);
        EXPECT_EQ(CompareStringOrdinal(longForm, int(n), path.c_str(), int(path.size() - finalName.size() - 1),
                                       TRUE),
                  CSTR_EQUAL);
    }
}

TEST(ShortenLongPath, SeparatorsAreCopiedAsTheyStand) {
    TempDir dir;
    std::wstring path = MakeTree(dir, 200, L"f");
    std::wstring doubled = path;
    doubled.insert(doubled.find(L"\\sub\\"), L"\\");  // "...\\sub\..."
    std::wstring result = W(ShortenLongPath(Str(doubled.c_str())));
    EXPECT_NE(result.find(L"\\\\sub\\"), std::wstring::npos) << Utf8(result.c_str());
    EXPECT_LT(result.size(), doubled.size());
}

TEST(ShortenLongPath, AnyFailedLookupLeavesThePathUnchanged) {
    TempDir dir;
    std::wstring path = MakeTree(dir, 200, L"file");
    // A missing directory anywhere in the directory part.
    std::wstring missing = path;
    missing.replace(missing.find(L"\\sub\\"), 5, L"\\suX\\");
    EXPECT_EQ(W(ShortenLongPath(Str(missing.c_str()))), missing);
    // The final name need not exist.
    EXPECT_NE(W(ShortenLongPath(Str((path + L"-absent").c_str()))), path + L"-absent");
    // Without any backslash there is nothing to rebuild.
    std::wstring flat(200, L'x');
    EXPECT_EQ(W(ShortenLongPath(Str(flat.c_str()))), flat);
}

// ---------------------------------------------------------------------------
// CreateDirectoryTree

TEST(CreateDirectoryTree, CreatesEveryMissingLevel) {
    TempDir dir;
    Str deep = dir / L"a\\b\\c\\d";
    EXPECT_TRUE(CreateDirectoryTree(deep));
    EXPECT_TRUE(IsDirectory(W(deep)));
    // Existing: success, nothing changes.
    EXPECT_TRUE(CreateDirectoryTree(deep));
    EXPECT_TRUE(CreateDirectoryTree(dir.Path()));
    // Forward slashes and a trailing separator.
    EXPECT_TRUE(CreateDirectoryTree(dir / L"x/y/z"));
    EXPECT_TRUE(IsDirectory(W(dir / L"x\\y\\z")));
    EXPECT_TRUE(CreateDirectoryTree(dir / L"p\\q\\"));
    EXPECT_TRUE(IsDirectory(W(dir / L"p\\q")));
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

TEST(CreateDirectoryTree, PathsBeyondMaxPath) {
    TempDir dir;
    Str deep = dir.Path();
    for (int i = 0; i < 8; ++i) deep.AppendFormat(L"\\level %d with a name of some length", i);
    ASSERT_GT(deep.Length(), size_t(MAX_PATH));
    EXPECT_TRUE(CreateDirectoryTree(deep));
    std::wstring extended = L"\\\\?\\" + W(deep);
    EXPECT_TRUE(IsDirectory(extended));
    // Below an existing long path: the short form reaches it.
    Str deeper = deep;
    deeper += L"\\one more level";
    EXPECT_TRUE(CreateDirectoryTree(deeper));
    EXPECT_TRUE(IsDirectory(L"\\\\?\\" + W(deeper)));
}

// ---------------------------------------------------------------------------
// ProbeWritable

TEST(ProbeWritable, NewFileInNewDirectoriesLeavesNoFile) {
    TempDir dir;
    Str file = dir / L"new\\levels\\capture.snapshot";
    EXPECT_TRUE(ProbeWritable(file));
    EXPECT_TRUE(IsDirectory(W(dir / L"new\\levels")));
    EXPECT_FALSE(Exists(W(file)));
}

TEST(ProbeWritable, ExistingFilesStayAsTheyWere) {
    TempDir dir;
    Str file = dir / L"tool.exe";
    const std::string image = "MZ" + std::string(100, '\x90');
    WriteFileBytes(file, image);
    FILETIME before{}, after{};
    {
        FileHandle h(CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        GetFileTime(h.get(), nullptr, nullptr, &before);
    }
    EXPECT_TRUE(ProbeWritable(file));
    EXPECT_EQ(ReadFileBytes(file), image);
    {
        FileHandle h(CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        GetFileTime(h.get(), nullptr, nullptr, &after);
    }
    EXPECT_EQ(CompareFileTime(&before, &after), 0);
}

TEST(ProbeWritable, DirectoriesAndBlockedParentsFail) {
    TempDir dir;
    Str sub = dir / L"sub";
    ASSERT_TRUE(CreateDirectoryW(sub.c_str(), nullptr));
    EXPECT_FALSE(ProbeWritable(sub));
    Str file = dir / L"file";
    WriteFileBytes(file, "x");
    EXPECT_FALSE(ProbeWritable(dir / L"file\\capture.snapshot"));
    EXPECT_FALSE(ProbeWritable(dir / L"file\\more\\capture.snapshot"));
    EXPECT_EQ(ReadFileBytes(file), "x");
}

TEST(ProbeWritable, RelativeNamesAndLongPaths) {
    TempDir dir;
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

}  // namespace
}  // namespace scancap
