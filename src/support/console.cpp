#include "support/console.h"

#include <cstdio>
#include <cstring>

namespace scancap {
namespace {

bool g_terse = false;
bool g_quiet = false;

INIT_ONCE g_lockOnce = INIT_ONCE_STATIC_INIT;
CRITICAL_SECTION g_lock;

BOOL CALLBACK InitLockOnce(PINIT_ONCE, PVOID, PVOID*) {
    InitializeCriticalSection(&g_lock);
    return TRUE;
}

void EnsureLock() { InitOnceExecuteOnce(&g_lockOnce, InitLockOnce, nullptr, nullptr); }

// The scan path lives for the whole process (the progress thread may still
// read it while static objects are being destroyed), and keeps its grown
// buffer so that scanners replacing it do not allocate.
Str& ScanPath() {
    static Str* path = new Str();
    return *path;
}

// Chunk ends never split a surrogate pair.
size_t ChunkLength(const wchar_t* text, size_t remaining, size_t limit) {
    if (remaining <= limit) return remaining;
    size_t n = limit;
    if (text[n - 1] >= 0xD800 && text[n - 1] <= 0xDBFF) --n;
    return n;
}

void WriteAll(HANDLE h, const void* data, size_t bytes) {
    auto* p = static_cast<const char*>(data);
    while (bytes > 0) {
        DWORD chunk = bytes > 0x10000000 ? 0x10000000 : static_cast<DWORD>(bytes);
        DWORD written = 0;
        if (!WriteFile(h, p, chunk, &written, nullptr) || written == 0) return;
        p += written;
        bytes -= written;
    }
}

void WriteStream(DWORD which, FILE* crtStream, const wchar_t* text, size_t length) {
    LastErrorKeeper keep;
    // Anything the C runtime still buffers for this stream goes first.
    fflush(crtStream);
    HANDLE h = GetStdHandle(which);
    if (h == nullptr || h == INVALID_HANDLE_VALUE || length == 0) return;
    DWORD mode;
    if (GetConsoleMode(h, &mode)) {
        // The console takes UTF-16 directly; no code page stands in between.
        while (length > 0) {
            size_t n = ChunkLength(text, length, 8192);
            DWORD written = 0;
            if (!WriteConsoleW(h, text, static_cast<DWORD>(n), &written, nullptr) || written == 0)
                return;
            text += written;
            length -= written;
        }
        return;
    }
    if (g_terse) {
        WriteAll(h, text, length * sizeof(wchar_t));
        return;
    }
    char utf8[8192];
    while (length > 0) {
        // At most 3 bytes per unit (4 per surrogate pair).
        size_t n = ChunkLength(text, length, sizeof(utf8) / 3);
        int bytes = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), utf8,
                                        static_cast<int>(sizeof(utf8)), nullptr, nullptr);
        if (bytes <= 0) return;
        WriteAll(h, utf8, static_cast<size_t>(bytes));
        text += n;
        length -= n;
    }
}

// A line that fits is formatted on the stack: a listing prints one line per
// file and key, and paths longer than a pool slot would otherwise reach the
// heap for every line.
constexpr size_t kStackLineUnits = 4096;

void PrintWithPrefix(DWORD which, FILE* crtStream, const wchar_t* prefix, size_t prefixLength,
                     const wchar_t* format, va_list args) {
    LastErrorKeeper keep;
    va_list measure;
    va_copy(measure, args);
    const int n = _vscwprintf(format, measure);
    va_end(measure);
    if (n >= 0 && prefixLength + size_t(n) < kStackLineUnits) {
        wchar_t line[kStackLineUnits];
        std::memcpy(line, prefix, prefixLength * sizeof(wchar_t));
        int written = _vsnwprintf(line + prefixLength, size_t(n) + 1, format, args);
        WriteStream(which, crtStream, line, prefixLength + (written > 0 ? size_t(written) : 0));
        return;
    }
    Str text;
    text.Append(prefix, prefixLength);
    text.AppendFormatV(format, args);
    WriteStream(which, crtStream, text.c_str(), text.Length());
}

}  // namespace

void SetTerseOutput(bool terse) { g_terse = terse; }
bool TerseOutput() { return g_terse; }
void SetQuiet(bool quiet) { g_quiet = quiet; }
bool Quiet() { return g_quiet; }

void WriteOut(const wchar_t* text, size_t length) { WriteStream(STD_OUTPUT_HANDLE, stdout, text, length); }
void WriteErr(const wchar_t* text, size_t length) { WriteStream(STD_ERROR_HANDLE, stderr, text, length); }

void PrintPlain(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    if (g_terse)
        PrintWithPrefix(STD_OUTPUT_HANDLE, stdout, L"I ", 2, format, args);
    else
        PrintWithPrefix(STD_OUTPUT_HANDLE, stdout, L"", 0, format, args);
    va_end(args);
}

void PrintWarning(const wchar_t* format, ...) {
    if (g_quiet) return;
    va_list args;
    va_start(args, format);
    if (g_terse)
        PrintWithPrefix(STD_OUTPUT_HANDLE, stdout, L"W ", 2, format, args);
    else
        PrintWithPrefix(STD_OUTPUT_HANDLE, stdout, L"Warning: ", 9, format, args);
    va_end(args);
}

void PrintError(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    if (g_terse)
        PrintWithPrefix(STD_ERROR_HANDLE, stderr, L"\nE ", 3, format, args);
    else
        PrintWithPrefix(STD_ERROR_HANDLE, stderr, L"\nError: ", 8, format, args);
    va_end(args);
}

void InitConsoleLock() { EnsureLock(); }

void DeleteConsoleLock() {
    BOOL pending = FALSE;
    // Only a lock that was made is deleted; afterwards it can be made again.
    if (InitOnceBeginInitialize(&g_lockOnce, INIT_ONCE_CHECK_ONLY, &pending, nullptr) && !pending) {
        DeleteCriticalSection(&g_lock);
        InitOnceInitialize(&g_lockOnce);
    }
}

ConsoleLockGuard::ConsoleLockGuard() {
    EnsureLock();
    EnterCriticalSection(&g_lock);
}

ConsoleLockGuard::~ConsoleLockGuard() { LeaveCriticalSection(&g_lock); }

void SetCurrentScanPath(const wchar_t* path, size_t length) {
    ConsoleLockGuard guard;
    ScanPath().Assign(path, length);
}

Str CurrentScanPath() {
    ConsoleLockGuard guard;
    return ScanPath();
}

}  // namespace scancap
