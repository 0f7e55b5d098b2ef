#include "support/exclude_list.h"

#include "common/testing.h"
#include "support/folder_macros.h"
#include "support/name_encoding.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace scancap {
namespace {

using testing::TempDir;
using testing::Utf8;
using testing::WriteFileBytes;

using Query = bool (ExcludeList::*)(const wchar_t*);
constexpr Query kFiles = &ExcludeList::IsFileIgnored;
constexpr Query kKeys = &ExcludeList::IsRegistryKeyIgnored;
constexpr Query kForced = &ExcludeList::IsForcedWriteCopy;

struct Row {
    std::wstring path;
    bool expected;
};

std::wstring W(const Str& s) { return std::wstring(s.c_str(), s.Length()); }

// Sets (or, with null, removes) an environment variable for one scope.
struct EnvVar {
    const wchar_t* name;
    std::wstring old = std::wstring(32768, L'\0');
    bool had = false;
    EnvVar(const wchar_t* variable, const wchar_t* value) : name(variable) {
        DWORD n = GetEnvironmentVariableW(name, old.data(), 32768);
        had = n != 0 && n < 32768;
        old.resize(had ? n : 0);
        SetEnvironmentVariableW(name, value);
    }
    ~EnvVar() { SetEnvironmentVariableW(name, had ? old.c_str() : nullptr); }
};

std::wstring ProgramFolder() {
    wchar_t module[MAX_PATH];
    std::wstring path(module, GetModuleFileNameW(nullptr, module, MAX_PATH));
    return path.substr(0, path.rfind(L'\\'));
}

std::wstring Decoded(const wchar_t* macroPath) {
    Str out;
    DecodeProjectPath(macroPath, wcslen(macroPath), out);
    return W(out);
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

    std::wstring Dir(const wchar_t* relative) { return W(dir_ / relative); }
    void Load(const std::string& text) {
        WriteFileBytes(dir_ / L"list.ini", text);
        list_->LoadListFile((dir_ / L"list.ini").c_str());
    }
    void Expect(Query ask, std::initializer_list<Row> rows) {
        for (const Row& row : rows)
            EXPECT_EQ((list_.get()->*ask)(row.path.c_str()), row.expected) << Utf8(row.path.c_str());
    }
};

TEST_F(ExcludeListTest, BelowLeafEntriesCoverThemselvesAndEverythingBelow) {
    Expect(kFiles, {{L"C:\\", false}, {L"C:\\Windows", false}});
    Expect(kKeys, {{L"HKEY_LOCAL_MACHINE", false}});
    Expect(kForced, {{L"C:\\X", false}});

    Load("[FileSystemIgnoreList]\r\n0001=C:\\Windows\\Temp\r\n0002=D:\\P\r\n0003=D:\\P\\Q\\R\r\n"
         "0004=C:\\Trail\\\r\n");
    // Entries sharing a prefix share its nodes whatever their case; added
    // entries are taken literally.
    list_->AddFileIgnore(L"C:\\Data\\One");
    list_->AddFileIgnore(L"c:\\DATA\\Two");
    list_->AddFileIgnore(L"%AppData%\\Added");
    list_->AddFileIgnore(L"C:\\Deep");
    list_->AddRegistryIgnore(L"HKEY_LOCAL_MACHINE\\FS");
    std::wstring deep = L"C:\\Deep", shallow = L"C:\\Shallow";
    for (int i = 0; i < 200; ++i) deep += L"\\component", shallow += L"\\component";
    Expect(kFiles, {
        {L"C:\\Windows\\Temp", true}, {L"C:\\Windows\\Temp\\a\\b.txt", true}, {L"c:\\windows\\temp", true},
        {L"c:\\WINDOWS\\tEmP\\x", true}, {L"C:\\Windows", false}, {L"C:\\Windows\\Tem", false},
        {L"C:\\Windows\\Temp2", false}, {L"D:\\Windows\\Temp", false},
        {L"C:/Windows/Temp", false},  // only the backslash separates components
        // A terminal node with children matches deeper paths only through them.
        {L"D:\\P", true}, {L"D:\\P\\X", false}, {L"D:\\P\\Q", false}, {L"D:\\P\\Q\\R", true},
        {L"D:\\P\\Q\\R\\S", true}, {L"d:\\p\\q\\r\\s\\t", true}, {L"D:\\P\\Q\\X", false},
        // An entry ending in a backslash matches no ordinary path.
        {L"C:\\Trail", false}, {L"C:\\Trail\\x", false}, {L"C:\\Trail\\x\\y", false},
        {L"C:\\Data\\One\\x", true}, {L"C:\\Data\\Two\\x", true}, {L"C:\\Data", false}, {L"C:\\Data\\Three", false},
        {L"%AppData%\\Added", true}, {Decoded(L"%AppData%\\Added"), false},
        {deep, true}, {shallow, false},
        {L"HKEY_LOCAL_MACHINE\\FS", false},
    });
    Expect(kKeys, {{L"HKEY_LOCAL_MACHINE\\FS", true}, {L"HKEY_LOCAL_MACHINE\\fs\\x", true},
                   {L"HKEY_LOCAL_MACHINE", false}});
    list_->AddFileIgnore(shallow.c_str());
    Expect(kFiles, {{shallow, true}, {shallow.substr(0, shallow.size() - 1), false}});
}

TEST_F(ExcludeListTest, EachSectionFeedsOnlyItsOwnQueryAndOnlyTwoMatchBelowLeaves) {
    Load("[RegistryIgnoreList]\r\n0001=R:\\Registry\r\n"
         "[FileSystemIgnoreList]\r\n0001=R:\\Files\r\n"
         "[ForcedWriteCopyLocations]\r\n0001=R:\\Forced\r\n0002=C:\\X\r\n0003=HKEY_CURRENT_USER\\Software\\W\r\n"
         "[IE6ToIE7UpgradeFileLocations]\r\n0001=R:\\Ie6To7File\r\n"
         "[IE6ToIE7UpgradeRegistryLocations]\r\n0001=R:\\Ie6To7Key\r\n"
         "[IE11UpgradeFileLocations]\r\n0001=R:\\Ie11Upgrade\r\n"
         "[IE11ExcludeFileLocations]\r\n0001=R:\\Ie11Exclude\r\n"
         "[IE10ExcludeFileLocations]\r\n0001=R:\\Ie10Exclude\r\n");
    const std::pair<const wchar_t*, Query> queries[] = {
        {L"R:\\Registry", kKeys},
        {L"R:\\Files", kFiles},
        {L"R:\\Forced", kForced},
        {L"R:\\Ie6To7File", &ExcludeList::IsIE6To7UpgradeFileLocation},
        {L"R:\\Ie6To7Key", &ExcludeList::IsIE6To7UpgradeRegistryLocation},
        {L"R:\\Ie11Upgrade", &ExcludeList::IsIE11UpgradeFileLocation},
        {L"R:\\Ie11Exclude", &ExcludeList::IsIE11ExcludedFile},
        {L"R:\\Ie10Exclude", &ExcludeList::IsIE10ExcludedFile},
    };
    for (const auto& [entry, ask] : queries) {
        for (const auto& other : queries) {
            EXPECT_EQ((list_.get()->*ask)(other.first), entry == other.first)
                << "query for " << Utf8(entry) << " asked about " << Utf8(other.first);
        }
        // Registry and file ignore lists are below-leaf, the other six exact.
        const std::wstring below = std::wstring(entry) + L"\\Sub";
        EXPECT_EQ((list_.get()->*ask)(below.c_str()), ask == kKeys || ask == kFiles) << Utf8(below.c_str());
    }
    Expect(kForced, {{L"C:\\X", true}, {L"c:\\x", true}, {L"C:\\X\\Y", false}, {L"C:", false},
                     {L"HKEY_CURRENT_USER\\Software\\W", true}, {L"HKEY_CURRENT_USER\\Software\\W\\Sub", false}});
    Expect(kFiles, {{L"C:\\X", false}});
}

TEST_F(ExcludeListTest, WildcardsMatchWithinOneComponent) {
    for (const wchar_t* pattern :
         {L"C:\\Temp\\*.tmp", L"C:\\W\\a*b", L"C:\\Q\\a?b", L"C:\\Data\\*.*\\Cache", L"C:\\Dot\\a*.*",
          L"C:\\Logs\\log??", L"C:\\Star\\ab*", L"C:\\Mid\\a?c", L"C:\\B\\*a*a*b", L"C:\\Caf\u00e9",
          L"C:\\P\u00e4ck*\\\u00fc?", L"C:\\Users\\*\\AppData\\Local\\Temp"}) {
        list_->AddFileIgnore(pattern);
    }
    const std::wstring longName = L"C:\\B\\" + std::wstring(250, L'a');
    Expect(kFiles, {
        {L"C:\\Temp\\a.TMP", true}, {L"C:\\Temp\\.tmp", true}, {L"C:\\Temp\\x.y.tmp", true},
        {L"C:\\Temp\\a.tmp\\below", true}, {L"C:\\Temp\\sub\\a.tmp", false}, {L"C:\\Temp\\a.tmpx", false},
        {L"C:\\Temp\\a.tm", false}, {L"C:\\Temp", false},
        // "*" never crosses a slash; "?" is one character of any kind.
        {L"C:\\W\\ab", true}, {L"C:\\W\\axxb", true}, {L"C:\\W\\a/b", false}, {L"C:\\W\\ax/yb", false},
        {L"C:\\Q\\a/b", true}, {L"C:\\Q\\a//b", false},
        // The whole pattern "*.*" also matches names without a dot; "a*.*" still needs the dot.
        {L"C:\\Data\\noext\\Cache", true}, {L"C:\\Data\\a.b\\Cache\\x", true}, {L"C:\\Data\\noext\\Other", false},
        {L"C:\\Dot\\ab.c", true}, {L"C:\\Dot\\abc", false},
        // Question marks and one star left over at the end are accepted.
        {L"C:\\Logs\\log", true}, {L"C:\\Logs\\log1", true}, {L"C:\\Logs\\log12", true},
        {L"C:\\Logs\\log123", false}, {L"C:\\Logs\\lo", false},
        {L"C:\\Star\\ab", true}, {L"C:\\Star\\abcdef", true}, {L"C:\\Star\\a", false},
        {L"C:\\Mid\\abc", true}, {L"C:\\Mid\\ac", false}, {L"C:\\Mid\\abbc", false},
        // Several stars need backtracking across them.
        {L"C:\\B\\xaayab", true}, {L"C:\\B\\aab", true}, {L"C:\\B\\aaba", false}, {L"C:\\B\\ab", false},
        {longName, false}, {longName + L"b", true},
        // Comparisons use the Unicode upper case.
        {L"C:\\CAF\u00c9", true}, {L"c:\\P\u00c4CKchen\\\u00dcx", true}, {L"C:\\Cafe", false},
        {L"C:\\Pack\\\u00fcx", false},
        {L"C:\\Users\\bob\\AppData\\Local\\Temp", true}, {L"C:\\Users\\alice\\AppData\\Local\\Temp\\x\\y", true},
        {L"C:\\Users\\bob\\AppData\\Local", false}, {L"C:\\Users\\bob\\AppData\\Roaming\\Temp", false},
    });
}

TEST_F(ExcludeListTest, View64RootFallsBackToTheRootEntry) {
    Load("[RegistryIgnoreList]\r\n0001=HKEY_LOCAL_MACHINE\\Software\\Foo\r\n");
    list_->AddRegistryIgnore(L"HKEY_USERS");
    // Root names of any length are rewritten.
    list_->AddRegistryIgnore((L"HKEY_" + std::wstring(200, L'R')).c_str());
    Expect(kKeys, {
        {L"HKEY_LOCAL_MACHINE\\Software\\Foo", true}, {L"HKEY64_LOCAL_MACHINE\\Software\\Foo", true},
        {L"hkey64_local_machine\\SOFTWARE\\foo\\Bar", true}, {L"HKEY64_LOCAL_MACHINE\\Software\\Food", false},
        {L"HKEY64_LOCAL_MACHINE\\Software", false}, {L"HKEY64_LOCAL_MACHINE", false}, {L"HKEY64_", false},
        {L"HKEY64_USERS", true}, {L"HKEY64_USERS\\S-1-5-18", true},
        {L"HKEY64_" + std::wstring(200, L'r') + L"\\k", true},
    });
    // The retry belongs to the registry query alone.
    list_->AddFileIgnore(L"HKEY_X\\A");
    Expect(kFiles, {{L"HKEY64_X\\A", false}});
}

TEST_F(ExcludeListTest, ListFileReadingRules) {
    EnvVar var(L"SCANCAP_EXCLUDE_TEST_DIR", L"C:\\FromEnvironment");
    std::string text = "[FileSystemIgnoreList]\r\n0001=%ProgramFilesDir%\\Common Files\\Foo\r\n"
                       "0002=%SCANCAP_EXCLUDE_TEST_DIR%\\Files\r\n0003=C:\\Long\\" + std::string(300, 'a') + "\r\n";
    for (int i = 4; i <= 14; ++i) {
        if (i == 13) continue;  // a numbering gap ends the section
        char line[64];
        snprintf(line, sizeof line, "%04d=C:\\E%d\r\n", i, i);
        text += line;
    }
    Load(text +
         "[RegistryIgnoreList]\r\n0001=%AppData%\\Key\r\n0002=%SCANCAP_EXCLUDE_TEST_DIR%\\Key\r\n0003=\r\n"
         "0004=HKEY_CURRENT_USER\\Four\r\n"
         "[ForcedWriteCopyLocations]\r\n0001=%AppData%\\Forced\r\n0002=%SCANCAP_EXCLUDE_TEST_DIR%\\Forced\r\n"
         "[IE10ExcludeFileLocations]\r\n0001=%SCANCAP_EXCLUDE_TEST_DIR%\\Ie10\r\n"
         "[IE11ExcludeFileLocations]\r\n1=C:\\Unpadded\r\n");

    // A folder macro entry adds the literal text and the decoded path.
    const std::wstring decoded = Decoded(L"%ProgramFilesDir%\\Common Files\\Foo");
    ASSERT_NE(decoded, L"%ProgramFilesDir%\\Common Files\\Foo") << "no ProgramFilesDir macro here";
    // Values are cut at 259 characters.
    const std::wstring kept = L"C:\\Long\\" + std::wstring(259 - 8, L'a');
    Expect(kFiles, {
        {L"%ProgramFilesDir%\\Common Files\\Foo", true}, {L"%programfilesdir%\\Common Files\\Foo\\x", true},
        {decoded, true}, {decoded + L"\\bin\\a.dll", true}, {decoded + L"2", false},
        // Environment variables expand in the file ignore list only.
        {L"C:\\FromEnvironment\\Files\\x", true}, {L"%SCANCAP_EXCLUDE_TEST_DIR%\\Files", true},
        {kept, true}, {kept + L"\\x", true}, {kept + L"a", false},
        // Sections are read past ordinal nine, up to the first gap.
        {L"C:\\E4", true}, {L"C:\\E9", true}, {L"C:\\E10", true}, {L"C:\\E12", true}, {L"C:\\E14", false},
    });
    const std::wstring forced = Decoded(L"%AppData%\\Forced");
    Expect(kForced, {{L"%AppData%\\Forced", true}, {forced, true}, {forced + L"\\x", false},
                     {L"C:\\FromEnvironment\\Forced", false}, {L"%SCANCAP_EXCLUDE_TEST_DIR%\\Forced", true}});
    EXPECT_FALSE(list_->IsIE10ExcludedFile(L"C:\\FromEnvironment\\Ie10"));
    // Registry entries are never decoded; an empty value ends the section.
    Expect(kKeys, {{L"%AppData%\\Key", true}, {Decoded(L"%AppData%\\Key"), false},
                   {L"%SCANCAP_EXCLUDE_TEST_DIR%\\Key", true}, {L"C:\\FromEnvironment\\Key", false},
                   {L"HKEY_CURRENT_USER\\Four", false}});
    // Keys are four-digit numbers.
    EXPECT_FALSE(list_->IsIE11ExcludedFile(L"C:\\Unpadded"));
}

TEST_F(ExcludeListTest, ProgramAndPackagerFoldersAreAlwaysIgnored) {
    const std::wstring program = ProgramFolder();
    Load("");
    Expect(kFiles, {{program, true}, {program + L"\\sub\\file.txt", true}, {L"C:\\Windows", false},
                    {W(dir_.Path()), false}});

    const std::wstring origin = Dir(L"packager");
    EnvVar var(L"VX_ORIGIN", (origin + L"\\packager.exe").c_str());
    list_ = CreateExcludeList();
    Load("[FileSystemIgnoreList]\r\n0001=C:\\Listed\r\n");
    Expect(kFiles, {{origin, true}, {origin + L"\\x", true}, {W(dir_.Path()), false}, {program, true},
                    {L"C:\\Listed", true}});
}

TEST_F(ExcludeListTest, ListFileIsReadFromItsPathAndAnythingElseIsFatal) {
    WriteFileBytes(dir_ / L"relative.ini", "[FileSystemIgnoreList]\r\n0001=C:\\Relative\r\n");
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(dir_.Path().c_str()));
    list_->LoadListFile(L"relative.ini");
    SetCurrentDirectoryW(previous);
    EXPECT_TRUE(list_->IsFileIgnored(L"C:\\Relative"));

