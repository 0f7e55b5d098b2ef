#include "project/templates.h"

#include "common/testing.h"
#include "project/fake_exclude_list.h"
#include "project/overrides.h"
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
using testing::WriteFileBytes;

std::string Utf16(const std::wstring& text, bool bigEndian = false) {
    std::string bytes;
    for (wchar_t c : text) {
        char low = static_cast<char>(c & 0xFF), high = static_cast<char>(c >> 8);
        bytes += bigEndian ? std::string{high, low} : std::string{low, high};
    }
    return bytes;
}

std::string Repeat(const std::string& s, int n) {
    std::string r;
    while (n-- > 0) r += s;
    return r;
}

TEST(TemplateEncoding, MarksThenBracketThenZeroBytes) {
    const std::wstring text = L"[IncludeKeys]\r\n\x00e9\x4e2d";
    // A comment first, so that no "[" decides.
    const std::wstring comment = L"# note\r\n[IncludeKeys]\r\n";
    const std::string nul("\0", 1);
    struct Case {
        std::string bytes;
        std::wstring expected;
    } cases[] = {
        {"\xFF\xFE" + Utf16(text), text},
        {"\xFE\xFF" + Utf16(text, true), text},
        {"\xEF\xBB\xBF[IncludeKeys]\r\n\xC3\xA9\xE4\xB8\xAD", text},
        // A mark wins over the heuristics: this UTF-8 text is all ASCII.
        {"\xEF\xBB\xBF" "ab", L"ab"},
        {Utf16(L"[x]\x4e2d"), L"[x]\x4e2d"},
        {Utf16(L"[x]\x4e2d", true), L"[x]\x4e2d"},
        {Utf16(comment), comment},
        {Utf16(comment, true), comment},
        // 20 bytes: the threshold is (8 * 20 + 10) / 20 = 8 zero bytes.
        {Repeat("a" + nul, 8) + "bcde", L"aaaaaaaa\x6362\x6564"},
        {Repeat("a" + nul, 7) + "bcdefg", std::wstring(L"a\0a\0a\0a\0a\0a\0a\0bcdefg", 20)},
        // 8 zeros at even and 8 at odd offsets: big-endian is asked about first.
        {Repeat(nul, 12) + Repeat(nul + "a", 2) + Repeat("a" + nul, 2), std::wstring(6, L'\0') + L"aa\x6100\x6100"},
        // An odd length is never UTF-16.
        {Repeat("a" + nul, 4) + "e", std::wstring(L"a\0a\0a\0a\0e", 9)},
        {"[IncludeKeys]\r\nX", L"[IncludeKeys]\r\nX"},
    };
    for (const Case& c : cases) {
        Str out;
        EXPECT_TRUE(DecodeTemplateText(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size(), out));
        EXPECT_EQ(std::wstring(out.c_str(), out.Length()), c.expected) << ::testing::PrintToString(c.bytes);
    }
}

class TemplateTest : public ::testing::Test {
protected:
    void SetUp() override {
        InitFolderMacros();
        SetEnvironmentVariableW(L"VX_ORIGIN", nullptr);
        run.excludeList = exclude;
    }
    void TearDown() override { SetEnvironmentVariableW(L"VX_ORIGIN", nullptr); }

    // The upper-cased machine form of a project path, as the file table holds it.
    static Str Key(const wchar_t* projectPath) {
        Str out;
        DecodeProjectPath(Str(projectPath), out);
        out.MakeUpper();
        return out;
    }
    static void Origin(const Str& tool) { SetEnvironmentVariableW(L"VX_ORIGIN", tool.c_str()); }
    template <class F>
    static std::string Fatal(F&& run) {
        try {
            run();
        } catch (const Str& message) {
            return Utf8(message);
        }
        return "no fatal error";
    }

    std::unique_ptr<FakeExcludeList> fake = std::make_unique<FakeExcludeList>();
    FakeExcludeList* exclude = fake.get();
    ProjectRun run;
};

