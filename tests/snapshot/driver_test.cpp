#include "snapshot/driver.h"

#include "common/testing.h"
#include "suggest/ie_store.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

namespace scancap {
namespace {

using testing::Utf8;

struct NativeLine {
    bool native;
    bool printLog;
};

NativeLine Classify(std::initializer_list<const wchar_t*> args) {
    std::vector<const wchar_t*> argv{L"scancap.exe"};
    argv.insert(argv.end(), args.begin(), args.end());
    bool printLog = true;  // must be cleared when not set
    bool native = IsNativeInstallLine(static_cast<int>(argv.size()), argv.data(), printLog);
    return {native, printLog};
}

TEST(NativeInstallLineTest, KeywordIsTheSecondArgumentInAnyCase) {
    NativeLine line = Classify({L"C:\\Capture", L"-InstallNative"});
    EXPECT_TRUE(line.native);
    EXPECT_FALSE(line.printLog);
    EXPECT_TRUE(Classify({L"C:\\Capture", L"-installnative", L"anything", L"more"}).native);
    EXPECT_FALSE(Classify({L"C:\\Capture"}).native);
    EXPECT_FALSE(Classify({L"-installnative"}).native);
    EXPECT_FALSE(Classify({L"C:\\Capture", L"-installnativeX"}).native);
    EXPECT_FALSE(Classify({L"C:\\Capture", L"-Print", L"-installnative"}).native);
}

TEST(NativeInstallLineTest, PrintLogOnlyAsTheLastOfFourArguments) {
    NativeLine line = Classify({L"C:\\Capture", L"-installnative", L"-PRINTLOG"});
    EXPECT_TRUE(line.native);
    EXPECT_TRUE(line.printLog);
    line = Classify({L"C:\\Capture", L"-installnative", L"-printlog", L"extra"});
    EXPECT_TRUE(line.native);
    EXPECT_FALSE(line.printLog);
    line = Classify({L"C:\\Capture", L"-installnative", L"-log"});
    EXPECT_TRUE(line.native);
    EXPECT_FALSE(line.printLog);
}

TEST(PackageIniProbeMessageTest, TrailingSpaceNamesTheDirectory) {
    EXPECT_EQ(Utf8(PackageIniProbeMessage(Str(L"C:\\Out "), Str(L"C:\\Out \\Package.ini"))),
              "C:\\Out  has trailing space");
    EXPECT_EQ(Utf8(PackageIniProbeMessage(Str(L"C:\\Out"), Str(L"C:\\Out\\Package.ini"))),
              "Could not open C:\\Out\\Package.ini for writing");
    EXPECT_EQ(Utf8(PackageIniProbeMessage(Str(L" C:\\Out\t"), Str(L" C:\\Out\t\\Package.ini"))),
              "Could not open  C:\\Out\t\\Package.ini for writing");
}

struct FlagCase {
    const wchar_t* pre;
    const wchar_t* post;
    UpgradeFlags expected;
};

TEST(UpgradeFlagsTest, EachFlagFromThePairOfVersions) {
    const FlagCase cases[] = {
        {L"6.0.2900", L"7.0.5730", {true, true, false, false}},
        {L"5.0", L"7.0", {false, true, false, false}},
        {L"6.0", L"8.0.6001", {false, true, false, false}},
        {L"8.0", L"9.0.8112", {false, true, false, false}},
        {L"9.0", L"10.0.9200", {false, false, true, false}},
        {L"9.11.9600", L"11.0.9600", {false, false, false, true}},
        {L"11.0.9600", L"11.0.9600", {false, false, false, false}},
        {L"11.0", L"6.0", {false, false, false, false}},
    };
    for (const FlagCase& c : cases) {
        SCOPED_TRACE(Utf8(c.pre) + " -> " + Utf8(c.post));
        SnapshotStore pre, post;
        testing::BuildIeStore(pre, {{L"Version", c.pre}});
        testing::BuildIeStore(post, {{L"svcVersion", c.post}, {L"Version", L"0.0"}});
        UpgradeFlags flags{true, true, true, true};
        SetUpgradeFlags(pre, post, flags);
        EXPECT_EQ(flags.ieUpgrade6To7, c.expected.ieUpgrade6To7);
        EXPECT_EQ(flags.ieUpgradeTo7To9, c.expected.ieUpgradeTo7To9);
        EXPECT_EQ(flags.ieUpgradeTo10, c.expected.ieUpgradeTo10);
        EXPECT_EQ(flags.ieUpgradeTo11, c.expected.ieUpgradeTo11);
    }
}

}  // namespace
}  // namespace scancap
