#include "support/folder_macros.h"

#include "common/testing.h"
#include "support/folder_macros_machine.h"
#include "support/handles.h"

#include <gtest/gtest.h>

#include <sddl.h>

#include <algorithm>
#include <string>

namespace scancap {
namespace {

using testing::BuildTablesOn;
using testing::GuardedText;
using testing::ReadRegistryText;
using testing::ShortForm;
using testing::TablesMachine;
using testing::W;

constexpr size_t kAll = Str::npos;
constexpr wchar_t kAbsent[] = L"<absent>";

struct Found {
    bool matched = false;
    size_t length = 0;
    std::wstring replacement;
    std::wstring extra;
};

Found Lookup(const FolderMacroTable& table, const wchar_t* text, size_t length = kAll) {
    FolderMacroTable::Match m;
    Found f;
    f.matched = table.LongestMatch(text, length == kAll ? wcslen(text) : length, m);
    if (f.matched) f = {true, m.length, W(*m.replacement), m.extra ? W(*m.extra) : kAbsent};
    return f;
}

void ExpectFound(const Found& f, size_t length, const std::wstring& replacement, const std::wstring& extra) {
    EXPECT_TRUE(f.matched);
    EXPECT_EQ(f.length, length);
    EXPECT_EQ(f.replacement, replacement);
    EXPECT_EQ(f.extra, extra);
}

// The folder a macro decodes to, or "<none>" when the decode table has no
// key of exactly that text.
std::wstring FolderOf(const wchar_t* macroName) {
    std::wstring macro = L"%" + std::wstring(macroName) + L"%";
    Found f = Lookup(DecodeTable(), macro.c_str());
    return f.matched && f.length == macro.size() ? f.replacement : L"<none>";
}

std::wstring Expand(const std::wstring& text) {
    wchar_t buffer[1024];
    DWORD n = ExpandEnvironmentStringsW(text.c_str(), buffer, 1024);
    EXPECT_TRUE(n > 0 && n <= 1024) << testing::Utf8(text.c_str());
    return buffer;
}

std::wstring SystemFolder(UINT(WINAPI* query)(LPWSTR, UINT)) {
    wchar_t buffer[MAX_PATH];
    UINT n = query(buffer, MAX_PATH);
    EXPECT_GT(n, 0u);
    return std::wstring(buffer, n);
}

std::wstring CurrentSidText() {
    HANDLE token = nullptr;
    EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    KernelHandle owner(token);
    BYTE buffer[256];
    DWORD size = 0;
    EXPECT_TRUE(GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size));
    LocalMem text;
    EXPECT_TRUE(ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid,
                                       reinterpret_cast<wchar_t**>(text.put())));
    return text ? static_cast<const wchar_t*>(text.get()) : L"";
}

// ---- The search tree on private tables ----

TEST(FolderMacroTable, NodesAreLaidOutAsATernaryTreeOfUpperCasedCharacters) {
    FolderMacroTable table;
    table.Insert(L"b", L"1", nullptr);
    table.Insert(L"A", L"2", nullptr);
    table.Insert(L"c", L"3", nullptr);
    table.Insert(L"Bd", L"4", L"x");
    table.Insert(L"\u00e4", L"5", nullptr);
    // {ch, lo, hi, eq, value} of each node.
    const uint16_t expected[][5] = {{L'B', 1, 2, 3, 1}, {L'A', 0, 0, 0, 2}, {L'C', 0, 4, 0, 3}, {L'D', 0, 0, 0, 4},
                                    {0x00C4, 0, 0, 0, 5}};  // upper case beyond ASCII
    const auto& n = table.Nodes();
    ASSERT_EQ(n.size(), 5u);
    for (size_t i = 0; i < 5; ++i) {
        const uint16_t actual[5] = {n[i].ch, n[i].lo, n[i].hi, n[i].eq, n[i].value};
        EXPECT_TRUE(std::equal(actual, actual + 5, expected[i])) << "node " << i;
    }
    ASSERT_EQ(table.Values().size(), 5u);
    EXPECT_FALSE(table.Values()[0].hasExtra);
    EXPECT_TRUE(table.Values()[3].hasExtra);
    EXPECT_EQ(W(table.Values()[3].extra), L"x");
}

