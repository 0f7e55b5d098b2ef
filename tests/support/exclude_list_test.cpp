#include "support/exclude_list.h"

#include "common/testing.h"
#include "support/folder_macros.h"
#include "support/name_encoding.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace scancap {
namespace {

using testing::TempDir;
using testing::Utf8;
using testing::WriteFileBytes;

// Sets (or, with null, removes) an environment variable for one test.
class EnvVar {
public:
    EnvVar(const wchar_t* name, const wchar_t* value) : name_(name) {
        wchar_t old[32768];
        DWORD n = GetEnvironmentVariableW(name, old, 32768);
        hadValue_ = n != 0 && n < 32768;
        if (hadValue_) old_ = old;
        SetEnvironmentVariableW(name, value);
    }
    ~EnvVar() { SetEnvironmentVariableW(name_, hadValue_ ? old_.c_str() : nullptr); }
    EnvVar(const EnvVar&) = delete;
    EnvVar& operator=(const EnvVar&) = delete;

private:
    const wchar_t* name_;
    bool hadValue_ = false;
    Str old_;
};

Str ProgramFolder() {
    wchar_t module[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, module, MAX_PATH);
    Str folder(module, n);
    folder.SetLength(static_cast<size_t>(folder.FindLast(L'\\')));
    return folder;
}

Str Decoded(const wchar_t* macroPath) {
    Str out;
    DecodeProjectPath(macroPath, wcslen(macroPath), out);
    return out;
}

Str Join(const Str& a, const wchar_t* b) {
    Str s = a;
    s += b;
    return s;
}

std::string FatalMessage(const std::function<void()>& call) {
    try {
        call();
    } catch (const Str& message) {
        return Utf8(message);
    }
    return "(no fatal error)";
}

class ExcludeListTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { InitFolderMacros(); }

    // Lists built from a file must not pick up a packager folder from the
    // environment the tests were started in.
    EnvVar noOrigin_{L"VX_ORIGIN", nullptr};
    std::unique_ptr<ExcludeList> list_ = CreateExcludeList();
    TempDir dir_;

    Str WriteList(const std::string& text, const wchar_t* name = L"list.ini") {
        Str path = dir_ / name;
        WriteFileBytes(path, text);
        return path;
    }
    void Load(const std::string& text) { list_->LoadListFile(WriteList(text).c_str()); }
};

TEST_F(ExcludeListTest, NewListIgnoresNothing) {
    ASSERT_NE(list_, nullptr);
    EXPECT_FALSE(list_->IsFileIgnored(L"C:\\"));
    EXPECT_FALSE(list_->IsFileIgnored(L"C:\\Windows"));
    EXPECT_FALSE(list_->IsRegistryKeyIgnored(L"HKEY_LOCAL_MACHINE"));
    EXPECT_FALSE(list_->IsForcedWriteCopy(L"C:\\X"));
}

TEST_F(ExcludeListTest, FileEntryCoversItselfAndEverythingBelowIt) {
    Load("[FileSystemIgnoreList]\r\n0001=C:\\Windows\\Temp\r\n");
    EXPECT_TRUE(list_->IsFileIgnored(L"C:\\Windows\\Temp"));
    EXPECT_TRUE(list_->IsFileIgnored(L"C:\\Windows\\Temp\\a\\b.txt"));
    EXPECT_TRUE(list_->IsFileIgnored(L"c:\\windows\\temp"));
    EXPECT_TRUE(list_->IsFileIgnored(L"c:\\WINDOWS\\tEmP\\x"));
    EXPECT_FALSE(list_->IsFileIgnored(L"C:\\Windows"));
    EXPECT_FALSE(list_->IsFileIgnored(L"C:\\Windows\\Tem"));
    EXPECT_FALSE(list_->IsFileIgnored(L"C:\\Windows\\Temp2"));
    EXPECT_FALSE(list_->IsFileIgnored(L"D:\\Windows\\Temp"));
    // Only the backslash separates components.
    EXPECT_FALSE(list_->IsFileIgnored(L"C:/Windows/Temp"));
}

TEST_F(ExcludeListTest, TerminalNodeWithChildrenMatchesDeeperPathsOnlyThroughThem) {
    Load("[FileSystemIgnoreList]\r\n0001=D:\\P\r\n0002=D:\\P\\Q\\R\r\n");
    EXPECT_TRUE(list_->IsFileIgnored(L"D:\\P"));
    EXPECT_FALSE(list_->IsFileIgnored(L"D:\\P\\X"));
    EXPECT_FALSE(list_->IsFileIgnored(L"D:\\P\\Q"));
    EXPECT_TRUE(list_->IsFileIgnored(L"D:\\P\\Q\\R"));
    EXPECT_TRUE(list_->IsFileIgnored(L"D:\\P\\Q\\R\\S"));
    EXPECT_TRUE(list_->IsFileIgnored(L"d:\\p\\q\\r\\s\\t"));
    EXPECT_FALSE(list_->IsFileIgnored(L"D:\\P\\Q\\X"));
}

TEST_F(ExcludeListTest, EntriesSharingAPrefixShareNodesWhateverTheirCase) {
    list_->AddFileIgnore(L"C:\\Data\\One");
    list_->AddFileIgnore(L"c:\\DATA\\Two");
    EXPECT_TRUE(list_->IsFileIgnored(L"C:\\Data\\One\\x"));
    EXPECT_TRUE(list_->IsFileIgnored(L"C:\\Data\\Two\\x"));
    EXPECT_FALSE(list_->IsFileIgnored(L"C:\\Data"));
    EXPECT_FALSE(list_->IsFileIgnored(L"C:\\Data\\Three"));
}

