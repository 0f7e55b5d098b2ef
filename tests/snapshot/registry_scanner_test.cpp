#include "snapshot/registry_scanner.h"

#include "common/testing.h"
#include "snapshot/file_scanner.h"
#include "snapshot/local_accounts.h"
#include "snapshot/scan_test_support.h"
#include "support/handles.h"

#include <gtest/gtest.h>
#include <sddl.h>

#include <cstring>
#include <string>
#include <vector>

namespace scancap::testing {
namespace {

constexpr uint32_t kFirstRegistryRoot = kDirectoryRootsOffset;  // no directory bases in these tests

HKEY CreateKey(HKEY parent, const wchar_t* name) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExW(parent, name, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), ERROR_SUCCESS)
        << Utf8(name);
    return key;
}

void SetValue(HKEY key, const wchar_t* name, DWORD type, const void* data, DWORD size) {
    ASSERT_EQ(RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS) << Utf8(name);
}

struct RegistryScan {
    SnapshotStore store;
    RecordingExcludeList* list = nullptr;
    ScanOptions options;

    explicit RegistryScan(std::vector<Str> bases) { options = MakeScanOptions(std::move(bases), &list); }
    void Run() { ScanAllBases(store, options.bases, options.excludeList.get()); }
    uint32_t Root() const { return kFirstRegistryRoot; }
};

// Scans `base` and returns the fatal error's text ("" when there was none).
std::string ScanError(const Str& base) {
    RegistryScan scan({base});
    try {
        scan.Run();
    } catch (const Str& message) {
        return Utf8(message);
    }
    return {};
}

std::vector<uint8_t> RawRecord(const SnapshotStore& store, uint32_t offset, uint32_t size) {
    const uint8_t* bytes = store.DataAt(offset, size);
    return bytes ? std::vector<uint8_t>(bytes, bytes + size) : std::vector<uint8_t>();
}

// Standard output goes to a file while this lives.
class CapturedStdout {
public:
    CapturedStdout() : path_(dir_ / L"stdout.txt") {
        file_.reset(CreateFileW(path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                CREATE_ALWAYS, 0, nullptr));
        saved_ = GetStdHandle(STD_OUTPUT_HANDLE);
        SetStdHandle(STD_OUTPUT_HANDLE, file_.get());
    }
    ~CapturedStdout() { Stop(); }
    // Ends the capture and returns what was written.
    std::string Text() {
        Stop();
        return ReadFileBytes(path_);
    }

private:
    void Stop() {
        if (!file_) return;
        SetStdHandle(STD_OUTPUT_HANDLE, saved_);
        file_.reset();
    }

    TempDir dir_;
    Str path_;
    FileHandle file_;
    HANDLE saved_ = nullptr;
};

// HKEY_LOCAL_MACHINE of this process points at a test key while this lives.
class HklmOverride {
public:
    explicit HklmOverride(HKEY target) { EXPECT_EQ(RegOverridePredefKey(HKEY_LOCAL_MACHINE, target), ERROR_SUCCESS); }
    ~HklmOverride() { RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr); }
};

