// Small tasks for the scan end-to-end test that `reg`, `attrib` and `cmd`
// cannot do inside a Wine prefix:
//   scan_helper setraw SUBKEY NAME TYPE HEXBYTES   value with exact bytes below HKCU
//   scan_helper mkkey SUBKEY                       an empty key below HKCU
//   scan_helper lock SUBKEY | unlock SUBKEY        empty DACL / default DACL
//   scan_helper drives                             the volume facts of every drive letter
//   scan_helper dump HKLM|HKCU SUBKEY              every key and value below, one line each:
//                                                  "path|" or "path|name|type|hex bytes"
#include "support/win.h"

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

int SetRaw(const wchar_t* subkey, const wchar_t* name, const wchar_t* type, const wchar_t* hex) {
    std::vector<BYTE> bytes;
    for (const wchar_t* p = hex; p[0] && p[1]; p += 2) {
        wchar_t pair[3] = {p[0], p[1], 0};
        bytes.push_back(BYTE(wcstoul(pair, nullptr, 16)));
    }
    const size_t length = bytes.size();
    // RegSetValueExW adds a string terminator that directly follows the data;
    // non-zero bytes there keep the value exactly as given.
    bytes.push_back(0xFF);
    bytes.push_back(0xFF);
    HKEY key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, subkey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr)) return 2;
    LONG rc = RegSetValueExW(key, name, 0, wcstoul(type, nullptr, 0), bytes.data(), DWORD(length));
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? 0 : 3;
}

int MakeKey(const wchar_t* subkey) {
    HKEY key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, subkey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr)) return 2;
    RegCloseKey(key);
    return 0;
}

int SetDacl(const wchar_t* subkey, bool locked) {
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, subkey, 0, WRITE_DAC, &key)) return 2;
    SECURITY_DESCRIPTOR sd;
    InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
    ACL acl;
    InitializeAcl(&acl, sizeof acl, ACL_REVISION);
    // An empty DACL grants nobody anything; no DACL grants everyone everything.
    SetSecurityDescriptorDacl(&sd, TRUE, locked ? &acl : nullptr, FALSE);
    LONG rc = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &sd);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? 0 : 3;
}

int Drives() {
    for (wchar_t letter = L'a'; letter <= L'z'; ++letter) {
        const wchar_t root[] = {letter, L':', L'\\', 0};
        UINT type = GetDriveTypeW(root);
        if (type <= DRIVE_NO_ROOT_DIR) continue;
        DWORD serial = 0, maxComponent = 0, flags = 0;
        wchar_t fileSystem[32] = {};
        if (!GetVolumeInformationW(root, nullptr, 0, &serial, &maxComponent, &flags, fileSystem, 32)) {
            serial = flags = 0;
            fileSystem[0] = 0;
        }
        char narrow[64] = {};
        WideCharToMultiByte(CP_UTF8, 0, fileSystem, -1, narrow, sizeof narrow, nullptr, nullptr);
        std::printf("Drive %c, Serial=%08lx FSFlags=%lx Filesystem=%s,Type=%x\n", char(letter),
                    static_cast<unsigned long>(serial), static_cast<unsigned long>(flags), narrow, type);
    }
    return 0;
}

void Dump(HKEY parent, const wchar_t* subkey, const std::wstring& path) {
    HKEY key;
    if (RegOpenKeyExW(parent, subkey, 0, KEY_READ, &key)) return;
    std::printf("%ls|\n", path.c_str());
    std::vector<wchar_t> name(16384);
    std::vector<BYTE> data(1 << 20);
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = 16384, size = 1 << 20, type = 0;
        if (RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type, data.data(), &size)) break;
        std::printf("%ls|%ls|%lu|", path.c_str(), name.data(), static_cast<unsigned long>(type));
        for (DWORD b = 0; b < size; ++b) std::printf("%02x", data[b]);
        std::printf("\n");
    }
    DWORD nameLength = 16384;
    for (DWORD i = 0; !RegEnumKeyExW(key, i, name.data(), &nameLength, 0, 0, 0, 0); ++i, nameLength = 16384)
        Dump(key, name.data(), path + L"\\" + name.data());
    RegCloseKey(key);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 6 && !wcscmp(argv[1], L"setraw")) return SetRaw(argv[2], argv[3], argv[4], argv[5]);
    if (argc == 3 && !wcscmp(argv[1], L"mkkey")) return MakeKey(argv[2]);
    if (argc == 3 && !wcscmp(argv[1], L"lock")) return SetDacl(argv[2], true);
    if (argc == 3 && !wcscmp(argv[1], L"unlock")) return SetDacl(argv[2], false);
    if (argc == 2 && !wcscmp(argv[1], L"drives")) return Drives();
    if (argc == 4 && !wcscmp(argv[1], L"dump"))
        return Dump(wcscmp(argv[2], L"HKLM") ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE, argv[3],
                    std::wstring(argv[2]) + L"\\" + argv[3]), 0;
    std::fprintf(stderr, "usage: scan_helper setraw|mkkey|lock|unlock|drives|dump ...\n");
    return 1;
}
