// Override tables of one generation run: files and keys forced into the
// project, package settings written under the fixed key, and the templates
// in use. They live in the run's state.
#pragma once

#include "project/project_run.h"
#include "support/str.h"

#include <cstdint>
#include <vector>

namespace scancap {

// Flag bits of includedFiles.
constexpr uint32_t kFileNotComServer = 1;  // a changed file that never counts as a COM server
constexpr uint32_t kFileWriteCopy = 2;     // the directory gets WriteCopy isolation

// Flag bits of includedKeys.
constexpr uint32_t kKeyWriteCopy = 2;      // isolation WriteCopy instead of Full
constexpr uint32_t kKeyDeleted = 4;        // written as a deleted key
constexpr uint32_t kKeySubkeys = 8;        // the forcing reaches every subkey
constexpr uint32_t kKeyLeftover = 16;      // written even when the post store lacks it

// Stores flags under the upper-cased path, replacing an earlier value. A path
// whose file name is MSVCRT.DLL is never stored.
void SetFileOverride(ProjectRun& run, const Str& path, uint32_t flags);
// Stores flags under the upper-cased key path, replacing an earlier value.
void SetKeyOverride(ProjectRun& run, const Str& keyPath, uint32_t flags);
// The registry-text form of a package setting ("REG_DWORD=#01#00#00#00");
// created empty when absent.
Str& PackageSetting(ProjectRun& run, const Str& name);
// Is name in names, compared without regard to case?
bool HasTemplateName(const std::vector<Str>& names, const Str& name);

}  // namespace scancap