TEST_F(ExcludeListTest, ExactListsMatchTheEntryButNothingBelowIt) {
    Load("[ForcedWriteCopyLocations]\r\n0001=C:\\X\r\n0002=HKEY_CURRENT_USER\\Software\\W\r\n");
    EXPECT_TRUE(list_->IsForcedWriteCopy(L"C:\\X"));
    EXPECT_TRUE(list_->IsForcedWriteCopy(L"c:\\x"));
    EXPECT_FALSE(list_->IsForcedWriteCopy(L"C:\\X\\Y"));
    EXPECT_FALSE(list_->IsForcedWriteCopy(L"C:"));
    EXPECT_TRUE(list_->IsForcedWriteCopy(L"HKEY_CURRENT_USER\\Software\\W"));
    EXPECT_FALSE(list_->IsForcedWriteCopy(L"HKEY_CURRENT_USER\\Software\\W\\Sub"));
    // Forced write-copy entries are not ignored.
    EXPECT_FALSE(list_->IsFileIgnored(L"C:\\X"));
}

TEST_F(ExcludeListTest, EachSectionFeedsOnlyItsOwnQuery) {
    Load("[RegistryIgnoreList]\r\n0001=R:\\Registry\r\n"
         "[FileSystemIgnoreList]\r\n0001=R:\\Files\r\n"
         "[ForcedWriteCopyLocations]\r\n0001=R:\\Forced\r\n"
         "[IE6ToIE7UpgradeFileLocations]\r\n0001=R:\\Ie6To7File\r\n"
         "[IE6ToIE7UpgradeRegistryLocations]\r\n0001=R:\\Ie6To7Key\r\n"
         "[IE11UpgradeFileLocations]\r\n0001=R:\\Ie11Upgrade\r\n"
         "[IE11ExcludeFileLocations]\r\n0001=R:\\Ie11Exclude\r\n"
         "[IE10ExcludeFileLocations]\r\n0001=R:\\Ie10Exclude\r\n");
    struct Query {
        const wchar_t* entry;
        bool (ExcludeList::*ask)(const wchar_t*);
    };
    const Query queries[] = {
        {L"R:\\Registry", &ExcludeList::IsRegistryKeyIgnored},
        {L"R:\\Files", &ExcludeList::IsFileIgnored},
        {L"R:\\Forced", &ExcludeList::IsForcedWriteCopy},
        {L"R:\\Ie6To7File", &ExcludeList::IsIE6To7UpgradeFileLocation},
        {L"R:\\Ie6To7Key", &ExcludeList::IsIE6To7UpgradeRegistryLocation},
        {L"R:\\Ie11Upgrade", &ExcludeList::IsIE11UpgradeFileLocation},
        {L"R:\\Ie11Exclude", &ExcludeList::IsIE11ExcludedFile},
        {L"R:\\Ie10Exclude", &ExcludeList::IsIE10ExcludedFile},
    };
    for (const Query& query : queries) {
        for (const Query& other : queries) {
            EXPECT_EQ((list_.get()->*query.ask)(other.entry), query.entry == other.entry)
                << "query for " << Utf8(query.entry) << " asked about " << Utf8(other.entry);
        }
    }
    // Registry and file ignore lists are below-leaf, the other six exact.
    EXPECT_TRUE(list_->IsRegistryKeyIgnored(L"R:\\Registry\\Sub"));
    EXPECT_TRUE(list_->IsFileIgnored(L"R:\\Files\\Sub"));
    EXPECT_FALSE(list_->IsIE6To7UpgradeFileLocation(L"R:\\Ie6To7File\\Sub"));
    EXPECT_FALSE(list_->IsIE6To7UpgradeRegistryLocation(L"R:\\Ie6To7Key\\Sub"));
    EXPECT_FALSE(list_->IsIE11UpgradeFileLocation(L"R:\\Ie11Upgrade\\Sub"));
    EXPECT_FALSE(list_->IsIE11ExcludedFile(L"R:\\Ie11Exclude\\Sub"));
    EXPECT_FALSE(list_->IsIE10ExcludedFile(L"R:\\Ie10Exclude\\Sub"));
}

TEST_F(ExcludeListTest, WildcardComponentMatchesWithinOneComponent) {
    list_->AddFileIgnore(L"C:\\Temp\\*.tmp");
    EXPECT_TRUE(list_->IsFileIgnored(L"C:\\Temp\\a.TMP"));
    EXPECT_TRUE(list_->IsFileIgnored(L"C:\\Temp\\.tmp"));
    EXPECT_TRUE(list_->IsFileIgnored(L"C:\\Temp\\x.y.tmp"));
    EXPECT_TRUE(list_->IsFileIgnored(L"C:\\Temp\\a.tmp\\below"));
    EXPECT_FALSE(list_->IsFileIgnored(L"C:\\Temp\\sub\\a.tmp"));
    EXPECT_FALSE(list_->IsFileIgnored(L"C:\\Temp\\a.tmpx"));
    EXPECT_FALSE(list_->IsFileIgnored(L"C:\\Temp\\a.tm"));
    EXPECT_FALSE(list_->IsFileIgnored(L"C:\\Temp"));
}

