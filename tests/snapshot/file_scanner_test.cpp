#include "snapshot/file_scanner.h"

#include "common/testing.h"
#include "snapshot/scan_test_support.h"
#include "support/handles.h"

#include <gtest/gtest.h>
#include <winioctl.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace scancap::testing {
namespace {

void MakeDir(const Str& path) { ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr)) << Utf8(path); }

void MakeFile(const Str& path, size_t bytes = 0, DWORD attributes = 0) {
    WriteFileBytes(path, std::string(bytes, 'x'));
    if (attributes) {
        ASSERT_TRUE(SetFileAttributesW(path.c_str(), attributes)) << Utf8(path);
    }
}

// The store after scanning `bases` with a recording exclusion list.
struct Scan {
    SnapshotStore store;
    RecordingExcludeList* list = nullptr;
    ScanOptions options;

    explicit Scan(std::vector<Str> bases, std::set<std::wstring> ignored = {}) {
        options = MakeScanOptions(std::move(bases), &list);
        list->ignoredFiles = std::move(ignored);
        ScanAllBases(store, options.bases, options.excludeList.get());
    }
    uint32_t Root(uint32_t i = 0) const { return kDirectoryRootsOffset + i * uint32_t(sizeof(FileEntry)); }
};

// An independent listing of one directory, in the order the system returns
// it, with the standard information level.
std::vector<WIN32_FIND_DATAW> ReferenceListing(const Str& directory) {
    std::vector<WIN32_FIND_DATAW> entries;
    Str pattern = directory;
    pattern += L"\\*";
    WIN32_FIND_DATAW found;
    FindHandle find(FindFirstFileW(pattern.c_str(), &found));
    if (!find) return entries;
    do {
        if (!wcscmp(found.cFileName, L".") || !wcscmp(found.cFileName, L"..")) continue;
        entries.push_back(found);
    } while (FindNextFileW(find.get(), &found));
    return entries;
}

bool SameTime(const FILETIME& a, const FILETIME& b) {
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

// Every record below `offset` equals what the system lists for `directory`,
// field by field, in the same order.
void ExpectMatchesReference(const SnapshotStore& store, uint32_t offset, const Str& directory) {
    SCOPED_TRACE(Utf8(directory));
    FileEntry entry = EntryAt(store, offset);
    std::vector<WIN32_FIND_DATAW> reference = ReferenceListing(directory);
    ASSERT_EQ(store.ChildCount(offset, entry), reference.size());
    for (uint32_t i = 0; i < reference.size(); ++i) {
        const WIN32_FIND_DATAW& r = reference[i];
        uint32_t childOffset = store.ChildEntry(offset, entry, i);
        FileEntry child = EntryAt(store, childOffset);
        EXPECT_EQ(NameAt(store, child.nameOffset), std::wstring(r.cFileName));
        EXPECT_EQ(child.attributes, r.dwFileAttributes);
        EXPECT_EQ(child.sizeHigh, r.nFileSizeHigh);
        EXPECT_EQ(child.sizeLow, r.nFileSizeLow);
        EXPECT_TRUE(SameTime(child.creationTime, r.ftCreationTime));
        EXPECT_TRUE(SameTime(child.lastWriteTime, r.ftLastWriteTime));
        // Listing a directory may touch its access time; a file's stays.
        if (!(r.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            EXPECT_TRUE(SameTime(child.lastAccessTime, r.ftLastAccessTime));
            EXPECT_EQ(child.childCount, 0u);
            EXPECT_EQ(child.childOffset, 0u);
        } else {
            Str sub = directory;
            sub += L"\\";
            sub += r.cFileName;
            ExpectMatchesReference(store, childOffset, sub);
        }
    }
}

// Lowest and highest arena offsets used by the subtree below an entry: its
// child array and every name and array beneath.
void SubtreeBounds(const SnapshotStore& store, uint32_t offset, uint32_t& low, uint32_t& high) {
    FileEntry entry = EntryAt(store, offset);
    uint32_t count = store.ChildCount(offset, entry);
    if (count == 0) return;
    low = std::min(low, entry.childOffset);
    high = std::max(high, entry.childOffset + count * uint32_t(sizeof(FileEntry)) - 1);
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t child = store.ChildEntry(offset, entry, i);
        FileEntry c = EntryAt(store, child);
        low = std::min(low, c.nameOffset);
        high = std::max(high, c.nameOffset);
        SubtreeBounds(store, child, low, high);
    }
}

// The children of every directory form one block written before any child
// is scanned, and each child's subtree lies between its own name and the
// next child's name.
void ExpectDepthFirstLayout(const SnapshotStore& store, uint32_t offset) {
    FileEntry entry = EntryAt(store, offset);
    uint32_t count = store.ChildCount(offset, entry);
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t child = store.ChildEntry(offset, entry, i);
        FileEntry c = EntryAt(store, child);
        EXPECT_GT(c.nameOffset, entry.childOffset + count * uint32_t(sizeof(FileEntry)) - 1);
        uint32_t low = UINT32_MAX, high = 0;
        SubtreeBounds(store, child, low, high);
        if (low == UINT32_MAX) continue;
        EXPECT_GT(low, c.nameOffset) << "child " << i;
        if (i + 1 < count) {
            FileEntry next = EntryAt(store, store.ChildEntry(offset, entry, i + 1));
            EXPECT_LT(high, next.nameOffset) << "child " << i;
        }
        ExpectDepthFirstLayout(store, child);
    }
}

