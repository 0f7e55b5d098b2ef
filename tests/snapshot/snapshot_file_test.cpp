#include "snapshot/snapshot_file.h"

#include "common/testing.h"
#include "snapshot/long_path.h"
#include "snapshot/store_builder.h"
#include "support/handles.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace scancap {
namespace {

using testing::ReadFileBytes;
using testing::StoreBuilder;
using testing::TempDir;
using testing::Utf8;
using testing::WriteFileBytes;

const std::string kMagic = "SnapshotVersion2";

std::string FatalMessage(const std::function<void()>& action) {
    try {
        action();
    } catch (const Str& message) {
        return Utf8(message);
    }
    return "<no error>";
}

std::string Arena(const SnapshotStore& store) {
    return std::string(reinterpret_cast<const char*>(store.Bytes()), store.Used());
}

// A store with records at odd offsets, values and drives.
void BuildStore(SnapshotStore& store) {
    StoreBuilder b(store);
    b.Begin(1, 1);
    b.Dir(b.DirectoryRoot(0), L"c:\\");
    uint32_t files = b.Children(b.DirectoryRoot(0), 2);
    b.File(StoreBuilder::At(files, 0), L"a.txt", FILE_ATTRIBUTE_ARCHIVE, 5);
    b.Dir(StoreBuilder::At(files, 1), L"dir");
    b.Key(b.RegistryRoot(0), L"HKEY_LOCAL_MACHINE");
    uint32_t values = b.Values(b.RegistryRoot(0), 2);
    b.Value(values, 0, L"odd", REG_BINARY, "\x01\x02\x03", 3);
    b.DwordValue(values, 1, L"n", 42);
    b.Drive(L'c', 0x1234, 0x2f, L"NTFS", 3);
}

std::string Repeat(char c, size_t n) { return std::string(n, c); }

// ---------------------------------------------------------------------------
// Saving

TEST(SaveSnapshot, WritesTheMagicAndTheArena) {
    TempDir dir;
    SnapshotStore store;
    store.Allocate(sizeof(SnapshotHeader));
    store.WriteHeader(SnapshotHeader{1, 2, 0x300, 4, 0x50607});
    Str file = dir / L"small.snapshot";
    SaveSnapshot(store, file);
    EXPECT_EQ(ReadFileBytes(file), std::string("SnapshotVersion2"
                                               "\x01\0\0\0\x02\0\0\0\0\x03\0\0\x04\0\0\0\x07\x06\x05\0",
                                               36));
}

TEST(SaveSnapshot, RoundTripIsByteForByte) {
    TempDir dir;
    SnapshotStore store;
    BuildStore(store);
    ASSERT_EQ(store.Used() % 2, 1u);  // odd-length data shifted what follows
    Str file = dir / L"round.snapshot";
    SaveSnapshot(store, file);
    EXPECT_EQ(ReadFileBytes(file), kMagic + Arena(store));

    SnapshotStore loaded;
    LoadSnapshot(loaded, file);
    EXPECT_EQ(loaded.Used(), store.Used());
    EXPECT_EQ(Arena(loaded), Arena(store));
    EXPECT_EQ(loaded.Capacity(), 65536u);
    FileEntry e{};
    EXPECT_TRUE(loaded.FindFileEntry(L"C:\\A.TXT", e));
    EXPECT_EQ(e.sizeLow, 5u);
    EXPECT_NE(loaded.FindValue(loaded.FindKeyByPath(L"HKEY_LOCAL_MACHINE"), L"n"), 0u);
    EXPECT_EQ(loaded.DriveCount(), 1u);

    // The loaded store saves to the same bytes again.
    Str again = dir / L"again.snapshot";
    SaveSnapshot(loaded, again);
    EXPECT_EQ(ReadFileBytes(again), ReadFileBytes(file));
}

TEST(SaveSnapshot, AnEmptyStoreIsJustTheMagic) {
    TempDir dir;
    SnapshotStore store;
    Str file = dir / L"empty.snapshot";
    SaveSnapshot(store, file);
    EXPECT_EQ(ReadFileBytes(file), kMagic);
}

TEST(SaveSnapshot, ReplacesAnExistingSnapshotOrFile) {
    TempDir dir;
    Str file = dir / L"old.snapshot";
    WriteFileBytes(file, kMagic + Repeat('x', 5000));
    SnapshotStore store;
    BuildStore(store);
    SaveSnapshot(store, file);
    EXPECT_EQ(ReadFileBytes(file), kMagic + Arena(store));

    // "MZ" files shorter than 64 bytes are not program images.
    Str shortImage = dir / L"short.exe";
    WriteFileBytes(shortImage, "MZ" + Repeat('\0', 61));
    SaveSnapshot(store, shortImage);
    EXPECT_EQ(ReadFileBytes(shortImage), kMagic + Arena(store));
}

TEST(SaveSnapshot, RefusesToOverwriteAProgramImage) {
    TempDir dir;
    Str image = dir / L"tool.exe";
    const std::string bytes = "MZ" + Repeat('\x90', 62);
    WriteFileBytes(image, bytes);
    SnapshotStore store;
    BuildStore(store);
    EXPECT_EQ(FatalMessage([&] { SaveSnapshot(store, image); }),
              "Cannot overwrite file " + Utf8(image) + ", please delete first");
    EXPECT_EQ(ReadFileBytes(image), bytes);
}

TEST(SaveSnapshot, RefusesADirectory) {
    TempDir dir;
    Str sub = dir / L"sub";
    ASSERT_TRUE(CreateDirectoryW(sub.c_str(), nullptr));
    SnapshotStore store;
    EXPECT_EQ(FatalMessage([&] { SaveSnapshot(store, sub); }),
              "Cannot save snapshot, " + Utf8(sub) + " is a directory");
}

TEST(SaveSnapshot, CannotCreateTheFile) {
    TempDir dir;
    Str file = dir / L"missing\\x.snapshot";
    SnapshotStore store;
    EXPECT_EQ(FatalMessage([&] { SaveSnapshot(store, file); }), "Unable to open " + Utf8(file) + " for writing");
}

TEST(SaveSnapshot, WriteFailure) {
    // Wine reaches the host's files through \\?\unix\; /dev/full there
    // accepts the open and fails every write with "disk full".
    const Str full(L"\\\\?\\unix\\dev\\full");
    {
        FileHandle probe(CreateFileW(full.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        if (!probe) GTEST_SKIP() << "no /dev/full";
    }
    SnapshotStore store;
    BuildStore(store);
    EXPECT_EQ(FatalMessage([&] { SaveSnapshot(store, full); }),
              "Unable to write data to \\\\?\\unix\\dev\\full, disk full?");
    SnapshotStore empty;
    EXPECT_EQ(FatalMessage([&] { SaveSnapshot(empty, full); }),
              "Unable to write data to \\\\?\\unix\\dev\\full, disk full?");
}

TEST(SaveSnapshot, LongPathsGoThroughTheirShortForm) {
    TempDir dir;
    Str deep = dir.Path();
    for (int i = 0; i < 5; ++i) deep.AppendFormat(L"\\directory with a long name number %d", i);
    ASSERT_TRUE(CreateDirectoryTree(deep));
    Str file = deep;
    file += L"\\capture.snapshot";
    ASSERT_GE(file.Length(), 180u);
    SnapshotStore store;
    BuildStore(store);
    SaveSnapshot(store, file);
    SnapshotStore loaded;
    LoadSnapshot(loaded, file);
    EXPECT_EQ(Arena(loaded), Arena(store));

    // Open failures name the path handed to the system.
    Str missing = deep;
    missing += L"\\missing.snapshot";
    SnapshotStore other;
    EXPECT_EQ(FatalMessage([&] { LoadSnapshot(other, missing); }),
              "Unable to open " + Utf8(ShortenLongPath(missing)) + " for reading");
}

// ---------------------------------------------------------------------------
// Loading

TEST(LoadSnapshot, MissingFile) {
    TempDir dir;
    Str file = dir / L"none.snapshot";
    SnapshotStore store;
    EXPECT_EQ(FatalMessage([&] { LoadSnapshot(store, file); }), "Unable to open " + Utf8(file) + " for reading");
}

TEST(LoadSnapshot, RejectsEveryAlteredMagicByte) {
    TempDir dir;
    Str file = dir / L"bad.snapshot";
    const std::string arena = Repeat('\0', 40);
    const std::string expected = Utf8(file) +
        " is not a valid snapshot file or is incompatiable with this version of scancap.exe";
    for (size_t i = 0; i < kMagic.size(); ++i) {
        std::string magic = kMagic;
        magic[i] = char(magic[i] ^ 0x01);
        WriteFileBytes(file, magic + arena);
        SnapshotStore store;
        EXPECT_EQ(FatalMessage([&] { LoadSnapshot(store, file); }), expected) << "byte " << i;
    }
    WriteFileBytes(file, "SnapshotVersion1" + arena);
    SnapshotStore store;
    EXPECT_EQ(FatalMessage([&] { LoadSnapshot(store, file); }), expected);
}

TEST(LoadSnapshot, RejectsShortFiles) {
    TempDir dir;
    Str file = dir / L"short.snapshot";
    const std::string expected = Utf8(file) +
        " is not a valid snapshot file or is incompatiable with this version of scancap.exe";
    // Empty, shorter than the magic, the magic alone, and an arena shorter than the header.
    for (const std::string& bytes : {std::string(), kMagic.substr(0, 15), kMagic, kMagic + Repeat('\0', 19)}) {
        WriteFileBytes(file, bytes);
        SnapshotStore store;
        EXPECT_EQ(FatalMessage([&] { LoadSnapshot(store, file); }), expected) << bytes.size() << " bytes";
    }
    WriteFileBytes(file, kMagic + Repeat('\0', 20));
    SnapshotStore store;
    LoadSnapshot(store, file);
    EXPECT_EQ(store.Used(), 20u);
    EXPECT_EQ(store.DirectoryRootCount(), 0u);
}

TEST(LoadSnapshot, CapacityIsTheFileSizeRoundedUp) {
    TempDir dir;
    Str file = dir / L"sizes.snapshot";
    WriteFileBytes(file, kMagic + Repeat('\0', 1000 - 16));
    SnapshotStore a;
    LoadSnapshot(a, file);
    EXPECT_EQ(a.Used(), 984u);
    EXPECT_EQ(a.Capacity(), 65536u);

    WriteFileBytes(file, kMagic + Repeat('\0', 131072 - 16));
    SnapshotStore b;
    LoadSnapshot(b, file);
    EXPECT_EQ(b.Used(), 131056u);
    EXPECT_EQ(b.Capacity(), 131072u);

    WriteFileBytes(file, kMagic + Repeat('\0', 131073 - 16));
    SnapshotStore c;
    LoadSnapshot(c, file);
    EXPECT_EQ(c.Capacity(), 196608u);
    // A loaded store can still grow.
    EXPECT_EQ(c.Allocate(100000), 131057u);
    EXPECT_EQ(c.Capacity(), 262144u);
}

TEST(LoadSnapshot, DamagedContentLoadsAndReadsAsAbsent) {
    TempDir dir;
    Str file = dir / L"damaged.snapshot";
    // Header claims roots and drives far outside the 24-byte arena.
    std::string arena("\x05\0\0\0\x05\0\0\0\xff\xff\0\0\x09\0\0\0\xf0\xff\xff\xff\0\0\0\0", 24);
    WriteFileBytes(file, kMagic + arena);
    SnapshotStore store;
    LoadSnapshot(store, file);
    EXPECT_EQ(store.Used(), 24u);
    EXPECT_EQ(store.DirectoryRootCount(), 0u);
    EXPECT_EQ(store.RegistryRootCount(), 0u);
    EXPECT_EQ(store.DriveCount(), 0u);
    FileEntry e{};
    EXPECT_FALSE(store.FindFileEntry(L"c:\\", e));
    EXPECT_EQ(store.FindKeyByPath(L"HKEY_LOCAL_MACHINE"), 0u);
}

TEST(LoadSnapshot, TooLargeToRead) {
    TempDir dir;
    Str file = dir / L"huge.snapshot";
    {
        FileHandle h(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                 nullptr));
        ASSERT_TRUE(h);
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(h.get(), kMagic.data(), 16, &written, nullptr));
        LARGE_INTEGER size;
        size.QuadPart = (int64_t(1) << 32) + 16;  // sparse
        ASSERT_TRUE(SetFilePointerEx(h.get(), size, nullptr, FILE_BEGIN));
        ASSERT_TRUE(SetEndOfFile(h.get()));
    }
    SnapshotStore store;
    EXPECT_EQ(FatalMessage([&] { LoadSnapshot(store, file); }),
              Utf8(file) + " is too large to read into memory");
    EXPECT_EQ(store.Used(), 0u);
}

TEST(LoadSnapshot, ReadFailure) {
    // Reading a process's own memory file from offset 0 fails (nothing is
    // mapped there); its size reads as 0.
    const Str mem(L"\\\\?\\unix\\proc\\self\\mem");
    {
        FileHandle probe(CreateFileW(mem.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        if (!probe) GTEST_SKIP() << "no /proc/self/mem";
    }
    SnapshotStore store;
    EXPECT_EQ(FatalMessage([&] { LoadSnapshot(store, mem); }), "Failure reading from \\\\?\\unix\\proc\\self\\mem");
    EXPECT_EQ(store.Used(), 0u);
}

}  // namespace
}  // namespace scancap
