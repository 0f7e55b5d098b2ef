#include "support/pe_file.h"

#include <cstring>
#include <cwchar>
#include <new>

namespace scancap {
namespace {

constexpr uint16_t kMzSignature = 0x5A4D;
constexpr uint16_t kNeSignature = 0x454E;
constexpr uint32_t kPeSignature = 0x00004550;
constexpr uint16_t kMachineI386 = 0x14C;
constexpr uint16_t kMachineAmd64 = 0x8664;
constexpr uint16_t kFileDll = 0x2000;

constexpr uint32_t kDosHeaderBytes = 64;
constexpr uint32_t kNewHeaderOffsetField = 60;
constexpr uint32_t kNeHeaderRest = 60;     // NE header bytes read after its signature
constexpr uint32_t kNeTargetOs = 0x36 - 4;  // target-OS byte, counted after the signature
constexpr uint32_t kFileHeaderBytes = 20;
constexpr uint32_t kNtHeadersPrefix = 4 + kFileHeaderBytes;  // signature and file header

// What PEFile::Open looks at: the image must carry its NT headers here.
constexpr uint32_t kOpenProbeBytes = 4096;
constexpr uint32_t kSizeOfHeadersField = 84;  // from the NT headers, 32- and 64-bit alike

// 32- and 64-bit NT-header blocks and where their data directories lie,
// counted from the start of the optional header.
constexpr uint32_t kNtHeaders32Bytes = 248;
constexpr uint32_t kDirectoryCount32 = 92;
constexpr uint32_t kDirectories32 = 96;
constexpr uint32_t kDirectoryCount64 = 108;
constexpr uint32_t kDirectories64 = 112;

constexpr uint32_t kSectionHeaderBytes = 40;
constexpr uint32_t kExportDirectoryBytes = 40;

// Little-endian fields of a span whose bounds the caller checked.
uint16_t Get16(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
uint32_t Get32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Does [offset, offset + size) lie inside a span of `length` bytes?
bool Inside(uint64_t offset, uint64_t size, uint64_t length) { return offset <= length && size <= length - offset; }

// The extension of the last path component, from its last ".".
const wchar_t* ExtensionOf(const wchar_t* fileName) {
    const wchar_t* name = fileName;
    for (const wchar_t* p = fileName; *p; ++p)
        if (*p == L'\\' || *p == L'/') name = p + 1;
    const wchar_t* dot = wcsrchr(name, L'.');
    return dot ? dot : L"";
}

bool ExtensionIs(const wchar_t* extension, const wchar_t* wanted) {
    return CompareStringOrdinal(extension, -1, wanted, -1, TRUE) == CSTR_EQUAL;
}

uint32_t Classified(uint32_t result, Str* description, const wchar_t* text, bool badFormat) {
    if (description) description->Append(text);
    if (badFormat) SetLastError(ERROR_BAD_EXE_FORMAT);
    return result;
}

}  // namespace

bool ReadExecutableBytes(HANDLE file, uint32_t offset, void* buffer, uint32_t size) {
    LONG high = 0;
    DWORD position = ::SetFilePointer(file, LONG(offset), &high, FILE_BEGIN);
    if (position == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return false;
    if (position != offset || high != 0) return false;
    DWORD read = 0;
    return ::ReadFile(file, buffer, size, &read, nullptr) && read == size;
}

uint32_t ClassifyExecutable(HANDLE file, const wchar_t* fileName, uint8_t* ntHeaders, Str* description,
                            ExecutableReader reader) {
    if (!reader) reader = ReadExecutableBytes;
    uint8_t dos[kDosHeaderBytes];
    if (!reader(file, 0, dos, sizeof dos) || Get16(dos) != kMzSignature) {
        const wchar_t* extension = ExtensionOf(fileName);
        if (ExtensionIs(extension, L".com"))
            return Classified(kExeDos, description, L"[no valid DOS header, .com extension]", false);
        if (ExtensionIs(extension, L".bat") || ExtensionIs(extension, L".cmd"))
            return Classified(kExeBatch, description, L"[no valid DOS header, .bat or .cmd extension]", false);
        return Classified(kExeOther, description, L"[no valid DOS header found ***]", true);
    }
    int32_t newHeader = int32_t(Get32(dos + kNewHeaderOffsetField));
    if (newHeader == 0) return Classified(kExeDos, description, L"[DOS executable]", false);

    uint8_t signature[4];
    if (newHeader < 0 || !reader(file, uint32_t(newHeader), signature, sizeof signature))
        return Classified(kExeDos, description, L"[Unable to read executable type signature]", true);
    uint32_t rest = uint32_t(newHeader) + sizeof signature;

    if (Get16(signature) == kNeSignature) {
        uint8_t ne[kNeHeaderRest];
        if (!reader(file, rest, ne, sizeof ne))
            return Classified(kExeOther, description, L"[OS2 signature found but unable to load OS2 header ***]", false);
        uint8_t targetOs = ne[kNeTargetOs];
        if (targetOs == 2 || targetOs == 4) return Classified(kExeWin16, description, L"[Win16 executable]", false);
        return Classified(kExeOther, description, L"[Unrecognized OS2 exetyp ***]", false);
    }
    if (Get32(signature) == kPeSignature) {
        uint8_t headers[kNtHeaderBytes];
        std::memcpy(headers, signature, sizeof signature);
        if (!reader(file, rest, headers + 4, kNtHeaderBytes - 4))
            return Classified(kExeDos, description, L"[Unable to read NT headers ***]", true);
        if (ntHeaders) std::memcpy(ntHeaders, headers, kNtHeaderBytes);
        uint16_t machine = Get16(headers + 4);
        bool dll = (Get16(headers + 4 + 18) & kFileDll) != 0;
        if (machine == kMachineI386) return dll ? kExeDll32 : kExeProgram32;
        if (machine == kMachineAmd64) return dll ? kExeDll64 : kExeProgram64;
        return kExeOther;
    }
    return Classified(kExeDos, description, L"[Unrecognized executable type signature ***]", true);
}

uint32_t ClassifyExecutableFile(const Str& path) {
    FileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return kExeOther;
    return ClassifyExecutable(file.get(), path.c_str());
}

// ---- PEFileAccessor ---------------------------------------------------------

HANDLE PEFileAccessor::CreateFileW(const wchar_t* path, DWORD access, DWORD share, DWORD disposition) {
    return ::CreateFileW(path, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

DWORD PEFileAccessor::SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD method) {
    return ::SetFilePointer(file, distance, distanceHigh, method);
}

BOOL PEFileAccessor::ReadFile(HANDLE file, void* buffer, DWORD size, DWORD* read, OVERLAPPED* overlapped) {
    return ::ReadFile(file, buffer, size, read, overlapped);
}

// ---- PEFileAccessorDisk -----------------------------------------------------

bool PEFileAccessorDisk::Open() {
    file_.reset(CreateFileW(path_.c_str(), FILE_READ_DATA, FILE_SHARE_READ, OPEN_EXISTING));
    if (!file_) return false;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file_.get(), &size)) {
        file_.reset();
        return false;
    }
    fileSize_ = uint64_t(size.QuadPart);
    return true;
}

void PEFileAccessorDisk::Close() {
    file_.reset();
    blocks_.clear();
    headerSize_ = 0;
}

bool PEFileAccessorDisk::SetHeaderSize(uint32_t size) {
    headerSize_ = size;
    return GetBlock(0, size) != nullptr;
}

const uint8_t* PEFileAccessorDisk::Cached(uint32_t address, uint32_t size) const {
    for (const Block& block : blocks_) {
        if (address >= block.address && Inside(address - block.address, size, block.size))
            return block.data.get() + (address - block.address);
    }
    return nullptr;
}

bool PEFileAccessorDisk::Translate(uint32_t address, uint32_t size, uint64_t& offset) {
    uint64_t end = uint64_t(address) + size;
    if (headerSize_ == 0 || end <= headerSize_) {
        offset = address;
        return true;
    }
    const uint8_t* headers = GetBlock(0, headerSize_);
    if (!headers || !Inside(kNewHeaderOffsetField, 4, headerSize_)) return false;
    uint64_t nt = Get32(headers + kNewHeaderOffsetField);
    if (!Inside(nt, kNtHeadersPrefix, headerSize_)) return false;
    uint32_t sections = Get16(headers + nt + 4 + 2);
    uint64_t table = nt + kNtHeadersPrefix + Get16(headers + nt + 4 + 16);
    for (uint32_t i = 0; i < sections; ++i) {
        uint64_t entry = table + uint64_t(i) * kSectionHeaderBytes;
        if (!Inside(entry, kSectionHeaderBytes, headerSize_)) return false;
        uint32_t virtualSize = Get32(headers + entry + 8);
        uint32_t virtualAddress = Get32(headers + entry + 12);
        uint32_t rawData = Get32(headers + entry + 20);
        if (address >= virtualAddress && end <= uint64_t(virtualAddress) + virtualSize) {
            offset = uint64_t(address - virtualAddress) + rawData;
            return offset != 0;
        }
    }
    return false;
}

const uint8_t* PEFileAccessorDisk::GetBlock(uint32_t address, uint32_t size) {
    if (size == 0) return nullptr;
    if (const uint8_t* cached = Cached(address, size)) return cached;
    uint64_t offset;
    // A size that the file cannot hold is refused before anything is allocated.
    if (!Translate(address, size, offset) || !Inside(offset, size, fileSize_)) return nullptr;
    std::unique_ptr<uint8_t[]> data(new (std::nothrow) uint8_t[size]);
    if (!data || !ReadAt(offset, data.get(), size)) return nullptr;
    blocks_.push_back({address, size, std::move(data)});
    return blocks_.back().data.get();
}

bool PEFileAccessorDisk::CopyBlock(uint32_t address, void* buffer, uint32_t size) {
    if (const uint8_t* cached = Cached(address, size)) {
        std::memcpy(buffer, cached, size);
        return true;
    }
    uint64_t offset;
    if (!Translate(address, size, offset)) return false;
    uint32_t count = 0;
    if (!ReadAt(offset, buffer, size, &count)) return false;
    if (count == size) return true;
    // Only the start of a file may be shorter than asked (a small image).
    if (offset != 0) return false;
    std::memset(static_cast<uint8_t*>(buffer) + count, 0, size - count);
    return true;
}

bool PEFileAccessorDisk::ReadAt(uint64_t offset, void* buffer, uint32_t size, uint32_t* count) {
    if (!file_) return false;
    OVERLAPPED at{};
    at.Offset = DWORD(offset);
    at.OffsetHigh = DWORD(offset >> 32);
    DWORD read = 0;
    if (!ReadFile(file_.get(), buffer, size, &read, &at) && GetLastError() != ERROR_HANDLE_EOF) return false;
    if (count) {
        *count = read;
        return true;
    }
    return read == size;
}

const uint8_t* PEFileAccessorDisk::MapRegion(uint64_t offset, size_t size) {
    if (!file_) return nullptr;
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    uint64_t start = offset - offset % system.dwAllocationGranularity;
    KernelHandle mapping(CreateFileMappingW(file_.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    if (!mapping) return nullptr;
    void* view = MapViewOfFile(mapping.get(), FILE_MAP_READ, DWORD(start >> 32), DWORD(start),
                               size_t(offset - start) + size);
    if (!view) return nullptr;
    return static_cast<const uint8_t*>(view) + (offset - start);
}

void PEFileAccessorDisk::UnmapRegion(const uint8_t* view) {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    uintptr_t address = reinterpret_cast<uintptr_t>(view);
    UnmapViewOfFile(reinterpret_cast<const void*>(address - address % system.dwAllocationGranularity));
}

// ---- PEFile -----------------------------------------------------------------

bool PEFile::Open(std::unique_ptr<PEFileAccessor> accessor) {
    accessor_ = std::move(accessor);
    if (!accessor_ || !accessor_->Open()) {
        Close();
        return false;
    }
    std::unique_ptr<uint8_t[]> probe(new (std::nothrow) uint8_t[kOpenProbeBytes]);
    bool valid = probe && accessor_->CopyBlock(0, probe.get(), kOpenProbeBytes) && Get16(probe.get()) == kMzSignature;
    if (valid) {
        int32_t nt = int32_t(Get32(probe.get() + kNewHeaderOffsetField));
        valid = nt >= 0 && nt + kNtHeaderBytes < kOpenProbeBytes + 1 && Get32(probe.get() + nt) == kPeSignature;
        if (valid) {
            accessor_->SetHeaderSize(Get32(probe.get() + nt + kSizeOfHeadersField));
            return true;
        }
    }
    Close();
    SetLastError(ERROR_BAD_EXE_FORMAT);
    return false;
}

bool PEFile::Attach(std::unique_ptr<PEFileAccessor> accessor) {
    accessor_ = std::move(accessor);
    if (accessor_ && accessor_->Open()) return true;
    Close();
    return false;
}

bool PEFile::DataDirectory(uint32_t index, uint32_t& address, uint32_t& size) {
    uint32_t nt = 0;
    if (!accessor_ || !accessor_->CopyBlock(kNewHeaderOffsetField, &nt, sizeof nt)) return false;
    const uint8_t* prefix = accessor_->GetBlock(nt, kNtHeadersPrefix);
    if (!prefix) return false;
    bool is64 = Get16(prefix + 4) == kMachineAmd64;
    uint32_t blockBytes = is64 ? kNtHeaderBytes : kNtHeaders32Bytes;
    const uint8_t* headers = accessor_->GetBlock(nt, blockBytes);
    if (!headers) return false;
    const uint8_t* optional = headers + kNtHeadersPrefix;
    uint32_t optionalBytes = blockBytes - kNtHeadersPrefix;
    uint32_t count = Get32(optional + (is64 ? kDirectoryCount64 : kDirectoryCount32));
    uint64_t entry = (is64 ? kDirectories64 : kDirectories32) + uint64_t(index) * 8;
    if (index >= count || !Inside(entry, 8, optionalBytes)) return false;
    address = Get32(optional + entry);
    size = Get32(optional + entry + 4);
    return true;
}

uint32_t PEFile::GetExportAddress(const char* name) {
    uint32_t directory = 0, size = 0;
    if (!DataDirectory(IMAGE_DIRECTORY_ENTRY_EXPORT, directory, size) || directory == 0 ||
        size < kExportDirectoryBytes)
        return 0;
    const uint8_t* block = accessor_->GetBlock(directory, size);
    if (!block) return 0;
    // An address of the image as an offset into the block, when [address,
    // address + bytes) lies inside it.
    auto at = [&](uint64_t address, uint64_t bytes, uint64_t& offset) {
        if (address < directory) return false;
        offset = address - directory;
        return Inside(offset, bytes, size);
    };
    uint32_t functionCount = Get32(block + 20);
    uint32_t nameCount = Get32(block + 24);
    uint32_t functions = Get32(block + 28);
    uint32_t names = Get32(block + 32);
    uint32_t ordinals = Get32(block + 36);
    uint64_t namesAt, entry;
    if (nameCount == 0 || !at(names, uint64_t(nameCount) * 4, namesAt)) return 0;
    size_t nameBytes = strlen(name) + 1;
    for (uint32_t i = 0; i < nameCount; ++i) {
        uint64_t nameAt;
        if (!at(Get32(block + namesAt + 4 * uint64_t(i)), nameBytes, nameAt) ||
            std::memcmp(block + nameAt, name, nameBytes) != 0)
            continue;
        if (!at(ordinals + 2 * uint64_t(i), 2, entry)) return 0;
        uint32_t ordinal = Get16(block + entry);
        uint64_t function = functions + 4 * uint64_t(ordinal);
        if (ordinal >= functionCount || !at(function, 4, entry)) return 0;
        return Get32(block + entry);
    }
    return 0;
}

bool ExportsName(const Str& path, const char* name) {
    PEFile image;
    return image.Open(std::make_unique<PEFileAccessorDisk>(path)) && image.GetExportAddress(name) != 0;
}

}  // namespace scancap
