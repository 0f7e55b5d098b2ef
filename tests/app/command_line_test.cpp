#include "app/command_line.h"

#include "common/testing.h"
#include "support/exclude_list.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace scancap {
namespace {

using testing::TempDir;
using testing::Utf8;
using Args = std::vector<const wchar_t*>;

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

std::string Bases(const RunOptions& options) {
    std::string bases;
    for (const Str& base : options.bases) bases.append(bases.empty() ? "" : "|").append(Utf8(base));
    return bases == "c:\\|HKEY_LOCAL_MACHINE|HKEY_USERS" ? "default" : bases;
}

// Every parsed field in one line: empty texts and default flags left out.
std::string Summary(const RunOptions& o) {
    static const char* const kModes[] = {"Scan", "Diff", "DiffPrint", "Print", "SuggestName", "SuggestProject"};
    std::string s = kModes[static_cast<int>(o.mode)];
    auto field = [&s](const char* name, const Str& value) {
        if (!value.IsEmpty()) s += std::string(" ") + name + "=" + Utf8(value);
    };
    field("pre", o.preSnapshot);
    field("post", o.postSnapshot);
    field("out", o.outputDir);
    field("config", o.configFile);
    field("overview", o.overviewFile);
    field("template", o.templatePath);
    s += " bases=" + Bases(o);
    if (o.quiet) s += " quiet";
    if (o.setupCapture) s += " setup";
    if (o.ieSelection != -1) s += " ie=" + std::to_string(o.ieSelection);
    return s;
}

// Runs the argument rules on "scancap.exe" followed by `args`: the summary,
// or "error: " and the thrown message.
std::string Parse(const Args& args) {
    Args argv{L"scancap.exe"};
    argv.insert(argv.end(), args.begin(), args.end());
    RunOptions options;
    try {
        ParseArguments(static_cast<int>(argv.size()), argv.data(), options);
    } catch (const Str& message) {
        return "error: " + Utf8(message);
    }
    return Summary(options);
}

std::string Trace(const Args& args) {
    std::string t;
    for (const wchar_t* a : args) t.append("[").append(Utf8(a)).append("]");
    return t;
}

TEST(ParseArgumentsTest, AcceptedLines) {
    const struct {
        Args args;
        const char* summary;
    } rows[] = {
        {{L"pre.snapshot"}, "Scan pre=pre.snapshot bases=default"},
        {{L"pre.snapshot", L"D:\\"}, "Scan pre=pre.snapshot bases=D:\\"},
        // The three-argument line: the second snapshot and the folder are bases.
        {{L"pre.snapshot", L"post.snapshot", L"Out Dir", L"HKEY_USERS\\x"},
         "Scan pre=pre.snapshot bases=post.snapshot|Out Dir|HKEY_USERS\\x"},
        // Unknown words, -Quiet and keyword look-alikes included, are bases in the scan form.
        {{L"pre.snapshot", L"-Foo", L"-Quiet", L"--", L"-Printer"},
         "Scan pre=pre.snapshot bases=-Foo|-Quiet|--|-Printer"},
        {{L"pre.snapshot", L"-config", L"my.ini", L"C:\\Data", L"-SETUPCAPTURE", L"HKEY_LOCAL_MACHINE"},
         "Scan pre=pre.snapshot config=my.ini bases=C:\\Data|HKEY_LOCAL_MACHINE setup"},
        {{L"pre.snapshot", L"-Config", L"my.ini"}, "Scan pre=pre.snapshot config=my.ini bases=default"},
        {{L"pre.snapshot", L"-print"}, "Print pre=pre.snapshot bases=default"},
        {{L"pre.snapshot", L"-SuggestName", L"post.snapshot"},
         "SuggestName pre=pre.snapshot post=post.snapshot bases=default"},
        {{L"pre.snapshot", L"-SuggestProject", L"post.snapshot", L"Overview.ini"},
         "SuggestProject pre=pre.snapshot post=post.snapshot overview=Overview.ini bases=default"},
        {{L"pre.snapshot", L"-SuggestProject", L"post.snapshot", L"o.ini", L"-setupcapture", L"-IESelection", L"2"},
         "SuggestProject pre=pre.snapshot post=post.snapshot overview=o.ini bases=default setup ie=2"},
        {{L"pre.snapshot", L"-Diff", L"post.snapshot", L"C:\\Out"},
         "Diff pre=pre.snapshot post=post.snapshot out=C:\\Out bases=default"},
        {{L"pre.snapshot", L"-diff", L"post.snapshot", L"C:\\Out", L"-QUIET", L"-SetupCapture", L"-Config", L"c.ini"},
         "Diff pre=pre.snapshot post=post.snapshot out=C:\\Out config=c.ini bases=default quiet setup"},
        {{L"pre.snapshot", L"-Diff", L"post.snapshot", L"out", L"-Quiet", L"-Config", L"c.ini"},
         "Diff pre=pre.snapshot post=post.snapshot out=out config=c.ini bases=default quiet"},
        {{L"pre.snapshot", L"-DiffPrint", L"post.snapshot"},
         "DiffPrint pre=pre.snapshot post=post.snapshot bases=default"},
    };
    for (const auto& r : rows) EXPECT_EQ(Parse(r.args), r.summary) << Trace(r.args);
}

TEST(ParseArgumentsTest, IeSelectionIsAWholeNumberFromZeroToTwo) {
    auto withSelection = [](const wchar_t* value) {
        return Parse({L"pre.snapshot", L"-SuggestProject", L"post.snapshot", L"o.ini", L"-IESelection", value});
    };
    const std::string parsed = "SuggestProject pre=pre.snapshot post=post.snapshot overview=o.ini bases=default ie=";
    const std::pair<const wchar_t*, const char*> accepted[] = {{L"0", "0"}, {L"1", "1"}, {L"2", "2"}, {L"", "0"},
                                                               {L"02", "2"}};
    for (auto [text, value] : accepted)
        EXPECT_EQ(withSelection(text), parsed + value) << Utf8(text);
    for (const wchar_t* bad : {L"3", L"1x", L"-1", L"x", L"2 "})
        EXPECT_EQ(withSelection(bad), "error: " + Usage("-IESelection should be followed by a number 0-2")) << Utf8(bad);
}

TEST(ParseArgumentsTest, RefusedLinesGetTheUsageText) {
    const std::string suggestTwo = "Expected [PostScanFileName.snapshot] [ProjectOverview.ini] after -SuggestProject";
    const std::string diffNeedsPost = "Expected NewEnvironment.snapshot Filename after -diff/-diffprint";
    const std::string diffTooMany =
        "Too many arguments specified after -Diff/-DiffPrint, expected -Config, -Quiet, no parameters: found ";
    const struct {
        Args args;
        std::string message;
    } rows[] = {
        {{}, "Expected Snapshot capture filename as first parameter"},
        {{L"pre.snapshot", L"C:\\", L"-Config"}, "Expected ConfigFilename after -Config"},
        {{L"pre.snapshot", L"C:\\", L"-"}, "Unknown parameter or incorrect syntax"},
        {{L"x.snapshot", L"-Print", L"extra"}, "Too many arguments specified for -Print"},
        {{L"pre.snapshot", L"-SuggestName"}, "Expected PostScanFileName.snapshot Filename after -SuggestName"},
        {{L"pre.snapshot", L"-SuggestName", L"post.snapshot", L"-Quiet"},
         "Too many arguments specified after -SuggestName PostScanFileName.snapshot"},
        {{L"pre.snapshot", L"-SuggestProject"}, suggestTwo},
        {{L"pre.snapshot", L"-SuggestProject", L"post.snapshot"}, suggestTwo},
        {{L"pre.snapshot", L"-SuggestProject", L"post.snapshot", L"o.ini", L"-Quiet"},
         "Too many arguments specified after -SuggestProject"},
        {{L"pre.snapshot", L"-SuggestProject", L"post.snapshot", L"o.ini", L"-IESelection"},
         "-IESelection should be followed by a number 0-2"},
        {{L"pre.snapshot", L"-Diff"}, diffNeedsPost},
        {{L"pre.snapshot", L"-DiffPrint"}, diffNeedsPost},
        {{L"pre.snapshot", L"-Diff", L"post.snapshot"}, "Expected OutputDirectory following -diff snapshot2"},
        // What would be the output directory of -Diff is an unexpected argument here.
        {{L"pre.snapshot", L"-DiffPrint", L"post.snapshot", L"C:\\Out"}, diffTooMany + "C:\\Out"},
        {{L"pre.snapshot", L"-DiffPrint", L"post.snapshot", L"-Quiet", L"-Bogus"}, diffTooMany + "-Bogus"},
        // -Config must come last.
        {{L"pre.snapshot", L"-Diff", L"post.snapshot", L"out", L"-Config", L"c.ini", L"-Quiet"},
         "Too many arguments specified for -Diff/-DiffPrint"},
        {{L"pre.snapshot", L"-Diff", L"post.snapshot", L"out", L"-Config"}, "Expected ConfigFilename after -Config"},
    };
    for (const auto& r : rows) EXPECT_EQ(Parse(r.args), "error: " + Usage(r.message)) << Trace(r.args);
}

TEST(ParseArgumentsTest, GenerateProjectReadsTheSnapshotsFromTheOverview) {
    TempDir dir;
    Str overview = dir / L"Overview.ini";
    wchar_t full[1024];
    std::string fullPath = Utf8(full, GetFullPathNameW(overview.c_str(), 1024, full, nullptr));
    const wchar_t* ini = overview.c_str();

    testing::WriteFileBytes(overview, "[BuildOptions]\r\nOriginalSnapshot=C:\\caps\\before.snapshot\r\n"
                                      "DestinationSnapshot=C:\\caps\\after.snapshot\r\n");
    const std::string generated = "Diff pre=C:\\caps\\before.snapshot post=C:\\caps\\after.snapshot out=C:\\Project "
                                  "template=" + fullPath + " bases=default";
    EXPECT_EQ(Parse({ini, L"-GenerateProject", L"C:\\Project"}), generated);
    // One more argument may follow: -SetupCapture; what follows it is ignored.
    EXPECT_EQ(Parse({ini, L"-generateproject", L"C:\\Project", L"-SetupCapture", L"-Config", L"x"}),
              generated + " setup");
    EXPECT_EQ(Parse({ini, L"-GenerateProject", L"C:\\Project", L"-Config", L"c.ini"}),
              "error: " + Usage("Unexpected argument specified for -GenerateProject"));
    EXPECT_EQ(Parse({ini, L"-GenerateProject"}),
              "error: " + Usage("Expected OutputDirectory following -diff PostScanFileName.snapshot"));

    testing::WriteFileBytes(overview, "[BuildOptions]\r\nDestinationSnapshot=after.snapshot\r\n");
    EXPECT_EQ(Parse({ini, L"-GenerateProject", L"C:\\Project"}),
              "error: " + Usage(fullPath + " does not have entry [BuildOptions]->OriginalSnapshot"));
    testing::WriteFileBytes(overview, "[BuildOptions]\r\nOriginalSnapshot=before.snapshot\r\n");
    EXPECT_EQ(Parse({ini, L"-GenerateProject", L"C:\\Project"}),
              "error: " + Usage(fullPath + " does not have entry [BuildOptions]->DestinationSnapshot"));
}

TEST(VersionArgumentTest, AnyArgumentButTheProgramName) {
    auto has = [](Args argv) { return HasVersionArgument(static_cast<int>(argv.size()), argv.data()); };
    EXPECT_TRUE(has({L"scancap.exe", L"a", L"b", L"-VERSION"}));
    EXPECT_TRUE(has({L"scancap.exe", L"-version", L"-Print", L"extra"}));
    EXPECT_FALSE(has({L"-Version"}));
    EXPECT_FALSE(has({L"scancap.exe", L"-Versions", L"Version", L"--Version"}));
}

// Records the ignores the hive rule asks for.
class RecordingExcludeList : public ExcludeList {
public:
    std::string ignored;