TEST(RegistryScanner, StoresEveryValueTypeByteForByte) {
    TestRegKey key(L"scan-values");
    const wchar_t text[] = L"text value";
    const wchar_t expand[] = L"%SystemRoot%\\system32";
    const wchar_t multi[] = L"one\0two\0";
    const uint8_t binary[] = {0x00, 0xFF, 0x10, 0x80, 0x7F};
    const DWORD dword = 0x12345678;
    const uint64_t qword = 0x0102030405060708ull;
    const DWORD bigEndian = 0x01020304;
    std::vector<uint8_t> large(100000);
    for (size_t i = 0; i < large.size(); ++i) large[i] = uint8_t(i * 7);
    // RegSetValueExW counts in a terminator that directly follows the data;
    // with another character there the stored REG_SZ really has none.
    const wchar_t unterminated[] = L"abcX";

    SetValue(key.Get(), L"sz", REG_SZ, text, sizeof text);
    SetValue(key.Get(), L"expand", REG_EXPAND_SZ, expand, sizeof expand);
    SetValue(key.Get(), L"multi", REG_MULTI_SZ, multi, sizeof multi);
    SetValue(key.Get(), L"binary", REG_BINARY, binary, sizeof binary);
    SetValue(key.Get(), L"dword", REG_DWORD, &dword, sizeof dword);
    SetValue(key.Get(), L"qword", REG_QWORD, &qword, sizeof qword);
    SetValue(key.Get(), L"bigendian", REG_DWORD_BIG_ENDIAN, &bigEndian, sizeof bigEndian);
    SetValue(key.Get(), L"none", REG_NONE, binary, 3);
    SetValue(key.Get(), L"none-empty", REG_NONE, nullptr, 0);
    SetValue(key.Get(), L"empty-sz", REG_SZ, L"", 0);
    SetValue(key.Get(), L"large", REG_BINARY, large.data(), DWORD(large.size()));
    SetValue(key.Get(), L"unterminated", REG_SZ, unterminated, 6);
    SetValue(key.Get(), L"", REG_SZ, L"default", 16);
    SetValue(key.Get(), L"Nam\u00e9 with \u00fcnicode", REG_SZ, L"x", 4);

    RegistryScan scan({key.FullPath()});
    scan.Run();
    RegKeyRecord root = KeyAt(scan.store, scan.Root());
    EXPECT_EQ(NameAt(scan.store, root.nameOffset), std::wstring(key.FullPath().c_str()));
    ASSERT_EQ(root.valueCount, 14u);
    EXPECT_EQ(root.subkeyCount, 0u);

    // Every value matches what the registry returns for the same index.
    bool sawUnterminated = false, sawDefault = false;
    for (DWORD i = 0; i < root.valueCount; ++i) {
        std::vector<wchar_t> name(1024);
        std::vector<uint8_t> data(200000);
        DWORD nameLength = DWORD(name.size()), dataLength = DWORD(data.size()), type = 0;
        ASSERT_EQ(RegEnumValueW(key.Get(), i, name.data(), &nameLength, nullptr, nullptr, nullptr, nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegQueryValueExW(key.Get(), name.data(), nullptr, &type, data.data(), &dataLength),
                  ERROR_SUCCESS);
        RegValueRecord value{};
        ASSERT_TRUE(scan.store.ReadValue(scan.store.ValueAt(root, i), value));
        std::wstring expectedName(name.data(), nameLength);
        SCOPED_TRACE(Utf8(expectedName.c_str()));
        EXPECT_EQ(NameAt(scan.store, value.nameOffset), expectedName);
        EXPECT_EQ(value.type, type);
        ASSERT_EQ(value.dataLength, dataLength);
        EXPECT_EQ(RawRecord(scan.store, value.dataOffset, value.dataLength),
                  std::vector<uint8_t>(data.begin(), data.begin() + dataLength));
        if (expectedName == L"unterminated") {
            sawUnterminated = true;
            EXPECT_EQ(value.dataLength, 6u);
            EXPECT_EQ(std::memcmp(scan.store.DataAt(value.dataOffset, 6), L"abc", 6), 0);
        }
        if (expectedName.empty()) {
            sawDefault = true;
            EXPECT_EQ(value.type, DWORD(REG_SZ));
            EXPECT_EQ(value.dataLength, 16u);
        }
        if (expectedName == L"large") {
            EXPECT_EQ(value.dataLength, 100000u);
        }
        if (expectedName == L"none-empty") {
            EXPECT_EQ(value.dataLength, 0u);
        }
        // The data is stored first, the name right after it.
        EXPECT_EQ(value.nameOffset, value.dataOffset + value.dataLength);
    }
    EXPECT_TRUE(sawUnterminated);
    EXPECT_TRUE(sawDefault);
    EXPECT_NE(scan.store.FindValue(scan.Root(), L""), 0u);
}

TEST(RegistryScanner, KeyWithValuesButNoSubkeysHasAnEmptySubkeyArrayAfterItsValues) {
    TestRegKey key(L"scan-leaf");
    const DWORD one = 1;
    SetValue(key.Get(), L"a", REG_DWORD, &one, 4);
    SetValue(key.Get(), L"b", REG_DWORD, &one, 4);
    SetValue(key.Get(), L"c", REG_DWORD, &one, 4);
    RegistryScan scan({key.FullPath()});
    scan.Run();
    RegKeyRecord root = KeyAt(scan.store, scan.Root());
    EXPECT_EQ(root.valueCount, 3u);
    EXPECT_EQ(root.subkeyCount, 0u);
    // Values array (3 x 16 bytes) first, the (empty) subkey array right after.
    EXPECT_EQ(root.subkeyOffset, root.valueOffset + 3 * sizeof(RegValueRecord));
    EXPECT_GT(root.valueOffset, root.nameOffset);
    FILETIME written{};
    ASSERT_EQ(RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr, &written),
              ERROR_SUCCESS);
    EXPECT_EQ(root.lastWriteTime.dwLowDateTime, written.dwLowDateTime);
    EXPECT_EQ(root.lastWriteTime.dwHighDateTime, written.dwHighDateTime);
}

