// Fatal errors: the message is formatted into a Str and thrown; the driver
// catches Str, prints it after "Error:" and exits with code 1.
#pragma once

#include "support/str.h"

namespace scancap {

[[noreturn]] void Fatal(const wchar_t* format, ...);
// String `id` of this program's own string table.
[[noreturn]] void FatalResource(UINT id);
// String `id`, ": " and the system's message for the calling thread's last error.
[[noreturn]] void FatalResourceWithSystemError(UINT id);

// The system's message text for an error code, without the trailing line
// break unless asked to keep it; empty when the system has no text.
Str SystemMessage(DWORD error, bool keepLineBreak = false);

}  // namespace scancap
