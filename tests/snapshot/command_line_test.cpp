#include "snapshot/command_line.h"

#include "common/testing.h"
#include "support/exclude_list.h"
#include "support/handles.h"

#include <gtest/gtest.h>
#include <sddl.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace scancap {
namespace {

using testing::TempDir;
using testing::Utf8;

// The usage text as the program prints it, with the message in place.
std::string Usage(const std::string& message) {
    return "Error processing command-line arguments: " + message +
           "\n"
           "Usage:\n"
           "scancap.exe PreScanFileName.snapshot [BaseDir1]...[BaseDirN] [BaseReg1]...[BaseRegN]\n"
           "scancap.exe PreScanFileName.snapshot PostScanFileName.snapshot OutDir [-Config ConfigFileName]\n"
           "scancap.exe PreScanFileName.snapshot -Print\n"
           "scancap.exe PreScanFileName.snapshot -SuggestName PostScanFileName.snapshot\n"
           "scancap.exe PreScanFileName.snapshot -Diff PostScanFileName.snapshot OutDir [-Config ConfigFileName] "
           "[-Quiet]\n"
           "scancap.exe PreScanFileName.snapshot -DiffPrint PostScanFileName.snapshot [-Config ConfigFileName] "
           "[-Quiet]\n"
           "scancap.exe PreScanFileName.snapshot -Config ConfigFileName [BaseDir1]...[BaseDirN] "
           "[BaseReg1]...[BaseRegN]\n"
           "scancap.exe PreScanFileName.snapshot -SuggestProject PostScanFileName.snapshot OutputTemplate.ini\n"
           "scancap.exe OutputTemplate.ini -GenerateProject OutDir [-Config ConfigFileName]\n"
           "scancap.exe CaptureFolderPath -installnative [-printlog]\n"
           "  see help manual for examples\n";
}

struct Parsed {
    RunOptions options;
    bool failed = false;
    std::string error;
};

// Runs the argument rules on "scancap.exe" followed by `args`.
std::unique_ptr<Parsed> Parse(std::initializer_list<const wchar_t*> args) {
    std::vector<const wchar_t*> argv{L"scancap.exe"};
    argv.insert(argv.end(), args.begin(), args.end());
    auto parsed = std::make_unique<Parsed>();
    try {
        ParseArguments(static_cast<int>(argv.size()), argv.data(), parsed->options);
    } catch (const Str& message) {
        parsed->failed = true;
        parsed->error = Utf8(message);
    }
    return parsed;
}

std::vector<std::string> Bases(const RunOptions& options) {
    std::vector<std::string> bases;
    for (const Str& base : options.bases) bases.push_back(Utf8(base));
    return bases;
}

const std::vector<std::string> kDefaultBases{"c:\\", "HKEY_LOCAL_MACHINE", "HKEY_USERS"};

#define EXPECT_USAGE_ERROR(parsed, message)      \
    do {                                         \
        EXPECT_TRUE((parsed)->failed);           \
        EXPECT_EQ((parsed)->error, Usage(message)); \
    } while (0)

TEST(ParseArgumentsTest, NoArgumentAtAll) {
    EXPECT_USAGE_ERROR(Parse({}), "Expected Snapshot capture filename as first parameter");
}

TEST(ParseArgumentsTest, SnapshotAloneScansTheDefaultBases) {
    auto p = Parse({L"pre.snapshot"});
    ASSERT_FALSE(p->failed) << p->error;
    EXPECT_EQ(p->options.mode, RunMode::Scan);
    EXPECT_EQ(Utf8(p->options.preSnapshot), "pre.snapshot");
    EXPECT_EQ(Bases(p->options), kDefaultBases);
    EXPECT_TRUE(p->options.configFile.IsEmpty());
    EXPECT_FALSE(p->options.setupCapture);
    EXPECT_EQ(p->options.ieSelection, -1);
}

TEST(ParseArgumentsTest, ScanFormTakesBasesAsWritten) {
    auto p = Parse({L"pre.snapshot", L"D:\\"});
    ASSERT_FALSE(p->failed) << p->error;
    EXPECT_EQ(Bases(p->options), std::vector<std::string>{"D:\\"});

    // The three-argument line: the second snapshot and the folder are bases.
    p = Parse({L"pre.snapshot", L"post.snapshot", L"Out Dir", L"HKEY_USERS\\x"});
    ASSERT_FALSE(p->failed) << p->error;
    EXPECT_EQ(p->options.mode, RunMode::Scan);
    EXPECT_EQ(Bases(p->options), (std::vector<std::string>{"post.snapshot", "Out Dir", "HKEY_USERS\\x"}));

    // Unknown words, -Quiet included, are directory bases in the scan form.
    p = Parse({L"pre.snapshot", L"-Foo", L"-Quiet", L"--"});
    ASSERT_FALSE(p->failed) << p->error;
    EXPECT_EQ(Bases(p->options), (std::vector<std::string>{"-Foo", "-Quiet", "--"}));
    EXPECT_FALSE(p->options.quiet);
}

TEST(ParseArgumentsTest, ScanFormOptions) {
    auto p = Parse({L"pre.snapshot", L"-config", L"my.ini", L"C:\\Data", L"-SETUPCAPTURE", L"HKEY_LOCAL_MACHINE"});
    ASSERT_FALSE(p->failed) << p->error;
    EXPECT_EQ(p->options.mode, RunMode::Scan);
    EXPECT_EQ(Utf8(p->options.configFile), "my.ini");
    EXPECT_TRUE(p->options.setupCapture);
    EXPECT_EQ(Bases(p->options), (std::vector<std::string>{"C:\\Data", "HKEY_LOCAL_MACHINE"}));

    // Only options and no base: the defaults apply.
    p = Parse({L"pre.snapshot", L"-Config", L"my.ini"});
    ASSERT_FALSE(p->failed) << p->error;
    EXPECT_EQ(Bases(p->options), kDefaultBases);

    EXPECT_USAGE_ERROR(Parse({L"pre.snapshot", L"C:\\", L"-Config"}), "Expected ConfigFilename after -Config");
    EXPECT_USAGE_ERROR(Parse({L"pre.snapshot", L"C:\\", L"-"}), "Unknown parameter or incorrect syntax");
}

TEST(ParseArgumentsTest, KeywordsIgnoreCaseButMatchWholeArguments) {
    auto p = Parse({L"pre.snapshot", L"-print"});
    ASSERT_FALSE(p->failed) << p->error;
    EXPECT_EQ(p->options.mode, RunMode::Print);
    EXPECT_EQ(Utf8(p->options.preSnapshot), "pre.snapshot");

    p = Parse({L"pre.snapshot", L"-Printer"});
    ASSERT_FALSE(p->failed) << p->error;
    EXPECT_EQ(p->options.mode, RunMode::Scan);
    EXPECT_EQ(Bases(p->options), std::vector<std::string>{"-Printer"});
}

TEST(ParseArgumentsTest, PrintTakesNothingMore) {
    EXPECT_USAGE_ERROR(Parse({L"x.snapshot", L"-Print", L"extra"}), "Too many arguments specified for -Print");
}

TEST(ParseArgumentsTest, SuggestName) {
    auto p = Parse({L"pre.snapshot", L"-SuggestName", L"post.snapshot"});
    ASSERT_FALSE(p->failed) << p->error;
    EXPECT_EQ(p->options.mode, RunMode::SuggestName);
    EXPECT_EQ(Utf8(p->options.postSnapshot), "post.snapshot");

    EXPECT_USAGE_ERROR(Parse({L"pre.snapshot", L"-SuggestName"}),
                       "Expected PostScanFileName.snapshot Filename after -SuggestName");
    EXPECT_USAGE_ERROR(Parse({L"pre.snapshot", L"-SuggestName", L"post.snapshot", L"-Quiet"}),
                       "Too many arguments specified after -SuggestName PostScanFileName.snapshot");
}

TEST(ParseArgumentsTest, SuggestProject) {
    auto p = Parse({L"pre.snapshot", L"-SuggestProject", L"post.snapshot", L"Overview.ini"});
    ASSERT_FALSE(p->failed) << p->error;
    EXPECT_EQ(p->options.mode, RunMode::SuggestProject);
    EXPECT_EQ(Utf8(p->options.postSnapshot), "post.snapshot");
    EXPECT_EQ(Utf8(p->options.overviewFile), "Overview.ini");
    EXPECT_EQ(p->options.ieSelection, -1);
    EXPECT_FALSE(p->options.setupCapture);

    p = Parse({L"pre.snapshot", L"-SuggestProject", L"post.snapshot", L"o.ini", L"-setupcapture", L"-IESelection",
               L"2"});
    ASSERT_FALSE(p->failed) << p->error;
    EXPECT_TRUE(p->options.setupCapture);
    EXPECT_EQ(p->options.ieSelection, 2);

    const std::string expectedTwo = "Expected [PostScanFileName.snapshot] [ProjectOverview.ini] after -SuggestProject";
    EXPECT_USAGE_ERROR(Parse({L"pre.snapshot", L"-SuggestProject"}), expectedTwo);
    EXPECT_USAGE_ERROR(Parse({L"pre.snapshot", L"-SuggestProject", L"post.snapshot"}), expectedTwo);
    EXPECT_USAGE_ERROR(Parse({L"pre.snapshot", L"-SuggestProject", L"post.snapshot", L"o.ini", L"-Quiet"}),
                       "Too many arguments specified after -SuggestProject");
}

TEST(ParseArgumentsTest, IeSelectionIsAWholeNumberFromZeroToTwo) {
    auto withSelection = [](const wchar_t* value) {
        return Parse({L"pre.snapshot", L"-SuggestProject", L"post.snapshot", L"o.ini", L"-IESelection", value});
    };
    const std::string refused = "-IESelection should be followed by a number 0-2";
    for (const wchar_t* bad : {L"3", L"1x", L"-1", L"x", L"2 "}) {
        SCOPED_TRACE(Utf8(bad));
        EXPECT_USAGE_ERROR(withSelection(bad), refused);
    }
    for (auto [text, value] : {std::pair{L"0", 0}, std::pair{L"1", 1}, std::pair{L"2", 2}, std::pair{L"", 0},
                               std::pair{L"02", 2}}) {
        SCOPED_TRACE(Utf8(text));
        auto p = withSelection(text);
        ASSERT_FALSE(p->failed) << p->error;
        EXPECT_EQ(p->options.ieSelection, value);
    }
    EXPECT_USAGE_ERROR(Parse({L"pre.snapshot", L"-SuggestProject", L"post.snapshot", L"o.ini", L"-IESelection"}),
                       refused);
}

TEST(ParseArgumentsTest, Diff) {
    auto p = Parse({L"pre.snapshot", L"-Diff", L"post.snapshot", L"C:\\Out"});
    ASSERT_FALSE(p->failed) << p->error;
    EXPECT_EQ(p->options.mode, RunMode::Diff);
    EXPECT_EQ(Utf8(p->options.preSnapshot), "pre.snapshot");
    EXPECT_EQ(Utf8(p->options.postSnapshot), "post.snapshot");
    EXPECT_EQ(Utf8(p->options.outputDir), "C:\\Out");
    EXPECT_FALSE(p->options.quiet);
    EXPECT_EQ(Bases(p->options), kDefaultBases);

    p = Parse({L"pre.snapshot", L"-diff", L"post.snapshot", L"C:\\Out", L"-QUIET", L"-SetupCapture", L"-Config",
               L"c.ini"});
    ASSERT_FALSE(p->failed) << p->error;
    EXPECT_TRUE(p->options.quiet);
    EXPECT_TRUE(p->options.setupCapture);
    EXPECT_EQ(Utf8(p->options.configFile), "c.ini");

    EXPECT_USAGE_ERROR(Parse({L"pre.snapshot", L"-Diff"}),
                       "Expected NewEnvironment.snapshot Filename after -diff/-diffprint");
    EXPECT_USAGE_ERROR(Parse({L"pre.snapshot", L"-Diff", L"post.snapshot"}),
                       "Expected OutputDirectory following -diff snapshot2");
}

TEST(ParseArgumentsTest, DiffPrintHasNoOutputDirectory) {
    auto p = Parse({L"pre.snapshot", L"-DiffPrint", L"post.snapshot"});
    ASSERT_FALSE(p->failed) << p->error;
    EXPECT_EQ(p->options.mode, RunMode::DiffPrint);
    EXPECT_TRUE(p->options.outputDir.IsEmpty());

    // What would be the output directory of -Diff is an unexpected argument here.
    EXPECT_USAGE_ERROR(Parse({L"pre.snapshot", L"-DiffPrint", L"post.snapshot", L"C:\\Out"}),
                       "Too many arguments specified after -Diff/-DiffPrint, expected -Config, -Quiet, no "
                       "parameters: found C:\\Out");
    EXPECT_USAGE_ERROR(Parse({L"pre.snapshot", L"-DiffPrint"}),
                       "Expected NewEnvironment.snapshot Filename after -diff/-diffprint");
}

TEST(ParseArgumentsTest, DiffConfigMustComeLast) {
    EXPECT_USAGE_ERROR(Parse({L"pre.snapshot", L"-Diff", L"post.snapshot", L"out", L"-Config", L"c.ini", L"-Quiet"}),
                       "Too many arguments specified for -Diff/-DiffPrint");
    EXPECT_USAGE_ERROR(Parse({L"pre.snapshot", L"-Diff", L"post.snapshot", L"out", L"-Config"}),
                       "Expected ConfigFilename after -Config");
    auto p = Parse({L"pre.snapshot", L"-Diff", L"post.snapshot", L"out", L"-Quiet", L"-Config", L"c.ini"});
    ASSERT_FALSE(p->failed) << p->error;
    EXPECT_TRUE(p->options.quiet);
    EXPECT_EQ(Utf8(p->options.configFile), "c.ini");
    EXPECT_USAGE_ERROR(Parse({L"pre.snapshot", L"-DiffPrint", L"post.snapshot", L"-Quiet", L"-Bogus"}),
                       "Too many arguments specified after -Diff/-DiffPrint, expected -Config, -Quiet, no "
                       "parameters: found -Bogus");
}

class GenerateProjectTest : public ::testing::Test {
protected:
    void WriteOverview(const std::string& text) { testing::WriteFileBytes(overview_, text); }
    Str FullOverviewPath() const {
        wchar_t full[1024];
        DWORD n = GetFullPathNameW(overview_.c_str(), 1024, full, nullptr);
        return Str(full, n);
    }

