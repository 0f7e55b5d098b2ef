#include "project/com_analysis.h"

#include "common/testing.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace scancap {
namespace {

using testing::Utf8;

TEST(ComAnalysisTest, ServerFileFromCommand) {
    testing::TempDir dir;
    Str server = dir / L"Long Server Name.dll";
    testing::WriteFileBytes(server, "MZ");
    wchar_t shortPath[MAX_PATH];
    ASSERT_GT(GetShortPathNameW(server.c_str(), shortPath, MAX_PATH), 0u);
    server.MakeUpper();
    const std::vector<std::pair<Str, Str>> cases{
        {L"\"C:\\X\\App.exe\" /automation", L"C:\\X\\APP.EXE"},
        {L"C:\\X\\App.exe -Embedding", L"C:\\X\\APP.EXE"},
        {L"C:\\X\\App.exe {0}", L"C:\\X\\APP.EXE"},
        {L"\"C:\\X\\App.exe", L"C:\\X\\APP.EXE"},
        {L"%SystemRoot%\\x.dll", L"C:\\WINDOWS\\X.DLL"},
        {L"C:\\X\\a.dll %1 /s", L"C:\\X\\A.DLL %1 /S"},
        {L"ole32.dll", L"C:\\WINDOWS\\SYSTEM32\\OLE32.DLL"},
        {shortPath, server},
        {L"\"\" /s", L""},
    };
    for (const auto& [command, file] : cases) EXPECT_EQ(Utf8(ServerFileFromCommand(command)), Utf8(file)) << Utf8(command);
}

}  // namespace
}  // namespace scancap
