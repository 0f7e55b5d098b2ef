#include "support/guid_forms.h"

namespace scancap {
namespace {

bool IsHexDigit(wchar_t c) {
    return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
}

bool IsDashPosition(size_t i) { return i == 9 || i == 14 || i == 19 || i == 24; }

// kPackedSource[i]: the position in the braced form of packed digit i.
constexpr unsigned char kPackedSource[kPackedCodeLength] = {
    8,  7,  6,  5,  4,  3,  2,  1,                       // first group, reversed
    13, 12, 11, 10,                                      // second group, reversed
    18, 17, 16, 15,                                      // third group, reversed
    21, 20, 23, 22,                                      // fourth group, bytes swapped
    26, 25, 28, 27, 30, 29, 32, 31, 34, 33, 36, 35,      // fifth group, bytes swapped
};

bool IsPacked(const Str& text) {
    if (text.Length() != kPackedCodeLength) return false;
    for (size_t i = 0; i < kPackedCodeLength; ++i) {
        if (!IsHexDigit(text[i])) return false;
    }
    return true;
}

}  // namespace

bool StartsWithGuid(const wchar_t* text, size_t length) {
    if (length < kBracedGuidLength || text[0] != L'{' || text[kBracedGuidLength - 1] != L'}') return false;
    for (size_t i = 1; i < kBracedGuidLength - 1; ++i) {
        if (IsDashPosition(i) ? text[i] != L'-' : !IsHexDigit(text[i])) return false;
    }
    return true;
}

bool PackedCodeToGuid(const Str& packed, Str& out) {
    out.Clear();
    if (!IsPacked(packed)) return false;
    wchar_t guid[kBracedGuidLength];
    guid[0] = L'{';
    guid[9] = guid[14] = guid[19] = guid[24] = L'-';
    guid[kBracedGuidLength - 1] = L'}';
    for (size_t i = 0; i < kPackedCodeLength; ++i) guid[kPackedSource[i]] = packed[i];
    out.Assign(guid, kBracedGuidLength);
    return true;
}

bool GuidToPackedCode(const Str& guid, Str& out) {
    out.Clear();
    if (guid.Length() != kBracedGuidLength || !StartsWithGuid(guid.c_str(), guid.Length())) return false;
    wchar_t packed[kPackedCodeLength];
    for (size_t i = 0; i < kPackedCodeLength; ++i) packed[i] = guid[kPackedSource[i]];
    out.Assign(packed, kPackedCodeLength);
    return true;
}

}  // namespace scancap
