// Shortcut files (".lnk") as entry points: the shell link's target,
// arguments, working directory, description and icon, the target of an
// advertised shortcut as Windows Installer resolves it, and the folder
// names under which shortcuts are offered.
#pragma once

#include "suggest/entry_point.h"

#include <msi.h>

namespace scancap {

// Fills `entry` from the shortcut file at `shortcutPath` (target, arguments,
// working directory, description, icon, name, folder); true on success. A
// shortcut whose target is missing, a directory, or a 32-bit library with no
// other target from the Installer fails.
bool ReadShortcut(const Str& shortcutPath, EntryPoint& entry);

// The entry name of a shortcut file: its file name without the last
// extension, with ".exe" appended unless it already ends in ".exe"
// ("Viewer.lnk" gives "Viewer.exe", "Setup 2.0.lnk" gives "Setup 2.0.exe").
Str ShortcutEntryName(const Str& shortcutPath);

// The functions of msi.dll that resolve advertised shortcuts.
struct InstallerFunctions {
    decltype(&MsiGetShortcutTargetW) getShortcutTarget = nullptr;
    decltype(&MsiGetComponentPathW) getComponentPath = nullptr;
    decltype(&MsiQueryFeatureStateW) queryFeatureState = nullptr;
};

// msi.dll's functions, loaded at the first call; all null when the library
// or one of them is missing.
const InstallerFunctions& LoadedInstallerFunctions();

// Asks Windows Installer for the target of an advertised shortcut. True when
// the shortcut is advertised and the Installer's answer stands: `target` is
// the component's path when it is installed locally, else empty. False when
// the shortcut is not advertised, or when it names only a product and an
// installed feature: `target` then holds the path that the Installer's
// registration of the feature's first component gives (possibly empty), for
// the caller to weigh against the link's own target.
bool ResolveAdvertisedShortcut(const InstallerFunctions& msi, const Str& shortcutPath, Str& target);
inline bool ResolveAdvertisedShortcut(const Str& shortcutPath, Str& target) {
    return ResolveAdvertisedShortcut(LoadedInstallerFunctions(), shortcutPath, target);
}

// Does `text` begin with `prefix`, ASCII letters compared without case?
bool StartsWithAsciiNoCase(const Str& text, const wchar_t* prefix);

// The folder of a file (the path before its last "\") in folder-macro form,
// named after the current user: where a shortcut to it is offered.
Str ShortcutFolderOf(const Str& path);

// Rewrites a leading all-users folder macro ("%Common Desktop%", ...) into
// the current user's counterpart; true when it did.
bool ToPersonalFolderMacro(Str& path);

}  // namespace scancap