TEST_F(ExcludeListTest, StarNeverCrossesASlash) {
    list_->AddFileIgnore(L"C:\\W\\a*b");
    EXPECT_TRUE(list_->IsFileIgnored(L"C:\\W\\ab"));
    EXPECT_TRUE(list_->IsFileIgnored(L"C:\\W\\axxb"));
    EXPECT_FALSE(list_->IsFileIgnored(L"C:\\W\\a/b"));
    EXPECT_FALSE(list_->IsFileIgnored(L"C:\\W\\ax/yb"));
    // "?" is one character of any kind.
    list_->AddFileIgnore(L"C:\\Q\\a?b");
    EXPECT_TRUE(list_->IsFileIgnored(L"C:\\Q\\a/b"));
    EXPECT_FALSE(list_->IsFileIgnored(L"C:\\Q\\a//b"));
}

TEST_F(ExcludeListTest, StarDotStarMatchesNamesWithoutADot) {
    list_->AddFileIgnore(L"C:\\Data\\*.*\\Cache");
    EXPECT_TRUE(list_->IsFileIgnored(L"C:\\Data\\noext\\Cache"));
    EXPECT_TRUE(list_->IsFileIgnored(L"C:\\Data\\a.b\\Cache\\x"));
    EXPECT_FALSE(list_->IsFileIgnored(L"C:\\Data\\noext\\Other"));
    // Only the whole pattern "*.*" is special; "a*.*" still needs the dot.
    list_->AddFileIgnore(L"C:\\Dot\\a*.*");
    EXPECT_TRUE(list_->IsFileIgnored(L"C:\\Dot\\ab.c"));
    EXPECT_FALSE(list_->IsFileIgnored(L"C:\\Dot\\abc"));
}

TEST_F(ExcludeListTest, QuestionMarksAndOneStarLeftOverAreAccepted) {
    list_->AddFileIgnore(L"C:\\Logs\\log??");
    EXPECT_TRUE(list_->IsFileIgnored(L"C:\\Logs\\log"));
    EXPECT_TRUE(list_->IsFileIgnored(L"C:\\Logs\\log1"));
    EXPECT_TRUE(list_->IsFileIgnored(L"C:\\Logs\\log12"));
    EXPECT_FALSE(list_->IsFileIgnored(L"C:\\Logs\\log123"));
    EXPECT_FALSE(list_->IsFileIgnored(L"C:\\Logs\\lo"));
    list_->AddFileIgnore(L"C:\\Star\\ab*");
    EXPECT_TRUE(list_->IsFileIgnored(L"C:\\Star\\ab"));
    EXPECT_TRUE(list_->IsFileIgnored(L"C:\\Star\\abcdef"));
    EXPECT_FALSE(list_->IsFileIgnored(L"C:\\Star\\a"));
    // A "?" in the middle still needs its character.
    list_->AddFileIgnore(L"C:\\Mid\\a?c");
    EXPECT_TRUE(list_->IsFileIgnored(L"C:\\Mid\\abc"));
    EXPECT_FALSE(list_->IsFileIgnored(L"C:\\Mid\\ac"));
    EXPECT_FALSE(list_->IsFileIgnored(L"C:\\Mid\\abbc"));
}

TEST_F(ExcludeListTest, ManyStarsNeedBacktrackingAcrossThem) {
    list_->AddFileIgnore(L"C:\\B\\*a*a*b");
    EXPECT_TRUE(list_->IsFileIgnored(L"C:\\B\\xaayab"));
    EXPECT_TRUE(list_->IsFileIgnored(L"C:\\B\\aab"));
    EXPECT_FALSE(list_->IsFileIgnored(L"C:\\B\\aaba"));
    EXPECT_FALSE(list_->IsFileIgnored(L"C:\\B\\ab"));
    const std::wstring longName(250, L'a');
    EXPECT_FALSE(list_->IsFileIgnored((L"C:\\B\\" + longName).c_str()));
    EXPECT_TRUE(list_->IsFileIgnored((L"C:\\B\\" + longName + L"b").c_str()));
}

TEST_F(ExcludeListTest, ComparisonsUseUnicodeUpperCase) {
    list_->AddFileIgnore(L"C:\\Caf\u00e9");
    list_->AddFileIgnore(L"C:\\P\u00e4ck*\\\u00fc?");
    EXPECT_TRUE(list_->IsFileIgnored(L"C:\\CAF\u00c9"));
    EXPECT_TRUE(list_->IsFileIgnored(L"c:\\P\u00c4CKchen\\\u00dcx"));
    EXPECT_FALSE(list_->IsFileIgnored(L"C:\\Cafe"));
    EXPECT_FALSE(list_->IsFileIgnored(L"C:\\Pack\\\u00fcx"));
}

TEST_F(ExcludeListTest, WildcardsInAMiddleComponent) {
    Load("[FileSystemIgnoreList]\r\n0001=C:\\Users\\*\\AppData\\Local\\Temp\r\n");
    EXPECT_TRUE(list_->IsFileIgnored(L"C:\\Users\\bob\\AppData\\Local\\Temp"));
    EXPECT_TRUE(list_->IsFileIgnored(L"C:\\Users\\alice\\AppData\\Local\\Temp\\x\\y"));
    EXPECT_FALSE(list_->IsFileIgnored(L"C:\\Users\\bob\\AppData\\Local"));
    EXPECT_FALSE(list_->IsFileIgnored(L"C:\\Users\\bob\\AppData\\Roaming\\Temp"));
}

