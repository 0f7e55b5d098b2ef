// Textual forms of GUIDs in the registry: the braced form that names COM
// classes and type libraries, and the packed form (32 hexadecimal digits)
// under which Windows Installer files product and component codes.
#pragma once

#include "support/str.h"

namespace scancap {

constexpr size_t kBracedGuidLength = 38;
constexpr size_t kPackedCodeLength = 32;

// Does text begin with "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", every X a
// hexadecimal digit?
bool StartsWithGuid(const wchar_t* text, size_t length);

// The braced GUID of a packed code and back. The packed form reverses the
// digits of the first three groups and swaps the two digits of every byte of
// the last two. False, with out empty, when the input has not the form.
bool PackedCodeToGuid(const Str& packed, Str& out);
bool GuidToPackedCode(const Str& guid, Str& out);

}  // namespace scancap
