#include "report/machine_overview.h"

#include "common/testing.h"

#include <gtest/gtest.h>

namespace scancap {
namespace {

// The test program's folder holds no library; the test prefix holds the
// distribution, library included, in C:\scancap.
TEST(MachineOverviewTest, ReportHasTheLibrarysFactsOrSaysItFailed) {
    const struct {
        const wchar_t* variable;
        const wchar_t* value;
        bool found;
    } cases[] = {
        {L"VENDRIX_BIN", L"C:\\scancap\\scancap.exe", false},
        {L"VENDRIX_BIN", L"C:\\scancap", true},
        {L"VX_ORIGIN", L"C:\\scancap\\scancap.exe", true},
    };
    wchar_t user[256];
    DWORD size = 256;
    ASSERT_TRUE(GetUserNameW(user, &size));
    for (const auto& c : cases) {
        testing::TempDir dir;
        SetEnvironmentVariableW(c.variable, c.value);
        WriteCaptureMachineOverview(dir.Path());
        SetEnvironmentVariableW(c.variable, nullptr);
        const Str report = dir / L"Support\\Capture Machine Overview.txt";
        const std::string bytes = testing::ReadFileBytes(report);
        const std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
        const std::wstring title = L"\xFEFF" L"Capture Machine Overview\r\n";
        EXPECT_EQ(text.substr(0, title.size()), title);
        Str system, userName;
        ReadOverviewFacts(report, system, userName);
        if (c.found) {
            EXPECT_EQ(testing::Utf8(userName), "User name: " + testing::Utf8(user));
            EXPECT_EQ(testing::Utf8(system.Left(18)), "Operating system: ");
        } else {
            EXPECT_EQ(text, title + L"LoggingDll failed to load, could not record machine state\r\n");
        }
    }
}

}  // namespace
}  // namespace scancap
