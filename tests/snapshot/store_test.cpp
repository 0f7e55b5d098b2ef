#include "snapshot/store.h"

#include "common/testing.h"
#include "snapshot/store_builder.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace scancap {
namespace {

using testing::NameOf;
using testing::StoreBuilder;

// c:\                         directory root 0 (children sorted)
//   boot.ini
//   Program Files\App\app.exe
//   Windows\                  children in listing order of a FAT volume
//     zeta.dll, Alpha.exe, System32\kernel32.dll
// D:\Data                     directory root 1
//   readme.txt
// HKEY_LOCAL_MACHINE          registry root 0, values "" and "Path"
//   SOFTWARE\Classes\CLSID, SOFTWARE\Vendor (value Version), SYSTEM
// HKEY_USERS\S-1-5-18         registry root 1
//   Environment
struct Sample {
    uint32_t cRoot, bootIni, programFiles, app, appExe, windows, alpha, system32, kernel32;
    uint32_t dataRoot, readme;
    uint32_t hklm, software, classes, clsid, vendor, system, users, environment;
};

Sample BuildSample(SnapshotStore& store) {
    StoreBuilder b(store);
    Sample s{};
    b.Begin(2, 2);
    s.cRoot = b.DirectoryRoot(0);
    b.Dir(s.cRoot, L"c:\\");
    uint32_t top = b.Children(s.cRoot, 3);
    s.bootIni = StoreBuilder::At(top, 0);
    b.File(s.bootIni, L"boot.ini", FILE_ATTRIBUTE_ARCHIVE, 211);
    s.programFiles = StoreBuilder::At(top, 1);
    b.Dir(s.programFiles, L"Program Files");
    s.app = StoreBuilder::At(b.Children(s.programFiles, 1), 0);
    b.Dir(s.app, L"App");
    s.appExe = StoreBuilder::At(b.Children(s.app, 1), 0);
    b.File(s.appExe, L"app.exe", FILE_ATTRIBUTE_ARCHIVE, 0x123456789ull);
    s.windows = StoreBuilder::At(top, 2);
    b.Dir(s.windows, L"Windows");
    uint32_t win = b.Children(s.windows, 3);
    b.File(StoreBuilder::At(win, 0), L"zeta.dll");
    s.alpha = StoreBuilder::At(win, 1);
    b.File(s.alpha, L"Alpha.exe");
    s.system32 = StoreBuilder::At(win, 2);
    b.Dir(s.system32, L"System32");
    s.kernel32 = StoreBuilder::At(b.Children(s.system32, 1), 0);
    b.File(s.kernel32, L"kernel32.dll");

    s.dataRoot = b.DirectoryRoot(1);
    b.Dir(s.dataRoot, L"D:\\Data");
    s.readme = StoreBuilder::At(b.Children(s.dataRoot, 1), 0);
    b.File(s.readme, L"readme.txt");

    s.hklm = b.RegistryRoot(0);
    b.Key(s.hklm, L"HKEY_LOCAL_MACHINE");
    uint32_t values = b.Values(s.hklm, 2);
    uint32_t keys = b.Subkeys(s.hklm, 2);
    b.StringValue(values, 0, L"", L"default");
    b.StringValue(values, 1, L"Path", L"c:\\windows");
    s.software = StoreBuilder::SubkeyAt(keys, 0);
    b.Key(s.software, L"SOFTWARE");
    uint32_t sw = b.Subkeys(s.software, 2);
    s.classes = StoreBuilder::SubkeyAt(sw, 0);
    b.Key(s.classes, L"Classes");
    s.clsid = StoreBuilder::SubkeyAt(b.Subkeys(s.classes, 1), 0);
    b.Key(s.clsid, L"CLSID");
    s.vendor = StoreBuilder::SubkeyAt(sw, 1);
    b.Key(s.vendor, L"Vendor");
    b.DwordValue(b.Values(s.vendor, 1), 0, L"Version", 7);
    s.system = StoreBuilder::SubkeyAt(keys, 1);
    b.Key(s.system, L"SYSTEM");

    s.users = b.RegistryRoot(1);
    b.Key(s.users, L"HKEY_USERS\\S-1-5-18");
    s.environment = StoreBuilder::SubkeyAt(b.Subkeys(s.users, 1), 0);
    b.Key(s.environment, L"Environment");
    return s;
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

std::wstring FatalMessage(const std::function<void()>& action) {
    try {
        action();
    } catch (const Str& message) {
        return std::wstring(message.c_str(), message.Length());
    }
    return L"<no error>";
}

// ---------------------------------------------------------------------------
// Allocation

TEST(StoreAllocation, FirstAllocationIsOffsetZeroAndCapacityGrowsInSteps) {
    SnapshotStore store;
    EXPECT_EQ(store.Capacity(), 0u);
    EXPECT_EQ(store.Used(), 0u);
    EXPECT_EQ(store.Bytes(), nullptr);
    EXPECT_EQ(store.Allocate(20), 0u);
    EXPECT_EQ(store.Capacity(), 65536u);
    EXPECT_EQ(store.Allocate(65516), 20u);
    EXPECT_EQ(store.Used(), 65536u);
    EXPECT_EQ(store.Capacity(), 65536u);
    EXPECT_EQ(store.Allocate(1), 65536u);
    EXPECT_EQ(store.Capacity(), 131072u);
    EXPECT_EQ(store.Used(), 65537u);
}

TEST(StoreAllocation, SeventyThousandBytesIntoAnEmptyStore) {
    SnapshotStore store;
    EXPECT_EQ(store.Allocate(70000), 0u);
    EXPECT_EQ(store.Capacity(), 131072u);
    EXPECT_EQ(store.Used(), 70000u);
}

TEST(StoreAllocation, GrowingNeverMovesTheArenaOrItsBytes) {
    SnapshotStore store;
    uint32_t first = store.AllocateBytes("abcdefgh", 8);
    const uint8_t* base = store.Bytes();
    // 300 MB in one request, then many small ones.
    uint32_t big = store.Allocate(300u << 20);
    EXPECT_EQ(big, 8u);
    EXPECT_EQ(store.Capacity(), 314638336u);  // 8 + 300 MiB rounded up to 64 KiB
    for (int i = 0; i < 1000; ++i) store.Allocate(1000);
    EXPECT_EQ(store.Bytes(), base);
    EXPECT_EQ(std::memcmp(store.DataAt(first, 8), "abcdefgh", 8), 0);
    // The far end is committed and writable.
    store.Write(store.Used() - 4, uint32_t(0xfeedbeef));
    EXPECT_EQ(store.Capacity() % 65536, 0u);
}

TEST(StoreAllocation, RunningOutOfOffsetsIsFatal) {
    SnapshotStore store;
    store.Allocate(100);
    EXPECT_EQ(FatalMessage([&] { store.Allocate(0xFFFFFFF0u); }),
              L"Unable to allocate 4194368 kbytes of memory");
    EXPECT_EQ(store.Used(), 100u);
}

TEST(StoreAllocation, NamesAndBytes) {
    SnapshotStore store;
    store.Allocate(1);  // names may start at odd offsets
    uint32_t name = store.AllocateName(L"abc", 3);
    EXPECT_EQ(name, 1u);
    EXPECT_EQ(store.Used(), 9u);
    EXPECT_EQ(std::memcmp(store.Bytes() + 1, "a\0b\0c\0\0\0", 8), 0);
    EXPECT_EQ(NameOf(store, name), L"abc");
    uint32_t empty = store.AllocateName(L"", 0);
    EXPECT_EQ(store.Used(), 11u);
    EXPECT_EQ(store.Name(empty).length, 0u);
}

TEST(StoreAllocation, PrepareLoadRoundsTheCapacity) {
    SnapshotStore a;
    ASSERT_NE(a.PrepareLoad(1000), nullptr);
    EXPECT_EQ(a.Capacity(), 65536u);
    EXPECT_EQ(a.Used(), 0u);
    SnapshotStore b;
    ASSERT_NE(b.PrepareLoad(131072), nullptr);
    EXPECT_EQ(b.Capacity(), 131072u);
    // Only an empty store can be loaded into.
    EXPECT_EQ(b.PrepareLoad(10), nullptr);
}

// ---------------------------------------------------------------------------
// Name comparison

TEST(CompareNamesUpcase, OrdersAfterUpcasing) {
    EXPECT_EQ(CompareNamesUpcase(L"abc", 3, L"ABC", 3), 0);
    EXPECT_EQ(CompareNamesUpcase(L"ab", 2, L"ABC", 3), -1);
    EXPECT_EQ(CompareNamesUpcase(L"abc", 3, L"AB", 2), 1);
    EXPECT_EQ(CompareNamesUpcase(L"b", 1, L"A", 1), 1);
    EXPECT_EQ(CompareNamesUpcase(L"", 0, L"", 0), 0);
    // '_' (0x5f) comes after 'A' (0x41) once both are upper case.
    EXPECT_EQ(CompareNamesUpcase(L"_", 1, L"a", 1), 1);
    // Beyond ASCII the system's table decides.
    EXPECT_EQ(CompareNamesUpcase(L"\x00e4rger", 5, L"\x00c4RGER", 5), 0);
    EXPECT_EQ(CompareNamesUpcase(L"\x0444", 1, L"\x0424", 1), 0);
    // Lengths are counted, not terminated.
    EXPECT_EQ(CompareNamesUpcase(L"abcX", 3, L"abcY", 3), 0);
}

// ---------------------------------------------------------------------------
// File lookups

TEST(FindFileEntry, WalksFromTheMatchingRoot) {
    SnapshotStore store;
    BuildSample(store);
    EXPECT_EQ(FoundName(store, L"c:\\boot.ini"), L"boot.ini");
    EXPECT_EQ(FoundName(store, L"C:\\BOOT.INI"), L"boot.ini");
    EXPECT_EQ(FoundName(store, L"C:\\Program Files\\App\\APP.EXE"), L"app.exe");
    EXPECT_EQ(FoundName(store, L"c:\\windows\\system32\\kernel32.dll"), L"kernel32.dll");
    EXPECT_EQ(FoundName(store, L"d:\\data\\README.TXT"), L"readme.txt");
    EXPECT_EQ(FoundName(store, L"c:\\nothing"), L"<none>");
    EXPECT_EQ(FoundName(store, L"e:\\boot.ini"), L"<none>");
    EXPECT_EQ(FoundName(store, L""), L"<none>");
}

TEST(FindFileEntry, CopiesTheWholeEntry) {
    SnapshotStore store;
    Sample s = BuildSample(store);
    FileEntry found{};
    ASSERT_TRUE(store.FindFileEntry(L"C:\\Program Files\\App\\app.exe", found));
    FileEntry stored{};
    ASSERT_TRUE(store.ReadFileEntry(s.appExe, stored));
    EXPECT_EQ(std::memcmp(&found, &stored, sizeof found), 0);
    EXPECT_EQ(found.sizeHigh, 1u);
    EXPECT_EQ(found.sizeLow, 0x23456789u);
}

TEST(FindFileEntry, UnsortedChildrenAreFoundByTheLinearScan) {
    SnapshotStore store;
    BuildSample(store);
    // "zeta.dll", "Alpha.exe", "System32": bisection alone misses the first two.
    EXPECT_EQ(FoundName(store, L"c:\\Windows\\zeta.dll"), L"zeta.dll");
    EXPECT_EQ(FoundName(store, L"c:\\Windows\\alpha.exe"), L"Alpha.exe");
    EXPECT_EQ(FoundName(store, L"c:\\Windows\\System32"), L"System32");
}

TEST(FindFileEntry, RootPathItselfAndPathsBelowAFile) {
    SnapshotStore store;
    Sample s = BuildSample(store);
    FileEntry e{};
    ASSERT_TRUE(store.FindFileEntry(L"C:\\", e));
    FileEntry root{};
    store.ReadFileEntry(s.cRoot, root);
    EXPECT_EQ(std::memcmp(&e, &root, sizeof e), 0);
    EXPECT_EQ(FoundName(store, L"D:\\DATA"), L"D:\\Data");
    EXPECT_FALSE(store.FindFileEntry(L"c:\\boot.ini\\x", e));
    EXPECT_FALSE(store.FindFileEntry(L"c:\\Windows\\", e));
    // A prefix of a name is not the name.
    EXPECT_FALSE(store.FindFileEntry(L"c:\\boot", e));
    EXPECT_FALSE(store.FindFileEntry(L"c:\\boot.ini2", e));
}

TEST(FindFileEntry, LaterRootsAreTriedWhenTheFirstMatchFails) {
    SnapshotStore store;
    StoreBuilder b(store);
    b.Begin(2, 0);
    b.Dir(b.DirectoryRoot(0), L"c:\\");
    b.Dir(StoreBuilder::At(b.Children(b.DirectoryRoot(0), 1), 0), L"Windows");
    b.Dir(b.DirectoryRoot(1), L"c:\\Users");
    b.File(StoreBuilder::At(b.Children(b.DirectoryRoot(1), 1), 0), L"ntuser.dat");
    EXPECT_EQ(FoundName(store, L"c:\\users\\NTUSER.DAT"), L"ntuser.dat");
    EXPECT_EQ(FoundName(store, L"c:\\windows"), L"Windows");
}

TEST(FindFileEntry, SortedChildrenWithNonAsciiNames) {
    SnapshotStore store;
    StoreBuilder b(store);
    b.Begin(1, 0);
    b.Dir(b.DirectoryRoot(0), L"c:\\");
    const wchar_t* names[] = {L"a", L"b", L"c", L"d", L"\x00e4rger", L"\x00f6l", L"\x0444"};
    uint32_t array = b.Children(b.DirectoryRoot(0), 7);
    for (uint32_t i = 0; i < 7; ++i) b.File(StoreBuilder::At(array, i), names[i]);
    for (const wchar_t* n : names) EXPECT_EQ(FoundName(store, (std::wstring(L"c:\\") + n).c_str()), n);
    EXPECT_EQ(FoundName(store, L"c:\\\x00c4RGER"), L"\x00e4rger");
    EXPECT_EQ(FoundName(store, L"c:\\\x0424"), L"\x0444");
}

// ---------------------------------------------------------------------------
// Registry lookups

TEST(FindKeyByPath, RootsAndSubkeys) {
    SnapshotStore store;
    Sample s = BuildSample(store);
    EXPECT_EQ(store.FindKeyByPath(L"HKEY_LOCAL_MACHINE"), s.hklm);
    EXPECT_EQ(store.FindKeyByPath(L"hkey_local_machine"), s.hklm);
    EXPECT_EQ(store.FindKeyByPath(L"HKEY_LOCAL_MACHINE\\Software\\classes\\clsid"), s.clsid);
    EXPECT_EQ(store.FindKeyByPath(L"HKEY_LOCAL_MACHINE\\SYSTEM"), s.system);
    EXPECT_EQ(store.FindKeyByPath(L"HKEY_USERS\\S-1-5-18"), s.users);
    EXPECT_EQ(store.FindKeyByPath(L"HKEY_USERS\\s-1-5-18\\ENVIRONMENT"), s.environment);
    EXPECT_EQ(store.FindKeyByPath(L"HKEY_LOCAL_MACHINE\\Software\\Missing"), 0u);
    EXPECT_EQ(store.FindKeyByPath(L"HKEY_CURRENT_USER"), 0u);
    EXPECT_EQ(store.FindKeyByPath(L"HKEY_USERS\\S-1-5-19"), 0u);
    // Below a key without subkeys.
    EXPECT_EQ(store.FindKeyByPath(L"HKEY_LOCAL_MACHINE\\SYSTEM\\x"), 0u);
}

TEST(FindKeyByPath, NoRegistryRoots) {
    SnapshotStore store;
    StoreBuilder b(store);
    b.Begin(1, 0);
    b.Dir(b.DirectoryRoot(0), L"c:\\");
    EXPECT_EQ(store.FindKeyByPath(L"HKEY_LOCAL_MACHINE"), 0u);
    EXPECT_EQ(store.FindKeyByPath(L""), 0u);
    SnapshotStore empty;
    EXPECT_EQ(empty.FindKeyByPath(L"HKEY_LOCAL_MACHINE"), 0u);
    FileEntry e{};
    EXPECT_FALSE(empty.FindFileEntry(L"c:\\", e));
}

TEST(FindSubkey, RelativePaths) {
    SnapshotStore store;
    Sample s = BuildSample(store);
    EXPECT_EQ(store.FindSubkey(s.hklm, L""), s.hklm);
    EXPECT_EQ(store.FindSubkey(s.hklm, L"\\"), s.hklm);
    EXPECT_EQ(store.FindSubkey(s.hklm, L"software"), s.software);
    EXPECT_EQ(store.FindSubkey(s.hklm, L"\\SOFTWARE\\Vendor"), s.vendor);
    EXPECT_EQ(store.FindSubkey(s.software, L"Classes\\CLSID"), s.clsid);
    EXPECT_EQ(store.FindSubkey(s.software, L"CLSID"), 0u);
    EXPECT_EQ(store.FindSubkey(0, L""), 0u);
}

TEST(FindSubkey, UnsortedAndDuplicateNames) {
    SnapshotStore store;
    StoreBuilder b(store);
    b.Begin(0, 1);
    b.Key(b.RegistryRoot(0), L"HKEY_LOCAL_MACHINE");
    uint32_t sorted = b.Subkeys(b.RegistryRoot(0), 5);
    const wchar_t* names[] = {L"A", L"B", L"b", L"C", L"0"};  // "0" out of order
    for (uint32_t i = 0; i < 5; ++i) b.Key(StoreBuilder::SubkeyAt(sorted, i), names[i]);
    // Bisection lands on the second "B"; the answer is the first, as a linear scan gives.
    EXPECT_EQ(store.FindKeyByPath(L"HKEY_LOCAL_MACHINE\\b"), StoreBuilder::SubkeyAt(sorted, 1));
    EXPECT_EQ(store.FindKeyByPath(L"HKEY_LOCAL_MACHINE\\0"), StoreBuilder::SubkeyAt(sorted, 4));
    EXPECT_EQ(store.FindKeyByPath(L"HKEY_LOCAL_MACHINE\\c"), StoreBuilder::SubkeyAt(sorted, 3));
}

TEST(FindValue, AsciiCaseOnlyAndTheDefaultValue) {
    SnapshotStore store;
    Sample s = BuildSample(store);
    RegValueRecord v{};
    uint32_t def = store.FindValue(s.hklm, L"");
    ASSERT_NE(def, 0u);
    ASSERT_TRUE(store.ReadValue(def, v));
    EXPECT_EQ(NameOf(store, v.nameOffset), L"");
    EXPECT_EQ(v.type, uint32_t(REG_SZ));
    EXPECT_EQ(v.dataLength, 16u);
    uint32_t path = store.FindValue(s.hklm, L"PATH");
    ASSERT_NE(path, 0u);
    store.ReadValue(path, v);
    EXPECT_EQ(NameOf(store, v.nameOffset), L"Path");
    EXPECT_EQ(store.FindValue(s.hklm, L"Pat"), 0u);
    EXPECT_EQ(store.FindValue(s.system, L""), 0u);  // no values at all
    EXPECT_NE(store.FindValue(s.vendor, L"version"), 0u);

    SnapshotStore other;
    StoreBuilder b(other);
    b.Begin(0, 1);
    b.Key(b.RegistryRoot(0), L"HKEY_LOCAL_MACHINE");
    uint32_t values = b.Values(b.RegistryRoot(0), 2);
    b.DwordValue(values, 0, L"\x00e4rger", 1);
    b.DwordValue(values, 1, L"x", 2);
    EXPECT_EQ(other.FindValue(b.RegistryRoot(0), L"\x00c4rger"), 0u);
    EXPECT_NE(other.FindValue(b.RegistryRoot(0), L"\x00e4RGER"), 0u);
    EXPECT_EQ(other.FindValue(b.RegistryRoot(0), L"X"), values + 16);
}

// ---------------------------------------------------------------------------
// Insertion

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

TEST(FindOrInsertKeyPath, FindsExistingKeysWithoutCase) {
    SnapshotStore store;
    Sample s = BuildSample(store);
    uint32_t used = store.Used();
    EXPECT_EQ(store.FindOrInsertKeyPath(L"hkey_local_machine\\software\\CLASSES"), s.classes);
    EXPECT_EQ(store.FindOrInsertKeyPath(L"HKEY_LOCAL_MACHINE"), s.hklm);
    EXPECT_EQ(store.Used(), used);
}

TEST(FindOrInsertKeyPath, PlacesNewKeysInStrOrder) {
    SnapshotStore store;
    StoreBuilder b(store);
    b.Begin(0, 1);
    uint32_t root = b.RegistryRoot(0);
    b.Key(root, L"HKEY_LOCAL_MACHINE");
    uint32_t keys = b.Subkeys(root, 3);
    b.Key(StoreBuilder::SubkeyAt(keys, 0), L"Ab");
    b.Key(StoreBuilder::SubkeyAt(keys, 1), L"Classes");
    b.Key(StoreBuilder::SubkeyAt(keys, 2), L"Zz");

    // Shorter names sort first: "Xyz" goes before "Classes" although "Zz" follows.
    uint32_t xyz = store.FindOrInsertKeyPath(L"HKEY_LOCAL_MACHINE\\Xyz");
    EXPECT_EQ(KeyName(store, xyz), L"Xyz");
    EXPECT_EQ(SubkeyNames(store, root), L"Ab,Xyz,Classes,Zz");
    // Longer than all: at the end.
    store.FindOrInsertKeyPath(L"HKEY_LOCAL_MACHINE\\Halvern, Inc.");
    EXPECT_EQ(SubkeyNames(store, root), L"Ab,Xyz,Classes,Zz,Halvern, Inc.");
    // Same length: compared without case.
    store.FindOrInsertKeyPath(L"HKEY_LOCAL_MACHINE\\bb");
    EXPECT_EQ(SubkeyNames(store, root), L"Ab,bb,Xyz,Classes,Zz,Halvern, Inc.");
    RegKeyRecord inserted = b.KeyAt(store.FindKeyByPath(L"HKEY_LOCAL_MACHINE\\BB"));
    EXPECT_EQ(inserted.subkeyCount, 0u);
    EXPECT_EQ(inserted.valueCount, 0u);
    EXPECT_EQ(inserted.lastWriteTime.dwLowDateTime, 0u);
}

TEST(FindOrInsertKeyPath, CreatesEveryMissingLevel) {
    SnapshotStore store;
    uint32_t deep = store.FindOrInsertKeyPath(L"HKEY_LOCAL_MACHINE\\Software\\Halvern, Inc.\\Ostrel");
    ASSERT_NE(deep, 0u);
    EXPECT_EQ(store.FindKeyByPath(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\halvern, inc.\\OSTREL"), deep);
    SnapshotHeader h{};
    ASSERT_TRUE(store.ReadHeader(h));
    EXPECT_EQ(h.directoryRootCount, 0u);
    EXPECT_EQ(h.registryRootCount, 1u);
    uint32_t other = store.FindOrInsertKeyPath(L"HKEY_CURRENT_USER\\Software");
    EXPECT_EQ(store.FindKeyByPath(L"HKEY_CURRENT_USER\\Software"), other);
    store.ReadHeader(h);
    EXPECT_EQ(h.registryRootCount, 2u);
    // Roots are placed like any other key: the shorter name first.
    EXPECT_EQ(KeyName(store, store.RegistryRoot(0)), L"HKEY_CURRENT_USER");
    EXPECT_EQ(KeyName(store, store.RegistryRoot(1)), L"HKEY_LOCAL_MACHINE");
    EXPECT_EQ(store.FindKeyByPath(L"HKEY_LOCAL_MACHINE\\Software\\Halvern, Inc.\\Ostrel"), deep);
}

TEST(FindOrInsertKeyPath, MovedSiblingsKeepTheirSubtrees) {
    SnapshotStore store;
    Sample s = BuildSample(store);
    // A new sibling of Classes and Vendor copies both into a new array at the
    // end of the arena; their own subkeys and values stay where they were.
    uint32_t ostrel = store.FindOrInsertKeyPath(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvern, Inc.\\Ostrel");
    ASSERT_NE(ostrel, 0u);
    EXPECT_EQ(SubkeyNames(store, s.software), L"Classes,Vendor,Halvern, Inc.");
    uint32_t clsid = store.FindKeyByPath(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID");
    EXPECT_EQ(KeyName(store, clsid), L"CLSID");
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
    StoreBuilder b(store);
    b.Begin(0, 1);
    uint32_t root = b.RegistryRoot(0);
    b.Key(root, L"HKEY_LOCAL_MACHINE");
    uint32_t keys = b.Subkeys(root, 3);
    b.Key(StoreBuilder::SubkeyAt(keys, 0), L"Alpha");
    b.Key(StoreBuilder::SubkeyAt(keys, 1), L"beta");
    b.Key(StoreBuilder::SubkeyAt(keys, 2), L"Gamma");

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

TEST(InsertKeyRecord, AddsAPreparedKeyUnderNewParents) {
    SnapshotStore store;
    Sample s = BuildSample(store);
    StoreBuilder b(store);
    // Prepared the way the scanner prepares its accounts key: name, then values.
    RegKeyRecord accounts{};
    accounts.nameOffset = store.AllocateName(L"VirtualLocalAccounts", 20);
    accounts.valueCount = 2;
    accounts.valueOffset = store.Allocate(32);
    b.StringValue(accounts.valueOffset, 0, L"alice", L"S-1-5-21-1");
    b.StringValue(accounts.valueOffset, 1, L"bob", L"S-1-5-21-2");
    store.InsertKeyRecord(L"HKEY_LOCAL_MACHINE\\Software\\Halvern, Inc.\\Ostrel", accounts);

    uint32_t key = store.FindKeyByPath(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvern, Inc.\\Ostrel\\VirtualLocalAccounts");
    ASSERT_NE(key, 0u);
    EXPECT_NE(store.FindValue(key, L"BOB"), 0u);
    EXPECT_EQ(SubkeyNames(store, s.software), L"Classes,Vendor,Halvern, Inc.");
    EXPECT_EQ(KeyName(store, store.FindKeyByPath(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID")), L"CLSID");

    // Inserted again: always added.
    store.InsertKeyRecord(L"HKEY_LOCAL_MACHINE\\Software\\Halvern, Inc.\\Ostrel", accounts);
    EXPECT_EQ(SubkeyNames(store, store.FindKeyByPath(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvern, Inc.\\Ostrel")),
              L"VirtualLocalAccounts,VirtualLocalAccounts");
}

TEST(InsertKeyRecord, PreparedSubtreeStaysReachable) {
    SnapshotStore store;
    BuildSample(store);
    StoreBuilder b(store);
    // Its name and subkeys exist before the parent path is created.
    RegKeyRecord prepared{};
    prepared.nameOffset = store.AllocateName(L"Prepared", 8);
    prepared.subkeyCount = 1;
    prepared.subkeyOffset = store.Allocate(sizeof(RegKeyRecord));
    b.Key(prepared.subkeyOffset, L"Child");
    store.InsertKeyRecord(L"HKEY_LOCAL_MACHINE\\Brand\\New", prepared);
    EXPECT_EQ(KeyName(store, store.FindKeyByPath(L"HKEY_LOCAL_MACHINE\\Brand\\New\\Prepared\\Child")), L"Child");
}

TEST(InsertKeyRecord, PreparedSubtreeUnderNewParentsStaysReachableAtEveryLevel) {
    SnapshotStore store;
    BuildSample(store);
    StoreBuilder b(store);
    // Prepared in scan order (each name before the arrays below it), three
    // levels deep with values at the bottom, before the parents exist.
    RegKeyRecord prepared{};
    prepared.nameOffset = store.AllocateName(L"Prepared", 8);
    prepared.subkeyCount = 2;
    prepared.subkeyOffset = store.Allocate(2 * sizeof(RegKeyRecord));
    uint32_t child = StoreBuilder::SubkeyAt(prepared.subkeyOffset, 0);
    b.Key(child, L"Child");
    b.Key(StoreBuilder::SubkeyAt(prepared.subkeyOffset, 1), L"Leaf");
    uint32_t grandchild = StoreBuilder::SubkeyAt(b.Subkeys(child, 1), 0);
    b.Key(grandchild, L"Grandchild");
    uint32_t great = StoreBuilder::SubkeyAt(b.Subkeys(grandchild, 1), 0);
    b.Key(great, L"Great");
    b.DwordValue(b.Values(great, 1), 0, L"Depth", 4);

    store.InsertKeyRecord(L"HKEY_LOCAL_MACHINE\\Brand\\New", prepared);
    const wchar_t* base = L"HKEY_LOCAL_MACHINE\\Brand\\New\\Prepared";
    EXPECT_EQ(SubkeyNames(store, store.FindKeyByPath(base)), L"Child,Leaf");
    std::wstring path = base;
    EXPECT_EQ(SubkeyNames(store, store.FindKeyByPath((path + L"\\Child").c_str())), L"Grandchild");
    EXPECT_EQ(SubkeyNames(store, store.FindKeyByPath((path + L"\\Child\\Grandchild").c_str())), L"Great");
    uint32_t found = store.FindKeyByPath((path + L"\\child\\GRANDCHILD\\great").c_str());
    EXPECT_EQ(KeyName(store, found), L"Great");
    EXPECT_NE(store.FindValue(found, L"Depth"), 0u);

    // The walk rule holds all the way down: every key with subkeys is named
    // after its parent.
    std::function<void(uint32_t, int)> check = [&](uint32_t keyOffset, int depth) {
        RegKeyRecord key = b.KeyAt(keyOffset);
        for (uint32_t i = 0; i < key.subkeyCount; ++i) {
            uint32_t sub = StoreBuilder::SubkeyAt(key.subkeyOffset, i);
            EXPECT_NE(store.Subkey(keyOffset, key, i), 0u) << "hidden at depth " << depth;
            check(sub, depth + 1);
        }
    };
    check(store.FindKeyByPath(L"HKEY_LOCAL_MACHINE"), 0);
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
        StoreBuilder b(store);
        end = store.Used();
        ghostEntry = store.Allocate(sizeof(FileEntry));
        b.File(ghostEntry, L"ghost");
        ghostKey = store.Allocate(sizeof(RegKeyRecord));
        b.Key(ghostKey, L"ghost");
        store.SetUsed(end);
    }
};

TEST(DamagedStore, ChildArrayBeyondUsed) {
    Damaged d;
    StoreBuilder b(d.store);
    FileEntry windows = b.Entry(d.s.windows);
    windows.childCount = 1;
    windows.childOffset = d.ghostEntry;
    d.store.Write(d.s.windows, windows);
    EXPECT_EQ(d.store.ChildCount(d.s.windows, windows), 0u);
    EXPECT_EQ(d.store.ChildEntry(d.s.windows, windows, 0), 0u);
    EXPECT_EQ(FoundName(d.store, L"c:\\Windows\\ghost"), L"<none>");
    // An array that begins inside the arena but runs past its end.
    windows.childCount = 3;
    windows.childOffset = d.end - 100;
    d.store.Write(d.s.windows, windows);
    EXPECT_EQ(d.store.ChildCount(d.s.windows, windows), 0u);
    EXPECT_EQ(FoundName(d.store, L"c:\\Windows\\ghost"), L"<none>");
    EXPECT_EQ(FoundName(d.store, L"c:\\boot.ini"), L"boot.ini");
}

TEST(DamagedStore, ChildArrayPointingBackwards) {
    Damaged d;
    StoreBuilder b(d.store);
    // System32 claims the root array as its children: a cycle.
    FileEntry system32 = b.Entry(d.s.system32);
    system32.childCount = 2;
    system32.childOffset = kDirectoryRootsOffset;
    d.store.Write(d.s.system32, system32);
    EXPECT_EQ(d.store.ChildCount(d.s.system32, system32), 0u);
    EXPECT_EQ(FoundName(d.store, L"c:\\Windows\\System32\\c:\\"), L"<none>");
    // Its own record as its child array.
    system32.childCount = 1;
    system32.childOffset = d.s.system32;
    d.store.Write(d.s.system32, system32);
    EXPECT_EQ(d.store.ChildCount(d.s.system32, system32), 0u);
}

TEST(DamagedStore, SubkeyCycleIsNotFollowed) {
    Damaged d;
    StoreBuilder b(d.store);
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
    // A key that is its own subkey.
    clsid.subkeyCount = 1;
    clsid.subkeyOffset = d.s.clsid;
    d.store.Write(d.s.clsid, clsid);
    EXPECT_EQ(d.store.Subkey(d.s.clsid, clsid, 0), 0u);
}

TEST(DamagedStore, SubkeyAndValueArraysBeyondUsed) {
    Damaged d;
    StoreBuilder b(d.store);
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
    StoreBuilder b(store);
    // "tail" as the last bytes of the arena, without terminator, then "ghost" beyond.
    uint32_t tail = store.AllocateBytes(L"tail", 8);
    uint32_t end = store.Used();
    store.AllocateName(L"ghost", 5);
    store.SetUsed(end);
    FileEntry readme = b.Entry(s.readme);
    readme.nameOffset = tail;
    store.Write(s.readme, readme);
    NameView name = store.Name(tail);
    EXPECT_EQ(name.length, 4u);
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

TEST(DamagedStore, HugeHeaderCounts) {
    Damaged d;
    StoreBuilder b(d.store);
    b.Poke(0, 0xFFFFFFFFu);   // directory roots
    b.Poke(4, 0x10000000u);   // registry roots
    b.Poke(12, 0x7FFFFFFFu);  // drives
    EXPECT_EQ(d.store.DirectoryRootCount(), 0u);
    EXPECT_EQ(d.store.DirectoryRoot(0), 0u);
    EXPECT_EQ(d.store.RegistryRootCount(), 0u);
    EXPECT_EQ(d.store.RegistryRoot(0), 0u);
    EXPECT_EQ(d.store.DriveCount(), 0u);
    EXPECT_EQ(FoundName(d.store, L"c:\\boot.ini"), L"<none>");
    EXPECT_EQ(d.store.FindKeyByPath(L"HKEY_LOCAL_MACHINE"), 0u);
}

TEST(DamagedStore, RegistryRootArrayOverTheHeaderOrPastTheEnd) {
    Damaged d;
    StoreBuilder b(d.store);
    b.Poke(8, 4);  // inside the header
    EXPECT_EQ(d.store.RegistryRootCount(), 0u);
    b.Poke(8, d.ghostKey);
    EXPECT_EQ(d.store.RegistryRootCount(), 0u);
    EXPECT_EQ(d.store.FindKeyByPath(L"ghost"), 0u);
}

TEST(DamagedStore, ShortArenaAndOutOfRangeReads) {
    SnapshotStore store;
    store.Allocate(12);  // shorter than a header
    SnapshotHeader h{};
    EXPECT_FALSE(store.ReadHeader(h));
    EXPECT_EQ(store.DirectoryRootCount(), 0u);
    EXPECT_EQ(store.RegistryRootCount(), 0u);
    EXPECT_EQ(store.DriveCount(), 0u);
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
    // A subtree that failed during the scan is left as 28 zero bytes.
    store.Write(s.vendor, RegKeyRecord{});
    RegKeyRecord software{};
    store.ReadKey(s.software, software);
    EXPECT_EQ(store.Subkey(s.software, software, 1), s.vendor);
    EXPECT_EQ(store.FindKeyByPath(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID"), s.clsid);
    EXPECT_EQ(store.FindValue(s.vendor, L"Version"), 0u);
}

}  // namespace
}  // namespace scancap
