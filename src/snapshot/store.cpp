#include "snapshot/store.h"

#include "support/fatal.h"

#include <cwchar>

namespace scancap {

namespace {

// Offsets are 32-bit, so the arena never needs more than 4 GiB; the extra step
// keeps the rounded-up capacity of a maximal store inside the reservation.
constexpr uint64_t kReserveSize = (uint64_t(1) << 32) + kArenaStep;
constexpr uint64_t kMaxUsed = 0xFFFFFFFFu;

uint64_t RoundUpToStep(uint64_t n) {
    return (n + kArenaStep - 1) / kArenaStep * kArenaStep;
}

// Names in the arena may start at odd offsets: read them a unit at a time
// through memcpy, never through a wchar_t load the compiler may assume aligned.
inline wchar_t UnitAt(const wchar_t* text, size_t i) {
    wchar_t c;
    std::memcpy(&c, reinterpret_cast<const uint8_t*>(text) + i * sizeof(wchar_t), sizeof c);
    return c;
}

inline wchar_t UpcaseUnit(wchar_t c) {
    if (c < 0x80) return (c >= L'a' && c <= L'z') ? wchar_t(c - 32) : c;
    return RtlUpcaseUnicodeChar(c);
}

inline wchar_t AsciiLower(wchar_t c) {
    return (c >= L'A' && c <= L'Z') ? wchar_t(c + 32) : c;
}

bool EqualsAsciiNoCase(const wchar_t* a, const wchar_t* b, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        if (AsciiLower(UnitAt(a, i)) != AsciiLower(UnitAt(b, i))) return false;
    }
    return true;
}

// Lexicographic with ASCII letters folded to lower case, other units by value,
// a prefix first.
int CompareAsciiNoCase(const wchar_t* a, size_t aLength, const wchar_t* b, size_t bLength) {
    size_t n = aLength < bLength ? aLength : bLength;
    for (size_t i = 0; i < n; ++i) {
        wchar_t ca = AsciiLower(UnitAt(a, i));
        wchar_t cb = AsciiLower(UnitAt(b, i));
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    if (aLength == bLength) return 0;
    return aLength < bLength ? -1 : 1;
}

// The next "\"-separated component of a path: [start, end).
const wchar_t* ComponentEnd(const wchar_t* start) {
    while (*start && *start != L'\\') ++start;
    return start;
}

// Registry key fields that the header shares: subkey count at 4, subkey array at 8.
constexpr uint32_t kSubkeyCountField = 4;
constexpr uint32_t kSubkeyOffsetField = 8;

}  // namespace

int CompareNamesUpcase(const wchar_t* a, size_t aLength, const wchar_t* b, size_t bLength) {
    size_t n = aLength < bLength ? aLength : bLength;
    for (size_t i = 0; i < n; ++i) {
        wchar_t ca = UpcaseUnit(UnitAt(a, i));
        wchar_t cb = UpcaseUnit(UnitAt(b, i));
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    if (aLength == bLength) return 0;
    return aLength < bLength ? -1 : 1;
}

SnapshotStore::~SnapshotStore() {
    if (arena_) VirtualFree(arena_, 0, MEM_RELEASE);
}

// Reserves the whole address range once and commits up to newCapacity, so the
// arena never moves and growing costs one commit call.
bool SnapshotStore::CommitTo(uint64_t newCapacity) {
    if (newCapacity > kReserveSize) return false;
    if (!arena_) {
        void* base = VirtualAlloc(nullptr, kReserveSize, MEM_RESERVE, PAGE_NOACCESS);
        if (!base) return false;
        arena_ = static_cast<uint8_t*>(base);
        reserved_ = kReserveSize;
    }
    if (newCapacity > capacity_) {
        if (!VirtualAlloc(arena_ + capacity_, newCapacity - capacity_, MEM_COMMIT, PAGE_READWRITE))
            return false;
        capacity_ = newCapacity;
    }
    return true;
}

void SnapshotStore::Commit(uint64_t newCapacity) {
    if (!CommitTo(newCapacity))
        Fatal(L"Unable to allocate %u kbytes of memory", static_cast<unsigned>(newCapacity / 1024));
}

uint32_t SnapshotStore::Allocate(uint32_t n) {
    uint64_t end = uint64_t(used_) + n;
    if (end > capacity_) {
        uint64_t newCapacity = RoundUpToStep(end);
        // Past 4 GiB an offset no longer fits in 32 bits.
        if (end > kMaxUsed)
            Fatal(L"Unable to allocate %u kbytes of memory", static_cast<unsigned>(newCapacity / 1024));
        Commit(newCapacity);
    }
    uint32_t offset = used_;
    used_ = static_cast<uint32_t>(end);
    return offset;
}

uint32_t SnapshotStore::AllocateName(const wchar_t* text, size_t length) {
    uint64_t bytes = (uint64_t(length) + 1) * sizeof(wchar_t);
    if (bytes > kMaxUsed)
        Fatal(L"Unable to allocate %u kbytes of memory", static_cast<unsigned>(RoundUpToStep(bytes) / 1024));
    uint32_t offset = Allocate(static_cast<uint32_t>(bytes));
    if (length) std::memcpy(arena_ + offset, text, length * sizeof(wchar_t));
    std::memset(arena_ + offset + length * sizeof(wchar_t), 0, sizeof(wchar_t));
    return offset;
}

uint32_t SnapshotStore::AllocateBytes(const void* data, uint32_t length) {
    uint32_t offset = Allocate(length);
    if (length) std::memcpy(arena_ + offset, data, length);
    return offset;
}

uint8_t* SnapshotStore::PrepareLoad(uint64_t size) {
    if (arena_ || used_ || size > kMaxUsed) return nullptr;
    if (!CommitTo(RoundUpToStep(size))) return nullptr;
    return arena_;
}

// ---------------------------------------------------------------------------
// Checked reads

NameView SnapshotStore::Name(uint32_t offset) const {
    NameView view;
    if (offset >= used_) return view;
    const wchar_t* text = reinterpret_cast<const wchar_t*>(arena_ + offset);
    size_t limit = (used_ - offset) / sizeof(wchar_t);
    size_t length = 0;
    while (length < limit && UnitAt(text, length) != 0) ++length;
    if (length) {
        view.text = text;
        view.length = length;
    }
    return view;
}

const uint8_t* SnapshotStore::DataAt(uint32_t offset, uint32_t length) const {
    if (uint64_t(offset) + length > used_) return nullptr;
    return arena_ ? arena_ + offset : nullptr;
}

bool SnapshotStore::ArrayFits(uint32_t offset, uint32_t count, uint32_t recordSize) const {
    return offset >= sizeof(SnapshotHeader) &&
           uint64_t(offset) + uint64_t(count) * recordSize <= used_;
}

uint32_t SnapshotStore::ChildCount(uint32_t ownerOffset, const FileEntry& owner) const {
    if (owner.childCount == 0) return 0;
    if (uint64_t(owner.childOffset) < uint64_t(ownerOffset) + sizeof(FileEntry)) return 0;
    return ArrayFits(owner.childOffset, owner.childCount, sizeof(FileEntry)) ? owner.childCount : 0;
}

uint32_t SnapshotStore::ChildEntry(uint32_t ownerOffset, const FileEntry& owner, uint32_t index) const {
    if (index >= ChildCount(ownerOffset, owner)) return 0;
    return owner.childOffset + index * uint32_t(sizeof(FileEntry));
}

uint32_t SnapshotStore::SubkeyCount(uint32_t /*ownerOffset*/, const RegKeyRecord& owner) const {
    if (owner.subkeyCount == 0) return 0;
    return ArrayFits(owner.subkeyOffset, owner.subkeyCount, sizeof(RegKeyRecord)) ? owner.subkeyCount : 0;
}

uint32_t SnapshotStore::Subkey(uint32_t ownerOffset, const RegKeyRecord& owner, uint32_t index) const {
    if (index >= SubkeyCount(ownerOffset, owner)) return 0;
    uint32_t offset = owner.subkeyOffset + index * uint32_t(sizeof(RegKeyRecord));
    RegKeyRecord child;
    if (!ReadKey(offset, child)) return 0;
    // A subkey that has subkeys of its own must have been named after its
    // parent; see the top of store.h.
    if (child.subkeyCount != 0 && child.nameOffset <= owner.nameOffset) return 0;
    return offset;
}

uint32_t SnapshotStore::ValueCount(const RegKeyRecord& owner) const {
    if (owner.valueCount == 0) return 0;
    return ArrayFits(owner.valueOffset, owner.valueCount, sizeof(RegValueRecord)) ? owner.valueCount : 0;
}

uint32_t SnapshotStore::ValueAt(const RegKeyRecord& owner, uint32_t index) const {
    if (index >= ValueCount(owner)) return 0;
    return owner.valueOffset + index * uint32_t(sizeof(RegValueRecord));
}

uint32_t SnapshotStore::HeaderArrayCount(uint32_t offset, uint32_t count, uint32_t recordSize) const {
    return count != 0 && ArrayFits(offset, count, recordSize) ? count : 0;
}

uint32_t SnapshotStore::DirectoryRootCount() const {
    SnapshotHeader h;
    return ReadHeader(h) ? HeaderArrayCount(kDirectoryRootsOffset, h.directoryRootCount, sizeof(FileEntry)) : 0;
}

uint32_t SnapshotStore::DirectoryRoot(uint32_t index) const {
    if (index >= DirectoryRootCount()) return 0;
    return kDirectoryRootsOffset + index * uint32_t(sizeof(FileEntry));
}

uint32_t SnapshotStore::RegistryRootCount() const {
    SnapshotHeader h;
    return ReadHeader(h) ? HeaderArrayCount(h.registryRootOffset, h.registryRootCount, sizeof(RegKeyRecord)) : 0;
}

uint32_t SnapshotStore::RegistryRoot(uint32_t index) const {
    SnapshotHeader h;
    if (!ReadHeader(h) || index >= HeaderArrayCount(h.registryRootOffset, h.registryRootCount, sizeof(RegKeyRecord)))
        return 0;
    return h.registryRootOffset + index * uint32_t(sizeof(RegKeyRecord));
}

uint32_t SnapshotStore::DriveCount() const {
    SnapshotHeader h;
    return ReadHeader(h) ? HeaderArrayCount(h.driveOffset, h.driveCount, sizeof(DriveRecord)) : 0;
}

uint32_t SnapshotStore::Drive(uint32_t index) const {
    SnapshotHeader h;
    if (!ReadHeader(h) || index >= HeaderArrayCount(h.driveOffset, h.driveCount, sizeof(DriveRecord))) return 0;
    return h.driveOffset + index * uint32_t(sizeof(DriveRecord));
}

// ---------------------------------------------------------------------------
// Lookups

bool SnapshotStore::FindFileEntry(const wchar_t* path, FileEntry& out) const {
    if (!path) return false;
    size_t pathLength = std::wcslen(path);
    uint32_t rootCount = DirectoryRootCount();
    for (uint32_t r = 0; r < rootCount; ++r) {
        uint32_t rootOffset = DirectoryRoot(r);
        FileEntry root;
        if (!ReadFileEntry(rootOffset, root)) continue;
        NameView rootName = Name(root.nameOffset);
        if (rootName.length > pathLength || !EqualsAsciiNoCase(rootName.text, path, rootName.length))
            continue;
        if (rootName.length == pathLength) {
            out = root;
            return true;
        }
        const wchar_t* component = path + rootName.length;
        if (*component == L'\\') ++component;

        uint32_t currentOffset = rootOffset;
        FileEntry current = root;
        for (int depth = 0; depth < kMaxTreeDepth; ++depth) {
            const wchar_t* end = ComponentEnd(component);
            size_t length = size_t(end - component);
            uint32_t count = ChildCount(currentOffset, current);
            uint32_t foundOffset = 0;
            FileEntry found;

            uint32_t low = 0, high = count;
            while (low < high) {
                uint32_t mid = low + (high - low) / 2;
                uint32_t childOffset = ChildEntry(currentOffset, current, mid);
                FileEntry child;
                if (!ReadFileEntry(childOffset, child)) break;
                NameView name = Name(child.nameOffset);
                int c = CompareNamesUpcase(component, length, name.text, name.length);
                if (c == 0) {
                    foundOffset = childOffset;
                    found = child;
                    break;
                }
                if (c < 0) high = mid;
                else low = mid + 1;
            }
            // Listings of non-NTFS volumes are not sorted.
            for (uint32_t i = 0; !foundOffset && i < count; ++i) {
                uint32_t childOffset = ChildEntry(currentOffset, current, i);
                FileEntry child;
                if (!ReadFileEntry(childOffset, child)) continue;
                NameView name = Name(child.nameOffset);
                if (CompareNamesUpcase(component, length, name.text, name.length) == 0) {
                    foundOffset = childOffset;
                    found = child;
                }
            }
            if (!foundOffset) break;
            if (*end == 0) {
                out = found;
                return true;
            }
            currentOffset = foundOffset;
            current = found;
            component = end + 1;
        }
    }
    return false;
}

uint32_t SnapshotStore::FindKeyByPath(const wchar_t* path) const {
    if (!path) return 0;
    uint32_t rootCount = RegistryRootCount();
    size_t pathLength = std::wcslen(path);
    for (uint32_t r = 0; r < rootCount; ++r) {
        uint32_t rootOffset = RegistryRoot(r);
        RegKeyRecord root;
        if (!ReadKey(rootOffset, root)) continue;
        NameView rootName = Name(root.nameOffset);
        if (rootName.length > pathLength || !EqualsAsciiNoCase(rootName.text, path, rootName.length))
            continue;
        if (rootName.length == pathLength) return rootOffset;
        return FindSubkey(rootOffset, path + rootName.length);
    }
    return 0;
}

uint32_t SnapshotStore::FindSubkey(uint32_t keyOffset, const wchar_t* relativePath) const {
    RegKeyRecord current;
    if (!ReadKey(keyOffset, current)) return 0;
    if (!relativePath) return keyOffset;
    const wchar_t* component = relativePath;
    if (*component == L'\\') ++component;
    if (*component == 0) return keyOffset;

    uint32_t currentOffset = keyOffset;
    for (int depth = 0; depth < kMaxTreeDepth; ++depth) {
        const wchar_t* end = ComponentEnd(component);
        size_t length = size_t(end - component);
        uint32_t count = SubkeyCount(currentOffset, current);
        uint32_t foundOffset = 0;
        RegKeyRecord found;

        // Enumeration order is normally sorted: probe by bisection, then step
        // back to the first equal name so the answer is the linear scan's.
        uint32_t low = 0, high = count;
        while (low < high) {
            uint32_t mid = low + (high - low) / 2;
            RegKeyRecord child;
            uint32_t childOffset = Subkey(currentOffset, current, mid);
            if (!childOffset || !ReadKey(childOffset, child)) break;
            NameView name = Name(child.nameOffset);
            int c = CompareNamesUpcase(component, length, name.text, name.length);
            if (c == 0) {
                uint32_t first = mid;
                while (first > 0) {
                    uint32_t prevOffset = Subkey(currentOffset, current, first - 1);
                    RegKeyRecord prev;
                    if (!prevOffset || !ReadKey(prevOffset, prev)) break;
                    NameView prevName = Name(prev.nameOffset);
                    if (CompareNamesUpcase(component, length, prevName.text, prevName.length) != 0) break;
                    --first;
                    childOffset = prevOffset;
                    child = prev;
                }
                foundOffset = childOffset;
                found = child;
                break;
            }
            if (c < 0) high = mid;
            else low = mid + 1;
        }
        for (uint32_t i = 0; !foundOffset && i < count; ++i) {
            uint32_t childOffset = Subkey(currentOffset, current, i);
            RegKeyRecord child;
            if (!childOffset || !ReadKey(childOffset, child)) continue;
            NameView name = Name(child.nameOffset);
            if (CompareNamesUpcase(component, length, name.text, name.length) == 0) {
                foundOffset = childOffset;
                found = child;
            }
        }
        if (!foundOffset) return 0;
        if (*end == 0) return foundOffset;
        currentOffset = foundOffset;
        current = found;
        component = end + 1;
    }
    return 0;
}

uint32_t SnapshotStore::FindValue(uint32_t keyOffset, const wchar_t* name) const {
    RegKeyRecord key;
    if (!name || !ReadKey(keyOffset, key)) return 0;
    size_t nameLength = std::wcslen(name);
    uint32_t count = ValueCount(key);
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t valueOffset = ValueAt(key, i);
        RegValueRecord value;
        if (!ReadValue(valueOffset, value)) continue;
        NameView valueName = Name(value.nameOffset);
        if (valueName.length == nameLength && EqualsAsciiNoCase(valueName.text, name, nameLength))
            return valueOffset;
    }
    return 0;
}

// ---------------------------------------------------------------------------
// Insertion (store under construction)

bool SnapshotStore::ReadSubkeyArray(uint32_t parentOffset, uint32_t& count, uint32_t& arrayOffset) const {
    count = 0;
    arrayOffset = 0;
    uint32_t storedCount, storedOffset;
    if (!Read(parentOffset + kSubkeyCountField, storedCount) ||
        !Read(parentOffset + kSubkeyOffsetField, storedOffset))
        return false;
    if (storedCount && ArrayFits(storedOffset, storedCount, sizeof(RegKeyRecord))) {
        count = storedCount;
        arrayOffset = storedOffset;
    }
    return true;
}

// Replaces the parent's subkey array by a copy one record longer, with
// `record` at `position`; returns the new record's offset.
uint32_t SnapshotStore::InsertSubkeyAt(uint32_t parentOffset, uint32_t count, uint32_t arrayOffset,
                                       uint32_t position, const RegKeyRecord& record) {
    uint64_t bytes = (uint64_t(count) + 1) * sizeof(RegKeyRecord);
    if (bytes > kMaxUsed)
        Fatal(L"Unable to allocate %u kbytes of memory", static_cast<unsigned>(RoundUpToStep(bytes) / 1024));
    uint32_t newArray = Allocate(static_cast<uint32_t>(bytes));
    const uint32_t size = sizeof(RegKeyRecord);
    if (position) std::memcpy(arena_ + newArray, arena_ + arrayOffset, size_t(position) * size);
    Write(newArray + position * size, record);
    if (position < count)
        std::memcpy(arena_ + newArray + (position + 1) * size, arena_ + arrayOffset + position * size,
                    size_t(count - position) * size);
    Write<uint32_t>(parentOffset + kSubkeyCountField, count + 1);
    Write<uint32_t>(parentOffset + kSubkeyOffsetField, newArray);
    return newArray + position * size;
}

uint32_t SnapshotStore::FindOrInsertKeyPath(const wchar_t* path) {
    if (used_ == 0) {
        Allocate(sizeof(SnapshotHeader));
        WriteHeader(SnapshotHeader{});
    }
    // The header stands in for the parent of the registry roots.
    uint32_t parent = 0;
    if (!path) return parent;
    Str component;
    Str existing;
    for (const wchar_t* start = path; *start;) {
        const wchar_t* end = ComponentEnd(start);
        size_t length = size_t(end - start);
        if (length) {
            uint32_t count, arrayOffset;
            if (!ReadSubkeyArray(parent, count, arrayOffset)) return parent;
            uint32_t match = 0;
            for (uint32_t i = 0; i < count && !match; ++i) {
                RegKeyRecord child;
                uint32_t childOffset = arrayOffset + i * uint32_t(sizeof(RegKeyRecord));
                ReadKey(childOffset, child);
                NameView name = Name(child.nameOffset);
                if (CompareNamesUpcase(start, length, name.text, name.length) == 0) match = childOffset;
            }
            if (!match) {
                component.Assign(start, length);
                uint32_t position = count;
                for (uint32_t i = 0; i < count; ++i) {
                    RegKeyRecord child;
                    ReadKey(arrayOffset + i * uint32_t(sizeof(RegKeyRecord)), child);
                    NameView name = Name(child.nameOffset);
                    existing.Assign(name.text, name.length);
                    if (Str::Compare(existing, component, true) > 0) {
                        position = i;
                        break;
                    }
                }
                RegKeyRecord record{};
                record.nameOffset = AllocateName(component.c_str(), length);
                match = InsertSubkeyAt(parent, count, arrayOffset, position, record);
            }
            parent = match;
        }
        start = *end ? end + 1 : end;
    }
    return parent;
}

// Gives every subkey of `key` that has subkeys of its own and is named before
// `key` a new name after it, and so on below each renamed subkey.
void SnapshotStore::RenameAfter(const RegKeyRecord& key, Str& scratch, int depth) {
    if (depth >= kMaxTreeDepth || key.subkeyCount == 0 ||
        !ArrayFits(key.subkeyOffset, key.subkeyCount, sizeof(RegKeyRecord)))
        return;
    for (uint32_t i = 0; i < key.subkeyCount; ++i) {
        const uint32_t offset = key.subkeyOffset + i * uint32_t(sizeof(RegKeyRecord));
        RegKeyRecord sub;
        if (!ReadKey(offset, sub) || sub.subkeyCount == 0 || sub.nameOffset > key.nameOffset) continue;
        NameView name = Name(sub.nameOffset);
        scratch.Assign(name.text, name.length);
        sub.nameOffset = AllocateName(scratch.c_str(), scratch.Length());
        Write(offset, sub);
        RenameAfter(sub, scratch, depth + 1);
    }
}

void SnapshotStore::InsertKeyRecord(const wchar_t* parentPath, const RegKeyRecord& record) {
    uint32_t parent = FindOrInsertKeyPath(parentPath);
    RegKeyRecord inserted = record;
    NameView name = Name(inserted.nameOffset);
    Str nameCopy(name.text, name.length);
    if (parent != 0 && inserted.subkeyCount != 0) {
        // Readers follow a subkey's own subkeys only when its name lies after
        // its parent's; a parent created just now lies after the prepared name.
        // A new name for the record puts it after its own subkeys' names, so
        // they are renamed in turn, all the way down.
        RegKeyRecord parentRecord;
        if (ReadKey(parent, parentRecord) && inserted.nameOffset <= parentRecord.nameOffset) {
            inserted.nameOffset = AllocateName(nameCopy.c_str(), nameCopy.Length());
            Str scratch;
            RenameAfter(inserted, scratch, 0);
        }
    }
    uint32_t count, arrayOffset;
    if (!ReadSubkeyArray(parent, count, arrayOffset)) return;
    uint32_t position = count;
    for (uint32_t i = 0; i < count; ++i) {
        RegKeyRecord child;
        ReadKey(arrayOffset + i * uint32_t(sizeof(RegKeyRecord)), child);
        NameView childName = Name(child.nameOffset);
        if (CompareAsciiNoCase(childName.text, childName.length, nameCopy.c_str(), nameCopy.Length()) > 0) {
            position = i;
            break;
        }
    }
    InsertSubkeyAt(parent, count, arrayOffset, position, inserted);
}

bool ReadStringData(const SnapshotStore& store, const RegValueRecord& value, Str& out) {
    const uint8_t* data = store.DataAt(value.dataOffset, value.dataLength);
    if (!data) return false;
    size_t units = value.dataLength / sizeof(wchar_t);
    // The arena gives no alignment guarantee for data blocks.
    out.Reserve(units + 1, true);
    wchar_t* text = out.Data();
    std::memcpy(text, data, units * sizeof(wchar_t));
    text[units] = L'\0';
    out.SetLength(wcslen(text));
    return true;
}

bool ReadStringValue(const SnapshotStore& store, uint32_t keyOffset, const wchar_t* name, Str& out) {
    uint32_t valueOffset = store.FindValue(keyOffset, name);
    RegValueRecord value;
    return valueOffset != 0 && store.ReadValue(valueOffset, value) && ReadStringData(store, value, out);
}

}  // namespace scancap