    const std::wstring folder = Dir(L"folder.ini");
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    for (const std::wstring& path : {Dir(L"missing.ini"), folder}) {
        EXPECT_EQ(FatalMessage([&] { list_->LoadListFile(path.c_str()); }),
                  "Could not find file " + Utf8(path.c_str()));
    }
}

// FindAndLoad probes; every test uses a list name of its own so that no other
// file on the machine can be found.
class FindAndLoadTest : public ExcludeListTest {
protected:
    const wchar_t* name_ = L"scancap-exclude-test.ini";
    std::wstring In(const std::wstring& folder) { return folder + L"\\" + name_; }
    std::wstring PerUserPath() { return Decoded(L"%AppData%\\Vendrix\\scancap-exclude-test.ini"); }
    // The log when nothing is found; originFolder empty when no packager folder is probed.
    std::wstring MissLog(const std::wstring& originFolder) {
        const std::wstring program = ProgramFolder();
        const std::wstring parent = program.substr(0, program.rfind(L'\\'));
        std::wstring log = L"Probed " + PerUserPath() + L"\n";
        if (!originFolder.empty()) log += L"Probed " + In(originFolder) + L"\n";
        log += L"Probed " + In(program) + L"\nProbed " + program + L"\\..\\..\\modules\\" + name_ + L"\n";
        log += L"Probed " + parent + L"\\..\\modules\\" + name_ + L"\nCould not find " + name_;
        return log;
    }
};

