#include "suggest/icon_images.h"

#include "support/handles.h"

namespace scancap {
namespace {

constexpr uint32_t kDirectoryHeaderBytes = 6;  // reserved, type, image count
constexpr uint32_t kGroupEntryBytes = 14;      // an icon-group resource entry
constexpr uint32_t kFileEntryBytes = 16;       // an icon-file directory entry

uint32_t Width(uint8_t widthByte) { return widthByte == 0 ? 256 : widthByte; }

uint16_t Get16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }

void ListGroupResource(HMODULE module, LPCWSTR name, std::vector<uint32_t>& widths) {
    HRSRC resource = FindResourceW(module, name, RT_GROUP_ICON);
    if (!resource) return;
    DWORD size = SizeofResource(module, resource);
    HGLOBAL loaded = LoadResource(module, resource);
    const uint8_t* group = loaded ? static_cast<const uint8_t*>(LockResource(loaded)) : nullptr;
    if (!group || size < kDirectoryHeaderBytes) return;
    uint32_t count = Get16(group + 4);
    for (uint32_t i = 0; i < count && kDirectoryHeaderBytes + (i + 1) * kGroupEntryBytes <= size; ++i)
        widths.push_back(Width(group[kDirectoryHeaderBytes + i * kGroupEntryBytes]));
}

// Lists the first group the enumeration offers (a name given as text is
// valid only inside the callback) and stops it there.
BOOL CALLBACK ListFirstGroup(HMODULE module, LPCWSTR, LPWSTR name, LONG_PTR widths) {
    ListGroupResource(module, name, *reinterpret_cast<std::vector<uint32_t>*>(widths));
    return FALSE;
}

bool ReadExactly(HANDLE file, void* buffer, DWORD size) {
    DWORD read = 0;
    return ReadFile(file, buffer, size, &read, nullptr) && read == size;
}

void ListIconFile(const wchar_t* iconFile, std::vector<uint32_t>& widths) {
    FileHandle file(CreateFileW(iconFile, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    uint8_t head[kDirectoryHeaderBytes + kFileEntryBytes];
    if (!file || !ReadExactly(file.get(), head, sizeof head)) return;
    if (Get16(head) != 0 || Get16(head + 2) != 1) return;
    uint32_t count = Get16(head + 4);
    widths.push_back(Width(head[kDirectoryHeaderBytes]));
    uint8_t entry[kFileEntryBytes];
    for (uint32_t i = 1; i < count && ReadExactly(file.get(), entry, sizeof entry); ++i)
        widths.push_back(Width(entry[0]));
}

}  // namespace

void ListIconImages(const wchar_t* iconFile, int32_t groupId, std::vector<uint32_t>& widths) {
    Module module(LoadLibraryExW(iconFile, nullptr, LOAD_LIBRARY_AS_DATAFILE));
    if (module && groupId == -1)
        EnumResourceNamesW(module.get(), RT_GROUP_ICON, ListFirstGroup, reinterpret_cast<LONG_PTR>(&widths));
    else if (module)
        ListGroupResource(module.get(), MAKEINTRESOURCEW(uint16_t(groupId)), widths);
    else
        ListIconFile(iconFile, widths);
}

}  // namespace scancap
