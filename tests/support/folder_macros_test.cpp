#include "support/folder_macros.h"

#include "common/testing.h"
#include "support/folder_macros_machine.h"
#include "support/handles.h"

#include <gtest/gtest.h>

#include <sddl.h>
#include <shlwapi.h>

#include <string>

namespace scancap {
namespace {

using testing::BuildTablesOn;
using testing::GuardedText;
using testing::ReadRegistryText;
using testing::SyntheticUserObservation;
using testing::SyntheticUserResult;
using testing::TablesMachine;

std::wstring W(const Str& s) { return std::wstring(s.c_str(), s.Length()); }
std::wstring W(const Str* s) { return s ? W(*s) : std::wstring(L"<absent>"); }

struct Found {
    bool matched = false;
    size_t length = 0;
    std::wstring replacement;
    std::wstring extra;
};

Found Lookup(const FolderMacroTable& table, const wchar_t* text, size_t length = Str::npos) {
    FolderMacroTable::Match m;
    Found f;
    f.matched = table.LongestMatch(text, length == Str::npos ? wcslen(text) : length, m);
    if (f.matched) {
        f.length = m.length;
        f.replacement = W(m.replacement);
        f.extra = W(m.extra);
    }
    return f;
}

// The folder a macro decodes to, or "<none>" when the decode table has no
// key of exactly that text.
std::wstring FolderOf(const wchar_t* macroName) {
    std::wstring macro = L"%" + std::wstring(macroName) + L"%";
    Found f = Lookup(DecodeTable(), macro.c_str());
    if (!f.matched || f.length != macro.size()) return L"<none>";
    return f.replacement;
}

std::wstring Expand(const wchar_t* text) {
    wchar_t buffer[1024];
    DWORD n = ExpandEnvironmentStringsW(text, buffer, 1024);
    EXPECT_GT(n, 0u);
    EXPECT_LE(n, 1024u);
    return buffer;
}

std::wstring SystemFolder(UINT(WINAPI* query)(LPWSTR, UINT)) {
    wchar_t buffer[MAX_PATH];
    UINT n = query(buffer, MAX_PATH);
    EXPECT_GT(n, 0u);
    return std::wstring(buffer, n);
}

std::wstring ShortForm(const std::wstring& path) {
    wchar_t buffer[1024];
    DWORD n = GetShortPathNameW(path.c_str(), buffer, 1024);
    EXPECT_GT(n, 0u) << "no short form of " << testing::Utf8(path.c_str());
    return std::wstring(buffer, n < 1024 ? n : 0);
}

std::wstring CurrentSidText() {
    HANDLE token = nullptr;
    EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    KernelHandle owner(token);
    BYTE buffer[256];
    DWORD size = 0;
    EXPECT_TRUE(GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size));
    wchar_t* text = nullptr;
    EXPECT_TRUE(ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text));
    std::wstring sid = text ? text : L"";
    LocalFree(text);
    return sid;
}

// ---- The search tree on private tables ----

TEST(FolderMacroTable, NodesAreLaidOutAsATernaryTreeOfUpperCasedCharacters) {
    FolderMacroTable table;
    table.Insert(L"b", L"1", nullptr);
    table.Insert(L"A", L"2", nullptr);
    table.Insert(L"c", L"3", nullptr);
    table.Insert(L"Bd", L"4", L"x");
    const auto& n = table.Nodes();
    ASSERT_EQ(n.size(), 4u);
    EXPECT_EQ(n[0].ch, L'B');
    EXPECT_EQ(n[0].lo, 1);
    EXPECT_EQ(n[0].hi, 2);
    EXPECT_EQ(n[0].eq, 3);
    EXPECT_EQ(n[0].value, 1);
    EXPECT_EQ(n[1].ch, L'A');
    EXPECT_EQ(n[1].value, 2);
    EXPECT_EQ(n[1].lo | n[1].hi | n[1].eq, 0);
    EXPECT_EQ(n[2].ch, L'C');
    EXPECT_EQ(n[2].value, 3);
    EXPECT_EQ(n[3].ch, L'D');
    EXPECT_EQ(n[3].value, 4);
    ASSERT_EQ(table.Values().size(), 4u);
    EXPECT_FALSE(table.Values()[0].hasExtra);
    EXPECT_TRUE(table.Values()[3].hasExtra);
    EXPECT_EQ(W(table.Values()[3].extra), L"x");
}

