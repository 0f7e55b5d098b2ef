// One proposed entry point of a project overview, and the rules shared by
// every step that reads or orders the list of them.
#pragma once

#include "support/str.h"

#include <cstdint>
#include <vector>

namespace scancap {

struct EntryPoint {
    EntryPoint(bool forDebugOnly, bool preSelected) : forDebugOnly(forDebugOnly), preSelected(preSelected) {}

    Str source;            // the program, in folder-macro form
    Str arguments;         // empty if none
    Str comment;           // description text of a shortcut
    Str iconPath;          // folder-macro form; empty: the program's own first icon
    Str workingDirectory;  // folder-macro form; empty if none
    Str name;              // the section name; empty: the last component of `source`
    std::vector<Str> fileTypes;    // each with its leading "."
    std::vector<Str> protocols;
    std::vector<Str> objectTypes;
    std::vector<Str> shortcuts;    // folder-macro paths of the shortcut folders
    std::vector<Str> services;
    bool isProgram = true;  // a Windows program image that is not a DLL
    bool metaDataContainerOnly = false;
    int32_t iconIndex = 0;
    bool enabled = false;
    bool forDebugOnly;
    bool preSelected;
    bool isBrowser = false;
    int32_t mailClient = 0;  // 0 none, 1 the default mail client, 2 another
    Str templateName;        // a template the entry needs; empty if none
};

using EntryList = std::vector<EntryPoint>;

// The entry's name, or the text after the last "\" of its source; false when
// both give nothing (no name and no "\" in the source).
bool EffectiveName(const EntryPoint& entry, Str& out);

// Stable sort: entries that are not debug-only first, then enabled ones,
// then programs; equal entries keep their order of discovery.
void SortEntries(EntryList& entries);

// Appends `folder` to the entry's shortcuts unless an equal one (ignoring
// case) is there.
void AddShortcut(EntryPoint& entry, const Str& folder);

}  // namespace scancap