TEST(FolderMacroTable, LongestMatchFindsTheLongestKeyThatPrefixesTheText) {
    FolderMacroTable empty;
    EXPECT_FALSE(Lookup(empty, L"anything").matched);
    empty.Insert(L"", L"%empty%", nullptr);
    EXPECT_TRUE(empty.Nodes().empty());
    EXPECT_FALSE(Lookup(empty, L"anything").matched);

    FolderMacroTable table;
    table.Insert(L"C:\\A", L"%short%", nullptr);
    table.Insert(L"C:\\AB\\C", L"%long%", L"C:\\AB\\C");
    table.Insert(L"C:\\ABC", L"%other%", nullptr);
    table.Insert(L"C:\\Users\\Favorites", L"%Favorites%", L"first");
    table.Insert(L"c:\\users\\FAVORITES", L"%Common Favorites%", nullptr);
    table.Insert(L"C:\\\u00e4rger\\\u0101", L"%Umlaut%", nullptr);
    table.Insert(L"ABC", L"%abc%", nullptr);
    table.Insert(L"ABCDEF", L"%abcdef%", nullptr);
    const struct {
        const wchar_t* text;
        size_t length;
        size_t matched;  // 0: no match
        const wchar_t* replacement;
        const wchar_t* extra;
    } rows[] = {
        {L"c:\\ab\\cd", kAll, 7, L"%long%", L"C:\\AB\\C"},
        {L"C:\\AB\\X", kAll, 4, L"%short%", kAbsent},
        {L"C:\\ABCDE", kAll, 6, L"%other%", kAbsent},
        {L"C:\\AB\\C", 6, 4, L"%short%", kAbsent},  // the length bounds the search even when the text goes on
        {L"C:\\", kAll, 0, nullptr, nullptr},
        {L"D:\\A", kAll, 0, nullptr, nullptr},
        {L"C:\\A", 0, 0, nullptr, nullptr},
        // The last insertion of a key wins.
        {L"C:\\Users\\Favorites\\x.url", kAll, 18, L"%Common Favorites%", kAbsent},
        {L"c:\\\u00c4RGER\\\u0100\\file", kAll, 10, L"%Umlaut%", kAbsent},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Utf8(row.text));
        Found f = Lookup(table, row.text, row.length);
        if (row.matched == 0) {
            EXPECT_FALSE(f.matched);
        } else {
            ExpectFound(f, row.matched, row.replacement, row.extra);
        }
    }
    EXPECT_EQ(table.Values().size(), 8u);
    // Matching stops at the end of the text: one character more would fault.
    GuardedText partial(L"abcde"), whole(L"abcdef");
    ExpectFound(Lookup(table, partial.Get(), partial.Length()), 3, L"%abc%", kAbsent);
    ExpectFound(Lookup(table, whole.Get(), whole.Length()), 6, L"%abcdef%", kAbsent);
}

// ---- The tables of this machine ----

TEST(FolderMacros, ProgramSystemProfileAndTempFoldersComeFromTheirSources) {
    ASSERT_TRUE(BuildTablesOn(TablesMachine::Wow64));
    const std::wstring native = W(ReadRegistryText(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion",
                                                   L"ProgramFilesDir"));
    EXPECT_NE(native, L"C:\\Program Files (x86)");
    EXPECT_EQ(FolderOf(L"ProgramFilesDir"), L"C:\\Program Files (x86)");
    EXPECT_EQ(FolderOf(L"Program Files Common"), L"C:\\Program Files (x86)\\Common Files");
    EXPECT_EQ(FolderOf(L"ProgramFilesDir(x64)"), native);
    EXPECT_EQ(FolderOf(L"?ProgramFilesDir"), L"C?\\Program Files (x86)");
    EXPECT_EQ(FolderOf(L"SystemRoot"), SystemFolder(GetSystemWindowsDirectoryW));
    EXPECT_EQ(FolderOf(L"SystemSystem(x64)"), SystemFolder(GetSystemDirectoryW));
    EXPECT_EQ(FolderOf(L"SystemSystem"), SystemFolder(GetSystemWow64DirectoryW));
    EXPECT_EQ(FolderOf(L"Resources"), SystemFolder(GetWindowsDirectoryW) + L"\\resources");

    const std::wstring profileKey =
        L"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\" + CurrentSidText();
    const std::wstring profile =
        Expand(W(ReadRegistryText(HKEY_LOCAL_MACHINE, profileKey.c_str(), L"ProfileImagePath")));
    ASSERT_FALSE(profile.empty());
    EXPECT_EQ(FolderOf(L"Profile"), profile);
    // The user's TEMP is expanded with USERPROFILE set to the profile folder.
    std::wstring temp = W(ReadRegistryText(HKEY_CURRENT_USER, L"Environment", L"TEMP"));
    ASSERT_FALSE(temp.empty());
    if (size_t at = temp.find(L"%USERPROFILE%"); at != std::wstring::npos) temp.replace(at, 13, profile);
    temp = Expand(temp);
    wchar_t longTemp[1024];
    DWORD n = GetLongPathNameW(temp.c_str(), longTemp, 1024);
    EXPECT_EQ(FolderOf(L"Temp"), n > 0 && n < 1024 ? std::wstring(longTemp, n) : temp);
}

