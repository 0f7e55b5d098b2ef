// The encoding of machine paths, registry names and data in project files:
// folder macros, drive macros, short-name references and "#" escapes.
#pragma once

#include "support/str.h"

namespace scancap {

struct EscapeSet {
    bool escapeNonAscii;
    bool flagged[256];
};

extern const EscapeSet ValueNameEscapes;
extern const EscapeSet ValueDataEscapes;
extern const EscapeSet IniValueEscapes;

// True when anything was replaced or escaped; out is cleared first.
bool EncodeMachinePath(const wchar_t* text, size_t length, Str& out, const EscapeSet* escapes);
inline bool EncodeMachinePath(const Str& text, Str& out, const EscapeSet* escapes) {
    return EncodeMachinePath(text.c_str(), text.Length(), out, escapes);
}
// True when at least one folder or drive macro was replaced.
bool DecodeProjectPath(const wchar_t* text, size_t length, Str& out);
inline bool DecodeProjectPath(const Str& text, Str& out) {
    return DecodeProjectPath(text.c_str(), text.Length(), out);
}
void EncodeIniValue(const wchar_t* text, Str& out);
bool IsShortNameComponent(const wchar_t* component, size_t length);

}  // namespace scancap