TEST_F(TemplateTest, SectionsAndLineForms) {
    ApplyTemplateText(run, Str(L"# capture template\r\n"
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
                                L"%AppData%\\SecondSectionIgnored\r\n"));

    ASSERT_EQ(run.includedFiles.size(), 2u);
    EXPECT_EQ(run.includedFiles.at(Key(L"%AppData%\\Vendor\\Plug")), 2u);
    EXPECT_EQ(run.includedFiles.at(Key(L"%AppData%\\Vendor\\NoFlags.dat")), 0u);

    Str cache;
    DecodeProjectPath(Str(L"%AppData%\\Vendor\\Cache"), cache);
    ASSERT_EQ(exclude->addedFileIgnores.size(), 2u);
    EXPECT_EQ(Utf8(exclude->addedFileIgnores[0].c_str()), Utf8(cache));
    EXPECT_EQ(Utf8(exclude->addedFileIgnores[1].c_str()), "q:\\tmp");

    ASSERT_EQ(run.includedKeys.size(), 3u);
    EXPECT_EQ(run.includedKeys.at(Str(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\VENDOR")), 8u);
    EXPECT_EQ(run.includedKeys.at(Str(L"HKEY_CURRENT_USER\\SOFTWARE\\VENDOR\\PLAIN")), 0u);
    EXPECT_EQ(run.includedKeys.at(Str(L"")), 16u);

    // PackageSettingsW2K applies only on Windows 2000, which this is not.
    ASSERT_EQ(run.packageSettings.size(), 2u);
    EXPECT_EQ(Utf8(run.packageSettings.at(Str(L"Level"))), "REG_DWORD=#01#00#00#00");
    EXPECT_EQ(Utf8(run.packageSettings.at(Str(L"Empty"))), "");
}

TEST_F(TemplateTest, OnlyKnownSectionsCountAndAnyBracketLineEndsOne) {
    ApplyTemplateText(run, Str(L"[Other]\r\n2;%AppData%\\x\r\nA=B\r\nIncludeFiles\r\n"
                                L"[IncludeKeys]\nHKEY_CURRENT_USER\\A\n[not a header\nHKEY_CURRENT_USER\\B\n"));
    EXPECT_TRUE(run.includedFiles.empty());
    EXPECT_TRUE(run.packageSettings.empty());
    EXPECT_TRUE(exclude->addedFileIgnores.empty());
    ASSERT_EQ(run.includedKeys.size(), 1u);
    EXPECT_EQ(run.includedKeys.begin()->first, Str(L"HKEY_CURRENT_USER\\A"));
}

TEST_F(TemplateTest, LocationOrder) {
    TempDir origin, program;
    Str programFolder = program.Path();
    programFolder.Append(L"\\", 1);
    ASSERT_TRUE(CreateDirectoryW((program / L"Templates").c_str(), nullptr));
    Str atOrigin = origin / L"ScTestOrder.template.txt";
    Str inTemplates = program / L"Templates\\ScTestOrder.template.txt";
    Str beside = program / L"ScTestOrder.template.txt";
    // A UTF-16 template, found beside VX_ORIGIN's file first.
    WriteFileBytes(atOrigin, "\xFF\xFE" + Utf16(L"[IncludeFiles]\r\n2;%AppData%\\Wide\\Plug\r\n"
                                                L"[PackageSettings]\r\nX=REG_SZ~a#2300\r\n"));
    WriteFileBytes(inTemplates, "x");
    WriteFileBytes(beside, "x");
    auto find = [&] { return Utf8(FindTemplateFile(Str(L"ScTestOrder"), programFolder)); };

    Origin(origin / L"tool.exe");
    EXPECT_EQ(find(), Utf8(atOrigin));
    LoadTemplate(run, Str(L"ScTestOrder"));
    EXPECT_EQ(run.includedFiles.at(Key(L"%AppData%\\Wide\\Plug")), 2u);
    EXPECT_EQ(Utf8(run.packageSettings.at(Str(L"X"))), "REG_SZ~a#2300");

    SetEnvironmentVariableW(L"VX_ORIGIN", nullptr);
    EXPECT_EQ(find(), Utf8(inTemplates));
    ASSERT_TRUE(DeleteFileW(inTemplates.c_str()));
    EXPECT_EQ(find(), Utf8(beside));
    // A VX_ORIGIN folder without the template falls through.
    TempDir empty;
    Origin(empty / L"tool.exe");
    EXPECT_EQ(find(), Utf8(beside));
    ASSERT_TRUE(DeleteFileW(beside.c_str()));
    EXPECT_EQ(Fatal(find), "Can't find template file ScTestOrder");
}

TEST_F(TemplateTest, VxOriginLongerThanAShortPath) {
    TempDir origin;
    Str folder = origin.Path();
    for (int i = 0; i < 3; ++i) {
        folder.Append(L'\\', 1);
        folder.Append(static_cast<wchar_t>(L'a' + i), 120);
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    }
    Str tool = folder, atOrigin = folder;
    tool.Append(L"\\tool.exe");
    atOrigin.Append(L"\\ScLong.template.txt");
    ASSERT_GT(tool.Length(), static_cast<size_t>(MAX_PATH));
    WriteFileBytes(atOrigin, "[IncludeKeys]\r\nHKEY_CURRENT_USER\\Long\r\n");

    Origin(tool);
    LoadTemplate(run, Str(L"ScLong"));
    ASSERT_EQ(run.includedKeys.size(), 1u);
    EXPECT_EQ(run.includedKeys.begin()->first, Str(L"HKEY_CURRENT_USER\\LONG"));
    DeleteFileW(atOrigin.c_str());
    for (int i = 0; i < 3; ++i) {
        RemoveDirectoryW(folder.c_str());
        folder.SetLength(size_t(folder.FindLast(L'\\')));
    }
}

// The distribution's own templates (the test prefix holds the distribution
// in C:\scancap) are found in its Templates folder and apply cleanly.
TEST_F(TemplateTest, ShippedTemplates) {
    const Str dist(L"C:\\scancap\\");
    EXPECT_EQ(Utf8(FindTemplateFile(Str(L"Flash"), dist)), "C:\\scancap\\Templates\\Flash.template.txt");
    EXPECT_EQ(Utf8(FindTemplateFile(Str(L"IE6"), dist)), "C:\\scancap\\Templates\\IE6.template.txt");

    Origin(Str(L"C:\\scancap\\Templates\\scancap.exe"));
    LoadTemplate(run, Str(L"Flash"));
    EXPECT_EQ(run.includedFiles.count(Key(L"%SystemSystem%\\Macromed\\Flash")), 1u);
    EXPECT_EQ(run.includedKeys.count(
                  Str(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\CLASSES\\CLSID\\{D27CDB6E-AE6D-11CF-96B8-444553540000}")),
              1u);
    ProjectRun ie;
    LoadTemplate(ie, Str(L"IE6"));
    EXPECT_FALSE(ie.includedFiles.empty());
    EXPECT_FALSE(ie.includedKeys.empty());
}

TEST_F(TemplateTest, UnopenableTemplateIsFatalWithTheSystemMessage) {
    // A folder of that name exists but cannot be opened as a file.
    TempDir origin;
    Origin(origin / L"tool.exe");
    Str folder = origin / L"ScFolder.template.txt";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    std::string text = Fatal([&] { LoadTemplate(run, Str(L"ScFolder")); });
    RemoveDirectoryW(folder.c_str());
    const std::string prefix = "Can't open template file: ";
    ASSERT_EQ(text.substr(0, prefix.size()), prefix);
    EXPECT_GT(text.size(), prefix.size());
}

}  // namespace
}  // namespace scancap