TEST_F(ExcludeListTest, View64RootFallsBackToTheRootEntry) {
    Load("[RegistryIgnoreList]\r\n0001=HKEY_LOCAL_MACHINE\\Software\\Foo\r\n");
    EXPECT_TRUE(list_->IsRegistryKeyIgnored(L"HKEY_LOCAL_MACHINE\\Software\\Foo"));
    EXPECT_TRUE(list_->IsRegistryKeyIgnored(L"HKEY64_LOCAL_MACHINE\\Software\\Foo"));
    EXPECT_TRUE(list_->IsRegistryKeyIgnored(L"hkey64_local_machine\\SOFTWARE\\foo\\Bar"));
    EXPECT_FALSE(list_->IsRegistryKeyIgnored(L"HKEY64_LOCAL_MACHINE\\Software\\Food"));
    EXPECT_FALSE(list_->IsRegistryKeyIgnored(L"HKEY64_LOCAL_MACHINE\\Software"));
    EXPECT_FALSE(list_->IsRegistryKeyIgnored(L"HKEY64_LOCAL_MACHINE"));
    EXPECT_FALSE(list_->IsRegistryKeyIgnored(L"HKEY64_"));
    // The retry belongs to the registry query alone.
    list_->AddFileIgnore(L"HKEY_X\\A");
    EXPECT_FALSE(list_->IsFileIgnored(L"HKEY64_X\\A"));

    list_->AddRegistryIgnore(L"HKEY_USERS");
    EXPECT_TRUE(list_->IsRegistryKeyIgnored(L"HKEY64_USERS"));
    EXPECT_TRUE(list_->IsRegistryKeyIgnored(L"HKEY64_USERS\\S-1-5-18"));
    // Root names of any length, however long, are rewritten.
    const std::wstring longRoot = L"HKEY_" + std::wstring(200, L'R');
    list_->AddRegistryIgnore(longRoot.c_str());
    EXPECT_TRUE(list_->IsRegistryKeyIgnored((L"HKEY64_" + std::wstring(200, L'r') + L"\\k").c_str()));
}

TEST_F(ExcludeListTest, EntryEndingInBackslashMatchesNoOrdinaryPath) {
    Load("[FileSystemIgnoreList]\r\n0001=C:\\Trail\\\r\n");
    EXPECT_FALSE(list_->IsFileIgnored(L"C:\\Trail"));
    EXPECT_FALSE(list_->IsFileIgnored(L"C:\\Trail\\x"));
    EXPECT_FALSE(list_->IsFileIgnored(L"C:\\Trail\\x\\y"));
}

TEST_F(ExcludeListTest, NumberingGapOrEmptyValueEndsTheSection) {
    Load("[FileSystemIgnoreList]\r\n0001=C:\\One\r\n0002=C:\\Two\r\n0004=C:\\Four\r\n"
         "[RegistryIgnoreList]\r\n0001=HKEY_CURRENT_USER\\One\r\n0002=\r\n0003=HKEY_CURRENT_USER\\Three\r\n"
         "[ForcedWriteCopyLocations]\r\n1=C:\\Unpadded\r\n");
    EXPECT_TRUE(list_->IsFileIgnored(L"C:\\One"));
    EXPECT_TRUE(list_->IsFileIgnored(L"C:\\Two"));
    EXPECT_FALSE(list_->IsFileIgnored(L"C:\\Four"));
    EXPECT_TRUE(list_->IsRegistryKeyIgnored(L"HKEY_CURRENT_USER\\One"));
    EXPECT_FALSE(list_->IsRegistryKeyIgnored(L"HKEY_CURRENT_USER\\Three"));
    EXPECT_FALSE(list_->IsForcedWriteCopy(L"C:\\Unpadded"));
}

TEST_F(ExcludeListTest, SectionsReadPastOrdinalNine) {
    std::string text = "[FileSystemIgnoreList]\r\n";
    for (int i = 1; i <= 12; ++i) {
        char line[64];
        snprintf(line, sizeof line, "%04d=C:\\E%d\r\n", i, i);
        text += line;
    }
    Load(text);
    EXPECT_TRUE(list_->IsFileIgnored(L"C:\\E9"));
    EXPECT_TRUE(list_->IsFileIgnored(L"C:\\E10"));
    EXPECT_TRUE(list_->IsFileIgnored(L"C:\\E12"));
    EXPECT_FALSE(list_->IsFileIgnored(L"C:\\E13"));
}

TEST_F(ExcludeListTest, ValuesAreCutAt259Characters) {
    const std::string longValue = "C:\\Long\\" + std::string(300, 'a');
    Load("[FileSystemIgnoreList]\r\n0001=" + longValue + "\r\n");
    const std::wstring kept = L"C:\\Long\\" + std::wstring(259 - 8, L'a');
    EXPECT_TRUE(list_->IsFileIgnored(kept.c_str()));
    EXPECT_TRUE(list_->IsFileIgnored((kept + L"\\x").c_str()));
    EXPECT_FALSE(list_->IsFileIgnored((kept + L"a").c_str()));
}

