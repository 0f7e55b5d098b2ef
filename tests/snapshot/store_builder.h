// Builds small stores record by record, allocating in the order a scan does
// (a record's array before the names of its children, each name before the
// arrays below it), so tests can also damage chosen fields afterwards.
#pragma once

#include "snapshot/store.h"

#include <cstring>
#include <string>

namespace scancap::testing {

class StoreBuilder {
public:
    explicit StoreBuilder(SnapshotStore& store) : store_(store) {}

    // Header, directory root array at 20, registry root array after it.
    void Begin(uint32_t directoryRoots, uint32_t registryRoots) {
        header_ = {};
        store_.Allocate(sizeof(SnapshotHeader));
        header_.directoryRootCount = directoryRoots;
        header_.registryRootCount = registryRoots;
        store_.Allocate(directoryRoots * uint32_t(sizeof(FileEntry)));
        header_.registryRootOffset = store_.Allocate(registryRoots * uint32_t(sizeof(RegKeyRecord)));
        store_.WriteHeader(header_);
    }
    uint32_t DirectoryRoot(uint32_t i) const { return kDirectoryRootsOffset + i * uint32_t(sizeof(FileEntry)); }
    uint32_t RegistryRoot(uint32_t i) const {
        return header_.registryRootOffset + i * uint32_t(sizeof(RegKeyRecord));
    }

    // A FileEntry at `at` with a freshly allocated name and no children.
    void File(uint32_t at, const wchar_t* name, uint32_t attributes = FILE_ATTRIBUTE_ARCHIVE,
              uint64_t size = 0) {
        FileEntry e{};
        e.nameOffset = store_.AllocateName(name, wcslen(name));
        e.creationTime = {1, 2};
        e.lastAccessTime = {3, 4};
        e.lastWriteTime = {5, 6};
        e.attributes = attributes;
        e.sizeHigh = uint32_t(size >> 32);
        e.sizeLow = uint32_t(size);
        store_.Write(at, e);
    }
    void Dir(uint32_t at, const wchar_t* name) { File(at, name, FILE_ATTRIBUTE_DIRECTORY); }
    // Allocates the child array of the entry at `owner`; returns its offset.
    uint32_t Children(uint32_t owner, uint32_t count) {
        uint32_t array = store_.Allocate(count * uint32_t(sizeof(FileEntry)));
        FileEntry e = Entry(owner);
        e.childCount = count;
        e.childOffset = array;
        store_.Write(owner, e);
        return array;
    }
    static uint32_t At(uint32_t array, uint32_t i) { return array + i * uint32_t(sizeof(FileEntry)); }

    void Key(uint32_t at, const wchar_t* name) {
        RegKeyRecord k{};
        k.nameOffset = store_.AllocateName(name, wcslen(name));
        store_.Write(at, k);
    }
    uint32_t Subkeys(uint32_t owner, uint32_t count) {
        uint32_t array = store_.Allocate(count * uint32_t(sizeof(RegKeyRecord)));
        RegKeyRecord k = KeyAt(owner);
        k.subkeyCount = count;
        k.subkeyOffset = array;
        k.lastWriteTime = {7, 8};
        store_.Write(owner, k);
        return array;
    }
    static uint32_t SubkeyAt(uint32_t array, uint32_t i) { return array + i * uint32_t(sizeof(RegKeyRecord)); }
    uint32_t Values(uint32_t owner, uint32_t count) {
        uint32_t array = store_.Allocate(count * uint32_t(sizeof(RegValueRecord)));
        RegKeyRecord k = KeyAt(owner);
        k.valueCount = count;
        k.valueOffset = array;
        store_.Write(owner, k);
        return array;
    }
    // Data first, then the name, as the registry scanner stores them.
    void Value(uint32_t array, uint32_t i, const wchar_t* name, uint32_t type, const void* data,
               uint32_t length) {
        RegValueRecord v{};
        v.type = type;
        v.dataLength = length;
        v.dataOffset = store_.AllocateBytes(data, length);
        v.nameOffset = store_.AllocateName(name, wcslen(name));
        store_.Write(array + i * uint32_t(sizeof(RegValueRecord)), v);
    }
    void StringValue(uint32_t array, uint32_t i, const wchar_t* name, const wchar_t* text) {
        Value(array, i, name, REG_SZ, text, uint32_t((wcslen(text) + 1) * sizeof(wchar_t)));
    }
    void DwordValue(uint32_t array, uint32_t i, const wchar_t* name, uint32_t data) {
        Value(array, i, name, REG_DWORD, &data, sizeof data);
    }

    void Drive(wchar_t letter, uint32_t serial, uint32_t flags, const wchar_t* fileSystem, uint8_t type) {
        DriveRecord d{};
        d.serialNumber = serial;
        d.fileSystemFlags = flags;
        d.maxComponentLength = 255;
        wcsncpy(d.fileSystemName, fileSystem, 31);
        d.driveType = type;
        d.driveLetter = uint8_t(letter);
        uint32_t at = store_.Allocate(sizeof(DriveRecord));
        store_.Write(at, d);
        if (header_.driveCount++ == 0) header_.driveOffset = at;
        store_.WriteHeader(header_);
    }

    FileEntry Entry(uint32_t at) const {
        FileEntry e{};
        store_.ReadFileEntry(at, e);
        return e;
    }
    RegKeyRecord KeyAt(uint32_t at) const {
        RegKeyRecord k{};
        store_.ReadKey(at, k);
        return k;
    }
    // Overwrites one 32-bit field of the arena (to damage a store).
    void Poke(uint32_t at, uint32_t value) { store_.Write(at, value); }

private:
    SnapshotStore& store_;
    SnapshotHeader header_{};
};

inline std::wstring NameOf(const SnapshotStore& store, uint32_t nameOffset) {
    NameView v = store.Name(nameOffset);
    return std::wstring(v.text, v.length);
}

}  // namespace scancap::testing
