#include "project/registry_text.h"

#include "common/testing.h"
#include "project/fake_exclude_list.h"
#include "project/key_tree_builder.h"
#include "project/overrides.h"
#include "support/folder_macros.h"
#include "support/handles.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

namespace scancap {
namespace {

using testing::BuildRegistry;
using testing::Dword;
using testing::FakeExcludeList;
using testing::Sz;
using testing::SzData;
using testing::TempDir;
using testing::TestKey;
using testing::TestValue;
using testing::Utf8;

std::string U8(const std::wstring& s) { return Utf8(s.c_str(), s.size()); }

const wchar_t kOne[] = L"  REG_DWORD=#01#00#00#00\r\n";

class RegistryTextTest : public ::testing::Test {
protected:
    void SetUp() override {
        InitFolderMacros();
        run.excludeList = exclude;
        run.outputDir = dir.Path();
    }

    // One registry pass; the text of one hive's file after checking its
    // byte-order mark.
    std::wstring Write(const wchar_t* hive, const std::vector<Str>& path = {}) {
        WriteRegistryFiles(run, post, pre, path);
        return Read(hive);
    }
    std::wstring Read(const wchar_t* hive) {
        std::string bytes = testing::ReadFileBytes(dir / (std::wstring(hive) + L".txt").c_str());
        EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
        EXPECT_EQ(bytes.size() % 2, 0u);
        std::wstring text;
        for (size_t i = 2; i + 1 < bytes.size(); i += 2)
            text.push_back(static_cast<wchar_t>(uint8_t(bytes[i]) | (uint8_t(bytes[i + 1]) << 8)));
        return text;
    }