    void LoadListFile(const wchar_t*) override {}
    bool FindAndLoad(const wchar_t*, Str&) override { return true; }
    bool IsRegistryKeyIgnored(const wchar_t*) override { return false; }
    bool IsFileIgnored(const wchar_t*) override { return false; }
    bool IsForcedWriteCopy(const wchar_t*) override { return false; }
    void AddRegistryIgnore(const wchar_t* keyPath) override {
        ignored.append(ignored.empty() ? "" : "|").append(Utf8(keyPath));
    }
    void AddFileIgnore(const wchar_t*) override {}
    bool IsIE6To7UpgradeRegistryLocation(const wchar_t*) override { return false; }
    bool IsIE6To7UpgradeFileLocation(const wchar_t*) override { return false; }
    bool IsIE10ExcludedFile(const wchar_t*) override { return false; }
    bool IsIE11UpgradeFileLocation(const wchar_t*) override { return false; }
    bool IsIE11ExcludedFile(const wchar_t*) override { return false; }
};

TEST(CurrentUserHiveTest, IgnoresTheUsersOwnKeysAndAddsCurrentUserOnce) {
    const struct {
        Args bases;
        const char* ignored;
        const char* after;
    } rows[] = {
        {{L"c:\\", L"HKEY_LOCAL_MACHINE", L"hkey_users"},
         "HKEY_USERS\\S-1-5-21-7|HKEY_USERS\\S-1-5-21-7_Classes",
         "c:\\|HKEY_LOCAL_MACHINE|hkey_users|HKEY_CURRENT_USER"},
        {{L"hkey_users\\s-1-5-21-7_classes"}, "HKEY_USERS\\S-1-5-21-7_Classes",
         "hkey_users\\s-1-5-21-7_classes|HKEY_CURRENT_USER"},
        {{L"HKEY_CURRENT_USER", L"HKEY_USERS\\S-1-5-21-7", L"HKEY_USERS"},
         "HKEY_USERS\\S-1-5-21-7|HKEY_USERS\\S-1-5-21-7|HKEY_USERS\\S-1-5-21-7_Classes",
         "HKEY_CURRENT_USER|HKEY_USERS\\S-1-5-21-7|HKEY_USERS"},
        // The current user in another case is not the same base.
        {{L"hkey_current_user", L"HKEY_USERS"}, "HKEY_USERS\\S-1-5-21-7|HKEY_USERS\\S-1-5-21-7_Classes",
         "hkey_current_user|HKEY_USERS|HKEY_CURRENT_USER"},
        {{L"c:\\", L"HKEY_USERS\\S-1-5-21-77", L"HKEY_USERS\\.DEFAULT", L"HKEY_LOCAL_MACHINE"}, "",
         "c:\\|HKEY_USERS\\S-1-5-21-77|HKEY_USERS\\.DEFAULT|HKEY_LOCAL_MACHINE"},
    };
    for (const auto& r : rows) {
        RunOptions options;
        auto list = std::make_unique<RecordingExcludeList>();
        RecordingExcludeList* recorder = list.get();
        options.excludeList = std::move(list);
        for (const wchar_t* base : r.bases) options.bases.emplace_back(base);
        CaptureCurrentUserHive(options, Str(L"HKEY_USERS\\S-1-5-21-7"), Str(L"HKEY_USERS\\S-1-5-21-7_Classes"));
        EXPECT_EQ(recorder->ignored, r.ignored) << Trace(r.bases);
        EXPECT_EQ(Bases(options), r.after) << Trace(r.bases);
    }
}

TEST(LoadConfigurationTest, ConfigFileIsLoadedAndTheFsKeyIgnored) {
    TempDir dir;
    RunOptions options;
    options.configFile = dir / L"list.ini";
    testing::WriteFileBytes(options.configFile,
                            "[RegistryIgnoreList]\r\n0001=HKEY_LOCAL_MACHINE\\SOFTWARE\\Noise\r\n");
    LoadConfiguration(options);
    ASSERT_NE(options.excludeList, nullptr);
    EXPECT_TRUE(options.excludeList->IsRegistryKeyIgnored(L"HKEY_LOCAL_MACHINE\\FS"));
    EXPECT_TRUE(options.excludeList->IsRegistryKeyIgnored(L"HKEY_LOCAL_MACHINE\\FS\\Below"));
    EXPECT_TRUE(options.excludeList->IsRegistryKeyIgnored(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Noise"));
    EXPECT_FALSE(options.excludeList->IsRegistryKeyIgnored(L"HKEY_LOCAL_MACHINE\\SOFTWARE"));

    // A missing file is no usage error.
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
