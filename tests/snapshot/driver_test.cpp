#include "snapshot/driver.h"

#include "common/testing.h"
#include "suggest/ie_store.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace scancap {
namespace {

using testing::Utf8;

TEST(NativeInstallLineTest, KeywordSecondAndPrintLogOnlyAsTheLastOfFour) {
    const struct {
        std::vector<const wchar_t*> args;
        const char* expected;  // "native", "native+log" or "no"
    } rows[] = {
        {{L"C:\\Capture", L"-InstallNative"}, "native"},
        {{L"C:\\Capture", L"-installnative", L"anything", L"more"}, "native"},
        {{L"C:\\Capture", L"-installnative", L"-PRINTLOG"}, "native+log"},
        {{L"C:\\Capture", L"-installnative", L"-printlog", L"extra"}, "native"},
        {{L"C:\\Capture", L"-installnative", L"-log"}, "native"},
        {{L"C:\\Capture"}, "no"},
        {{L"-installnative"}, "no"},
        {{L"C:\\Capture", L"-installnativeX"}, "no"},
        {{L"C:\\Capture", L"-Print", L"-installnative"}, "no"},
    };
    for (const auto& r : rows) {
        std::vector<const wchar_t*> argv{L"scancap.exe"};
        argv.insert(argv.end(), r.args.begin(), r.args.end());
        bool printLog = true;  // must be cleared when not set
        bool native = IsNativeInstallLine(static_cast<int>(argv.size()), argv.data(), printLog);
        std::string got = native ? (printLog ? "native+log" : "native") : "no";
        EXPECT_EQ(got, r.expected) << Utf8(argv.back());
    }
}

TEST(PackageIniProbeMessageTest, TrailingSpaceNamesTheDirectory) {
    EXPECT_EQ(Utf8(PackageIniProbeMessage(Str(L"C:\\Out "), Str(L"C:\\Out \\Package.ini"))),
              "C:\\Out  has trailing space");
    EXPECT_EQ(Utf8(PackageIniProbeMessage(Str(L"C:\\Out"), Str(L"C:\\Out\\Package.ini"))),
              "Could not open C:\\Out\\Package.ini for writing");
    EXPECT_EQ(Utf8(PackageIniProbeMessage(Str(L" C:\\Out\t"), Str(L" C:\\Out\t\\Package.ini"))),
              "Could not open  C:\\Out\t\\Package.ini for writing");
}

TEST(UpgradeFlagsTest, EachFlagFromThePairOfVersions) {
    const struct {
        const wchar_t* pre;
        const wchar_t* post;
        const char* flags;  // 6To7, 7To9, To10, To11
    } cases[] = {
        {L"6.0.2900", L"7.0.5730", "1100"}, {L"5.0", L"7.0", "0100"},           {L"6.0", L"8.0.6001", "0100"},
        {L"8.0", L"9.0.8112", "0100"},      {L"9.0", L"10.0.9200", "0010"},     {L"9.11.9600", L"11.0.9600", "0001"},
        {L"11.0.9600", L"11.0.9600", "0000"}, {L"11.0", L"6.0", "0000"},
    };
    for (const auto& c : cases) {
        SnapshotStore pre, post;
        testing::BuildIeStore(pre, {{L"Version", c.pre}});
        testing::BuildIeStore(post, {{L"svcVersion", c.post}, {L"Version", L"0.0"}});
        UpgradeFlags flags{true, true, true, true};
        SetUpgradeFlags(pre, post, flags);
        std::string got{char('0' + flags.ieUpgrade6To7), char('0' + flags.ieUpgradeTo7To9),
                        char('0' + flags.ieUpgradeTo10), char('0' + flags.ieUpgradeTo11)};
        EXPECT_EQ(got, c.flags) << Utf8(c.pre) << " -> " << Utf8(c.post);
    }
}

}  // namespace
}  // namespace scancap
