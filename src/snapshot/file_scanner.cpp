#include "snapshot/file_scanner.h"

#include "snapshot/long_path.h"
#include "snapshot/registry_scanner.h"
#include "support/console.h"
#include "support/fatal.h"
#include "support/handles.h"

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

namespace scancap {

namespace {

constexpr size_t kShortenFrom = 180;
constexpr uint32_t kChildCountField = offsetof(FileEntry, childCount);
constexpr uint32_t kChildOffsetField = offsetof(FileEntry, childOffset);

// One listed entry waiting for its record. The name (nameLength units and a
// zero) follows the fixed part; records are padded to 4 bytes.
struct PendingEntry {
    FILETIME creationTime;
    FILETIME lastAccessTime;
    FILETIME lastWriteTime;
    uint32_t attributes;
    uint32_t sizeHigh;
    uint32_t sizeLow;
    uint32_t nameLength;
};

size_t PendingSize(size_t nameLength) {
    return (sizeof(PendingEntry) + (nameLength + 1) * sizeof(wchar_t) + 3) & ~size_t(3);
}

// The depth-first walk. One path buffer serves the whole recursion (a child's
// name is appended before its scan and cut off after), and the listings of
// all directories on the current path share one growable stack of pending
// entries, so a scan does no heap allocation per directory or entry.
class DirectoryScanner {
public:
    DirectoryScanner(SnapshotStore& store, ExcludeList* exclude)
        : store_(store), exclude_(exclude) {
        path_.reserve(1024);
        pending_.resize(64 * 1024);
    }

    void Scan(const wchar_t* path, size_t length, uint32_t entryOffset) {
        path_.assign(path, length);
        FileEntry entry;
        if (!store_.ReadFileEntry(entryOffset, entry)) return;
        insideReparsePoint_ = false;
        ScanLevel(entryOffset, entry.attributes, 0);
    }

private:
    void ScanLevel(uint32_t entryOffset, uint32_t attributes, int depth);
    uint32_t ListDirectory();
    void Push(const WIN32_FIND_DATAW& found);

    SnapshotStore& store_;
    ExcludeList* exclude_;
    std::wstring path_;
    std::vector<uint8_t> pending_;
    size_t pendingUsed_ = 0;
    WIN32_FIND_DATAW found_;
    // Set while the walk is below a directory that is a reparse point; a
    // reparse point met there is recorded but not followed, so a junction
    // that points at its own ancestor is entered once.
    bool insideReparsePoint_ = false;
};

// The directory's attributes are those recorded in its own entry: the
// listing of its parent (or, for a root, GetFileAttributesExW) has just read
// them, so they are not asked for again. A directory too long for the plain
// Win32 calls is therefore judged by what its parent reported.
void DirectoryScanner::ScanLevel(uint32_t entryOffset, uint32_t attributes, int depth) {
    SetCurrentScanPath(path_.c_str(), path_.size());

    bool entersReparsePoint = false;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        if (insideReparsePoint_) return;
        entersReparsePoint = true;
    }
    if (exclude_ && exclude_->IsFileIgnored(path_.c_str())) return;
    if (entersReparsePoint) insideReparsePoint_ = true;

