// A snapshot file is loaded with a single read into a buffer prepared at the
// file's size; nothing is parsed. The loader checks the magic and rejects an
// arena too short to hold the SnapshotHeader, both with the "not a valid
// snapshot file" message. Any other damage (offsets or counts that point
// outside the data) is not detected here: the store's checked accessors treat
// such records as absent, so readers stay inside the arena.
#include "snapshot/snapshot_file.h"

#include "snapshot/long_path.h"
#include "support/fatal.h"
#include "support/handles.h"

namespace scancap {

namespace {

constexpr char kMagic[16] = {'S', 'n', 'a', 'p', 's', 'h', 'o', 't',
                             'V', 'e', 'r', 's', 'i', 'o', 'n', '2'};

// Only a file of at least this size that begins "MZ" counts as a program image.
constexpr DWORD kImageProbeSize = 64;

bool IsProgramImage(const Str& systemPath) {
    FileHandle file(CreateFileW(systemPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    uint8_t head[kImageProbeSize];
    DWORD read = 0;
    if (!ReadFile(file.get(), head, sizeof head, &read, nullptr)) return false;
    return read == kImageProbeSize && head[0] == 'M' && head[1] == 'Z';
}

}  // namespace

void SaveSnapshot(const SnapshotStore& store, const Str& fileName) {
    Str systemPath = ShortenLongPath(fileName);

    DWORD attributes = GetFileAttributesW(systemPath.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY)
            Fatal(L"Cannot save snapshot, %ls is a directory", fileName.c_str());
        if (IsProgramImage(systemPath))
            Fatal(L"Cannot overwrite file %ls, please delete first", fileName.c_str());
    }

    FileHandle file(CreateFileW(systemPath.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) Fatal(L"Unable to open %ls for writing", systemPath.c_str());

    DWORD written = 0;
    bool ok = WriteFile(file.get(), kMagic, sizeof kMagic, &written, nullptr) && written == sizeof kMagic;
    if (ok) {
        // One call for the whole arena; a 32-bit arena always fits one WriteFile.
        static const uint8_t kNothing = 0;
        const uint8_t* bytes = store.Used() ? store.Bytes() : &kNothing;
        written = 0;
        ok = WriteFile(file.get(), bytes, store.Used(), &written, nullptr) && written == store.Used();
    }
    if (!ok) {
        file.reset();
        Fatal(L"Unable to write data to %ls, disk full?", fileName.c_str());
    }
}

void LoadSnapshot(SnapshotStore& store, const Str& fileName) {
    Str systemPath = ShortenLongPath(fileName);
    FileHandle file(CreateFileW(systemPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) Fatal(L"Unable to open %ls for reading", systemPath.c_str());

    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size)) Fatal(L"Failure reading from %ls", fileName.c_str());
    if (size.HighPart != 0) Fatal(L"%ls is too large to read into memory", fileName.c_str());
    const DWORD fileSize = size.LowPart;

    uint8_t* arena = store.PrepareLoad(fileSize);
    if (!arena) {
        uint64_t capacity = (uint64_t(fileSize) + kArenaStep - 1) / kArenaStep * kArenaStep;
        Fatal(L"Unable to allocate %u kbytes of memory", static_cast<unsigned>(capacity / 1024));
    }

    char magic[sizeof kMagic];
    DWORD read = 0;
    if (!ReadFile(file.get(), magic, sizeof magic, &read, nullptr))
        Fatal(L"Failure reading from %ls", fileName.c_str());
    // A device or pipe can deliver the magic while reporting a size of 0.
    if (read != sizeof magic || std::memcmp(magic, kMagic, sizeof kMagic) != 0 ||
        fileSize < sizeof kMagic + sizeof(SnapshotHeader))
        Fatal(L"%ls is not a valid snapshot file or is incompatiable with this version of scancap.exe",
              fileName.c_str());

    const DWORD arenaSize = fileSize - DWORD(sizeof kMagic);
    read = 0;
    if (!ReadFile(file.get(), arena, arenaSize, &read, nullptr) || read != arenaSize)
        Fatal(L"Failure reading from %ls", fileName.c_str());
    store.SetUsed(read);
}

}  // namespace scancap
