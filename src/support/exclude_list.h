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
};

// A new, empty MyExcludeList.
std::unique_ptr<ExcludeList> CreateExcludeList();

}  // namespace scancap
