// Importing a project's registry text files into the local registry: the
// line parser and the importer that applies its lines.
//
// A file is UTF-16LE after a 2-byte byte-order mark, with lines such as
//   isolation_full HKEY_LOCAL_MACHINE\Software\App      (key line)
//     Value~#2325name                                  (value name)
//     REG_SZ~%ProgramFilesDir%\App#2300                 (string data)
//     REG_DWORD=#01#00#00#00                            (bytes)
// "~" marks text in the project encoding (folder macros and "#" escapes),
// "=" literal text; "#" and two hex digits stand for one code unit or byte.
#pragma once

#include "support/handles.h"
#include "support/str.h"

#include <vector>

namespace scancap {

struct RegistryRoot {
    const wchar_t* name;
    HKEY key;
};
// The root names a key line may begin with, in the order they are tried.
extern const RegistryRoot kRegistryRoots[5];

enum class RegistryLineKind {
    Ignored,       // empty, or a key line that names no root
    ValueName,     // `text` is the value name (empty: the default value)
    Key,           // `root` indexes kRegistryRoots; `text` is the subkey
    StringValue,   // `type`; `text` is the data, NULs included
    ByteValue,     // `type`, `bytes`, `byteErrors`
    Unrecognized,  // anything else, "deleted" lines among them
};

struct RegistryLine {
    RegistryLineKind kind = RegistryLineKind::Ignored;
    size_t root = 0;
    DWORD type = 0;
    Str text;
    std::vector<BYTE> bytes;
    size_t byteErrors = 0;  // characters that were not "#" and two hex digits
    Str unescaped;          // "~" text between its two decoding steps
};

// Parses one line (without its CR LF) of `length` code units; reads nothing
// beyond them. `out` keeps its buffers from line to line.
void ParseRegistryLine(const wchar_t* line, size_t length, RegistryLine& out);

// Applies registry text to the registry. The open key and the current value
// name carry over from one file to the next, as one continuous text.
class RegistryImporter {
public:
    // With `printLog` the successes are printed too, not only the failures.
    explicit RegistryImporter(bool printLog) : printLog_(printLog) {}

    // The text after the byte-order mark of `fileName` (named in messages).
    void ImportText(const Str& fileName, const BYTE* data, size_t size);
    // Maps the file and imports it; false when the file could not be read
    // or is empty, which ends an import of several files.
    bool ImportFile(const Str& fileName);

private:
    void ApplyLine();
    void OpenKey();
    void SetValue(DWORD type, const BYTE* data, DWORD size);

    bool printLog_;
    Str fileName_;
    int lineNumber_ = 0;
    RegKey key_;
    Str keyName_;
    Str valueName_;
    RegistryLine line_;
    Str lineText_;
};

// Imports "HKEY_CURRENT_USER.txt", "HKEY_LOCAL_MACHINE.txt" and
// "HKEY_USERS.txt" of `captureFolder`, in that order; a file that cannot be
// read or is empty ends the import.
void ImportRegistryFiles(const Str& captureFolder, bool printLog);

}  // namespace scancap
