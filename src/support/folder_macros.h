// Folder macros: the well-known folders of this machine and their macro
// names (%ProgramFilesDir%, %AppData%, ...), held in two ternary search trees
// that match the longest key case-insensitively.
#pragma once

#include "support/str.h"
#include "support/win.h"

#include <cstdint>
#include <vector>

namespace scancap {

class FolderMacroTable {
public:
    struct Node {
        uint16_t ch;     // upper-cased key character
        uint16_t lo;     // smaller characters (0: none)
        uint16_t hi;     // larger characters (0: none)
        uint16_t eq;     // next key character (0: none)
        uint16_t value;  // 1-based index into values (0: no key ends here)
    };
    struct Value {
        Str replacement;
        Str extra;
        bool hasExtra = false;
    };
    struct Match {
        size_t length = 0;  // characters of the key
        const Str* replacement = nullptr;
        const Str* extra = nullptr;  // null when the key has none
    };

    // Decides whether a key of `keyLength` characters at the start of the
    // text may be taken; `context` is the caller's.
    using AcceptKey = bool (*)(const void* context, size_t keyLength);

    void Insert(const wchar_t* key, const wchar_t* replacement, const wchar_t* extra);
    // The longest key that prefixes the text and that `accept` (when given)
    // takes; a refused key leaves the shorter ones below it in the running.
    bool LongestMatch(const wchar_t* text, size_t length, Match& out, AcceptKey accept = nullptr,
                      const void* context = nullptr) const;

    const std::vector<Node>& Nodes() const { return nodes_; }
    const std::vector<Value>& Values() const { return values_; }

private:
    std::vector<Node> nodes_;
    std::vector<Value> values_;
};

FolderMacroTable& EncodeTable();
FolderMacroTable& DecodeTable();

// Where the registry holds no value for a folder: the shell's path of a
// known folder into `out` (MAX_PATH characters); false when it has none.
using KnownFolderQuery = bool (*)(const GUID& folder, wchar_t* out);
bool ShellKnownFolder(const GUID& folder, wchar_t* out);

// Builds both tables from this machine's folders; later calls do nothing.
void InitFolderMacros(KnownFolderQuery knownFolders = ShellKnownFolder);

}  // namespace scancap
