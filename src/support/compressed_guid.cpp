#include "support/compressed_guid.h"

#include <cstring>

namespace scancap {
namespace {

// The Installer's 85 digits in ascending value: "!" to "~" without the nine
// characters " # / : ; < > \ |, which registry paths and descriptors reserve.
constexpr char kDigits[] = "!$%&'()*+,-.0123456789=?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[]^_`abcdefghijklmnopqrstuvwxyz{}~";
static_assert(sizeof kDigits - 1 == 85);

constexpr size_t kGroupLength = 5;

// The value of one digit; -1 for a character outside the alphabet.
int DigitValue(wchar_t c) {
    if (c == 0 || c > 0x7F) return -1;
    const char* at = std::strchr(kDigits, char(c));
    return at ? int(at - kDigits) : -1;
}

}  // namespace

bool DecodeCompressedGuid(const wchar_t* text, size_t length, Str& out) {
    out.Clear();
    if (length < kCompressedGuidLength) return false;
    uint32_t words[4];
    for (size_t group = 0; group < 4; ++group) {
        uint64_t value = 0;
        for (size_t i = kGroupLength; i-- > 0;) {
            int digit = DigitValue(text[group * kGroupLength + i]);
            if (digit < 0) return false;
            value = value * 85 + uint64_t(digit);
        }
        if (value > 0xFFFFFFFFu) return false;
        words[group] = uint32_t(value);
    }
    GUID guid;
    static_assert(sizeof guid == sizeof words);
    std::memcpy(&guid, words, sizeof guid);
    out.AppendGuid(guid);
    return true;
}

}  // namespace scancap
