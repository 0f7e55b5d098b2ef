// SnapshotStore: one machine state in one byte arena. Every reference between
// records is a 32-bit byte offset from the start of the arena, so the arena
// is also the body of a snapshot file.
//
// Reading: every record, name and data block is read through the checked
// accessors below. A store loaded from a damaged file can hold any bytes, so
// the accessors validate each offset against `Used()` and treat what does not
// fit as absent. Two ordering rules make every walk finite (walkers also stop
// at kMaxTreeDepth):
// - A child array is only followed when it lies after the FileEntry that
//   refers to it; a scan always allocates it later.
// - Subkey arrays may lie before their key: inserting a subkey copies the
//   sibling records into a new array at the end, and the copies keep their
//   old subkey arrays. What never changes is that a key's name is allocated
//   after its parent's name, so `Subkey` hides a subkey that has subkeys of
//   its own unless its name lies after its parent's.
#pragma once

#include "support/str.h"

#include <cstdint>
#include <cstring>

namespace scancap {

#pragma pack(push, 4)
struct SnapshotHeader {
    uint32_t directoryRootCount;
    uint32_t registryRootCount;
    uint32_t registryRootOffset;
    uint32_t driveCount;
    uint32_t driveOffset;
};

struct FileEntry {
    uint32_t nameOffset;
    FILETIME creationTime;
    FILETIME lastAccessTime;
    FILETIME lastWriteTime;
    uint32_t attributes;
    uint32_t sizeHigh;
    uint32_t sizeLow;
    uint32_t childCount;
    uint32_t childOffset;
};

struct RegKeyRecord {
    uint32_t nameOffset;
    uint32_t subkeyCount;
    uint32_t subkeyOffset;
    uint32_t valueCount;
    uint32_t valueOffset;
    FILETIME lastWriteTime;
};

struct RegValueRecord {
    uint32_t nameOffset;
    uint32_t type;
    uint32_t dataLength;
    uint32_t dataOffset;
};

struct DriveRecord {
    uint32_t serialNumber;
    uint32_t fileSystemFlags;
    uint32_t maxComponentLength;
    wchar_t fileSystemName[32];
    uint8_t driveType;
    uint8_t driveLetter;
    uint8_t unused[2];
};
#pragma pack(pop)

static_assert(sizeof(SnapshotHeader) == 20);
static_assert(sizeof(FileEntry) == 48);
static_assert(sizeof(RegKeyRecord) == 28);
static_assert(sizeof(RegValueRecord) == 16);
static_assert(sizeof(DriveRecord) == 80);

constexpr uint32_t kDirectoryRootsOffset = 20;  // directory root array follows the header
constexpr uint32_t kArenaStep = 65536;           // capacity grows in these steps
constexpr int kMaxTreeDepth = 16384;             // no real path or key is deeper

// A counted name inside the arena (not necessarily terminated when the store
// was damaged). Empty when the offset does not lie inside the arena.
struct NameView {
    const wchar_t* text = L"";
    size_t length = 0;
};

// -1, 0 or 1 after mapping every code unit through the system's upper-case
// table; a prefix sorts first.
int CompareNamesUpcase(const wchar_t* a, size_t aLength, const wchar_t* b, size_t bLength);

class SnapshotStore {
public:
    SnapshotStore() = default;
    ~SnapshotStore();
    SnapshotStore(const SnapshotStore&) = delete;
    SnapshotStore& operator=(const SnapshotStore&) = delete;

    // Reserves n bytes at the end of the arena and returns their offset (the
    // old Used()). The bytes are not cleared. Fatal when the arena cannot grow.
    uint32_t Allocate(uint32_t n);
    // Allocates a name (text and one zero unit) and returns its offset.
    uint32_t AllocateName(const wchar_t* text, size_t length);
    // Allocates and copies bytes; returns the offset.
    uint32_t AllocateBytes(const void* data, uint32_t length);

    uint32_t Used() const noexcept { return used_; }
    uint64_t Capacity() const noexcept { return capacity_; }
    const uint8_t* Bytes() const noexcept { return arena_; }

    // For the loader: makes room for `size` bytes (capacity rounded up to
    // kArenaStep) in an empty store and returns where they go; then SetUsed.
    // Returns null when the memory cannot be had.
    uint8_t* PrepareLoad(uint64_t size);
    void SetUsed(uint32_t used) noexcept { used_ = used; }