TEST(FolderMacroTable, LongestMatchFindsTheLongestKeyThatPrefixesTheText) {
    FolderMacroTable table;
    table.Insert(L"C:\\A", L"%short%", nullptr);
    table.Insert(L"C:\\AB\\C", L"%long%", L"C:\\AB\\C");
    table.Insert(L"C:\\ABC", L"%other%", nullptr);

    Found f = Lookup(table, L"c:\\ab\\cd");
    EXPECT_TRUE(f.matched);
    EXPECT_EQ(f.length, 7u);
    EXPECT_EQ(f.replacement, L"%long%");
    EXPECT_EQ(f.extra, L"C:\\AB\\C");

    f = Lookup(table, L"C:\\AB\\X");
    EXPECT_EQ(f.length, 4u);
    EXPECT_EQ(f.replacement, L"%short%");
    EXPECT_EQ(f.extra, L"<absent>");

    f = Lookup(table, L"C:\\ABCDE");
    EXPECT_EQ(f.length, 6u);
    EXPECT_EQ(f.replacement, L"%other%");

    // The length bounds the search even when the text goes on.
    f = Lookup(table, L"C:\\AB\\C", 6);
    EXPECT_EQ(f.length, 4u);

    EXPECT_FALSE(Lookup(table, L"C:\\").matched);
    EXPECT_FALSE(Lookup(table, L"D:\\A").matched);
    EXPECT_FALSE(Lookup(table, L"C:\\A", 0).matched);
}

TEST(FolderMacroTable, EmptyTableMatchesNothing) {
    FolderMacroTable table;
    EXPECT_FALSE(Lookup(table, L"anything").matched);
    table.Insert(L"", L"%empty%", nullptr);
    EXPECT_TRUE(table.Nodes().empty());
    EXPECT_FALSE(Lookup(table, L"anything").matched);
}

TEST(FolderMacroTable, TheLastInsertionOfAKeyWins) {
    FolderMacroTable table;
    table.Insert(L"C:\\Users\\Favorites", L"%Favorites%", L"first");
    table.Insert(L"c:\\users\\FAVORITES", L"%Common Favorites%", nullptr);
    Found f = Lookup(table, L"C:\\Users\\Favorites\\x.url");
    EXPECT_EQ(f.length, 18u);
    EXPECT_EQ(f.replacement, L"%Common Favorites%");
    EXPECT_EQ(f.extra, L"<absent>");
    EXPECT_EQ(table.Values().size(), 2u);
}

TEST(FolderMacroTable, KeysIgnoreCaseBeyondAscii) {
    FolderMacroTable table;
    table.Insert(L"C:\\\u00e4rger\\\u0101", L"%Umlaut%", nullptr);
    EXPECT_EQ(table.Nodes()[3].ch, 0x00C4);
    Found f = Lookup(table, L"c:\\\u00c4RGER\\\u0100\\file");
    EXPECT_TRUE(f.matched);
    EXPECT_EQ(f.length, 10u);
    EXPECT_EQ(f.replacement, L"%Umlaut%");
}

TEST(FolderMacroTable, MatchingStopsAtTheEndOfTheText) {
    FolderMacroTable table;
    table.Insert(L"ABC", L"%abc%", nullptr);
    table.Insert(L"ABCDEF", L"%abcdef%", nullptr);
    GuardedText partial(L"abcde");
    Found f = Lookup(table, partial.Get(), partial.Length());
    EXPECT_EQ(f.length, 3u);
    GuardedText whole(L"abcdef");
    f = Lookup(table, whole.Get(), whole.Length());
    EXPECT_EQ(f.length, 6u);
    EXPECT_EQ(f.replacement, L"%abcdef%");
}

