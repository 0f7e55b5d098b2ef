// Portable Executable images synthesised for tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

namespace scancap::testing {

inline void Put16(std::string& b, size_t at, uint16_t v) { std::memcpy(&b[at], &v, 2); }
inline void Put32(std::string& b, size_t at, uint32_t v) { std::memcpy(&b[at], &v, 4); }

// An image with one section (virtual 0x1000, file 0x200) holding an export
// directory whose only name is "CPlApplet" (function address 0x1234).
struct Image {
    uint16_t machine = 0x14C;
    uint16_t characteristics = 0x2102;  // DLL
    bool exports = true;
    uint32_t ntOffset = 64;
    uint32_t nameCount = 1;

    std::string Bytes() const {
        bool is64 = machine == 0x8664;
        std::string b(std::max<size_t>(0x400, ntOffset + 0x200), '\0');
        b[0] = 'M', b[1] = 'Z';
        Put32(b, 60, ntOffset);
        std::memcpy(&b[ntOffset], "PE\0\0", 4);
        size_t fileHeader = ntOffset + 4, optional = ntOffset + 24;
        uint16_t optionalBytes = is64 ? 240 : 224;
        Put16(b, fileHeader, machine), Put16(b, fileHeader + 2, 1);
        Put16(b, fileHeader + 16, optionalBytes), Put16(b, fileHeader + 18, characteristics);
        Put16(b, optional, is64 ? 0x20B : 0x10B);  // the system's loader wants the magic
        Put32(b, optional + 60, 0x200);  // SizeOfHeaders
        Put32(b, optional + (is64 ? 108 : 92), 16);
        if (exports) Put32(b, optional + (is64 ? 112 : 96), 0x1000), Put32(b, optional + (is64 ? 116 : 100), 0x40);
        size_t section = optional + optionalBytes;
        if (section + 40 <= 0x200)
            Put32(b, section + 8, 0x200), Put32(b, section + 12, 0x1000), Put32(b, section + 16, 0x200),
                Put32(b, section + 20, 0x200);
        Put32(b, 0x200 + 20, 1), Put32(b, 0x200 + 24, nameCount);
        Put32(b, 0x200 + 28, 0x1028), Put32(b, 0x200 + 32, 0x102C), Put32(b, 0x200 + 36, 0x1030);
        Put32(b, 0x228, 0x1234), Put32(b, 0x22C, 0x1034);
        std::memcpy(&b[0x234], "CPlApplet", 10);
        return b;
    }
};

}  // namespace scancap::testing
