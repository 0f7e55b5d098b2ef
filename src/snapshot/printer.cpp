#include "snapshot/printer.h"

#include "support/console.h"

namespace scancap {

namespace {

// One path buffer and one scratch text serve the whole listing; each level
// appends its name and cuts the path back before the next sibling.
struct Printer {
    const SnapshotStore& store;
    Str path;
    Str text;
    Str dataText;

    void Children(uint32_t ownerOffset, const FileEntry& owner, int depth) {
        if (depth >= kMaxTreeDepth) return;
        const size_t prefixLength = path.Length();
        const uint32_t count = store.ChildCount(ownerOffset, owner);
        for (uint32_t i = 0; i < count; ++i) {
            uint32_t childOffset = store.ChildEntry(ownerOffset, owner, i);
            FileEntry child;
            if (!store.ReadFileEntry(childOffset, child)) continue;
            path.SetLength(prefixLength);
            if (!path.EndsWith(L'\\')) path.Append(L'\\', 1);
            NameView name = store.Name(child.nameOffset);
            path.Append(name.text, name.length);
            PrintPlain((child.attributes & FILE_ATTRIBUTE_DIRECTORY) ? L"Dir %ls\n" : L"File %ls\n",
                       path.c_str());
            Children(childOffset, child, depth + 1);
        }
        path.SetLength(prefixLength);
    }

    void Value(const RegValueRecord& value) {
        NameView name = store.Name(value.nameOffset);
        text.Assign(name.text, name.length);
        // Data that does not lie inside the arena is treated as empty.
        const uint8_t* bytes = store.DataAt(value.dataOffset, value.dataLength);
        const uint32_t length = bytes ? value.dataLength : 0;

        if (value.type == REG_SZ && length > 0) {
            size_t units = 0;
            while (units < length / sizeof(wchar_t)) {
                wchar_t c;
                std::memcpy(&c, bytes + units * sizeof(wchar_t), sizeof c);
                if (c == 0) break;
                ++units;
            }
            dataText.Assign(reinterpret_cast<const wchar_t*>(bytes), units);
            PrintPlain(L"  Value %ls\tData %ls\n", text.c_str(), dataText.c_str());
        } else if (value.type == REG_DWORD && length == 4) {
            uint32_t dword;
            std::memcpy(&dword, bytes, sizeof dword);
            PrintPlain(L"  Value %ls\tData 0x%08x\n", text.c_str(), dword);
        } else if (value.type == REG_DWORD) {
            PrintPlain(L"  Value %ls\tInvalid data size %d for REG_DWORD\n", text.c_str(), int(length));
        } else if (length > 0) {
            PrintPlain(L"  Value %ls\t Data Type %d\n", text.c_str(), int(value.type));
        } else {
            PrintPlain(L"  Value %ls\n", text.c_str());
        }
    }

    void Key(uint32_t keyOffset, const RegKeyRecord& key, int depth) {
        const size_t prefixLength = path.Length();
        if (prefixLength) path.Append(L'\\', 1);
        NameView name = store.Name(key.nameOffset);
        path.Append(name.text, name.length);
        PrintPlain(L"Subkey %ls\n", path.c_str());

        const uint32_t valueCount = store.ValueCount(key);
        for (uint32_t i = 0; i < valueCount; ++i) {
            RegValueRecord value;
            if (store.ReadValue(store.ValueAt(key, i), value)) Value(value);
        }
        if (depth + 1 < kMaxTreeDepth) {
            const uint32_t subkeyCount = store.SubkeyCount(keyOffset, key);
            for (uint32_t i = 0; i < subkeyCount; ++i) {
                uint32_t subkeyOffset = store.Subkey(keyOffset, key, i);
                RegKeyRecord subkey;
                if (subkeyOffset && store.ReadKey(subkeyOffset, subkey)) Key(subkeyOffset, subkey, depth + 1);
            }
        }
        path.SetLength(prefixLength);
    }

    void Drive(const DriveRecord& drive) {
        size_t length = 0;
        while (length < 32 && drive.fileSystemName[length] != 0) ++length;
        text.Assign(drive.fileSystemName, length);
        PrintPlain(L"Drive %c, Serial=%08x FSFlags=%x Filesystem=%ls,Type=%x\n", wchar_t(drive.driveLetter),
                   drive.serialNumber, drive.fileSystemFlags, text.c_str(), unsigned(drive.driveType));
    }
};

}  // namespace

void PrintSnapshot(const SnapshotStore& store) {
    Printer printer{store, Str(), Str(), Str()};

    const uint32_t directoryRoots = store.DirectoryRootCount();
    for (uint32_t i = 0; i < directoryRoots; ++i) {
        uint32_t rootOffset = store.DirectoryRoot(i);
        FileEntry root;
        if (!store.ReadFileEntry(rootOffset, root) || store.ChildCount(rootOffset, root) == 0) continue;
        NameView name = store.Name(root.nameOffset);
        printer.path.Assign(name.text, name.length);
        printer.Children(rootOffset, root, 0);
    }

    const uint32_t registryRoots = store.RegistryRootCount();
    for (uint32_t i = 0; i < registryRoots; ++i) {
        uint32_t rootOffset = store.RegistryRoot(i);
        RegKeyRecord root;
        if (!store.ReadKey(rootOffset, root)) continue;
        printer.path.Clear();
        printer.Key(rootOffset, root, 0);
    }

    const uint32_t drives = store.DriveCount();
    for (uint32_t i = 0; i < drives; ++i) {
        DriveRecord drive;
        if (store.ReadDrive(store.Drive(i), drive)) printer.Drive(drive);
    }
}

}  // namespace scancap
