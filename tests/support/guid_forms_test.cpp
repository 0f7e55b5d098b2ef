#include "support/guid_forms.h"

#include "common/testing.h"

#include <gtest/gtest.h>

#include <cwchar>

namespace scancap {
namespace {

using testing::Utf8;

TEST(GuidFormsTest, GuidAtTheStartOfAName) {
    const struct {
        const wchar_t* name;
        bool guid;
    } cases[] = {
        {L"{21EC2020-3AEA-1069-a2dd-08002B30309D}", true},
        {L"{21EC2020-3AEA-1069-A2DD-08002B30309D}.old", true},
        {L"{21EC2020-3AEA-1069-A2DD-08002B30309}", false},
        {L"{21EC2020-3AEA-1069-A2DD+08002B30309D}", false},
        {L"{21EC2020-3AEA-1069-A2DG-08002B30309D}", false},
        {L"{21EC2020-3AEA-1069-A2DD-08002B30309D)", false},
    };
    for (const auto& c : cases) EXPECT_EQ(StartsWithGuid(c.name, std::wcslen(c.name)), c.guid) << Utf8(c.name);
}

// Codes as Windows Installer registered them for the test's products.
TEST(GuidFormsTest, PackedCodesBothWays) {
    const struct {
        const wchar_t* packed;
        const char* guid;
    } cases[] = {
        {L"B0E2C1A6F4D193C4B9E7F2A5C8D3E110", "{6A1C2E0B-1D4F-4C39-9B7E-2F5A8C3D1E01}"},
        {L"6DA63B8C9CD973A41B24E5BA6B4BAAE2", "{C8B36AD6-9DC9-4A37-B142-5EABB6B4AA2E}"},
    };
    for (const auto& c : cases) {
        Str guid, packed;
        EXPECT_TRUE(PackedCodeToGuid(Str(c.packed), guid));
        EXPECT_EQ(Utf8(guid), c.guid);
        EXPECT_TRUE(GuidToPackedCode(guid, packed));
        EXPECT_EQ(Utf8(packed), Utf8(c.packed));
    }
    Str out(L"x");
    EXPECT_FALSE(PackedCodeToGuid(Str(L"B0E2C1A6F4D193C4B9E7F2A5C8D3E11"), out));
    EXPECT_FALSE(PackedCodeToGuid(Str(L"B0E2C1A6F4D193C4B9E7F2A5C8D3E11G"), out));
    EXPECT_FALSE(GuidToPackedCode(Str(L"{6A1C2E0B-1D4F-4C39-9B7E-2F5A8C3D1E01}0"), out));
    EXPECT_TRUE(out.IsEmpty());
}

}  // namespace
}  // namespace scancap