    TempDir dir_;
    Str overview_ = dir_ / L"Overview.ini";
};

TEST_F(GenerateProjectTest, ReadsTheSnapshotsFromTheOverview) {
    WriteOverview("[BuildOptions]\r\nOriginalSnapshot=C:\\caps\\before.snapshot\r\n"
                  "DestinationSnapshot=C:\\caps\\after.snapshot\r\n");
    auto p = Parse({overview_.c_str(), L"-GenerateProject", L"C:\\Project"});
    ASSERT_FALSE(p->failed) << p->error;
    EXPECT_EQ(p->options.mode, RunMode::Diff);
    EXPECT_EQ(Utf8(p->options.templatePath), Utf8(FullOverviewPath()));
    EXPECT_EQ(Utf8(p->options.preSnapshot), "C:\\caps\\before.snapshot");
    EXPECT_EQ(Utf8(p->options.postSnapshot), "C:\\caps\\after.snapshot");
    EXPECT_EQ(Utf8(p->options.outputDir), "C:\\Project");
    EXPECT_FALSE(p->options.setupCapture);

    // One more argument may follow: -SetupCapture; what follows it is ignored.
    p = Parse({overview_.c_str(), L"-generateproject", L"C:\\Project", L"-SetupCapture", L"-Config", L"x"});
    ASSERT_FALSE(p->failed) << p->error;
    EXPECT_TRUE(p->options.setupCapture);
    EXPECT_TRUE(p->options.configFile.IsEmpty());

    EXPECT_USAGE_ERROR(Parse({overview_.c_str(), L"-GenerateProject", L"C:\\Project", L"-Config", L"c.ini"}),
                       "Unexpected argument specified for -GenerateProject");
    EXPECT_USAGE_ERROR(Parse({overview_.c_str(), L"-GenerateProject"}),
                       "Expected OutputDirectory following -diff PostScanFileName.snapshot");
}

TEST_F(GenerateProjectTest, OverviewWithoutSnapshotEntries) {
    WriteOverview("[BuildOptions]\r\nDestinationSnapshot=after.snapshot\r\n");
    std::string full = Utf8(FullOverviewPath());
    EXPECT_USAGE_ERROR(Parse({overview_.c_str(), L"-GenerateProject", L"C:\\Project"}),
                       full + " does not have entry [BuildOptions]->OriginalSnapshot");

    WriteOverview("[BuildOptions]\r\nOriginalSnapshot=before.snapshot\r\n");
    EXPECT_USAGE_ERROR(Parse({overview_.c_str(), L"-GenerateProject", L"C:\\Project"}),
                       full + " does not have entry [BuildOptions]->DestinationSnapshot");
}

TEST(VersionArgumentTest, AnyArgumentButTheProgramName) {
    auto has = [](std::initializer_list<const wchar_t*> args) {
        std::vector<const wchar_t*> argv(args);
        return HasVersionArgument(static_cast<int>(argv.size()), argv.data());
    };
    EXPECT_TRUE(has({L"scancap.exe", L"a", L"b", L"-VERSION"}));
    EXPECT_TRUE(has({L"scancap.exe", L"-version", L"-Print", L"extra"}));
    EXPECT_TRUE(has({L"scancap.exe", L"-Version"}));
    EXPECT_FALSE(has({L"-Version"}));
    EXPECT_FALSE(has({L"scancap.exe", L"-Versions", L"Version", L"--Version"}));
}

// Records the ignores the hive rule asks for.
class RecordingExcludeList : public ExcludeList {
public:
    std::vector<std::string> ignored;

