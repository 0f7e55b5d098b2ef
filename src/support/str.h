// Str: the program's UTF-16 string. Always zero-terminated (two zero code
// units follow the text), short texts inline, path-sized texts on the stack
// from a small process-wide pool, the rest on the heap. Every operation keeps
// the caller's last-error value.
#pragma once

#include "support/win.h"

#include <cstdarg>
#include <cstddef>
#include <cstdint>

namespace scancap {

class Str {
public:
    static constexpr size_t npos = static_cast<size_t>(-1);
    static constexpr size_t kInlineCapacity = 64;
    static constexpr size_t kPoolCapacity = 390;

    enum class Storage : uint32_t { Inline = 1, Pool = 2, Heap = 3 };

    Str() noexcept;
    // len npos: up to the terminator. A null pointer with npos gives a null text.
    Str(const wchar_t* text, size_t len = npos);
    // Narrow text converted with the given code page (0: the ANSI code page).
    Str(const char* text, size_t len, UINT codePage = 0);
    Str(const Str& other);
    Str(Str&& other) noexcept;
    ~Str();

    Str& operator=(const Str& other);
    Str& operator=(Str&& other) noexcept;
    Str& operator=(const wchar_t* text) { return Assign(text); }

    Str& Assign(const wchar_t* text, size_t len = npos);
    Str& AssignNarrow(const char* text, size_t len);  // with this Str's code page
    Str& Append(const wchar_t* text, size_t len = npos);
    Str& Append(const Str& s) { return Append(s.c_str(), s.Length()); }
    Str& Append(wchar_t c, size_t count);
    Str& operator+=(const Str& s) { return Append(s); }
    Str& operator+=(const wchar_t* s) { return Append(s); }
    Str& operator+=(wchar_t c) { return Append(c, 1); }

    // printf-style with wide formats (%ls for wide strings, %hs for narrow).
    // Arguments may point into this Str's own text.
    Str& Format(const wchar_t* format, ...);
    Str& AppendFormat(const wchar_t* format, ...);
    Str& FormatV(const wchar_t* format, va_list args);
    Str& AppendFormatV(const wchar_t* format, va_list args);

    // Shorter texts first; equal lengths by code unit or, with ignoreCase, by
    // the system's case-insensitive comparison. Null sorts before anything.
    static int Compare(const Str& a, const Str& b, bool ignoreCase);
    bool EqualsNoCase(const Str& other) const { return Compare(*this, other, true) == 0; }
    bool operator==(const Str& o) const { return Compare(*this, o, false) == 0; }
    bool operator!=(const Str& o) const { return !(*this == o); }
    bool operator<(const Str& o) const { return Compare(*this, o, false) < 0; }  // map order

    // Case-sensitive searches; -1 when absent.
    ptrdiff_t Find(const wchar_t* sub, size_t from = 0) const;
    ptrdiff_t Find(wchar_t c, size_t from = 0) const;
    ptrdiff_t FindLast(wchar_t c) const;

    Str Left(size_t n) const;
    Str Right(size_t n) const;
    Str Mid(size_t from, size_t count = npos) const;

    void Trim(wchar_t c);
    void SetLength(size_t n);                  // truncates to min(n, capacity - 2)
    void Reserve(size_t n, bool discard = false);
    void MakeUpper();                          // system Unicode upper-casing
    void Clear() { SetLength(0); }

    void AppendSid(PSID sid);
    void AppendGuid(const GUID& guid, bool braces = true);

    // String-table entry `id` of `module` (null: this program). False and
    // empty when the entry is absent or empty.
    bool LoadResourceString(HMODULE module, UINT id);
    // GetPrivateProfileStringW with growing buffers; true when non-empty.
    bool ReadProfileString(const wchar_t* section, const wchar_t* key, const wchar_t* defaultValue,
                           const wchar_t* file);

    // Cached multibyte copy in this Str's code page; dropped by every change.
    const char* Narrow() const;
    size_t NarrowLength() const;
    void SetCodePage(UINT codePage) { codePage_ = codePage; DropNarrow(); }
    UINT CodePage() const noexcept { return codePage_; }

    const wchar_t* c_str() const noexcept { return text_; }
    wchar_t* Data() noexcept { DropNarrow(); return text_; }  // caller keeps the terminator
    size_t Length() const noexcept { return length_; }
    size_t Capacity() const noexcept { return capacity_; }
    Storage StorageKind() const noexcept { return storage_; }
    bool IsEmpty() const noexcept { return length_ == 0; }
    bool IsNull() const noexcept { return text_ == nullptr; }
    wchar_t operator[](size_t i) const noexcept { return text_[i]; }
    bool EndsWith(wchar_t c) const noexcept { return length_ > 0 && text_[length_ - 1] == c; }

    // Free pool slots (for tests that check nothing leaks a slot).
    static int FreePoolSlots();

private:
    void Grow(size_t needed, bool keepText);
    void TakeBuffer(size_t capacity, wchar_t*& text, Storage& storage) const;
    void ReleaseBuffer(wchar_t* text, Storage storage) noexcept;
    void DropNarrow() const noexcept;
    bool OnCurrentStack() const noexcept;

    wchar_t* text_;
    uint64_t length_;
    uint64_t capacity_;
    Storage storage_;
    UINT codePage_;
    mutable char* narrow_ = nullptr;
    mutable size_t narrowLength_ = 0;
    wchar_t inline_[kInlineCapacity + 2];
};

// Whether `length` units of `text` begin with `prefix`, comparing ASCII
// letters without regard to case and every other unit exactly.
bool StartsWithAsciiNoCase(const wchar_t* text, size_t length, const wchar_t* prefix);

// The GetLastError() of a failed call survives everything in between.
class LastErrorKeeper {
public:
    LastErrorKeeper() noexcept : error_(GetLastError()) {}
    ~LastErrorKeeper() { SetLastError(error_); }
    LastErrorKeeper(const LastErrorKeeper&) = delete;
    LastErrorKeeper& operator=(const LastErrorKeeper&) = delete;

private:
    DWORD error_;
};

}  // namespace scancap
