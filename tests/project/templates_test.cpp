#include "project/templates.h"

#include "common/testing.h"
#include "project/fake_exclude_list.h"
#include "project/overrides.h"
#include "snapshot/options.h"
#include "support/fatal.h"
#include "support/folder_macros.h"
#include "support/name_encoding.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace scancap {
namespace {

using testing::FakeExcludeList;
using testing::TempDir;
using testing::Utf8;

std::string Utf16Le(const std::wstring& text) {
    std::string bytes;
    for (wchar_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    return bytes;
}

std::string Utf16Be(const std::wstring& text) {
    std::string bytes;
    for (wchar_t c : text) {
        bytes.push_back(static_cast<char>(c >> 8));
        bytes.push_back(static_cast<char>(c & 0xFF));
    }
    return bytes;
}

std::wstring Decode(const std::string& bytes) {
    Str out;
    EXPECT_TRUE(DecodeTemplateText(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), out));
    return std::wstring(out.c_str(), out.Length());
}

std::string U8(const std::wstring& s) { return Utf8(s.c_str(), s.size()); }

TEST(TemplateEncoding, ByteOrderMarksDecide) {
    const std::wstring text = L"[IncludeKeys]\r\n\x00e9\x4e2d";
    EXPECT_EQ(U8(Decode("\xFF\xFE" + Utf16Le(text))), U8(text));
    EXPECT_EQ(U8(Decode("\xFE\xFF" + Utf16Be(text))), U8(text));
    EXPECT_EQ(U8(Decode("\xEF\xBB\xBF[IncludeKeys]\r\n\xC3\xA9\xE4\xB8\xAD")), U8(text));
    // A mark wins over the heuristics: this UTF-8 text is all ASCII.
    EXPECT_EQ(U8(Decode("\xEF\xBB\xBF" "ab")), "ab");
}

TEST(TemplateEncoding, LeadingBracketWithoutMark) {
    const std::wstring text = L"[x]\x4e2d";
    EXPECT_EQ(U8(Decode(Utf16Le(text))), U8(text));
    EXPECT_EQ(U8(Decode(Utf16Be(text))), U8(text));
}

TEST(TemplateEncoding, ZeroByteHeuristicAndItsThreshold) {
    // A comment first, so that no "[" decides.
    const std::wstring text = L"# note\r\n[IncludeKeys]\r\n";
    EXPECT_EQ(U8(Decode(Utf16Le(text))), U8(text));
    EXPECT_EQ(U8(Decode(Utf16Be(text))), U8(text));

    // 20 bytes: the threshold is (8 * 20 + 10) / 20 = 8 zero bytes.
    std::string eight;
    for (int i = 0; i < 8; ++i) eight += std::string("a\0", 2);
    eight += "bcde";
    EXPECT_EQ(U8(Decode(eight)), "aaaaaaaa\xE6\x8D\xA2\xE6\x95\xA4");  // U+6362 U+6564
    std::string seven;
    for (int i = 0; i < 7; ++i) seven += std::string("a\0", 2);
    seven += "bcdefg";
    std::wstring ansi = Decode(seven);
    ASSERT_EQ(ansi.size(), 20u);  // one character per byte
    EXPECT_EQ(ansi[0], L'a');
    EXPECT_EQ(ansi[1], L'\0');
    EXPECT_EQ(ansi[19], L'g');
}

TEST(TemplateEncoding, ZerosAtEvenOffsetsAreAskedAboutFirst) {
    // 20 bytes with 8 zeros at even and 8 at odd offsets: big-endian wins.
    std::string bytes = std::string(12, '\0') + std::string("\0a\0a", 4) + std::string("a\0a\0", 4);
    std::wstring text = Decode(bytes);
    ASSERT_EQ(text.size(), 10u);
    EXPECT_EQ(text[6], L'a');
    EXPECT_EQ(text[7], L'a');
    EXPECT_EQ(text[8], static_cast<wchar_t>(0x6100));
    EXPECT_EQ(text[9], static_cast<wchar_t>(0x6100));
}

TEST(TemplateEncoding, OddLengthIsAnsi) {
    std::string odd = std::string("a\0b\0c\0d\0e", 9);
    std::wstring text = Decode(odd);
    ASSERT_EQ(text.size(), 9u);
    EXPECT_EQ(text[8], L'e');
    EXPECT_EQ(U8(Decode("[IncludeKeys]\r\nX")), "[IncludeKeys]\r\nX");
}

class TemplateTest : public ::testing::Test {
protected:
    void SetUp() override {
        InitFolderMacros();
        auto fake = std::make_unique<FakeExcludeList>();
        exclude = fake.get();
        Options().excludeList = std::move(fake);
    }
    void TearDown() override { Options().excludeList.reset(); }

