#include "support/name_encoding.h"

#include "support/folder_macros.h"
#include "support/win.h"

#include <shlwapi.h>

#include <cwchar>
#include <memory>

namespace scancap {

namespace {

constexpr EscapeSet MakeEscapes(bool escapeNonAscii, bool nul, bool controls, bool upper) {
    EscapeSet set{escapeNonAscii, {}};
    set.flagged[0] = nul;
    for (int c = 1; c < 32; ++c) set.flagged[c] = controls;
    set.flagged[L'#'] = true;
    set.flagged[L'%'] = true;
    for (int c = 127; c < 256; ++c) set.flagged[c] = upper;
    return set;
}

}  // namespace

constinit const EscapeSet ValueNameEscapes = MakeEscapes(true, false, true, true);
constinit const EscapeSet ValueDataEscapes = MakeEscapes(true, true, true, true);
constinit const EscapeSet IniValueEscapes = MakeEscapes(false, false, false, false);

namespace {

constexpr wchar_t kLowerHex[] = L"0123456789abcdef";
constexpr wchar_t kUpperHex[] = L"0123456789ABCDEF";

inline bool IsAsciiLetter(wchar_t c) { return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z'); }
inline bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }
inline bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// "drive_" in any ASCII case.
bool IsDrivePrefix(const wchar_t* text) {
    static constexpr wchar_t kDrive[] = L"drive_";
    for (int i = 0; i < 6; ++i) {
        wchar_t c = text[i];
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c + (L'a' - L'A'));
        if (c != kDrive[i]) return false;
    }
    return true;
}

inline int HexValue(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

// The value of `digits` hex digits at `text`, or -1.
long ReadHex(const wchar_t* text, int digits) {
    long value = 0;
    for (int i = 0; i < digits; ++i) {
        int d = HexValue(text[i]);
        if (d < 0) return -1;
        value = value * 16 + d;
    }
    return value;
}

void AppendEscape(Str& out, wchar_t c) {
    wchar_t buffer[6];
    if (c < 256) {
        buffer[0] = L'#';
        buffer[1] = kLowerHex[(c >> 4) & 0xF];
        buffer[2] = kLowerHex[c & 0xF];
        out.Append(buffer, 3);
    } else {
        buffer[0] = L'#';
        buffer[1] = L'#';
        buffer[2] = kLowerHex[(c >> 12) & 0xF];
        buffer[3] = kLowerHex[(c >> 8) & 0xF];
        buffer[4] = kLowerHex[(c >> 4) & 0xF];
        buffer[5] = kLowerHex[c & 0xF];
        out.Append(buffer, 6);
    }
}

void AppendHex4(Str& out, size_t value) {
    wchar_t buffer[4] = {kLowerHex[(value >> 12) & 0xF], kLowerHex[(value >> 8) & 0xF],
                         kLowerHex[(value >> 4) & 0xF], kLowerHex[value & 0xF]};
    out.Append(buffer, 4);
}

// Characters that may continue a path after a short folder name. Anything
// else (space, quote, comma, semicolon, non-ASCII) ends the path.
inline bool IsPathRunChar(wchar_t c) {
    return IsAsciiLetter(c) || IsDigit(c) || (c < 0x80 && c != 0 && wcschr(L"/\\~!@#$%^&()_-{}`.", c));
}

// Scratch text for one file-system call: on the stack for ordinary paths,
// on the heap only when a path is longer.
class PathBuffer {
public:
    static constexpr size_t kStackChars = 600;

    wchar_t* Reserve(size_t chars) {
        if (chars <= kStackChars) return stack_;
        if (chars > heapChars_) {
            heap_.reset(new wchar_t[chars]);
            heapChars_ = chars;
        }
        return heap_.get();
    }

private:
    wchar_t stack_[kStackChars];
    std::unique_ptr<wchar_t[]> heap_;
    size_t heapChars_ = 0;
};

// GetLongPathNameW or GetShortPathNameW into a PathBuffer; returns the text
// or null, and its length.
const wchar_t* QueryPathForm(DWORD(WINAPI* query)(LPCWSTR, LPWSTR, DWORD), const wchar_t* path, PathBuffer& buffer,
                             size_t& length) {
    wchar_t* out = buffer.Reserve(PathBuffer::kStackChars);
    DWORD n = query(path, out, PathBuffer::kStackChars);
    if (n >= PathBuffer::kStackChars) {
        DWORD size = n;
        out = buffer.Reserve(size);
        n = query(path, out, size);
        if (n >= size) n = 0;
    }
    length = n;
    return n ? out : nullptr;
}

// Number of the last component, counted from `from`, that is an 8.3 name
// (0 when none is). A NUL ends a registry string, and the count with it.
size_t LastShortComponent(const wchar_t* text, size_t length, size_t from) {
    size_t number = 0;
    size_t last = 0;
    size_t pos = from;
    if (from < length) {
        if (const wchar_t* nul = wmemchr(text + from, 0, length - from)) length = static_cast<size_t>(nul - text);
    }
    while (pos < length) {
        size_t end = pos;
        while (end < length && !IsSeparator(text[end])) ++end;
        ++number;
        if (IsShortNameComponent(text + pos, end - pos)) last = number;
        pos = end + 1;
    }
    return last;
}

// Writes a short-name reference for the short folder key of `keyLength`
// characters at `pos` and returns the position after what it consumed.
size_t AppendShortNameReference(const wchar_t* text, size_t length, size_t pos, size_t keyLength,
                                const Str& replacement, const Str* extra, Str& out) {
    const bool url = replacement.EndsWith(L'*');
    const size_t runStart = pos + keyLength;
    size_t runEnd = runStart;
    while (runEnd < length && IsPathRunChar(text[runEnd])) ++runEnd;

    const size_t folderLength = extra ? extra->Length() : 0;
    PathBuffer candidateBuffer;
    wchar_t* candidate = candidateBuffer.Reserve(folderLength + (runEnd - runStart) + 1);
    if (folderLength) wmemcpy(candidate, extra->c_str(), folderLength);
    wchar_t* write = candidate + folderLength;
    for (size_t i = runStart; i < runEnd; ++i) *write++ = (url && text[i] == L'/') ? L'\\' : text[i];
    *write = 0;

    const size_t shortComponents = LastShortComponent(text, length, runStart + 1);

    PathBuffer longBuffer;
    size_t longLength = 0;
    const wchar_t* longPath = QueryPathForm(GetLongPathNameW, candidate, longBuffer, longLength);
    if (!longPath) {
        out.Append(replacement);
        out.Append(L"0000", 4);
        return runStart;
    }

    const size_t tail = folderLength < longLength ? folderLength : longLength;
    size_t end = tail;
    for (size_t k = 0; k < shortComponents && end < longLength; ++k) {
        if (IsSeparator(longPath[end])) ++end;
        while (end < longLength && !IsSeparator(longPath[end])) ++end;
    }
    out.Append(replacement);
    AppendHex4(out, end - tail);
    out.Append(longPath + tail, longLength - tail);
    return runEnd;
}

// Where a folder or drive prefix may end: a folder stands for whole
// components only, so "C:\Program Files" must not take the start of
// "C:\Program Files (x86)". It ends at a path separator (or ends with one),
// at the end of the text, or at a quote or a NUL, which no name holds. In
// registry names and data (`data`) it also ends at a ";" of a list and at
// blanks that are followed by an argument (a switch, a quote) or nothing.
struct PrefixEnd {
    const wchar_t* text;  // where the prefix starts
    size_t length;        // characters from there to the end of the text
    bool data;
};

inline bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

bool EndsAtComponent(const void* context, size_t prefixLength) {
    const PrefixEnd& at = *static_cast<const PrefixEnd*>(context);
    if (prefixLength >= at.length || IsSeparator(at.text[prefixLength - 1])) return true;
    const wchar_t next = at.text[prefixLength];
    if (IsSeparator(next) || next == L'"' || next == 0) return true;
    if (!at.data) return false;
    if (next == L';') return true;
    size_t i = prefixLength;
    while (i < at.length && IsBlank(at.text[i])) ++i;
    if (i == prefixLength) return false;
    const wchar_t after = i < at.length ? at.text[i] : 0;
    return after == 0 || after == L'/' || after == L'-' || after == L'"';
}

enum class FolderDecode { Done, Malformed };

// Decodes the folder macro matched at `pos`; `next` receives the position
// after it.
FolderDecode DecodeFolderMacro(const wchar_t* text, size_t length, size_t pos, const FolderMacroTable::Match& match,
                               Str& out, size_t& next) {
    size_t keyLength = match.length;
    const wchar_t last = text[pos + keyLength - 1];
    const bool shortForm = last == L'~' || last == L'*';
    const Str& base = (shortForm && match.extra) ? *match.extra : *match.replacement;
    if (pos + keyLength < length && text[pos + keyLength] == L'\\' && base.EndsWith(L'\\')) ++keyLength;

    if (!shortForm) {
        out.Append(*match.replacement);
        next = pos + keyLength;
        return FolderDecode::Done;
    }

    size_t at = pos + keyLength;
    if (length - at < 4) return FolderDecode::Malformed;
    const long count = ReadHex(text + at, 4);
    if (count < 0) return FolderDecode::Malformed;
    at += 4;
    if (static_cast<size_t>(count) > length - at) return FolderDecode::Malformed;

    PathBuffer longBuffer;
    wchar_t* longPath = longBuffer.Reserve(base.Length() + count + 1);
    wmemcpy(longPath, base.c_str(), base.Length());
    wmemcpy(longPath + base.Length(), text + at, count);
    longPath[base.Length() + count] = 0;
    next = at + count;

    PathBuffer shortBuffer;
    size_t shortLength = 0;
    const wchar_t* shortPath = QueryPathForm(GetShortPathNameW, longPath, shortBuffer, shortLength);
    if (!shortPath) {
        out.Append(longPath, base.Length() + count);
    } else if (last == L'~') {
        out.Append(shortPath, shortLength);
    } else {
        wchar_t url[264];
        DWORD urlChars = 264;
        if (SUCCEEDED(UrlCreateFromPathW(shortPath, url, &urlChars, 0)))
            out.Append(url, urlChars);
        else
            out.Append(shortPath, shortLength);
    }
    return FolderDecode::Done;
}

}  // namespace

bool IsShortNameComponent(const wchar_t* component, size_t length) {
    if (length == 0) return true;
    if (component[0] == L'.' && (length == 1 || (length == 2 && component[1] == L'.'))) return true;
    size_t dot = length;
    for (size_t i = 0; i < length; ++i) {
        const wchar_t c = component[i];
        if (c == L'.') {
            if (dot != length) return false;
            dot = i;
        } else if (!IsAsciiLetter(c) && !IsDigit(c) && !(c < 0x80 && c != 0 && wcschr(L"!@#$%&()_~", c))) {
            return false;
        }
    }
    const size_t before = dot;
    const size_t after = dot == length ? 0 : length - dot - 1;
    return before <= 8 && after <= 3;
}

bool EncodeMachinePath(const wchar_t* text, size_t length, Str& out, const EscapeSet* escapes) {
    out.Clear();
    if (!text || length == 0) return false;
    const FolderMacroTable& table = EncodeTable();
    bool changed = false;
    size_t copied = 0;  // text[copied, i) is still to be copied as it stands
    size_t i = 0;
    while (i < length) {
        FolderMacroTable::Match match;
        const PrefixEnd end{text + i, length - i, escapes != nullptr};
        if (table.LongestMatch(text + i, length - i, match, EndsAtComponent, &end)) {
            size_t keyLength = match.length;
            // A folder key that ends in a separator leaves the separator in the text.
            if (keyLength > 1 && keyLength < length - i && text[i + keyLength - 1] == L'\\') --keyLength;
            out.Append(text + copied, i - copied);
            const Str& replacement = *match.replacement;
            if (replacement.EndsWith(L'~') || replacement.EndsWith(L'*')) {
                i = AppendShortNameReference(text, length, i, keyLength, replacement, match.extra, out);
            } else {
                out.Append(replacement);
                i += keyLength;
            }
            copied = i;
            changed = true;
            continue;
        }
        const wchar_t c = text[i];
        if (escapes && ((escapes->escapeNonAscii && c > 127) || (c < 256 && escapes->flagged[c]))) {
            out.Append(text + copied, i - copied);
            AppendEscape(out, c);
            copied = i + 1;
            changed = true;
        }
        ++i;
    }
    out.Append(text + copied, length - copied);
    if (changed) return true;

    size_t rest = 0;
    wchar_t drive = 0;
    if (length >= 2 && IsAsciiLetter(text[0]) && text[1] == L':') {
        drive = text[0];
        rest = 2;
    } else if (length >= 6 && text[0] == L'\\' && text[1] == L'?' && text[2] == L'?' && text[3] == L'\\' &&
               IsAsciiLetter(text[4]) && text[5] == L':') {
        drive = text[4];
        rest = 6;
    } else {
        return false;
    }
    // "C:" alone is a drive only where a component ends; "C:x" is relative
    // to that drive's current folder, which no macro can carry.
    const PrefixEnd end{text + rest - 2, length - rest + 2, escapes != nullptr};
    if (!EndsAtComponent(&end, 2)) return false;  // `out` holds the plain copy
    const wchar_t macro[9] = {L'%', L'd', L'r', L'i', L'v', L'e', L'_', drive, L'%'};
    out.Clear();
    out.Append(macro, 9);
    out.Append(text + rest, length - rest);
    return true;
}

bool DecodeProjectPath(const wchar_t* text, size_t length, Str& out) {
    out.Clear();
    if (!text) return false;
    const FolderMacroTable& table = DecodeTable();
    bool replaced = false;
    size_t copied = 0;
    size_t i = 0;
    while (i < length) {
        const wchar_t c = text[i];
        const size_t remaining = length - i;
        if (c == L'%') {
            if (remaining >= 9 && IsDrivePrefix(text + i + 1)) {
                out.Append(text + copied, i - copied);
                const wchar_t drive[2] = {text[i + 7], L':'};
                out.Append(drive, 2);
                i += 9;  // the closing "%" is taken on trust
                copied = i;
                replaced = true;
                continue;
            }
            FolderMacroTable::Match match;
            if (table.LongestMatch(text + i, remaining, match)) {
                out.Append(text + copied, i - copied);
                size_t next = i;
                if (DecodeFolderMacro(text, length, i, match, out, next) == FolderDecode::Malformed) {
                    // A short-name reference cut short (fewer than four hex
                    // digits, or a count beyond the text) cannot be resolved;
                    // the rest of the text, macro included, is kept as written.
                    out.Append(text + i, length - i);
                    return replaced;
                }
                i = next;
                copied = i;
                replaced = true;
                continue;
            }
        } else if (c == L'#' && remaining >= 3) {
            long code = -1;
            size_t width = 0;
            if (text[i + 1] == L'#' && remaining >= 6) {
                code = ReadHex(text + i + 2, 4);
                width = 6;
            } else {
                code = ReadHex(text + i + 1, 2);
                width = 3;
            }
            if (code >= 0) {
                out.Append(text + copied, i - copied);
                const wchar_t decoded = static_cast<wchar_t>(code);
                out.Append(&decoded, 1);
                i += width;
                copied = i;
                continue;
            }
        }
        ++i;
    }
    out.Append(text + copied, length - copied);
    return replaced;
}

void EncodeIniValue(const wchar_t* text, Str& out) {
    out.Clear();
    if (!text) return;
    const size_t length = wcslen(text);
    const FolderMacroTable& table = DecodeTable();
    size_t copied = 0;
    size_t i = 0;
    while (i < length) {
        const wchar_t c = text[i];
        if (c >= 128 || !IniValueEscapes.flagged[c]) {
            ++i;
            continue;
        }
        if (c == L'%') {
            size_t end = i;
            while (end < length && text[end] != L'\\') ++end;
            FolderMacroTable::Match match;
            if (text[end - 1] == L'%' && table.LongestMatch(text + i, end - i, match) && match.length == end - i) {
                i = end;
                continue;
            }
        }
        out.Append(text + copied, i - copied);
        const wchar_t escape[3] = {L'#', kUpperHex[(c >> 4) & 0xF], kUpperHex[c & 0xF]};
        out.Append(escape, 3);
        ++i;
        copied = i;
    }
    out.Append(text + copied, length - copied);
}

}  // namespace scancap
