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
// Creates a directory with all missing levels; true when it exists afterwards
// as a directory.
bool CreateDirectoryTree(const Str& path);
// Can `file` be written? Creates the parent directories; leaves an existing
// file as it was.
bool ProbeWritable(const Str& file);

}  // namespace scancap