// ---- The tables of this machine ----

TEST(FolderMacros, ProgramFoldersComeFromEachRegistryView) {
    ASSERT_TRUE(BuildTablesOn(TablesMachine::Wow64));
    std::wstring native = W(ReadRegistryText(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion",
                                             L"ProgramFilesDir"));
    EXPECT_EQ(FolderOf(L"ProgramFilesDir"), L"C:\\Program Files (x86)");
    EXPECT_EQ(FolderOf(L"Program Files Common"), L"C:\\Program Files (x86)\\Common Files");
    EXPECT_EQ(FolderOf(L"ProgramFilesDir(x64)"), native);
    EXPECT_NE(native, L"C:\\Program Files (x86)");
    EXPECT_EQ(FolderOf(L"?ProgramFilesDir"), L"C?\\Program Files (x86)");
}

TEST(FolderMacros, SystemFoldersComeFromTheSystem) {
    ASSERT_TRUE(BuildTablesOn(TablesMachine::Wow64));
    EXPECT_EQ(FolderOf(L"SystemRoot"), SystemFolder(GetSystemWindowsDirectoryW));
    EXPECT_EQ(FolderOf(L"SystemSystem(x64)"), SystemFolder(GetSystemDirectoryW));
    EXPECT_EQ(FolderOf(L"SystemSystem"), SystemFolder(GetSystemWow64DirectoryW));
    EXPECT_EQ(FolderOf(L"Resources"), SystemFolder(GetWindowsDirectoryW) + L"\\resources");
}

TEST(FolderMacros, ProfileAndTempComeFromTheUsersKeys) {
    ASSERT_TRUE(BuildTablesOn(TablesMachine::Wow64));
    std::wstring profileKey = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\" + CurrentSidText();
    std::wstring profile = Expand(ReadRegistryText(HKEY_LOCAL_MACHINE, profileKey.c_str(), L"ProfileImagePath").c_str());
    ASSERT_FALSE(profile.empty());
    EXPECT_EQ(FolderOf(L"Profile"), profile);

    Str temp = ReadRegistryText(HKEY_CURRENT_USER, L"Environment", L"TEMP");
    ASSERT_FALSE(temp.IsEmpty());
    // The user's TEMP is expanded with USERPROFILE set to the profile folder.
    std::wstring expandedTemp = W(temp);
    size_t at = expandedTemp.find(L"%USERPROFILE%");
    if (at != std::wstring::npos) expandedTemp.replace(at, 13, profile);
    expandedTemp = Expand(expandedTemp.c_str());
    wchar_t longTemp[1024];
    DWORD n = GetLongPathNameW(expandedTemp.c_str(), longTemp, 1024);
    EXPECT_EQ(FolderOf(L"Temp"), n > 0 && n < 1024 ? std::wstring(longTemp, n) : expandedTemp);
}

struct ShellRow {
    const wchar_t* macro;
    HKEY root;
    const wchar_t* value;
    const wchar_t* fallback;
};