    const size_t begin = pendingUsed_;
    const uint32_t count = ListDirectory();
    if (count > 0) {
        const uint64_t arrayBytes = uint64_t(count) * sizeof(FileEntry);
        if (arrayBytes > 0xFFFFFFFFu)
            Fatal(L"Unable to allocate %u kbytes of memory", unsigned(arrayBytes / 1024));
        const uint32_t array = store_.Allocate(uint32_t(arrayBytes));
        store_.Write(entryOffset + kChildCountField, count);
        store_.Write(entryOffset + kChildOffsetField, array);

        const size_t pathLength = path_.size();
        const bool needsSeparator = pathLength == 0 || path_[pathLength - 1] != L'\\';
        size_t cursor = begin;
        for (uint32_t i = 0; i < count; ++i) {
            // The stack may move while a child is scanned: hold the cursor,
            // not a pointer.
            PendingEntry pending;
            std::memcpy(&pending, pending_.data() + cursor, sizeof pending);
            const wchar_t* name = reinterpret_cast<const wchar_t*>(pending_.data() + cursor + sizeof pending);

            FileEntry child;
            child.nameOffset = store_.AllocateName(name, pending.nameLength);
            child.creationTime = pending.creationTime;
            child.lastAccessTime = pending.lastAccessTime;
            child.lastWriteTime = pending.lastWriteTime;
            child.attributes = pending.attributes;
            child.sizeHigh = pending.sizeHigh;
            child.sizeLow = pending.sizeLow;
            child.childCount = 0;
            child.childOffset = 0;
            const uint32_t childOffset = array + i * uint32_t(sizeof(FileEntry));
            store_.Write(childOffset, child);

            if ((pending.attributes & FILE_ATTRIBUTE_DIRECTORY) && depth + 1 < kMaxTreeDepth) {
                if (needsSeparator) path_.push_back(L'\\');
                path_.append(name, pending.nameLength);
                cursor += PendingSize(pending.nameLength);
                ScanLevel(childOffset, pending.attributes, depth + 1);
                path_.resize(pathLength);
            } else {
                cursor += PendingSize(pending.nameLength);
            }
        }
    }
    pendingUsed_ = begin;
    if (entersReparsePoint) insideReparsePoint_ = false;
}

// Lists path_ onto the pending stack; returns the number of entries kept.
// Kept out of ScanLevel so that the find data and handle are not part of the
// recursion's stack frames.
__attribute__((noinline)) uint32_t DirectoryScanner::ListDirectory() {
    const size_t pathLength = path_.size();
    path_.append(L"\\*.*", 4);
    Str systemPattern;
    const wchar_t* pattern = path_.c_str();
    if (path_.size() >= kShortenFrom) {
        systemPattern = SystemPath(Str(path_.c_str(), path_.size()));
        pattern = systemPattern.c_str();
    }
    // The basic information level leaves out the 8.3 name, which no record
    // holds; the large fetch asks for bigger batches per system call.
    FindHandle find(FindFirstFileExW(pattern, FindExInfoBasic, &found_, FindExSearchNameMatch, nullptr,
                                     FIND_FIRST_EX_LARGE_FETCH));
    path_.resize(pathLength);
    if (!find) return 0;

    uint32_t count = 0;
    do {
        const wchar_t* n = found_.cFileName;
        if (n[0] == L'.' && (n[1] == 0 || (n[1] == L'.' && n[2] == 0))) continue;
        Push(found_);
        ++count;
    } while (FindNextFileW(find.get(), &found_));
    return count;
}

void DirectoryScanner::Push(const WIN32_FIND_DATAW& found) {
    const size_t nameLength = wcsnlen(found.cFileName, MAX_PATH - 1);
    const size_t size = PendingSize(nameLength);
    if (pendingUsed_ + size > pending_.size()) pending_.resize((pendingUsed_ + size) * 2);

    PendingEntry pending;
    pending.creationTime = found.ftCreationTime;
    pending.lastAccessTime = found.ftLastAccessTime;
    pending.lastWriteTime = found.ftLastWriteTime;
    pending.attributes = found.dwFileAttributes;
    pending.sizeHigh = found.nFileSizeHigh;
    pending.sizeLow = found.nFileSizeLow;
    pending.nameLength = uint32_t(nameLength);
    uint8_t* at = pending_.data() + pendingUsed_;
    std::memcpy(at, &pending, sizeof pending);
    wchar_t* name = reinterpret_cast<wchar_t*>(at + sizeof pending);
    std::memcpy(name, found.cFileName, nameLength * sizeof(wchar_t));
    name[nameLength] = 0;
    pendingUsed_ += size;
}

bool IsRegistryBase(const Str& base) {
    static const wchar_t kPrefix[] = L"HKEY_";
    if (base.Length() < 5) return false;
    for (size_t i = 0; i < 5; ++i) {
        wchar_t c = base[i];
        if (c >= L'a' && c <= L'z') c = wchar_t(c - 32);
        if (c != kPrefix[i]) return false;
    }
    return true;
}

void ScanDirectoryRoot(SnapshotStore& store, const Str& base, uint32_t rootOffset, DirectoryScanner& scanner) {
    FileEntry root{};
    root.nameOffset = store.AllocateName(base.c_str(), base.Length());
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(SystemPath(base).c_str(), GetFileExInfoStandard, &data))
        Fatal(L"Cannot access directory %ls", base.c_str());
    root.creationTime = data.ftCreationTime;
    root.lastAccessTime = data.ftLastAccessTime;
    root.lastWriteTime = data.ftLastWriteTime;
    root.attributes = data.dwFileAttributes;
    root.sizeHigh = data.nFileSizeHigh;
    root.sizeLow = data.nFileSizeLow;
    store.Write(rootOffset, root);
    scanner.Scan(base.c_str(), base.Length(), rootOffset);
}