TEST(FolderMacros, ShellFoldersMatchTheExplorerKeys) {
    ASSERT_TRUE(BuildTablesOn(TablesMachine::Wow64));
    // "Shell Folders" holds the expanded form of each folder the system knows;
    // absent ones fall back.
    // (macro, value name, fallback); the "Common " folders are the machine's.
    const wchar_t* rows[][3] = {
        {L"Programs", L"Programs", L"%USERPROFILE%\\Start Menu\\Programs"},
        {L"Personal", L"Personal", L"%USERPROFILE%\\My Documents"},
        {L"Favorites", L"Favorites", L"%USERPROFILE%\\Favorites"},
        {L"Startup", L"Startup", L"%USERPROFILE%\\Start Menu\\Programs\\Startup"},
        {L"Recent", L"Recent", L"%USERPROFILE%\\Recent"},
        {L"SendTo", L"SendTo", L"%USERPROFILE%\\SendTo"},
        {L"StartMenu", L"Start Menu", L"%USERPROFILE%\\Start Menu"},
        {L"Desktop", L"Desktop", L"%USERPROFILE%\\Desktop"},
        {L"NetHood", L"NetHood", L"%USERPROFILE%\\NetHood"},
        {L"Fonts", L"Fonts", L"%SystemRoot%\\fonts"},
        {L"Templates", L"Templates", L"%USERPROFILE%\\Templates"},
        {L"AppData", L"AppData", L"%APPDATA%"},
        {L"Local AppData", L"Local AppData", L"%LOCALAPPDATA%"},
        {L"PrintHood", L"PrintHood", L"%USERPROFILE%\\PrintHood"},
        {L"Internet Cache", L"Cache", L"%LOCALAPPDATA%\\Temporary Internet Files"},
        {L"Cookies", L"Cookies", L"%USERPROFILE%\\Cookie"},
        {L"History", L"History", L"%LOCALAPPDATA%\\History"},
        {L"AdminTools", L"Administrative Tools", L"%USERPROFILE%\\Start Menu\\Programs\\Administrative Tools"},
        {L"CDBurn Area", L"CD Burning", L"%LOCALAPPDATA%\\Microsoft\\Windows\\Burn\\Burn"},  // the shell's
        {L"Common StartMenu", L"Common Start Menu", L"%ALLUSERSPROFILE%\\Start Menu"},
        {L"Common Programs", L"Common Programs", L"%ALLUSERSPROFILE%\\Start Menu\\Programs"},
        {L"Common Startup", L"Common Startup", L"%ALLUSERSPROFILE%\\Start Menu\\Programs\\Startup"},
        {L"Common Desktop", L"Common Desktop", L"%ALLUSERSPROFILE%\\Desktop"},
        {L"Common AppData", L"Common AppData", L"%ALLUSERSPROFILE%\\Application Data"},
        {L"Common Templates", L"Common Templates", L"%ALLUSERSPROFILE%\\Templates"},
        {L"Common Documents", L"Common Documents", L"%ALLUSERSPROFILE%\\Documents"},
        {L"Common AdminTools", L"Common Administrative Tools",
         L"%ALLUSERSPROFILE%\\Start Menu\\Programs\\Administrative Tools"},
    };
    int fromRegistry = 0;
    for (const auto& [macro, value, fallback] : rows) {
        const HKEY root = wcsncmp(macro, L"Common ", 7) == 0 ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
        Str stored =
            ReadRegistryText(root, L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", value);
        fromRegistry += !stored.IsEmpty();
        EXPECT_EQ(FolderOf(macro), stored.IsEmpty() ? Expand(fallback) : W(stored)) << testing::Utf8(macro);
    }
    // Most folders are known to the system; a few fall back.
    EXPECT_GE(fromRegistry, 20);

    // Common Favorites, added later, wins the folder it shares with Favorites.
    const std::wstring favorites = FolderOf(L"Favorites");
    ASSERT_EQ(CompareStringOrdinal(favorites.c_str(), -1, FolderOf(L"Common Favorites").c_str(), -1, TRUE), CSTR_EQUAL)
        << "this machine's common favorites should be the user's";
    ExpectFound(Lookup(EncodeTable(), (favorites + L"\\x.url").c_str()), favorites.size(), L"%Common Favorites%",
                L"%Common Favorites%");

    EXPECT_EQ(FolderOf(L"Resources Localized"), L"<none>");
    EXPECT_EQ(FolderOf(L"Profiles"), L"<none>");
    for (const FolderMacroTable* table : {&EncodeTable(), &DecodeTable()}) {
        for (const auto& v : table->Values()) {
            for (const Str* s : {&v.replacement, &v.extra}) {
                EXPECT_EQ(W(*s).find(L"Resources Localized"), std::wstring::npos);
                EXPECT_EQ(W(*s).find(L"Profiles"), std::wstring::npos);
            }
        }
    }
}

TEST(FolderMacros, EachFolderIsAddedInEveryForm) {
    ASSERT_TRUE(BuildTablesOn(TablesMachine::Wow64));
    const std::wstring folder = L"C:\\Program Files (x86)";
    const std::wstring shortForm = ShortForm(folder);
    ASSERT_NE(shortForm, folder);
    const std::wstring url = testing::UrlOf(shortForm);

    ExpectFound(Lookup(EncodeTable(), folder.c_str()), folder.size(), L"%ProgramFilesDir%", L"%ProgramFilesDir%");
    ExpectFound(Lookup(EncodeTable(), (L"\\??\\" + folder).c_str()), 26, L"%ProgramFilesDir%", L"%ProgramFilesDir%");
    ExpectFound(Lookup(EncodeTable(), shortForm.c_str()), shortForm.size(), L"%ProgramFilesDir~", folder);
    ExpectFound(Lookup(EncodeTable(), url.c_str()), url.size(), L"%ProgramFilesDir*", folder);
    ExpectFound(Lookup(EncodeTable(), L"C?\\Program Files (x86)"), 22, L"%?ProgramFilesDir%", kAbsent);

    ExpectFound(Lookup(DecodeTable(), L"%ProgramFilesDir%"), 17, folder, folder);
    ExpectFound(Lookup(DecodeTable(), L"%ProgramFilesDir~"), 17, shortForm, folder);
    ExpectFound(Lookup(DecodeTable(), L"%ProgramFilesDir*"), 17, url, folder);
    ExpectFound(Lookup(DecodeTable(), L"%?ProgramFilesDir%"), 18, L"C?\\Program Files (x86)", kAbsent);

    // A folder without a distinct short form decodes its short macro to itself
    // and has no URL form.
    const std::wstring windows = FolderOf(L"SystemRoot");
    ASSERT_EQ(ShortForm(windows), windows);
    ExpectFound(Lookup(DecodeTable(), L"%SystemRoot~"), 12, windows, windows);
    Found f = Lookup(DecodeTable(), L"%SystemRoot*");
    EXPECT_FALSE(f.matched && f.length == 12u);
    for (const auto& v : EncodeTable().Values()) EXPECT_NE(W(v.replacement), L"%SystemRoot~");
}

// ---- Folder resolution rules, on a user with hand-made shell folders ----

TEST(FolderMacrosSyntheticUser, ShellFolderValuesAreReadByTheirRulesAndTheEnvironmentIsRestored) {
    if (!BuildTablesOn(TablesMachine::SyntheticUser)) GTEST_SKIP() << "tables already built in this process";
    const std::wstring profile = FolderOf(L"Profile");
    ASSERT_NE(profile, L"<none>");
    ASSERT_NE(profile, testing::SyntheticUserResult::kProfileMarker);
    EXPECT_EQ(FolderOf(L"Desktop"), L"C:\\sc-shell\\Desktop");      // unexpandable value refused
    EXPECT_EQ(FolderOf(L"Personal"), L"C:\\sc-shell\\Documents");   // non-string value refused
    EXPECT_EQ(FolderOf(L"Favorites"), L"C:\\sc-user\\Favorites");   // User Shell Folders first
    EXPECT_EQ(FolderOf(L"Templates"), L"C:\\sc-shell\\Templates");  // empty value refused
    EXPECT_EQ(FolderOf(L"AppData"), profile + L"\\Roaming");
    EXPECT_EQ(FolderOf(L"Programs"), profile + L"\\Start Menu\\Programs");
    EXPECT_EQ(FolderOf(L"Cookies"), profile + L"\\Cookie");
    EXPECT_EQ(FolderOf(L"Temp"), profile + L"\\sc-temp");
    // An unset variable stays in the fallback.
    EXPECT_EQ(FolderOf(L"Local AppData"), L"%LOCALAPPDATA%");
    EXPECT_EQ(FolderOf(L"History"), L"%LOCALAPPDATA%\\History");
    EXPECT_EQ(FolderOf(L"CDBurn Area"), L"%LOCALAPPDATA%\\Microsoft\\CD Burning");
    EXPECT_EQ(Lookup(EncodeTable(), L"%LOCALAPPDATA%\\History\\x").replacement, L"%History%");

    const testing::SyntheticUserResult& seen = testing::SyntheticUserObservation();
    EXPECT_EQ(W(seen.tempAfter), testing::SyntheticUserResult::kTempMarker);
    EXPECT_EQ(W(seen.profileAfter), testing::SyntheticUserResult::kProfileMarker);
    EXPECT_FALSE(seen.localAppDataSetAfter);
}

}  // namespace
}  // namespace scancap
