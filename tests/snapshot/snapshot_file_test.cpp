#include "snapshot/snapshot_file.h"

#include "common/testing.h"
#include "snapshot/long_path.h"
#include "snapshot/store_builder.h"
#include "support/handles.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

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

std::string LoadError(const Str& file) {
    SnapshotStore store;
    return FatalMessage([&] { LoadSnapshot(store, file); });
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

TEST(SaveSnapshot, WritesTheMagicAndTheArena) {
    TempDir dir;
    Str file = dir / L"small.snapshot";
    SnapshotStore empty;
    SaveSnapshot(empty, file);
    EXPECT_EQ(ReadFileBytes(file), kMagic);

    SnapshotStore store;
    store.Allocate(sizeof(SnapshotHeader));
    store.WriteHeader(SnapshotHeader{1, 2, 0x300, 4, 0x50607});
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
    // Replaces an older snapshot, and an "MZ" file too short to be a program image.
    Str file = dir / L"round.snapshot";
    WriteFileBytes(file, kMagic + std::string(5000, 'x'));
    Str shortImage = dir / L"short.exe";
    WriteFileBytes(shortImage, "MZ" + std::string(61, '\0'));
    SaveSnapshot(store, file);
    SaveSnapshot(store, shortImage);
    EXPECT_EQ(ReadFileBytes(file), kMagic + Arena(store));
    EXPECT_EQ(ReadFileBytes(shortImage), kMagic + Arena(store));

    SnapshotStore loaded;
    LoadSnapshot(loaded, file);
    EXPECT_EQ(Arena(loaded), Arena(store));
    EXPECT_EQ(loaded.Capacity(), 65536u);
    FileEntry e{};
    EXPECT_TRUE(loaded.FindFileEntry(L"C:\\A.TXT", e));
    EXPECT_NE(loaded.FindValue(loaded.FindKeyByPath(L"HKEY_LOCAL_MACHINE"), L"n"), 0u);
    EXPECT_EQ(loaded.DriveCount(), 1u);
    Str again = dir / L"again.snapshot";
    SaveSnapshot(loaded, again);
    EXPECT_EQ(ReadFileBytes(again), ReadFileBytes(file));
}

TEST(SaveSnapshot, Refusals) {
    TempDir dir;
    SnapshotStore store;
    BuildStore(store);
    Str image = dir / L"tool.exe";
    const std::string bytes = "MZ" + std::string(62, '\x90');
    WriteFileBytes(image, bytes);
    EXPECT_EQ(FatalMessage([&] { SaveSnapshot(store, image); }),
              "Cannot overwrite file " + Utf8(image) + ", please delete first");
    EXPECT_EQ(ReadFileBytes(image), bytes);

    Str sub = dir / L"sub";
    ASSERT_TRUE(CreateDirectoryW(sub.c_str(), nullptr));
    EXPECT_EQ(FatalMessage([&] { SaveSnapshot(store, sub); }),
              "Cannot save snapshot, " + Utf8(sub) + " is a directory");

    Str missing = dir / L"missing\\x.snapshot";
    EXPECT_EQ(FatalMessage([&] { SaveSnapshot(store, missing); }), "Unable to open " + Utf8(missing) + " for writing");
}

TEST(SaveSnapshot, WriteFailure) {
    // Wine reaches the host's files through \\?\unix\; /dev/full there
    // accepts the open and fails every write with "disk full".
    const Str full(L"\\\\?\\unix\\dev\\full");
    {
        FileHandle probe(CreateFileW(full.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        if (!probe) GTEST_SKIP() << "no /dev/full";
    }
    SnapshotStore store, empty;
    BuildStore(store);
    for (SnapshotStore* s : {&store, &empty})
        EXPECT_EQ(FatalMessage([&] { SaveSnapshot(*s, full); }),
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
    SnapshotStore store, loaded;
    BuildStore(store);
    SaveSnapshot(store, file);
    LoadSnapshot(loaded, file);
    EXPECT_EQ(Arena(loaded), Arena(store));
    // Open failures name the path handed to the system.
    Str missing = deep;
    missing += L"\\missing.snapshot";
    EXPECT_EQ(LoadError(missing), "Unable to open " + Utf8(ShortenLongPath(missing)) + " for reading");
}

TEST(LoadSnapshot, RejectsMissingShortAndAlteredFiles) {
    TempDir dir;
    Str file = dir / L"bad.snapshot";
    EXPECT_EQ(LoadError(file), "Unable to open " + Utf8(file) + " for reading");

    const std::string invalid =
        Utf8(file) + " is not a valid snapshot file or is incompatiable with this version of scancap.exe";
    // Empty, shorter than the magic, the magic alone, an arena shorter than the
    // header, the older version, and every magic byte altered.
    std::vector<std::string> files = {"", kMagic.substr(0, 15), kMagic, kMagic + std::string(19, '\0'),
                                      "SnapshotVersion1" + std::string(40, '\0')};
    for (size_t i = 0; i < kMagic.size(); ++i) {
        std::string magic = kMagic;
        magic[i] = char(magic[i] ^ 0x01);
        files.push_back(magic + std::string(40, '\0'));
    }
    for (const std::string& bytes : files) {
        WriteFileBytes(file, bytes);
        EXPECT_EQ(LoadError(file), invalid) << bytes.substr(0, 16) << ", " << bytes.size() << " bytes";
    }
}

TEST(LoadSnapshot, CapacityIsTheFileSizeRoundedUp) {
    TempDir dir;
    Str file = dir / L"sizes.snapshot";
    const std::pair<uint32_t, uint64_t> rows[] = {{20, 65536}, {984, 65536}, {131056, 131072}, {131057, 196608}};
    for (const auto& [arena, capacity] : rows) {
        WriteFileBytes(file, kMagic + std::string(arena, '\0'));
        SnapshotStore store;
        LoadSnapshot(store, file);
        EXPECT_EQ(store.Used(), arena);
        EXPECT_EQ(store.Capacity(), capacity);
        EXPECT_EQ(store.DirectoryRootCount(), 0u);
        if (arena == 131057) {  // a loaded store can still grow
            EXPECT_EQ(store.Allocate(100000), 131057u);
            EXPECT_EQ(store.Capacity(), 262144u);
        }
    }
}

TEST(LoadSnapshot, DamagedContentLoadsAndReadsAsAbsent) {
    TempDir dir;
    Str file = dir / L"damaged.snapshot";
    // Header claims roots and drives far outside the 24-byte arena.
    WriteFileBytes(file, kMagic + std::string("\x05\0\0\0\x05\0\0\0\xff\xff\0\0\x09\0\0\0\xf0\xff\xff\xff\0\0\0\0", 24));
    SnapshotStore store;
    LoadSnapshot(store, file);
    EXPECT_EQ(store.Used(), 24u);
    EXPECT_EQ(store.DirectoryRootCount() + store.RegistryRootCount() + store.DriveCount(), 0u);
    FileEntry e{};
    EXPECT_FALSE(store.FindFileEntry(L"c:\\", e));
    EXPECT_EQ(store.FindKeyByPath(L"HKEY_LOCAL_MACHINE"), 0u);
}

TEST(LoadSnapshot, TooLargeAndReadFailure) {
    TempDir dir;
    Str file = dir / L"huge.snapshot";
    {
        FileHandle h(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(h);
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(h.get(), kMagic.data(), 16, &written, nullptr));
        LARGE_INTEGER size;
        size.QuadPart = (int64_t(1) << 32) + 16;  // sparse
        ASSERT_TRUE(SetFilePointerEx(h.get(), size, nullptr, FILE_BEGIN));
        ASSERT_TRUE(SetEndOfFile(h.get()));
    }
    EXPECT_EQ(LoadError(file), Utf8(file) + " is too large to read into memory");

    // Reading a process's own memory file from offset 0 fails (nothing is
    // mapped there); its size reads as 0.
    const Str mem(L"\\\\?\\unix\\proc\\self\\mem");
    if (!FileHandle(CreateFileW(mem.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr)))
        GTEST_SKIP() << "no /proc/self/mem";
    EXPECT_EQ(LoadError(mem), "Failure reading from \\\\?\\unix\\proc\\self\\mem");
}

}  // namespace
}  // namespace scancap
