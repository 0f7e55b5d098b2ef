// Path helpers shared by the scanners, the snapshot file and the writers.
#pragma once

#include "support/str.h"

namespace scancap {

// Paths of 180 characters and more are rewritten with 8.3 directory names
// before a file-system call; shorter ones come back unchanged.
Str ShortenLongPath(const Str& path);
// The path to hand to a file-system call: shortened, and when that still
// leaves `limit` characters or more, the "\\?\" form of its full path.
Str SystemPath(const Str& path, size_t limit = MAX_PATH);
// The "\\?\" form of a full path ("\\?\UNC\" for a share), which lifts the
// MAX_PATH limit; a path already in that form comes back unchanged.
Str LongPathForm(const Str& fullPath);
// Makes one directory level (its path in the form handed to the system):
// 0 when made, else the Win32 error, ERROR_ALREADY_EXISTS or
// ERROR_PATH_NOT_FOUND among them.
using MakeDirectoryLevel = DWORD (*)(const wchar_t* path, void* context);
// Creates a directory with all missing levels; true when it exists afterwards
// as a directory. Each missing level is made by `make` (CreateDirectoryW when
// null), from the highest down.
bool CreateDirectoryTree(const Str& path, MakeDirectoryLevel make = nullptr, void* context = nullptr);
// Can `file` be written? Creates the parent directories; leaves an existing
// file as it was.
bool ProbeWritable(const Str& file);

}  // namespace scancap