TEST_F(ExcludeListTest, MacroEntryAddsTheLiteralAndTheDecodedPath) {
    Load("[FileSystemIgnoreList]\r\n0001=%ProgramFilesDir%\\Common Files\\Foo\r\n"
         "[ForcedWriteCopyLocations]\r\n0001=%AppData%\\Forced\r\n");
    const Str decoded = Decoded(L"%ProgramFilesDir%\\Common Files\\Foo");
    ASSERT_NE(Utf8(decoded), "%ProgramFilesDir%\\Common Files\\Foo") << "no ProgramFilesDir macro here";
    EXPECT_TRUE(list_->IsFileIgnored(L"%ProgramFilesDir%\\Common Files\\Foo"));
    EXPECT_TRUE(list_->IsFileIgnored(L"%programfilesdir%\\Common Files\\Foo\\x"));
    EXPECT_TRUE(list_->IsFileIgnored(decoded.c_str()));
    EXPECT_TRUE(list_->IsFileIgnored(Join(decoded, L"\\bin\\a.dll").c_str()));
    EXPECT_FALSE(list_->IsFileIgnored(Join(decoded, L"2").c_str()));

    const Str forced = Decoded(L"%AppData%\\Forced");
    EXPECT_TRUE(list_->IsForcedWriteCopy(L"%AppData%\\Forced"));
    EXPECT_TRUE(list_->IsForcedWriteCopy(forced.c_str()));
    EXPECT_FALSE(list_->IsForcedWriteCopy(Join(forced, L"\\x").c_str()));
}

TEST_F(ExcludeListTest, EnvironmentVariablesExpandInTheFileIgnoreListOnly) {
    EnvVar var(L"SCANCAP_EXCLUDE_TEST_DIR", L"C:\\FromEnvironment");
    Load("[FileSystemIgnoreList]\r\n0001=%SCANCAP_EXCLUDE_TEST_DIR%\\Files\r\n"
         "[ForcedWriteCopyLocations]\r\n0001=%SCANCAP_EXCLUDE_TEST_DIR%\\Forced\r\n"
         "[IE10ExcludeFileLocations]\r\n0001=%SCANCAP_EXCLUDE_TEST_DIR%\\Ie10\r\n");
    EXPECT_TRUE(list_->IsFileIgnored(L"C:\\FromEnvironment\\Files\\x"));
    EXPECT_TRUE(list_->IsFileIgnored(L"%SCANCAP_EXCLUDE_TEST_DIR%\\Files"));
    EXPECT_FALSE(list_->IsForcedWriteCopy(L"C:\\FromEnvironment\\Forced"));
    EXPECT_TRUE(list_->IsForcedWriteCopy(L"%SCANCAP_EXCLUDE_TEST_DIR%\\Forced"));
    EXPECT_FALSE(list_->IsIE10ExcludedFile(L"C:\\FromEnvironment\\Ie10"));
}

TEST_F(ExcludeListTest, RegistryEntriesAreNeverDecoded) {
    EnvVar var(L"SCANCAP_EXCLUDE_TEST_DIR", L"HKEY_CURRENT_USER");
    Load("[RegistryIgnoreList]\r\n0001=%AppData%\\Key\r\n0002=%SCANCAP_EXCLUDE_TEST_DIR%\\Key\r\n");
    EXPECT_TRUE(list_->IsRegistryKeyIgnored(L"%AppData%\\Key"));
    EXPECT_FALSE(list_->IsRegistryKeyIgnored(Decoded(L"%AppData%\\Key").c_str()));
    EXPECT_FALSE(list_->IsRegistryKeyIgnored(L"HKEY_CURRENT_USER\\Key"));
}

TEST_F(ExcludeListTest, AddedEntriesAreTakenLiterally) {
    list_->AddFileIgnore(L"%AppData%\\Added");
    list_->AddRegistryIgnore(L"HKEY_LOCAL_MACHINE\\FS");
    EXPECT_TRUE(list_->IsFileIgnored(L"%AppData%\\Added"));
    EXPECT_FALSE(list_->IsFileIgnored(Decoded(L"%AppData%\\Added").c_str()));
    EXPECT_TRUE(list_->IsRegistryKeyIgnored(L"HKEY_LOCAL_MACHINE\\FS"));
    EXPECT_TRUE(list_->IsRegistryKeyIgnored(L"HKEY_LOCAL_MACHINE\\fs\\x"));
    EXPECT_FALSE(list_->IsRegistryKeyIgnored(L"HKEY_LOCAL_MACHINE"));
    EXPECT_FALSE(list_->IsFileIgnored(L"HKEY_LOCAL_MACHINE\\FS"));
}

TEST_F(ExcludeListTest, ProgramFolderIsAlwaysIgnored) {
    Load("");
    const Str folder = ProgramFolder();
    EXPECT_TRUE(list_->IsFileIgnored(folder.c_str()));
    EXPECT_TRUE(list_->IsFileIgnored(Join(folder, L"\\sub\\file.txt").c_str()));
    EXPECT_FALSE(list_->IsFileIgnored(L"C:\\Windows"));
    EXPECT_FALSE(list_->IsFileIgnored(dir_.Path().c_str()));
}

TEST_F(ExcludeListTest, PackagerFolderFromTheEnvironmentIsIgnored) {
    const Str origin = dir_ / L"packager";
    EnvVar var(L"VX_ORIGIN", Join(origin, L"\\packager.exe").c_str());
    Load("[FileSystemIgnoreList]\r\n0001=C:\\Listed\r\n");
    EXPECT_TRUE(list_->IsFileIgnored(origin.c_str()));
    EXPECT_TRUE(list_->IsFileIgnored(Join(origin, L"\\x").c_str()));
    EXPECT_FALSE(list_->IsFileIgnored(dir_.Path().c_str()));
    EXPECT_TRUE(list_->IsFileIgnored(ProgramFolder().c_str()));
    EXPECT_TRUE(list_->IsFileIgnored(L"C:\\Listed"));
}

