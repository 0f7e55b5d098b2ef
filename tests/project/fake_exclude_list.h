// An exclusion list whose answers a test sets directly: entries match the
// path itself and everything below it, without regard to case.
#pragma once

#include "support/exclude_list.h"

#include <string>
#include <vector>

namespace scancap::testing {

class FakeExcludeList : public ExcludeList {
public:
    std::vector<std::wstring> ignoredKeys;
    std::vector<std::wstring> ignoredFiles;
    std::vector<std::wstring> forcedWriteCopy;
    std::vector<std::wstring> ie6To7Keys;
    std::vector<std::wstring> addedFileIgnores;  // what AddFileIgnore received, in order

    void LoadListFile(const wchar_t*) override {}
    bool FindAndLoad(const wchar_t*, Str&) override { return true; }
    bool IsRegistryKeyIgnored(const wchar_t* keyPath) override { return Matches(ignoredKeys, keyPath); }
    bool IsFileIgnored(const wchar_t* path) override { return Matches(ignoredFiles, path); }
    bool IsForcedWriteCopy(const wchar_t* path) override { return Matches(forcedWriteCopy, path); }
    void AddRegistryIgnore(const wchar_t* keyPath) override { ignoredKeys.push_back(keyPath); }
    void AddFileIgnore(const wchar_t* path) override { addedFileIgnores.push_back(path); }
    bool IsIE6To7UpgradeRegistryLocation(const wchar_t* keyPath) override { return Matches(ie6To7Keys, keyPath); }
    bool IsIE6To7UpgradeFileLocation(const wchar_t*) override { return false; }
    bool IsIE10ExcludedFile(const wchar_t*) override { return false; }
    bool IsIE11UpgradeFileLocation(const wchar_t*) override { return false; }
    bool IsIE11ExcludedFile(const wchar_t*) override { return false; }

private:
    static bool Matches(const std::vector<std::wstring>& entries, const wchar_t* path) {
        std::wstring p(path);
        for (const std::wstring& e : entries) {
            if (p.size() < e.size()) continue;
            if (_wcsnicmp(p.c_str(), e.c_str(), e.size()) != 0) continue;
            if (p.size() == e.size() || p[e.size()] == L'\\') return true;
        }
        return false;
    }
};

}  // namespace scancap::testing