    TempDir dir;
    std::unique_ptr<FakeExcludeList> fake = std::make_unique<FakeExcludeList>();
    FakeExcludeList* exclude = fake.get();
    ProjectRun run;
    SnapshotStore post;
    SnapshotStore pre;
};

TEST_F(RegistryTextTest, ValueFormsOfANewKey) {
    wchar_t windows[MAX_PATH];
    UINT n = GetWindowsDirectoryW(windows, MAX_PATH);
    ASSERT_GT(n, 0u);

    TestKey root{L"HKEY_LOCAL_MACHINE", {}, {{L"Software", {}, {}}}};
    BuildRegistry(pre, {root});
    root.subkeys[0].subkeys.push_back(TestKey{
        L"Test",
        {
            Sz(L"", L"abc"),
            Sz(L"Empty", L""),
            Dword(L"a%b", 1),
            TestValue{L"with space", REG_BINARY, ""},
            TestValue{L"odd", 20, std::string("\x01\xff", 2)},
            TestValue{L"tab\tname", REG_SZ, SzData(L"x#y")},
            TestValue{L"multi", REG_MULTI_SZ, SzData(std::wstring(L"a\0b\0", 4))},
            TestValue{L"path", REG_EXPAND_SZ, SzData(std::wstring(windows, n) + L"\\zz.txt")},
            TestValue{L"lines", REG_SZ, std::string("\x0d\x00\x0a\x00", 4)},  // CR LF, no terminator
            TestValue{L"q", REG_QWORD, std::string("\x10\x32\x54\x76\x98\xba\xdc\xfe", 8)},
            TestValue{L"ucs", REG_SZ, SzData(L"\x00e9\x0101")},
            TestValue{L"raw", REG_NONE, std::string("\x00\x23\x0a", 3)},
            // String data is read as whole code units: an odd last byte is dropped.
            TestValue{L"oddSz", REG_SZ, std::string("a\0b", 3)},
            TestValue{L"oddNul", REG_EXPAND_SZ, std::string("a\0\0\0x", 5)},
            TestValue{L"one", REG_MULTI_SZ, std::string("b", 1)},
            // Empty up to its terminator: literal, text after it and all.
            TestValue{L"z", REG_SZ, std::string("\0\0a\0\0\0", 6)},
        },
        {}});
    BuildRegistry(post, {root});

    EXPECT_EQ(U8(Write(L"HKEY_LOCAL_MACHINE")),
              U8(L"isolation_full HKEY_LOCAL_MACHINE\\Software\\Test\r\n"
                 L"  Value=\r\n  REG_SZ~abc#2300\r\n"
                 L"  Value=Empty\r\n  REG_SZ=#00\r\n"
                 L"  Value~a#2325b\r\n  REG_DWORD=#01#00#00#00\r\n"
                 L"  Value=with space\r\n  REG_BINARY=\r\n"
                 L"  Value=odd\r\n  20=#01#ff\r\n"
                 L"  Value~tab#2309name\r\n  REG_SZ~x#2323y#2300\r\n"
                 L"  Value=multi\r\n  REG_MULTI_SZ~a#2300b#2300#2300\r\n"
                 L"  Value=path\r\n  REG_EXPAND_SZ~%SystemRoot%\\zz.txt#2300\r\n"
                 L"  Value=lines\r\n  REG_SZ~#230d#230a\r\n"
                 L"  Value=q\r\n  REG_QWORD=#10#32#54#76#98#ba#dc#fe\r\n"
                 L"  Value=ucs\r\n  REG_SZ~#23e9#23#230101#2300\r\n"
                 L"  Value=raw\r\n  REG_NONE=#00#23#0a\r\n"
                 L"  Value=oddSz\r\n  REG_SZ=a\r\n"
                 L"  Value=oddNul\r\n  REG_EXPAND_SZ~a#2300\r\n"
                 L"  Value=one\r\n  REG_MULTI_SZ=\r\n"
                 L"  Value=z\r\n  REG_SZ=#00a#00\r\n"
                 L"\r\n"));
}

TEST_F(RegistryTextTest, LargeValues) {
    std::string blob;
    for (int i = 0; i < 300000; ++i) blob.push_back(static_cast<char>(i * 7));
    std::wstring longText(100000, L'x');
    longText[50000] = L'#';
    TestKey root{L"HKEY_CURRENT_USER", {}, {}};
    BuildRegistry(pre, {root});
    root.values = {TestValue{L"blob", REG_BINARY, blob}, Sz(L"long", longText)};
    BuildRegistry(post, {root});

    std::wstring expected = L"isolation_writecopy HKEY_CURRENT_USER\r\n  Value=blob\r\n  REG_BINARY=";
    for (unsigned char b : blob) {
        expected += L'#';
        expected += L"0123456789abcdef"[b >> 4];
        expected += L"0123456789abcdef"[b & 15];
    }
    expected += L"\r\n  Value=long\r\n  REG_SZ~" + std::wstring(50000, L'x') + L"#2323" +
                std::wstring(49999, L'x') + L"#2300\r\n\r\n";
    std::wstring text = Write(L"HKEY_CURRENT_USER");
    ASSERT_EQ(text.size(), expected.size());
    EXPECT_TRUE(text == expected);
}

TEST_F(RegistryTextTest, DataOutsideTheArenaIsWrittenAsEmpty) {
    TestKey root{L"HKEY_CURRENT_USER", {}, {}};
    BuildRegistry(pre, {root});
    root.values = {Dword(L"lost", 7), Sz(L"lostText", L"abc"), Dword(L"kept", 1)};
    BuildRegistry(post, {root});
    // A damaged snapshot: the first two values point past the end of the arena.
    RegKeyRecord key;
    ASSERT_TRUE(post.ReadKey(post.RegistryRoot(0), key));
    for (uint32_t i = 0; i < 2; ++i) {
        RegValueRecord value;
        ASSERT_TRUE(post.ReadValue(post.ValueAt(key, i), value));
        value.dataOffset = post.Used() - 1;
        post.Write(post.ValueAt(key, i), value);
    }

    EXPECT_EQ(U8(Write(L"HKEY_CURRENT_USER")),
              U8(L"isolation_writecopy HKEY_CURRENT_USER\r\n"
                 L"  Value=lost\r\n  REG_DWORD=\r\n"
                 L"  Value=lostText\r\n  REG_SZ=\r\n"
                 L"  Value=kept\r\n" + std::wstring(kOne) + L"\r\n"));
}

// One tree that exercises every classification of the key rules.
TEST_F(RegistryTextTest, KeyRulesClassifyEachKey) {
    TestKey root{L"HKEY_LOCAL_MACHINE",
                 {},
                 {
                     {L"Same", {Dword(L"d", 1)}, {}},
                     {L"Changed", {Dword(L"u", 1), Dword(L"v", 1), Dword(L"t", 1), Sz(L"s", L"ab")}, {}},
                     {L"Forced", {Dword(L"a", 1)}, {{L"Child", {Dword(L"c", 1)}, {}}}},
                     {L"Tree", {Dword(L"a", 1)}, {{L"Child", {Dword(L"c", 1)}, {}}}},
                     {L"Gone", {Dword(L"a", 1)}, {}},
                     {L"Ignored", {}, {}},
                     {L"A", {}, {{L"B", {Dword(L"b", 1)}, {{L"C", {Dword(L"c", 1)}, {}}}}}},
                 }};
    BuildRegistry(pre, {root});
    std::vector<TestKey>& keys = root.subkeys;
    keys[0].subkeys.push_back({L"NewChild", {}, {}});
    keys[1].values = {Dword(L"u", 1), Dword(L"v", 2), TestValue{L"t", REG_BINARY, testing::DwordData(1)},
                      Sz(L"s", L"abc")};
    keys[4].subkeys.push_back({L"NewBelowGone", {Dword(L"n", 1)}, {}});
    keys[5].subkeys.push_back({L"NewIgnored", {Dword(L"i", 1)}, {}});
    keys.push_back({L"ListedButIgnored", {}, {}});
    keys.push_back({L"KeptWriteCopy", {Dword(L"w", 1)}, {}});
    BuildRegistry(post, {root});

    exclude->ignoredKeys = {L"HKEY_LOCAL_MACHINE\\Ignored", L"HKEY_LOCAL_MACHINE\\ListedButIgnored"};
    exclude->forcedWriteCopy = {L"HKEY_LOCAL_MACHINE\\KeptWriteCopy"};
    SetKeyOverride(run, Str(L"HKEY_LOCAL_MACHINE\\Forced"), 0);
    SetKeyOverride(run, Str(L"HKEY_LOCAL_MACHINE\\Tree"), kKeySubkeys | kKeyWriteCopy);
    SetKeyOverride(run, Str(L"HKEY_LOCAL_MACHINE\\Gone"), kKeyDeleted);
    SetKeyOverride(run, Str(L"HKEY_LOCAL_MACHINE\\ListedButIgnored"), kKeyWriteCopy);
    SetKeyOverride(run, Str(L"HKEY_LOCAL_MACHINE\\A"), kKeySubkeys);
    SetKeyOverride(run, Str(L"HKEY_LOCAL_MACHINE\\A\\B"), kKeyWriteCopy);

    const std::wstring one = kOne;
    EXPECT_EQ(U8(Write(L"HKEY_LOCAL_MACHINE")),
              // Same: unchanged and not written, but its new subkey is: a
              // header and an empty body.
              U8(L"isolation_full HKEY_LOCAL_MACHINE\\Same\\NewChild\r\n\r\n"
                 // Changed: only the values whose data, type or size differ.
                 L"isolation_writecopy HKEY_LOCAL_MACHINE\\Changed\r\n"
                 L"  Value=v\r\n  REG_DWORD=#02#00#00#00\r\n"
                 L"  Value=t\r\n  REG_BINARY=#01#00#00#00\r\n"
                 L"  Value=s\r\n  REG_SZ~abc#2300\r\n\r\n"
                 // Forced without the subkey bit: every value, but not its child.
                 L"isolation_full HKEY_LOCAL_MACHINE\\Forced\r\n  Value=a\r\n" + one + L"\r\n"
                 // Forced with the subkey bit: the child too, with the key's isolation.
                 L"isolation_writecopy HKEY_LOCAL_MACHINE\\Tree\r\n  Value=a\r\n" + one + L"\r\n"
                 L"isolation_writecopy HKEY_LOCAL_MACHINE\\Tree\\Child\r\n  Value=c\r\n" + one + L"\r\n"
                 // Deleted: no values, nothing below it is visited, and the
                 // path is spelled as the override table holds it.
                 L"deleted HKEY_LOCAL_MACHINE\\GONE\r\n\r\n"
                 // A listed child of a subtree-forced key decides for its own
                 // subkeys.
                 L"isolation_full HKEY_LOCAL_MACHINE\\A\r\n\r\n"
                 L"isolation_writecopy HKEY_LOCAL_MACHINE\\A\\B\r\n  Value=b\r\n" + one + L"\r\n"
                 // A listed key is written even where the exclusion list ignores it.
                 L"isolation_writecopy HKEY_LOCAL_MACHINE\\ListedButIgnored\r\n\r\n"
                 // A new key under a forced write-copy location keeps the inherited mode.
                 L"isolation_writecopy HKEY_LOCAL_MACHINE\\KeptWriteCopy\r\n  Value=w\r\n" + one + L"\r\n"));
    // Every override the walk reached is used up.
    EXPECT_TRUE(run.includedKeys.empty());
}

TEST_F(RegistryTextTest, LeftoverOverridesAfterTheWalk) {
    TestKey root{L"HKEY_LOCAL_MACHINE", {}, {{L"Present", {Dword(L"p", 1)}, {}}}};
    BuildRegistry(pre, {root});
    BuildRegistry(post, {root});
    SetKeyOverride(run, Str(L"HKEY_LOCAL_MACHINE\\Missing\\Kept"), kKeyLeftover);
    SetKeyOverride(run, Str(L"HKEY_LOCAL_MACHINE\\Missing\\WriteCopy"), kKeyLeftover | kKeyWriteCopy);
    SetKeyOverride(run, Str(L"HKEY_LOCAL_MACHINE\\Missing\\Del"), kKeyDeleted);
    SetKeyOverride(run, Str(L"HKEY_LOCAL_MACHINE\\Missing\\Nothing"), kKeyWriteCopy | kKeySubkeys);
    SetKeyOverride(run, Str(L"HKEY_CURRENT_USER\\Other"), kKeyLeftover);

    // Map order: shorter paths first, then code unit by code unit; paths in
    // the upper case under which they are held.
    EXPECT_EQ(U8(Write(L"HKEY_LOCAL_MACHINE")),
              U8(L"deleted HKEY_LOCAL_MACHINE\\MISSING\\DEL\r\n\r\n"
                 L"isolation_full HKEY_LOCAL_MACHINE\\MISSING\\KEPT\r\n\r\n"
                 L"isolation_writecopy HKEY_LOCAL_MACHINE\\MISSING\\WRITECOPY\r\n\r\n"));
    // Leftovers stay in the table.
    EXPECT_EQ(run.includedKeys.size(), 5u);
}

TEST_F(RegistryTextTest, VirtualPathAndPackageSettingsGoIntoTheMachineFileOnly) {
    BuildRegistry(pre, {TestKey{L"HKEY_LOCAL_MACHINE", {}, {}}, TestKey{L"HKEY_CURRENT_USER", {}, {}}});
    BuildRegistry(post, {TestKey{L"HKEY_LOCAL_MACHINE", {}, {}}, TestKey{L"HKEY_CURRENT_USER", {}, {}}});
    run.upgrade.ieUpgrade6To7 = true;
    run.upgrade.ieUpgradeTo7To9 = true;
    PackageSetting(run, Str(L"SystemOverrides")) = L"REG_SZ=from a template";
    PackageSetting(run, Str(L"Zeta")) = L"REG_DWORD=#02#00#00#00";

    EXPECT_EQ(
        U8(Write(L"HKEY_LOCAL_MACHINE", {Str(L"\\\\server\\tools"), Str(L"\\\\server\\bin")})),
        U8(L"isolation_writecopy HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment\r\n"
           L"  Value=VirtualPath\r\n  REG_SZ=\\\\server\\tools;\\\\server\\bin#00\r\n\r\n"
           L"isolation_full HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvern, Inc.\\Ostrel\\PackageSettings\r\n"
           L"  Value=Zeta\r\n  REG_DWORD=#02#00#00#00\r\n"
           L"  Value=SystemOverrides\r\n  REG_SZ~%SystemSystem%\\browseui.dll;%SystemSystem%\\browselc.dll;"
           L"%SystemSystem%\\shdocvw.dll;%SystemSystem%\\shlwapi.dll;%SystemSystem%\\shell32.dll#2300\r\n"
           L"  Value=IEIgnoreUserMessage705\r\n" + std::wstring(kOne) +
           L"  Value=IE7DisableProtectedMode\r\n" + kOne + L"\r\n"));
    EXPECT_EQ(U8(Read(L"HKEY_CURRENT_USER")), "");
}

TEST_F(RegistryTextTest, VirtualPathTakesTheEncodedFormWhenAnythingWasReplaced) {
    BuildRegistry(pre, {TestKey{L"HKEY_LOCAL_MACHINE", {}, {}}});
    BuildRegistry(post, {TestKey{L"HKEY_LOCAL_MACHINE", {}, {}}});
    // The "#" is escaped by the inner encoding only; this entry gets no outer
    // escaping and no terminator.
    EXPECT_EQ(U8(Write(L"HKEY_LOCAL_MACHINE", {Str(L"Q:\\Tools"), Str(L"Q:\\a#b")})),
              U8(L"isolation_writecopy HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\"
                 L"Environment\r\n  Value=VirtualPath\r\n  REG_SZ~Q:\\Tools;Q:\\a#23b\r\n\r\n"));
}

// The hive name is spelled as the snapshot stores it, in the file name and
// in every key the walk writes; the fixed entries still go to the machine
// hive's file, after the walk and its leftovers.
TEST_F(RegistryTextTest, HiveSpelledAsStored) {
    TestKey root{L"hkey_local_machine\\Software", {}, {{L"Old", {Dword(L"v", 1)}, {}}}};
    BuildRegistry(pre, {root});
    root.subkeys.push_back(TestKey{L"New", {}, {}});
    BuildRegistry(post, {root});
    SetKeyOverride(run, Str(L"HKEY_LOCAL_MACHINE\\Software\\Listed"), kKeyLeftover);
    SetKeyOverride(run, Str(L"hkey_local_machine\\Software\\Old"), kKeyWriteCopy);
    PackageSetting(run, Str(L"A")) = L"REG_SZ~x#2300";

    EXPECT_EQ(U8(Write(L"hkey_local_machine", {Str(L"\\\\host\\bin")})),
              U8(L"isolation_writecopy hkey_local_machine\\Software\\Old\r\n  Value=v\r\n" + std::wstring(kOne) +
                 L"\r\n"
                 L"isolation_full hkey_local_machine\\Software\\New\r\n\r\n"
                 L"isolation_full HKEY_LOCAL_MACHINE\\SOFTWARE\\LISTED\r\n\r\n"
                 L"isolation_writecopy HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\"
                 L"Environment\r\n  Value=VirtualPath\r\n  REG_SZ=\\\\host\\bin#00\r\n\r\n"
                 L"isolation_full HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvern, Inc.\\Ostrel\\PackageSettings\r\n"
                 L"  Value=A\r\n  REG_SZ~x#2300\r\n\r\n"));
    WIN32_FIND_DATAW found;
    FindHandle find(FindFirstFileW((dir / L"HKEY_LOCAL_MACHINE.txt").c_str(), &found));
    ASSERT_TRUE(find);
    EXPECT_EQ(Utf8(found.cFileName), "hkey_local_machine.txt");
}

TEST_F(RegistryTextTest, RootsBelowAHive) {
    // The first root of a hive writes its whole tree.
    BuildRegistry(pre, {});
    TestKey first{L"HKEY_USERS\\S-1-5-21-1", {Dword(L"x", 1)}, {{L"Sub", {}, {}}}};
    BuildRegistry(post, {first});
    EXPECT_EQ(U8(Write(L"HKEY_USERS")),
              U8(L"isolation_full HKEY_USERS\\S-1-5-21-1\r\n  Value=x\r\n" + std::wstring(kOne) + L"\r\n"
                 L"isolation_full HKEY_USERS\\S-1-5-21-1\\Sub\r\n\r\n"));

    // A second root of the same hive: its file replaces the first one's.
    SnapshotStore two;
    BuildRegistry(two, {first, TestKey{L"HKEY_USERS\\S-1-5-21-2", {}, {}}});
    WriteRegistryFiles(run, two, pre, {});
    EXPECT_EQ(U8(Read(L"HKEY_USERS")), U8(L"isolation_full HKEY_USERS\\S-1-5-21-2\r\n\r\n"));
}

TEST_F(RegistryTextTest, UnknownHiveAndUncreatableFileAreFatal) {
    auto fatal = [&](const Str& outputDir) -> std::string {
        try {
            run.outputDir = outputDir;
            WriteRegistryFiles(run, post, pre, {});
        } catch (const Str& message) {
            return Utf8(message);
        }
        return "no fatal error";
    };
    BuildRegistry(pre, {});
    BuildRegistry(post, {TestKey{L"HKEY_CURRENT_USER", {}, {}}, TestKey{L"HKEY_CLASSES_ROOT", {}, {}}});
    Str missing = dir / L"no\\such";
    EXPECT_EQ(fatal(missing), "Unable to create file " + Utf8(missing) + "\\HKEY_CURRENT_USER.txt");
    EXPECT_EQ(fatal(dir.Path()), "Unknown registry base subkey HKEY_CLASSES_ROOT");
}

TEST_F(RegistryTextTest, BrowserUpgradeForcesListedKeysWithFullIsolation) {
    TestKey root{L"HKEY_CURRENT_USER", {}, {{L"Ie", {Dword(L"a", 1)}, {}}, {L"Other", {Dword(L"a", 1)}, {}}}};
    BuildRegistry(pre, {root});
    BuildRegistry(post, {root});
    exclude->ie6To7Keys = {L"HKEY_CURRENT_USER\\Ie", L"HKEY_CURRENT_USER\\Other"};
    EXPECT_EQ(U8(Write(L"HKEY_CURRENT_USER")), "");

    run.upgrade.ieUpgrade6To7 = true;
    EXPECT_EQ(U8(Write(L"HKEY_CURRENT_USER")),
              U8(L"isolation_full HKEY_CURRENT_USER\\Ie\r\n  Value=a\r\n" + std::wstring(kOne) + L"\r\n" +
                 L"isolation_full HKEY_CURRENT_USER\\Other\r\n  Value=a\r\n" + kOne + L"\r\n"));
}

// Standard output of `run`, through a file.
std::string CaptureStdout(const Str& path, const std::function<void()>& run) {
    HANDLE saved = GetStdHandle(STD_OUTPUT_HANDLE);
    {
        FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        EXPECT_TRUE(file);
        SetStdHandle(STD_OUTPUT_HANDLE, file.get());
        try {
            run();
        } catch (...) {
            SetStdHandle(STD_OUTPUT_HANDLE, saved);
            throw;
        }
        SetStdHandle(STD_OUTPUT_HANDLE, saved);
    }
    return testing::ReadFileBytes(path);
}

TEST_F(RegistryTextTest, NewKernelModeServiceWarns) {
    auto services = [](std::vector<TestKey> list) {
        return TestKey{L"HKEY_LOCAL_MACHINE",
                       {},
                       {{L"SYSTEM", {}, {{L"CurrentControlSet", {}, {{L"Services", {}, std::move(list)}}}}}}};
    };
    BuildRegistry(pre, {services({{L"Old", {Dword(L"Type", 0x10)}, {}}})});
    BuildRegistry(post, {services({
                            {L"Old", {Dword(L"Type", 1)}, {}},  // existing service: not new
                            {L"MyDrv", {Dword(L"type", 1), Sz(L"DisplayName", L"My Driver")}, {}},
                            {L"NoName",
                             {TestValue{L"DisplayName", REG_EXPAND_SZ, SzData(L"expandable")}, Dword(L"Type", 2)},
                             {{L"Parameters", {Dword(L"Type", 1)}, {}}}},  // not a service key itself
                            {L"OwnProcess", {Dword(L"Type", 0x10)}, {}},
                            {L"SharedProcess", {Dword(L"Type", 0x20)}, {}},
                            {L"NotDword", {TestValue{L"Type", REG_BINARY, testing::DwordData(1)}}, {}},
                            {L"ListedDrv", {Dword(L"Type", 2)}, {}},
                            {L"KeptDrv", {Dword(L"Type", 1)}, {}},
                        })});
    // A new key is Full before its override gives it WriteCopy, so a listed
    // driver still warns; a forced write-copy location keeps it from being Full.
    SetKeyOverride(run, Str(L"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\ListedDrv"), kKeyWriteCopy);
    exclude->forcedWriteCopy = {L"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\KeptDrv"};

    EXPECT_EQ(CaptureStdout(dir / L"stdout.txt", [&] { WriteRegistryFiles(run, post, pre, {}); }),
              "Warning: A new kernelmode component \"My Driver\" was installed, this is not supported by Ostrel\n"
              "Warning: A new kernelmode component \"NoName\" was installed, this is not supported by Ostrel\n"
              "Warning: A new kernelmode component \"ListedDrv\" was installed, this is not supported by Ostrel\n");
}

TEST(Overrides, PathsAreUpperCasedAndTheCRuntimeIsNeverHeld) {
    ProjectRun store;
    SetFileOverride(store, Str(L"C:\\Windows\\System32\\msvcrt.dll"), 2);
    SetFileOverride(store, Str(L"msvcrt.DLL"), 0);
    SetFileOverride(store, Str(L"C:\\App\\msvcrt.dll.bak"), 1);
    SetFileOverride(store, Str(L"C:\\App\\x.dll"), 1);
    SetFileOverride(store, Str(L"c:\\app\\X.DLL"), 2);
    ASSERT_EQ(store.includedFiles.size(), 2u);
    EXPECT_EQ(store.includedFiles.at(Str(L"C:\\APP\\MSVCRT.DLL.BAK")), 1u);
    EXPECT_EQ(store.includedFiles.at(Str(L"C:\\APP\\X.DLL")), 2u);

    SetKeyOverride(store, Str(L"HKEY_LOCAL_MACHINE\\Software\\a"), 8);
    SetKeyOverride(store, Str(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\A"), 4);
    ASSERT_EQ(store.includedKeys.size(), 1u);
    EXPECT_EQ(store.includedKeys.at(Str(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\A")), 4u);
}

}  // namespace
}  // namespace scancap
