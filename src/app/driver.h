// The program driver: start-up, the native-install branch, one mode per run
// and the fatal-error path. It owns the run's options and hands each
// subsystem what it needs.
#pragma once

#include "support/str.h"

namespace scancap {

// The whole program; returns the process exit code: 0, 1 after a fatal error
// (or an output directory that cannot be written), or this one after a
// -Diff that wrote its project but could not copy every file into it.
inline constexpr int kExitIncompleteProject = 2;
int RunScancap(int argc, wchar_t** argv);

// "CaptureFolder -installnative [-printlog]": argv[2] is "-installnative"
// (any case). `printLog` is set only when "-printlog" is the fourth and last
// argument.
bool IsNativeInstallLine(int argc, const wchar_t* const argv[], bool& printLog);

// The message shown when Package.ini in `outputDir` cannot be written.
Str PackageIniProbeMessage(const Str& outputDir, const Str& packageIni);

// Prints a fatal error (and waits for a key when a person is at the console);
// returns the exit code 1.
int ReportFatal(const Str& message, bool setupCapture);

}  // namespace scancap
