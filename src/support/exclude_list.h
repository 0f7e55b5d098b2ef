// Exclusion lists: which locations the scanners leave out and which captured
// locations project generation treats specially. One object serves the
// process; every user calls through this interface.
#pragma once

#include "support/str.h"

#include <memory>

namespace scancap {

class ExcludeList {
public:
    virtual void LoadListFile(const wchar_t* path) = 0;
    virtual bool FindAndLoad(const wchar_t* name, Str& log) = 0;
    virtual bool IsRegistryKeyIgnored(const wchar_t* keyPath) = 0;
    virtual bool IsFileIgnored(const wchar_t* path) = 0;
    virtual bool IsForcedWriteCopy(const wchar_t* path) = 0;
    virtual void AddRegistryIgnore(const wchar_t* keyPath) = 0;
    virtual void AddFileIgnore(const wchar_t* path) = 0;
    virtual bool IsIE6To7UpgradeRegistryLocation(const wchar_t* keyPath) = 0;
    virtual bool IsIE6To7UpgradeFileLocation(const wchar_t* path) = 0;
    virtual bool IsIE10ExcludedFile(const wchar_t* path) = 0;
    virtual bool IsIE11UpgradeFileLocation(const wchar_t* path) = 0;
    virtual bool IsIE11ExcludedFile(const wchar_t* path) = 0;
    virtual ~ExcludeList() = default;

    // Single values left out of a capture: an entry of "RegistryIgnoreList"
    // written as key path, "\\" and value name. Asked by the scanner and by
    // the registry pass for every value, so the first question is per key and
    // cheap: whether the list names any value of that key at all. Added after
    // the operations above, which keep their places; a list that never names
    // values need not override them.
    virtual bool HasIgnoredValues(const wchar_t* keyPath) {
        (void)keyPath;
        return false;
    }
    virtual bool IsRegistryValueIgnored(const wchar_t* keyPath, const wchar_t* valueName, size_t nameLength) {
        (void)keyPath, (void)valueName, (void)nameLength;
        return false;
    }
};

// A new, empty MyExcludeList.
std::unique_ptr<ExcludeList> CreateExcludeList();

}  // namespace scancap