// A tree with files and directories whose names sort differently with and
// without case, nested two levels down.
void MakeSampleTree(const TempDir& dir) {
    MakeFile(dir / L"b.txt", 10);
    MakeDir(dir / L"a");
    MakeFile(dir / L"a\\one.dat", 1);
    MakeDir(dir / L"a\\deeper");
    MakeFile(dir / L"a\\deeper\\two.dat", 2);
    MakeDir(dir / L"C");
    MakeDir(dir / L"C\\x");
    MakeFile(dir / L"C\\x\\three", 3);
    MakeFile(dir / L"C\\Y.bin", 4);
    MakeDir(dir / L"d-empty");
    MakeFile(dir / L"Z", 5);
}

TEST(FileScanner, RecordsEveryEntryAsListedInDepthFirstBlocks) {
    TempDir dir;
    MakeSampleTree(dir);
    Scan scan({dir.Path()});

    SnapshotHeader header{};
    ASSERT_TRUE(scan.store.ReadHeader(header));
    EXPECT_EQ(header.directoryRootCount, 1u);
    EXPECT_EQ(header.registryRootCount, 0u);
    EXPECT_EQ(header.registryRootOffset, kDirectoryRootsOffset + sizeof(FileEntry));

    FileEntry root = EntryAt(scan.store, scan.Root());
    EXPECT_EQ(NameAt(scan.store, root.nameOffset), std::wstring(dir.Path().c_str()));
    EXPECT_EQ(root.attributes & FILE_ATTRIBUTE_DIRECTORY, DWORD(FILE_ATTRIBUTE_DIRECTORY));
    // The root's name is the first thing after the root arrays.
    EXPECT_EQ(root.nameOffset, header.registryRootOffset);

    ExpectMatchesReference(scan.store, scan.Root(), dir.Path());
    ExpectDepthFirstLayout(scan.store, scan.Root());

    std::vector<std::wstring> names = ChildNames(scan.store, scan.Root());
    std::vector<std::wstring> expected = {L"a", L"b.txt", L"C", L"d-empty", L"Z"};
    std::vector<std::wstring> sorted = names;
    std::sort(sorted.begin(), sorted.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(sorted, expected);
    uint32_t x = ChildNamed(scan.store, ChildNamed(scan.store, scan.Root(), L"C"), L"x");
    ASSERT_NE(x, 0u);
    EXPECT_EQ(ChildNames(scan.store, x), std::vector<std::wstring>{L"three"});
    EXPECT_EQ(EntryAt(scan.store, ChildNamed(scan.store, x, L"three")).sizeLow, 3u);
}

TEST(FileScanner, EmptyFolderHasNoChildrenAndNoArray) {
    TempDir dir;
    MakeDir(dir / L"empty");
    MakeFile(dir / L"file", 1);
    Scan scan({dir.Path()});
    uint32_t empty = ChildNamed(scan.store, scan.Root(), L"empty");
    ASSERT_NE(empty, 0u);
    FileEntry entry = EntryAt(scan.store, empty);
    EXPECT_EQ(entry.childCount, 0u);
    EXPECT_EQ(entry.childOffset, 0u);

    TempDir bare;
    Scan bareScan({bare.Path()});
    FileEntry root = EntryAt(bareScan.store, bareScan.Root());
    EXPECT_EQ(root.childCount, 0u);
    EXPECT_EQ(root.childOffset, 0u);
}

TEST(FileScanner, KeepsHiddenReadOnlyAndSystemFilesWithTheirAttributesAndSizes) {
    TempDir dir;
    MakeFile(dir / L"hidden.txt", 7, FILE_ATTRIBUTE_HIDDEN);
    MakeFile(dir / L"readonly.txt", 70000, FILE_ATTRIBUTE_READONLY);
    MakeFile(dir / L"system.sys", 1, FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_HIDDEN);
    MakeDir(dir / L"hiddendir");
    ASSERT_TRUE(SetFileAttributesW((dir / L"hiddendir").c_str(), FILE_ATTRIBUTE_HIDDEN));
    MakeFile(dir / L"hiddendir\\inside", 1);
    // 5 GiB without writing them: the size's high word is 1.
    {
        FileHandle big(CreateFileW((dir / L"big.bin").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
        ASSERT_TRUE(big);
        LARGE_INTEGER size;
        size.QuadPart = 5LL << 30;
        ASSERT_TRUE(SetFilePointerEx(big.get(), size, nullptr, FILE_BEGIN));
        ASSERT_TRUE(SetEndOfFile(big.get()));
    }
    Scan scan({dir.Path()});

    FileEntry hidden = EntryAt(scan.store, ChildNamed(scan.store, scan.Root(), L"hidden.txt"));
    EXPECT_TRUE(hidden.attributes & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(hidden.sizeLow, 7u);
    FileEntry readOnly = EntryAt(scan.store, ChildNamed(scan.store, scan.Root(), L"readonly.txt"));
    EXPECT_TRUE(readOnly.attributes & FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(readOnly.sizeHigh, 0u);
    EXPECT_EQ(readOnly.sizeLow, 70000u);
    FileEntry system = EntryAt(scan.store, ChildNamed(scan.store, scan.Root(), L"system.sys"));
    EXPECT_TRUE(system.attributes & FILE_ATTRIBUTE_SYSTEM);
    FileEntry big = EntryAt(scan.store, ChildNamed(scan.store, scan.Root(), L"big.bin"));
    EXPECT_EQ(big.sizeHigh, 1u);
    EXPECT_EQ(big.sizeLow, 1u << 30);
    uint32_t hiddenDir = ChildNamed(scan.store, scan.Root(), L"hiddendir");
    EXPECT_TRUE(EntryAt(scan.store, hiddenDir).attributes & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(ChildNames(scan.store, hiddenDir), std::vector<std::wstring>{L"inside"});
    ExpectMatchesReference(scan.store, scan.Root(), dir.Path());
}

TEST(FileScanner, AsksTheExclusionListOncePerDirectoryAndListsExcludedOnesWithoutChildren) {
    TempDir dir;
    MakeSampleTree(dir);
    Str excluded = dir / L"C";
    Scan scan({dir.Path()}, {std::wstring(excluded.c_str())});

    uint32_t c = ChildNamed(scan.store, scan.Root(), L"C");
    ASSERT_NE(c, 0u);
    FileEntry entry = EntryAt(scan.store, c);
    EXPECT_TRUE(entry.attributes & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_NE(entry.lastWriteTime.dwHighDateTime, 0u);
    EXPECT_EQ(entry.childCount, 0u);
    EXPECT_EQ(entry.childOffset, 0u);

    std::vector<std::wstring> asked = scan.list->fileQueries;
    std::vector<std::wstring> expected = {
        dir.Path().c_str(),
        (dir / L"a").c_str(),
        (dir / L"a\\deeper").c_str(),
        excluded.c_str(),
        (dir / L"d-empty").c_str(),
    };
    std::sort(asked.begin(), asked.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(asked, expected);
    // Each question comes after the scan path names that directory.
    EXPECT_EQ(scan.list->scanPathAtQuery, scan.list->fileQueries);
}

TEST(FileScanner, ExcludedRootKeepsItsEntryWithoutChildren) {
    TempDir dir;
    MakeSampleTree(dir);
    Scan scan({dir.Path()}, {std::wstring(dir.Path().c_str())});
    FileEntry root = EntryAt(scan.store, scan.Root());
    EXPECT_EQ(NameAt(scan.store, root.nameOffset), std::wstring(dir.Path().c_str()));
    EXPECT_TRUE(root.attributes & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(root.childCount, 0u);
    EXPECT_EQ(scan.list->fileQueries.size(), 1u);
}

TEST(FileScanner, BaseWithTrailingBackslashBuildsPathsWithSingleSeparators) {
    TempDir dir;
    MakeDir(dir / L"sub");
    MakeDir(dir / L"sub\\leaf");
    Str base = dir.Path();
    base += L"\\";
    Scan scan({base});
    FileEntry root = EntryAt(scan.store, scan.Root());
    EXPECT_EQ(NameAt(scan.store, root.nameOffset), std::wstring(base.c_str()));
    EXPECT_EQ(scan.list->fileQueries,
              (std::vector<std::wstring>{base.c_str(), (dir / L"sub").c_str(), (dir / L"sub\\leaf").c_str()}));
    EXPECT_EQ(ChildNames(scan.store, scan.Root()), std::vector<std::wstring>{L"sub"});
}

TEST(FileScanner, NonexistentBaseStopsTheScan) {
    TempDir dir;
    Str missing = dir / L"not-there";
    ScanOptions options = MakeScanOptions({dir.Path(), missing});
    SnapshotStore store;
    try {
        ScanAllBases(store, options.bases, options.excludeList.get());
        FAIL() << "no fatal error";
    } catch (const Str& message) {
        EXPECT_EQ(Utf8(message), "Cannot access directory " + Utf8(missing));
    }
}

TEST(FileScanner, RootsKeepTheirOrderAndRegistryBasesGoToTheRegistryArray) {
    TempDir first, second;
    MakeFile(first / L"f1", 1);
    MakeFile(second / L"f2", 2);
    TestRegKey key(L"scan-split");
    Str registryBase = L"hkey_current_user\\";
    registryBase += key.SubPath();
    Scan scan({first.Path(), registryBase, second.Path()});

    SnapshotHeader header{};
    ASSERT_TRUE(scan.store.ReadHeader(header));
    EXPECT_EQ(header.directoryRootCount, 2u);
    EXPECT_EQ(header.registryRootCount, 1u);
    EXPECT_EQ(header.registryRootOffset, kDirectoryRootsOffset + 2 * sizeof(FileEntry));
    EXPECT_EQ(NameAt(scan.store, EntryAt(scan.store, scan.Root(0)).nameOffset), std::wstring(first.Path().c_str()));
    EXPECT_EQ(NameAt(scan.store, EntryAt(scan.store, scan.Root(1)).nameOffset), std::wstring(second.Path().c_str()));
    EXPECT_EQ(ChildNames(scan.store, scan.Root(0)), std::vector<std::wstring>{L"f1"});
    EXPECT_EQ(ChildNames(scan.store, scan.Root(1)), std::vector<std::wstring>{L"f2"});
    RegKeyRecord registryRoot = KeyAt(scan.store, header.registryRootOffset);
    EXPECT_EQ(NameAt(scan.store, registryRoot.nameOffset), std::wstring(registryBase.c_str()));
    // Directory trees come first, the registry tree after the last of them.
    EXPECT_GT(registryRoot.nameOffset, EntryAt(scan.store, scan.Root(1)).nameOffset);
}

TEST(FileScanner, RecordsEveryDriveLetterBackToBackAfterTheTrees) {
    TempDir dir;
    Scan scan({dir.Path()});
    SnapshotHeader header{};
    ASSERT_TRUE(scan.store.ReadHeader(header));

    std::vector<wchar_t> letters;
    for (wchar_t letter = L'a'; letter <= L'z'; ++letter) {
        const wchar_t root[] = {letter, L':', L'\\', 0};
        if (GetDriveTypeW(root) > DRIVE_NO_ROOT_DIR) letters.push_back(letter);
    }
    ASSERT_FALSE(letters.empty());
    ASSERT_EQ(header.driveCount, letters.size());
    EXPECT_EQ(header.driveOffset + header.driveCount * sizeof(DriveRecord), scan.store.Used());
    bool sawC = false;
    for (uint32_t i = 0; i < header.driveCount; ++i) {
        DriveRecord drive{};
        ASSERT_TRUE(scan.store.ReadDrive(header.driveOffset + i * uint32_t(sizeof(DriveRecord)), drive));
        EXPECT_EQ(drive.driveLetter, uint8_t(letters[i]));
        const wchar_t root[] = {wchar_t(drive.driveLetter), L':', L'\\', 0};
        EXPECT_EQ(drive.driveType, GetDriveTypeW(root));
        if (drive.driveLetter == 'c') {
            sawC = true;
            DWORD serial = 0, maxComponent = 0, flags = 0;
            wchar_t fileSystem[32] = {};
            ASSERT_TRUE(GetVolumeInformationW(root, nullptr, 0, &serial, &maxComponent, &flags, fileSystem, 32));
            EXPECT_EQ(drive.serialNumber, serial);
            EXPECT_EQ(drive.fileSystemFlags, flags);
            EXPECT_EQ(drive.maxComponentLength, maxComponent);
            EXPECT_EQ(std::wstring(drive.fileSystemName), std::wstring(fileSystem));
            EXPECT_EQ(drive.driveType, DRIVE_FIXED);
        }
    }
    EXPECT_TRUE(sawC);
}

// A chain of directories far beyond MAX_PATH even with 8.3 names.
TEST(FileScanner, ScansTreesDeeperThanMaxPath) {
    TempDir dir;
    const int levels = 40;
    const wchar_t* component = L"a-directory-name-of-thirty-five-ch";
    Str path = L"\\\\?\\";
    path += dir.Path();
    for (int i = 0; i < levels; ++i) {
        path.AppendFormat(L"\\%ls%02d", component, i);
        ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr)) << i << " " << GetLastError();
    }
    Str file = path;
    file += L"\\bottom.txt";
    {
        FileHandle f(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
        ASSERT_TRUE(f);
    }
    ASSERT_GT(path.Length(), 1400u);

    Scan scan({dir.Path()});
    uint32_t at = scan.Root();
    for (int i = 0; i < levels; ++i) {
        Str name;
        name.Format(L"%ls%02d", component, i);
        std::vector<std::wstring> names = ChildNames(scan.store, at);
        ASSERT_EQ(names, std::vector<std::wstring>{name.c_str()}) << "level " << i;
        at = ChildNamed(scan.store, at, name.c_str());
    }
    EXPECT_EQ(ChildNames(scan.store, at), std::vector<std::wstring>{L"bottom.txt"});
    EXPECT_EQ(scan.list->fileQueries.size(), size_t(levels) + 1);
    EXPECT_GT(scan.list->fileQueries.back().size(), 1400u);

    // Removal needs the long form as well.
    DeleteFileW(file.c_str());
    for (int i = levels; i > 0; --i) {
        ASSERT_TRUE(RemoveDirectoryW(path.c_str())) << i;
        path.SetLength(size_t(path.FindLast(L'\\')));
    }
}

// ---------------------------------------------------------------------------
// Reparse points

struct MountPointBuffer {
    ULONG ReparseTag;
    USHORT ReparseDataLength;
    USHORT Reserved;
    USHORT SubstituteNameOffset;
    USHORT SubstituteNameLength;
    USHORT PrintNameOffset;
    USHORT PrintNameLength;
    WCHAR PathBuffer[1024];
};

bool MakeJunction(const Str& link, const Str& target) {
    if (!CreateDirectoryW(link.c_str(), nullptr)) return false;
    FileHandle h(CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    MountPointBuffer buffer{};
    Str substitute = L"\\??\\";
    substitute += target;
    buffer.ReparseTag = IO_REPARSE_TAG_MOUNT_POINT;
    buffer.SubstituteNameLength = USHORT(substitute.Length() * 2);
    buffer.PrintNameOffset = USHORT(buffer.SubstituteNameLength + 2);
    std::memcpy(buffer.PathBuffer, substitute.c_str(), buffer.SubstituteNameLength);
    buffer.ReparseDataLength = USHORT(8 + buffer.SubstituteNameLength + 4);
    DWORD returned = 0;
    bool made = h && DeviceIoControl(h.get(), FSCTL_SET_REPARSE_POINT, &buffer, buffer.ReparseDataLength + 8u,
                                      nullptr, 0, &returned, nullptr);
    h.reset();
    if (!made) RemoveDirectoryW(link.c_str());
    return made;
}

// Wine's own path translation, present only under Wine.
std::string UnixPath(const Str& path) {
    using Translate = char*(CDECL*)(LPCWSTR);
    auto translate = reinterpret_cast<Translate>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!translate) return {};
    char* unix = translate(path.c_str());
    if (!unix) return {};
    std::string result = unix;
    HeapFree(GetProcessHeap(), 0, unix);
    return result;
}

bool RunUnix(const std::string& commandLine) {
    Str command(commandLine.c_str(), commandLine.size(), CP_UTF8);
    ProcessResult result = RunProcess(command);
    return result.exitCode != 0xFFFFFFFF;
}

// A directory link the system reports as a reparse point. Windows gets a
// junction. Wine cannot store reparse points (FSCTL_SET_REPARSE_POINT fails
// and CreateSymbolicLinkW makes nothing usable), but it reports a Unix
// symbolic link to a directory as a directory with the reparse-point bit, so
// there the link is made with ln(1), started through Wine's "\\?\unix\" path.
bool MakeDirectoryLink(const Str& link, const Str& target, std::vector<std::string>& unixLinks) {
    if (MakeJunction(link, target)) return true;
    std::string unixTarget = UnixPath(target);
    std::string unixLink = UnixPath(link);
    if (unixTarget.empty() || unixLink.empty()) return false;
    RunUnix("\\\\?\\unix\\bin\\ln -s \"" + unixTarget + "\" \"" + unixLink + "\"");
    DWORD attributes = GetFileAttributesW(link.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    unixLinks.push_back(unixLink);
    return (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
           (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT);
}

class UnixLinkCleanup {
public:
    ~UnixLinkCleanup() {
        for (const std::string& link : links) RunUnix("\\\\?\\unix\\bin\\rm -f \"" + link + "\"");
    }
    std::vector<std::string> links;
};

TEST(FileScanner, FollowsAReparsePointOnceButNotOneInsideIt) {
    TempDir dir;
    UnixLinkCleanup cleanup;
    MakeDir(dir / L"real");
    MakeFile(dir / L"real\\file.txt", 3);
    MakeDir(dir / L"real\\inner");
    MakeFile(dir / L"real\\inner\\deep.txt", 4);
    // link -> real; real\loop -> the scanned folder itself.
    if (!MakeDirectoryLink(dir / L"link", dir / L"real", cleanup.links) ||
        !MakeDirectoryLink(dir / L"real\\loop", dir.Path(), cleanup.links))
        GTEST_SKIP() << "this system offers no directory link reported as a reparse point";

    Scan scan({dir.Path()});

    // "link" is a reparse point: recorded with its attributes and followed.
    uint32_t link = ChildNamed(scan.store, scan.Root(), L"link");
    ASSERT_NE(link, 0u);
    EXPECT_TRUE(EntryAt(scan.store, link).attributes & FILE_ATTRIBUTE_REPARSE_POINT);
    std::vector<std::wstring> linked = ChildNames(scan.store, link);
    std::sort(linked.begin(), linked.end());
    EXPECT_EQ(linked, (std::vector<std::wstring>{L"file.txt", L"inner", L"loop"}));
    EXPECT_EQ(ChildNames(scan.store, ChildNamed(scan.store, link, L"inner")),
              std::vector<std::wstring>{L"deep.txt"});
    // link\loop is a reparse point inside one: recorded, not followed.
    uint32_t nested = ChildNamed(scan.store, link, L"loop");
    ASSERT_NE(nested, 0u);
    EXPECT_TRUE(EntryAt(scan.store, nested).attributes & FILE_ATTRIBUTE_REPARSE_POINT);
    EXPECT_EQ(EntryAt(scan.store, nested).childCount, 0u);

    // real\loop is followed (it is the first reparse point on its way) and
    // shows the scanned folder again, whose "link" is then not followed.
    uint32_t real = ChildNamed(scan.store, scan.Root(), L"real");
    uint32_t loop = ChildNamed(scan.store, real, L"loop");
    ASSERT_NE(loop, 0u);
    uint32_t again = ChildNamed(scan.store, loop, L"link");
    ASSERT_NE(again, 0u);
    EXPECT_EQ(EntryAt(scan.store, again).childCount, 0u);
    uint32_t realAgain = ChildNamed(scan.store, loop, L"real");
    ASSERT_NE(realAgain, 0u);
    EXPECT_EQ(EntryAt(scan.store, ChildNamed(scan.store, realAgain, L"loop")).childCount, 0u);
    EXPECT_EQ(ChildNames(scan.store, ChildNamed(scan.store, realAgain, L"inner")),
              std::vector<std::wstring>{L"deep.txt"});

    // Reparse points that are not followed are not asked about.
    Str notFollowed = dir / L"link\\loop";
    EXPECT_EQ(std::count(scan.list->fileQueries.begin(), scan.list->fileQueries.end(),
                         std::wstring(notFollowed.c_str())),
              0);
    Str followed = dir / L"real\\loop";
    EXPECT_EQ(std::count(scan.list->fileQueries.begin(), scan.list->fileQueries.end(),
                         std::wstring(followed.c_str())),
              1);
}

TEST(FileScanner, ScanDirectoryFillsAPreparedEntryWithoutAnExclusionList) {
    TempDir dir;
    MakeSampleTree(dir);
    SnapshotStore store;
    store.Allocate(sizeof(SnapshotHeader));
    store.WriteHeader(SnapshotHeader{});
    uint32_t entryOffset = store.Allocate(sizeof(FileEntry));
    FileEntry entry{};
    entry.attributes = FILE_ATTRIBUTE_DIRECTORY;
    store.Write(entryOffset, entry);
    ScanDirectory(store, dir.Path(), entryOffset, nullptr);  // no exclusion list: nothing is excluded
    ExpectMatchesReference(store, entryOffset, dir.Path());
    ExpectDepthFirstLayout(store, entryOffset);
}

}  // namespace
}  // namespace scancap::testing
