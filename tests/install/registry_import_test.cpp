#include "install/registry_import.h"

#include "support/mapped_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace scancap {
namespace {

// Copies bytes to just before an inaccessible page: a read past them faults.
const BYTE* Guarded(const void* data, size_t size) {
    static BYTE* const pages = [] {
        auto* p = static_cast<BYTE*>(VirtualAlloc(nullptr, 8192, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        DWORD old;
        VirtualProtect(p + 4096, 4096, PAGE_NOACCESS, &old);
        return p;
    }();
    return static_cast<const BYTE*>(std::memcpy(pages + 4096 - size, data, size));
}

using Kind = RegistryLineKind;
struct LineCase {
    const wchar_t* line;
    Kind kind;
    std::wstring text;   // name, subkey or string data
    DWORD type = 0;      // value lines; the root index for key lines
    std::string bytes = {};  // byte lines
    size_t errors = 0;
};

TEST(RegistryLineTest, ParsesEachKindOfLine) {
    const LineCase cases[] = {
        {L"  Value=a#0db", Kind::ValueName, L"a\rb"},
        {L"value~#2325x", Kind::ValueName, L"%x"},
        {L"Value=#2325x", Kind::ValueName, L"#25x"},
        {L"Value", Kind::ValueName, L""},
        {L"REG_SZ=xyz#00", Kind::StringValue, std::wstring(L"xyz\0", 4), REG_SZ},
        {L"REG_MULTI_SZ~a#2300b#2300#2300", Kind::StringValue, std::wstring(L"a\0b\0\0", 5), REG_MULTI_SZ},
        {L"REG_SZ~ab#4", Kind::StringValue, L"ab#4", REG_SZ},
        {L"REG_SZ", Kind::StringValue, L"", REG_SZ},
        {L"REG_DWORD_BIG_ENDIAN=#00#00#00#01", Kind::ByteValue, L"", REG_DWORD_BIG_ENDIAN, std::string("\0\0\0\1", 4)},
        {L"REG_BINARY~#0g#A0#", Kind::ByteValue, L"", REG_BINARY, "\xa0", 4},
        {L"isolation_merged   HKEY_USERS\\S-1\\Soft", Kind::Key, L"S-1\\Soft", 2},
        {L"isolation_writecopy HKEY_LOCAL_MACHINE", Kind::Key, L"", 0},
        {L"isolation_full Software\\X", Kind::Ignored, L""},
        {L"deleted HKEY_CURRENT_USER\\X", Kind::Unrecognized, L""},
        {L"isolation_unknown HKEY_CURRENT_USER\\X", Kind::Unrecognized, L""},
        {L"   ", Kind::Ignored, L""},
    };
    RegistryLine out;
    for (const LineCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "line " << (&c - cases));
        const size_t length = std::wcslen(c.line);
        ParseRegistryLine(reinterpret_cast<const wchar_t*>(Guarded(c.line, length * 2)), length, out);
        ASSERT_EQ(out.kind, c.kind);
        EXPECT_EQ(std::wstring(out.text.c_str(), out.text.Length()), c.text);
        if (c.kind == Kind::Key) {
            EXPECT_EQ(out.root, c.type);
        } else if (c.kind == Kind::StringValue || c.kind == Kind::ByteValue) {
            EXPECT_EQ(out.type, c.type);
        }
        EXPECT_EQ(std::string(out.bytes.begin(), out.bytes.end()), c.bytes);
        EXPECT_EQ(out.byteErrors, c.errors);
    }
}

TEST(RegistryLineTest, SplitsTextOnlyAtCrLfAndNeverReadsPastIt) {
    const struct {
        std::string bytes;
        std::vector<std::wstring> lines;
    } cases[] = {
        {std::string("A\0\r\0\n\0B\0Z", 9), {L"A", L"B"}},
        {std::string("a\0\r\0b\0\n\0\r\0\n\0", 12), {L"a\rb\n"}},
        {std::string("x\0\r\0", 4), {L"x\r"}},
        {"", {}},
    };
    for (const auto& c : cases) {
        Utf16Lines lines(Guarded(c.bytes.data(), c.bytes.size()), c.bytes.size());
        std::vector<std::wstring> got;
        for (Str line; lines.Next(line);) got.emplace_back(line.c_str(), line.Length());
        EXPECT_EQ(got, c.lines);
    }
}

}  // namespace
}  // namespace scancap