    void LoadListFile(const wchar_t*) override {}
    bool FindAndLoad(const wchar_t*, Str&) override { return true; }
    bool IsRegistryKeyIgnored(const wchar_t*) override { return false; }
    bool IsFileIgnored(const wchar_t*) override { return false; }
    bool IsForcedWriteCopy(const wchar_t*) override { return false; }
    void AddRegistryIgnore(const wchar_t* keyPath) override { ignored.push_back(Utf8(keyPath)); }
    void AddFileIgnore(const wchar_t*) override {}
    bool IsIE6To7UpgradeRegistryLocation(const wchar_t*) override { return false; }
    bool IsIE6To7UpgradeFileLocation(const wchar_t*) override { return false; }
    bool IsIE10ExcludedFile(const wchar_t*) override { return false; }
    bool IsIE11UpgradeFileLocation(const wchar_t*) override { return false; }
    bool IsIE11ExcludedFile(const wchar_t*) override { return false; }
};

class CurrentUserHiveTest : public ::testing::Test {
protected:
    void Run(std::initializer_list<const wchar_t*> bases) {
        auto list = std::make_unique<RecordingExcludeList>();
        recorder_ = list.get();
        options_.excludeList = std::move(list);
        for (const wchar_t* base : bases) options_.bases.emplace_back(base);
        CaptureCurrentUserHive(options_, Str(L"HKEY_USERS\\S-1-5-21-7"), Str(L"HKEY_USERS\\S-1-5-21-7_Classes"));
    }