TEST(RegistryScanner, WalksSubkeysDepthFirstAndAsksAboutEveryKeyBeforeReadingIt) {
    TestRegKey key(L"scan-tree");
    RegKey b(CreateKey(key.Get(), L"b")), a(CreateKey(key.Get(), L"A"));
    RegKey inner(CreateKey(a.get(), L"inner"));
    RegKey deepest(CreateKey(inner.get(), L"deepest"));
    const wchar_t data[] = L"v";
    SetValue(deepest.get(), L"leaf", REG_SZ, data, sizeof data);
    RegKey empty(CreateKey(key.Get(), L"c-empty"));

    RegistryScan scan({key.FullPath()});
    scan.Run();

    std::wstring base = key.FullPath().c_str();
    std::vector<std::wstring> expectedOrder;
    expectedOrder.push_back(base);
    std::vector<std::wstring> topNames;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD length = 256;
        if (RegEnumKeyExW(key.Get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        topNames.emplace_back(name, length);
    }
    ASSERT_EQ(topNames.size(), 3u);
    for (const std::wstring& name : topNames) {
        expectedOrder.push_back(base + L"\\" + name);
        if (name == L"A") {
            expectedOrder.push_back(base + L"\\A\\inner");
            expectedOrder.push_back(base + L"\\A\\inner\\deepest");
        }
    }
    EXPECT_EQ(scan.list->keyQueries, expectedOrder);
    EXPECT_EQ(scan.list->scanPathAtQuery.size(), expectedOrder.size());
    // The scan path is published after the question, so each question sees
    // the previous key's path.
    for (size_t i = 1; i < expectedOrder.size(); ++i) EXPECT_EQ(scan.list->scanPathAtQuery[i], expectedOrder[i - 1]);

    RegKeyRecord root = KeyAt(scan.store, scan.Root());
    ASSERT_EQ(root.subkeyCount, 3u);
    for (uint32_t i = 0; i < 3; ++i)
        EXPECT_EQ(NameAt(scan.store, KeyAt(scan.store, scan.store.Subkey(scan.Root(), root, i)).nameOffset),
                  topNames[i]);
    std::wstring leafPath = base + L"\\A\\inner\\deepest";
    uint32_t leafKey = scan.store.FindKeyByPath(leafPath.c_str());
    ASSERT_NE(leafKey, 0u);
    uint32_t leaf = scan.store.FindValue(leafKey, L"leaf");
    ASSERT_NE(leaf, 0u);
    RegValueRecord value{};
    scan.store.ReadValue(leaf, value);
    EXPECT_EQ(value.dataLength, sizeof data);
    RegKeyRecord emptyRecord = KeyAt(scan.store, SubkeyNamed(scan.store, scan.Root(), L"c-empty"));
    EXPECT_EQ(emptyRecord.subkeyCount, 0u);
    EXPECT_EQ(emptyRecord.valueCount, 0u);
    EXPECT_NE(emptyRecord.lastWriteTime.dwHighDateTime, 0u);
}

TEST(RegistryScanner, ExcludedKeyKeepsOnlyItsName) {
    TestRegKey key(L"scan-excluded");
    RegKey skipped(CreateKey(key.Get(), L"skipped"));
    RegKey below(CreateKey(skipped.get(), L"below"));
    const DWORD one = 1;
    SetValue(skipped.get(), L"v", REG_DWORD, &one, 4);
    RegistryScan scan({key.FullPath()});
    std::wstring skippedPath = std::wstring(key.FullPath().c_str()) + L"\\skipped";
    scan.list->ignoredKeys.insert(skippedPath);
    scan.Run();
    uint32_t offset = SubkeyNamed(scan.store, scan.Root(), L"skipped");
    ASSERT_NE(offset, 0u);
    RegKeyRecord record = KeyAt(scan.store, offset);
    EXPECT_EQ(record.subkeyCount, 0u);
    EXPECT_EQ(record.valueCount, 0u);
    EXPECT_EQ(record.lastWriteTime.dwLowDateTime | record.lastWriteTime.dwHighDateTime, 0u);
    EXPECT_EQ(scan.list->keyQueries.back(), skippedPath);
}

TEST(RegistryScanner, SubkeyThatCannotBeOpenedIsRecordedByNameWithoutAMessage) {
    TestRegKey key(L"scan-denied");
    RegKey locked(CreateKey(key.Get(), L"locked"));
    RegKey sibling(CreateKey(key.Get(), L"sibling"));
    const DWORD one = 1;
    SetValue(locked.get(), L"v", REG_DWORD, &one, 4);
    SetValue(sibling.get(), L"v", REG_DWORD, &one, 4);
    // An empty DACL grants nobody anything; the owner may still change it.
    SECURITY_DESCRIPTOR sd;
    InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
    ACL acl;
    InitializeAcl(&acl, sizeof acl, ACL_REVISION);
    SetSecurityDescriptorDacl(&sd, TRUE, &acl, FALSE);
    ASSERT_EQ(RegSetKeySecurity(locked.get(), DACL_SECURITY_INFORMATION, &sd), ERROR_SUCCESS);
    HKEY probe = nullptr;
    LONG rc = RegOpenKeyExW(key.Get(), L"locked", 0, KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS, &probe);
    if (probe) RegCloseKey(probe);

    std::string output;
    RegistryScan scan({key.FullPath()});
    {
        CapturedStdout captured;
        scan.Run();
        output = captured.Text();
    }
    SetSecurityDescriptorDacl(&sd, FALSE, nullptr, FALSE);
    RegSetKeySecurity(locked.get(), DACL_SECURITY_INFORMATION, &sd);
    if (rc != ERROR_ACCESS_DENIED) GTEST_SKIP() << "this system does not enforce the key's DACL";

    EXPECT_EQ(output, "");
    RegKeyRecord lockedRecord = KeyAt(scan.store, SubkeyNamed(scan.store, scan.Root(), L"locked"));
    EXPECT_EQ(lockedRecord.valueCount, 0u);
    EXPECT_EQ(lockedRecord.lastWriteTime.dwHighDateTime, 0u);
    EXPECT_NE(lockedRecord.nameOffset, 0u);
    EXPECT_EQ(KeyAt(scan.store, SubkeyNamed(scan.store, scan.Root(), L"sibling")).valueCount, 1u);
}

// A fatal error while a subtree is scanned costs only that subtree: the
// exclusion list of this test raises one when it is asked about "inner".
TEST(RegistryScanner, FailingSubtreeBecomesAnAllZeroRecordWithAWarning) {
    TestRegKey key(L"scan-failing");
    RegKey a(CreateKey(key.Get(), L"a"));
    RegKey inner(CreateKey(a.get(), L"inner"));
    RegKey below(CreateKey(inner.get(), L"below"));
    RegKey sibling(CreateKey(a.get(), L"sibling"));
    const DWORD one = 1;
    SetValue(sibling.get(), L"v", REG_DWORD, &one, 4);
    SetValue(a.get(), L"v", REG_DWORD, &one, 4);

    std::wstring failing = std::wstring(key.FullPath().c_str()) + L"\\a\\inner";
    RegistryScan scan({key.FullPath()});
    scan.list->onKeyQuery = [&](const std::wstring& path) {
        if (path == failing) throw Str(L"Injected failure for inner");
    };
    std::string output;
    {
        CapturedStdout captured;
        scan.Run();
        output = captured.Text();
    }
    EXPECT_EQ(output, "Warning: Injected failure for inner\n");

    uint32_t aOffset = SubkeyNamed(scan.store, scan.Root(), L"a");
    ASSERT_NE(aOffset, 0u);
    RegKeyRecord aRecord = KeyAt(scan.store, aOffset);
    ASSERT_EQ(aRecord.subkeyCount, 2u);
    EXPECT_EQ(aRecord.valueCount, 1u);
    uint32_t first = scan.store.Subkey(aOffset, aRecord, 0);
    uint32_t second = scan.store.Subkey(aOffset, aRecord, 1);
    // "inner" sorts before "sibling"; its whole record is zero, name included.
    EXPECT_EQ(RawRecord(scan.store, first, sizeof(RegKeyRecord)), std::vector<uint8_t>(sizeof(RegKeyRecord), 0));
    RegKeyRecord siblingRecord = KeyAt(scan.store, second);
    EXPECT_EQ(NameAt(scan.store, siblingRecord.nameOffset), L"sibling");
    EXPECT_EQ(siblingRecord.valueCount, 1u);
}

TEST(RegistryScanner, FailureInTheRootKeyEndsTheScan) {
    TestRegKey key(L"scan-root-failure");
    RegistryScan scan({key.FullPath()});
    scan.list->onKeyQuery = [](const std::wstring&) { throw Str(L"Injected root failure"); };
    try {
        scan.Run();
        FAIL() << "no fatal error";
    } catch (const Str& message) {
        EXPECT_EQ(Utf8(message), "Injected root failure");
    }
}

// A subkey deleted while its parent is being scanned: enumeration ends early
// and the stored count says how many records were written.
TEST(RegistryScanner, SubkeyCountIsWhatWasWrittenWhenEnumerationEndsEarly) {
    TestRegKey key(L"scan-vanishing");
    RegKey a(CreateKey(key.Get(), L"a"));
    RegKey b(CreateKey(key.Get(), L"b"));
    RegKey c(CreateKey(key.Get(), L"c"));
    c.reset();
    std::wstring aPath = std::wstring(key.FullPath().c_str()) + L"\\a";
    RegistryScan scan({key.FullPath()});
    bool deleted = false;
    scan.list->onKeyQuery = [&](const std::wstring& path) {
        if (path == aPath && !deleted) deleted = RegDeleteKeyW(key.Get(), L"c") == ERROR_SUCCESS;
    };
    scan.Run();
    ASSERT_TRUE(deleted);
    RegKeyRecord root = KeyAt(scan.store, scan.Root());
    EXPECT_EQ(root.subkeyCount, 2u);
    EXPECT_NE(SubkeyNamed(scan.store, scan.Root(), L"a"), 0u);
    EXPECT_NE(SubkeyNamed(scan.store, scan.Root(), L"b"), 0u);
}

TEST(RegistryScanner, RefusesUnknownRootsAndUnopenableBases) {
    EXPECT_EQ(ScanError(L"HKEY_CLASSES_ROOT"), "Unknown registry base subkey HKEY_CLASSES_ROOT");
    EXPECT_EQ(ScanError(L"HKEY_CLASSES_ROOT\\CLSID"), "Unknown registry base subkey HKEY_CLASSES_ROOT");
    EXPECT_EQ(ScanError(L"HKEY_CURRENT_USERS\\Software"), "Unknown registry base subkey HKEY_CURRENT_USERS");
    EXPECT_EQ(ScanError(L"HKEY_CURRENT_USER\\Software\\scancap-tests\\no-such-key"),
              "Unable to open registry subkey HKEY_CURRENT_USER\\Software\\scancap-tests\\no-such-key");
}

TEST(RegistryScanner, RootNamesMatchWithoutCaseAndKeepTheirSpelling) {
    TestRegKey key(L"scan-case");
    Str base = L"hKeY_cUrReNt_UsEr\\";
    base += key.SubPath();
    RegistryScan scan({base});
    scan.Run();
    EXPECT_EQ(NameAt(scan.store, KeyAt(scan.store, scan.Root()).nameOffset), std::wstring(base.c_str()));
    EXPECT_EQ(scan.list->keyQueries, std::vector<std::wstring>{base.c_str()});
}

TEST(RegistryScanner, ScanRegistryKeyFillsAPreparedRecord) {
    TestRegKey key(L"scan-direct");
    RegKey sub(CreateKey(key.Get(), L"sub"));
    const DWORD one = 1;
    SetValue(key.Get(), L"v", REG_DWORD, &one, 4);
    SnapshotStore store;
    store.Allocate(sizeof(SnapshotHeader));
    store.WriteHeader(SnapshotHeader{});
    uint32_t record = store.Allocate(sizeof(RegKeyRecord));
    RegKeyRecord empty{};
    empty.nameOffset = store.AllocateName(L"X", 1);
    store.Write(record, empty);
    RegistryScratch scratch;
    ScanRegistryKey(store, key.Get(), key.FullPath(), record, nullptr, scratch);  // no exclusion list
    RegKeyRecord filled = KeyAt(store, record);
    EXPECT_EQ(NameAt(store, filled.nameOffset), L"X");
    EXPECT_EQ(filled.subkeyCount, 1u);
    EXPECT_EQ(filled.valueCount, 1u);
    EXPECT_EQ(NameAt(store, KeyAt(store, store.Subkey(record, filled, 0)).nameOffset), L"sub");
}

// ---------------------------------------------------------------------------
// VirtualLocalAccounts

const wchar_t kAccountsPath[] = L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvern, Inc.\\Ostrel\\VirtualLocalAccounts";

TEST(LocalAccounts, EnumerationFindsTheCurrentUserWithTheTokensSid) {
    std::vector<LocalAccount> accounts = EnumerateLocalAccounts();
    ASSERT_FALSE(accounts.empty());
    wchar_t user[256];
    DWORD length = 256;
    ASSERT_TRUE(GetUserNameW(user, &length));

    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    KernelHandle owner(token);
    uint8_t buffer[256];
    DWORD size = 0;
    ASSERT_TRUE(GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size));
    LPWSTR sidText = nullptr;
    ASSERT_TRUE(ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &sidText));
    LocalMem sidOwner(sidText);

    bool found = false;
    for (const LocalAccount& account : accounts) {
        EXPECT_EQ(account.sid.Find(L"S-1-5-"), 0) << Utf8(account.sid);
        if (Str(user).EqualsNoCase(account.userName)) {
            found = true;
            EXPECT_EQ(Utf8(account.sid), Utf8(sidText));
        }
    }
    EXPECT_TRUE(found) << Utf8(user);
}

