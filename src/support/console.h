// Console printers and the process-wide console lock.
//
// Text reaches a console through WriteConsoleW, so no character is lost to
// the console code page. Redirected to a file or pipe it is written as UTF-8
// (no byte-order mark), except in terse "setup capture" mode, where both
// streams carry raw UTF-16LE code units without newline translation.
// Line ends go out as the text has them in every mode ("\n" stays one LF).
// The driver sets the terse and quiet flags from the run options.
#pragma once

#include "support/str.h"

namespace scancap {

// Terse mode: "I ", "W", "E" prefixes and raw UTF-16LE output.
void SetTerseOutput(bool terse);
bool TerseOutput();
// Quiet: warnings are not printed.
void SetQuiet(bool quiet);
bool Quiet();

void PrintPlain(const wchar_t* format, ...);    // stdout
void PrintWarning(const wchar_t* format, ...);  // stdout, "Warning: " / "W "
void PrintError(const wchar_t* format, ...);    // stderr, "\nError: " / "\nE "

// Writes already formatted text to stdout or stderr in the stream's encoding.
void WriteOut(const wchar_t* text, size_t length);
void WriteErr(const wchar_t* text, size_t length);

// The console lock orders the progress thread's output against the scanners'
// updates of the current scan path.
void InitConsoleLock();
void DeleteConsoleLock();
class ConsoleLockGuard {
public:
    ConsoleLockGuard();
    ~ConsoleLockGuard();
    ConsoleLockGuard(const ConsoleLockGuard&) = delete;
    ConsoleLockGuard& operator=(const ConsoleLockGuard&) = delete;
};

// The path a scanner is working on, printed by the progress thread.
void SetCurrentScanPath(const wchar_t* path, size_t length = Str::npos);
Str CurrentScanPath();

}  // namespace scancap
