// The project file tree: copies of created and changed files under folder
// macro directories, each directory with its ##Attributes.ini.
#pragma once

#include "project/project_run.h"
#include "snapshot/store.h"
#include "support/str.h"

namespace scancap {

// The file pass: every directory root of `post`, child by child, compared
// with `pre`. Created and changed entries are written under the run's output
// directory, or printed when the run only prints. Consumes the includedFiles
// entries it reaches.
void RunFilePass(ProjectRun& run, const SnapshotStore& post, const SnapshotStore& pre);

// outputDir, a "\" unless it already ends with one, then the machine path in
// its folder-macro / drive-macro form (the path itself when no macro
// applies). `out` is overwritten; `scratch` is reused between calls.
void ProjectPath(const Str& outputDir, const Str& machinePath, Str& out, Str& scratch);

// Copies the times and the attribute word (hidden cleared) of `source` onto
// `destination`. Directories are opened with backup semantics. False when
// either side cannot be opened, read or updated.
bool CopyBasicInformation(const Str& source, const Str& destination, bool isDirectory);

// Isolation mode names of attribute files.
inline constexpr const wchar_t* kModeFull = L"Full";
inline constexpr const wchar_t* kModeWriteCopy = L"WriteCopy";
inline constexpr const wchar_t* kModeMerged = L"Merged";

// The 8-bit bytes of an ##Attributes.ini with the given mode.
size_t FormatAttributesText(const wchar_t* mode, char* buffer, size_t capacity);

// DiffPrint mode lines.
void PrintFileLine(bool modified, const Str& machinePath);
void PrintDirectoryLine(const Str& machinePath);

// Gives the well-known top-level macro folders of a project their attribute
// files; called after Package.ini is written.
void WriteTopLevelFolderAttributes(const Str& outputDir);

}  // namespace scancap