TEST(LocalAccounts, InsertionAddsOneStringValuePerAccountBelowAnExistingSoftwareKey) {
    TestRegKey machine(L"scan-accounts-insert");
    RegKey software(CreateKey(machine.Get(), L"SOFTWARE"));
    RegKey other(CreateKey(software.get(), L"Other"));
    RegistryScan scan({L"HKEY_LOCAL_MACHINE"});
    {
        HklmOverride redirect(machine.Get());
        // Scanning the redirected root already adds the real accounts; the
        // insertion under test adds a second key of the same name.
        scan.Run();
    }
    std::vector<LocalAccount> three = {
        {L"alice", L"S-1-5-21-1-2-3-1001"}, {L"B\u00f6b", L"S-1-5-21-1-2-3-1002"}, {L"carol", L"S-1-5-21-1-2-3-500"}};
    uint32_t usedBefore = scan.store.Used();
    InsertVirtualLocalAccounts(scan.store, three);

    uint32_t ostrel = scan.store.FindKeyByPath(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvern, Inc.\\Ostrel");
    ASSERT_NE(ostrel, 0u);
    RegKeyRecord parent = KeyAt(scan.store, ostrel);
    ASSERT_EQ(parent.subkeyCount, 2u);
    uint32_t inserted = 0;
    for (uint32_t i = 0; i < 2; ++i) {
        uint32_t sub = scan.store.Subkey(ostrel, parent, i);
        ASSERT_NE(sub, 0u);
        RegKeyRecord record = KeyAt(scan.store, sub);
        EXPECT_EQ(NameAt(scan.store, record.nameOffset), L"VirtualLocalAccounts");
        if (record.nameOffset >= usedBefore) inserted = sub;
    }
    ASSERT_NE(inserted, 0u);
    RegKeyRecord record = KeyAt(scan.store, inserted);
    EXPECT_EQ(record.subkeyCount, 0u);
    EXPECT_EQ(record.lastWriteTime.dwLowDateTime | record.lastWriteTime.dwHighDateTime, 0u);
    ASSERT_EQ(record.valueCount, 3u);
    // The key's name (42 bytes) comes first, then the value array.
    EXPECT_EQ(record.nameOffset, usedBefore);
    EXPECT_EQ(record.valueOffset, usedBefore + 42);
    for (uint32_t i = 0; i < 3; ++i) {
        RegValueRecord value{};
        ASSERT_TRUE(scan.store.ReadValue(scan.store.ValueAt(record, i), value));
        EXPECT_EQ(NameAt(scan.store, value.nameOffset), std::wstring(three[i].userName.c_str()));
        EXPECT_EQ(value.type, DWORD(REG_SZ));
        EXPECT_EQ(value.dataLength, (three[i].sid.Length() + 1) * 2);
        EXPECT_EQ(std::memcmp(scan.store.DataAt(value.dataOffset, value.dataLength), three[i].sid.c_str(),
                              value.dataLength),
                  0);
        EXPECT_GT(value.dataOffset, value.nameOffset);
    }
    // The existing SOFTWARE key was used, not a second one.
    RegKeyRecord rootRecord = KeyAt(scan.store, scan.Root());
    EXPECT_EQ(rootRecord.subkeyCount, 1u);
}

TEST(LocalAccounts, OnlyTheBaseHkeyLocalMachineGetsTheKey) {
    std::vector<LocalAccount> accounts = EnumerateLocalAccounts();
    TestRegKey machine(L"scan-accounts-base");
    RegKey software(CreateKey(machine.Get(), L"SOFTWARE"));
    const DWORD one = 1;
    SetValue(software.get(), L"v", REG_DWORD, &one, 4);
    HklmOverride redirect(machine.Get());

    RegistryScan whole({L"HKEY_LOCAL_MACHINE"});
    whole.Run();
    uint32_t key = whole.store.FindKeyByPath(kAccountsPath);
    ASSERT_NE(key, 0u);
    RegKeyRecord record = KeyAt(whole.store, key);
    ASSERT_EQ(record.valueCount, accounts.size());
    for (uint32_t i = 0; i < record.valueCount; ++i) {
        RegValueRecord value{};
        ASSERT_TRUE(whole.store.ReadValue(whole.store.ValueAt(record, i), value));
        EXPECT_EQ(NameAt(whole.store, value.nameOffset), std::wstring(accounts[i].userName.c_str()));
        EXPECT_EQ(NameAt(whole.store, value.dataOffset), std::wstring(accounts[i].sid.c_str()));
    }
    // It is added after the scanned tree, below the scanned SOFTWARE key.
    EXPECT_EQ(KeyAt(whole.store, whole.Root()).subkeyCount, 1u);
    EXPECT_NE(whole.store.FindValue(whole.store.FindKeyByPath(L"HKEY_LOCAL_MACHINE\\SOFTWARE"), L"v"), 0u);

    RegistryScan lower({L"hkey_local_machine"});
    lower.Run();
    EXPECT_NE(lower.store.FindKeyByPath(kAccountsPath), 0u);

    for (const wchar_t* base : {L"HKEY_LOCAL_MACHINE\\SOFTWARE", L"HKEY_LOCAL_MACHINE\\"}) {
        RegistryScan part({base});
        part.Run();
        SCOPED_TRACE(Utf8(base));
        EXPECT_EQ(part.store.FindKeyByPath(kAccountsPath), 0u);
        // No key of that name anywhere in the arena.
        const uint8_t* bytes = part.store.Bytes();
        std::wstring needle = L"VirtualLocalAccounts";
        bool present = false;
        for (uint32_t at = 0; at + needle.size() * 2 <= part.store.Used(); ++at)
            if (std::memcmp(bytes + at, needle.c_str(), needle.size() * 2) == 0) present = true;
        EXPECT_FALSE(present);
    }
}

}  // namespace
}  // namespace scancap::testing
