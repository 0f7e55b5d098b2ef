#include "suggest/registrations.h"

#include "common/testing.h"
#include "snapshot/store_builder.h"

#include <gtest/gtest.h>

namespace scancap {
namespace {

using testing::StoreBuilder, testing::Utf8;

// "my app.exe", "tool.exe" and folder "sub dir" in a store and on disk; results "program|arguments" or "".
TEST(Registrations, CommandLines) {
    SnapshotStore store;
    StoreBuilder b(store);
    b.Begin(1, 0);
    b.Dir(b.DirectoryRoot(0), L"C:\\P");
    uint32_t files = b.Children(b.DirectoryRoot(0), 3);
    b.File(StoreBuilder::At(files, 0), L"my app.exe"), b.File(StoreBuilder::At(files, 1), L"tool.exe");
    b.Dir(StoreBuilder::At(files, 2), L"sub dir");
    testing::TempDir dir;
    testing::WriteFileBytes(dir / L"my app.exe", "x"), testing::WriteFileBytes(dir / L"tool.exe", "x");
    ASSERT_TRUE(CreateDirectoryW((dir / L"sub dir").c_str(), nullptr));
    for (auto [command, inStore, onDisk] :
         {std::tuple{L"\"%ls\\my app.exe\" -x", L"%ls\\my app.exe|-x", L"%ls\\my app.exe"},
          {L"%ls\\my app.exe  -x \"y\"", L"%ls\\my app.exe|-x \"y\"", L"%ls\\my app.exe"},
          {L"\"%ls\\tool.exe", L"%ls\\tool.exe|", L"%ls\\tool.exe"}, {L"\"%ls\\tool\" /s", L"", L"%ls\\tool.exe"},
          {L"%ls\\tool /s", L"", L""}, {L"%ls\\sub dir -x", L"", L""}, {L"\"%ls\\sub dir\"", L"", L""},
          {L"\"\" x", L"", L""}}) {
        Str program, arguments, result;
        if (SplitCommandInStore(store, Str().Format(command, L"C:\\P"), program, arguments))
            result.Format(L"%ls|%ls", program.c_str(), arguments.c_str());
        EXPECT_EQ(Utf8(result), Utf8(Str().Format(inStore, L"C:\\P"))) << Utf8(command);
        result.Clear();
        if (FindProgramOnDisk(Str().Format(command, dir.Path().c_str()), program)) result = program;
        EXPECT_EQ(Utf8(result), Utf8(Str().Format(onDisk, dir.Path().c_str()))) << Utf8(command);
    }
}

}  // namespace
}  // namespace scancap
