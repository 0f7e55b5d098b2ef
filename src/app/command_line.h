// The command line: mode keywords and their arguments, the usage text, the
// default scan bases, the banner and the exclusion-list configuration.
#pragma once

#include "app/options.h"
#include "support/str.h"

namespace scancap {

constexpr char kVersionText[] = "5.1.0-2079447";
constexpr char kBuildDateText[] = "Aug 27 2014";

// The usage text; "%ls" takes the message of the argument error.
extern const wchar_t kUsageFormat[];

// Fills `options` from the whole command line and loads the configuration.
// "-Version" anywhere prints the version and ends the process with 0; every
// argument error is fatal with the usage text around its message.
void ParseCommandLine(int argc, const wchar_t* const argv[], RunOptions& options);

// True when any argument after the program name is "-Version" (any case).
bool HasVersionArgument(int argc, const wchar_t* const argv[]);

// The keyword and argument rules alone (no output, no configuration), with
// the default bases supplied when the line names none. Fatal on an argument
// error, with the usage text around the message.
void ParseArguments(int argc, const wchar_t* const argv[], RunOptions& options);

// Creates the exclusion list and loads "Snapshot.ini" (or the -Config file)
// into it.
void LoadConfiguration(RunOptions& options);

// The current user's hive is captured under HKEY_CURRENT_USER: when a base
// names HKEY_USERS or the user's own keys there, those keys are ignored and
// HKEY_CURRENT_USER becomes a base.
void CaptureCurrentUserHive(RunOptions& options, const Str& userKey, const Str& classesKey);

// The current user's SID ("S-1-5-21-...") from the process token; empty when
// the token cannot be read. Computed once per process.
const Str& CurrentUserSidString();

}  // namespace scancap
