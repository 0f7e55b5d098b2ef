#include "support/pe_file.h"

#include "common/testing.h"
#include "support/pe_image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace scancap {
namespace {

using testing::Image;
using testing::Put32;
using testing::TempDir;
using testing::WriteFileBytes;

// A DOS header whose new-header offset is 64 (or `newHeader`), followed by `next`.
std::string DosStub(const std::string& next, uint32_t newHeader = 64) {
    std::string b(64, '\0');
    b[0] = 'M', b[1] = 'Z';
    Put32(b, 60, newHeader);
    return b + next;
}

std::string NeHeader(uint8_t targetOs, size_t length = 64) {
    std::string h = "NE" + std::string(0x34, '\0') + char(targetOs) + std::string(9, '\0');
    return h.substr(0, length);
}

TEST(ClassifyExecutable, ClassesDescriptionsAndErrors) {
    std::string pe64 = Image{0x8664, 0x22}.Bytes();
    const struct { const wchar_t* name; std::string bytes; uint32_t expected; const char* description;
                   bool badFormat; } rows[] = {  // an empty description: the probe adds none
        {L"x.bat", "abc", kExeBatch, "[no valid DOS header, .bat or .cmd extension]", false},
        {L"x.com", "abc", kExeDos, "[no valid DOS header, .com extension]", false},
        {L"x.txt", "abc", kExeOther, "[no valid DOS header found ***]", true},
        {L"dos.exe", DosStub("", 0), kExeDos, "[DOS executable]", false},
        {L"far.exe", DosStub("", 0x1000), kExeDos, "[Unable to read executable type signature]", true},
        {L"w16.exe", DosStub(NeHeader(2)), kExeWin16, "[Win16 executable]", false},
        {L"os2.exe", DosStub(NeHeader(1)), kExeOther, "[Unrecognized OS2 exetyp ***]", false},
        {L"ne.exe", DosStub(NeHeader(2, 40)), kExeOther,
         "[OS2 signature found but unable to load OS2 header ***]", false},
        {L"le.exe", DosStub(std::string("LE\0\0", 4)), kExeDos, "[Unrecognized executable type signature ***]",
         true},
        {L"cut.exe", pe64.substr(0, 64 + 200), kExeDos, "[Unable to read NT headers ***]", true},
        {L"a.exe", Image{0x14C, 0x102}.Bytes(), kExeProgram32, "", false},
        {L"a.dll", Image{0x14C, 0x2102}.Bytes(), kExeDll32, "", false},
        {L"b.exe", pe64, kExeProgram64, "", false},
        {L"b.dll", Image{0x8664, 0x2022}.Bytes(), kExeDll64, "", false},
        {L"arm.exe", Image{0xAA64, 0x22}.Bytes(), kExeOther, "", false},
    };
    TempDir dir;
    for (const auto& r : rows) {
        Str path = dir / r.name;
        WriteFileBytes(path, r.bytes);
        FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(file);
        Str description;
        SetLastError(0xdeadbeef);
        EXPECT_EQ(ClassifyExecutable(file.get(), path.c_str(), nullptr, &description), r.expected)
            << testing::Utf8(r.name);
        EXPECT_TRUE(!r.badFormat || GetLastError() == ERROR_BAD_EXE_FORMAT) << testing::Utf8(r.name);
        EXPECT_EQ(testing::Utf8(description), r.description) << testing::Utf8(r.name);
    }
}

TEST(PEFile, OpenValidatesTheHeadersAndFindsExports) {
    const struct { Image image; bool opens; uint32_t cplApplet; } rows[] = {
        {Image{}, true, 0x1234},
        {Image{0x8664, 0x2022}, true, 0x1234},
        {Image{0x14C, 0x2102, false}, true, 0},
        {Image{0x14C, 0x2102, true, 64, 0x40000000}, true, 0},  // names run far beyond the directory
        // The NT headers must end inside the first 4096 bytes.
        {Image{0x14C, 0x2102, true, 3832}, true, 0},
        {Image{0x14C, 0x2102, true, 3840}, false, 0},
    };
    TempDir dir;
    for (const auto& r : rows) {
        Str path = dir / L"image.cpl";
        WriteFileBytes(path, r.image.Bytes());
        PEFile image;
        SetLastError(0);
        ASSERT_EQ(image.Open(std::make_unique<PEFileAccessorDisk>(path)), r.opens) << r.image.ntOffset;
        if (!r.opens) {
            EXPECT_EQ(GetLastError(), DWORD(ERROR_BAD_EXE_FORMAT));
            continue;
        }
        EXPECT_EQ(image.GetExportAddress("CPlApplet"), r.cplApplet) << r.image.nameCount;
        EXPECT_EQ(image.GetExportAddress("CPlApple"), 0u);
        EXPECT_EQ(image.GetExportAddress("CPlAppletX"), 0u);
    }
}

// Counts the reads that reach the file.
class CountingAccessor : public PEFileAccessorDisk {
public:
    using PEFileAccessorDisk::PEFileAccessorDisk;
    int reads = 0;
    BOOL ReadFile(HANDLE file, void* buffer, DWORD size, DWORD* read, OVERLAPPED* at) override {
        ++reads;
        return PEFileAccessorDisk::ReadFile(file, buffer, size, read, at);
    }
};

TEST(PEFile, ReadsInsideACachedBlockReadTheFileOnce) {
    TempDir dir;
    std::string bytes = Image{}.Bytes();
    WriteFileBytes(dir / L"a.dll", bytes);
    CountingAccessor accessor(dir / L"a.dll");
    ASSERT_TRUE(accessor.Open());
    // A block larger than the file is refused before anything is read.
    EXPECT_EQ(accessor.GetBlock(0x10, 0x7FFFFFFF), nullptr);
    ASSERT_TRUE(accessor.SetHeaderSize(0x200));
    EXPECT_EQ(accessor.reads, 1);
    // Beyond the headers an address goes through the section table.
    const uint8_t* block = accessor.GetBlock(0x1000, 0x40);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(std::memcmp(block, bytes.data() + 0x200, 0x40), 0);
    EXPECT_EQ(accessor.GetBlock(0x1034, 10), block + 0x34);
    EXPECT_EQ(accessor.GetBlock(0x1000, 4), block);
    EXPECT_EQ(accessor.reads, 2);
    EXPECT_EQ(accessor.GetBlock(0x3000, 4), nullptr);  // no section holds it
    EXPECT_EQ(accessor.reads, 2);
}

}  // namespace
}  // namespace scancap
