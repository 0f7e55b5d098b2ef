#include "snapshot/store.h"

#include "common/testing.h"
#include "snapshot/store_builder.h"

#include <gtest/gtest.h>

#include <string>

namespace scancap {
namespace {

using testing::NameOf;
using testing::StoreBuilder;
using B = StoreBuilder;

// c:\                         directory root 0 (children sorted)
//   boot.ini
//   Program Files\App\app.exe
//   Windows\                  children in listing order of a FAT volume
//     zeta.dll, Alpha.exe, System32\kernel32.dll
// D:\Data\readme.txt          directory root 1
// HKEY_LOCAL_MACHINE          registry root 0, values "" and "Path"
//   SOFTWARE\Classes\CLSID, SOFTWARE\Vendor (value Version), SYSTEM
// HKEY_USERS\S-1-5-18\Environment   registry root 1
struct Sample {
    uint32_t cRoot, appExe, windows, system32, readme;
    uint32_t hklm, software, classes, clsid, vendor, system, users, environment;
};

Sample BuildSample(SnapshotStore& store) {
    B b(store);
    Sample s{};
    b.Begin(2, 2);
    s.cRoot = b.DirectoryRoot(0);
    b.Dir(s.cRoot, L"c:\\");
    uint32_t top = b.Children(s.cRoot, 3);
    b.File(B::At(top, 0), L"boot.ini", FILE_ATTRIBUTE_ARCHIVE, 211);
    b.Dir(B::At(top, 1), L"Program Files");
    uint32_t app = B::At(b.Children(B::At(top, 1), 1), 0);
    b.Dir(app, L"App");
    s.appExe = B::At(b.Children(app, 1), 0);
    b.File(s.appExe, L"app.exe", FILE_ATTRIBUTE_ARCHIVE, 0x123456789ull);
    s.windows = B::At(top, 2);
    b.Dir(s.windows, L"Windows");
    uint32_t win = b.Children(s.windows, 3);
    b.File(B::At(win, 0), L"zeta.dll");
    b.File(B::At(win, 1), L"Alpha.exe");
    s.system32 = B::At(win, 2);
    b.Dir(s.system32, L"System32");
    b.File(B::At(b.Children(s.system32, 1), 0), L"kernel32.dll");
    b.Dir(b.DirectoryRoot(1), L"D:\\Data");
    s.readme = B::At(b.Children(b.DirectoryRoot(1), 1), 0);
    b.File(s.readme, L"readme.txt");

    s.hklm = b.RegistryRoot(0);
    b.Key(s.hklm, L"HKEY_LOCAL_MACHINE");
    uint32_t values = b.Values(s.hklm, 2);
    uint32_t keys = b.Subkeys(s.hklm, 2);
    b.StringValue(values, 0, L"", L"default");
    b.StringValue(values, 1, L"Path", L"c:\\windows");
    s.software = B::SubkeyAt(keys, 0);
    b.Key(s.software, L"SOFTWARE");
    uint32_t sw = b.Subkeys(s.software, 2);
    s.classes = B::SubkeyAt(sw, 0);
    b.Key(s.classes, L"Classes");
    s.clsid = B::SubkeyAt(b.Subkeys(s.classes, 1), 0);
    b.Key(s.clsid, L"CLSID");
    s.vendor = B::SubkeyAt(sw, 1);
    b.Key(s.vendor, L"Vendor");
    b.DwordValue(b.Values(s.vendor, 1), 0, L"Version", 7);
    s.system = B::SubkeyAt(keys, 1);
    b.Key(s.system, L"SYSTEM");
    s.users = b.RegistryRoot(1);
    b.Key(s.users, L"HKEY_USERS\\S-1-5-18");
    s.environment = B::SubkeyAt(b.Subkeys(s.users, 1), 0);
    b.Key(s.environment, L"Environment");
    return s;
}

// A store with one registry root HKEY_LOCAL_MACHINE whose subkeys are `names`.
uint32_t BuildKeys(SnapshotStore& store, std::initializer_list<const wchar_t*> names) {
    B b(store);
    b.Begin(0, 1);
    uint32_t root = b.RegistryRoot(0);
    b.Key(root, L"HKEY_LOCAL_MACHINE");
    uint32_t keys = b.Subkeys(root, uint32_t(names.size()));
    uint32_t i = 0;
    for (const wchar_t* n : names) b.Key(B::SubkeyAt(keys, i++), n);
    return root;
}

std::wstring FoundName(const SnapshotStore& store, const wchar_t* path) {
    FileEntry e{};
    if (!store.FindFileEntry(path, e)) return L"<none>";
    return NameOf(store, e.nameOffset);
}

std::wstring KeyName(const SnapshotStore& store, uint32_t keyOffset) {
    RegKeyRecord k{};
    if (!keyOffset || !store.ReadKey(keyOffset, k)) return L"<none>";
    return NameOf(store, k.nameOffset);
}

std::wstring SubkeyNames(const SnapshotStore& store, uint32_t keyOffset) {
    RegKeyRecord k{};
    if (!store.ReadKey(keyOffset, k)) return L"<none>";
    std::wstring names;
    for (uint32_t i = 0; i < store.SubkeyCount(keyOffset, k); ++i) {
        if (i) names += L",";
        names += KeyName(store, store.Subkey(keyOffset, k, i));
    }
    return names;
}

// ---------------------------------------------------------------------------
// Allocation

TEST(StoreAllocation, CapacityGrowsIn64KiBSteps) {
    SnapshotStore store;
    EXPECT_EQ(store.Capacity(), 0u);
    EXPECT_EQ(store.Bytes(), nullptr);
    EXPECT_EQ(store.Allocate(20), 0u);
    EXPECT_EQ(store.Capacity(), 65536u);
    EXPECT_EQ(store.Allocate(65516), 20u);
    EXPECT_EQ(store.Capacity(), 65536u);
    EXPECT_EQ(store.Allocate(1), 65536u);
    EXPECT_EQ(store.Capacity(), 131072u);
    EXPECT_EQ(store.Used(), 65537u);

    SnapshotStore seventy;
    EXPECT_EQ(seventy.Allocate(70000), 0u);
    EXPECT_EQ(seventy.Capacity(), 131072u);

    SnapshotStore a, b;
    ASSERT_NE(a.PrepareLoad(1000), nullptr);
    EXPECT_EQ(a.Capacity(), 65536u);
    EXPECT_EQ(a.Used(), 0u);
    ASSERT_NE(b.PrepareLoad(131072), nullptr);
    EXPECT_EQ(b.Capacity(), 131072u);
    EXPECT_EQ(b.PrepareLoad(10), nullptr);  // only an empty store can be loaded into
}

TEST(StoreAllocation, GrowingNeverMovesTheArenaOrItsBytes) {
    SnapshotStore store;
    uint32_t first = store.AllocateBytes("abcdefgh", 8);
    const uint8_t* base = store.Bytes();
    EXPECT_EQ(store.Allocate(300u << 20), 8u);
    EXPECT_EQ(store.Capacity(), 314638336u);  // 8 + 300 MiB rounded up to 64 KiB
    for (int i = 0; i < 1000; ++i) store.Allocate(1000);
    EXPECT_EQ(store.Bytes(), base);
    EXPECT_EQ(std::memcmp(store.DataAt(first, 8), "abcdefgh", 8), 0);
    store.Write(store.Used() - 4, uint32_t(0xfeedbeef));  // the far end is committed
}

TEST(StoreAllocation, RunningOutOfOffsetsIsFatal) {
    SnapshotStore store;
    store.Allocate(100);
    std::wstring message = L"<no error>";
    try {
        store.Allocate(0xFFFFFFF0u);
    } catch (const Str& e) {
        message.assign(e.c_str(), e.Length());
    }
    EXPECT_EQ(message, L"Unable to allocate 4194368 kbytes of memory");
    EXPECT_EQ(store.Used(), 100u);
}

TEST(StoreAllocation, NamesAreTerminatedAtAnyOffset) {
    SnapshotStore store;
    store.Allocate(1);
    uint32_t name = store.AllocateName(L"abc", 3);
    EXPECT_EQ(name, 1u);
    EXPECT_EQ(store.Used(), 9u);
    EXPECT_EQ(std::memcmp(store.Bytes() + 1, "a\0b\0c\0\0\0", 8), 0);
    EXPECT_EQ(NameOf(store, name), L"abc");
    EXPECT_EQ(store.Name(store.AllocateName(L"", 0)).length, 0u);
    EXPECT_EQ(store.Used(), 11u);
}

// ---------------------------------------------------------------------------
// Lookups

TEST(CompareNamesUpcase, OrdersAfterUpcasing) {
    struct Row { const wchar_t* a; size_t aLength; const wchar_t* b; size_t bLength; int expected; };
    // '_' (0x5f) sorts after 'A' (0x41) once upcased; lengths are counted, not terminated.
    const Row rows[] = {
        {L"abc", 3, L"ABC", 3, 0}, {L"ab", 2, L"ABC", 3, -1}, {L"abc", 3, L"AB", 2, 1},
        {L"b", 1, L"A", 1, 1},     {L"", 0, L"", 0, 0},       {L"_", 1, L"a", 1, 1},
        {L"\x00e4rger", 5, L"\x00c4RGER", 5, 0}, {L"\x0444", 1, L"\x0424", 1, 0}, {L"abcX", 3, L"abcY", 3, 0},
    };
    for (const Row& r : rows)
        EXPECT_EQ(CompareNamesUpcase(r.a, r.aLength, r.b, r.bLength), r.expected) << testing::Utf8(r.a);
}

TEST(FindFileEntry, PathsInTheSample) {
    SnapshotStore store;
    Sample s = BuildSample(store);
    const std::pair<const wchar_t*, const wchar_t*> rows[] = {
        {L"C:\\BOOT.INI", L"boot.ini"}, {L"C:\\Program Files\\App\\APP.EXE", L"app.exe"},
        {L"c:\\windows\\system32\\kernel32.dll", L"kernel32.dll"}, {L"d:\\data\\README.TXT", L"readme.txt"},
        {L"D:\\DATA", L"D:\\Data"},
        // Unsorted children: bisection alone misses the first two.
        {L"c:\\Windows\\zeta.dll", L"zeta.dll"}, {L"c:\\Windows\\alpha.exe", L"Alpha.exe"},
        {L"c:\\Windows\\System32", L"System32"},
        {L"c:\\nothing", L"<none>"}, {L"e:\\boot.ini", L"<none>"}, {L"", L"<none>"},
        {L"c:\\boot.ini\\x", L"<none>"}, {L"c:\\Windows\\", L"<none>"}, {L"c:\\boot", L"<none>"},
        {L"c:\\boot.ini2", L"<none>"},
    };
    for (const auto& [path, expected] : rows) EXPECT_EQ(FoundName(store, path), expected) << testing::Utf8(path);

    FileEntry found{}, stored{};
    ASSERT_TRUE(store.FindFileEntry(L"C:\\Program Files\\App\\app.exe", found));
    ASSERT_TRUE(store.ReadFileEntry(s.appExe, stored));
    EXPECT_EQ(std::memcmp(&found, &stored, sizeof found), 0);
    ASSERT_TRUE(store.FindFileEntry(L"C:\\", found));
    ASSERT_TRUE(store.ReadFileEntry(s.cRoot, stored));
    EXPECT_EQ(std::memcmp(&found, &stored, sizeof found), 0);
}

TEST(FindFileEntry, LaterRootsAndNonAsciiBisection) {
    SnapshotStore store;
    B b(store);
    b.Begin(2, 0);
    b.Dir(b.DirectoryRoot(0), L"c:\\");
    const wchar_t* names[] = {L"a", L"b", L"c", L"d", L"\x00e4rger", L"\x00f6l", L"\x0444"};
    uint32_t array = b.Children(b.DirectoryRoot(0), 7);
    for (uint32_t i = 0; i < 7; ++i) b.File(B::At(array, i), names[i]);
    b.Dir(b.DirectoryRoot(1), L"c:\\Users");
    b.File(B::At(b.Children(b.DirectoryRoot(1), 1), 0), L"ntuser.dat");

    for (const wchar_t* n : names) EXPECT_EQ(FoundName(store, (std::wstring(L"c:\\") + n).c_str()), n);
    EXPECT_EQ(FoundName(store, L"c:\\\x00c4RGER"), L"\x00e4rger");
    EXPECT_EQ(FoundName(store, L"c:\\\x0424"), L"\x0444");
    // "c:\" matches first but has no "users": the next root is tried.
    EXPECT_EQ(FoundName(store, L"c:\\users\\NTUSER.DAT"), L"ntuser.dat");
}

TEST(FindKeyByPath, PathsAndRelativePaths) {
    SnapshotStore store;
    Sample s = BuildSample(store);
    const std::pair<const wchar_t*, uint32_t> rows[] = {
        {L"hkey_local_machine", s.hklm}, {L"HKEY_LOCAL_MACHINE\\Software\\classes\\clsid", s.clsid},
        {L"HKEY_LOCAL_MACHINE\\SYSTEM", s.system}, {L"HKEY_USERS\\S-1-5-18", s.users},
        {L"HKEY_USERS\\s-1-5-18\\ENVIRONMENT", s.environment}, {L"HKEY_LOCAL_MACHINE\\Software\\Missing", 0},
        {L"HKEY_CURRENT_USER", 0}, {L"HKEY_USERS\\S-1-5-19", 0},
        {L"HKEY_LOCAL_MACHINE\\SYSTEM\\x", 0},  // below a key without subkeys
    };
    for (const auto& [path, expected] : rows) EXPECT_EQ(store.FindKeyByPath(path), expected) << testing::Utf8(path);

    EXPECT_EQ(store.FindSubkey(s.hklm, L""), s.hklm);
    EXPECT_EQ(store.FindSubkey(s.hklm, L"\\"), s.hklm);
    EXPECT_EQ(store.FindSubkey(s.hklm, L"\\SOFTWARE\\Vendor"), s.vendor);
    EXPECT_EQ(store.FindSubkey(s.software, L"Classes\\CLSID"), s.clsid);
    EXPECT_EQ(store.FindSubkey(s.software, L"CLSID"), 0u);
    EXPECT_EQ(store.FindSubkey(0, L""), 0u);

    SnapshotStore empty;
    EXPECT_EQ(empty.FindKeyByPath(L"HKEY_LOCAL_MACHINE"), 0u);
    FileEntry e{};
    EXPECT_FALSE(empty.FindFileEntry(L"c:\\", e));
}

TEST(FindKeyByPath, UnsortedAndDuplicateNames) {
    SnapshotStore store;
    uint32_t root = BuildKeys(store, {L"A", L"B", L"b", L"C", L"0"});  // "0" out of order
    RegKeyRecord k{};
    store.ReadKey(root, k);
    // Bisection lands on the second "B"; the answer is the first, as a linear scan gives.
    EXPECT_EQ(store.FindKeyByPath(L"HKEY_LOCAL_MACHINE\\b"), B::SubkeyAt(k.subkeyOffset, 1));
    EXPECT_EQ(store.FindKeyByPath(L"HKEY_LOCAL_MACHINE\\0"), B::SubkeyAt(k.subkeyOffset, 4));
    EXPECT_EQ(store.FindKeyByPath(L"HKEY_LOCAL_MACHINE\\c"), B::SubkeyAt(k.subkeyOffset, 3));
}

TEST(FindValue, AsciiCaseOnlyAndTheDefaultValue) {
    SnapshotStore store;
    Sample s = BuildSample(store);
    RegValueRecord v{};
    ASSERT_TRUE(store.ReadValue(store.FindValue(s.hklm, L""), v));
    EXPECT_EQ(NameOf(store, v.nameOffset), L"");
    EXPECT_EQ(v.dataLength, 16u);
    ASSERT_TRUE(store.ReadValue(store.FindValue(s.hklm, L"PATH"), v));
    EXPECT_EQ(NameOf(store, v.nameOffset), L"Path");
    EXPECT_EQ(store.FindValue(s.hklm, L"Pat"), 0u);
    EXPECT_EQ(store.FindValue(s.system, L""), 0u);  // no values at all

    SnapshotStore other;
    B b(other);
    b.Begin(0, 1);
    b.Key(b.RegistryRoot(0), L"HKEY_LOCAL_MACHINE");
    uint32_t values = b.Values(b.RegistryRoot(0), 2);
    b.DwordValue(values, 0, L"\x00e4rger", 1);
    b.DwordValue(values, 1, L"x", 2);
    EXPECT_EQ(other.FindValue(b.RegistryRoot(0), L"\x00c4rger"), 0u);
    EXPECT_EQ(other.FindValue(b.RegistryRoot(0), L"\x00e4RGER"), values);
    EXPECT_EQ(other.FindValue(b.RegistryRoot(0), L"X"), values + 16);
}

// ---------------------------------------------------------------------------
// Insertion

TEST(FindOrInsertKeyPath, PlacesNewKeysShorterFirst) {
    SnapshotStore store;
    uint32_t root = BuildKeys(store, {L"Ab", L"Classes", L"Zz"});
    // "Xyz" goes before "Classes" although "Zz" follows.
    EXPECT_EQ(KeyName(store, store.FindOrInsertKeyPath(L"HKEY_LOCAL_MACHINE\\Xyz")), L"Xyz");
    EXPECT_EQ(SubkeyNames(store, root), L"Ab,Xyz,Classes,Zz");
    store.FindOrInsertKeyPath(L"HKEY_LOCAL_MACHINE\\Halvern, Inc.");
    EXPECT_EQ(SubkeyNames(store, root), L"Ab,Xyz,Classes,Zz,Halvern, Inc.");
    store.FindOrInsertKeyPath(L"HKEY_LOCAL_MACHINE\\bb");  // same length: without case
    EXPECT_EQ(SubkeyNames(store, root), L"Ab,bb,Xyz,Classes,Zz,Halvern, Inc.");
    RegKeyRecord inserted = B(store).KeyAt(store.FindKeyByPath(L"HKEY_LOCAL_MACHINE\\BB"));
    EXPECT_EQ(inserted.subkeyCount | inserted.valueCount | inserted.lastWriteTime.dwLowDateTime, 0u);
}

TEST(FindOrInsertKeyPath, CreatesEveryMissingLevelAndRoot) {
    SnapshotStore store;
    uint32_t deep = store.FindOrInsertKeyPath(L"HKEY_LOCAL_MACHINE\\Software\\Halvern, Inc.\\Ostrel");
    ASSERT_NE(deep, 0u);
    EXPECT_EQ(store.FindKeyByPath(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\halvern, inc.\\OSTREL"), deep);
    EXPECT_EQ(store.DirectoryRootCount(), 0u);
    EXPECT_EQ(store.RegistryRootCount(), 1u);
    uint32_t other = store.FindOrInsertKeyPath(L"HKEY_CURRENT_USER\\Software");
    EXPECT_EQ(store.FindKeyByPath(L"HKEY_CURRENT_USER\\Software"), other);
    // Roots are placed like any other key: the shorter name first.
    EXPECT_EQ(store.RegistryRootCount(), 2u);
    EXPECT_EQ(KeyName(store, store.RegistryRoot(0)), L"HKEY_CURRENT_USER");
    EXPECT_EQ(KeyName(store, store.RegistryRoot(1)), L"HKEY_LOCAL_MACHINE");
    EXPECT_EQ(store.FindKeyByPath(L"HKEY_LOCAL_MACHINE\\Software\\Halvern, Inc.\\Ostrel"), deep);
}

TEST(FindOrInsertKeyPath, ExistingKeysAndMovedSiblings) {
    SnapshotStore store;
    Sample s = BuildSample(store);
    uint32_t used = store.Used();
    EXPECT_EQ(store.FindOrInsertKeyPath(L"hkey_local_machine\\software\\CLASSES"), s.classes);
    EXPECT_EQ(store.FindOrInsertKeyPath(L"HKEY_LOCAL_MACHINE"), s.hklm);
    EXPECT_EQ(store.Used(), used);

    // A new sibling of Classes and Vendor copies both into a new array at the
    // end of the arena; their own subkeys and values stay where they were.
    ASSERT_NE(store.FindOrInsertKeyPath(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvern, Inc.\\Ostrel"), 0u);
    EXPECT_EQ(SubkeyNames(store, s.software), L"Classes,Vendor,Halvern, Inc.");
    EXPECT_EQ(KeyName(store, store.FindKeyByPath(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID")), L"CLSID");
    uint32_t vendor = store.FindKeyByPath(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor");
    EXPECT_NE(vendor, s.vendor);  // a copy
    EXPECT_NE(store.FindValue(vendor, L"Version"), 0u);
    // A second insertion below the moved key and one above it.
    store.FindOrInsertKeyPath(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID\\{x}");
    store.FindOrInsertKeyPath(L"HKEY_LOCAL_MACHINE\\Apps");
    EXPECT_NE(store.FindKeyByPath(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID\\{x}"), 0u);
    EXPECT_NE(store.FindKeyByPath(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvern, Inc.\\Ostrel"), 0u);
    EXPECT_NE(store.FindValue(store.FindKeyByPath(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor"), L"Version"), 0u);
}

TEST(InsertKeyRecord, PlacesByAsciiCaseOrderAndAllowsDuplicates) {
    SnapshotStore store;
    uint32_t root = BuildKeys(store, {L"Alpha", L"beta", L"Gamma"});
    auto insert = [&](const wchar_t* name) {
        RegKeyRecord r{};
        r.nameOffset = store.AllocateName(name, wcslen(name));
        store.InsertKeyRecord(L"HKEY_LOCAL_MACHINE", r);
    };
    insert(L"BETA2");  // not shorter-first: "beta" is a prefix and sorts before it
    EXPECT_EQ(SubkeyNames(store, root), L"Alpha,beta,BETA2,Gamma");
    insert(L"alpha");  // an equal name is not after it: goes behind
    EXPECT_EQ(SubkeyNames(store, root), L"Alpha,alpha,beta,BETA2,Gamma");
    insert(L"_x");  // ASCII letters fold to lower case, so '_' sorts before them
    EXPECT_EQ(SubkeyNames(store, root), L"_x,Alpha,alpha,beta,BETA2,Gamma");
    insert(L"zz");
    EXPECT_EQ(SubkeyNames(store, root), L"_x,Alpha,alpha,beta,BETA2,Gamma,zz");
}

TEST(InsertKeyRecord, PreparedKeysUnderNewParentsStayReachable) {
    SnapshotStore store;
    Sample s = BuildSample(store);
    B b(store);
    // Prepared the way the scanner prepares its accounts key: name, then values.
    RegKeyRecord accounts{};
    accounts.nameOffset = store.AllocateName(L"VirtualLocalAccounts", 20);
    accounts.valueCount = 2;
    accounts.valueOffset = store.Allocate(32);
    b.StringValue(accounts.valueOffset, 0, L"alice", L"S-1-5-21-1");
    b.StringValue(accounts.valueOffset, 1, L"bob", L"S-1-5-21-2");
    const wchar_t* parent = L"HKEY_LOCAL_MACHINE\\Software\\Halvern, Inc.\\Ostrel";
    store.InsertKeyRecord(parent, accounts);
    uint32_t key = store.FindKeyByPath(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvern, Inc.\\Ostrel\\VirtualLocalAccounts");
    EXPECT_NE(store.FindValue(key, L"BOB"), 0u);
    EXPECT_EQ(SubkeyNames(store, s.software), L"Classes,Vendor,Halvern, Inc.");
    EXPECT_EQ(KeyName(store, store.FindKeyByPath(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID")), L"CLSID");
    store.InsertKeyRecord(parent, accounts);  // inserted again: always added
    EXPECT_EQ(SubkeyNames(store, store.FindKeyByPath(parent)), L"VirtualLocalAccounts,VirtualLocalAccounts");

    // A subtree prepared in scan order (each name before the arrays below it),
    // three levels deep with values at the bottom, before its parents exist:
    // the accessors' cycle guard must not hide any level.
    RegKeyRecord prepared{};
    prepared.nameOffset = store.AllocateName(L"Prepared", 8);
    prepared.subkeyCount = 2;
    prepared.subkeyOffset = store.Allocate(2 * sizeof(RegKeyRecord));
    uint32_t child = B::SubkeyAt(prepared.subkeyOffset, 0);
    b.Key(child, L"Child");
    b.Key(B::SubkeyAt(prepared.subkeyOffset, 1), L"Leaf");
    uint32_t grandchild = B::SubkeyAt(b.Subkeys(child, 1), 0);
    b.Key(grandchild, L"Grandchild");
    uint32_t great = B::SubkeyAt(b.Subkeys(grandchild, 1), 0);
    b.Key(great, L"Great");
    b.DwordValue(b.Values(great, 1), 0, L"Depth", 4);
    store.InsertKeyRecord(L"HKEY_LOCAL_MACHINE\\Brand\\New", prepared);

    const std::wstring base = L"HKEY_LOCAL_MACHINE\\Brand\\New\\Prepared";
    EXPECT_EQ(SubkeyNames(store, store.FindKeyByPath(base.c_str())), L"Child,Leaf");
    EXPECT_EQ(SubkeyNames(store, store.FindKeyByPath((base + L"\\Child").c_str())), L"Grandchild");
    EXPECT_EQ(SubkeyNames(store, store.FindKeyByPath((base + L"\\Child\\Grandchild").c_str())), L"Great");
    uint32_t found = store.FindKeyByPath((base + L"\\child\\GRANDCHILD\\great").c_str());
    EXPECT_EQ(KeyName(store, found), L"Great");
    EXPECT_NE(store.FindValue(found, L"Depth"), 0u);
}

// ---------------------------------------------------------------------------
// Damaged stores: nothing is read beyond Used(). Records planted between
// Used() and the capacity (still mapped memory) must never show up.

struct Damaged {
    SnapshotStore store;
    Sample s{};
    uint32_t ghostEntry = 0;  // a FileEntry named "ghost" beyond Used()
    uint32_t ghostKey = 0;    // a RegKeyRecord named "ghost" beyond Used()
    uint32_t end = 0;         // Used() once the ghosts are cut off

    Damaged() {
        s = BuildSample(store);
        B b(store);
        end = store.Used();
        ghostEntry = store.Allocate(sizeof(FileEntry));
        b.File(ghostEntry, L"ghost");
        ghostKey = store.Allocate(sizeof(RegKeyRecord));
        b.Key(ghostKey, L"ghost");
        store.SetUsed(end);
    }
};

TEST(DamagedStore, BadChildArraysReadAsEmpty) {
    Damaged d;
    FileEntry e = B(d.store).Entry(d.s.system32);
    // Beyond Used(), running past the end, the root array (a cycle), its own record.
    const std::pair<uint32_t, uint32_t> rows[] = {
        {1, d.ghostEntry}, {3, d.end - 100}, {2, kDirectoryRootsOffset}, {1, d.s.system32}};
    for (const auto& [count, offset] : rows) {
        e.childCount = count;
        e.childOffset = offset;
        d.store.Write(d.s.system32, e);
        EXPECT_EQ(d.store.ChildCount(d.s.system32, e), 0u) << offset;
        EXPECT_EQ(d.store.ChildEntry(d.s.system32, e, 0), 0u) << offset;
        EXPECT_EQ(FoundName(d.store, L"c:\\Windows\\System32\\ghost"), L"<none>");
        EXPECT_EQ(FoundName(d.store, L"c:\\Windows\\System32\\c:\\"), L"<none>");
    }
    EXPECT_EQ(FoundName(d.store, L"c:\\boot.ini"), L"boot.ini");
}

TEST(DamagedStore, BadSubkeyAndValueArrays) {
    Damaged d;
    B b(d.store);
    // CLSID lists the SOFTWARE array (which holds CLSID's own ancestor) as its subkeys.
    RegKeyRecord clsid = b.KeyAt(d.s.clsid);
    RegKeyRecord software = b.KeyAt(d.s.software);
    clsid.subkeyCount = software.subkeyCount;
    clsid.subkeyOffset = software.subkeyOffset;
    d.store.Write(d.s.clsid, clsid);
    // Classes (whose name lies before CLSID's) has subkeys: hidden below CLSID.
    EXPECT_EQ(d.store.Subkey(d.s.clsid, clsid, 0), 0u);
    // Vendor has no subkeys, so it cannot start a cycle and stays visible.
    EXPECT_NE(d.store.Subkey(d.s.clsid, clsid, 1), 0u);
    EXPECT_EQ(d.store.FindKeyByPath(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID\\Classes\\CLSID"), 0u);
    clsid.subkeyCount = 1;  // a key that is its own subkey
    clsid.subkeyOffset = d.s.clsid;
    d.store.Write(d.s.clsid, clsid);
    EXPECT_EQ(d.store.Subkey(d.s.clsid, clsid, 0), 0u);

    RegKeyRecord system = b.KeyAt(d.s.system);
    system.subkeyCount = 1;
    system.subkeyOffset = d.ghostKey;
    system.valueCount = 1;
    system.valueOffset = d.end - 8;
    d.store.Write(d.s.system, system);
    EXPECT_EQ(d.store.SubkeyCount(d.s.system, system), 0u);
    EXPECT_EQ(d.store.ValueCount(system), 0u);
    EXPECT_EQ(d.store.FindKeyByPath(L"HKEY_LOCAL_MACHINE\\SYSTEM\\ghost"), 0u);
    EXPECT_EQ(d.store.FindValue(d.s.system, L""), 0u);
}

TEST(DamagedStore, NameWithoutTerminatorEndsAtUsed) {
    SnapshotStore store;
    Sample s = BuildSample(store);
    // "tail" as the last bytes of the arena, without terminator, then "ghost" beyond.
    uint32_t tail = store.AllocateBytes(L"tail", 8);
    uint32_t end = store.Used();
    store.AllocateName(L"ghost", 5);
    store.SetUsed(end);
    FileEntry readme = B(store).Entry(s.readme);
    readme.nameOffset = tail;
    store.Write(s.readme, readme);
    EXPECT_EQ(NameOf(store, tail), L"tail");
    EXPECT_EQ(FoundName(store, L"D:\\Data\\tail"), L"tail");
    EXPECT_EQ(FoundName(store, L"D:\\Data\\tailghost"), L"<none>");
    // Odd bytes left at the end: the half unit is not part of the name.
    store.SetUsed(end - 1);
    EXPECT_EQ(store.Name(tail).length, 3u);
    EXPECT_EQ(store.Name(end - 1).length, 0u);
    EXPECT_EQ(store.Name(end).length, 0u);
    EXPECT_EQ(store.Name(0xFFFFFFFFu).length, 0u);
}

TEST(DamagedStore, BadHeaderFields) {
    Damaged d;
    B b(d.store);
    b.Poke(8, 4);  // registry roots inside the header
    EXPECT_EQ(d.store.RegistryRootCount(), 0u);
    b.Poke(8, d.ghostKey);  // past the end
    EXPECT_EQ(d.store.RegistryRootCount(), 0u);
    EXPECT_EQ(d.store.FindKeyByPath(L"ghost"), 0u);
    b.Poke(0, 0xFFFFFFFFu);   // directory roots
    b.Poke(4, 0x10000000u);   // registry roots
    b.Poke(12, 0x7FFFFFFFu);  // drives
    EXPECT_EQ(d.store.DirectoryRootCount(), 0u);
    EXPECT_EQ(d.store.DirectoryRoot(0), 0u);
    EXPECT_EQ(d.store.RegistryRoot(0), 0u);
    EXPECT_EQ(d.store.DriveCount(), 0u);
    EXPECT_EQ(FoundName(d.store, L"c:\\boot.ini"), L"<none>");
}

TEST(DamagedStore, ShortArenaAndOutOfRangeReads) {
    SnapshotStore store;
    store.Allocate(12);  // shorter than a header
    SnapshotHeader h{};
    EXPECT_FALSE(store.ReadHeader(h));
    EXPECT_EQ(store.DirectoryRootCount() + store.RegistryRootCount() + store.DriveCount(), 0u);
    FileEntry e{};
    EXPECT_FALSE(store.FindFileEntry(L"c:\\", e));
    EXPECT_FALSE(store.ReadFileEntry(0, e));
    EXPECT_EQ(store.DataAt(0, 12), store.Bytes());
    EXPECT_EQ(store.DataAt(0, 13), nullptr);
    EXPECT_EQ(store.DataAt(12, 0), store.Bytes() + 12);
    EXPECT_EQ(store.DataAt(0xFFFFFFFFu, 2), nullptr);
    RegValueRecord v{};
    EXPECT_FALSE(store.ReadValue(0xFFFFFFF8u, v));
}

TEST(DamagedStore, FailedSubtreeRecordIsALeaf) {
    SnapshotStore store;
    Sample s = BuildSample(store);
    store.Write(s.vendor, RegKeyRecord{});  // a subtree that failed during the scan
    RegKeyRecord software{};
    store.ReadKey(s.software, software);
    EXPECT_EQ(store.Subkey(s.software, software, 1), s.vendor);
    EXPECT_EQ(store.FindKeyByPath(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID"), s.clsid);
    EXPECT_EQ(store.FindValue(s.vendor, L"Version"), 0u);
}

}  // namespace
}  // namespace scancap