TEST_F(ExcludeListTest, LongPathsAreMatchedInFull) {
    list_->AddFileIgnore(L"C:\\Deep");
    std::wstring path = L"C:\\Deep";
    std::wstring other = L"C:\\Shallow";
    for (int i = 0; i < 200; ++i) {
        path += L"\\component";
        other += L"\\component";
    }
    EXPECT_TRUE(list_->IsFileIgnored(path.c_str()));
    EXPECT_FALSE(list_->IsFileIgnored(other.c_str()));
    list_->AddFileIgnore(other.c_str());
    EXPECT_TRUE(list_->IsFileIgnored(other.c_str()));
    EXPECT_FALSE(list_->IsFileIgnored((other.substr(0, other.size() - 1)).c_str()));
}

TEST_F(ExcludeListTest, MissingListFileIsFatal) {
    const Str missing = dir_ / L"missing.ini";
    EXPECT_EQ(FatalMessage([&] { list_->LoadListFile(missing.c_str()); }),
              "Could not find file " + Utf8(missing));
}

TEST_F(ExcludeListTest, FolderInPlaceOfTheListFileIsFatal) {
    const Str folder = dir_ / L"folder.ini";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    EXPECT_EQ(FatalMessage([&] { list_->LoadListFile(folder.c_str()); }),
              "Could not find file " + Utf8(folder));
}

TEST_F(ExcludeListTest, RelativeListFileIsReadFromTheCurrentFolder) {
    WriteList("[FileSystemIgnoreList]\r\n0001=C:\\Relative\r\n", L"relative.ini");
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(dir_.Path().c_str()));
    list_->LoadListFile(L"relative.ini");
    SetCurrentDirectoryW(previous);
    EXPECT_TRUE(list_->IsFileIgnored(L"C:\\Relative"));
}

// FindAndLoad probes; every test uses a list name of its own so that no other
// file on the machine can be found.
class FindAndLoadTest : public ExcludeListTest {
protected:
    const wchar_t* name_ = L"scancap-exclude-test.ini";
    Str Probe(const Str& path) { return Join(Join(L"Probed ", path.c_str()), L"\n"); }
    Str PerUserPath() { return Decoded(L"%AppData%\\Vendrix\\scancap-exclude-test.ini"); }
    Str LastProbes() {
        const Str program = ProgramFolder();
        Str parent = program;
        parent.SetLength(static_cast<size_t>(parent.FindLast(L'\\')));
        Str log = Probe(Join(Join(program, L"\\"), name_));
        log += Probe(Join(Join(program, L"\\..\\..\\modules\\"), name_));
        log += L"Probed ";
        log += Join(Join(parent, L"\\..\\modules\\"), name_);
        log += L"\nCould not find ";
        log += name_;
        return log;
    }
};

TEST_F(FindAndLoadTest, LogsEveryProbeWhenNothingIsFound) {
    const Str origin = dir_ / L"origin";
    EnvVar var(L"VX_ORIGIN", Join(origin, L"\\packager.exe").c_str());
    Str log;
    EXPECT_FALSE(list_->FindAndLoad(name_, log));
    Str expected = Probe(PerUserPath());
    expected += Probe(Join(Join(origin, L"\\"), name_));
    expected += LastProbes();
    EXPECT_EQ(Utf8(log), Utf8(expected));
    // Nothing was loaded, not even the program folder.
    EXPECT_FALSE(list_->IsFileIgnored(ProgramFolder().c_str()));
}

TEST_F(FindAndLoadTest, WithoutPackagerFolderFourPlacesAreProbed) {
    Str log = L"left over";
    EXPECT_FALSE(list_->FindAndLoad(name_, log));
    Str expected = Probe(PerUserPath());
    expected += LastProbes();
    EXPECT_EQ(Utf8(log), Utf8(expected));
}

TEST_F(FindAndLoadTest, PackagerFolderKeepsNoTrailingComponent) {
    // The last separator that has a character after it ends the folder, so a
    // trailing backslash takes the folder before it away too.
    EnvVar var(L"VX_ORIGIN", Join(dir_ / L"origin", L"\\").c_str());
    Str log;
    EXPECT_FALSE(list_->FindAndLoad(name_, log));
    Str expected = Probe(PerUserPath());
    expected += Probe(Join(Join(dir_.Path(), L"\\"), name_));
    expected += LastProbes();
    EXPECT_EQ(Utf8(log), Utf8(expected));
}

TEST_F(FindAndLoadTest, LoadsFromThePackagerFolder) {
    const Str origin = dir_ / L"origin";
    ASSERT_TRUE(CreateDirectoryW(origin.c_str(), nullptr));
    WriteFileBytes(Join(Join(origin, L"\\"), name_), "[FileSystemIgnoreList]\r\n0001=C:\\FromOrigin\r\n");
    EnvVar var(L"VX_ORIGIN", Join(origin, L"\\packager.exe").c_str());
    Str log;
    EXPECT_TRUE(list_->FindAndLoad(name_, log));
    EXPECT_EQ(Utf8(log), Utf8(Probe(PerUserPath())));
    EXPECT_TRUE(list_->IsFileIgnored(L"C:\\FromOrigin\\x"));
    EXPECT_TRUE(list_->IsFileIgnored(origin.c_str()));
    EXPECT_TRUE(list_->IsFileIgnored(ProgramFolder().c_str()));
}