    // Checked reads: false when the record does not lie inside the arena.
    bool ReadHeader(SnapshotHeader& out) const { return Read(0, out); }
    bool ReadFileEntry(uint32_t offset, FileEntry& out) const { return Read(offset, out); }
    bool ReadKey(uint32_t offset, RegKeyRecord& out) const { return Read(offset, out); }
    bool ReadValue(uint32_t offset, RegValueRecord& out) const { return Read(offset, out); }
    bool ReadDrive(uint32_t offset, DriveRecord& out) const { return Read(offset, out); }
    NameView Name(uint32_t offset) const;
    // The data block, or null when it does not lie inside the arena.
    const uint8_t* DataAt(uint32_t offset, uint32_t length) const;

    // Offset of child i of an array that starts at arrayOffset, or 0 when the
    // array does not lie inside the arena after `ownerOffset`.
    uint32_t ChildEntry(uint32_t ownerOffset, const FileEntry& owner, uint32_t index) const;
    // Offset of subkey i, or 0 when the array does not lie inside the arena or
    // that subkey has subkeys but is not named after its owner (see above).
    // Walkers skip a 0 and go on with the next index.
    uint32_t Subkey(uint32_t ownerOffset, const RegKeyRecord& owner, uint32_t index) const;
    uint32_t ValueAt(const RegKeyRecord& owner, uint32_t index) const;
    // Usable counts: the stored count, or 0 when the array does not fit.
    uint32_t ChildCount(uint32_t ownerOffset, const FileEntry& owner) const;
    uint32_t SubkeyCount(uint32_t ownerOffset, const RegKeyRecord& owner) const;
    uint32_t ValueCount(const RegKeyRecord& owner) const;
    // Root arrays from the header (0 offset / count when they do not fit).
    uint32_t DirectoryRootCount() const;
    uint32_t DirectoryRoot(uint32_t index) const;
    uint32_t RegistryRootCount() const;
    uint32_t RegistryRoot(uint32_t index) const;
    uint32_t DriveCount() const;
    uint32_t Drive(uint32_t index) const;

    // Unchecked writes, for the scanners building a store.
    template <typename T>
    void Write(uint32_t offset, const T& record) noexcept {
        std::memcpy(arena_ + offset, &record, sizeof(T));
    }
    void WriteHeader(const SnapshotHeader& h) noexcept { Write(0, h); }

    // Lookups (absence is false / 0; they never raise errors).
    bool FindFileEntry(const wchar_t* path, FileEntry& out) const;
    // Offsets of RegKeyRecord / RegValueRecord, 0 when absent.
    uint32_t FindKeyByPath(const wchar_t* path) const;
    uint32_t FindSubkey(uint32_t keyOffset, const wchar_t* relativePath) const;
    uint32_t FindValue(uint32_t keyOffset, const wchar_t* name) const;
    uint32_t FindOrInsertKeyPath(const wchar_t* path);
    void InsertKeyRecord(const wchar_t* parentPath, const RegKeyRecord& record);

private:
    template <typename T>
    bool Read(uint32_t offset, T& out) const noexcept {
        if (uint64_t(offset) + sizeof(T) > used_) return false;
        std::memcpy(&out, arena_ + offset, sizeof(T));
        return true;
    }
    bool CommitTo(uint64_t newCapacity);
    void Commit(uint64_t newCapacity);  // Fatal when the memory cannot be had
    // The count of a root or drive array described by the header, 0 when
    // the array does not lie inside the arena.
    uint32_t HeaderArrayCount(uint32_t offset, uint32_t count, uint32_t recordSize) const;
    bool ArrayFits(uint32_t offset, uint32_t count, uint32_t recordSize) const;
    bool ReadSubkeyArray(uint32_t parentOffset, uint32_t& count, uint32_t& arrayOffset) const;
    uint32_t InsertSubkeyAt(uint32_t parentOffset, uint32_t count, uint32_t arrayOffset,
                            uint32_t position, const RegKeyRecord& record);
    void RenameAfter(const RegKeyRecord& key, Str& scratch, int depth);

    uint8_t* arena_ = nullptr;   // reserved once, committed in kArenaStep steps
    uint64_t reserved_ = 0;
    uint64_t capacity_ = 0;
    uint32_t used_ = 0;
};

// The text of a value's data up to its first zero unit. False when the data
// lies outside the arena, or when the key has no value of that name ("" is
// the default value).
bool ReadStringData(const SnapshotStore& store, const RegValueRecord& value, Str& out);
bool ReadStringValue(const SnapshotStore& store, uint32_t keyOffset, const wchar_t* name, Str& out);

}  // namespace scancap