TEST_F(FindAndLoadTest, LogsEveryProbeWhenNothingIsFound) {
    const std::wstring origin = Dir(L"origin");
    const std::wstring withProgram = origin + L"\\packager.exe", withSlash = origin + L"\\";
    // The last separator that has a character after it ends the folder, so a
    // trailing backslash takes the folder before it away too.
    const std::pair<const wchar_t*, std::wstring> cases[] = {
        {nullptr, L""}, {withProgram.c_str(), origin}, {withSlash.c_str(), W(dir_.Path())}};
    for (const auto& [variable, probed] : cases) {
        EnvVar var(L"VX_ORIGIN", variable);
        Str log = L"left over";
        EXPECT_FALSE(list_->FindAndLoad(name_, log));
        EXPECT_EQ(Utf8(log), Utf8(MissLog(probed).c_str()));
    }
    // Nothing was loaded, not even the program folder.
    EXPECT_FALSE(list_->IsFileIgnored(ProgramFolder().c_str()));
}

TEST_F(FindAndLoadTest, PerUserFolderComesFirstThenThePackagerFolder) {
    const std::wstring origin = Dir(L"origin");
    ASSERT_TRUE(CreateDirectoryW(origin.c_str(), nullptr));
    WriteFileBytes(Str(In(origin).c_str()), "[FileSystemIgnoreList]\r\n0001=C:\\FromOrigin\r\n");
    EnvVar var(L"VX_ORIGIN", (origin + L"\\packager.exe").c_str());
    Str log;
    EXPECT_TRUE(list_->FindAndLoad(name_, log));
    EXPECT_EQ(Utf8(log), Utf8((L"Probed " + PerUserPath() + L"\n").c_str()));
    Expect(kFiles, {{L"C:\\FromOrigin\\x", true}, {origin, true}, {ProgramFolder(), true}});

    const std::wstring perUser = PerUserPath();
    const std::wstring vendrix = perUser.substr(0, perUser.rfind(L'\\'));
    const bool createdFolder = CreateDirectoryW(vendrix.c_str(), nullptr) != 0;
    WriteFileBytes(Str(perUser.c_str()), "[FileSystemIgnoreList]\r\n0001=C:\\FromPerUser\r\n");
    list_ = CreateExcludeList();
    log = L"left over";
    const bool found = list_->FindAndLoad(name_, log);
    DeleteFileW(perUser.c_str());
    if (createdFolder) RemoveDirectoryW(vendrix.c_str());
    EXPECT_TRUE(found);
    EXPECT_EQ(Utf8(log), "");
    Expect(kFiles, {{L"C:\\FromPerUser", true}, {L"C:\\FromOrigin", false}});

    // A folder with the list's name is found, and refused.
    const std::wstring other = Dir(L"other");
    ASSERT_TRUE(CreateDirectoryW(other.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(In(other).c_str(), nullptr));
    EnvVar otherVar(L"VX_ORIGIN", (other + L"\\packager.exe").c_str());
    EXPECT_EQ(FatalMessage([&] { list_->FindAndLoad(name_, log); }), "Could not find file " + Utf8(In(other).c_str()));
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
    // The browser-11 upgrade list ships empty: its upgrade test fires on every
    // machine that already has version 11.
    const std::pair<const wchar_t*, bool> sections[] = {
        {L"RegistryIgnoreList", true},           {L"FileSystemIgnoreList", true},
        {L"ForcedWriteCopyLocations", true},     {L"IE6ToIE7UpgradeFileLocations", true},
        {L"IE6ToIE7UpgradeRegistryLocations", true}, {L"IE11UpgradeFileLocations", false},
        {L"IE11ExcludeFileLocations", true},     {L"IE10ExcludeFileLocations", true}};
    for (const auto& [section, filled] : sections) {
        const auto lines = Section(section);
        EXPECT_EQ(lines.empty(), !filled) << Utf8(section);
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
    const std::wstring windows = Decoded(L"%SystemRoot%"), programFiles = Decoded(L"%ProgramFilesDir%");
    Expect(kFiles, {
        {L"C:\\pagefile.sys", true}, {L"c:\\hiberfil.sys", true}, {L"C:\\$Recycle.Bin\\S-1-5-21-1\\$R1.txt", true},
        {L"D:\\System Volume Information", true}, {L"C:\\Config.Msi\\1a2b.rbs", true},
        {windows + L"\\Temp\\x.tmp", true}, {windows + L"\\Prefetch\\SETUP.EXE-1234.pf", true},
        {windows + L"\\SoftwareDistribution\\Download", true}, {windows + L"\\Logs\\CBS\\CBS.log", true},
        {windows + L"\\WinSxS\\Temp\\x", true}, {windows + L"\\setupact.log", true},
        {windows + L"\\System32\\config\\SOFTWARE", true}, {Decoded(L"%Temp%\\setup-1234\\setup.exe"), true},
        {L"C:\\Users\\someone\\AppData\\Local\\Temp\\x", true}, {Decoded(L"%Internet Cache%"), true},
        {L"C:\\", false}, {windows, false}, {windows + L"\\System32", false}, {windows + L"\\System32\\drivers", false},
        {windows + L"\\Installer", false}, {windows + L"\\WinSxS\\amd64_vendor.runtime_1", false},
        {windows + L"\\Fonts", false}, {programFiles + L"\\Vendor\\App\\app.exe", false},
        {Decoded(L"%AppData%\\Vendor"), false}, {Decoded(L"%Common AppData%\\Vendor"), false},
        {Decoded(L"%Local AppData%\\Vendor"), false}, {Decoded(L"%Common Programs%\\Vendor\\App.lnk"), false},
    });
    const std::wstring hklm = L"HKEY_LOCAL_MACHINE\\", set = hklm + L"SYSTEM\\CurrentControlSet\\";
    const std::wstring ms = hklm + L"SOFTWARE\\Microsoft\\";
    const std::wstring user = L"HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\";
    Expect(kKeys, {
        {hklm + L"HARDWARE\\DESCRIPTION", true}, {set + L"Enum\\PCI", true},
        {hklm + L"SYSTEM\\ControlSet001\\Enum", true}, {set + L"Services\\Svc\\Enum", true},
        {set + L"Control\\Video\\{GUID}\\0000", true}, {ms + L"Cryptography\\RNG", true},
        {ms + L"Windows NT\\CurrentVersion\\Perflib\\009", true},
        {L"HKEY64_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Tracing\\setup_RASAPI32", true},
        {user + L"CurrentVersion\\Explorer\\UserAssist\\{GUID}\\Count", true}, {user + L"Shell\\Bags\\1", true},
        {L"HKEY_USERS\\S-1-5-20\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections", true},
        {L"HKEY_LOCAL_MACHINE", false}, {set + L"Services\\Svc", false}, {set + L"Control\\Session Manager", false},
        {hklm + L"SOFTWARE\\Classes\\.txt", false}, {ms + L"Windows\\CurrentVersion\\Uninstall\\App", false},
        {ms + L"Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products", false},
        {hklm + L"SOFTWARE\\Wow6432Node\\Vendor\\App", false}, {L"HKEY_CURRENT_USER\\Software\\Vendor\\App", false},
        {user + L"CurrentVersion\\Run", false},
    });
    Expect(kForced, {{windows + L"\\Fonts", true}, {L"HKEY_CURRENT_USER\\Software\\Classes", true},
                     {programFiles + L"\\Vendor", false}});
}

}  // namespace
}  // namespace scancap