TEST_F(FindAndLoadTest, PerUserFolderComesFirst) {
    const Str perUser = PerUserPath();
    Str vendrix = perUser;
    vendrix.SetLength(static_cast<size_t>(vendrix.FindLast(L'\\')));
    const bool createdFolder = CreateDirectoryW(vendrix.c_str(), nullptr) != 0;
    WriteFileBytes(perUser, "[FileSystemIgnoreList]\r\n0001=C:\\FromPerUser\r\n");

    const Str origin = dir_ / L"origin";
    ASSERT_TRUE(CreateDirectoryW(origin.c_str(), nullptr));
    WriteFileBytes(Join(Join(origin, L"\\"), name_), "[FileSystemIgnoreList]\r\n0001=C:\\FromOrigin\r\n");
    EnvVar var(L"VX_ORIGIN", Join(origin, L"\\packager.exe").c_str());

    Str log;
    const bool found = list_->FindAndLoad(name_, log);
    DeleteFileW(perUser.c_str());
    if (createdFolder) RemoveDirectoryW(vendrix.c_str());

    EXPECT_TRUE(found);
    EXPECT_EQ(Utf8(log), "");
    EXPECT_TRUE(list_->IsFileIgnored(L"C:\\FromPerUser"));
    EXPECT_FALSE(list_->IsFileIgnored(L"C:\\FromOrigin"));
}

TEST_F(FindAndLoadTest, FolderWithTheListNameIsFoundAndRefused) {
    const Str origin = dir_ / L"origin";
    ASSERT_TRUE(CreateDirectoryW(origin.c_str(), nullptr));
    const Str folder = Join(Join(origin, L"\\"), name_);
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    EnvVar var(L"VX_ORIGIN", Join(origin, L"\\packager.exe").c_str());
    Str log;
    EXPECT_EQ(FatalMessage([&] { list_->FindAndLoad(name_, log); }), "Could not find file " + Utf8(folder));
}


// The list shipped beside the program (the test prefix holds the distribution
// in C:\scancap).
class ShippedListTest : public ExcludeListTest {
protected:
    const wchar_t* file_ = L"C:\\scancap\\Snapshot.ini";

    // The raw "key=value" lines of one section.
    std::vector<std::pair<std::wstring, std::wstring>> Section(const wchar_t* name) {
        std::vector<wchar_t> buffer(65536);
        DWORD n = GetPrivateProfileSectionW(name, buffer.data(), static_cast<DWORD>(buffer.size()), file_);
        std::vector<std::pair<std::wstring, std::wstring>> lines;
        for (const wchar_t* p = buffer.data(); p < buffer.data() + n && *p; p += wcslen(p) + 1) {
            std::wstring line = p;
            size_t eq = line.find(L'=');
            lines.emplace_back(line.substr(0, eq), eq == std::wstring::npos ? L"" : line.substr(eq + 1));
        }
        return lines;
    }
};

TEST_F(ShippedListTest, EverySectionIsNumberedWithoutGaps) {
    ASSERT_NE(GetFileAttributesW(file_), INVALID_FILE_ATTRIBUTES);
    const wchar_t* sections[] = {L"RegistryIgnoreList", L"FileSystemIgnoreList", L"ForcedWriteCopyLocations",
                                 L"IE6ToIE7UpgradeFileLocations", L"IE6ToIE7UpgradeRegistryLocations",
                                 L"IE11UpgradeFileLocations", L"IE11ExcludeFileLocations",
                                 L"IE10ExcludeFileLocations"};
    for (const wchar_t* section : sections) {
        const auto lines = Section(section);
        EXPECT_FALSE(lines.empty()) << Utf8(section);
        for (size_t i = 0; i < lines.size(); ++i) {
            wchar_t key[16];
            swprintf(key, 16, L"%04d", static_cast<int>(i + 1));
            EXPECT_EQ(Utf8(lines[i].first.c_str()), Utf8(key)) << Utf8(section);
            EXPECT_FALSE(lines[i].second.empty()) << Utf8(section) << " " << Utf8(key);
            EXPECT_LT(lines[i].second.size(), 260u) << Utf8(lines[i].second.c_str());
        }
    }
}

TEST_F(ShippedListTest, NoIgnoreEntryLiesBelowAnother) {
    // A longer entry below a shorter one would narrow the shorter one to that
    // single branch.
    for (const wchar_t* section : {L"RegistryIgnoreList", L"FileSystemIgnoreList"}) {
        const auto lines = Section(section);
        for (const auto& outer : lines) {
            for (const auto& inner : lines) {
                const std::wstring prefix = outer.second + L"\\";
                EXPECT_FALSE(inner.second.size() > prefix.size() &&
                             _wcsnicmp(inner.second.c_str(), prefix.c_str(), prefix.size()) == 0)
                    << Utf8(inner.second.c_str()) << " lies below " << Utf8(outer.second.c_str());
            }
        }
    }
}