    static Str Decoded(const wchar_t* projectPath) {
        Str out;
        DecodeProjectPath(Str(projectPath), out);
        return out;
    }
    static Str Upper(Str s) {
        s.MakeUpper();
        return s;
    }

    FakeExcludeList* exclude = nullptr;
    SnapshotStore post;
};

TEST_F(TemplateTest, SectionsAndLineForms) {
    Str text(
        L"# capture template\r\n"
        L"\r\n"
        L"   [includefiles]   \r\n"
        L"2;%AppData%\\Vendor\\Plug\r\n"
        L"  %AppData%\\Vendor\\NoFlags.dat  \r\n"
        L"#1;%AppData%\\Commented\r\n"
        L"\n\n"
        L"[ExcludeFiles]\r\n"
        L"7;%AppData%\\Vendor\\Cache\r"
        L"%drive_q%\\tmp\r\n"
        L"[IncludeKeys]\r\n"
        L"8;HKEY_LOCAL_MACHINE\\Software\\Vendor\r\n"
        L"HKEY_CURRENT_USER\\Software\\Vendor\\Plain\r\n"
        L"16;\r\n"
        L"[PackageSettings]\r\n"
        L"Level=REG_DWORD=#01#00#00#00\r\n"
        L"NoEquals\r\n"
        L"Empty=\r\n"
        L"[PackageSettingsW2K]\r\n"
        L"OnlyOnW2K=REG_DWORD=#01#00#00#00\r\n"
        L"[IncludeFiles]\r\n"
        L"%AppData%\\SecondSectionIgnored\r\n");
    ApplyTemplateText(post, text);

    ASSERT_EQ(post.includedFiles.size(), 2u);
    EXPECT_EQ(post.includedFiles.at(Upper(Decoded(L"%AppData%\\Vendor\\Plug"))), 2u);
    EXPECT_EQ(post.includedFiles.at(Upper(Decoded(L"%AppData%\\Vendor\\NoFlags.dat"))), 0u);

    ASSERT_EQ(exclude->addedFileIgnores.size(), 2u);
    EXPECT_EQ(Utf8(exclude->addedFileIgnores[0].c_str()), Utf8(Decoded(L"%AppData%\\Vendor\\Cache")));
    EXPECT_EQ(Utf8(exclude->addedFileIgnores[1].c_str()), "q:\\tmp");

    ASSERT_EQ(post.includedKeys.size(), 3u);
    EXPECT_EQ(post.includedKeys.at(Str(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\VENDOR")), 8u);
    EXPECT_EQ(post.includedKeys.at(Str(L"HKEY_CURRENT_USER\\SOFTWARE\\VENDOR\\PLAIN")), 0u);
    EXPECT_EQ(post.includedKeys.at(Str(L"")), 16u);

    // PackageSettingsW2K applies only on Windows 2000, which this is not.
    ASSERT_EQ(post.packageSettings.size(), 2u);
    EXPECT_EQ(Utf8(post.packageSettings.at(Str(L"Level"))), "REG_DWORD=#01#00#00#00");
    EXPECT_EQ(Utf8(post.packageSettings.at(Str(L"Empty"))), "");
}

TEST_F(TemplateTest, SectionEndsAtAnyLineThatBeginsWithABracket) {
    ApplyTemplateText(post, Str(L"[IncludeKeys]\nHKEY_CURRENT_USER\\A\n[not a header\nHKEY_CURRENT_USER\\B\n"));
    ASSERT_EQ(post.includedKeys.size(), 1u);
    EXPECT_EQ(post.includedKeys.begin()->first, Str(L"HKEY_CURRENT_USER\\A"));
}

TEST_F(TemplateTest, TemplateWithoutKnownSectionsChangesNothing) {
    ApplyTemplateText(post, Str(L"[Other]\r\n2;%AppData%\\x\r\nA=B\r\nIncludeFiles\r\n"));
    EXPECT_TRUE(post.includedFiles.empty());
    EXPECT_TRUE(post.includedKeys.empty());
    EXPECT_TRUE(post.packageSettings.empty());
    EXPECT_TRUE(exclude->addedFileIgnores.empty());
}

class VxOrigin {
public:
    explicit VxOrigin(const Str& value) { SetEnvironmentVariableW(L"VX_ORIGIN", value.c_str()); }
    ~VxOrigin() { SetEnvironmentVariableW(L"VX_ORIGIN", nullptr); }
};

TEST_F(TemplateTest, LocationOrder) {
    SetEnvironmentVariableW(L"VX_ORIGIN", nullptr);
    TempDir origin;
    TempDir program;
    Str programFolder = program.Path();
    programFolder.Append(L"\\", 1);
    ASSERT_TRUE(CreateDirectoryW((program / L"Templates").c_str(), nullptr));
    Str atOrigin = origin / L"ScTestOrder.template.txt";
    Str inTemplates = program / L"Templates\\ScTestOrder.template.txt";
    Str beside = program / L"ScTestOrder.template.txt";
    testing::WriteFileBytes(atOrigin, "[IncludeKeys]\r\nHKEY_CURRENT_USER\\Origin\r\n");
    testing::WriteFileBytes(inTemplates, "x");
    testing::WriteFileBytes(beside, "x");

    {
        // VX_ORIGIN names a file; its folder is searched first.
        VxOrigin vx(origin / L"tool.exe");
        EXPECT_EQ(Utf8(FindTemplateFile(Str(L"ScTestOrder"), programFolder)), Utf8(atOrigin));
        LoadTemplate(post, Str(L"ScTestOrder"));
        ASSERT_EQ(post.includedKeys.size(), 1u);
        EXPECT_EQ(post.includedKeys.begin()->first, Str(L"HKEY_CURRENT_USER\\ORIGIN"));
    }
    EXPECT_EQ(Utf8(FindTemplateFile(Str(L"ScTestOrder"), programFolder)), Utf8(inTemplates));
    ASSERT_TRUE(DeleteFileW(inTemplates.c_str()));
    EXPECT_EQ(Utf8(FindTemplateFile(Str(L"ScTestOrder"), programFolder)), Utf8(beside));
    {
        // A VX_ORIGIN folder without the template falls through.
        TempDir empty;
        VxOrigin vx(empty / L"tool.exe");
        EXPECT_EQ(Utf8(FindTemplateFile(Str(L"ScTestOrder"), programFolder)), Utf8(beside));
    }
    ASSERT_TRUE(DeleteFileW(beside.c_str()));
    try {
        FindTemplateFile(Str(L"ScTestOrder"), programFolder);
        FAIL() << "no fatal error";
    } catch (const Str& message) {
        EXPECT_EQ(Utf8(message), "Can't find template file ScTestOrder");
    }
}

TEST_F(TemplateTest, VxOriginLongerThanAShortPath) {
    TempDir origin;
    Str folder = origin.Path();
    for (int i = 0; i < 3; ++i) {
        folder.Append(L'\\', 1);
        folder.Append(static_cast<wchar_t>(L'a' + i), 120);
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    }
    Str tool = folder;
    tool.Append(L"\\tool.exe");
    ASSERT_GT(tool.Length(), static_cast<size_t>(MAX_PATH));
    Str atOrigin = folder;
    atOrigin.Append(L"\\ScLong.template.txt");
    testing::WriteFileBytes(atOrigin, "[IncludeKeys]\r\nHKEY_CURRENT_USER\\Long\r\n");

    VxOrigin vx(tool);
    TempDir program;
    Str programFolder = program.Path();
    programFolder.Append(L"\\", 1);
    EXPECT_EQ(Utf8(FindTemplateFile(Str(L"ScLong"), programFolder)), Utf8(atOrigin));
    LoadTemplate(post, Str(L"ScLong"));
    ASSERT_EQ(post.includedKeys.size(), 1u);
    EXPECT_EQ(post.includedKeys.begin()->first, Str(L"HKEY_CURRENT_USER\\LONG"));
    DeleteFileW(atOrigin.c_str());
    for (int i = 0; i < 3; ++i) {
        RemoveDirectoryW(folder.c_str());
        folder.SetLength(size_t(folder.FindLast(L'\\')));
    }
}

// The distribution's own templates (the test prefix holds the distribution
// in C:\scancap) are found in its Templates folder and apply cleanly.
TEST_F(TemplateTest, ShippedTemplates) {
    SetEnvironmentVariableW(L"VX_ORIGIN", nullptr);
    const Str dist(L"C:\\scancap\\");
    EXPECT_EQ(Utf8(FindTemplateFile(Str(L"Flash"), dist)), "C:\\scancap\\Templates\\Flash.template.txt");
    EXPECT_EQ(Utf8(FindTemplateFile(Str(L"IE6"), dist)), "C:\\scancap\\Templates\\IE6.template.txt");

    VxOrigin vx(Str(L"C:\\scancap\\Templates\\scancap.exe"));
    LoadTemplate(post, Str(L"Flash"));
    EXPECT_EQ(post.includedFiles.count(Upper(Decoded(L"%SystemSystem%\\Macromed\\Flash"))), 1u);
    EXPECT_EQ(post.includedKeys.count(
                  Str(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\CLASSES\\CLSID\\{D27CDB6E-AE6D-11CF-96B8-444553540000}")),
              1u);

    SnapshotStore ie;
    LoadTemplate(ie, Str(L"IE6"));
    EXPECT_FALSE(ie.includedFiles.empty());
    EXPECT_FALSE(ie.includedKeys.empty());
}

TEST_F(TemplateTest, LoadsAUtf16TemplateWithItsFlags) {
    TempDir origin;
    VxOrigin vx(origin / L"tool.exe");
    testing::WriteFileBytes(origin / L"ScWide.template.txt",
                            "\xFF\xFE" + Utf16Le(L"[IncludeFiles]\r\n2;%AppData%\\Wide\\Plug\r\n"
                                                 L"[PackageSettings]\r\nX=REG_SZ~a#2300\r\n"));
    LoadTemplate(post, Str(L"ScWide"));
    EXPECT_EQ(post.includedFiles.at(Upper(Decoded(L"%AppData%\\Wide\\Plug"))), 2u);
    EXPECT_EQ(Utf8(post.packageSettings.at(Str(L"X"))), "REG_SZ~a#2300");
}

TEST_F(TemplateTest, MissingTemplateIsFatal) {
    SetEnvironmentVariableW(L"VX_ORIGIN", nullptr);
    try {
        LoadTemplate(post, Str(L"ScNoSuchTemplate"));
        FAIL() << "no fatal error";
    } catch (const Str& message) {
        EXPECT_EQ(Utf8(message), "Can't find template file ScNoSuchTemplate");
    }
}

TEST_F(TemplateTest, UnopenableTemplateIsFatalWithTheSystemMessage) {
    // A folder of that name exists but cannot be opened as a file.
    TempDir origin;
    VxOrigin vx(origin / L"tool.exe");
    Str folder = origin / L"ScFolder.template.txt";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    try {
        LoadTemplate(post, Str(L"ScFolder"));
        FAIL() << "no fatal error";
    } catch (const Str& message) {
        std::string text = Utf8(message);
        const std::string prefix = "Can't open template file: ";
        ASSERT_EQ(text.substr(0, prefix.size()), prefix);
        EXPECT_GT(text.size(), prefix.size());
    }
    RemoveDirectoryW(folder.c_str());
}

}  // namespace
}  // namespace scancap
