#include "suggest/shortcut.h"

namespace scancap {

// Reading shell links (and resolving advertised installer shortcuts) is not
// part of the program yet. Until it is, every shortcut reads as unreadable,
// so the discovery drops ".lnk" files the way it drops a broken shortcut and
// entry points come only from programs, scripts and control-panel files.
bool ReadShortcut(const Str& shortcutPath, EntryPoint& entry) {
    (void)shortcutPath;
    (void)entry;
    return false;
}

}  // namespace scancap