TEST_F(ShippedListTest, IgnoresMachineNoiseButNotWhatInstallersWrite) {
    list_->LoadListFile(file_);
    const Str windows = Decoded(L"%SystemRoot%");
    const Str programFiles = Decoded(L"%ProgramFilesDir%");
    const Str temp = Decoded(L"%Temp%");

    EXPECT_TRUE(list_->IsFileIgnored(L"C:\\pagefile.sys"));
    EXPECT_TRUE(list_->IsFileIgnored(L"c:\\hiberfil.sys"));
    EXPECT_TRUE(list_->IsFileIgnored(L"C:\\$Recycle.Bin\\S-1-5-21-1\\$R1.txt"));
    EXPECT_TRUE(list_->IsFileIgnored(L"D:\\System Volume Information"));
    EXPECT_TRUE(list_->IsFileIgnored(L"C:\\Config.Msi\\1a2b.rbs"));
    EXPECT_TRUE(list_->IsFileIgnored(Join(windows, L"\\Temp\\x.tmp").c_str()));
    EXPECT_TRUE(list_->IsFileIgnored(Join(windows, L"\\Prefetch\\SETUP.EXE-1234.pf").c_str()));
    EXPECT_TRUE(list_->IsFileIgnored(Join(windows, L"\\SoftwareDistribution\\Download").c_str()));
    EXPECT_TRUE(list_->IsFileIgnored(Join(windows, L"\\Logs\\CBS\\CBS.log").c_str()));
    EXPECT_TRUE(list_->IsFileIgnored(Join(windows, L"\\WinSxS\\Temp\\x").c_str()));
    EXPECT_TRUE(list_->IsFileIgnored(Join(windows, L"\\setupact.log").c_str()));
    EXPECT_TRUE(list_->IsFileIgnored(Join(windows, L"\\System32\\config\\SOFTWARE").c_str()));
    EXPECT_TRUE(list_->IsFileIgnored(Join(temp, L"\\setup-1234\\setup.exe").c_str()));
    EXPECT_TRUE(list_->IsFileIgnored(L"C:\\Users\\someone\\AppData\\Local\\Temp\\x"));
    EXPECT_TRUE(list_->IsFileIgnored(Decoded(L"%Internet Cache%").c_str()));

    EXPECT_FALSE(list_->IsFileIgnored(L"C:\\"));
    EXPECT_FALSE(list_->IsFileIgnored(windows.c_str()));
    EXPECT_FALSE(list_->IsFileIgnored(Join(windows, L"\\System32").c_str()));
    EXPECT_FALSE(list_->IsFileIgnored(Join(windows, L"\\System32\\drivers").c_str()));
    EXPECT_FALSE(list_->IsFileIgnored(Join(windows, L"\\Installer").c_str()));
    EXPECT_FALSE(list_->IsFileIgnored(Join(windows, L"\\WinSxS\\amd64_vendor.runtime_1").c_str()));
    EXPECT_FALSE(list_->IsFileIgnored(Join(windows, L"\\Fonts").c_str()));
    EXPECT_FALSE(list_->IsFileIgnored(Join(programFiles, L"\\Vendor\\App\\app.exe").c_str()));
    EXPECT_FALSE(list_->IsFileIgnored(Decoded(L"%AppData%\\Vendor").c_str()));
    EXPECT_FALSE(list_->IsFileIgnored(Decoded(L"%Common AppData%\\Vendor").c_str()));
    EXPECT_FALSE(list_->IsFileIgnored(Decoded(L"%Local AppData%\\Vendor").c_str()));
    EXPECT_FALSE(list_->IsFileIgnored(Decoded(L"%Common Programs%\\Vendor\\App.lnk").c_str()));

    EXPECT_TRUE(list_->IsRegistryKeyIgnored(L"HKEY_LOCAL_MACHINE\\HARDWARE\\DESCRIPTION"));
    EXPECT_TRUE(list_->IsRegistryKeyIgnored(L"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\PCI"));
    EXPECT_TRUE(list_->IsRegistryKeyIgnored(L"HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Enum"));
    EXPECT_TRUE(list_->IsRegistryKeyIgnored(L"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Svc\\Enum"));
    EXPECT_TRUE(list_->IsRegistryKeyIgnored(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Cryptography\\RNG"));
    EXPECT_TRUE(list_->IsRegistryKeyIgnored(
        L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib\\009"));
    EXPECT_TRUE(list_->IsRegistryKeyIgnored(L"HKEY64_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Tracing\\setup_RASAPI32"));
    EXPECT_TRUE(list_->IsRegistryKeyIgnored(
        L"HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\UserAssist\\{GUID}\\Count"));
    EXPECT_TRUE(list_->IsRegistryKeyIgnored(L"HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\Shell\\Bags\\1"));
    EXPECT_TRUE(list_->IsRegistryKeyIgnored(
        L"HKEY_USERS\\S-1-5-20\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections"));

    EXPECT_FALSE(list_->IsRegistryKeyIgnored(L"HKEY_LOCAL_MACHINE"));
    EXPECT_FALSE(list_->IsRegistryKeyIgnored(L"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Svc"));
    EXPECT_FALSE(list_->IsRegistryKeyIgnored(L"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager"));
    EXPECT_FALSE(list_->IsRegistryKeyIgnored(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.txt"));
    EXPECT_FALSE(list_->IsRegistryKeyIgnored(
        L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\App"));
    EXPECT_FALSE(list_->IsRegistryKeyIgnored(
        L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products"));
    EXPECT_FALSE(list_->IsRegistryKeyIgnored(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Vendor\\App"));
    EXPECT_FALSE(list_->IsRegistryKeyIgnored(L"HKEY_CURRENT_USER\\Software\\Vendor\\App"));
    EXPECT_FALSE(list_->IsRegistryKeyIgnored(L"HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"));

    EXPECT_TRUE(list_->IsForcedWriteCopy(Join(windows, L"\\Fonts").c_str()));
    EXPECT_TRUE(list_->IsForcedWriteCopy(L"HKEY_CURRENT_USER\\Software\\Classes"));
    EXPECT_FALSE(list_->IsForcedWriteCopy(Join(programFiles, L"\\Vendor").c_str()));
}

}  // namespace
}  // namespace scancap
