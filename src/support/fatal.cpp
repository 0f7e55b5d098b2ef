#include "support/fatal.h"

#include "support/handles.h"

namespace scancap {

[[noreturn]] void Fatal(const wchar_t* format, ...) {
    Str message;
    va_list args;
    va_start(args, format);
    message.FormatV(format, args);
    va_end(args);
    throw Str(message);
}

[[noreturn]] void FatalResource(UINT id) {
    Str message;
    message.LoadResourceString(nullptr, id);
    throw Str(message);
}

[[noreturn]] void FatalResourceWithSystemError(UINT id) {
    DWORD error = GetLastError();
    Str message;
    message.LoadResourceString(nullptr, id);
    message.Append(L": ", 2);
    message.Append(SystemMessage(error));
    throw Str(message);
}

Str SystemMessage(DWORD error, bool keepLineBreak) {
    LastErrorKeeper keep;
    wchar_t* buffer = nullptr;
    DWORD n = FormatMessageW(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    LocalMem owner(buffer);
    if (n == 0 || buffer == nullptr) return Str();
    while (!keepLineBreak && n > 0 && (buffer[n - 1] == L'\n' || buffer[n - 1] == L'\r')) --n;
    return Str(buffer, n);
}

}  // namespace scancap