    RunOptions options_;
    RecordingExcludeList* recorder_ = nullptr;
};

TEST_F(CurrentUserHiveTest, AllUsersIgnoresBothKeysAndAddsCurrentUser) {
    Run({L"c:\\", L"HKEY_LOCAL_MACHINE", L"hkey_users"});
    EXPECT_EQ(recorder_->ignored,
              (std::vector<std::string>{"HKEY_USERS\\S-1-5-21-7", "HKEY_USERS\\S-1-5-21-7_Classes"}));
    EXPECT_EQ(Bases(options_), (std::vector<std::string>{"c:\\", "HKEY_LOCAL_MACHINE", "hkey_users",
                                                         "HKEY_CURRENT_USER"}));
}

TEST_F(CurrentUserHiveTest, OneOwnKeyIgnoresOnlyThatKey) {
    Run({L"hkey_users\\s-1-5-21-7_classes"});
    EXPECT_EQ(recorder_->ignored, std::vector<std::string>{"HKEY_USERS\\S-1-5-21-7_Classes"});
    EXPECT_EQ(Bases(options_), (std::vector<std::string>{"hkey_users\\s-1-5-21-7_classes", "HKEY_CURRENT_USER"}));
}

TEST_F(CurrentUserHiveTest, CurrentUserIsAddedOnceAndComparedExactly) {
    Run({L"HKEY_CURRENT_USER", L"HKEY_USERS\\S-1-5-21-7", L"HKEY_USERS"});
    EXPECT_EQ(recorder_->ignored, (std::vector<std::string>{"HKEY_USERS\\S-1-5-21-7", "HKEY_USERS\\S-1-5-21-7",
                                                            "HKEY_USERS\\S-1-5-21-7_Classes"}));
    EXPECT_EQ(options_.bases.size(), 3u);
}

TEST_F(CurrentUserHiveTest, CurrentUserInAnotherCaseIsNotTheSameBase) {
    Run({L"hkey_current_user", L"HKEY_USERS"});
    EXPECT_EQ(Bases(options_), (std::vector<std::string>{"hkey_current_user", "HKEY_USERS", "HKEY_CURRENT_USER"}));
}

TEST_F(CurrentUserHiveTest, OtherBasesChangeNothing) {
    Run({L"c:\\", L"HKEY_USERS\\S-1-5-21-77", L"HKEY_USERS\\.DEFAULT", L"HKEY_LOCAL_MACHINE"});
    EXPECT_TRUE(recorder_->ignored.empty());
    EXPECT_EQ(options_.bases.size(), 4u);
}

TEST(CurrentUserSidTest, MatchesTheProcessToken) {
    KernelHandle token;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()));
    BYTE buffer[512];
    DWORD size = 0;
    ASSERT_TRUE(GetTokenInformation(token.get(), TokenUser, buffer, sizeof(buffer), &size));
    wchar_t* text = nullptr;
    ASSERT_TRUE(ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text));
    LocalMem owner(text);
    std::string expected = Utf8(text);

    EXPECT_EQ(Utf8(CurrentUserSidString()), expected);
    EXPECT_EQ(CurrentUserSidString().c_str(), CurrentUserSidString().c_str()) << "computed once";
    EXPECT_EQ(expected.rfind("S-1-5-", 0), 0u);
}

