#include "support/name_encoding.h"

#include "common/testing.h"
#include "support/folder_macros.h"
#include "support/folder_macros_machine.h"

#include <gtest/gtest.h>

#include <shlwapi.h>

#include <string>

namespace scancap {
namespace {

using testing::BuildTablesOn;
using testing::GuardedText;
using testing::TablesMachine;

std::wstring W(const Str& s) { return std::wstring(s.c_str(), s.Length()); }

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

std::wstring IniValue(const wchar_t* text) {
    Str out = L"stale";
    EncodeIniValue(text, out);
    return W(out);
}

std::wstring Hex4(size_t n) {
    wchar_t buffer[16];
    swprintf(buffer, 16, L"%04x", static_cast<unsigned>(n));
    return buffer;
}

std::wstring ShortForm(const std::wstring& path) {
    wchar_t buffer[1024];
    DWORD n = GetShortPathNameW(path.c_str(), buffer, 1024);
    EXPECT_GT(n, 0u) << testing::Utf8(path.c_str());
    return std::wstring(buffer, n < 1024 ? n : 0);
}

std::wstring UrlOf(const std::wstring& path) {
    wchar_t url[264];
    DWORD chars = 264;
    EXPECT_EQ(UrlCreateFromPathW(path.c_str(), url, &chars, 0), S_OK);
    return std::wstring(url, chars);
}

const std::wstring kProgramFiles = L"C:\\Program Files (x86)";

// A folder with long names under the 32-bit program folder, so that its
// short form differs in every component.
class ProgramFilesFolder {
public:
    ProgramFilesFolder() {
        wchar_t name[96];
        swprintf(name, 96, L"\\scancap paths %lu %lu", GetCurrentProcessId(),
                 static_cast<unsigned long>(GetTickCount()));
        tail_ = name;
        EXPECT_TRUE(CreateDirectoryW(Top().c_str(), nullptr));
        EXPECT_TRUE(CreateDirectoryW(App().c_str(), nullptr));
        for (const wchar_t* file : {L"\\a.exe", L"\\LongFileName.txt"}) {
            testing::WriteFileBytes(Str((App() + file).c_str()), "x");
        }
    }
    ~ProgramFilesFolder() {
        DeleteFileW((App() + L"\\a.exe").c_str());
        DeleteFileW((App() + L"\\LongFileName.txt").c_str());
        RemoveDirectoryW(App().c_str());
        RemoveDirectoryW(Top().c_str());
    }
    std::wstring Top() const { return kProgramFiles + tail_; }
    std::wstring App() const { return Top() + L"\\My Application"; }
    // The part after the program folder.
    std::wstring Tail(const std::wstring& rest) const { return tail_ + L"\\My Application" + rest; }

private:
    std::wstring tail_;
};

// ---- Fixed sets and the 8.3 test ----

TEST(EscapeSets, FlagExactlyTheListedCodes) {
    for (int c = 0; c < 256; ++c) {
        const bool high = c >= 127;
        const bool hashOrPercent = c == '#' || c == '%';
        EXPECT_EQ(ValueNameEscapes.flagged[c], (c >= 1 && c <= 31) || hashOrPercent || high) << c;
        EXPECT_EQ(ValueDataEscapes.flagged[c], c <= 31 || hashOrPercent || high) << c;
        EXPECT_EQ(IniValueEscapes.flagged[c], hashOrPercent) << c;
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

TEST(EncodeMachinePath, ACommandLineRoundTrips) {
    ASSERT_TRUE(BuildTablesOn(TablesMachine::Wow64));
    const std::wstring line = L"\"C:\\Program Files (x86)\\App\\a.exe\" /s";
    Result e = Encode(line);
    EXPECT_TRUE(e.changed);
    EXPECT_EQ(e.text, L"\"%ProgramFilesDir%\\App\\a.exe\" /s");
    Result d = Decode(e.text);
    EXPECT_TRUE(d.changed);
    EXPECT_EQ(d.text, line);
}

TEST(EncodeMachinePath, FoldersAreFoundAnywhereInAnyCaseAndForm) {
    ASSERT_TRUE(BuildTablesOn(TablesMachine::Wow64));
    EXPECT_EQ(Encode(L"c:\\program files (x86)\\a").text, L"%ProgramFilesDir%\\a");
    EXPECT_EQ(Encode(L"x;C:\\Program Files (x86)\\Common Files\\b;y").text, L"x;%Program Files Common%\\b;y");
    EXPECT_EQ(Encode(L"\\??\\C:\\Program Files (x86)\\a").text, L"%ProgramFilesDir%\\a");
    EXPECT_EQ(Encode(L"C?\\Program Files (x86)\\a").text, L"%?ProgramFilesDir%\\a");
    // Matching does not wait for a separator.
    EXPECT_EQ(Encode(L"C:\\Program Files (x86)Extra").text, L"%ProgramFilesDir%Extra");
    Result both = Encode(L"C:\\Program Files (x86)\\a C:\\Program Files (x86)\\b", &ValueDataEscapes);
    EXPECT_EQ(both.text, L"%ProgramFilesDir%\\a %ProgramFilesDir%\\b");
}

TEST(EncodeMachinePath, DrivesWithoutAFolderGetADriveMacro) {
    ASSERT_TRUE(BuildTablesOn(TablesMachine::Wow64));
    Result r = Encode(L"D:\\Data\\x.txt");
    EXPECT_TRUE(r.changed);
    EXPECT_EQ(r.text, L"%drive_D%\\Data\\x.txt");
    r = Encode(L"\\??\\D:\\Data");
    EXPECT_TRUE(r.changed);
    EXPECT_EQ(r.text, L"%drive_D%\\Data");
    r = Encode(L"q:", &ValueNameEscapes);
    EXPECT_TRUE(r.changed);
    EXPECT_EQ(r.text, L"%drive_q%");
    EXPECT_EQ(Encode(L"\\??\\q:").text, L"%drive_q%");

    for (const wchar_t* plain : {L"1:\\x", L"D", L"\\??\\D", L"\\??\\1:\\x", L"relative\\D:\\x", L"\\\\server\\share"}) {
        r = Encode(plain);
        EXPECT_FALSE(r.changed) << testing::Utf8(plain);
        EXPECT_EQ(r.text, plain);
    }
}

TEST(EncodeMachinePath, EscapesFollowTheSetAndSuppressTheDriveMacro) {
    ASSERT_TRUE(BuildTablesOn(TablesMachine::Wow64));
    Result r = Encode(L"D:\\Data\\a#b", &ValueNameEscapes);
    EXPECT_TRUE(r.changed);
    EXPECT_EQ(r.text, L"D:\\Data\\a#23b");

    const std::wstring nuls(2, L'\0');
    const std::wstring odd = L"a\x01%\x7f\x00e9\x0101 ~!" + nuls;
    r = Encode(odd, &ValueDataEscapes);
    EXPECT_TRUE(r.changed);
    EXPECT_EQ(r.text, L"a#01#25#7f#e9##0101 ~!#00#00");
    r = Encode(odd, &ValueNameEscapes);  // NUL is not flagged for names
    EXPECT_EQ(r.text, L"a#01#25#7f#e9##0101 ~!" + nuls);
    r = Encode(odd, &IniValueEscapes);  // nor anything but "#" and "%" for INI values
    EXPECT_EQ(r.text, L"a\x01#25\x7f\x00e9\x0101 ~!" + nuls);

    r = Encode(L"D:\\Data\\a#b\x00e9");
    EXPECT_TRUE(r.changed);
    EXPECT_EQ(r.text, L"%drive_D%\\Data\\a#b\x00e9");
    r = Encode(L"plain text, no #escapes");
    EXPECT_FALSE(r.changed);
    EXPECT_EQ(r.text, L"plain text, no #escapes");
}

TEST(EncodeMachinePath, EmptyOrAbsentInputGivesNothing) {
    Str out = L"stale";
    EXPECT_FALSE(EncodeMachinePath(nullptr, 5, out, &ValueDataEscapes));
    EXPECT_EQ(out.Length(), 0u);
    out = L"stale";
    EXPECT_FALSE(EncodeMachinePath(L"C:\\x", 0, out, nullptr));
    EXPECT_EQ(out.Length(), 0u);
}

TEST(EncodeMachinePath, AShortPathStoresItsLongFormAndDecodesToTheShortPath) {
    ASSERT_TRUE(BuildTablesOn(TablesMachine::Wow64));
    ProgramFilesFolder folder;
    const std::wstring longPath = folder.App() + L"\\a.exe";
    const std::wstring shortPath = ShortForm(longPath);
    const std::wstring shortFolder = ShortForm(kProgramFiles);
    ASSERT_EQ(shortPath.compare(0, shortFolder.size(), shortFolder), 0);

    const std::wstring tail = folder.Tail(L"\\a.exe");
    Result e = Encode(L"\"" + shortPath + L"\" /s", &ValueDataEscapes);
    EXPECT_TRUE(e.changed);
    EXPECT_EQ(e.text, L"\"%ProgramFilesDir~" + Hex4(tail.size()) + tail + L"\" /s");
    Result d = Decode(e.text);
    EXPECT_TRUE(d.changed);
    EXPECT_EQ(d.text, L"\"" + shortPath + L"\" /s");

    // The folder alone.
    e = Encode(shortFolder);
    EXPECT_EQ(e.text, L"%ProgramFilesDir~0000");
    EXPECT_EQ(Decode(e.text).text, shortFolder);
}

TEST(EncodeMachinePath, OnlyLeadingShortComponentsAreCounted) {
    ASSERT_TRUE(BuildTablesOn(TablesMachine::Wow64));
    ProgramFilesFolder folder;
    // The last component is long already; the count stops before it.
    const std::wstring shortApp = ShortForm(folder.App());
    const std::wstring input = shortApp + L"\\LongFileName.txt";
    const std::wstring counted = folder.Tail(L"");
    Result e = Encode(input);
    EXPECT_EQ(e.text, L"%ProgramFilesDir~" + Hex4(counted.size()) + counted + L"\\LongFileName.txt");
    EXPECT_EQ(Decode(e.text).text, input);
}

TEST(EncodeMachinePath, AFileUrlOfAShortPathRoundTripsWhenEveryComponentCounts) {
    ASSERT_TRUE(BuildTablesOn(TablesMachine::Wow64));
    ProgramFilesFolder folder;
    const std::wstring url = UrlOf(ShortForm(folder.App() + L"\\a.exe"));
    const std::wstring tail = folder.Tail(L"\\a.exe");
    // "/x" makes a last component that passes, so the count covers the path.
    Result e = Encode(url + L" /x");
    EXPECT_TRUE(e.changed);
    EXPECT_EQ(e.text, L"%ProgramFilesDir*" + Hex4(tail.size()) + tail + L" /x");
    EXPECT_EQ(Decode(e.text).text, url + L" /x");

    // Here "a.exe next" ends the count: the rest is stored and given back in
    // its long form, after the URL of the counted part.
    const std::wstring counted = folder.Tail(L"");
    e = Encode(url + L" next");
    EXPECT_EQ(e.text, L"%ProgramFilesDir*" + Hex4(counted.size()) + counted + L"\\a.exe next");
    EXPECT_EQ(Decode(e.text).text, UrlOf(ShortForm(folder.App())) + L"\\a.exe next");
}

TEST(EncodeMachinePath, AMissingShortPathKeepsTheRestAsItStands) {
    ASSERT_TRUE(BuildTablesOn(TablesMachine::Wow64));
    const std::wstring shortFolder = ShortForm(kProgramFiles);
    const std::wstring missing = shortFolder + L"\\NOSUCH~1\\a#.exe";
    Result e = Encode(missing, &ValueNameEscapes);
    EXPECT_TRUE(e.changed);
    EXPECT_EQ(e.text, L"%ProgramFilesDir~0000\\NOSUCH~1\\a#23.exe");
    EXPECT_EQ(Decode(e.text).text, missing);
}

TEST(EncodeMachinePath, AShortPathAtTheVeryEndOfTheTextIsReadWithinIt) {
    ASSERT_TRUE(BuildTablesOn(TablesMachine::Wow64));
    ProgramFilesFolder folder;
    const std::wstring shortApp = ShortForm(folder.App());
    GuardedText text(shortApp.c_str());
    Str out;
    EXPECT_TRUE(EncodeMachinePath(text.Get(), text.Length(), out, &ValueDataEscapes));
    const std::wstring tail = folder.Tail(L"");
    EXPECT_EQ(W(out), L"%ProgramFilesDir~" + Hex4(tail.size()) + tail);
    GuardedText folderOnly(ShortForm(kProgramFiles).c_str());
    EXPECT_TRUE(EncodeMachinePath(folderOnly.Get(), folderOnly.Length(), out, nullptr));
    EXPECT_EQ(W(out), L"%ProgramFilesDir~0000");
    GuardedText drive(L"\\??\\D:");
    EXPECT_TRUE(EncodeMachinePath(drive.Get(), drive.Length(), out, nullptr));
    EXPECT_EQ(W(out), L"%drive_D%");
}

// ---- Decoding ----

TEST(DecodeProjectPath, EscapesAreDecodedWhenWellFormed) {
    ASSERT_TRUE(BuildTablesOn(TablesMachine::Wow64));
    struct Case {
        const wchar_t* in;
        const wchar_t* out;
    } cases[] = {
        {L"#4", L"#4"},          {L"#zz", L"#zz"},       {L"#41", L"A"},        {L"##0101", L"\x0101"},
        {L"#4a#4A", L"JJ"},      {L"##01", L"#\x01"},    {L"##zz41", L"##zz41"}, {L"a#", L"a#"},
        {L"##00e9x", L"\x00e9x"}, {L"#g1#41", L"#g1A"},
    };
    for (const Case& c : cases) {
        Result r = Decode(c.in);
        EXPECT_FALSE(r.changed) << testing::Utf8(c.in);
        EXPECT_EQ(r.text, c.out) << testing::Utf8(c.in);
    }
    Result nul = Decode(L"a#00b");
    EXPECT_EQ(nul.text, std::wstring(L"a\0b", 3));
}

TEST(DecodeProjectPath, DriveAndFolderMacrosAreReplaced) {
    ASSERT_TRUE(BuildTablesOn(TablesMachine::Wow64));
    Result r = Decode(L"%drive_e%\\x");
    EXPECT_TRUE(r.changed);
    EXPECT_EQ(r.text, L"e:\\x");
    EXPECT_EQ(Decode(L"%DRIVE_Q%").text, L"Q:");
    EXPECT_EQ(Decode(L"%Drive_Q#x").text, L"Q:x");  // the closing character is not checked
    r = Decode(L"%drive_Q");
    EXPECT_FALSE(r.changed);
    EXPECT_EQ(r.text, L"%drive_Q");

    r = Decode(L"%programfilesdir%\\a #41 %ProgramFilesDir(x64)%");
    EXPECT_TRUE(r.changed);
    const Str native = testing::ReadRegistryText(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion",
                                                 L"ProgramFilesDir");
    EXPECT_EQ(r.text, L"C:\\Program Files (x86)\\a A " + W(native));
    EXPECT_EQ(Decode(L"%?ProgramFilesDir%\\a").text, L"C?\\Program Files (x86)\\a");

    r = Decode(L"%NoSuchMacro%\\x 100%");
    EXPECT_FALSE(r.changed);
    EXPECT_EQ(r.text, L"%NoSuchMacro%\\x 100%");
}

TEST(DecodeProjectPath, MalformedShortReferencesAreKeptAndNeverOverread) {
    ASSERT_TRUE(BuildTablesOn(TablesMachine::Wow64));
    const wchar_t* cases[] = {
        L"%ProgramFilesDir~",      L"%ProgramFilesDir~0",     L"%ProgramFilesDir~001",
        L"%ProgramFilesDir~zz00",  L"%ProgramFilesDir~0005\\ab", L"%ProgramFilesDir*ffff",
        L"%ProgramFilesDir~000g\\x", L"#",                   L"##0",
        L"%drive_",                L"%",                     L"%ProgramFilesDir",
    };
    for (const wchar_t* c : cases) {
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
    EXPECT_EQ(IniValue(L"100% #1"), L"100#25 #231");
    EXPECT_EQ(IniValue(L"%AppData%\\x"), L"%AppData%\\x");
    EXPECT_EQ(IniValue(L"%appdata%"), L"%appdata%");
    EXPECT_EQ(IniValue(L"%?SystemRoot%\\system32\\a #b"), L"%?SystemRoot%\\system32\\a #23b");
    EXPECT_EQ(IniValue(L"%drive_C%\\x"), L"#25drive_C#25\\x");
    EXPECT_EQ(IniValue(L"%AppData%x"), L"#25AppData#25x");
    EXPECT_EQ(IniValue(L"%ProgramFilesDir~0000\\x"), L"#25ProgramFilesDir~0000\\x");
    EXPECT_EQ(IniValue(L"\x00e9#\x0101\t"), L"\x00e9#23\x0101\t");
    EXPECT_EQ(IniValue(L""), L"");
    GuardedText tail(L"a%AppData%", true);
    Str out;
    EncodeIniValue(tail.Get(), out);
    EXPECT_EQ(W(out), L"a%AppData%");
}

}  // namespace
}  // namespace scancap
