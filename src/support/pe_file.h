// Executable inspection: the class of a file from its first headers, and a
// reader of Portable Executable images (block cache, address translation
// through the section table, named exports).
//
// Everything here reads bytes that came from outside: every field is read
// from a checked span, and a truncated or hostile image gives class 0 or 1,
// a failed open or an absent export, never a read beyond what was read.
#pragma once

#include "support/handles.h"
#include "support/str.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace scancap {

// The result of ClassifyExecutable.
enum ExecutableClass : uint32_t {
    kExeOther = 0,      // not recognised, or a PE image for another machine
    kExeDos = 1,        // DOS program, or an MZ file whose new header is unreadable
    kExeWin16 = 2,      // "NE" header for Windows
    kExeProgram32 = 3,  // PE, machine 0x14C, not a DLL
    kExeProgram64 = 4,  // PE, machine 0x8664, not a DLL
    kExeDll32 = 5,
    kExeDll64 = 6,
    kExeBatch = 7,  // no MZ header, extension .bat or .cmd
};

// The NT headers as ClassifyExecutable reads them: the "PE\0\0" signature,
// the file header and the 64-bit optional header without its data
// directories' tail.
constexpr uint32_t kNtHeaderBytes = 264;

// Reads `size` bytes at `offset` of `file`; true only when all were read.
using ExecutableReader = bool (*)(HANDLE file, uint32_t offset, void* buffer, uint32_t size);
// The default reader: SetFilePointer from the start, then ReadFile.
bool ReadExecutableBytes(HANDLE file, uint32_t offset, void* buffer, uint32_t size);

// The class of the file open in `file` (read access) named `fileName`. When
// `ntHeaders` is given and the file is a PE image, it receives the
// kNtHeaderBytes read. `description` gets the probe's bracketed note
// appended. Sets the last error to ERROR_BAD_EXE_FORMAT where the file is
// not what its header promised.
uint32_t ClassifyExecutable(HANDLE file, const wchar_t* fileName, uint8_t* ntHeaders = nullptr,
                            Str* description = nullptr, ExecutableReader reader = nullptr);
// Opens the file at a machine path (shared reading) and classifies it;
// kExeOther when it cannot be opened.
uint32_t ClassifyExecutableFile(const Str& path);

// A byte source of an image. Addresses are relative virtual addresses.
class PEFileAccessor {
public:
    virtual ~PEFileAccessor() = default;
    virtual bool Open() = 0;
    // Releases the source and every cached block.
    virtual void Close() = 0;
    // Remembers the size of the image headers and loads them.
    virtual bool SetHeaderSize(uint32_t size) = 0;
    // `size` bytes at `address`, owned by the accessor's cache; null on failure.
    virtual const uint8_t* GetBlock(uint32_t address, uint32_t size) = 0;
    virtual bool CopyBlock(uint32_t address, void* buffer, uint32_t size) = 0;
    // Raw read at a file offset. With `count`, stores the bytes read and
    // succeeds; without, succeeds only when all were read.
    virtual bool ReadAt(uint64_t offset, void* buffer, uint32_t size, uint32_t* count = nullptr) = 0;
    virtual bool IsMemoryImage() const = 0;
    virtual uint64_t AdjustOffset(uint64_t value) const = 0;
    // A read-only view of the file reaching from `offset` over `size` bytes.
    virtual const uint8_t* MapRegion(uint64_t offset, size_t size) = 0;
    virtual void UnmapRegion(const uint8_t* view) = 0;

    // The file primitives, passed through so that a subclass can substitute them.
    virtual HANDLE CreateFileW(const wchar_t* path, DWORD access, DWORD share, DWORD disposition);
    virtual DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD method);
    virtual BOOL ReadFile(HANDLE file, void* buffer, DWORD size, DWORD* read, OVERLAPPED* overlapped);
};

// An image in a file on disk, read through a cache of the blocks asked for.
class PEFileAccessorDisk : public PEFileAccessor {
public:
    explicit PEFileAccessorDisk(const Str& path) : path_(path) {}
    ~PEFileAccessorDisk() override { Close(); }

    bool Open() override;
    void Close() override;
    bool SetHeaderSize(uint32_t size) override;
    const uint8_t* GetBlock(uint32_t address, uint32_t size) override;
    bool CopyBlock(uint32_t address, void* buffer, uint32_t size) override;
    bool ReadAt(uint64_t offset, void* buffer, uint32_t size, uint32_t* count = nullptr) override;
    bool IsMemoryImage() const override { return false; }
    uint64_t AdjustOffset(uint64_t value) const override { return value; }
    const uint8_t* MapRegion(uint64_t offset, size_t size) override;
    void UnmapRegion(const uint8_t* view) override;

private:
    struct Block {
        uint32_t address;
        uint32_t size;
        std::unique_ptr<uint8_t[]> data;
    };
    const uint8_t* Cached(uint32_t address, uint32_t size) const;
    // The file offset of [address, address + size); false when no section holds it.
    bool Translate(uint32_t address, uint32_t size, uint64_t& offset);

    FileHandle file_;
    Str path_;
    uint64_t fileSize_ = 0;
    uint32_t headerSize_ = 0;
    std::vector<Block> blocks_;
};

// A Portable Executable image over an accessor, which it owns.
class PEFile {
public:
    virtual ~PEFile() { Close(); }
    // Opens and validates the image; on failure the accessor is destroyed and,
    // for a bad image, the last error is ERROR_BAD_EXE_FORMAT.
    virtual bool Open(std::unique_ptr<PEFileAccessor> accessor);
    // Takes the accessor and opens it without validation.
    virtual bool Attach(std::unique_ptr<PEFileAccessor> accessor);
    virtual bool IsOpen() const { return accessor_ != nullptr; }
    virtual void Close() { accessor_.reset(); }

    // The relative address of the export named `name` (exact ASCII), 0 when absent.
    uint32_t GetExportAddress(const char* name);

private:
    bool DataDirectory(uint32_t index, uint32_t& address, uint32_t& size);

    std::unique_ptr<PEFileAccessor> accessor_;
};

// Does the image at `path` export `name`?
bool ExportsName(const Str& path, const char* name);

}  // namespace scancap