void RecordDrives(SnapshotStore& store) {
    SnapshotHeader header;
    store.ReadHeader(header);
    header.driveCount = 0;
    header.driveOffset = 0;
    // A letter missing from the mask has no root directory, which is what
    // GetDriveTypeW would say after a much slower look (under Wine it costs a
    // few milliseconds per letter).
    DWORD present = GetLogicalDrives();
    if (present == 0) present = 0x3FFFFFF;
    for (wchar_t letter = L'a'; letter <= L'z'; ++letter) {
        if (!(present & (1u << (letter - L'a')))) continue;
        const wchar_t root[] = {letter, L':', L'\\', 0};
        UINT type = GetDriveTypeW(root);
        if (type == DRIVE_UNKNOWN || type == DRIVE_NO_ROOT_DIR) continue;
        DriveRecord drive{};
        DWORD serial = 0, maxComponent = 0, flags = 0;
        // An empty removable drive has no volume facts: its record keeps
        // zeros and an empty file system name.
        if (!GetVolumeInformationW(root, nullptr, 0, &serial, &maxComponent, &flags, drive.fileSystemName,
                                   DWORD(std::size(drive.fileSystemName)))) {
            serial = maxComponent = flags = 0;
            std::memset(drive.fileSystemName, 0, sizeof drive.fileSystemName);
        }
        drive.fileSystemName[std::size(drive.fileSystemName) - 1] = 0;
        drive.serialNumber = serial;
        drive.fileSystemFlags = flags;
        drive.maxComponentLength = maxComponent;
        drive.driveType = uint8_t(type);
        drive.driveLetter = uint8_t(letter);
        uint32_t offset = store.Allocate(sizeof(DriveRecord));
        store.Write(offset, drive);
        if (header.driveCount == 0) header.driveOffset = offset;
        ++header.driveCount;
    }
    store.WriteHeader(header);
}

}  // namespace

void ScanDirectory(SnapshotStore& store, const Str& path, uint32_t entryOffset, ExcludeList* exclude) {
    DirectoryScanner scanner(store, exclude);
    scanner.Scan(path.c_str(), path.Length(), entryOffset);
}

void ScanAllBases(SnapshotStore& store, const std::vector<Str>& bases, ExcludeList* exclude) {
    std::vector<const Str*> directoryBases;
    std::vector<const Str*> registryBases;
    for (const Str& base : bases) (IsRegistryBase(base) ? registryBases : directoryBases).push_back(&base);

    // The header is the store's first allocation, at offset 0.
    SnapshotHeader header{};
    store.Allocate(sizeof(SnapshotHeader));
    header.directoryRootCount = uint32_t(directoryBases.size());
    header.registryRootCount = uint32_t(registryBases.size());
    store.WriteHeader(header);

    const uint32_t directoryRoots = store.Allocate(uint32_t(directoryBases.size() * sizeof(FileEntry)));
    const uint32_t registryRoots = store.Allocate(uint32_t(registryBases.size() * sizeof(RegKeyRecord)));
    header.registryRootOffset = registryRoots;
    store.WriteHeader(header);

    {
        DirectoryScanner scanner(store, exclude);
        for (size_t i = 0; i < directoryBases.size(); ++i)
            ScanDirectoryRoot(store, *directoryBases[i], directoryRoots + uint32_t(i * sizeof(FileEntry)), scanner);
    }
    {
        RegistryScratch scratch;
        for (size_t i = 0; i < registryBases.size(); ++i)
            ScanRegistryBase(store, *registryBases[i], registryRoots + uint32_t(i * sizeof(RegKeyRecord)), exclude,
                             scratch);
    }
    RecordDrives(store);
}

}  // namespace scancap
