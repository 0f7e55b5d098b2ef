#include "support/name_encoding.h"

#include "common/testing.h"
#include "support/folder_macros.h"
#include "support/folder_macros_machine.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

namespace scancap {
namespace {

using testing::BuildTablesOn;
using testing::GuardedText;
using testing::ShortForm;
using testing::TablesMachine;
using testing::UrlOf;
using testing::W;

struct Result {
    bool changed;
    std::wstring text;
};

Result Encode(const std::wstring& text, const EscapeSet* escapes = nullptr) {
    Str out = L"stale";
    bool changed = EncodeMachinePath(text.data(), text.size(), out, escapes);
    return {changed, W(out)};
}

Result Decode(const std::wstring& text) {
    Str out = L"stale";
    bool changed = DecodeProjectPath(text.data(), text.size(), out);
    return {changed, W(out)};
}

std::wstring Hex4(size_t n) {
    wchar_t buffer[16];
    swprintf(buffer, 16, L"%04x", static_cast<unsigned>(n));
    return buffer;
}

const std::wstring kProgramFiles = L"C:\\Program Files (x86)";

// ---- Fixed sets and the 8.3 test ----

TEST(EscapeSets, FlagExactlyTheListedCodes) {
    for (int c = 0; c < 256; ++c) {
        const bool hashPercentOrHigh = c == '#' || c == '%' || c >= 127;
        EXPECT_EQ(ValueNameEscapes.flagged[c], (c >= 1 && c <= 31) || hashPercentOrHigh) << c;
        EXPECT_EQ(ValueDataEscapes.flagged[c], c <= 31 || hashPercentOrHigh) << c;
        EXPECT_EQ(IniValueEscapes.flagged[c], c == '#' || c == '%') << c;
    }
    EXPECT_TRUE(ValueNameEscapes.escapeNonAscii);
    EXPECT_TRUE(ValueDataEscapes.escapeNonAscii);
    EXPECT_FALSE(IniValueEscapes.escapeNonAscii);
}

TEST(IsShortNameComponent, AcceptsOnlyEightDotThreeNames) {
    for (const wchar_t* yes : {L"", L".", L"..", L"PROGRA~1", L"a.exe", L"ABCDEFGH.TXT", L"A!@#$%&(", L"x)_~.y",
                               L".abc", L"abc."}) {
        EXPECT_TRUE(IsShortNameComponent(yes, wcslen(yes))) << testing::Utf8(yes);
    }
    for (const wchar_t* no : {L"ABCDEFGHI", L"a.b.c", L"a b", L"abc.defg", L"a-b", L"a+b", L"\u00e4.txt", L"...",
                              L"a^b", L"a{b}"}) {
        EXPECT_FALSE(IsShortNameComponent(no, wcslen(no))) << testing::Utf8(no);
    }
    // Only the given length counts.
    EXPECT_TRUE(IsShortNameComponent(L"ABCDEFGH-long", 8));
}

// ---- Encoding ----

TEST(EncodeMachinePath, FoldersDrivesAndEscapes) {
    ASSERT_TRUE(BuildTablesOn(TablesMachine::Wow64));
    const std::wstring nuls(2, L'\0');
    const std::wstring odd = L"a\x01%\x7f\x00e9\x0101 ~!" + nuls;
    const struct {
        std::wstring in;
        const EscapeSet* escapes;
        bool changed;
        std::wstring out;
    } rows[] = {
        {L"\"C:\\Program Files (x86)\\App\\a.exe\" /s", nullptr, true, L"\"%ProgramFilesDir%\\App\\a.exe\" /s"},
        // Folders are found anywhere, in any case and form.
        {L"c:\\program files (x86)\\a", nullptr, true, L"%ProgramFilesDir%\\a"},
        {L"x;C:\\Program Files (x86)\\Common Files\\b;y", nullptr, true, L"x;%Program Files Common%\\b;y"},
        {L"\\??\\C:\\Program Files (x86)\\a", nullptr, true, L"%ProgramFilesDir%\\a"},
        {L"C?\\Program Files (x86)\\a", nullptr, true, L"%?ProgramFilesDir%\\a"},
        {L"C:\\Program Files (x86)\\a C:\\Program Files (x86)\\b", &ValueDataEscapes, true,
         L"%ProgramFilesDir%\\a %ProgramFilesDir%\\b"},
        // Drives without a folder get a drive macro.
        {L"D:\\Data\\x.txt", nullptr, true, L"%drive_D%\\Data\\x.txt"},
        {L"\\??\\D:\\Data", nullptr, true, L"%drive_D%\\Data"},
        {L"q:", &ValueNameEscapes, true, L"%drive_q%"},
        {L"\\??\\q:", nullptr, true, L"%drive_q%"},
        {L"1:\\x", nullptr, false, L"1:\\x"},
        {L"D", nullptr, false, L"D"},
        {L"\\??\\D", nullptr, false, L"\\??\\D"},
        {L"\\??\\1:\\x", nullptr, false, L"\\??\\1:\\x"},
        {L"relative\\D:\\x", nullptr, false, L"relative\\D:\\x"},
        {L"\\\\server\\share", nullptr, false, L"\\\\server\\share"},
        // Escapes follow the set and suppress the drive macro.
        {L"D:\\Data\\a#b", &ValueNameEscapes, true, L"D:\\Data\\a#23b"},
        {odd, &ValueDataEscapes, true, L"a#01#25#7f#e9##0101 ~!#00#00"},
        {odd, &ValueNameEscapes, true, L"a#01#25#7f#e9##0101 ~!" + nuls},  // NUL is not flagged for names
        {odd, &IniValueEscapes, true, L"a\x01#25\x7f\x00e9\x0101 ~!" + nuls},  // nor anything but "#" and "%"
        {L"D:\\Data\\a#b\x00e9", nullptr, true, L"%drive_D%\\Data\\a#b\x00e9"},
        {L"plain text, no #escapes", nullptr, false, L"plain text, no #escapes"},
        {L"", nullptr, false, L""},
    };
    for (const auto& row : rows) {
        Result r = Encode(row.in, row.escapes);
        EXPECT_EQ(r.changed, row.changed) << testing::Utf8(row.in.c_str());
        EXPECT_EQ(r.text, row.out) << testing::Utf8(row.in.c_str());
    }
    EXPECT_EQ(Decode(rows[0].out).text, rows[0].in);
    Str out = L"stale";
    EXPECT_FALSE(EncodeMachinePath(nullptr, 5, out, &ValueDataEscapes));
    EXPECT_EQ(out.Length(), 0u);
}

TEST(EncodeMachinePath, FoldersAndDrivesTakeWholeComponentsAndDecodeBack) {
    ASSERT_TRUE(BuildTablesOn(TablesMachine::Wow64));
    const std::tuple<std::wstring, const EscapeSet*, std::wstring> rows[] = {
        {L"C:\\Program Files (x86)Extra\\a", nullptr, L"%drive_C%\\Program Files (x86)Extra\\a"},
        {L"C:\\Program Files (x86)\\Common FilesX", nullptr, L"%ProgramFilesDir%\\Common FilesX"},
        {L"C:\\windows /x", nullptr, L"%drive_C%\\windows /x"},
        {L"C:\\windows /x", &ValueNameEscapes, L"%SystemRoot% /x"},
        {L"C:\\windows (1)", &ValueNameEscapes, L"%drive_C%\\windows (1)"},
        {L"C:x", nullptr, L"C:x"},
    };
    for (const auto& [in, escapes, out] : rows) {
        Result e = Encode(in, escapes);
        EXPECT_EQ(e.text, out) << testing::Utf8(in.c_str());
        EXPECT_EQ(e.changed, in != out);
        EXPECT_EQ(Decode(e.text).text, in);
    }
}

TEST(EncodeMachinePath, ShortPathsStoreTheirLongFormAndDecodeToTheShortPath) {
    ASSERT_TRUE(BuildTablesOn(TablesMachine::Wow64));
    // Long names under the 32-bit program folder, so that the short form
    // differs in every component.
    wchar_t name[96];
    swprintf(name, 96, L"\\scancap paths %lu %lu", GetCurrentProcessId(), static_cast<unsigned long>(GetTickCount()));
    const std::wstring top = kProgramFiles + name, app = top + L"\\My Application";
    const std::wstring appTail = std::wstring(name) + L"\\My Application", exeTail = appTail + L"\\a.exe";
    struct Cleanup {
        const std::wstring& top;
        const std::wstring& app;
        ~Cleanup() {
            for (const wchar_t* file : {L"\\a.exe", L"\\LongFileName.txt"}) DeleteFileW((app + file).c_str());
            RemoveDirectoryW(app.c_str());
            RemoveDirectoryW(top.c_str());
        }
    } cleanup{top, app};
    ASSERT_TRUE(CreateDirectoryW(top.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(app.c_str(), nullptr));
    for (const wchar_t* file : {L"\\a.exe", L"\\LongFileName.txt"})
        testing::WriteFileBytes(Str((app + file).c_str()), "x");
    const std::wstring shortFolder = ShortForm(kProgramFiles), shortApp = ShortForm(app);
    const std::wstring shortExe = ShortForm(app + L"\\a.exe"), url = UrlOf(shortExe);
    ASSERT_EQ(shortExe.compare(0, shortFolder.size(), shortFolder), 0);

    const struct {
        std::wstring in;
        const EscapeSet* escapes;
        std::wstring encoded;
        std::wstring decoded;
    } rows[] = {
        {L"\"" + shortExe + L"\" /s", &ValueDataEscapes,
         L"\"%ProgramFilesDir~" + Hex4(exeTail.size()) + exeTail + L"\" /s", L"\"" + shortExe + L"\" /s"},
        {shortFolder, nullptr, L"%ProgramFilesDir~0000", shortFolder},
        // Only leading short components are counted: the long last one is not.
        {shortApp + L"\\LongFileName.txt", nullptr,
         L"%ProgramFilesDir~" + Hex4(appTail.size()) + appTail + L"\\LongFileName.txt",
         shortApp + L"\\LongFileName.txt"},
        // A file URL round-trips when "/x" makes a last component that counts;
        // "a.exe next" ends the count, and the rest comes back in its long form
        // after the URL of the counted part.
        {url + L" /x", nullptr, L"%ProgramFilesDir*" + Hex4(exeTail.size()) + exeTail + L" /x", url + L" /x"},
        {url + L" next", nullptr, L"%ProgramFilesDir*" + Hex4(appTail.size()) + appTail + L"\\a.exe next",
         UrlOf(shortApp) + L"\\a.exe next"},
        // A missing short path keeps the rest as it stands.
        {shortFolder + L"\\NOSUCH~1\\a#.exe", &ValueNameEscapes, L"%ProgramFilesDir~0000\\NOSUCH~1\\a#23.exe",
         shortFolder + L"\\NOSUCH~1\\a#.exe"},
    };
    for (const auto& row : rows) {
        Result e = Encode(row.in, row.escapes);
        EXPECT_TRUE(e.changed) << testing::Utf8(row.in.c_str());
        EXPECT_EQ(e.text, row.encoded);
        Result d = Decode(e.text);
        EXPECT_TRUE(d.changed) << testing::Utf8(e.text.c_str());
        EXPECT_EQ(d.text, row.decoded);
    }

    // A short path at the very end of the text is read within it.
    const std::tuple<std::wstring, const EscapeSet*, std::wstring> ends[] = {
        {shortApp, &ValueDataEscapes, L"%ProgramFilesDir~" + Hex4(appTail.size()) + appTail},
        {shortFolder, nullptr, L"%ProgramFilesDir~0000"},
        {L"\\??\\D:", nullptr, L"%drive_D%"},
    };
    for (const auto& [in, escapes, encoded] : ends) {
        GuardedText text(in.c_str());
        Str out;
        EXPECT_TRUE(EncodeMachinePath(text.Get(), text.Length(), out, escapes));
        EXPECT_EQ(W(out), encoded);
    }
}

// ---- Decoding ----

TEST(DecodeProjectPath, EscapesDriveAndFolderMacros) {
    ASSERT_TRUE(BuildTablesOn(TablesMachine::Wow64));
    const std::wstring native = W(testing::ReadRegistryText(
        HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion", L"ProgramFilesDir"));
    const struct {
        std::wstring in;
        bool changed;
        std::wstring out;
    } rows[] = {
        // Escapes are decoded when well formed; they alone change nothing.
        {L"#4", false, L"#4"}, {L"#zz", false, L"#zz"}, {L"#41", false, L"A"}, {L"##0101", false, L"\x0101"},
        {L"#4a#4A", false, L"JJ"}, {L"##01", false, L"#\x01"}, {L"##zz41", false, L"##zz41"}, {L"a#", false, L"a#"},
        {L"##00e9x", false, L"\x00e9x"}, {L"#g1#41", false, L"#g1A"}, {L"a#00b", false, std::wstring(L"a\0b", 3)},
        {L"%drive_e%\\x", true, L"e:\\x"}, {L"%DRIVE_Q%", true, L"Q:"},
        {L"%Drive_Q#x", true, L"Q:x"},  // the closing character is not checked
        {L"%drive_Q", false, L"%drive_Q"},
        {L"%programfilesdir%\\a #41 %ProgramFilesDir(x64)%", true, L"C:\\Program Files (x86)\\a A " + native},
        {L"%?ProgramFilesDir%\\a", true, L"C?\\Program Files (x86)\\a"},
        {L"%NoSuchMacro%\\x 100%", false, L"%NoSuchMacro%\\x 100%"},
    };
    for (const auto& row : rows) {
        Result r = Decode(row.in);
        EXPECT_EQ(r.changed, row.changed) << testing::Utf8(row.in.c_str());
        EXPECT_EQ(r.text, row.out) << testing::Utf8(row.in.c_str());
    }
}

TEST(DecodeProjectPath, MalformedShortReferencesAreKeptAndNeverOverread) {
    ASSERT_TRUE(BuildTablesOn(TablesMachine::Wow64));
    for (const wchar_t* c : {L"%ProgramFilesDir~", L"%ProgramFilesDir~0", L"%ProgramFilesDir~001",
                             L"%ProgramFilesDir~zz00", L"%ProgramFilesDir~0005\\ab", L"%ProgramFilesDir*ffff",
                             L"%ProgramFilesDir~000g\\x", L"#", L"##0", L"%drive_", L"%", L"%ProgramFilesDir"}) {
        GuardedText text(c);
        Str out;
        DecodeProjectPath(text.Get(), text.Length(), out);
        EXPECT_EQ(W(out), c);
    }
    // What comes before a malformed reference is still decoded.
    GuardedText prefixed(L"#41%drive_c%\\x %ProgramFilesDir~00ff #41");
    Str out;
    EXPECT_TRUE(DecodeProjectPath(prefixed.Get(), prefixed.Length(), out));
    EXPECT_EQ(W(out), L"Ac:\\x %ProgramFilesDir~00ff #41");
    // A well-formed reference that ends exactly with the text.
    GuardedText exact(L"%ProgramFilesDir~0000");
    EXPECT_TRUE(DecodeProjectPath(exact.Get(), exact.Length(), out));
    EXPECT_EQ(W(out), ShortForm(kProgramFiles));
}

// ---- INI values ----

TEST(EncodeIniValue, EscapesHashAndPercentButKeepsFolderMacros) {
    ASSERT_TRUE(BuildTablesOn(TablesMachine::Wow64));
    const std::pair<const wchar_t*, const wchar_t*> rows[] = {
        {L"100% #1", L"100#25 #231"},
        {L"%AppData%\\x", L"%AppData%\\x"},
        {L"%appdata%", L"%appdata%"},
        {L"%?SystemRoot%\\system32\\a #b", L"%?SystemRoot%\\system32\\a #23b"},
        {L"%drive_C%\\x", L"#25drive_C#25\\x"},
        {L"%AppData%x", L"#25AppData#25x"},
        {L"%ProgramFilesDir~0000\\x", L"#25ProgramFilesDir~0000\\x"},
        {L"\x00e9#\x0101\t", L"\x00e9#23\x0101\t"},
        {L"", L""},
    };
    Str out;
    for (const auto& [in, expected] : rows) {
        out = L"stale";
        EncodeIniValue(in, out);
        EXPECT_EQ(W(out), expected) << testing::Utf8(in);
    }
    GuardedText tail(L"a%AppData%", true);
    EncodeIniValue(tail.Get(), out);
    EXPECT_EQ(W(out), L"a%AppData%");
}

}  // namespace
}  // namespace scancap