TEST(FolderMacros, ShellFoldersMatchTheExplorerKeys) {
    ASSERT_TRUE(BuildTablesOn(TablesMachine::Wow64));
    // "Shell Folders" holds the expanded form of each folder the system knows;
    // absent ones fall back.
    const ShellRow rows[] = {
        {L"Programs", HKEY_CURRENT_USER, L"Programs", L"%USERPROFILE%\\Start Menu\\Programs"},
        {L"Personal", HKEY_CURRENT_USER, L"Personal", L"%USERPROFILE%\\My Documents"},
        {L"Favorites", HKEY_CURRENT_USER, L"Favorites", L"%USERPROFILE%\\Favorites"},
        {L"Startup", HKEY_CURRENT_USER, L"Startup", L"%USERPROFILE%\\Start Menu\\Programs\\Startup"},
        {L"Recent", HKEY_CURRENT_USER, L"Recent", L"%USERPROFILE%\\Recent"},
        {L"SendTo", HKEY_CURRENT_USER, L"SendTo", L"%USERPROFILE%\\SendTo"},
        {L"StartMenu", HKEY_CURRENT_USER, L"Start Menu", L"%USERPROFILE%\\Start Menu"},
        {L"Desktop", HKEY_CURRENT_USER, L"Desktop", L"%USERPROFILE%\\Desktop"},
        {L"NetHood", HKEY_CURRENT_USER, L"NetHood", L"%USERPROFILE%\\NetHood"},
        {L"Fonts", HKEY_CURRENT_USER, L"Fonts", L"%SystemRoot%\\fonts"},
        {L"Templates", HKEY_CURRENT_USER, L"Templates", L"%USERPROFILE%\\Templates"},
        {L"AppData", HKEY_CURRENT_USER, L"AppData", L"%APPDATA%"},
        {L"Local AppData", HKEY_CURRENT_USER, L"Local AppData", L"%LOCALAPPDATA%"},
        {L"PrintHood", HKEY_CURRENT_USER, L"PrintHood", L"%USERPROFILE%\\PrintHood"},
        {L"Internet Cache", HKEY_CURRENT_USER, L"Cache", L"%LOCALAPPDATA%\\Temporary Internet Files"},
        {L"Cookies", HKEY_CURRENT_USER, L"Cookies", L"%USERPROFILE%\\Cookie"},
        {L"History", HKEY_CURRENT_USER, L"History", L"%LOCALAPPDATA%\\History"},
        {L"AdminTools", HKEY_CURRENT_USER, L"Administrative Tools",
         L"%USERPROFILE%\\Start Menu\\Programs\\Administrative Tools"},
        {L"CDBurn Area", HKEY_CURRENT_USER, L"CD Burning", L"%LOCALAPPDATA%\\Microsoft\\CD Burning"},
        {L"Common StartMenu", HKEY_LOCAL_MACHINE, L"Common Start Menu", L"%ALLUSERSPROFILE%\\Start Menu"},
        {L"Common Programs", HKEY_LOCAL_MACHINE, L"Common Programs", L"%ALLUSERSPROFILE%\\Start Menu\\Programs"},
        {L"Common Startup", HKEY_LOCAL_MACHINE, L"Common Startup",
         L"%ALLUSERSPROFILE%\\Start Menu\\Programs\\Startup"},
        {L"Common Desktop", HKEY_LOCAL_MACHINE, L"Common Desktop", L"%ALLUSERSPROFILE%\\Desktop"},
        {L"Common AppData", HKEY_LOCAL_MACHINE, L"Common AppData", L"%ALLUSERSPROFILE%\\Application Data"},
        {L"Common Templates", HKEY_LOCAL_MACHINE, L"Common Templates", L"%ALLUSERSPROFILE%\\Templates"},
        {L"Common Documents", HKEY_LOCAL_MACHINE, L"Common Documents", L"%ALLUSERSPROFILE%\\Documents"},
        {L"Common AdminTools", HKEY_LOCAL_MACHINE, L"Common Administrative Tools",
         L"%ALLUSERSPROFILE%\\Start Menu\\Programs\\Administrative Tools"},
    };
    int fromRegistry = 0;
    for (const ShellRow& row : rows) {
        Str stored =
            ReadRegistryText(row.root, L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", row.value);
        std::wstring expected = stored.IsEmpty() ? Expand(row.fallback) : W(stored);
        fromRegistry += !stored.IsEmpty();
        EXPECT_EQ(FolderOf(row.macro), expected) << testing::Utf8(row.macro);
    }
    // Most folders are known to the system; a few fall back.
    EXPECT_GE(fromRegistry, 20);
}

TEST(FolderMacros, CommonFavoritesAddedLaterWinsTheSharedFolder) {
    ASSERT_TRUE(BuildTablesOn(TablesMachine::Wow64));
    std::wstring favorites = FolderOf(L"Favorites");
    ASSERT_EQ(CompareStringOrdinal(favorites.c_str(), -1, FolderOf(L"Common Favorites").c_str(), -1, TRUE), CSTR_EQUAL)
        << "this machine's common favorites should be the user's";
    std::wstring path = favorites + L"\\x.url";
    Found f = Lookup(EncodeTable(), path.c_str());
    EXPECT_EQ(f.length, favorites.size());
    EXPECT_EQ(f.replacement, L"%Common Favorites%");
}

TEST(FolderMacros, ResourcesLocalizedAndProfilesAreNeverAdded) {
    ASSERT_TRUE(BuildTablesOn(TablesMachine::Wow64));
    EXPECT_EQ(FolderOf(L"Resources Localized"), L"<none>");
    EXPECT_EQ(FolderOf(L"Profiles"), L"<none>");
    for (const FolderMacroTable* table : {&EncodeTable(), &DecodeTable()}) {
        for (const auto& v : table->Values()) {
            for (const Str* s : {&v.replacement, &v.extra}) {
                std::wstring text = W(*s);
                EXPECT_EQ(text.find(L"Resources Localized"), std::wstring::npos);
                EXPECT_EQ(text.find(L"Profiles"), std::wstring::npos);
            }
        }
    }
}

TEST(FolderMacros, EachFolderIsAddedInEveryForm) {
    ASSERT_TRUE(BuildTablesOn(TablesMachine::Wow64));
    const std::wstring folder = L"C:\\Program Files (x86)";
    const std::wstring shortForm = ShortForm(folder);
    ASSERT_NE(shortForm, folder);
    wchar_t url[264];
    DWORD urlChars = 264;
    ASSERT_EQ(UrlCreateFromPathW(shortForm.c_str(), url, &urlChars, 0), S_OK);

    Found f = Lookup(EncodeTable(), folder.c_str());
    EXPECT_EQ(f.length, folder.size());
    EXPECT_EQ(f.replacement, L"%ProgramFilesDir%");
    EXPECT_EQ(f.extra, L"%ProgramFilesDir%");

    f = Lookup(EncodeTable(), L"\\??\\C:\\Program Files (x86)");
    EXPECT_EQ(f.length, 26u);
    EXPECT_EQ(f.replacement, L"%ProgramFilesDir%");

    f = Lookup(EncodeTable(), shortForm.c_str());
    EXPECT_EQ(f.length, shortForm.size());
    EXPECT_EQ(f.replacement, L"%ProgramFilesDir~");
    EXPECT_EQ(f.extra, folder);

    f = Lookup(EncodeTable(), url);
    EXPECT_EQ(f.length, urlChars);
    EXPECT_EQ(f.replacement, L"%ProgramFilesDir*");
    EXPECT_EQ(f.extra, folder);

    f = Lookup(EncodeTable(), L"C?\\Program Files (x86)");
    EXPECT_EQ(f.replacement, L"%?ProgramFilesDir%");
    EXPECT_EQ(f.extra, L"<absent>");

    f = Lookup(DecodeTable(), L"%ProgramFilesDir%");
    EXPECT_EQ(f.replacement, folder);
    EXPECT_EQ(f.extra, folder);
    f = Lookup(DecodeTable(), L"%ProgramFilesDir~");
    EXPECT_EQ(f.length, 17u);
    EXPECT_EQ(f.replacement, shortForm);
    EXPECT_EQ(f.extra, folder);
    f = Lookup(DecodeTable(), L"%ProgramFilesDir*");
    EXPECT_EQ(f.replacement, std::wstring(url, urlChars));
    EXPECT_EQ(f.extra, folder);
    f = Lookup(DecodeTable(), L"%?ProgramFilesDir%");
    EXPECT_EQ(f.extra, L"<absent>");
}

TEST(FolderMacros, AFolderWithoutADistinctShortFormDecodesItsShortMacroToItself) {
    ASSERT_TRUE(BuildTablesOn(TablesMachine::Wow64));
    const std::wstring windows = FolderOf(L"SystemRoot");
    ASSERT_EQ(ShortForm(windows), windows);
    Found f = Lookup(DecodeTable(), L"%SystemRoot~");
    EXPECT_EQ(f.length, 12u);
    EXPECT_EQ(f.replacement, windows);
    EXPECT_EQ(f.extra, windows);
    f = Lookup(DecodeTable(), L"%SystemRoot*");
    EXPECT_FALSE(f.matched && f.length == 12u);
    for (const auto& v : EncodeTable().Values()) EXPECT_NE(W(v.replacement), L"%SystemRoot~");
}

TEST(FolderMacros, SecondInitChangesNothing) {
    ASSERT_TRUE(BuildTablesOn(TablesMachine::Wow64));
    size_t encodeValues = EncodeTable().Values().size();
    size_t decodeNodes = DecodeTable().Nodes().size();
    InitFolderMacros();
    EXPECT_EQ(EncodeTable().Values().size(), encodeValues);
    EXPECT_EQ(DecodeTable().Nodes().size(), decodeNodes);
}

// ---- Folder resolution rules, on a user with hand-made shell folders ----

TEST(FolderMacrosSyntheticUser, ShellFolderValuesAreReadByTheirRules) {
    if (!BuildTablesOn(TablesMachine::SyntheticUser)) GTEST_SKIP() << "tables already built in this process";
    const std::wstring profile = FolderOf(L"Profile");
    ASSERT_NE(profile, L"<none>");
    ASSERT_NE(profile, SyntheticUserResult::kProfileMarker);
    EXPECT_EQ(FolderOf(L"Desktop"), L"C:\\sc-shell\\Desktop");      // unexpandable value refused
    EXPECT_EQ(FolderOf(L"Personal"), L"C:\\sc-shell\\Documents");   // non-string value refused
    EXPECT_EQ(FolderOf(L"Favorites"), L"C:\\sc-user\\Favorites");   // User Shell Folders first
    EXPECT_EQ(FolderOf(L"Templates"), L"C:\\sc-shell\\Templates");  // empty value refused
    EXPECT_EQ(FolderOf(L"AppData"), profile + L"\\Roaming");
    EXPECT_EQ(FolderOf(L"Programs"), profile + L"\\Start Menu\\Programs");
    EXPECT_EQ(FolderOf(L"Cookies"), profile + L"\\Cookie");
    EXPECT_EQ(FolderOf(L"Temp"), profile + L"\\sc-temp");
}

TEST(FolderMacrosSyntheticUser, AnUnsetVariableStaysInTheFallback) {
    if (!BuildTablesOn(TablesMachine::SyntheticUser)) GTEST_SKIP() << "tables already built in this process";
    EXPECT_EQ(FolderOf(L"Local AppData"), L"%LOCALAPPDATA%");
    EXPECT_EQ(FolderOf(L"History"), L"%LOCALAPPDATA%\\History");
    EXPECT_EQ(FolderOf(L"CDBurn Area"), L"%LOCALAPPDATA%\\Microsoft\\CD Burning");
    Found f = Lookup(EncodeTable(), L"%LOCALAPPDATA%\\History\\x");
    EXPECT_EQ(f.replacement, L"%History%");
}

TEST(FolderMacrosSyntheticUser, TheEnvironmentIsRestored) {
    if (!BuildTablesOn(TablesMachine::SyntheticUser)) GTEST_SKIP() << "tables already built in this process";
    const SyntheticUserResult& seen = SyntheticUserObservation();
    EXPECT_EQ(W(seen.tempAfter), SyntheticUserResult::kTempMarker);
    EXPECT_EQ(W(seen.profileAfter), SyntheticUserResult::kProfileMarker);
    EXPECT_FALSE(seen.localAppDataSetAfter);
}

}  // namespace
}  // namespace scancap
