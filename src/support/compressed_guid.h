// The compressed GUID form of Windows Installer: 20 characters of a base-85
// alphabet, found in advertised shortcuts and in the component lists of the
// Installer's feature registrations.
#pragma once

#include "support/str.h"

namespace scancap {

constexpr size_t kCompressedGuidLength = 20;

// Decodes the first 20 characters of `text` into the braced GUID form
// ("{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper-case). Four groups of
// five characters each give one 32-bit word of the GUID in memory order, the
// last character of a group being the most significant digit. False, with
// `out` empty, when `text` is shorter or holds a character outside the
// alphabet, or a group exceeds 32 bits.
bool DecodeCompressedGuid(const wchar_t* text, size_t length, Str& out);

}  // namespace scancap
