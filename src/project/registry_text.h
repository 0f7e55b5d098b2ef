// Registry text files of a project: one UTF-16LE file per registry root of
// the post store (HKEY_LOCAL_MACHINE.txt, HKEY_CURRENT_USER.txt,
// HKEY_USERS.txt), holding the keys the key rules select.
#pragma once

#include "project/project_run.h"
#include "snapshot/store.h"
#include "support/str.h"

#include <vector>

namespace scancap {

// The registry pass: for each registry root of post in stored order, walks
// its keys against pre, appends the leftover overrides, the VirtualPath entry
// (HKEY_LOCAL_MACHINE, when newPathDirectories is not empty) and the package
// settings, and writes the run's output directory + "\<hive>.txt". Consumes
// the includedKeys entries the walk reaches. Fatal on an unknown hive or an
// uncreatable file. The caller prints "Saving registry...\n" before calling.
void WriteRegistryFiles(ProjectRun& run, const SnapshotStore& post, const SnapshotStore& pre,
                        const std::vector<Str>& newPathDirectories);

// Pieces of the text format, exposed for the readers' tests.
const wchar_t* IsolationName(uint32_t mode);
void AppendKeyEntry(Str& text, uint32_t isolationMode, const Str& fullPath, const Str& body);
void AppendDeletedKey(Str& text, const Str& fullPath);
// Appends the two lines of one value of `store` to body.
void AppendValueEntry(Str& body, const SnapshotStore& store, const RegValueRecord& value);

}  // namespace scancap
