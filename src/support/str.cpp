#include "support/str.h"

#include "support/handles.h"

#include <sddl.h>

#include <cstdio>
#include <cstring>
#include <new>

extern "C" {
NTSYSAPI NTSTATUS NTAPI RtlUpcaseUnicodeString(PUNICODE_STRING Destination, PCUNICODE_STRING Source,
                                               BOOLEAN AllocateDestination);
}

namespace scancap {
namespace {

// UNICODE_STRING lengths are 16-bit byte counts, so the NT string routines
// take at most this many code units at a time.
constexpr size_t kMaxChunk = 32767;

constexpr size_t kPoolSlots = 21;
constexpr size_t kPoolSlotBytes = Str::kPoolCapacity * sizeof(wchar_t);  // 780
constexpr size_t kPoolBytes = kPoolSlots * kPoolSlotBytes;               // 16380
constexpr DWORD kAllSlotsFree = (1u << kPoolSlots) - 1;
constexpr uintptr_t kStackWindow = 1048576;

wchar_t* g_poolBase = nullptr;
DWORD g_poolFree = kAllSlotsFree;
volatile LONG g_poolLock = 0;

class PoolLock {
public:
    PoolLock() noexcept {
        while (InterlockedCompareExchange(&g_poolLock, 1, 0) != 0) Sleep(10);
    }
    ~PoolLock() { InterlockedExchange(&g_poolLock, 0); }
};

wchar_t* TakePoolSlot() noexcept {
    PoolLock lock;
    if (g_poolFree == 0) return nullptr;
    if (g_poolBase == nullptr) {
        g_poolBase = static_cast<wchar_t*>(
            VirtualAlloc(nullptr, kPoolBytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        if (g_poolBase == nullptr) return nullptr;
    }
    DWORD slot = static_cast<DWORD>(__builtin_ctz(g_poolFree));
    g_poolFree &= ~(1u << slot);
    return g_poolBase + slot * Str::kPoolCapacity;
}

void ReturnPoolSlot(wchar_t* text) noexcept {
    PoolLock lock;
    size_t slot = static_cast<size_t>(text - g_poolBase) / Str::kPoolCapacity;
    g_poolFree |= 1u << slot;
}

size_t RoundUp(size_t n, size_t step) { return (n + step - 1) / step * step; }

// Capacity steps: inline, then pool-slot multiples, then 2048 and 512 Ki
// units, so that a long run of appends reallocates rarely.
size_t CapacityFor(size_t needed) {
    if (needed <= Str::kInlineCapacity) return Str::kInlineCapacity;
    if (needed < 2048) return RoundUp(needed, Str::kPoolCapacity);
    if (needed < 0x80000) return RoundUp(needed, 2048);
    return RoundUp(needed, 0x80000);
}

size_t WideLength(const wchar_t* text, size_t len) {
    if (text == nullptr) return 0;
    return len == Str::npos ? wcslen(text) : len;
}

UINT ConversionCodePage(UINT codePage) { return codePage == 0 ? CP_ACP : codePage; }

void Terminate(wchar_t* text, size_t length) {
    text[length] = 0;
    text[length + 1] = 0;
}

}  // namespace

Str::Str() noexcept
    : text_(inline_), length_(0), capacity_(kInlineCapacity), storage_(Storage::Inline), codePage_(0) {
    Terminate(inline_, 0);
}

Str::Str(const wchar_t* text, size_t len) : Str() { Assign(text, len); }

Str::Str(const char* text, size_t len, UINT codePage) : Str() {
    codePage_ = codePage;
    AssignNarrow(text, len);
}

Str::Str(const Str& other) : Str() {
    codePage_ = other.codePage_;
    if (other.text_ == nullptr)
        Assign(nullptr, npos);
    else
        Assign(other.text_, other.length_);
}

Str::Str(Str&& other) noexcept : Str() {
    codePage_ = other.codePage_;
    *this = static_cast<Str&&>(other);
}

Str::~Str() {
    DropNarrow();
    ReleaseBuffer(text_, storage_);
}

Str& Str::operator=(const Str& other) {
    if (this == &other) return *this;
    if (other.text_ == nullptr) return Assign(nullptr, npos);
    return Assign(other.text_, other.length_);
}

Str& Str::operator=(Str&& other) noexcept {
    if (this == &other) return *this;
    // Heap buffers move freely; a pool slot follows the text only to another
    // object on this thread's stack, so long-lived objects never hold one.
    bool steal = other.storage_ == Storage::Heap ||
                 (other.storage_ == Storage::Pool && OnCurrentStack());
    if (!steal || other.text_ == nullptr) {
        *this = static_cast<const Str&>(other);
        return *this;
    }
    LastErrorKeeper keep;
    DropNarrow();
    ReleaseBuffer(text_, storage_);
    text_ = other.text_;
    length_ = other.length_;
    capacity_ = other.capacity_;
    storage_ = other.storage_;
    other.DropNarrow();
    other.text_ = other.inline_;
    other.length_ = 0;
    other.capacity_ = kInlineCapacity;
    other.storage_ = Storage::Inline;
    Terminate(other.inline_, 0);
    return *this;
}

bool Str::OnCurrentStack() const noexcept {
    // NT_TIB.StackBase of the current thread (x64: gs:[8]). Read directly:
    // mingw's NtCurrentTeb() trips -Warray-bounds.
    uintptr_t base;
    __asm__("movq %%gs:8, %0" : "=r"(base));
    uintptr_t self = reinterpret_cast<uintptr_t>(this);
    uintptr_t sp = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
    return self >= sp && self < base && self - sp <= kStackWindow;
}

void Str::TakeBuffer(size_t capacity, wchar_t*& text, Storage& storage) const {
    if (capacity == kInlineCapacity) {
        text = const_cast<wchar_t*>(inline_);
        storage = Storage::Inline;
        return;
    }
    LastErrorKeeper keep;
    if (capacity == kPoolCapacity && OnCurrentStack()) {
        text = TakePoolSlot();
        if (text != nullptr) {
            storage = Storage::Pool;
            return;
        }
    }
    text = static_cast<wchar_t*>(::operator new(capacity * sizeof(wchar_t)));
    storage = Storage::Heap;
}

void Str::ReleaseBuffer(wchar_t* text, Storage storage) noexcept {
    if (text == nullptr) return;
    if (storage == Storage::Pool) {
        LastErrorKeeper keep;
        ReturnPoolSlot(text);
    } else if (storage == Storage::Heap) {
        ::operator delete(text);
    }
}

void Str::DropNarrow() const noexcept {
    if (narrow_ != nullptr) {
        delete[] narrow_;
        narrow_ = nullptr;
        narrowLength_ = 0;
    }
}

// Makes room for `needed` units (terminator included). With keepText the
// current text is carried over to a new buffer; without it the caller
// rewrites the whole text.
void Str::Grow(size_t needed, bool keepText) {
    DropNarrow();
    if (text_ == nullptr) {
        // A null text gave up its buffer; start again from the inline one.
        text_ = inline_;
        length_ = 0;
        capacity_ = kInlineCapacity;
        storage_ = Storage::Inline;
        Terminate(inline_, 0);
    }
    size_t capacity = CapacityFor(needed);
    if (capacity <= capacity_) return;
    wchar_t* text;
    Storage storage;
    TakeBuffer(capacity, text, storage);
    if (keepText) {
        memcpy(text, text_, length_ * sizeof(wchar_t));
    } else {
        length_ = 0;
    }
    Terminate(text, length_);
    wchar_t* old = text_;
    Storage oldStorage = storage_;
    text_ = text;
    capacity_ = capacity;
    storage_ = storage;
    ReleaseBuffer(old, oldStorage);
}

Str& Str::Assign(const wchar_t* text, size_t len) {
    LastErrorKeeper keep;
    if (text == nullptr && len == npos) {
        DropNarrow();
        ReleaseBuffer(text_, storage_);
        text_ = nullptr;
        length_ = 0;
        capacity_ = kInlineCapacity;
        storage_ = Storage::Inline;
        Terminate(inline_, 0);
        return *this;
    }
    size_t n = WideLength(text, len);
    size_t capacity = CapacityFor(n + 2);
    if (text_ != nullptr && capacity <= capacity_) {
        DropNarrow();
        // The source may lie inside our own text.
        if (n) memmove(text_, text, n * sizeof(wchar_t));
        length_ = n;
        Terminate(text_, n);
        return *this;
    }
    if (text_ == nullptr) Grow(n + 2, false);
    if (capacity <= capacity_) {
        if (n) memmove(text_, text, n * sizeof(wchar_t));
        length_ = n;
        Terminate(text_, n);
        return *this;
    }
    wchar_t* buffer;
    Storage storage;
    TakeBuffer(capacity, buffer, storage);
    if (n) memcpy(buffer, text, n * sizeof(wchar_t));
    Terminate(buffer, n);
    DropNarrow();
    ReleaseBuffer(text_, storage_);
    text_ = buffer;
    length_ = n;
    capacity_ = capacity;
    storage_ = storage;
    return *this;
}

Str& Str::AssignNarrow(const char* text, size_t len) {
    LastErrorKeeper keep;
    if (text == nullptr && len == npos) return Assign(nullptr, npos);
    size_t bytes = text == nullptr ? 0 : (len == npos ? strlen(text) : len);
    int n = 0;
    UINT cp = ConversionCodePage(codePage_);
    if (bytes) n = MultiByteToWideChar(cp, 0, text, static_cast<int>(bytes), nullptr, 0);
    if (n < 0) n = 0;
    // The whole text is replaced and the source may alias it: always convert
    // into a fresh buffer and let the old one go afterwards.
    size_t capacity = CapacityFor(static_cast<size_t>(n) + 2);
    wchar_t local[kInlineCapacity + 2];
    wchar_t* buffer;
    Storage storage;
    if (capacity == kInlineCapacity) {
        buffer = local;
        storage = Storage::Inline;
    } else {
        TakeBuffer(capacity, buffer, storage);
    }
    if (n) n = MultiByteToWideChar(cp, 0, text, static_cast<int>(bytes), buffer, n);
    if (n < 0) n = 0;
    Terminate(buffer, static_cast<size_t>(n));
    DropNarrow();
    ReleaseBuffer(text_, storage_);
    if (storage == Storage::Inline) {
        memcpy(inline_, local, (static_cast<size_t>(n) + 2) * sizeof(wchar_t));
        buffer = inline_;
    }
    text_ = buffer;
    length_ = static_cast<size_t>(n);
    capacity_ = capacity;
    storage_ = storage;
    return *this;
}

Str& Str::Append(const wchar_t* text, size_t len) {
    LastErrorKeeper keep;
    size_t n = WideLength(text, len);
    // Growing keeps the old buffer alive until the copy below, so `text` may
    // point into our own text.
    size_t needed = length_ + n + 2;
    size_t capacity = CapacityFor(needed);
    if (text_ == nullptr || capacity > capacity_) {
        if (text_ == nullptr) Grow(needed, true);
        if (capacity > capacity_) {
            wchar_t* buffer;
            Storage storage;
            TakeBuffer(capacity, buffer, storage);
            memcpy(buffer, text_, length_ * sizeof(wchar_t));
            if (n) memcpy(buffer + length_, text, n * sizeof(wchar_t));
            Terminate(buffer, length_ + n);
            DropNarrow();
            ReleaseBuffer(text_, storage_);
            text_ = buffer;
            length_ += n;
            capacity_ = capacity;
            storage_ = storage;
            return *this;
        }
    }
    DropNarrow();
    if (n) memmove(text_ + length_, text, n * sizeof(wchar_t));
    length_ += n;
    Terminate(text_, length_);
    return *this;
}

Str& Str::Append(wchar_t c, size_t count) {
    LastErrorKeeper keep;
    Grow(length_ + count + 2, true);
    for (size_t i = 0; i < count; ++i) text_[length_ + i] = c;
    length_ += count;
    Terminate(text_, length_);
    return *this;
}

Str& Str::Format(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    FormatV(format, args);
    va_end(args);
    return *this;
}

// The length of a formatted result, leaving `args` unused for the real run.
static int FormattedLength(const wchar_t* format, va_list args) {
    va_list measure;
    va_copy(measure, args);
    int n = _vscwprintf(format, measure);
    va_end(measure);
    return n;
}

Str& Str::AppendFormat(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    AppendFormatV(format, args);
    va_end(args);
    return *this;
}

Str& Str::FormatV(const wchar_t* format, va_list args) {
    LastErrorKeeper keep;
    int n = FormattedLength(format, args);
    if (n < 0) return *this;
    size_t capacity = CapacityFor(static_cast<size_t>(n) + 2);
    // Arguments may point into the current text, so the result is always
    // built in a buffer other than the current one.
    wchar_t local[kInlineCapacity + 2];
    wchar_t* buffer;
    Storage storage;
    if (capacity == kInlineCapacity) {
        buffer = local;
        storage = Storage::Inline;
    } else {
        TakeBuffer(capacity, buffer, storage);
    }
    int written = _vsnwprintf(buffer, static_cast<size_t>(n) + 1, format, args);
    if (written < 0) {
        if (storage != Storage::Inline) ReleaseBuffer(buffer, storage);
        return *this;
    }
    Terminate(buffer, static_cast<size_t>(written));
    DropNarrow();
    wchar_t* old = text_;
    Storage oldStorage = storage_;
    if (storage == Storage::Inline) {
        memcpy(inline_, local, (static_cast<size_t>(written) + 2) * sizeof(wchar_t));
        buffer = inline_;
        if (oldStorage == Storage::Inline) old = nullptr;
    }
    text_ = buffer;
    length_ = static_cast<size_t>(written);
    capacity_ = capacity;
    storage_ = storage;
    ReleaseBuffer(old, oldStorage);
    return *this;
}

Str& Str::AppendFormatV(const wchar_t* format, va_list args) {
    LastErrorKeeper keep;
    int n = FormattedLength(format, args);
    if (n < 0) return *this;
    if (text_ == nullptr) Grow(2, true);
    size_t total = length_ + static_cast<size_t>(n);
    size_t capacity = CapacityFor(total + 2);
    // Formatting in place would overwrite our own terminator while an
    // argument may still be reading our text, so the result goes into a
    // scratch buffer first (small) or into a new buffer (large).
    constexpr size_t kScratch = 512;
    if (static_cast<size_t>(n) < kScratch) {
        wchar_t scratch[kScratch];
        int written = _vsnwprintf(scratch, static_cast<size_t>(n) + 1, format, args);
        if (written < 0) return *this;
        return Append(scratch, static_cast<size_t>(written));
    }
    wchar_t* buffer;
    Storage storage;
    TakeBuffer(capacity < capacity_ ? static_cast<size_t>(capacity_) : capacity, buffer, storage);
    if (capacity < capacity_) capacity = capacity_;
    memcpy(buffer, text_, length_ * sizeof(wchar_t));
    int written = _vsnwprintf(buffer + length_, static_cast<size_t>(n) + 1, format, args);
    if (written < 0) {
        ReleaseBuffer(buffer, storage);
        return *this;
    }
    Terminate(buffer, length_ + static_cast<size_t>(written));
    DropNarrow();
    ReleaseBuffer(text_, storage_);
    text_ = buffer;
    length_ += static_cast<size_t>(written);
    capacity_ = capacity;
    storage_ = storage;
    return *this;
}

int Str::Compare(const Str& a, const Str& b, bool ignoreCase) {
    if (a.text_ == nullptr) return b.text_ == nullptr ? 0 : -1;
    if (b.text_ == nullptr) return 1;
    if (a.length_ != b.length_) return a.length_ < b.length_ ? -1 : 1;
    if (!ignoreCase) {
        for (size_t i = 0; i < a.length_; ++i) {
            if (a.text_[i] != b.text_[i]) return a.text_[i] < b.text_[i] ? -1 : 1;
        }
        return 0;
    }
    LastErrorKeeper keep;
    for (size_t at = 0; at < a.length_; at += kMaxChunk) {
        size_t n = a.length_ - at < kMaxChunk ? a.length_ - at : kMaxChunk;
        int r = CompareStringOrdinal(a.text_ + at, static_cast<int>(n), b.text_ + at,
                                     static_cast<int>(n), TRUE);
        if (r == CSTR_LESS_THAN) return -1;
        if (r == CSTR_GREATER_THAN) return 1;
    }
    return 0;
}

ptrdiff_t Str::Find(const wchar_t* sub, size_t from) const {
    size_t n = WideLength(sub, npos);
    if (from > length_ || n > length_ - from) return -1;
    for (size_t i = from; i + n <= length_; ++i) {
        if (memcmp(text_ + i, sub, n * sizeof(wchar_t)) == 0) return static_cast<ptrdiff_t>(i);
    }
    return -1;
}

ptrdiff_t Str::Find(wchar_t c, size_t from) const {
    for (size_t i = from; i < length_; ++i) {
        if (text_[i] == c) return static_cast<ptrdiff_t>(i);
    }
    return -1;
}

ptrdiff_t Str::FindLast(wchar_t c) const {
    for (size_t i = length_; i > 0; --i) {
        if (text_[i - 1] == c) return static_cast<ptrdiff_t>(i - 1);
    }
    return -1;
}

Str Str::Left(size_t n) const {
    if (n > length_) n = length_;
    return Str(text_ ? text_ : inline_, n);
}

Str Str::Right(size_t n) const {
    if (n > length_) n = length_;
    return Str(text_ ? text_ + (length_ - n) : inline_, n);
}

Str Str::Mid(size_t from, size_t count) const {
    if (from > length_) from = length_;
    if (count > length_ - from) count = length_ - from;
    return Str(text_ ? text_ + from : inline_, count);
}

void Str::Trim(wchar_t c) {
    if (text_ == nullptr) return;
    DropNarrow();
    size_t end = length_;
    while (end > 0 && text_[end - 1] == c) --end;
    size_t start = 0;
    while (start < end && text_[start] == c) ++start;
    if (start) memmove(text_, text_ + start, (end - start) * sizeof(wchar_t));
    length_ = end - start;
    Terminate(text_, length_);
}

void Str::SetLength(size_t n) {
    LastErrorKeeper keep;
    if (text_ == nullptr) Grow(2, true);
    DropNarrow();
    if (n > capacity_ - 2) n = capacity_ - 2;
    length_ = n;
    Terminate(text_, n);
}

void Str::Reserve(size_t n, bool discard) {
    LastErrorKeeper keep;
    if (discard) {
        if (text_ != nullptr) {
            length_ = 0;
            Terminate(text_, 0);
        }
        Grow(n + 2, false);
    } else {
        Grow(n + 2, true);
    }
}

void Str::MakeUpper() {
    if (text_ == nullptr || length_ == 0) return;
    LastErrorKeeper keep;
    DropNarrow();
    for (size_t at = 0; at < length_; at += kMaxChunk) {
        size_t n = length_ - at < kMaxChunk ? length_ - at : kMaxChunk;
        UNICODE_STRING s;
        s.Buffer = text_ + at;
        s.Length = static_cast<USHORT>(n * sizeof(wchar_t));
        s.MaximumLength = s.Length;
        RtlUpcaseUnicodeString(&s, &s, FALSE);
    }
}

void Str::AppendSid(PSID sid) {
    LastErrorKeeper keep;
    wchar_t* text = nullptr;
    if (sid != nullptr && ConvertSidToStringSidW(sid, &text) && text != nullptr) {
        LocalMem owner(text);
        Append(text);
    }
}

void Str::AppendGuid(const GUID& guid, bool braces) {
    if (braces) Append(L"{", 1);
    AppendFormat(L"%08lX-%04hX-%04hX-%02X%02X-%02X%02X%02X%02X%02X%02X",
                 static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0],
                 guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                 guid.Data4[6], guid.Data4[7]);
    if (braces) Append(L"}", 1);
}

bool Str::LoadResourceString(HMODULE module, UINT id) {
    LastErrorKeeper keep;
    Assign(L"", 0);
    if (module == nullptr) module = GetModuleHandleW(nullptr);
    HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(id / 16 + 1), RT_STRING);
    if (info == nullptr) return false;
    HGLOBAL loaded = LoadResource(module, info);
    DWORD bytes = SizeofResource(module, info);
    if (loaded == nullptr) return false;
    auto* p = static_cast<const WCHAR*>(LockResource(loaded));
    if (p == nullptr) return false;
    const WCHAR* end = p + bytes / sizeof(WCHAR);
    for (UINT skip = id % 16; skip > 0; --skip) {
        if (p >= end) return false;
        p += 1 + static_cast<size_t>(*p);
    }
    if (p >= end) return false;
    size_t n = *p++;
    if (n == 0) return false;
    if (n > static_cast<size_t>(end - p)) n = static_cast<size_t>(end - p);
    Assign(p, n);
    return n > 0;
}

bool Str::ReadProfileString(const wchar_t* section, const wchar_t* key, const wchar_t* defaultValue,
                            const wchar_t* file) {
    LastErrorKeeper keep;
    if (text_ == nullptr) Grow(2, false);
    // Asking without a section or key returns a list of names, which the
    // reader truncates one unit earlier.
    DWORD slack = (section == nullptr || key == nullptr) ? 2 : 1;
    for (;;) {
        DropNarrow();
        DWORD size = static_cast<DWORD>(capacity_ - 2);
        DWORD n = GetPrivateProfileStringW(section, key, defaultValue, text_, size, file);
        if (n + slack < size) {
            length_ = n;
            Terminate(text_, n);
            return n > 0;
        }
        length_ = 0;
        Terminate(text_, 0);
        Reserve(static_cast<size_t>(size) * 2, true);
    }
}

const char* Str::Narrow() const {
    if (text_ == nullptr) return nullptr;
    if (narrow_ != nullptr) return narrow_;
    LastErrorKeeper keep;
    UINT cp = ConversionCodePage(codePage_);
    int n = 0;
    if (length_) n = WideCharToMultiByte(cp, 0, text_, static_cast<int>(length_), nullptr, 0, nullptr, nullptr);
    if (n < 0) n = 0;
    char* buffer = new char[static_cast<size_t>(n) + 2];
    if (n) n = WideCharToMultiByte(cp, 0, text_, static_cast<int>(length_), buffer, n, nullptr, nullptr);
    if (n < 0) n = 0;
    buffer[n] = 0;
    buffer[n + 1] = 0;
    narrow_ = buffer;
    narrowLength_ = static_cast<size_t>(n);
    return narrow_;
}

size_t Str::NarrowLength() const {
    Narrow();
    return narrowLength_;
}

int Str::FreePoolSlots() {
    PoolLock lock;
    return __builtin_popcount(g_poolFree);
}

bool StartsWithAsciiNoCase(const wchar_t* text, size_t length, const wchar_t* prefix) {
    const auto upper = [](wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - 32) : c; };
    for (size_t i = 0; prefix[i] != 0; ++i) {
        if (i >= length || upper(text[i]) != upper(prefix[i])) return false;
    }
    return true;
}

}  // namespace scancap
