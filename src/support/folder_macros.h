// Folder macros: the well-known folders of this machine and their macro
// names (%ProgramFilesDir%, %AppData%, ...), held in two ternary search trees
// that match the longest key case-insensitively.
#pragma once

#include "support/str.h"

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

    void Insert(const wchar_t* key, const wchar_t* replacement, const wchar_t* extra);
    bool LongestMatch(const wchar_t* text, size_t length, Match& out) const;

    const std::vector<Node>& Nodes() const { return nodes_; }
    const std::vector<Value>& Values() const { return values_; }

private:
    std::vector<Node> nodes_;
    std::vector<Value> values_;
};

FolderMacroTable& EncodeTable();
FolderMacroTable& DecodeTable();

// Builds both tables from this machine's folders; later calls do nothing.
void InitFolderMacros();

}  // namespace scancap