TEST(LoadConfigurationTest, ConfigFileIsLoadedAndTheFsKeyIgnored) {
    TempDir dir;
    Str config = dir / L"list.ini";
    testing::WriteFileBytes(config, "[RegistryIgnoreList]\r\n0001=HKEY_LOCAL_MACHINE\\SOFTWARE\\Noise\r\n");
    RunOptions options;
    options.configFile = config;
    LoadConfiguration(options);
    ASSERT_NE(options.excludeList, nullptr);
    EXPECT_TRUE(options.excludeList->IsRegistryKeyIgnored(L"HKEY_LOCAL_MACHINE\\FS"));
    EXPECT_TRUE(options.excludeList->IsRegistryKeyIgnored(L"HKEY_LOCAL_MACHINE\\FS\\Below"));
    EXPECT_TRUE(options.excludeList->IsRegistryKeyIgnored(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Noise"));
    EXPECT_FALSE(options.excludeList->IsRegistryKeyIgnored(L"HKEY_LOCAL_MACHINE\\SOFTWARE"));
}

TEST(LoadConfigurationTest, MissingConfigFileIsNotAUsageError) {
    TempDir dir;
    RunOptions options;
    options.configFile = dir / L"absent.ini";
    try {
        LoadConfiguration(options);
        FAIL() << "no error";
    } catch (const Str& message) {
        EXPECT_EQ(Utf8(message), "Could not find file " + Utf8(options.configFile));
    }
}

}  // namespace
}  // namespace scancap
