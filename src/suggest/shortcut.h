// Shortcut files (".lnk") as entry points.
#pragma once

#include "suggest/entry_point.h"

namespace scancap {

// Fills `entry` from the shortcut file at `shortcutPath` (target, arguments,
// working directory, description, icon, name, folder); true on success.
bool ReadShortcut(const Str& shortcutPath, EntryPoint& entry);

}  // namespace scancap
