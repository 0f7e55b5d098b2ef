#include "app/driver.h"

#include "common/testing.h"

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

}  // namespace
}  // namespace scancap
